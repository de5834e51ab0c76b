#pragma once

#include <string_view>

#include "text/Text.h"

namespace qubrelo {

// One GET of url over HTTP/1.0 ("User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT
// 5.0)", "Accept: */*"), direct connection, nothing cached, TLS verified for https. Returns every
// body byte that arrived, whatever the status and also when the transfer broke off; empty when
// nothing arrives. Blocks the calling thread and handles no window events; the thread's stop
// flag ends it early. Holds the whole body in memory: for large files use HttpDownload.h.
ByteBuffer HttpReadWhole(std::string_view url);

}  // namespace qubrelo
