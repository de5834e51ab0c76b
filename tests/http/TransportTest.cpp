// The session / connection / request transport against loopback peers.

#include <gtest/gtest.h>

#include <climits>

#include "platform/http/HttpTransport.h"
#include "tests/http/TestServer.h"

namespace qubrelo::http {
namespace {

using namespace std::chrono_literals;
using testing::Reply;
using testing::TestHttpServer;

std::u16string Wide(std::string_view s) { return std::u16string(s.begin(), s.end()); }

struct Outcome {
    std::string failedAt;  // "" when every stage worked
    Error error;
    std::string body;
    std::string headers;
    int status = 0;
    std::optional<std::uint64_t> contentLength;
};

struct Settings {
    std::string verb = "GET";
    std::string headers;
    std::string body;
    bool follow = true;
    std::string proxy;
    int setupMs = 5000;  // resolve and connect
    int sendMs = 30000;
    int receiveMs = 30000;
};

Outcome Exchange(const std::string& url, const Settings& settings = {}) {
    Outcome out;
    const auto fail = [&](const char* stage, Error error) {
        out.failedAt = stage;
        out.error = std::move(error);
        return out;
    };
    auto parts = CrackUrl(Wide(url));
    if (!parts.ok()) return fail("crack", parts.error);
    auto session =
        HttpSession::Open(settings.proxy.empty() ? AccessType::NoProxy : AccessType::NamedProxy,
                          Wide(settings.proxy));
    if (!session.ok()) return fail("session", session.error);
    auto connection = HttpConnection::Connect(*session.value, parts.value->host, parts.value->port);
    if (!connection.ok()) return fail("connect", connection.error);
    auto request = HttpRequest::Open(*connection.value, Wide(settings.verb),
                                     parts.value->path + parts.value->extra,
                                     parts.value->scheme == Scheme::Https);
    if (!request.ok()) return fail("request", request.error);
    HttpRequest& r = *request.value;
    if (auto e =
            r.SetTimeouts(settings.setupMs, settings.setupMs, settings.sendMs, settings.receiveMs))
        return fail("timeouts", e);
    if (auto e = r.SetFollowRedirects(settings.follow)) return fail("redirects", e);
    if (!settings.headers.empty()) {
        if (auto e = r.AddHeaders(Wide(settings.headers), true)) return fail("headers", e);
    }
    const std::span<const std::uint8_t> body(
        reinterpret_cast<const std::uint8_t*>(settings.body.data()), settings.body.size());
    if (auto e = r.Send(body)) return fail("send", e);
    if (auto e = r.ReceiveResponse()) return fail("receive", e);
    out.headers = r.RawHeaders();
    out.status = r.StatusCode();
    out.contentLength = r.ContentLength();
    for (;;) {
        std::size_t count = 0;
        if (auto e = r.QueryDataAvailable(count); e || count == 0) break;
        std::string chunk(count, '\0');
        std::size_t read = 0;
        if (auto e =
                r.Read(std::span(reinterpret_cast<std::uint8_t*>(chunk.data()), count), read)) {
            return fail("read", e);
        }
        out.body.append(chunk, 0, read);
    }
    return out;
}

TEST(CrackUrl, SplitsAddresses) {
    struct Case {
        const char* url;
        bool ok;
        Scheme scheme;
        const char* host;
        int port;
        const char* path;
        const char* extra;
    };
    const Case cases[] = {
        {"http://a.example/x/y?q=1#f", true, Scheme::Http, "a.example", 80, "/x/y", "?q=1#f"},
        {"HTTPS://a.example", true, Scheme::Https, "a.example", 443, "", ""},
        {"http://a.example?q", true, Scheme::Http, "a.example", 80, "", "?q"},
        {"http://u:p@a.example:8080/", true, Scheme::Http, "a.example", 8080, "/", ""},
        {"http://[::1]:81/p", true, Scheme::Http, "[::1]", 81, "/p", ""},
        {"", false, Scheme::Http, "", 0, "", ""},
        {"ftp://a.example/", false, Scheme::Http, "", 0, "", ""},
        {"http:///path", false, Scheme::Http, "", 0, "", ""},
        {"http://a.example:99999/", false, Scheme::Http, "", 0, "", ""},
        {"http://a.example:8x/", false, Scheme::Http, "", 0, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        const auto r = CrackUrl(Wide(c.url));
        ASSERT_EQ(r.ok(), c.ok);
        if (!c.ok) {
            EXPECT_EQ(r.error.code, ErrorCode::InvalidUrl);
            continue;
        }
        EXPECT_EQ(r.value->scheme, c.scheme);
        EXPECT_EQ(r.value->host, Wide(c.host));
        EXPECT_EQ(r.value->port, c.port);
        EXPECT_EQ(r.value->path, Wide(c.path));
        EXPECT_EQ(r.value->extra, Wide(c.extra));
    }
}

TEST(HttpSession, ChoosesTheProxyPerScheme) {
    struct Case {
        const char* list;
        const char* http;
        const char* https;
    };
    const Case cases[] = {
        {"http=p:1", "p:1", ""},
        {"p:2", "p:2", "p:2"},
        {"https=s:3;http=p:4", "p:4", "s:3"},
        {"HTTP=p:5 q:6", "p:5", "q:6"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.list);
        const auto session = HttpSession::Open(AccessType::NamedProxy, Wide(c.list));
        ASSERT_TRUE(session.ok());
        EXPECT_EQ(session.value->ProxyFor(Scheme::Http), c.http);
        EXPECT_EQ(session.value->ProxyFor(Scheme::Https), c.https);
    }
    EXPECT_FALSE(HttpSession::Open(AccessType::NamedProxy, u"").ok());
    EXPECT_EQ(HttpSession::Open(AccessType::NoProxy, u"p:1").value->ProxyFor(Scheme::Http), "");
}

TEST(HttpRequest, SendsOurHeadersAndNothingOfLibcurlsOwn) {
    TestHttpServer server([](const auto&) { return Reply::Http(200, "OK", "x"); });
    Settings settings;
    settings.verb = "POST";
    settings.body = "a=1";
    settings.headers = "X-One: 1\r\n\r\nx-one: 2\r\nUser-Agent: agent";
    const Outcome out = Exchange(server.Url("/p"), settings);
    ASSERT_EQ(out.failedAt, "") << out.error.message;
    const auto request = server.Requests().at(0);
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.version, "HTTP/1.1");
    EXPECT_EQ(request.body, "a=1");
    EXPECT_EQ(request.HeaderCount("X-One"), 1);  // the later line replaced the earlier one
    EXPECT_EQ(request.Header("X-One"), "2");
    EXPECT_EQ(request.Header("User-Agent"), "agent");
    EXPECT_EQ(request.HeaderCount("Accept"), 0);
    EXPECT_EQ(request.HeaderCount("Expect"), 0);
    EXPECT_EQ(request.HeaderCount("Content-Type"), 0);
}

TEST(HttpRequest, RefusesAHeaderLineWithoutName) {
    TestHttpServer server([](const auto&) { return Reply::Http(200, "OK"); });
    Settings settings;
    settings.headers = "no colon here";
    EXPECT_EQ(Exchange(server.Url("/"), settings).failedAt, "headers");
    EXPECT_EQ(server.RequestCount(), 0u);
}

TEST(HttpRequest, RawHeadersAreThoseOfTheFinalResponse) {
    TestHttpServer server([](const testing::RecordedRequest& r) {
        if (r.target == "/1") return Reply::Http(301, "Moved", "one", {{"Location", "/2"}});
        if (r.target == "/2") return Reply::Http(302, "Found", "two", {{"location", "/3"}});
        return Reply::Raw(
            "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nX-Odd-CASE: v\r\nContent-Length: "
            "4\r\n\r\ndone");
    });
    const Outcome followed = Exchange(server.Url("/1"));
    ASSERT_EQ(followed.failedAt, "") << followed.error.message;
    EXPECT_EQ(followed.headers, "HTTP/1.1 200 OK\r\nX-Odd-CASE: v\r\nContent-Length: 4\r\n\r\n");
    EXPECT_EQ(followed.body, "done");
    EXPECT_EQ(server.RequestCount(), 3u);

    Settings refuse;
    refuse.follow = false;
    const Outcome refused = Exchange(server.Url("/1"), refuse);
    ASSERT_EQ(refused.failedAt, "");
    EXPECT_EQ(refused.status, 301);
    EXPECT_EQ(refused.body, "one");
    EXPECT_NE(refused.headers.find("Location: /2\r\n"), std::string::npos);
}

TEST(HttpRequest, FaultsFailTheirStage) {
    struct Case {
        const char* name;
        Reply reply;
        const char* failedAt;
        ErrorCode error;
        std::string bodyBefore;
    };
    const Case cases[] = {
        {"body cut before its length",
         Reply::Raw("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc"), "read",
         ErrorCode::BodyIncomplete, "abc"},
        {"broken chunked framing",
         Reply::Raw("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\nZZ\r\n"),
         "read", ErrorCode::Internal, "abc"},
        {"stall in the body",
         std::move(Reply::Raw("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nab").ThenStall()),
         "read", ErrorCode::Timeout, "ab"},
        {"stall before the headers", std::move(Reply::Raw("").ThenStall()), "receive",
         ErrorCode::Timeout, ""},
        {"closed without answer", Reply::Raw(""), "receive", ErrorCode::ReceiveFailed, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestHttpServer server([&](const auto&) { return c.reply; });
        Settings settings;
        settings.receiveMs = 700;
        const Outcome out = Exchange(server.Url("/"), settings);
        EXPECT_EQ(out.failedAt, c.failedAt);
        if (c.error != ErrorCode::Internal) {
            EXPECT_EQ(out.error.code, c.error) << out.error.message;
        }
        EXPECT_EQ(out.body, c.bodyBefore);
    }
}

// The send time-out bounds the upload only; the receive time-out the wait for the answer after
// it. The largest limits add up past the int range without harm.
TEST(HttpRequest, TimeOutsApplyToTheirPhase) {
    TestHttpServer server([](const auto&) {
        return std::move(Reply::Raw("").ThenPause(1500ms).Then(
            "HTTP/1.1 200 OK\r\nContent-Length: 4\r\nConnection: close\r\n\r\nlate"));
    });
    TestHttpServer instant([](const auto&) { return Reply::Http(200, "OK", "now"); });
    struct Case {
        const char* name;
        const TestHttpServer& server;
        int setupMs;
        int sendMs;
        int receiveMs;
        const char* failedAt;
        std::string body;
    };
    const Case cases[] = {
        {"short send limit, answer later", server, 5000, 500, 10000, "", "late"},
        {"short receive limit, answer later", server, 5000, 10000, 500, "receive", ""},
        {"largest limits", instant, INT_MAX, INT_MAX, INT_MAX, "", "now"},
        {"no limits", instant, 0, 0, 0, "", "now"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Settings settings;
        settings.verb = "POST";
        settings.body = std::string(64 * 1024, 'b');
        settings.setupMs = c.setupMs;
        settings.sendMs = c.sendMs;
        settings.receiveMs = c.receiveMs;
        const Outcome out = Exchange(c.server.Url("/"), settings);
        EXPECT_EQ(out.failedAt, c.failedAt) << out.error.message;
        EXPECT_EQ(out.body, c.body);
    }
}

TEST(HttpRequest, ConnectionRefusedFailsTheSend) {
    const Outcome out =
        Exchange("http://127.0.0.1:" + std::to_string(testing::FreeLoopbackPort()) + "/");
    EXPECT_EQ(out.failedAt, "send");
    EXPECT_EQ(out.error.code, ErrorCode::ConnectFailed);
}

TEST(HttpRequest, LargeBodyIsHandedOutInBoundedChunks) {
    constexpr std::uint64_t kSize = 10 * 1024 * 1024;
    TestHttpServer server([](const auto&) { return Reply::Generated(kSize); });
    const Outcome out = Exchange(server.Url("/"));
    ASSERT_EQ(out.failedAt, "") << out.error.message;
    ASSERT_EQ(out.body.size(), kSize);
    EXPECT_EQ(out.contentLength, kSize);
    for (std::uint64_t i = 0; i < kSize; i += 1009) {
        ASSERT_EQ(static_cast<std::uint8_t>(out.body[i]), testing::PatternByte(i)) << i;
    }
}

TEST(HttpRequest, InjectedFaultFailsTheOperation) {
    TestHttpServer server([](const auto&) { return Reply::Http(200, "OK", "x"); });
    ScopedTransportFault fault(TransportOperation::Send);
    EXPECT_EQ(Exchange(server.Url("/")).failedAt, "send");
    EXPECT_EQ(server.RequestCount(), 0u);
}

}  // namespace
}  // namespace qubrelo::http
