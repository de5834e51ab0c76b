#include "platform/http/HttpReadWhole.h"

#include <algorithm>

#include "platform/http/HttpDownload.h"

namespace qubrelo {

ByteBuffer HttpReadWhole(std::string_view url) {
    // A length announced by the server only sizes the first allocation, within reason.
    static constexpr std::uint64_t kMaxReserve = 256u * 1024 * 1024;
    ByteBuffer body;
    http::DownloadOptions options;
    options.onBodyStart = [&body](int, std::optional<std::uint64_t> length) {
        if (length) body.reserve(static_cast<std::size_t>(std::min(*length, kMaxReserve)));
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
