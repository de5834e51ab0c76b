#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "text/CodePage.h"
#include "text/Search.h"

namespace qubrelo {
namespace {

struct SearchRow {
    const char* name;
    std::function<std::string()> call;
    std::string expected;
};

void PrintTo(const SearchRow& row, std::ostream* out) { *out << row.name; }

class SearchEdges : public testing::TestWithParam<SearchRow> {};

TEST_P(SearchEdges, GivesDefinedResult) { EXPECT_EQ(GetParam().call(), GetParam().expected); }

#define ROW(name, expression, expected)                           \
    SearchRow {                                                   \
        name, [] { return std::string() + expression; }, expected \
    }
#define COUNT(name, expression, expected)                         \
    SearchRow {                                                   \
        name, [] { return std::to_string(expression); }, expected \
    }

INSTANTIATE_TEST_SUITE_P(
    Table, SearchEdges,
    testing::Values(COUNT("CountNonOverlapping", CountOccurrences("aaaa", "aa"), "2"),
                    COUNT("CountFoldsByDefault", CountOccurrences("Abc abc ABC", "abc"), "3"),
                    COUNT("CountCaseSensitive", CountOccurrences("Abc abc ABC", "abc", true), "1"),
                    COUNT("CountEmptyText", CountOccurrences("", "a"), "0"),
                    COUNT("CountEmptySought", CountOccurrences("abc", ""), "0"),
                    COUNT("CountSkipsSecondBytes",
                          CountOccurrences("\xB0"
                                           "a"
                                           "a",
                                           "a"),
                          "1"),
                    ROW("AfterLastOfSeveral", TextAfterLast("id=1=23", "="), "23"),
                    ROW("AfterLastIgnoresSeparatorAsLastByte", TextAfterLast("a=b=", "="), "b="),
                    ROW("AfterLastAtStart", TextAfterLast("=abc", "="), "abc"),
                    ROW("AfterLastNoSeparator", TextAfterLast("abc", "="), ""),
                    ROW("AfterLastWithStart4", TextAfterLast("a=b=c", "=", 4), "b=c"),
                    ROW("AfterLastEmptyText", TextAfterLast("", "="), ""),
                    ROW("AfterLastFolds", TextAfterLast("aXbxc", "X", std::nullopt, true), "c"),
                    ROW("AfterLastExactByDefault", TextAfterLast("aXbxc", "X"), "bxc"),
                    ROW("BetweenFirstPair", TextBetween("[a]b[c]", "[", "]"), "a"),
                    ROW("BetweenFromStart3", TextBetween("[a]b[c]", "[", "]", 3), "c"),
                    ROW("BetweenTouchingMarkers", TextBetween("[]x", "[", "]"), ""),
                    ROW("BetweenNoRightMarker", TextBetween("[a", "[", "]"), ""),
                    ROW("BetweenNoLeftMarker", TextBetween("a]", "[", "]"), ""),
                    ROW("BetweenLeftMarkerAtEnd", TextBetween("ab[", "[", "]"), ""),
                    ROW("BetweenQuotePlaceholder",
                        TextBetween("x\"k=v\"y", Utf8ToText("#引号k="), Utf8ToText("#引号")), "v"),
                    ROW("BetweenRealQuotesPassThrough", TextBetween("x\"k=v\"y", "\"k=", "\""),
                        "v"),
                    ROW("BetweenFolds", TextBetween("Abc", "a", "c", 0, true), "b"),
                    ROW("BetweenExact", TextBetween("Abc", "a", "c", 0, false), ""),
                    ROW("BetweenEmptyLeftMarker", TextBetween("x]y", "", "]"), "x"),
                    ROW("BetweenEmptyRightMarker", TextBetween("[a]", "[", ""), ""),
                    ROW("BetweenEmptyText", TextBetween("", "[", "]"), ""),
                    ROW("BetweenEmptyTextEmptyMarkers", TextBetween("", "", ""), ""),
                    ROW("BetweenRightMarkerOnSecondByteSkipped", TextBetween("[a\xB0]b]", "[", "]"),
                        "a\xB0]b")),
    [](const auto& info) { return info.param.name; });

#undef ROW
#undef COUNT

}  // namespace
}  // namespace qubrelo
