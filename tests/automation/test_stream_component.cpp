#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/automation/Automation.h"
#include "text/CodePage.h"

namespace qubrelo::automation {
namespace {

ByteBuffer Bytes(std::string_view bytes) { return ByteBuffer(bytes.begin(), bytes.end()); }

// Whether the component took the call. A method without a result gives an empty value either
// way, so the tests ask the component itself.
bool Accepts(const AutomationObject& object, std::string_view lowerCaseMember,
             std::initializer_list<AutomationVariant> args = {}) {
    AutomationVariant result;
    return object.component()->Call(lowerCaseMember, {args.begin(), args.size()}, result);
}

// The sequence the page fetch runs: bytes in byte mode, then read back as text.
class StreamFixture : public testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(stream_.Create("Adodb.Stream")); }

    void OpenWith(std::string_view bytes) {
        ASSERT_TRUE(stream_.Put("Type", AutomationVariant(1)));
        ASSERT_TRUE(stream_.Put("Mode", AutomationVariant(3)));
        ASSERT_TRUE(Accepts(stream_, "open"));
        ASSERT_TRUE(Accepts(stream_, "write", {AutomationVariant(Bytes(bytes))}));
        ASSERT_EQ(stream_.GetNumber("Size"), static_cast<double>(bytes.size()));
        ASSERT_TRUE(stream_.Put("Position", AutomationVariant(0)));
        ASSERT_TRUE(stream_.Put("Type", AutomationVariant(2)));
    }

    AutomationVariant ReadAs(std::string_view bytes, std::string_view charset) {
        OpenWith(bytes);
        EXPECT_TRUE(stream_.Put("Charset", AutomationVariant::FromText(charset)));
        return stream_.Call("ReadText");
    }

    AutomationObject stream_;
};

struct CharsetCase {
    const char* charset;
    std::string bytes;
    std::u16string text;
};

void PrintTo(const CharsetCase& c, std::ostream* os) { *os << c.charset; }

class StreamCharsets : public StreamFixture, public testing::WithParamInterface<CharsetCase> {};

TEST_P(StreamCharsets, ReadsBytesAsTextInTheCharset) {
    const CharsetCase& c = GetParam();
    const AutomationVariant text = ReadAs(c.bytes, c.charset);
    ASSERT_FALSE(text.IsEmpty());
    EXPECT_EQ(text.ToUtf16(), c.text);
    EXPECT_EQ(stream_.GetText("EOS"), "-1");
    EXPECT_TRUE(Accepts(stream_, "close"));
    EXPECT_TRUE(stream_.Get("Size").IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Table, StreamCharsets,
    testing::Values(CharsetCase{"utf-8",
                                "\xE4\xB8\xAD\xE6\x96\x87"
                                "a",
                                u"\u4e2d\u6587a"},
                    CharsetCase{"UTF-8", "\xE4\xB8\xAD", u"\u4e2d"},
                    CharsetCase{"utf-8",
                                "\xEF\xBB\xBF"
                                "a",
                                u"a"},
                    CharsetCase{"gbk", "\xD6\xD0\xCE\xC4", u"\u4e2d\u6587"},
                    CharsetCase{"GBK", "\xD6\xD0\x80", u"\u4e2d\u20ac"},
                    CharsetCase{"gb2312", "\xD6\xD0\xCE\xC4", u"\u4e2d\u6587"},
                    CharsetCase{"gb18030", "\xD6\xD0\x81\x30\x81\x30", u"\u4e2d\u0080"},
                    CharsetCase{"big5", "\xA4\xA4\xA4\xE5", u"\u4e2d\u6587"},
                    CharsetCase{"BIG5", "\xA4\xA4", u"\u4e2d"},
                    CharsetCase{"shift_jis",
                                "\x93\xFA\x96\x7B"
                                "a",
                                u"\u65e5\u672ca"},
                    CharsetCase{"Shift_JIS", "\x82\xA0", u"\u3042"},
                    CharsetCase{"euc-kr", "\xC7\xD1\xB1\xDB", u"\ud55c\uae00"},
                    CharsetCase{"EUC-KR", "\xC7\xD1", u"\ud55c"},
                    CharsetCase{"iso-8859-1",
                                "\xE9\x80"
                                "a",
                                u"\u00e9\u0080a"},
                    CharsetCase{"ISO-8859-1", "\xFF", u"\u00ff"},
                    CharsetCase{"windows-1252", "\x80\xE9", u"\u20ac\u00e9"},
                    CharsetCase{"Windows-1252", "\x93q\x94", u"\u201cq\u201d"},
                    CharsetCase{"unicode", "\x2D\x4E\x87\x65", u"\u4e2d\u6587"},
                    CharsetCase{"koi8-r", "\xC1", u"\u0430"}));

struct InvalidCase {
    const char* name;
    const char* charset;
    std::string bytes;
    std::u16string text;
};

void PrintTo(const InvalidCase& c, std::ostream* os) { *os << c.name; }

class StreamInvalidBytes : public StreamFixture, public testing::WithParamInterface<InvalidCase> {};

TEST_P(StreamInvalidBytes, BecomeTheReplacementCharacter) {
    const InvalidCase& c = GetParam();
    EXPECT_EQ(ReadAs(c.bytes, c.charset).ToUtf16(), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, StreamInvalidBytes,
    testing::Values(
        InvalidCase{"utf-8 stray byte", "utf-8",
                    "a\xFF"
                    "b",
                    u"a\uFFFDb"},
        InvalidCase{"utf-8 sequence cut at the end", "utf-8", "a\xE4\xB8", u"a\uFFFD\uFFFD"},
        InvalidCase{"utf-8 encoded surrogate", "utf-8",
                    "\xED\xA0\x80"
                    "a",
                    u"\uFFFD\uFFFD\uFFFDa"},
        InvalidCase{"gbk lead byte at the end", "gbk", "a\xD6", u"a\uFFFD"},
        InvalidCase{"gbk lead byte before a space", "gbk", "\x81 b", u"\uFFFD b"},
        InvalidCase{"big5 lead byte at the end", "big5", "\xA4", u"\uFFFD"},
        InvalidCase{"shift_jis bad pair", "shift_jis", "\x81\x20z", u"\uFFFD z"},
        InvalidCase{"unicode odd last byte", "unicode",
                    std::string("a\x00"
                                "b",
                                3),
                    u"a\uFFFD"},
        InvalidCase{"bytes that start nothing", "utf-8", std::string("\x80\x81\xC0\xF8\xFE", 5),
                    u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"}));

TEST_F(StreamFixture, CharactersCodePage936CannotHoldBecomeQuestionMarksAsText) {
    // U+D55C (Korean) and U+0E01 (Thai) are not in code page 936; the euro sign is, at 0x80.
    const AutomationVariant text =
        ReadAs("\xED\x95\x9C\xE4\xB8\xAD\xE0\xB8\x81\xE2\x82\xAC", "utf-8");
    EXPECT_EQ(text.ToText(), "?" + Utf8ToText("中") + "?\x80");
}

TEST_F(StreamFixture, UnknownCharsetIsRefusedAndTheOldOneKept) {
    OpenWith("\xE4\xB8\xAD");
    ASSERT_TRUE(stream_.Put("Charset", AutomationVariant::FromText("utf-8")));
    for (const char* name : {"no-such-charset", "", "utf-8//IGNORE", "../utf-8", "utf 8"}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(stream_.Put("Charset", AutomationVariant::FromText(name)));
        EXPECT_EQ(stream_.GetText("Charset"), "utf-8");
    }
    EXPECT_EQ(stream_.Call("ReadText").ToUtf16(), u"\u4e2d");
}

TEST_F(StreamFixture, DefaultCharsetIsUtf16LittleEndian) {
    OpenWith(
        std::string_view("a\x00\xFF\xFE"
                         "b\x00",
                         6));
    EXPECT_EQ(stream_.GetText("Charset"), "unicode");
    EXPECT_EQ(stream_.Call("ReadText").ToUtf16(), u"a\uFEFFb");
}

TEST_F(StreamFixture, ReadsFromThePositionAndMovesIt) {
    OpenWith(
        "xy\xE4\xB8\xAD\xE6\x96\x87"
        "a");
    ASSERT_TRUE(stream_.Put("Charset", AutomationVariant::FromText("utf-8")));
    ASSERT_TRUE(stream_.Put("Position", AutomationVariant(2)));
    EXPECT_EQ(stream_.Call("ReadText", {AutomationVariant(1)}).ToUtf16(), u"\u4e2d");
    EXPECT_EQ(stream_.GetNumber("Position"), 5);
    EXPECT_EQ(stream_.Call("ReadText", {AutomationVariant(-1)}).ToUtf16(), u"\u6587a");
    EXPECT_EQ(stream_.Call("ReadText").ToUtf16(), u"");
    // A position past the end is refused.
    EXPECT_FALSE(stream_.Put("Position", AutomationVariant(100)));
    EXPECT_EQ(stream_.GetNumber("Position"), 9);
}

TEST_F(StreamFixture, WritesAtThePositionOverAndPastTheEnd) {
    OpenWith("abcd");
    ASSERT_TRUE(stream_.Put("Type", AutomationVariant(1)));
    ASSERT_TRUE(stream_.Put("Position", AutomationVariant(2)));
    ASSERT_TRUE(Accepts(stream_, "write", {AutomationVariant(Bytes("XYZ"))}));
    EXPECT_EQ(stream_.GetNumber("Size"), 5);
    stream_.Put("Position", AutomationVariant(0));
    stream_.Put("Type", AutomationVariant(2));
    stream_.Put("Charset", AutomationVariant::FromText("us-ascii"));
    EXPECT_EQ(stream_.Call("ReadText").ToUtf16(), u"abXYZ");
}

TEST_F(StreamFixture, RefusesCallsOutOfOrder) {
    // Nothing works before Open.
    EXPECT_FALSE(Accepts(stream_, "write", {AutomationVariant(Bytes("a"))}));
    EXPECT_FALSE(stream_.Put("Position", AutomationVariant(0)));
    EXPECT_FALSE(Accepts(stream_, "close"));
    EXPECT_TRUE(stream_.Get("Size").IsEmpty());
    EXPECT_FALSE(stream_.Put("Type", AutomationVariant(3)));
    // Opening from a source is not something this stream does.
    EXPECT_FALSE(Accepts(stream_, "open", {AutomationVariant::FromText("file:///etc/passwd")}));

    OpenWith("abc");
    EXPECT_FALSE(Accepts(stream_, "open"));
    // Write takes bytes in byte mode only, ReadText reads in text mode only.
    EXPECT_FALSE(Accepts(stream_, "write", {AutomationVariant(Bytes("a"))}));
    stream_.Put("Type", AutomationVariant(1));
    EXPECT_FALSE(Accepts(stream_, "write", {AutomationVariant::FromText("a")}));
    EXPECT_FALSE(Accepts(stream_, "readtext"));
    EXPECT_EQ(stream_.GetNumber("Size"), 3);

    // Close drops the contents; the stream can be opened again, empty.
    EXPECT_TRUE(Accepts(stream_, "close"));
    stream_.Put("Type", AutomationVariant(2));
    EXPECT_FALSE(Accepts(stream_, "readtext"));
    EXPECT_TRUE(Accepts(stream_, "open"));
    EXPECT_EQ(stream_.Get("Size").ToText(), "0");
}

}  // namespace
}  // namespace qubrelo::automation
