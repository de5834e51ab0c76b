#pragma once

#include "app/AppConfig.h"

namespace qubrelo {

// Every host points at a loopback port nothing listens on, so a test reaches no server unless it
// sets one of its own.
inline AppConfig OfflineTestConfig() {
    return AppConfig{.siteDomain = "site.example",
                     .apiHost = "127.0.0.1:9",
                     .staticHost = "127.0.0.1:9",
                     .updateHost = "127.0.0.1:9",
                     .contactNumber = "10000"};
}

}  // namespace qubrelo
