#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "text/Text.h"

namespace qubrelo::http {

// At most this much is reserved up front for an announced body: a false or huge length must
// not take the memory before a byte has arrived. A longer body still grows past it.
inline constexpr std::uint64_t kMaxBodyReserve = 64ull * 1024 * 1024;

// Reserves room for a body of the announced size, so a large body is not copied again each
// time its buffer grows. A refused reservation is ignored (the body then grows as it arrives).
void ReserveForBody(ByteBuffer& buffer, std::uint64_t announcedSize) noexcept;
void ReserveForBody(Text& text, std::uint64_t announcedSize) noexcept;

// Whether a response with this status and verb can carry a body worth reserving for: a HEAD
// answer, 1xx, 204 and 304 announce the length of a body they never send.
bool ResponseHasBody(int status, std::string_view verb) noexcept;

// Resizes buffer to size; false, with the buffer unchanged, when the memory is refused.
// announcedSize (0 when unknown) is the length the response announced: once a body really
// outgrows its first reservation, the room grows towards that length in one step instead of
// doubling, which would copy and touch the memory several times over.
bool GrowBody(ByteBuffer& buffer, std::size_t size, std::uint64_t announcedSize = 0) noexcept;
// Appends bytes, growing as GrowBody does; false, with the buffer unchanged, when the memory is
// refused.
bool AppendToBody(ByteBuffer& buffer, const std::uint8_t* bytes, std::size_t count,
                  std::uint64_t announcedSize = 0) noexcept;

// Test seam, per thread: while one lives, GrowBody and AppendToBody refuse to make a body
// longer than limit bytes, as if the memory had run out.
class ScopedBodyLimit {
  public:
    explicit ScopedBodyLimit(std::size_t limit);
    ~ScopedBodyLimit();
    ScopedBodyLimit(const ScopedBodyLimit&) = delete;
    ScopedBodyLimit& operator=(const ScopedBodyLimit&) = delete;

  private:
    std::optional<std::size_t> previous_;
};

}  // namespace qubrelo::http
