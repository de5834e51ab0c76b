// Compiles arbitrary patterns against arbitrary subjects through RegexObject.
//
// Input: one byte of option bits, then the pattern, a zero byte, the subject, a zero byte and the
// replacement (texts never hold a zero byte). Beyond "no crash, no hang, no sanitizer report" it
// checks what every run must keep: a reported position points at the reported text.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string_view>

#include "text/CodePage.h"
#include "text/regex/RegexObject.h"

namespace {

std::string_view TakeUntilZero(std::string_view& rest) {
    const std::size_t end = rest.find('\0');
    const std::string_view piece = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    return piece;
}

char Fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

void Require(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

// A position is -2 (not found) or the 0-based offset at which the subject holds the text.
void CheckPosition(std::string_view subject, std::string_view text, int position, bool ignoreCase) {
    if (position < 0) {
        Require(position == -2);
        return;
    }
    Require(static_cast<std::size_t>(position) + text.size() <= subject.size());
    const std::string_view there = subject.substr(static_cast<std::size_t>(position), text.size());
    Require(std::ranges::equal(there, text, [ignoreCase](char a, char b) {
        return ignoreCase ? Fold(a) == Fold(b) : a == b;
    }));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::uint8_t flags = data[0];
    std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::string_view pattern = TakeUntilZero(rest);
    const std::string_view subject = TakeUntilZero(rest);
    const std::string_view replacement = TakeUntilZero(rest);
    const bool caseSensitive = flags & 1;
    const bool multiLine = flags & 2;
    const bool global = flags & 4;
    const bool replaceQuoteMarker = flags & 8;

    qubrelo::RegexObject regex;
    const bool compiled =
        regex.Compile(pattern, subject, caseSensitive, multiLine, global, replaceQuoteMarker);
    const int count = regex.MatchCount();
    Require(count >= 0);
    Require(compiled || (count == 0 && regex.SubmatchCount() == 0 && regex.MatchText(1).empty()));
    Require(global || count <= 1);
    (void)regex.PatternText();

    // Positions are searched in the subject as it comes back from UTF-16.
    const qubrelo::Text roundTrip = qubrelo::Utf16ToText(qubrelo::TextToUtf16(subject));
    const int groups = regex.SubmatchCount();
    Require(groups >= 0);
    for (int match = 0; match <= std::min(count, 16) + 1; ++match) {
        int position = 0;
        const qubrelo::Text text = regex.MatchText(match, &position);
        Require(text.find('\0') == qubrelo::Text::npos);
        CheckPosition(roundTrip, text, position, !caseSensitive);
        for (int group = 0; group <= std::min(groups, 8) + 1; ++group) {
            const qubrelo::Text sub = regex.SubmatchText(match, group, &position);
            CheckPosition(roundTrip, sub, position, !caseSensitive);
        }
    }
    // Indexes at the ends of the integer range read as missing.
    int position = 0;
    constexpr int kLowest = std::numeric_limits<int>::min();
    constexpr int kHighest = std::numeric_limits<int>::max();
    Require(regex.MatchText(kLowest, &position).empty() && regex.MatchText(kHighest).empty());
    Require(regex.SubmatchText(kHighest, kLowest, &position).empty());
    Require(regex.SubmatchText(1, kHighest, &position).empty());
    (void)regex.ReplaceMatches(replacement);
    return 0;
}
