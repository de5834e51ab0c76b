// The page fetch against loopback servers, a real proxy and a self-signed HTTPS server.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <climits>
#include <thread>

#include "platform/automation/Automation.h"
#include "platform/http/Cancellation.h"
#include "platform/http/HttpTransport.h"
#include "platform/http/LargeBuffer.h"
#include "tests/http/TestServer.h"
#include "text/CodePage.h"
#include "web/FetchPage.h"

namespace qubrelo {
namespace {

using namespace std::chrono_literals;
using http::TransportOperation;
using testing::RecordedRequest;
using testing::Reply;
using testing::TestHttpServer;

const Text kKept = "caller's value";

// Out-arguments preset to kKept, so a test sees which ones the fetch wrote.
struct Outs {
    Text receivedCookies = kKept;
    Text responseHeaders = kKept;
    Text location = kKept;
    Text statusText = kKept;
    ByteBuffer responseBody = ByteBuffer{1, 2, 3};

    void Wire(FetchPageArgs& args) {
        args.receivedCookies = &receivedCookies;
        args.responseHeaders = &responseHeaders;
        args.location = &location;
        args.statusText = &statusText;
        args.responseBody = &responseBody;
    }
};

struct Fetched {
    Text page;
    Outs outs;
    int events = 0;
};

Fetched Fetch(const std::string& url, FetchPageArgs args = {}) {
    Fetched f;
    f.outs.Wire(args);
    ScopedProcessEventsCounter counter;
    f.page = FetchPage(url, args);
    f.events = counter.count();
    EXPECT_EQ(automation::InitializationDepth(), 0) << "automation layer left unbalanced";
    return f;
}

ByteBuffer Bytes(std::string_view s) { return ByteBuffer(s.begin(), s.end()); }

int Lines(std::string_view headers) {
    // Lines the fetch walks: the split of the header text at "\r\n".
    int n = 0;
    for (std::size_t at = 0; (at = headers.find("\r\n", at)) != std::string_view::npos; at += 2)
        ++n;
    return n;
}

Reply Ok(std::string body) { return Reply::Http(200, "OK", std::move(body)); }

// Failures before the body: the status text, the event-processing calls that follow it, and
// every other out-argument left as the caller passed it.
TEST(FetchPage, FailuresWriteTheirStatusTextOnly) {
    TestHttpServer server([](const auto&) { return Ok("page"); });
    struct Case {
        const char* name;
        std::optional<TransportOperation> fault;
        Text expected;
        int events;
    };
    const Case cases[] = {
        {"session", TransportOperation::OpenSession, fetch_status::SessionFailed(), 2},
        {"connection", TransportOperation::Connect, fetch_status::ConnectionFailed(), 3},
        {"request", TransportOperation::OpenRequest, fetch_status::RequestFailed(), 4},
        {"time-outs", TransportOperation::SetTimeouts, fetch_status::TimeoutsFailed(), 5},
        {"server credentials", TransportOperation::SetServerCredentials,
         fetch_status::ServerCredentialsFailed(), 0},
        {"proxy credentials", TransportOperation::SetProxyCredentials,
         fetch_status::ProxyCredentialsFailed(), 0},
        {"cookie option", TransportOperation::SetCookieHandling, fetch_status::CookieOptionFailed(),
         0},
        {"redirect option", TransportOperation::SetFollowRedirects,
         fetch_status::RedirectOptionFailed(), 0},
        {"header block", TransportOperation::AddHeaders, fetch_status::HeadersFailed(), 6},
        {"send", TransportOperation::Send, fetch_status::SendFailed(), 7},
        {"receive", TransportOperation::ReceiveResponse, fetch_status::NoResponse(), 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FetchPageArgs args;
        args.userName = "u";
        args.password = "p";
        args.proxyUser = "pu";  // set without a proxy: the credentials are still set
        args.proxyPassword = "pp";
        args.refuseRedirects = true;
        Text cookies = "k=1";
        args.cookies = &cookies;
        http::ScopedTransportFault fault(*c.fault);
        const Fetched f = Fetch(server.Url("/"), args);
        EXPECT_EQ(f.page, "");
        EXPECT_EQ(f.outs.statusText, c.expected);
        EXPECT_EQ(f.events, c.events);
        EXPECT_EQ(f.outs.receivedCookies, kKept);
        EXPECT_EQ(f.outs.responseHeaders, kKept);
        EXPECT_EQ(f.outs.location, kKept);
        EXPECT_EQ(f.outs.responseBody, (ByteBuffer{1, 2, 3}));
        EXPECT_EQ(cookies, "k=1");
    }
    // Only the receive case gets as far as sending its request.
    EXPECT_LE(server.RequestCount(), 1u);
}

TEST(FetchPage, NetworkFailuresMapToTheirStage) {
    // Answers after 5 s: only a 1 s time-out that is honoured ends the wait first. The pause
    // ends when the server stops, so the test does not wait it out.
    TestHttpServer slow([](const auto&) {
        return std::move(Reply::Raw("").ThenPause(5s).Then(
            "HTTP/1.1 200 OK\r\nContent-Length: 4\r\nConnection: close\r\n\r\nlate"));
    });
    TestHttpServer silent([](const auto&) { return Reply::Raw(""); });
    const std::string refused =
        "http://127.0.0.1:" + std::to_string(testing::FreeLoopbackPort()) + "/";
    struct Case {
        const char* name;
        std::string url;
        Text expected;
        int events;
    };
    const Case cases[] = {
        {"empty address", "", fetch_status::BadUrl(), 1},
        {"not http", "ftp://127.0.0.1/", fetch_status::BadUrl(), 1},
        {"connection refused", refused, fetch_status::SendFailed(), 7},
        {"closed without answer", silent.Url("/"), fetch_status::NoResponse(), 8},
        {"no answer within the time-out", slow.Url("/"), fetch_status::NoResponse(), 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FetchPageArgs args;
        args.timeoutSeconds = 1;
        const Fetched f = Fetch(c.url, args);
        EXPECT_EQ(f.page, "");
        EXPECT_EQ(f.outs.statusText, c.expected);
        EXPECT_EQ(f.events, c.events);
        EXPECT_EQ(f.outs.responseHeaders, kKept);
    }
}

// Every time-out setting reaches a server that answers at once; the largest one must not
// overflow when the limits are combined.
TEST(FetchPage, TimeOutSettingsStillFetch) {
    TestHttpServer server([](const auto&) { return Ok("quick"); });
    for (const int seconds : {0, -5, 1, 3600, INT_MAX / 1000, INT_MAX / 1000 + 1, INT_MAX}) {
        SCOPED_TRACE(seconds);
        FetchPageArgs args;
        args.timeoutSeconds = seconds;
        const Fetched f = Fetch(server.Url("/"), args);
        EXPECT_EQ(f.page, "quick");
        EXPECT_EQ(f.outs.statusText, "200 OK");
    }
}

// A body cut short: reading stops with 713, then the headers overwrite the status and what did
// arrive becomes the page. When the header query fails as well, the 713 text stays.
TEST(FetchPage, CutBodyReadsWhatArrived) {
    TestHttpServer server(
        [](const auto&) { return Reply::Raw("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc"); });
    const Fetched f = Fetch(server.Url("/"));
    EXPECT_EQ(f.outs.statusText, "200 OK");
    EXPECT_EQ(f.page, "abc");
    EXPECT_EQ(f.outs.responseBody, Bytes("abc"));

    http::ScopedTransportFault fault(TransportOperation::QueryRawHeaders);
    const Fetched g = Fetch(server.Url("/"));
    EXPECT_EQ(g.outs.statusText, fetch_status::ReadFailed());
    EXPECT_EQ(g.page, "");
    EXPECT_EQ(g.outs.responseBody, (ByteBuffer{1, 2, 3}));
    EXPECT_EQ(g.outs.responseHeaders, kKept);
    EXPECT_EQ(g.events, 9);
}

TEST(FetchPage, NormalFetchFillsEveryOut) {
    TestHttpServer server([](const auto&) { return Ok("<html>hello</html>"); });
    const Fetched f = Fetch(server.Url("/a"));
    EXPECT_EQ(f.page, "<html>hello</html>");
    EXPECT_EQ(f.outs.statusText, "200 OK");
    EXPECT_EQ(f.outs.responseBody, Bytes("<html>hello</html>"));
    EXPECT_EQ(f.outs.responseHeaders,
              "HTTP/1.1 200 OK\r\nContent-Length: 18\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(f.outs.location, kKept);
    // No cookie was set: the kept text loses its last two characters.
    EXPECT_EQ(f.outs.receivedCookies, "caller's val");
    // One call per header line, one after the character-set step, nine as the stages close.
    EXPECT_EQ(f.events, Lines(f.outs.responseHeaders) + 1 + 9);
}

// The default header block and its searches, as the server receives it.
TEST(FetchPage, DefaultHeaders) {
    TestHttpServer server([](const auto&) { return Ok("x"); });
    const std::string ua = "Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; WOW64; Trident/5.0)";
    struct Case {
        const char* name;
        Text requestHeaders;
        std::optional<Text> cookies;
        std::vector<std::pair<std::string, std::optional<std::string>>> expected;
        std::vector<std::string> order = {};  // header names as received (Host left out)
    };
    const std::vector<std::string> defaultOrder = {"User-Agent",      "Accept",
                                                   "Accept-Encoding", "Accept-Language",
                                                   "Content-Type",    "Cache-Control"};
    std::vector<std::string> withCookie = defaultOrder;
    withCookie.push_back("Cookie");
    const Case cases[] = {
        {"none given",
         "",
         std::nullopt,
         {{"User-Agent", ua},
          {"Accept", "text/html, application/xhtml+xml, */*"},
          {"Accept-Encoding", "gbk, GB2312"},
          {"Accept-Language", "zh-cn"},
          {"Content-Type", "application/x-www-form-urlencoded"},
          {"Cache-Control", "no-cache"},
          {"Cookie", std::nullopt}},
         defaultOrder},
        {"small-letter user agent suppresses ours",
         "user-agent: mine",
         std::nullopt,
         {{"User-Agent", "mine"}}},
        // The exact-case search misses it, so the default line follows and takes its place.
        {"small-letter content type does not",
         "content-type: text/plain",
         std::nullopt,
         {{"Content-Type", "application/x-www-form-urlencoded"}}},
        {"Accept-Encoding alone keeps the Accept default",
         "Accept-Encoding: identity",
         std::nullopt,
         {{"Accept", "text/html, application/xhtml+xml, */*"}, {"Accept-Encoding", "identity"}}},
        {"own Accept kept", "ACCEPT: a/b", std::nullopt, {{"Accept", "a/b"}}},
        {"cookies present", "", Text("a=1; b=2"), {{"Cookie", "a=1; b=2"}}, withCookie},
        {"cookies present but empty", "", Text(""), {{"Cookie", std::nullopt}}},
        {"own cookie line wins", "cookie: mine=1", Text("a=1"), {{"Cookie", "mine=1"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FetchPageArgs args;
        args.requestHeaders = c.requestHeaders;
        Text cookies = c.cookies.value_or("");
        if (c.cookies) args.cookies = &cookies;
        const std::size_t before = server.RequestCount();
        Fetch(server.Url("/"), args);
        ASSERT_EQ(server.RequestCount(), before + 1);
        const RecordedRequest request = server.Requests().back();
        for (const auto& [name, value] : c.expected) {
            SCOPED_TRACE(name);
            EXPECT_EQ(request.Header(name), value);
            if (value) {
                EXPECT_EQ(request.HeaderCount(name), 1);
            }
        }
        if (!c.order.empty()) {
            std::vector<std::string> names;
            for (const auto& header : request.headers) {
                if (header.first != "Host") names.push_back(header.first);
            }
            EXPECT_EQ(names, c.order);
        }
    }
}

TEST(FetchPage, MethodsAndObjectNames) {
    TestHttpServer server([](const RecordedRequest& r) {
        return r.method == "HEAD" ? Reply::Http(200, "OK", "", {{"Content-Length", "5"}})
                                  : Ok("hello");
    });
    struct Case {
        int method;
        std::string path;
        const char* verb;
        const char* target;
        const char* page;
    };
    const Case cases[] = {
        {0, "/a/b?c=1", "GET", "/a/b?c=1", "hello"},
        {1, "/post", "POST", "/post", "hello"},
        {2, "/head", "HEAD", "/head", ""},
        {3, "/put", "PUT", "/put", "hello"},
        {4, "/four", "GET", "/four", "hello"},
        {-1, "/minus", "GET", "/minus", "hello"},
        {0, "", "GET", "/", "hello"},
        {0, "?q=1", "GET", "/", "hello"},  // a query without a path is lost
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        FetchPageArgs args;
        args.method = c.method;
        args.bodyText = c.method == 0 ? "" : "x=1";
        const std::size_t before = server.RequestCount();
        const Fetched f = Fetch("http://" + server.HostPort() + c.path, args);
        ASSERT_EQ(server.RequestCount(), before + 1);
        const RecordedRequest request = server.Requests().back();
        EXPECT_EQ(request.method, c.verb);
        EXPECT_EQ(request.target, c.target);
        EXPECT_EQ(request.body,
                  c.method == 1 || c.method == 3 || c.method == 4 || c.method == -1 ? "x=1" : "");
        EXPECT_EQ(f.page, c.page);
        EXPECT_EQ(f.outs.statusText, "200 OK");
        EXPECT_NE(f.outs.responseHeaders.find("Content-Length: 5"), std::string::npos);
    }
}

TEST(FetchPage, CookiesAndLocation) {
    TestHttpServer server([](const auto&) {
        return Reply::Raw(
            "HTTP/1.1 302 Found\r\nSet-Cookie: a=1; path=/\r\nset-cookie: b=2\r\n"
            "location: /next\r\nContent-Length: 2\r\nConnection: close\r\n\r\nhi");
    });
    struct Case {
        const char* name;
        std::optional<Text> cookies;
        Text receivedBefore;
        Text receivedAfter;
        Text cookiesAfter;
    };
    const Case cases[] = {
        {"no list", std::nullopt, "", "a=1; b=2", ""},
        {"text kept in front", std::nullopt, "x=9; ", "x=9; a=1; b=2", ""},
        {"merged into the list", Text("c=3; a=0"), "", "a=1;b=2", "a=1; b=2; c=3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FetchPageArgs args;
        args.refuseRedirects = true;
        Text cookies = c.cookies.value_or("");
        if (c.cookies) args.cookies = &cookies;
        Text received = c.receivedBefore;
        args.receivedCookies = &received;
        Text location, headers, status;
        args.location = &location;
        args.responseHeaders = &headers;
        args.statusText = &status;
        EXPECT_EQ(FetchPage(server.Url("/"), args), "hi");
        EXPECT_EQ(status, "302 Found");
        EXPECT_EQ(location, "/next");
        EXPECT_EQ(received, c.receivedAfter);
        if (c.cookies) {
            EXPECT_EQ(cookies, c.cookiesAfter);
        }
        EXPECT_NE(headers.find("\r\nSet-Cookie: b=2\r\n"), std::string::npos);
    }
}

TEST(FetchPage, RedirectsFollowedUnlessRefused) {
    TestHttpServer server([](const RecordedRequest& r) {
        if (r.target == "/1") return Reply::Http(301, "Moved", "one", {{"Location", "/2"}});
        if (r.target == "/2") return Reply::Http(302, "Found", "two", {{"Location", "/3"}});
        return Ok("three");
    });
    Outs followed;
    FetchPageArgs args;
    followed.Wire(args);
    EXPECT_EQ(FetchPage(server.Url("/1"), args), "three");
    EXPECT_EQ(followed.statusText, "200 OK");
    EXPECT_EQ(followed.location, kKept);

    args.refuseRedirects = true;
    EXPECT_EQ(FetchPage(server.Url("/1"), args), "one");
    EXPECT_EQ(followed.statusText, "301 Moved");
    EXPECT_EQ(followed.location, "/2");
}

TEST(FetchPage, ErrorPagesAreFetches) {
    for (const auto& answer :
         {std::pair{404, "Not Found"}, std::pair{500, "Internal Server Error"}}) {
        const int status = answer.first;
        const std::string reason = answer.second;
        TestHttpServer server(
            [&](const auto&) { return Reply::Http(status, reason, "error page"); });
        const Fetched f = Fetch(server.Url("/"));
        EXPECT_EQ(f.page, "error page");
        EXPECT_EQ(f.outs.statusText, std::to_string(status) + " " + reason);
    }
}

TEST(FetchPage, CharacterSetFromTheMetaTag) {
    const std::string utf8 = "\xE4\xBD\xA0\xE5\xA5\xBD";  // 你好 in UTF-8
    const Text gbk = Utf8ToText(utf8);
    const std::string padding(1100, ' ');
    const std::string mixed = gbk + "\x81\x7F" + gbk;  // 0x7F is no GBK trail byte
    struct Case {
        const char* name;
        std::string body;
        Text page;
    };
    const Case cases[] = {
        {"utf-8 decoded", "<meta charset=utf-8>" + utf8, Utf8ToText("<meta charset=utf-8>" + utf8)},
        {"quoted, attribute form",
         "<META http-equiv=\"Content-Type\" content=\"text/html; charset=\"UTF-8\">" + utf8,
         Utf8ToText("<META http-equiv=\"Content-Type\" content=\"text/html; charset=\"UTF-8\">" +
                    utf8)},
        // The invalid pair in the middle shows whether the bytes went through a decoder: decoded,
        // the lone lead byte becomes "?" and the ASCII byte after it stays.
        {"gb2312 left as received", "<meta charset=gb2312>" + mixed,
         "<meta charset=gb2312>" + mixed},
        {"gbk left as received", "<meta charset=gbk>" + mixed, "<meta charset=gbk>" + mixed},
        {"GBK decoded through the stream", "<meta charset=GBK>" + mixed,
         "<meta charset=GBK>" + gbk + "?\x7F" + gbk},
        {"meta tag after 1024 bytes unseen", padding + "<meta charset=utf-8>" + utf8,
         padding + "<meta charset=utf-8>" + utf8},
        {"unknown character set", "<meta charset=nonsense-xyz>" + mixed,
         "<meta charset=nonsense-xyz>" + mixed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestHttpServer server([&](const auto&) { return Ok(c.body); });
        const Fetched f = Fetch(server.Url("/"));
        EXPECT_EQ(f.page, c.page);
        EXPECT_EQ(f.outs.responseBody, Bytes(c.body));
    }
}

TEST(FetchPage, HeadGivesHeadersOnly) {
    TestHttpServer server([](const auto&) {
        return Reply::Http(200, "OK", "", {{"Content-Length", "1234"}, {"X-Kind", "head"}});
    });
    FetchPageArgs args;
    args.method = 2;
    const Fetched f = Fetch(server.Url("/"), args);
    EXPECT_EQ(f.page, "");
    EXPECT_TRUE(f.outs.responseBody.empty());
    EXPECT_NE(f.outs.responseHeaders.find("X-Kind: head\r\n"), std::string::npos);
}

// Room for the body is reserved from the announced length only where a body follows, and only
// up to a bound: a false length must not take the memory.
TEST(FetchPage, AnnouncedLengthReservesBoundedMemory) {
    const std::string huge = std::to_string(std::uint64_t{1} << 40);
    TestHttpServer server([&](const RecordedRequest& r) {
        if (r.target == "/none") return Reply::Raw("HTTP/1.1 204 No Content\r\n\r\n");
        if (r.target == "/same") {
            return Reply::Raw("HTTP/1.1 304 Not Modified\r\nContent-Length: " + huge + "\r\n\r\n");
        }
        return Reply::Raw("HTTP/1.1 200 OK\r\nContent-Length: " + huge + "\r\n\r\nabc");
    });
    struct Case {
        const char* name;
        std::string path;
        int method;
        std::size_t maxCapacity;
        std::string body;
    };
    const Case cases[] = {
        {"HEAD", "/head", 2, 0, ""},
        {"204", "/none", 0, 0, ""},
        {"304", "/same", 0, 0, ""},
        {"length never sent", "/lie", 0, std::size_t{64} << 20, "abc"},  // 64 MiB at most
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FetchPageArgs args;
        args.method = c.method;
        args.timeoutSeconds = 1;
        const Fetched f = Fetch(server.Url(c.path), args);
        EXPECT_EQ(f.outs.responseBody, Bytes(c.body));
        EXPECT_LE(f.outs.responseBody.capacity(), c.maxCapacity);
    }
}

// Memory refused while the body grows ends reading like a failed read: what fitted is kept.
TEST(FetchPage, RefusedMemoryEndsReading) {
    constexpr std::uint64_t kSize = 4 * 1024 * 1024;
    constexpr std::size_t kLimit = 1024 * 1024;
    TestHttpServer server([](const auto&) { return Reply::Generated(kSize); });
    http::ScopedBodyLimit limit(kLimit);
    const Fetched f = Fetch(server.Url("/"));
    EXPECT_EQ(f.outs.statusText, "200 OK");  // the headers still arrived
    EXPECT_LE(f.outs.responseBody.size(), kLimit);
    for (std::size_t i = 0; i < f.outs.responseBody.size(); i += 4099)
        ASSERT_EQ(f.outs.responseBody[i], testing::PatternByte(i));

    http::ScopedTransportFault fault(TransportOperation::QueryRawHeaders);
    EXPECT_EQ(Fetch(server.Url("/")).outs.statusText, fetch_status::ReadFailed());
}

TEST(FetchPage, LargeBodyAndManyHeaderLines) {
    constexpr std::uint64_t kSize = 10 * 1024 * 1024;
    testing::HeaderList many;
    for (int i = 0; i < 500; ++i)
        many.emplace_back("X-Line-" + std::to_string(i), "v" + std::to_string(i));
    TestHttpServer server([&](const auto&) { return Reply::Generated(kSize, 200, many); });
    const Fetched f = Fetch(server.Url("/"));
    ASSERT_EQ(f.outs.responseBody.size(), kSize);
    for (std::uint64_t i = 0; i < kSize; i += 4099)
        ASSERT_EQ(f.outs.responseBody[i], testing::PatternByte(i));
    EXPECT_NE(f.outs.responseHeaders.find("\r\nX-Line-499: v499\r\n"), std::string::npos);
    EXPECT_EQ(f.events, Lines(f.outs.responseHeaders) + 1 + 9);
}

TEST(FetchPage, ServerBasicAuthentication) {
    TestHttpServer server([](const RecordedRequest& r) {
        if (r.Header("Authorization") == "Basic dXNlcjpwdw==") return Ok("welcome");
        return Reply::Http(401, "Unauthorized", "no", {{"WWW-Authenticate", "Basic realm=\"x\""}});
    });
    FetchPageArgs args;
    args.userName = "user";
    args.password = "pw";
    EXPECT_EQ(Fetch(server.Url("/"), args).page, "welcome");
    args.password = "";  // both are needed
    const Fetched f = Fetch(server.Url("/"), args);
    EXPECT_EQ(f.outs.statusText, "401 Unauthorized");
}

TEST(FetchPage, DirectWhateverTheEnvironmentSays) {
    TestHttpServer server([](const auto&) { return Ok("direct"); });
    const std::string dead = "http://127.0.0.1:" + std::to_string(testing::FreeLoopbackPort());
    for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "all_proxy"})
        ::setenv(name, dead.c_str(), 1);
    const Fetched f = Fetch(server.Url("/"));
    for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "all_proxy"})
        ::unsetenv(name);
    EXPECT_EQ(f.page, "direct");
}

// A worker's stop flag ends a fetch that would otherwise wait out its time-out.
TEST(FetchPage, StopFlagEndsAWaitingFetch) {
    std::atomic<bool> stop{false};
    TestHttpServer server([&](const auto&) {
        stop = true;  // the request has arrived: now ask the worker to stop
        return std::move(Reply::Raw("").ThenStall());
    });
    Text status;
    int depth = -1;
    std::thread worker([&] {
        SetThreadStopFlag(&stop);
        FetchPageArgs args;
        args.statusText = &status;
        // An hour: a fetch that ignored the flag would run into the test's own time limit.
        args.timeoutSeconds = 3600;
        FetchPage(server.Url("/"), args);
        depth = automation::InitializationDepth();
        SetThreadStopFlag(nullptr);
    });
    worker.join();
    EXPECT_EQ(status, fetch_status::NoResponse());
    EXPECT_EQ(depth, 0);
}

class FetchPageTls : public ::testing::Test {
  protected:
    testing::TemporaryDirectory directory_;
    testing::Certificate certificate_ = testing::MakeSelfSignedCertificate(directory_.path());
    TestHttpServer server_{[](const auto&) { return Ok("secure"); }, {certificate_}};
};

TEST_F(FetchPageTls, CertificatesAreVerified) {
    const Fetched refused = Fetch(server_.Url("/"));
    EXPECT_EQ(refused.page, "");
    EXPECT_EQ(refused.outs.statusText, fetch_status::SendFailed());

    http::ScopedTrustedCertificates trust(certificate_.certFile);
    const Fetched trusted = Fetch(server_.Url("/"));
    EXPECT_EQ(trusted.page, "secure");
    EXPECT_EQ(trusted.outs.statusText, "200 OK");
}

// Through a real proxy: "http=" + proxy for plain addresses, the proxy itself (a tunnel) for
// secure ones, with and without the proxy's own Basic authentication.
class FetchPageProxy : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!open_.ok() || !guarded_.ok()) GTEST_SKIP() << "tinyproxy did not start";
    }
    TestHttpServer server_{[](const auto&) { return Ok("via proxy"); }};
    testing::TinyProxy open_;
    testing::TinyProxy guarded_{std::pair<std::string, std::string>{"pu", "ppw"}};
};

TEST_F(FetchPageProxy, PlainAddressGoesThroughTheProxy) {
    FetchPageArgs args;
    args.proxy = open_.HostPort();
    const Fetched f = Fetch(server_.Url("/p"), args);
    EXPECT_EQ(f.page, "via proxy");
    EXPECT_NE(open_.Log().find("/p"), std::string::npos) << open_.Log();

    // A proxy that is not there: the fetch fails, so the proxy was really in the way.
    args.proxy = "127.0.0.1:" + std::to_string(testing::FreeLoopbackPort());
    EXPECT_EQ(Fetch(server_.Url("/p"), args).outs.statusText, fetch_status::SendFailed());
}

TEST_F(FetchPageProxy, ProxyCredentials) {
    FetchPageArgs args;
    args.proxy = guarded_.HostPort();
    const Fetched without = Fetch(server_.Url("/"), args);
    EXPECT_EQ(without.outs.statusText.substr(0, 3), "407");
    args.proxyUser = "pu";
    args.proxyPassword = "ppw";
    const Fetched with = Fetch(server_.Url("/"), args);
    EXPECT_EQ(with.page, "via proxy");
    EXPECT_EQ(with.outs.statusText, "200 OK");
}

TEST_F(FetchPageProxy, SecureAddressTunnelsThroughTheProxy) {
    testing::TemporaryDirectory directory;
    const auto certificate = testing::MakeSelfSignedCertificate(directory.path());
    TestHttpServer secure([](const auto&) { return Ok("tunnelled"); }, {certificate});
    http::ScopedTrustedCertificates trust(certificate.certFile);
    FetchPageArgs args;
    args.proxy = guarded_.HostPort();
    args.proxyUser = "pu";
    args.proxyPassword = "ppw";
    const Fetched f = Fetch(secure.Url("/"), args);
    EXPECT_EQ(f.page, "tunnelled");
    EXPECT_NE(guarded_.Log().find("CONNECT"), std::string::npos) << guarded_.Log();
}

}  // namespace
}  // namespace qubrelo
