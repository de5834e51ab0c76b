#pragma once

#include <optional>
#include <string_view>

#include "text/Text.h"

namespace qubrelo {

// Non-overlapping occurrences of sought in text; letter case ignored unless caseSensitive.
// 0 when either text is empty.
int CountOccurrences(std::string_view text, std::string_view sought, bool caseSensitive = false);

// The bytes after the last separator that ends before position start (the text's length when
// omitted, so a separator that is the last byte does not count), or the empty text.
Text TextAfterLast(std::string_view text, std::string_view separator,
                   std::optional<int> start = std::nullopt, bool caseInsensitive = false);

// The bytes between the first leftMarker at or after start and the first rightMarker after it,
// or the empty text. "#引号" in either marker stands for a double quote.
Text TextBetween(std::string_view text, std::string_view leftMarker, std::string_view rightMarker,
                 int start = 0, bool caseInsensitive = false);

}  // namespace qubrelo
