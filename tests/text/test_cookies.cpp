#include <gtest/gtest.h>

#include <random>
#include <string>

#include "text/Primitives.h"
#include "web/cookies/Cookies.h"

namespace qubrelo {
namespace {

struct MergeRow {
    const char* name;
    Text cookies;
    Text received;
    Text merged;
    Text receivedAfter;
};

void PrintTo(const MergeRow& row, std::ostream* out) { *out << row.name; }

class MergeCookiesTable : public testing::TestWithParam<MergeRow> {};

TEST_P(MergeCookiesTable, RewritesBothListsAndReturnsTheMerge) {
    const MergeRow& row = GetParam();
    Text cookies = row.cookies;
    Text received = row.received;
    const Text result = MergeCookies(cookies, received);
    EXPECT_EQ(cookies, row.merged);
    EXPECT_EQ(result, row.merged);
    EXPECT_EQ(received, row.receivedAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Table, MergeCookiesTable,
    testing::Values(
        MergeRow{"ResponseWinsAndComesFirst", "a=1; b=2", "b=3; c=4", "b=3; c=4; a=1", "b=3;c=4"},
        MergeRow{"DeletedRemovesKeptCookie", "a=1", "a=deleted", "", "a=deleted"},
        MergeRow{"BareDeletedDropped", "", "=deleted; b=1", "b=1", "=deleted;b=1"},
        MergeRow{"DeletedWithSuffixStays", "", "a=deletedx", "a=deletedx", "a=deletedx"},
        MergeRow{"EmptyReceivedKeepsList", "a=1", "", "a=1", ""},
        MergeRow{"BothEmpty", "", "", "", ""},
        MergeRow{"BlanksVanishInsideValues", "x=hello world", "", "x=helloworld", ""},
        MergeRow{"IdeographicSpaceIsABlank",
                 "x=a\xA1\xA1"
                 "b",
                 "", "x=ab", ""},
        MergeRow{"ExactRepeatOnce", "", "a=1; a=1", "a=1", "a=1;a=1"},
        MergeRow{"SameNameDifferentValuesBothStay", "", "a=1; a=2", "a=1; a=2", "a=1;a=2"},
        MergeRow{"NamesDifferByCase", "A=1", "a=2", "a=2; A=1", "a=2"},
        MergeRow{"OnlyFirstKeptEntryOfANameSurvives", "k=1; k=2; m=3", "", "k=1; m=3", ""},
        MergeRow{"EntryWithoutEqualsIsItsOwnName", "flag; a=1", "flag", "flag; a=1", "flag"},
        MergeRow{"TrailingSemicolonGivesNoEmptyEntry", "a=1;", "b=2;", "b=2; a=1", "b=2;"},
        MergeRow{"TwoByteNamesCompareExactly", "\xC3\xFB=1", "\xC3\xFB=2", "\xC3\xFB=2",
                 "\xC3\xFB=2"}),
    [](const auto& info) { return info.param.name; });

TEST(CookieHelpers, NameIndexAndDistinct) {
    EXPECT_EQ(CookieName(" sid =abc"), "sid");
    EXPECT_EQ(CookieName("flag "), "flag");
    EXPECT_EQ(CookieName("=x"), "");
    EXPECT_EQ(CookieName("a=b=c"), "a");

    const TextArray list({"a=1", "B=2", "a=1"});
    EXPECT_TRUE(HasCookieName(list, "B"));
    EXPECT_FALSE(HasCookieName(list, "b"));
    EXPECT_FALSE(HasCookieName(TextArray{}, ""));
    EXPECT_EQ(IndexOfText(list, "a=1"), 1);
    EXPECT_EQ(IndexOfText(list, "B=2"), 2);
    EXPECT_EQ(IndexOfText(list, "b=2"), -1);

    EXPECT_EQ(JoinDistinct("x; y; x; z; y", "; "), "x; y; z");
    EXPECT_EQ(JoinDistinct("", "; "), "");
    EXPECT_EQ(JoinDistinct("a,,a,", ","), "a,");  // the empty item is kept once
}

// The merge written as plain list scans with the helpers, to check the merge's own lookups.
Text ModelMerge(Text& cookies, Text& received) {
    cookies = TextStripSpaces(cookies);
    received = TextStripSpaces(received);
    const TextArray kept = TextSplit(cookies, ";");
    TextArray merged = TextSplit(received, ";");
    for (const Text& entry : kept) {
        if (!HasCookieName(merged, CookieName(entry))) merged.Append(entry);
    }
    cookies.clear();
    for (const Text& entry : merged) {
        if (TextRight(entry, 8) != "=deleted") cookies += entry + "; ";
    }
    cookies = TextLeft(cookies, TextLength(cookies) - 2);
    TextArray seen;
    Text out;
    for (const Text& item : TextSplit(cookies, "; ")) {
        if (IndexOfText(seen, item) == -1) {
            seen.Append(item);
            out += item + "; ";
        }
    }
    cookies = TextLeft(out, TextLength(out) - 2);
    return cookies;
}

TEST(CookieMergeModel, AgreesWithPlainScans) {
    std::mt19937 random(2301);
    const char* pieces[] = {"a", "b", "A", "=", "1", "2", ";", " ", "deleted", "\xC3\xFB", "x"};
    const auto randomList = [&] {
        Text list;
        for (int n = random() % 12; n > 0; --n) list += pieces[random() % std::size(pieces)];
        return list;
    };
    for (int round = 0; round < 5000; ++round) {
        Text cookies = randomList(), received = randomList();
        Text modelCookies = cookies, modelReceived = received;
        SCOPED_TRACE(testing::Message()
                     << "cookies '" << cookies << "' received '" << received << "'");
        const Text result = MergeCookies(cookies, received);
        const Text modelResult = ModelMerge(modelCookies, modelReceived);
        ASSERT_EQ(result, modelResult);
        ASSERT_EQ(cookies, modelCookies);
        ASSERT_EQ(received, modelReceived);
    }
}

}  // namespace
}  // namespace qubrelo
