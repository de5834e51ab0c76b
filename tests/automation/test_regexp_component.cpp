#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/automation/Automation.h"

namespace qubrelo::automation {
namespace {

struct ExpectedMatch {
    std::u16string value;
    int firstIndex;
    // nullopt for a group that took no part in the match.
    std::vector<std::optional<std::u16string>> submatches = {};
};

struct Options {
    bool ignoreCase = false;
    bool multiline = false;
    bool global = true;
};

AutomationObject MakeRegExp(std::u16string_view pattern, Options options) {
    AutomationObject regExp;
    EXPECT_TRUE(regExp.Create("VBScript.RegExp"));
    EXPECT_TRUE(regExp.Put("IgnoreCase", AutomationVariant(options.ignoreCase)));
    EXPECT_TRUE(regExp.Put("Multiline", AutomationVariant(options.multiline)));
    EXPECT_TRUE(regExp.Put("Global", AutomationVariant(options.global)));
    EXPECT_TRUE(regExp.Put("Pattern", AutomationVariant(std::u16string(pattern))));
    return regExp;
}

std::vector<ExpectedMatch> ReadMatches(const AutomationObject& collection) {
    std::vector<ExpectedMatch> matches;
    const int count = static_cast<int>(collection.GetNumber("Count"));
    for (int i = 0; i < count; ++i) {
        const AutomationObject match = collection.GetObject("Item", {AutomationVariant(i)});
        ExpectedMatch read{match.Get("Value").ToUtf16(),
                           static_cast<int>(match.GetNumber("FirstIndex"))};
        EXPECT_EQ(match.GetNumber("Length"), static_cast<double>(read.value.size()));
        const AutomationObject subs = match.GetObject("SubMatches");
        const int subCount = static_cast<int>(subs.GetNumber("Count"));
        for (int s = 0; s < subCount; ++s) {
            const AutomationVariant sub = subs.Get("Item", {AutomationVariant(s)});
            read.submatches.push_back(sub.IsEmpty() ? std::nullopt : std::optional(sub.ToUtf16()));
        }
        matches.push_back(std::move(read));
    }
    return matches;
}

struct ExecuteCase {
    const char* name;
    std::u16string pattern;
    std::u16string subject;
    Options options;
    std::vector<ExpectedMatch> matches;
};

void PrintTo(const ExecuteCase& c, std::ostream* os) { *os << c.name; }

class RegExpExecute : public testing::TestWithParam<ExecuteCase> {};

TEST_P(RegExpExecute, FindsTheMatchesAndGroups) {
    const ExecuteCase& c = GetParam();
    const AutomationObject regExp = MakeRegExp(c.pattern, c.options);
    const AutomationObject collection =
        regExp.Call("Execute", {AutomationVariant(c.subject)}).ToObject();
    ASSERT_FALSE(collection.IsEmpty());
    const std::vector<ExpectedMatch> matches = ReadMatches(collection);
    ASSERT_EQ(matches.size(), c.matches.size());
    for (std::size_t i = 0; i < matches.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(matches[i].value, c.matches[i].value);
        EXPECT_EQ(matches[i].firstIndex, c.matches[i].firstIndex);
        EXPECT_EQ(matches[i].submatches, c.matches[i].submatches);
    }
}

const Options kIgnoreCase{.ignoreCase = true};
const Options kMultiline{.multiline = true};
const Options kFirstOnly{.global = false};

INSTANTIATE_TEST_SUITE_P(
    Table, RegExpExecute,
    testing::Values(
        ExecuteCase{"lazy repetition stops at the first close",
                    u"<.+?>",
                    u"<a><bc>",
                    {},
                    {{u"<a>", 0}, {u"<bc>", 3}}},
        ExecuteCase{
            "greedy repetition runs to the last close", u"<.+>", u"<a><bc>", {}, {{u"<a><bc>", 0}}},
        ExecuteCase{"negated class", u"[^,]+", u"a,bc,,d", {}, {{u"a", 0}, {u"bc", 2}, {u"d", 6}}},
        ExecuteCase{"word characters are ASCII letters, digits and underscore",
                    u"\\w+",
                    u"ab_1 c-d\u4e2de",
                    {},
                    {{u"ab_1", 0}, {u"c", 5}, {u"d", 7}, {u"e", 9}}},
        ExecuteCase{"a non-word class takes Chinese characters",
                    u"[^\\w]+",
                    u"a\u4e2d\u6587b",
                    {},
                    {{u"\u4e2d\u6587", 1}}},
        ExecuteCase{"capture groups, one empty",
                    u"(\\w+)=(\\d*)",
                    u"a=1&b=",
                    {},
                    {{u"a=1", 0, {u"a", u"1"}}, {u"b=", 4, {u"b", u""}}}},
        ExecuteCase{
            "a group that takes no part", u"(a)|(b)", u"b", {}, {{u"b", 0, {std::nullopt, u"b"}}}},
        ExecuteCase{"case matters by default", u"abc", u"ABC abc", {}, {{u"abc", 4}}},
        ExecuteCase{"IgnoreCase", u"abc", u"ABC abc", kIgnoreCase, {{u"ABC", 0}, {u"abc", 4}}},
        ExecuteCase{"line start without Multiline", u"^\\w", u"ab\ncd", {}, {{u"a", 0}}},
        ExecuteCase{
            "line start with Multiline", u"^\\w", u"ab\r\ncd", kMultiline, {{u"a", 0}, {u"c", 4}}},
        ExecuteCase{
            "line end with Multiline", u"\\w$", u"ab\ncd", kMultiline, {{u"b", 1}, {u"d", 4}}},
        ExecuteCase{"end without Multiline is the very end", u"a$", u"a\n", {}, {}},
        ExecuteCase{
            "dot stops at line ends", u"a.+", u"abc\r\nabd", {}, {{u"abc", 0}, {u"abd", 5}}},
        ExecuteCase{"Global off keeps the first match", u"a", u"baa", kFirstOnly, {{u"a", 1}}},
        ExecuteCase{"FirstIndex counts UTF-16 units", u"b", u"\u4e2d\u6587abc", {}, {{u"b", 3}}},
        ExecuteCase{"a character outside the basic plane is two units",
                    u"b",
                    u"\U0001F600b",
                    {},
                    {{u"b", 2}}},
        ExecuteCase{"a lone surrogate does not stop matching",
                    u"b",
                    u"a\xD800"
                    u"b",
                    {},
                    {{u"b", 2}}},
        ExecuteCase{"empty matches advance one unit",
                    u"x*",
                    u"abc",
                    {},
                    {{u"", 0}, {u"", 1}, {u"", 2}, {u"", 3}}},
        ExecuteCase{
            "empty and non-empty matches mix", u"a*", u"baa", {}, {{u"", 0}, {u"aa", 1}, {u"", 3}}},
        ExecuteCase{"an empty subject has one empty match", u"x*", u"", {}, {{u"", 0}}},
        ExecuteCase{"\\u escape", u"\\u4e2d", u"\u6587\u4e2d", {}, {{u"\u4e2d", 1}}},
        ExecuteCase{"\\x escape", u"\\x41+", u"bAA", {}, {{u"AA", 1}}},
        ExecuteCase{"[^] takes anything, line ends too", u"a[^]b", u"a\nb", {}, {{u"a\nb", 0}}},
        ExecuteCase{"[] takes nothing", u"a[]", u"a", {}, {}},
        ExecuteCase{"a reference to an unset group matches empty",
                    u"(a)?\\1b",
                    u"b",
                    {},
                    {{u"b", 0, {std::nullopt}}}},
        ExecuteCase{"no match gives an empty collection", u"z", u"abc", {}, {}}));

TEST(RegExp, SinglelineIsAcceptedAndChangesNothing) {
    AutomationObject regExp = MakeRegExp(u"a.b", {});
    EXPECT_TRUE(regExp.Put("Singleline", AutomationVariant(true)));
    EXPECT_EQ(regExp.GetText("Singleline"), "-1");
    const AutomationObject collection =
        regExp.Call("Execute", {AutomationVariant(std::u16string(u"a\nb"))}).ToObject();
    ASSERT_FALSE(collection.IsEmpty());
    EXPECT_EQ(collection.GetNumber("Count"), 0);
}

TEST(RegExp, PropertiesReadBackAsWritten) {
    AutomationObject regExp = MakeRegExp(u"\u4e2d+", {.ignoreCase = true, .global = false});
    EXPECT_EQ(regExp.Get("Pattern").ToUtf16(), u"\u4e2d+");
    EXPECT_EQ(regExp.GetText("IgnoreCase"), "-1");
    EXPECT_EQ(regExp.GetText("Global"), "0");
    EXPECT_EQ(regExp.GetText("Multiline"), "0");
}

TEST(RegExp, ItemOutsideTheCollectionIsEmpty) {
    const AutomationObject regExp = MakeRegExp(u"(a)", {});
    const AutomationObject collection =
        regExp.Call("Execute", {AutomationVariant(std::u16string(u"aa"))}).ToObject();
    for (double index : {-1.0, 2.0, 1e300}) {
        SCOPED_TRACE(index);
        EXPECT_TRUE(collection.GetObject("Item", {AutomationVariant(index)}).IsEmpty());
    }
    EXPECT_TRUE(collection.GetObject("Item").IsEmpty());
    const AutomationObject subs =
        collection.GetObject("Item", {AutomationVariant(1.0)}).GetObject("SubMatches");
    EXPECT_EQ(subs.GetText("Item", {AutomationVariant(0)}), "a");
    EXPECT_TRUE(subs.Get("Item", {AutomationVariant(1)}).IsEmpty());
}

struct ReplaceCase {
    const char* name;
    std::u16string pattern;
    std::u16string subject;
    std::u16string replacement;
    bool global;
    std::u16string expected;
};

void PrintTo(const ReplaceCase& c, std::ostream* os) { *os << c.name; }

class RegExpReplace : public testing::TestWithParam<ReplaceCase> {};

TEST_P(RegExpReplace, ReadsTheReplacementForms) {
    const ReplaceCase& c = GetParam();
    const AutomationObject regExp = MakeRegExp(c.pattern, {.global = c.global});
    const AutomationVariant result =
        regExp.Call("Replace", {AutomationVariant(c.subject), AutomationVariant(c.replacement)});
    ASSERT_FALSE(result.IsEmpty());
    EXPECT_EQ(result.ToUtf16(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RegExpReplace,
    testing::Values(
        ReplaceCase{"groups swap", u"(\\w+)@(\\w+)", u"x a@b y", u"$2@$1", true, u"x b@a y"},
        ReplaceCase{"whole match", u"b", u"abc", u"[$&]", true, u"a[b]c"},
        ReplaceCase{"text before the match", u"b", u"abc", u"<$`>", true, u"a<a>c"},
        ReplaceCase{"text after the match", u"b", u"abc", u"<$'>", true, u"a<c>c"},
        ReplaceCase{"before and after each of several matches", u"b", u"abab", u"($`|$')", true,
                    u"a(a|ab)a(aba|)"},
        ReplaceCase{"dollar dollar", u"b", u"abc", u"$$", true, u"a$c"},
        ReplaceCase{"a group beyond the count stays literal", u"(b)", u"abc", u"$3", true, u"a$3c"},
        ReplaceCase{"two digits fall back to one when the group is missing", u"(b)", u"abc", u"$12",
                    true, u"ab2c"},
        ReplaceCase{"two digits name group ten", u"(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)", u"abcdefghij",
                    u"$10$1", true, u"ja"},
        ReplaceCase{"a leading zero", u"(b)", u"abc", u"$01", true, u"abc"},
        ReplaceCase{"$0 stays literal", u"(b)", u"abc", u"$0", true, u"a$0c"},
        ReplaceCase{"$00 stays literal", u"(b)", u"abc", u"$00", true, u"a$00c"},
        ReplaceCase{"an unset group gives nothing", u"(a)|(b)", u"b", u"[$1]", true, u"[]"},
        ReplaceCase{"a dollar at the end stays", u"b", u"abc", u"x$", true, u"ax$c"},
        ReplaceCase{"an unknown form stays", u"b", u"abc", u"$x", true, u"a$xc"},
        ReplaceCase{"Global off replaces the first match", u"a", u"aaa", u"b", false, u"baa"},
        ReplaceCase{"Global on replaces every match", u"a", u"aaa", u"b", true, u"bbb"},
        ReplaceCase{"empty matches", u"x*", u"abc", u"-", true, u"-a-b-c-"},
        ReplaceCase{"no match leaves the subject", u"z", u"abc", u"-", true, u"abc"},
        ReplaceCase{"Chinese text", u"\u6587", u"\u4e2d\u6587\u4e2d", u"[$&]", true,
                    u"\u4e2d[\u6587]\u4e2d"}));

TEST(RegExp, RefusedPatternFailsEveryRun) {
    AutomationObject regExp;
    ASSERT_TRUE(regExp.Create("VBScript.RegExp"));
    const AutomationVariant subject(std::u16string(u"aaa"));
    // "(*UTF)" would make a lone surrogate in a subject fail every run, so it is refused.
    for (const char16_t* pattern : {u"(a", u"a)", u"[a", u"a{2,1}", u"a\\", u"(*UTF)a"}) {
        SCOPED_TRACE(testing::PrintToString(std::u16string(pattern)));
        regExp.Put("Pattern", AutomationVariant(std::u16string(pattern)));
        EXPECT_TRUE(regExp.Call("Execute", {subject}).IsEmpty());
        EXPECT_TRUE(
            regExp.Call("Replace", {subject, AutomationVariant(std::u16string(u"b"))}).IsEmpty());
        EXPECT_TRUE(regExp.Call("Test", {subject}).IsEmpty());
    }
    // The object stays usable once the pattern is put right.
    regExp.Put("Pattern", AutomationVariant(std::u16string(u"(a)")));
    regExp.Put("Global", AutomationVariant(true));
    EXPECT_EQ(regExp.Call("Execute", {subject}).ToObject().GetNumber("Count"), 3);
}

TEST(RegExp, ChangingAFlagRecompiles) {
    AutomationObject regExp = MakeRegExp(u"a", {});
    const AutomationVariant subject(std::u16string(u"aA"));
    EXPECT_EQ(regExp.Call("Execute", {subject}).ToObject().GetNumber("Count"), 1);
    regExp.Put("IgnoreCase", AutomationVariant(true));
    EXPECT_EQ(regExp.Call("Execute", {subject}).ToObject().GetNumber("Count"), 2);
}

// A pattern that backtracks without end over a few megabytes fails its run cleanly, while a
// pattern that scans the same subject linearly still runs through.
TEST(RegExp, RunawayBacktrackingFailsTheRun) {
    std::u16string subject(3 * 1024 * 1024, u'a');
    subject.push_back(u'b');
    const AutomationVariant variant(subject);

    const AutomationObject runaway = MakeRegExp(u"(a+)+$", {});
    EXPECT_TRUE(runaway.Call("Execute", {variant}).IsEmpty());
    EXPECT_TRUE(
        runaway.Call("Replace", {variant, AutomationVariant(std::u16string(u"x"))}).IsEmpty());

    const AutomationObject linear = MakeRegExp(u"[^x]+?b", {});
    const AutomationObject collection = linear.Call("Execute", {variant}).ToObject();
    ASSERT_FALSE(collection.IsEmpty());
    ASSERT_EQ(collection.GetNumber("Count"), 1);
    EXPECT_EQ(collection.GetObject("Item", {AutomationVariant(0)}).GetNumber("Length"),
              static_cast<double>(subject.size()));
}

// Each start position stays under the per-position limit here, but together they would take
// hours: the run's budget ends it.
TEST(RegExp, RunawayBacktrackingOverManyStartPositionsFailsTheRun) {
    std::u16string subject;
    for (int run = 0; run < 2000; ++run) {
        subject.append(20, u'a');
        subject.push_back(u' ');
    }
    const AutomationObject runaway = MakeRegExp(u"(a+)+$", {});
    EXPECT_TRUE(runaway.Call("Execute", {AutomationVariant(subject)}).IsEmpty());
}

}  // namespace
}  // namespace qubrelo::automation
