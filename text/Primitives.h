#pragma once

// The text primitives. None keeps state, changes an argument, fails or reports anything: every
// combination of arguments has a defined result, and each returns a new value.
//
// Optional arguments are std::optional where omitting one differs from passing a value.
// The case flags have opposite senses: TextFind/TextFindLast take caseInsensitive,
// TextReplace/TextCompare take caseSensitive. Only the ASCII letters fold.

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string_view>

#include "text/Text.h"

namespace qubrelo {

int TextLength(std::string_view text);
Text TextLeft(std::string_view text, int count);
Text TextRight(std::string_view text, int count);
Text TextMid(std::string_view text, int start, int count);

// Position (from 1) of the first occurrence at or after start, or -1. A start of 1, 0 or less
// searches from the beginning. An empty sought text is found at 1 when the searched stretch is
// not empty.
int TextFind(std::string_view text, std::string_view sought, std::optional<int> start = std::nullopt,
             bool caseInsensitive = false);
// Position of the last occurrence lying wholly before start (anywhere when omitted), or -1.
int TextFindLast(std::string_view text, std::string_view sought,
                 std::optional<int> start = std::nullopt, bool caseInsensitive = false);
// Replaces non-overlapping occurrences from start (1 when omitted), at most count of them
// (no limit when omitted or negative; 0 changes nothing).
Text TextReplace(std::string_view text, std::string_view sought, std::string_view replacement = {},
                 std::optional<int> start = std::nullopt, std::optional<int> count = std::nullopt,
                 bool caseSensitive = false);
// Splits on delimiter ("," when omitted); at most maxCount elements (no limit when omitted).
TextArray TextSplit(std::string_view text, std::optional<std::string_view> delimiter = std::nullopt,
                    std::optional<int> maxCount = std::nullopt);
// Spaces are the half-width space and the ideographic space 0xA1 0xA1; nothing else.
Text TextTrim(std::string_view text);
Text TextStripSpaces(std::string_view text);
// Full-width forms read as ASCII; leading white space, an optional sign, decimal digits.
// A number outside 32 bits saturates at the nearest 32-bit limit.
std::int32_t TextToInt(std::string_view text);
int TextCompare(std::string_view a, std::string_view b, bool caseSensitive);
Text TextConcat(std::initializer_list<std::string_view> texts);

ByteBuffer TextToBytes(std::string_view text);
// The bytes before the first zero byte, or all of them.
Text BytesToText(std::span<const std::uint8_t> bytes);
int BytesLength(std::span<const std::uint8_t> bytes);
ByteBuffer BytesLeft(std::span<const std::uint8_t> bytes, int count);
ByteBuffer BytesConcat(std::initializer_list<std::span<const std::uint8_t>> buffers);
ByteBuffer BytesFromMemory(const void* address, int count);
Text BlankText(int count);
ByteBuffer BlankBytes(int count);

template <typename... Ints>
constexpr int BitwiseOr(int first, Ints... rest) {
    return (first | ... | rest);
}

}  // namespace qubrelo
