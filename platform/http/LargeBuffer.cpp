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

// Room for size bytes. Past the capacity, a body that keeps to its announced length gets up to
// that length at once (at most four times the room it had, so a false length cannot ask for
// much more than has arrived); otherwise the vector's own growth applies.
void MakeRoom(ByteBuffer& buffer, std::size_t size, std::uint64_t announcedSize) {
    if (size <= buffer.capacity() || announcedSize < size) return;
    const std::uint64_t room = std::min<std::uint64_t>(
        announcedSize, std::max<std::uint64_t>(size, 4 * buffer.capacity()));
    buffer.reserve(static_cast<std::size_t>(room));
}

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

bool GrowBody(ByteBuffer& buffer, std::size_t size, std::uint64_t announcedSize) noexcept {
    if (!Allowed(size)) return false;
    try {
        MakeRoom(buffer, size, announcedSize);
        buffer.resize(size);
    } catch (const std::exception&) {  // bad_alloc or length_error: the buffer is unchanged
        return false;
    }
    return true;
}

bool AppendToBody(ByteBuffer& buffer, const std::uint8_t* bytes, std::size_t count,
                  std::uint64_t announcedSize) noexcept {
    if (count > buffer.max_size() - buffer.size() || !Allowed(buffer.size() + count)) return false;
    try {
        MakeRoom(buffer, buffer.size() + count, announcedSize);
        buffer.insert(buffer.end(), bytes, bytes + count);
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

ScopedBodyLimit::ScopedBodyLimit(std::size_t limit) : previous_(std::exchange(bodyLimit, limit)) {}

ScopedBodyLimit::~ScopedBodyLimit() { bodyLimit = previous_; }

}  // namespace qubrelo::http
