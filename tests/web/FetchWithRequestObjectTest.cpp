// The request-object fetch: the calls it makes on the object (through a recording object the
// caller passes in) and the real request object against loopback peers.

#include <gtest/gtest.h>

#include "platform/automation/Automation.h"
#include "platform/http/HttpTransport.h"
#include "tests/http/TestServer.h"
#include "text/CodePage.h"
#include "web/FetchWithRequestObject.h"

namespace qubrelo {
namespace {

using automation::AutomationObject;
using automation::AutomationVariant;
using testing::RecordedRequest;
using testing::Reply;
using testing::TestHttpServer;

std::string Describe(const AutomationVariant& v) {
    if (const auto* bytes = std::get_if<ByteBuffer>(&v.value())) {
        return "bytes:" + std::string(bytes->begin(), bytes->end());
    }
    if (std::holds_alternative<bool>(v.value())) return v.ToBool() ? "true" : "false";
    return v.ToText();
}

// Records every member call as "member(arg|arg|...)" and answers the reads with set values.
class RecordingRequest : public automation::Component {
  public:
    std::vector<std::string> calls;
    ByteBuffer body;
    Text headers;
    double status = 0;

    bool Get(std::string_view member, std::span<const AutomationVariant>,
             AutomationVariant& result) override {
        if (member == "responsebody")
            result = AutomationVariant(body);
        else if (member == "getallresponseheaders")
            result = AutomationVariant::FromText(headers);
        else if (member == "status")
            result = AutomationVariant(status);
        else
            return false;
        return true;
    }
    bool Put(std::string_view member, std::span<const AutomationVariant> index,
             const AutomationVariant& value) override {
        calls.push_back("put " + std::string(member) + "[" + Describe(index[0]) +
                        "]=" + Describe(value));
        return true;
    }
    bool Call(std::string_view member, std::span<const AutomationVariant> args,
              AutomationVariant&) override {
        std::string line = std::string(member) + "(";
        for (std::size_t i = 0; i < args.size(); ++i) line += (i ? "|" : "") + Describe(args[i]);
        calls.push_back(line + ")");
        return true;
    }
    std::vector<std::string> Matching(std::string_view prefix) const {
        std::vector<std::string> out;
        for (const auto& c : calls) {
            if (c.rfind(prefix, 0) == 0) out.push_back(c);
        }
        return out;
    }
};

struct Recorded {
    std::shared_ptr<RecordingRequest> component = std::make_shared<RecordingRequest>();
    AutomationObject object{component};

    ByteBuffer Fetch(const std::string& url, FetchWithRequestObjectArgs args = {}) {
        args.requestObject = &object;
        ByteBuffer body = FetchWithRequestObject(url, args);
        EXPECT_EQ(automation::InitializationDepth(), 0);
        EXPECT_EQ(object.UseCount(), 2) << "the call kept a reference";
        return body;
    }
};

const std::string kUrl = "http://h.example/Kq.txt";

TEST(FetchWithRequestObject, DefaultBlockGivesFiveHeaderCalls) {
    Recorded r;
    Text headers;
    FetchWithRequestObjectArgs args;
    args.requestHeaders = &headers;
    r.Fetch(kUrl, args);
    EXPECT_EQ(r.component->Matching("setrequestheader"),
              (std::vector<std::string>{
                  "setrequestheader(Accept|*/*)",
                  "setrequestheader(Referer|" + kUrl + ")",
                  "setrequestheader(Accept-Language|zh-cn)",
                  "setrequestheader(User-Agent|Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1))",
                  "setrequestheader(Content-Type|application/x-www-form-urlencoded)",
              }));
    EXPECT_EQ(headers,
              "Accept: */*\r\nReferer: " + kUrl +
                  "\r\nAccept-Language: zh-cn\r\nUser-Agent: Mozilla/4.0 (compatible; MSIE "
                  "9.0; Windows NT 6.1)\r\nContent-Type: application/x-www-form-urlencoded");
    // The whole conversation, in order.
    EXPECT_EQ(r.component->calls.front(), "settimeouts(15000|15000|15000|15000)");
    EXPECT_EQ(r.component->calls[1], "open(GET|" + kUrl + "|false)");
    EXPECT_EQ(r.component->calls[2], "put option[4]=13056");
    EXPECT_EQ(r.component->calls.back(), "send()");
}

TEST(FetchWithRequestObject, HeaderTestsAreExactCase) {
    const std::string referer = "\r\nReferer: " + kUrl;
    const std::string language = "\r\nAccept-Language: zh-cn";
    const std::string agent = "\r\nUser-Agent: Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)";
    const std::string type = "\r\nContent-Type: application/x-www-form-urlencoded";
    struct Case {
        Text given;
        Text completed;
    };
    const Case cases[] = {
        {"accept: text/html",
         "accept: text/html\r\nAccept: */*" + referer + language + agent + type},
        {"Accept-Language: en", "Accept-Language: en\r\nAccept: */*" + referer + agent + type},
        {"X-Referer: a", "X-Referer: a\r\nAccept: */*" + language + agent + type},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.given);
        Recorded r;
        Text headers = c.given;
        FetchWithRequestObjectArgs args;
        args.requestHeaders = &headers;
        r.Fetch(kUrl, args);
        EXPECT_EQ(headers, c.completed);
        EXPECT_EQ(
            r.component->Matching("setrequestheader").size(),
            static_cast<std::size_t>(std::count(c.completed.begin(), c.completed.end(), '\n') + 1));
    }
}

TEST(HeaderLine, SplitsAtTheFirstColon) {
    struct Case {
        const char* line;
        const char* name;
        const char* value;
    };
    const Case cases[] = {
        {"  Name :  some value  ", "Name", "some value"},
        {"Host: a:8080", "Host", "a:8080"},
        {"no colon", "", ""},
        {":only value", "", "only value"},
        {"Name:", "Name", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(HeaderLineName(c.line), c.name);
        EXPECT_EQ(HeaderLineValue(c.line), c.value);
    }
    // Blanks include the ideographic space.
    EXPECT_EQ(HeaderLineValue("A:\xA1\xA1v\xA1\xA1"), "v");
}

TEST(FetchWithRequestObject, TimeoutsMethodsAndProxyCalls) {
    struct Case {
        const char* name;
        FetchWithRequestObjectArgs args;
        std::vector<std::string> timeouts;
        std::string open;
        std::vector<std::string> proxy;
    };
    const auto with = [](auto change) {
        FetchWithRequestObjectArgs a;
        change(a);
        return a;
    };
    const std::vector<std::string> t15 = {"settimeouts(15000|15000|15000|15000)"};
    const std::string get = "open(GET|" + kUrl + "|false)";
    const Case cases[] = {
        {"omitted", {}, t15, get, {}},
        {"-1 leaves time-outs alone", with([](auto& a) { a.timeoutSeconds = -1; }), {}, get, {}},
        {"0", with([](auto& a) { a.timeoutSeconds = 0; }), t15, get, {}},
        {"-5", with([](auto& a) { a.timeoutSeconds = -5; }), t15, get, {}},
        {"20",
         with([](auto& a) { a.timeoutSeconds = 20; }),
         {"settimeouts(20000|20000|20000|20000)"},
         get,
         {}},
        {"POST", with([](auto& a) { a.method = 1; }), t15, "open(POST|" + kUrl + "|false)", {}},
        {"HEAD", with([](auto& a) { a.method = 2; }), t15, "open(HEAD|" + kUrl + "|false)", {}},
        {"method 3", with([](auto& a) { a.method = 3; }), t15, get, {}},
        {"method -1", with([](auto& a) { a.method = -1; }), t15, get, {}},
        {"user without proxy", with([](auto& a) { a.proxyUser = "u"; }), t15, get, {}},
        {"proxy without user",
         with([](auto& a) { a.proxy = "p:8"; }),
         t15,
         get,
         {"setproxy(2|p:8)"}},
        {"proxy and user",
         with([](auto& a) {
             a.proxy = "p:8";
             a.proxyUser = "u";
             a.proxyPassword = "w";
         }),
         t15,
         get,
         {"setproxy(2|p:8)", "setproxycredentials(u|w|1)"}},
        {"flag 0 for the server",
         with([](auto& a) {
             a.proxy = "p:8";
             a.proxyUser = "u";
             a.proxyCredentialFlag = 0;
         }),
         t15,
         get,
         {"setproxy(2|p:8)", "setproxycredentials(u||0)"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Recorded r;
        r.Fetch(kUrl, c.args);
        EXPECT_EQ(r.component->Matching("settimeouts"), c.timeouts);
        EXPECT_EQ(r.component->Matching("open"), std::vector<std::string>{c.open});
        EXPECT_EQ(r.component->Matching("setproxy"), c.proxy);
    }
}

TEST(FetchWithRequestObject, OptionsBodyAndCookies) {
    Recorded r;
    Text cookies = "k=1";
    FetchWithRequestObjectArgs args;
    args.refuseRedirects = true;
    args.bodyText = "ignored";
    args.bodyBytes = ByteBuffer{'b', 'y'};
    args.cookies = &cookies;
    r.Fetch(kUrl, args);
    EXPECT_EQ(r.component->Matching("put"),
              (std::vector<std::string>{"put option[6]=0", "put option[4]=13056"}));
    EXPECT_EQ(r.component->Matching("send"), std::vector<std::string>{"send(bytes:by)"});
    EXPECT_EQ(r.component->Matching("setrequestheader").front(), "setrequestheader(Cookie|k=1)");

    Recorded text;
    FetchWithRequestObjectArgs plain;
    plain.bodyText = "a=1";
    text.Fetch(kUrl, plain);
    EXPECT_EQ(text.component->Matching("send"), std::vector<std::string>{"send(a=1)"});
}

TEST(FetchWithRequestObject, ResponseReadsAndCookies) {
    struct Case {
        const char* name;
        Text headers;
        Text received;
        Text cookiesAfter;
    };
    const Case cases[] = {
        {"two cookies",
         "Content-Type: text/plain\r\nSet-Cookie: a=1; path=/\r\nset-cookie: b=2\r\n", "a=1;b=2",
         "a=1; b=2; k=1"},
        {"no cookie", "Content-Type: text/plain\r\n", "", "k=1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Recorded r;
        r.component->body = ByteBuffer{'o', 'k'};
        r.component->headers = c.headers;
        r.component->status = 201.9;
        Text cookies = "k=1", received = "old", responseHeaders;
        int status = -7;
        FetchWithRequestObjectArgs args;
        args.cookies = &cookies;
        args.receivedCookies = &received;
        args.responseHeaders = &responseHeaders;
        args.status = &status;
        EXPECT_EQ(r.Fetch(kUrl, args), (ByteBuffer{'o', 'k'}));
        EXPECT_EQ(status, 201);
        EXPECT_EQ(received, c.received);
        EXPECT_EQ(cookies, c.cookiesAfter);
        EXPECT_EQ(responseHeaders.find("set-cookie"), std::string::npos);
    }
}

TEST(FetchWithRequestObject, CreationFailureTouchesNothing) {
    automation::ScopedCreationFailure failure("WinHttp.WinHttpRequest.5.1");
    Text cookies = "c", received = "r", requestHeaders = "X: 1", responseHeaders = "h";
    int status = 42;
    FetchWithRequestObjectArgs args;
    args.cookies = &cookies;
    args.receivedCookies = &received;
    args.requestHeaders = &requestHeaders;
    args.responseHeaders = &responseHeaders;
    args.status = &status;
    EXPECT_TRUE(FetchWithRequestObject(kUrl, args).empty());
    EXPECT_EQ(automation::InitializationDepth(), 0);
    EXPECT_EQ(cookies, "c");
    EXPECT_EQ(received, "r");
    EXPECT_EQ(requestHeaders, "X: 1");
    EXPECT_EQ(responseHeaders, "h");
    EXPECT_EQ(status, 42);
}

// --- the real request object -------------------------------------------------------------------

struct Result {
    ByteBuffer body;
    int status = -1;
    Text headers;
    Text received;
};

Result FetchReal(const std::string& url, FetchWithRequestObjectArgs args = {}) {
    Result r;
    args.status = &r.status;
    args.responseHeaders = &r.headers;
    args.receivedCookies = &r.received;
    r.body = FetchWithRequestObject(url, args);
    EXPECT_EQ(automation::InitializationDepth(), 0);
    return r;
}

ByteBuffer Bytes(std::string_view s) { return ByteBuffer(s.begin(), s.end()); }

TEST(RequestObject, PlainGetWithTheDefaultHeaders) {
    TestHttpServer server([](const auto&) {
        return Reply::Http(200, "OK", "notice", {{"set-cookie", "s=1; path=/"}});
    });
    const Result r = FetchReal(server.Url("/Kq.txt"));
    EXPECT_EQ(r.body, Bytes("notice"));
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.received, "s=1");
    EXPECT_EQ(r.headers.find("HTTP/1.1"), std::string::npos) << "no status line";
    EXPECT_NE(r.headers.find("Set-Cookie: s=1; path=/\r\n"), std::string::npos);
    const RecordedRequest request = server.Requests().at(0);
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.target, "/Kq.txt");
    EXPECT_EQ(request.Header("Accept"), "*/*");
    EXPECT_EQ(request.Header("Referer"), server.Url("/Kq.txt"));
    EXPECT_EQ(request.Header("Accept-Language"), "zh-cn");
    EXPECT_EQ(request.Header("User-Agent"), "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)");
    EXPECT_EQ(request.Header("Content-Type"), "application/x-www-form-urlencoded");
}

TEST(RequestObject, StatusBodyAndFailures) {
    TestHttpServer server([](const RecordedRequest& r) {
        if (r.target == "/missing") return Reply::Http(404, "Not Found", "nope");
        if (r.target == "/moved")
            return Reply::Http(302, "Found", "moved", {{"Location", "/here"}});
        if (r.target == "/cut") return Reply::Raw("HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nab");
        // Answers after 5 s: only a time-out that is honoured gives status 0. The pause ends
        // when the server stops, so nothing waits for it.
        if (r.target == "/slow") {
            return std::move(
                Reply::Raw("")
                    .ThenPause(std::chrono::seconds(5))
                    .Then("HTTP/1.1 200 OK\r\nContent-Length: 4\r\nConnection: close\r\n\r\nlate"));
        }
        if (r.target == "/echo") return Reply::Http(200, "OK", r.method + ":" + r.body);
        return Reply::Http(200, "OK", "here");
    });
    const std::string refused =
        "http://127.0.0.1:" + std::to_string(testing::FreeLoopbackPort()) + "/";
    const auto with = [](auto change) {
        FetchWithRequestObjectArgs a;
        a.timeoutSeconds = 1;
        change(a);
        return a;
    };
    struct Case {
        const char* name;
        std::string url;
        FetchWithRequestObjectArgs args;
        int status;
        std::string body;
    };
    const Case cases[] = {
        {"404", server.Url("/missing"), with([](auto&) {}), 404, "nope"},
        {"redirect followed", server.Url("/moved"), with([](auto&) {}), 200, "here"},
        {"redirect refused", server.Url("/moved"), with([](auto& a) { a.refuseRedirects = true; }),
         302, "moved"},
        {"POST text", server.Url("/echo"), with([](auto& a) {
             a.method = 1;
             a.bodyText = "t=1";
         }),
         200, "POST:t=1"},
        {"bytes win over text", server.Url("/echo"), with([](auto& a) {
             a.method = 1;
             a.bodyText = "t=1";
             a.bodyBytes = Bytes("b=2");
         }),
         200, "POST:b=2"},
        {"cut body", server.Url("/cut"), with([](auto&) {}), 0, ""},
        {"answer later than the time-out", server.Url("/slow"), with([](auto&) {}), 0, ""},
        {"connection refused", refused, with([](auto&) {}), 0, ""},
        {"bad address", "nonsense", with([](auto&) {}), 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Result r = FetchReal(c.url, c.args);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.body, Bytes(c.body));
        if (c.status == 0) {
            EXPECT_EQ(r.headers, "");
        }
    }
}

TEST(RequestObject, CallersObjectKeepsTheResponse) {
    TestHttpServer server([](const auto&) { return Reply::Http(200, "OK", "kept"); });
    automation::Scope scope;
    AutomationObject object;
    ASSERT_TRUE(object.Create("WinHttp.WinHttpRequest.5.1"));
    FetchWithRequestObjectArgs args;
    args.requestObject = &object;
    args.refuseRedirects = true;
    EXPECT_EQ(FetchWithRequestObject(server.Url("/"), args), Bytes("kept"));
    EXPECT_EQ(object.GetNumber("Status"), 200);
    EXPECT_EQ(object.Get("ResponseBody").ToBytes(), Bytes("kept"));
    EXPECT_FALSE(object.Get("Option", {std::int32_t{6}}).ToBool());
    EXPECT_EQ(object.GetNumber("Option", {std::int32_t{4}}), 0x3300);
}

// A caller's object that fetched once, then gets an address its open refuses: nothing may go to
// the previous address, and none of the previous answer may be read back.
TEST(RequestObject, RefusedAddressOnAReusedObjectSendsNothing) {
    TestHttpServer server(
        [](const RecordedRequest& r) { return Reply::Http(200, "OK", r.method + ":" + r.body); });
    automation::Scope scope;
    AutomationObject object;
    ASSERT_TRUE(object.Create("WinHttp.WinHttpRequest.5.1"));
    int status = -1;
    Text headers;
    FetchWithRequestObjectArgs args;
    args.requestObject = &object;
    args.status = &status;
    args.responseHeaders = &headers;
    ASSERT_EQ(FetchWithRequestObject(server.Url("/first"), args), Bytes("GET:"));
    ASSERT_EQ(status, 200);

    for (const char* url : {"nonsense-url", "", "ftp://127.0.0.1/"}) {
        SCOPED_TRACE(url);
        args.method = 1;
        args.bodyText = "second=1";
        EXPECT_TRUE(FetchWithRequestObject(url, args).empty());
        EXPECT_EQ(status, 0);
        EXPECT_EQ(headers, "");
        EXPECT_EQ(server.RequestCount(), 1u);
        EXPECT_TRUE(object.Get("ResponseBody").ToBytes().empty());
    }
}

// The request object always writes option 4 = 0x3300; certificates are verified all the same.
TEST(RequestObject, CertificatesStayVerified) {
    testing::TemporaryDirectory directory;
    const auto certificate = testing::MakeSelfSignedCertificate(directory.path());
    TestHttpServer server([](const auto&) { return Reply::Http(200, "OK", "secret"); },
                          {certificate});
    const Result refused = FetchReal(server.Url("/"));
    EXPECT_EQ(refused.status, 0);
    EXPECT_TRUE(refused.body.empty());

    http::ScopedTrustedCertificates trust(certificate.certFile);
    const Result trusted = FetchReal(server.Url("/"));
    EXPECT_EQ(trusted.status, 200);
    EXPECT_EQ(trusted.body, Bytes("secret"));
}

TEST(RequestObject, ProxyAndCredentialFlag) {
    testing::TinyProxy proxy(std::pair<std::string, std::string>{"pu", "ppw"});
    if (!proxy.ok()) GTEST_SKIP() << "tinyproxy did not start";
    TestHttpServer server([](const RecordedRequest& r) {
        return Reply::Http(200, "OK", r.Header("Authorization").value_or("none"));
    });
    FetchWithRequestObjectArgs args;
    args.proxy = proxy.HostPort();
    EXPECT_EQ(FetchReal(server.Url("/"), args).status, 407);

    args.proxyUser = "pu";
    args.proxyPassword = "ppw";
    const Result through = FetchReal(server.Url("/"), args);
    EXPECT_EQ(through.status, 200);
    EXPECT_EQ(through.body, Bytes("none"));

    // Flag 0: the same credentials are the server's, so the guarded proxy refuses, and an open
    // proxy passes them on to the server.
    args.proxyCredentialFlag = 0;
    EXPECT_EQ(FetchReal(server.Url("/"), args).status, 407);
    testing::TinyProxy open;
    ASSERT_TRUE(open.ok());
    args.proxy = open.HostPort();
    EXPECT_EQ(FetchReal(server.Url("/"), args).body, Bytes("Basic cHU6cHB3"));
}

}  // namespace
}  // namespace qubrelo
