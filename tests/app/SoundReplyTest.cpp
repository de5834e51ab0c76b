#include <gtest/gtest.h>

#include <string>

#include "app/AppConfig.h"
#include "app/SoundLookup.h"
#include "text/CodePage.h"

namespace qubrelo {
namespace {

AppConfig Config() {
    AppConfig config;
    config.apiHost = "api.test:8080";
    config.staticHost = "static.test:8081";
    return config;
}

const Text kSourcePrefix = "http://static.test:8081/sound/";
const Text kPrefix = "http://static.test:8081/";

struct ReplyCase {
    const char* name;
    std::string reply;
    // Per slot (source, 32, 64, 128): nullptr for "假" and the bare prefix, else the address.
    const char* urls[4];
};

class ReadSoundReplyTest : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(ReadSoundReplyTest, AvailabilityAndAddresses) {
    const ReplyCase& c = GetParam();
    const SoundRecord record = ReadSoundReply(c.reply, Config());
    for (std::size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(kSoundReplyKeys[i]);
        const Slot slot = kAllSlots[i];
        const Text prefix = slot == Slot::Source ? kSourcePrefix : kPrefix;
        if (c.urls[i] == nullptr) {
            EXPECT_EQ(record.availability[slot], Utf8ToText("假"));
            EXPECT_EQ(record.urls[slot], prefix);
        } else {
            EXPECT_EQ(record.availability[slot], Utf8ToText("真"));
            EXPECT_EQ(record.urls[slot], Text(c.urls[i]));
        }
    }
}

#define S "http://static.test:8081/sound/"
#define P "http://static.test:8081/"

const ReplyCase kReplyCases[] = {
    {"AllFourMembers",
     R"({"code":0,"info":{"sound":{"id":5,"soundurl":"201/a.mp3","soundurl_32":"32/a.mp3",)"
     R"("soundurl_64":"64/a.mp3","soundurl_128":"128/a.mp3","duration":7}}})",
     {S "201/a.mp3", P "32/a.mp3", P "64/a.mp3", P "128/a.mp3"}},
    // The source slot needs its own member: a longer key is a different name.
    {"Only64",
     R"({"id":1,"soundurl_64":"64/b.mp3","x":2})",
     {nullptr, nullptr, P "64/b.mp3", nullptr}},
    {"MemberFirstInItsObject",
     R"({"soundurl_32":"32/first.mp3","id":1})",
     {nullptr, P "32/first.mp3", nullptr, nullptr}},
    {"MemberLastInItsObject",
     R"({"a":{"id":1,"soundurl_64":"64/last.mp3"},"b":"x\",y"})",
     {nullptr, nullptr, P "64/last.mp3", nullptr}},
    {"EscapesAreDecoded",
     R"({"soundurl_128":"sound\/128\/a\u0062c.mp3"})",
     {nullptr, nullptr, nullptr, P "sound/128/abc.mp3"}},
    {"NonAsciiIsEncodedAsUtf8",
     R"({"soundurl_64":"64/\u4e2d 1.mp3"})",
     {nullptr, nullptr, P "64/%E4%B8%AD%201.mp3", nullptr}},
    {"KeyInsideAnotherValueIsNotAMember",
     R"({"title":"soundurl_128 \"soundurl_32\":\"x\"","id":1})",
     {nullptr, nullptr, nullptr, nullptr}},
    {"AbsoluteAddressesKept",
     R"({"soundurl":"https://cdn.test/s.mp3","soundurl_64":"HTTP://cdn.test/64.mp3","soundurl_32":"httpx/32.mp3"})",
     {"https://cdn.test/s.mp3", P "httpx/32.mp3", "HTTP://cdn.test/64.mp3", nullptr}},
    {"EmptyAndNonStringValuesAreAbsent",
     R"({"soundurl":"","soundurl_32":null,"soundurl_64":64,"soundurl_128":["128/a.mp3"]})",
     {nullptr, nullptr, nullptr, nullptr}},
    {"MembersAnywhereInTheTree",
     R"({"soundurl_128":{"soundurl_128":"deep.mp3"},"list":[1,{"soundurl_32":"arr.mp3"}]})",
     {nullptr, P "arr.mp3", nullptr, P "deep.mp3"}},
    {"FirstInDocumentOrder",
     R"({"a":{"soundurl_32":"first.mp3"},"soundurl_32":"second.mp3","soundurl_64":"one","soundurl_64":"two"})",
     {nullptr, P "first.mp3", P "one", nullptr}},
    {"EmptyValueDoesNotHideALaterOne",
     R"({"soundurl_32":"","more":{"soundurl_32":"later.mp3"}})",
     {nullptr, P "later.mp3", nullptr, nullptr}},
    {"InvalidJson",
     R"({"soundurl_32":"32/a.mp3","soundurl_64":"64/a.mp3",)",
     {nullptr, nullptr, nullptr, nullptr}},
    {"TrailingBytesAfterJson",
     R"({"soundurl_32":"32/a.mp3"} <html>)",
     {nullptr, nullptr, nullptr, nullptr}},
    {"ErrorPage",
     "<html><body>502 Bad Gateway soundurl_32</body></html>",
     {nullptr, nullptr, nullptr, nullptr}},
    {"EmptyReply", "", {nullptr, nullptr, nullptr, nullptr}},
    {"TopLevelString", R"("soundurl_32")", {nullptr, nullptr, nullptr, nullptr}},
    {"NulInValueStaysOutOfTheText",
     R"({"soundurl_32":"a\u0000b.mp3"})",
     {nullptr, P "a%00b.mp3", nullptr, nullptr}},
};

#undef S
#undef P

INSTANTIATE_TEST_SUITE_P(Replies, ReadSoundReplyTest, ::testing::ValuesIn(kReplyCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ReadSoundReplyTest, DeeplyNestedReplyIsReadWithoutRecursion) {
    std::string reply;
    for (int i = 0; i < 100000; ++i) {
        reply += R"({"a":)";
    }
    reply += R"({"soundurl_32":"deep.mp3"})";
    reply += std::string(100000, '}');
    const SoundRecord record = ReadSoundReply(reply, Config());
    EXPECT_EQ(record.urls[Slot::Kbps32], kPrefix + "deep.mp3");
}

TEST(PercentEncodeIdTest, EncodesEveryByteOutsideTheUnreservedSet) {
    const struct {
        const char* name;
        Text id;
        Text expected;
    } cases[] = {
        {"digits unchanged", "1234567890", "1234567890"},
        {"empty", "", ""},
        {"unreserved marks unchanged", "aZ-._~", "aZ-._~"},
        {"space and ampersand", "a b&c", "a%20b%26c"},
        {"hash and equals", "x#y=", "x%23y%3D"},
        {"line break", "1\r\n2", "1%0D%0A2"},
        {"percent itself", "100%", "100%25"},
        {"slash and question mark", "/?", "%2F%3F"},
        {"two-byte text", Utf8ToText("中文"), "%D6%D0%CE%C4"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(PercentEncodeId(c.id), c.expected);
    }
}

TEST(SoundQueryUrlTest, ApiHostWithPortPathAndEncodedId) {
    EXPECT_EQ(SoundQueryUrl(Config(), "12345"),
              "http://api.test:8080/sound/getsound?soundid=12345");
    EXPECT_EQ(SoundQueryUrl(Config(), ""), "http://api.test:8080/sound/getsound?soundid=");
    EXPECT_EQ(SoundQueryUrl(Config(), "1 2"), "http://api.test:8080/sound/getsound?soundid=1%202");
}

}  // namespace
}  // namespace qubrelo
