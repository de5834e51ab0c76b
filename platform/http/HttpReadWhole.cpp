#include "platform/http/HttpReadWhole.h"

#include <algorithm>

#include "platform/http/HttpDownload.h"
#include "platform/http/LargeBuffer.h"

namespace qubrelo {

ByteBuffer HttpReadWhole(std::string_view url) {
    ByteBuffer body;
    std::uint64_t announced = 0;
    http::DownloadOptions options;
    options.onBodyStart = [&](int status, std::optional<std::uint64_t> length) {
        if (length && http::ResponseHasBody(status, "GET")) {
            announced = *length;
            http::ReserveForBody(body, announced);
        }
    };
    http::HttpDownload(
        url,
        // Refusing the chunk ends the transfer with what arrived so far; an exception must
        // not cross the transfer library.
        [&](std::span<const std::uint8_t> chunk) {
            return http::AppendToBody(body, chunk.data(), chunk.size(), announced);
        },
        {}, options);
    return body;
}

}  // namespace qubrelo
