#include "platform/http/HttpReadWhole.h"

#include <algorithm>

#include "platform/http/HttpDownload.h"
#include "platform/http/LargeBuffer.h"

namespace qubrelo {

ByteBuffer HttpReadWhole(std::string_view url) {
    ByteBuffer body;
    http::DownloadOptions options;
    options.onBodyStart = [&body](int status, std::optional<std::uint64_t> length) {
        if (length && http::ResponseHasBody(status, "GET")) http::ReserveForBody(body, *length);
    };
    http::HttpDownload(
        url,
        // Refusing the chunk ends the transfer with what arrived so far; an exception must
        // not cross the transfer library.
        [&body](std::span<const std::uint8_t> chunk) {
            return http::AppendToBody(body, chunk.data(), chunk.size());
        },
        {}, options);
    return body;
}

}  // namespace qubrelo
