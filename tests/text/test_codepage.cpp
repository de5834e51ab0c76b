#include <gtest/gtest.h>
#include <iconv.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "text/CodePage.h"

namespace qubrelo {
namespace {

ByteBuffer Bytes(std::string_view bytes) { return ByteBuffer(bytes.begin(), bytes.end()); }

// iconv straight, as the reference: returns false when it refuses the input.
bool ReferenceConvert(const char* to, const char* from, std::string_view input, std::string& out) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    out.assign(input.size() * 4 + 8, '\0');
    char* in = const_cast<char*>(input.data());
    std::size_t inLeft = input.size();
    char* o = out.data();
    std::size_t outLeft = out.size();
    const std::size_t r = iconv(cd, &in, &inLeft, &o, &outLeft);
    iconv_close(cd);
    out.resize(out.size() - outLeft);
    return r != static_cast<std::size_t>(-1);
}

struct AnsiCase {
    const char* name;
    std::string text;
    bool dropTerminator;
    std::string utf16;  // little-endian bytes expected
};

class AnsiToUtf16Test : public testing::TestWithParam<AnsiCase> {};

TEST_P(AnsiToUtf16Test, Converts) {
    const AnsiCase& c = GetParam();
    EXPECT_EQ(AnsiToUtf16(c.text, c.dropTerminator), Bytes(c.utf16));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, AnsiToUtf16Test,
    testing::Values(
        AnsiCase{"EmptyGivesEmptyBuffer", "", false, ""},
        AnsiCase{"EmptyWithDropGivesEmptyBuffer", "", true, ""},
        AnsiCase{"AsciiGetsTerminator", "Ab", false, std::string("A\0b\0\0\0", 6)},
        AnsiCase{"DropTerminator", "Ab", true, std::string("A\0b\0", 4)},
        AnsiCase{"TwoByteCharacter", "\xD6\xD0", false, std::string("\x2D\x4E\0\0", 4)},
        AnsiCase{"Byte80IsEuro", "\x80", true, "\xAC\x20"},
        AnsiCase{"IdeographicSpace", "\xA1\xA1", true, std::string("\x00\x30", 2)},
        AnsiCase{"LoneLeadByteAtEnd", "A\xD6", false, std::string("A\0\xFD\xFF\0\0", 6)},
        AnsiCase{"ByteFFRefused",
                 "a\xFF"
                 "b",
                 true,
                 std::string("a\0\xFD\xFF"
                             "b\0",
                             6)},
        AnsiCase{"LeadWithInvalidTrailRereadsTrail", "\x81\x20", true,
                 std::string("\xFD\xFF\x20\0", 4)},
        AnsiCase{"StopsAtZeroByte", std::string("a\0b", 3), false, std::string("a\0\0\0", 4)},
        AnsiCase{"LeadingZeroByteIsEmptyText", std::string("\0b", 2), false, ""}),
    [](const auto& info) { return info.param.name; });

struct Utf16Case {
    const char* name;
    std::string utf16;  // little-endian bytes
    std::string text;
};

class Utf16ToAnsiTest : public testing::TestWithParam<Utf16Case> {};

TEST_P(Utf16ToAnsiTest, Converts) {
    const Utf16Case& c = GetParam();
    EXPECT_EQ(Utf16ToAnsi(Bytes(c.utf16)), c.text);
    std::u16string units(c.utf16.size() / 2, u'\0');
    std::memcpy(units.data(), c.utf16.data(), units.size() * 2);
    EXPECT_EQ(Utf16ToText(units), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Utf16ToAnsiTest,
    testing::Values(Utf16Case{"Empty", "", ""}, Utf16Case{"Ascii", std::string("A\0b\0", 4), "Ab"},
                    Utf16Case{"StopsAtZeroUnit", std::string("A\0\0\0B\0", 6), "A"},
                    Utf16Case{"OddLastByteIgnored", std::string("A\0B", 3), "A"},
                    Utf16Case{"LoneOddByte", "A", ""},
                    Utf16Case{"TwoByteCharacter", "\x2D\x4E", "\xD6\xD0"},
                    Utf16Case{"EuroIsByte80", "\xAC\x20", "\x80"},
                    Utf16Case{"UnmappableBecomesQuestionMark",
                              std::string("\x01\x0E"
                                          "a\0",
                                          4),
                              "?a"},
                    Utf16Case{"SurrogatePairIsOneQuestionMark", "\x3D\xD8\x00\xDE", "?"},
                    Utf16Case{"LoneHighSurrogate",
                              std::string("\x3D\xD8"
                                          "a\0",
                                          4),
                              "?a"},
                    Utf16Case{"LoneLowSurrogate",
                              std::string("\x00\xDE"
                                          "a\0",
                                          4),
                              "?a"},
                    Utf16Case{"HighSurrogateAtEnd", std::string("a\0\x3D\xD8", 4), "a?"}),
    [](const auto& info) { return info.param.name; });

struct Utf8Case {
    const char* name;
    std::string utf8;
    std::string text;
};

class Utf8ToTextTest : public testing::TestWithParam<Utf8Case> {};

TEST_P(Utf8ToTextTest, Converts) { EXPECT_EQ(Utf8ToText(GetParam().utf8), GetParam().text); }

INSTANTIATE_TEST_SUITE_P(Rows, Utf8ToTextTest,
                         testing::Values(Utf8Case{"Empty", "", ""},
                                         Utf8Case{"Chinese", "网址A",
                                                  "\xCD\xF8\xD6\xB7"
                                                  "A"},
                                         Utf8Case{"IdeographicSpace", "\xE3\x80\x80", "\xA1\xA1"},
                                         Utf8Case{"CutSequenceAtEnd", "a\xE4\xB8", "a??"},
                                         Utf8Case{"StrayByte",
                                                  "a\xFF"
                                                  "b",
                                                  "a?b"},
                                         Utf8Case{"EncodedSurrogate", "\xED\xA0\x80", "???"},
                                         Utf8Case{"UnmappableCharacterIsOneQuestionMark",
                                                  "\xF0\x9F\x98\x80"
                                                  "a",
                                                  "?a"},
                                         Utf8Case{"StopsAtZeroByte", std::string("a\0b", 3), "a"}),
                         [](const auto& info) { return info.param.name; });

TEST(TextToUtf8, ConvertsAndReplacesRefusedBytes) {
    EXPECT_EQ(TextToUtf8("\xD6\xD0"
                         "a"),
              "中a");
    EXPECT_EQ(TextToUtf8("a\xFF"), "a\xEF\xBF\xBD");
    EXPECT_EQ(TextToUtf8("\xD6"), "\xEF\xBF\xBD");
    EXPECT_EQ(TextToUtf8(""), "");
}

TEST(TextToUtf16, ConvertsWithoutTerminator) {
    EXPECT_EQ(TextToUtf16("\xD6\xD0"
                          "A\x80"),
              u"中A€");
    EXPECT_EQ(TextToUtf16(""), u"");
}

// Every two-byte character iconv accepts must come back unchanged, and match iconv's own UTF-16.
TEST(CodePageRoundTrip, EveryTwoByteCharacterAgreesWithIconv) {
    std::string all;
    for (int lead = 0x81; lead <= 0xFE; ++lead) {
        for (int trail = 0x40; trail <= 0xFE; ++trail) {
            const std::string pair{static_cast<char>(lead), static_cast<char>(trail)};
            std::string unused;
            if (ReferenceConvert("UTF-16LE", "CP936", pair, unused)) all += pair;
        }
    }
    for (int b = 1; b < 0x81; ++b) all += static_cast<char>(b);
    ASSERT_GT(all.size(), 40000u);

    std::string expected;
    ASSERT_TRUE(ReferenceConvert("UTF-16LE", "CP936", all, expected));
    const ByteBuffer utf16 = AnsiToUtf16(all, true);
    EXPECT_EQ(utf16, Bytes(expected));

    std::string back;
    ASSERT_TRUE(ReferenceConvert("CP936", "UTF-16LE", expected, back));
    EXPECT_EQ(Utf16ToAnsi(utf16), back);
    EXPECT_EQ(Utf8ToText(TextToUtf8(all)), back);
}

// Arbitrary bytes never break the conversions, and the results keep their promises.
TEST(CodePageRoundTrip, RandomBytesGiveWellFormedResults) {
    std::mt19937 random(936);
    for (int round = 0; round < 2000; ++round) {
        std::string bytes(random() % 40, '\0');
        for (char& b : bytes) b = static_cast<char>(random() % 256);
        const ByteBuffer utf16 = AnsiToUtf16(bytes);
        if (!utf16.empty()) {
            ASSERT_EQ(utf16.size() % 2, 0u);
            EXPECT_EQ(utf16[utf16.size() - 1] | utf16[utf16.size() - 2], 0);
        }
        const Text fromUtf16 = Utf16ToAnsi(Bytes(bytes));
        EXPECT_EQ(fromUtf16.find('\0'), Text::npos);
        const Text fromUtf8 = Utf8ToText(bytes);
        EXPECT_EQ(fromUtf8.find('\0'), Text::npos);
        std::string unused;
        EXPECT_TRUE(ReferenceConvert("UTF-16LE", "UTF-8", TextToUtf8(bytes), unused));
    }
}

}  // namespace
}  // namespace qubrelo
