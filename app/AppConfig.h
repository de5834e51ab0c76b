#pragma once

#include "text/Text.h"

namespace qubrelo {

// The values built into the tool, as one value so tests can point the window at a local server.
// Hosts are a host name or address with an optional ":port"; every value is code-page-936 text.
struct AppConfig {
    Text siteDomain;     // counted in pasted links
    Text apiHost;        // the sound-information service
    Text staticHost;     // the audio files
    Text updateHost;     // the update notice
    Text contactNumber;  // shown in the about box
};

// The values set at configure time (QUBRELO_SITE_DOMAIN and the others).
AppConfig BuiltInConfig();

}  // namespace qubrelo
