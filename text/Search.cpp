#include "text/Search.h"

#include "text/CodePage.h"
#include "text/Primitives.h"

namespace qubrelo {

int CountOccurrences(std::string_view text, std::string_view sought, bool caseSensitive) {
    if (text.empty() || sought.empty()) return 0;
    int count = 0;
    for (int p = TextFind(text, sought, std::nullopt, !caseSensitive); p != -1;
         p = TextFind(text, sought, p + TextLength(sought), !caseSensitive)) {
        ++count;
    }
    return count;
}

Text TextAfterLast(std::string_view text, std::string_view separator, std::optional<int> start,
                   bool caseInsensitive) {
    const int s = start.value_or(TextLength(text));
    const int p = TextFindLast(text, separator, s, caseInsensitive);
    if (p == -1) return {};
    return TextRight(text, TextLength(text) - TextLength(separator) - p + 1);
}

Text TextBetween(std::string_view text, std::string_view leftMarker, std::string_view rightMarker,
                 int start, bool caseInsensitive) {
    // Callers write a double quote inside a marker as this placeholder.
    static const Text quoteMarker = Utf8ToText("#引号");
    const Text left = TextReplace(leftMarker, quoteMarker, "\"", std::nullopt, std::nullopt, true);
    const Text right =
        TextReplace(rightMarker, quoteMarker, "\"", std::nullopt, std::nullopt, true);
    int c = TextFind(text, left, start, caseInsensitive);
    if (c != -1) c += TextLength(left);
    const int d = TextFind(text, right, c, caseInsensitive);
    if (c == -1 || d == -1) return {};
    return TextMid(text, c, d - c);
}

}  // namespace qubrelo
