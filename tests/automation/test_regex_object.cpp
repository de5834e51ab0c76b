#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/automation/Automation.h"
#include "text/CodePage.h"
#include "text/regex/RegexObject.h"

namespace qubrelo {
namespace {

constexpr std::string_view kCharsetPattern = "<meta.+?charset=[^\\w]?([-\\w]+)";

TEST(RegexObject, PairsTheAutomationLayerOnceOverItsLife) {
    const int start = automation::InitializationDepth();
    {
        RegexObject regex;
        EXPECT_EQ(automation::InitializationDepth(), start + 1);
        EXPECT_TRUE(regex.Compile("a", "aa"));
        EXPECT_TRUE(regex.Compile("b", "bb"));
        EXPECT_EQ(automation::InitializationDepth(), start + 1);
    }
    EXPECT_EQ(automation::InitializationDepth(), start);
}

TEST(RegexObject, ReadsNothingBeforeTheFirstCompile) {
    RegexObject regex;
    int position = 99;
    EXPECT_EQ(regex.PatternText(), "");
    EXPECT_EQ(regex.ReplaceMatches("x"), "");
    EXPECT_EQ(regex.MatchCount(), 0);
    EXPECT_EQ(regex.MatchText(1), "");
    EXPECT_EQ(regex.SubmatchText(1, 1, &position), "");
    EXPECT_EQ(regex.SubmatchCount(), 0);
}

TEST(RegexObject, NoMatchStillCompiles) {
    RegexObject regex;
    EXPECT_TRUE(regex.Compile("z", "abc"));
    EXPECT_EQ(regex.MatchCount(), 0);
    EXPECT_EQ(regex.MatchText(1), "");
    EXPECT_EQ(regex.SubmatchCount(), 0);
    EXPECT_EQ(regex.ReplaceMatches("x"), "abc");
}

TEST(RegexObject, RefusedPatternReadsAsEmpty) {
    RegexObject regex;
    ASSERT_TRUE(regex.Compile("(a)", "a"));
    EXPECT_FALSE(regex.Compile("(a", "a"));
    EXPECT_EQ(regex.PatternText(), "(a");
    EXPECT_EQ(regex.MatchCount(), 0);
    EXPECT_EQ(regex.MatchText(1), "");
    EXPECT_EQ(regex.SubmatchText(1, 1), "");
    EXPECT_EQ(regex.SubmatchCount(), 0);
    EXPECT_EQ(regex.ReplaceMatches("x"), "");
}

TEST(RegexObject, CreationFailureReadsAsEmpty) {
    automation::ScopedCreationFailure failure("VBScript.RegExp");
    RegexObject regex;
    EXPECT_FALSE(regex.Compile("a", "a"));
    EXPECT_EQ(regex.PatternText(), "");
    EXPECT_EQ(regex.ReplaceMatches("x"), "");
    EXPECT_EQ(regex.MatchCount(), 0);
    EXPECT_EQ(regex.MatchText(1), "");
    EXPECT_EQ(regex.SubmatchCount(), 0);
}

TEST(RegexObject, QuoteMarkerBecomesADoubleQuoteOnlyWhenAsked) {
    const Text pattern = Utf8ToText("a=#引号(\\w+)#引号");
    const Text subject = "x a=\"val\" y";
    RegexObject regex;
    EXPECT_TRUE(regex.Compile(pattern, subject, false, true, true, true));
    EXPECT_EQ(regex.PatternText(), "a=\"(\\w+)\"");
    EXPECT_EQ(regex.SubmatchText(1, 1), "val");

    EXPECT_TRUE(regex.Compile(pattern, subject));
    EXPECT_EQ(regex.PatternText(), pattern);
    EXPECT_EQ(regex.MatchCount(), 0);
}

TEST(RegexObject, OptionDefaultsIgnoreCaseWithMultilineAndGlobalOn) {
    struct Case {
        const char* name;
        bool caseSensitive;
        bool multiLine;
        bool global;
        int count;
    };
    const Text subject = "ab\nAb\nab";
    const std::vector<Case> cases = {
        {"explicit defaults", false, true, true, 3},
        {"case sensitive", true, true, true, 2},
        {"single line", false, false, true, 1},
        {"first match only", false, true, false, 1},
    };
    RegexObject regex;
    ASSERT_TRUE(regex.Compile("^ab", subject));
    EXPECT_EQ(regex.MatchCount(), 3);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(regex.Compile("^ab", subject, c.caseSensitive, c.multiLine, c.global));
        EXPECT_EQ(regex.MatchCount(), c.count);
    }
}

struct CharsetCase {
    const char* name;
    std::string page;
    Text charset;
};

TEST(RegexObject, FindsTheDeclaredCharset) {
    const std::vector<CharsetCase> cases = {
        {"http-equiv content",
         "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=gbk\">",
         "gbk"},
        {"charset attribute", "<head><meta charset=\"utf-8\"><title>", "utf-8"},
        {"capital name", "<meta charset=GBK>", "GBK"},
        {"tag in capitals",
         "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; CHARSET=gb2312\">", "gb2312"},
        {"tag in mixed case", "<Meta Charset='big5' />", "big5"},
        {"first of two tags", "<meta charset=gbk><meta charset=utf-8>", "gbk"},
        {"tag without charset before one with it",
         "<meta name=\"viewport\" content=\"x\">\n<meta charset=\"utf-8\">", "utf-8"},
        {"Chinese title before the tag",
         Utf8ToText("<title>中文页</title><meta charset=\"gb18030\">"), "gb18030"},
        {"no tag", "<html><body>charset=utf-8</body></html>", ""},
    };
    for (const CharsetCase& c : cases) {
        SCOPED_TRACE(c.name);
        RegexObject regex;
        ASSERT_TRUE(regex.Compile(kCharsetPattern, c.page));
        EXPECT_EQ(regex.SubmatchText(1, 1), c.charset);
    }
}

struct PositionCase {
    const char* name;
    Text subject;
    Text pattern;
    bool caseSensitive;
    int index;
    Text text;
    int position;
};

TEST(RegexObject, ReportsMatchPositionsByTheByteSearchRule) {
    const std::vector<PositionCase> cases = {
        {"second of two", "abab", "b", false, 2, "b", 3},
        {"after two double-byte characters", Utf8ToText("中文abc"), "b", false, 1, "b", 5},
        {"adjacent repeats, first", "aa", "a", false, 1, "a", 0},
        {"adjacent repeats, second", "aa", "a", false, 2, "a", 1},
        {"exact case search", "Bb", "b", true, 1, "b", 1},
        {"case-ignoring search", "Bb", "b", false, 1, "B", 0},
        {"empty match", "abc", "x*", false, 2, "", 0},
        {"empty match in an empty subject", "", "x*", false, 1, "", -2},
        {"index past the matches", "abc", "b", false, 5, "", 0},
        {"index zero", "abc", "b", false, 0, "", 0},
        {"Chinese match after Chinese", Utf8ToText("中文中"), Utf8ToText("中"), false, 2,
         Utf8ToText("中"), 4},
        // The search runs over the subject as it converts back from UTF-16.
        {"a lone lead byte reads back as a question mark", "x\xA1", "[^x]", false, 1, "?", 1},
    };
    for (const PositionCase& c : cases) {
        SCOPED_TRACE(c.name);
        RegexObject regex;
        ASSERT_TRUE(regex.Compile(c.pattern, c.subject, c.caseSensitive));
        int position = 99;
        EXPECT_EQ(regex.MatchText(c.index, &position), c.text);
        EXPECT_EQ(position, c.position);
        EXPECT_EQ(regex.MatchText(c.index), c.text);
    }
}

struct SubmatchCase {
    const char* name;
    Text subject;
    Text pattern;
    int match;
    int submatch;
    Text text;
    int position;
};

TEST(RegexObject, ReportsSubmatchesFromTheStartOfTheirMatch) {
    const std::vector<SubmatchCase> cases = {
        {"second group", "key=val", "(\\w+)=(\\w+)", 1, 2, "val", 4},
        {"second match", "a=1;b=2", "(\\w)=(\\d)", 2, 2, "2", 6},
        {"after a double-byte character", Utf8ToText("中=文"), "(.)=(.)", 1, 2, Utf8ToText("文"),
         3},
        // The first occurrence from the match's start, not the group's own place.
        {"group text also earlier in the match", "abab", "ba(b)", 1, 1, "b", 1},
        {"group that took no part", "b", "(a)?b", 1, 1, "", 0},
        {"group past the count", "ab", "(a)b", 1, 2, "", 0},
        {"match past the count", "ab", "(a)b", 2, 1, "", 0},
    };
    for (const SubmatchCase& c : cases) {
        SCOPED_TRACE(c.name);
        RegexObject regex;
        ASSERT_TRUE(regex.Compile(c.pattern, c.subject));
        int position = 99;
        EXPECT_EQ(regex.SubmatchText(c.match, c.submatch, &position), c.text);
        EXPECT_EQ(position, c.position);
    }
}

TEST(RegexObject, CountsTheGroupsOfTheFirstMatch) {
    RegexObject regex;
    ASSERT_TRUE(regex.Compile("(a)(b)?", "a ab"));
    EXPECT_EQ(regex.MatchCount(), 2);
    EXPECT_EQ(regex.SubmatchCount(), 2);
    ASSERT_TRUE(regex.Compile("a", "a"));
    EXPECT_EQ(regex.SubmatchCount(), 0);
}

TEST(RegexObject, ReplacesMatchesInCodePage936Text) {
    struct Case {
        const char* name;
        Text pattern;
        Text subject;
        std::optional<Text> replacement;
        Text expected;
    };
    const std::vector<Case> cases = {
        {"omitted replacement removes", "b", "abcb", std::nullopt, "ac"},
        {"groups", "(\\w+)@(\\w+)", "x a@b", "$2@$1", "x b@a"},
        {"Chinese", Utf8ToText("文"), Utf8ToText("中文中文"), Utf8ToText("字"),
         Utf8ToText("中字中字")},
        {"case ignored by default", "a", "aA", "-", "--"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RegexObject regex;
        ASSERT_TRUE(regex.Compile(c.pattern, c.subject));
        EXPECT_EQ(c.replacement ? regex.ReplaceMatches(*c.replacement) : regex.ReplaceMatches(),
                  c.expected);
    }
}

TEST(RegexObject, ANewCompileReplacesTheOldRun) {
    RegexObject regex;
    ASSERT_TRUE(regex.Compile("a", "xa"));
    ASSERT_TRUE(regex.Compile("b", "bbb"));
    EXPECT_EQ(regex.PatternText(), "b");
    EXPECT_EQ(regex.MatchCount(), 3);
    int position = 0;
    EXPECT_EQ(regex.MatchText(3, &position), "b");
    EXPECT_EQ(position, 2);
    EXPECT_EQ(regex.ReplaceMatches("c"), "ccc");
}

}  // namespace
}  // namespace qubrelo
