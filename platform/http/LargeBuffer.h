#pragma once

#include <cstdint>

#include "text/Text.h"

namespace qubrelo::http {

// Reserves room for a body of the announced size, so a large body is not copied again each
// time its buffer grows. At most 1 GiB is reserved up front, so a false length cannot take the
// memory; a longer body still grows past it.
void ReserveForBody(ByteBuffer& buffer, std::uint64_t announcedSize);
void ReserveForBody(Text& text, std::uint64_t announcedSize);

}  // namespace qubrelo::http
