#include "platform/http/HttpGlobal.h"

#include <curl/curl.h>

namespace qubrelo::http {

HttpGlobalInit::HttpGlobalInit() : ok_(curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK) {}

HttpGlobalInit::~HttpGlobalInit() {
    if (ok_) curl_global_cleanup();
}

}  // namespace qubrelo::http
