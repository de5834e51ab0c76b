#pragma once

// Conversions between code-page-936 text and UTF-16LE.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "text/Text.h"

namespace qubrelo {

// Code-page-936 text to UTF-16LE bytes, ended by one zero unit unless dropTerminator.
// An empty text gives an empty buffer. A byte sequence that is not valid code page 936
// (a lone lead byte at the end, an unassigned pair) becomes U+FFFD per bad byte.
ByteBuffer AnsiToUtf16(std::string_view text, bool dropTerminator = false);

// UTF-16LE bytes (an odd last byte is ignored) to code-page-936 text, up to the first zero
// unit. A character code page 936 cannot hold (or a lone surrogate) becomes "?".
Text Utf16ToAnsi(std::span<const std::uint8_t> data);

// The same conversions on UTF-16 strings, for the layers that hold text as UTF-16.
std::u16string TextToUtf16(std::string_view text);
Text Utf16ToText(std::u16string_view text);

// UTF-8 (file names, Qt strings) from code-page-936 text and back, with the same rules.
std::string TextToUtf8(std::string_view text);
Text Utf8ToText(std::string_view utf8);

}  // namespace qubrelo
