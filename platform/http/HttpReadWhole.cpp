#include "platform/http/HttpReadWhole.h"

#include <algorithm>

#include "platform/http/HttpDownload.h"
#include "platform/http/LargeBuffer.h"

namespace qubrelo {

ByteBuffer HttpReadWhole(std::string_view url) {
    ByteBuffer body;
    http::DownloadOptions options;
    options.onBodyStart = [&body](int, std::optional<std::uint64_t> length) {
        if (length) http::ReserveForBody(body, *length);
    };
    http::HttpDownload(
        url,
        [&body](std::span<const std::uint8_t> chunk) {
            body.insert(body.end(), chunk.begin(), chunk.end());
            return true;
        },
        {}, options);
    return body;
}

}  // namespace qubrelo
