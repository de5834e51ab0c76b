#pragma once

// Conversions between code-page-936 text and UTF-16LE (and UTF-8), over iconv "CP936", which
// maps the byte 0x80 to the euro sign as the Windows code page does.
//
// Every input has a defined result; nothing fails or throws:
// - A text input is read up to its first zero byte, UTF-16 input up to its first zero unit.
// - Code-page-936 bytes that are not a valid character (a lone lead byte at the end, an
//   unassigned pair, 0xFF) become U+FFFD, one for each refused byte; the byte after a refused
//   lead byte is read again as the start of a character.
// - A character that code page 936 cannot hold becomes "?": one for each character (a surrogate
//   pair is one character), one for each lone surrogate, one for each malformed UTF-8 byte.

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
// TextToUtf8 writes U+FFFD for each refused byte; Utf8ToText writes "?" for each malformed byte
// and for each character code page 936 cannot hold.
std::string TextToUtf8(std::string_view text);
Text Utf8ToText(std::string_view utf8);

}  // namespace qubrelo
