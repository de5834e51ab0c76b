#pragma once

// Folding the cookies a response set into the cookie list a caller keeps. A list is a Text of
// name=value entries separated by ";"; after merging they are separated by "; " and hold no
// blanks. Every comparison of names and entries is exact: letter case matters.

#include <string_view>

#include "text/Text.h"

namespace qubrelo {

// Merges received into cookies: the response's entries first (in the order received), then the
// kept entries whose names the response did not set; entries ending in "=deleted" are dropped
// and exact repeats removed. Rewrites both arguments: cookies becomes the merged list, received
// its own text without blanks. Returns a copy of the merged list.
Text MergeCookies(Text& cookies, Text& received);

// The part of an entry before its first "=", trimmed; the whole entry, trimmed, without one.
Text CookieName(std::string_view entry);

// Whether some entry of the list has exactly this name.
bool HasCookieName(const TextArray& list, std::string_view name);

// The text split at separator, without items that repeat an earlier one, joined again.
Text JoinDistinct(std::string_view text, std::string_view separator);

// 1-based index of the first entry equal to item, or -1.
int IndexOfText(const TextArray& list, std::string_view item);

}  // namespace qubrelo
