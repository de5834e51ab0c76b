#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "text/Primitives.h"

namespace qubrelo {
namespace {

const std::string kIdeographicSpace = "\xA1\xA1";

std::string Show(const TextArray& array) {
    std::string shown = std::to_string(array.Count()) + ":[";
    for (int i = 1; i <= array.Count(); ++i) shown += (i > 1 ? "|" : "") + array.At(i);
    return shown + "]";
}
std::string Show(const ByteBuffer& bytes) {
    return "bytes:" + std::string(bytes.begin(), bytes.end());
}
std::string Show(const Text& text) { return text; }
std::string Show(int value) { return std::to_string(value); }
std::string Sign(int value) { return value < 0 ? "negative" : value == 0 ? "0" : "positive"; }

struct EdgeRow {
    const char* name;
    std::function<std::string()> call;
    std::string expected;
};

void PrintTo(const EdgeRow& row, std::ostream* out) { *out << row.name; }

class PrimitiveEdges : public testing::TestWithParam<EdgeRow> {};

TEST_P(PrimitiveEdges, GivesDefinedResult) { EXPECT_EQ(GetParam().call(), GetParam().expected); }

#define ROW(name, expression, expected)                 \
    EdgeRow {                                           \
        name, [] { return Show(expression); }, expected \
    }

const ByteBuffer kABzeroC{'a', 'b', 0, 'c'};

INSTANTIATE_TEST_SUITE_P(
    Table, PrimitiveEdges,
    testing::Values(
        ROW("FindStartOmitted", TextFind("abcabc", "c", std::nullopt, false), "3"),
        ROW("FindStart4", TextFind("abcabc", "c", 4, false), "6"),
        ROW("FindStart7", TextFind("abcabc", "c", 7, false), "-1"),
        ROW("FindStart0", TextFind("abcabc", "c", 0, false), "3"),
        ROW("FindStartMinus5", TextFind("abcabc", "c", -5, false), "3"),
        ROW("FindFoldsCase", TextFind("ABC", "b", std::nullopt, true), "2"),
        ROW("FindExactCase", TextFind("ABC", "b", std::nullopt, false), "-1"),
        ROW("FindSkipsSecondByte",
            TextFind("\xB0"
                     "AA",
                     "A", std::nullopt, false),
            "3"),
        ROW("FindEmptyInsideGivesOne", TextFind("abc", "", 3, false), "1"),
        ROW("FindEmptyPastEnd", TextFind("abc", "", 4, false), "-1"),
        ROW("FindLastStartOmitted", TextFindLast("a=b=c", "=", std::nullopt, false), "4"),
        ROW("FindLastStart5", TextFindLast("a=b=c", "=", 5, false), "4"),
        ROW("FindLastStart4", TextFindLast("a=b=c", "=", 4, false), "2"),
        ROW("FindLastStart2", TextFindLast("a=b=c", "=", 2, false), "-1"),
        ROW("FindLastStart1", TextFindLast("a=b=c", "=", 1, false), "-1"),
        ROW("FindLastEndingAtLastByteUnseen", TextFindLast("a=b=", "=", 4, false), "2"),
        ROW("ReplaceNoOverlap", TextReplace("aaa", "aa", "b", std::nullopt, std::nullopt, false),
            "ba"),
        ROW("ReplaceCount1", TextReplace("a-b-c", "-", "+", std::nullopt, 1, false), "a+b-c"),
        ROW("ReplaceStart3", TextReplace("a-b-c", "-", "+", 3, std::nullopt, false), "a-b+c"),
        ROW("ReplaceCount0", TextReplace("a-b-c", "-", "+", std::nullopt, 0, false), "a-b-c"),
        ROW("ReplaceFoldsWhenNotCaseSensitive",
            TextReplace("Hh", "hh", "x", std::nullopt, std::nullopt, false), "x"),
        ROW("ReplaceExactWhenCaseSensitive",
            TextReplace("Hh", "hh", "x", std::nullopt, std::nullopt, true), "Hh"),
        ROW("ReplaceEmptySought", TextReplace("abc", "", "x", std::nullopt, std::nullopt, true),
            "abc"),
        ROW("SplitEmptyMiddle", TextSplit("a,,b,", ","), "3:[a||b]"),
        ROW("SplitLeadingDelimiter", TextSplit(",a", ","), "2:[|a]"),
        ROW("SplitLoneDelimiter", TextSplit(",", ","), "1:[]"),
        ROW("SplitMaxCount2", TextSplit("a,b,c", ",", 2), "2:[a|b]"),
        ROW("SplitEmptyText", TextSplit(""), "0:[]"),
        ROW("SplitEmptyDelimiter", TextSplit("abc", ""), "1:[abc]"),
        ROW("TrimBothSpaceKinds", TextTrim(kIdeographicSpace + " a b " + kIdeographicSpace), "a b"),
        ROW("TrimKeepsTabs", TextTrim("\ta\t"), "\ta\t"),
        ROW("StripSpaces", TextStripSpaces(" a b" + kIdeographicSpace + "c"), "abc"),
        ROW("ToInt1", TextToInt("1"), "1"), ROW("ToIntMinus3", TextToInt("-3"), "-3"),
        ROW("ToIntLeadingSpace", TextToInt(" 12ab"), "12"),
        ROW("ToIntFourSpaces", TextToInt("    "), "0"),
        ROW("ToIntFullWidth", TextToInt("\xA3\xB1\xA3\xB2"), "12"),
        ROW("LeftBeyondLength", TextLeft("abc", 5), "abc"), ROW("LeftZero", TextLeft("abc", 0), ""),
        ROW("Right2", TextRight("abc", 2), "bc"), ROW("Mid3And2", TextMid("abcdef", 3, 2), "cd"),
        ROW("MidStart0", TextMid("abc", 0, 2), ""), ROW("MidPastEnd", TextMid("abc", 3, 10), "c"),
        ROW("MidStartAfterEnd", TextMid("abc", 4, 1), ""),
        ROW("BytesToTextStopsAtZero", BytesToText(kABzeroC), "ab"),
        ROW("BlankText4", BlankText(4), "    "), ROW("BlankText0", BlankText(0), ""),
        EdgeRow{"CompareFolded",
                [] { return Sign(TextCompare("Location: ", "location: ", false)); }, "0"},
        EdgeRow{"CompareExact", [] { return Sign(TextCompare("Location: ", "location: ", true)); },
                "negative"},
        ROW("ConcatOfEmpties", TextConcat({"", "", ""}), ""),
        ROW("BytesConcatOfEmpties", BytesConcat({ByteBuffer{}, ByteBuffer{}}), "bytes:")),
    [](const auto& info) { return info.param.name; });

#undef ROW

// Further behaviour the system leans on, beyond the table.
TEST(Primitives, ToIntSaturatesAndReadsFullWidthSign) {
    EXPECT_EQ(TextToInt("99999999999"), 2147483647);
    EXPECT_EQ(TextToInt("-2147483648"), -2147483647 - 1);
    EXPECT_EQ(TextToInt("-99999999999"), -2147483647 - 1);
    EXPECT_EQ(TextToInt("\xA3\xAD\xA3\xB7"), -7);  // full-width minus and 7
    EXPECT_EQ(TextToInt(kIdeographicSpace + "\t+5x"), 5);
    EXPECT_EQ(TextToInt("\xB0\x31"), 0);  // a trail byte is no digit
}

TEST(Primitives, BytesKeepZeroBytes) {
    const ByteBuffer bytes = TextToBytes("ab");
    EXPECT_EQ(BytesLength(bytes), 2);
    EXPECT_EQ(BytesConcat({kABzeroC, bytes}).size(), 6u);
    EXPECT_EQ(BytesLeft(kABzeroC, 3), (ByteBuffer{'a', 'b', 0}));
    EXPECT_EQ(BytesLeft(kABzeroC, -1), ByteBuffer{});
    EXPECT_EQ(BlankBytes(3), ByteBuffer(3, 0));
    EXPECT_EQ(BlankBytes(0), ByteBuffer{});
    EXPECT_EQ(BytesFromMemory(kABzeroC.data(), 4), kABzeroC);
    EXPECT_EQ(BytesFromMemory(kABzeroC.data(), 0), ByteBuffer{});
    EXPECT_EQ(BitwiseOr(1, 2, 8), 11);
}

// A plain walk, written straight from the definitions, to compare the fast primitives against.
namespace model {

std::size_t Offset(std::optional<int> start) {
    return start && *start > 1 ? static_cast<std::size_t>(*start - 1) : 0;
}

bool Same(std::string_view text, std::size_t at, std::string_view sought, bool fold) {
    for (std::size_t i = 0; i < sought.size(); ++i) {
        char a = text[at + i], b = sought[i];
        if (fold) {
            if (a >= 'a' && a <= 'z') a -= 32;
            if (b >= 'a' && b <= 'z') b -= 32;
        }
        if (a != b) return false;
    }
    return true;
}

std::size_t Width(std::string_view text, std::size_t at) {
    return static_cast<unsigned char>(text[at]) >= 0x80 ? 2 : 1;
}

int Find(std::string_view text, std::string_view sought, std::optional<int> start, bool fold) {
    const std::size_t o = Offset(start);
    if (o >= text.size()) return -1;
    if (sought.empty()) return 1;
    for (std::size_t at = o; at < text.size(); at += Width(text, at)) {
        if (text.size() - at >= sought.size() && Same(text, at, sought, fold)) return int(at) + 1;
    }
    return -1;
}

int FindLast(std::string_view text, std::string_view sought, std::optional<int> start, bool fold) {
    std::size_t end = text.size();
    if (start) end = *start <= 1 ? 0 : std::min<std::size_t>(end, *start - 1);
    if (end == 0) return -1;
    if (sought.empty()) return 1;
    int last = -1;
    for (std::size_t at = 0; at < end; at += Width(text, at)) {
        if (end - at >= sought.size() && Same(text, at, sought, fold)) last = int(at) + 1;
    }
    return last;
}

Text Replace(std::string_view text, std::string_view sought, std::string_view replacement,
             std::optional<int> start, std::optional<int> count, bool caseSensitive) {
    const std::size_t o = Offset(start);
    long n = count && *count >= 0 ? *count : -1;
    if (text.empty() || sought.empty() || o >= text.size() || n == 0) return Text(text);
    Text out(text.substr(0, o));
    std::size_t at = o;
    while (at < text.size() && n != 0) {
        if (text.size() - at >= sought.size() && Same(text, at, sought, !caseSensitive)) {
            out += replacement;
            at += sought.size();
            if (n > 0) --n;
        } else {
            const std::size_t w = std::min(Width(text, at), text.size() - at);
            out += text.substr(at, w);
            at += w;
        }
    }
    if (at < text.size()) out += text.substr(at);
    return out;
}

std::vector<Text> Split(std::string_view text, std::string_view delimiter,
                        std::optional<int> maxCount) {
    long n = maxCount ? std::max(*maxCount, 0) : -1;
    std::vector<Text> items;
    if (text.empty() || n == 0) return items;
    if (delimiter.empty()) return {Text(text)};
    std::size_t segment = 0, at = 0;
    while (at < text.size()) {
        if (text.size() - at >= delimiter.size() && Same(text, at, delimiter, false)) {
            items.emplace_back(text.substr(segment, at - segment));
            segment = at = at + delimiter.size();
            if (n > 0 && --n == 0) return items;
        } else {
            at += Width(text, at);
        }
    }
    if (segment < text.size()) items.emplace_back(text.substr(segment));
    return items;
}

// Characters of a text in walk order, each tagged whether it is a space.
std::vector<std::pair<std::string, bool>> Characters(std::string_view text) {
    std::vector<std::pair<std::string, bool>> characters;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t w = std::min(Width(text, at), text.size() - at);
        const std::string c(text.substr(at, w));
        characters.emplace_back(c, c == " " || c == "\xA1\xA1");
        at += w;
    }
    return characters;
}

Text Trim(std::string_view text) {
    const auto characters = Characters(text);
    std::size_t first = 0, end = characters.size();
    while (first < end && characters[first].second) ++first;
    while (end > first && characters[end - 1].second) --end;
    Text out;
    for (std::size_t i = first; i < end; ++i) out += characters[i].first;
    return out;
}

Text Strip(std::string_view text) {
    Text out;
    for (const auto& [c, space] : Characters(text)) out += space ? "" : c;
    return out;
}

}  // namespace model

// Texts mostly built from a few bytes that make the two-byte walk matter (lead bytes, letters of
// both cases, the ideographic space's byte, separators); one in eight from every byte value.
std::string RandomText(std::mt19937& random, std::size_t maxLength) {
    static const char kAlphabet[] = {'a', 'A', 'b', '=', ' ', ',', '\xA1', '\xB0', 'h', 'H'};
    const bool anyByte = random() % 8 == 0;
    std::string text(random() % (maxLength + 1), '\0');
    for (char& c : text) {
        c = anyByte ? static_cast<char>(random() % 256) : kAlphabet[random() % sizeof kAlphabet];
    }
    return text;
}

std::optional<int> RandomOptional(std::mt19937& random, int low, int high) {
    if (random() % 4 == 0) return std::nullopt;
    return low + static_cast<int>(random() % static_cast<unsigned>(high - low + 1));
}

TEST(PrimitivesModel, WalkingPrimitivesAgreeWithPlainWalk) {
    std::mt19937 random(20160318);
    for (int round = 0; round < 20000; ++round) {
        const std::string text = RandomText(random, 24);
        const std::string sought = RandomText(random, 3);
        const std::string replacement = RandomText(random, 2);
        const int length = static_cast<int>(text.size());
        const auto start = RandomOptional(random, -2, length + 2);
        const auto count = RandomOptional(random, -1, 3);
        const bool flag = random() % 2 == 0;
        SCOPED_TRACE(testing::Message() << "text '" << text << "' sought '" << sought << "' start "
                                        << start.value_or(-99) << " count " << count.value_or(-99)
                                        << " flag " << flag);
        ASSERT_EQ(TextFind(text, sought, start, flag), model::Find(text, sought, start, flag));
        ASSERT_EQ(TextFindLast(text, sought, start, flag),
                  model::FindLast(text, sought, start, flag));
        ASSERT_EQ(TextReplace(text, sought, replacement, start, count, flag),
                  model::Replace(text, sought, replacement, start, count, flag));
        ASSERT_EQ(TextSplit(text, sought, count).Items(), model::Split(text, sought, count));
        ASSERT_EQ(TextTrim(text), model::Trim(text));
        ASSERT_EQ(TextStripSpaces(text), model::Strip(text));
        ASSERT_EQ(TextCompare(text, sought, true) == 0, text == sought);
    }
}

// Texts where a search keeps meeting matches that begin on a second byte, or long partial
// matches, so the fast scan hands over to the linear fallback part-way; results must not change.
TEST(PrimitivesModel, CostlyCandidatesStillAgree) {
    std::string secondBytes, lowerSecondBytes;
    for (int i = 0; i < 4000; ++i) {
        secondBytes +=
            "\xB0"
            "A";
        lowerSecondBytes +=
            "\xB0"
            "a";
    }
    std::string sought;
    for (int i = 0; i < 40; ++i) sought += "A\xB0";
    sought += "A";
    const std::string partial(20000, 'a');
    const std::pair<std::string, std::string> cases[] = {
        {secondBytes, sought},
        {secondBytes + "A" + sought, sought},
        {"A" + secondBytes, sought},
        {lowerSecondBytes + "a" + sought, sought},
        {partial, "AAAAAAAAAAAAb"},
        {partial + "b", "aaaaaaaaaaaab"},
        {partial + "B" + partial, "AAAAAAAAAAAAb"},
    };
    for (const auto& [text, soughtText] : cases) {
        for (const bool flag : {false, true}) {
            SCOPED_TRACE(testing::Message() << text.size() << " " << soughtText << " " << flag);
            ASSERT_EQ(TextFind(text, soughtText, std::nullopt, flag),
                      model::Find(text, soughtText, std::nullopt, flag));
            ASSERT_EQ(TextFindLast(text, soughtText, std::nullopt, flag),
                      model::FindLast(text, soughtText, std::nullopt, flag));
            ASSERT_EQ(TextReplace(text, soughtText, "x", std::nullopt, std::nullopt, flag),
                      model::Replace(text, soughtText, "x", std::nullopt, std::nullopt, flag));
        }
        ASSERT_EQ(TextSplit(text, soughtText).Items(),
                  model::Split(text, soughtText, std::nullopt));
    }
}

TEST(PrimitivesModel, CompareOrdersByCharacterValue) {
    EXPECT_LT(TextCompare("a", "ab", true), 0);
    EXPECT_GT(TextCompare("b", "a", true), 0);
    EXPECT_GT(TextCompare("\xB0\x41", "\x7F\x7F", true), 0);  // two-byte value 0xB041 > 0x7F
    EXPECT_LT(TextCompare("\xB0\x41", "\xB0\x42", false), 0);
    EXPECT_EQ(TextCompare("abc", "ABC", false), 0);
    EXPECT_NE(TextCompare("\xA3\xC1", "\xA3\xE1", false), 0);  // full-width letters do not fold
    EXPECT_EQ(TextCompare("", "", true), 0);
}

}  // namespace
}  // namespace qubrelo
