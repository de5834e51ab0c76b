#include "platform/http/LargeBuffer.h"

#include <algorithm>
#include <new>
#include <utility>

namespace qubrelo::http {

namespace {

// Set only by ScopedBodyLimit, for tests of a refused allocation.
thread_local std::optional<std::size_t> bodyLimit;

// Huge-page advice was tried here: it made filling a 200 MB buffer twice as fast on most runs
// but ten times slower on some (the kernel compacting memory), so it is not used.
template <typename Buffer>
void Reserve(Buffer& buffer, std::uint64_t announcedSize) noexcept {
    const std::uint64_t wanted = std::min(announcedSize, kMaxBodyReserve);
    if (wanted <= buffer.capacity()) return;
    try {
        buffer.reserve(static_cast<std::size_t>(wanted));
    } catch (const std::exception&) {
        // Only a head start: without it the body grows as it arrives.
    }
}

bool Allowed(std::size_t size) { return !bodyLimit || size <= *bodyLimit; }

}  // namespace

void ReserveForBody(ByteBuffer& buffer, std::uint64_t announcedSize) noexcept {
    Reserve(buffer, announcedSize);
}

void ReserveForBody(Text& text, std::uint64_t announcedSize) noexcept {
    Reserve(text, announcedSize);
}

bool ResponseHasBody(int status, std::string_view verb) noexcept {
    return verb != "HEAD" && status >= 200 && status != 204 && status != 304;
}

bool GrowBody(ByteBuffer& buffer, std::size_t size) noexcept {
    if (!Allowed(size)) return false;
    try {
        buffer.resize(size);
    } catch (const std::exception&) {  // bad_alloc or length_error: the buffer is unchanged
        return false;
    }
    return true;
}

bool AppendToBody(ByteBuffer& buffer, const std::uint8_t* bytes, std::size_t count) noexcept {
    if (count > buffer.max_size() - buffer.size() || !Allowed(buffer.size() + count)) return false;
    try {
        buffer.insert(buffer.end(), bytes, bytes + count);
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

ScopedBodyLimit::ScopedBodyLimit(std::size_t limit) : previous_(std::exchange(bodyLimit, limit)) {}

ScopedBodyLimit::~ScopedBodyLimit() { bodyLimit = previous_; }

}  // namespace qubrelo::http
