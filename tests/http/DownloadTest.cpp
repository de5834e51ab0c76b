// The whole-resource read and the streaming download against loopback peers.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/http/Cancellation.h"
#include "platform/http/HttpDownload.h"
#include "platform/http/HttpReadWhole.h"
#include "platform/http/HttpTransport.h"
#include "platform/http/LargeBuffer.h"
#include "tests/http/TestServer.h"

namespace qubrelo {
namespace {

using namespace std::chrono_literals;
using http::ErrorCode;
using testing::Reply;
using testing::TestHttpServer;

ByteBuffer Bytes(std::string_view s) { return ByteBuffer(s.begin(), s.end()); }

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(HttpReadWhole, SendsTheRequestShapeOfTheWholeRead) {
    TestHttpServer server([](const auto&) { return Reply::Http(200, "OK", "body"); });
    EXPECT_EQ(HttpReadWhole(server.Url("/a/b?c=1")), Bytes("body"));
    ASSERT_EQ(server.RequestCount(), 1u);
    const auto request = server.Requests().front();
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.target, "/a/b?c=1");
    EXPECT_EQ(request.version, "HTTP/1.0");
    EXPECT_EQ(request.Header("User-Agent"), "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)");
    EXPECT_EQ(request.Header("Accept"), "*/*");
    EXPECT_EQ(request.HeaderCount("Accept"), 1);
}

// Every body byte that arrives comes back, whatever the status and however the body ends.
TEST(HttpReadWhole, ReturnsWhatArrived) {
    struct Case {
        const char* name;
        Reply reply;
        std::string expected;
    };
    const Case cases[] = {
        {"404 page", Reply::Http(404, "Not Found", "missing"), "missing"},
        {"500 page", Reply::Http(500, "Oops", "broken"), "broken"},
        {"body cut before its length",
         Reply::Raw("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc"), "abc"},
        {"body ended by close", Reply::Raw("HTTP/1.0 200 OK\r\n\r\nuntil close"), "until close"},
        {"chunked",
         Reply::Raw("HTTP/1.1 200 OK\r\nTransfer-Encoding: "
                    "chunked\r\n\r\n3\r\nabc\r\n2\r\nde\r\n0\r\n\r\n"),
         "abcde"},
        {"zero byte inside", Reply::Http(200, "OK", std::string("a\0b", 3)),
         std::string("a\0b", 3)},
        {"empty body", Reply::Http(204, "No Content"), ""},
        {"no reply at all", Reply::Raw(""), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestHttpServer server([&](const auto&) { return c.reply; });
        EXPECT_EQ(HttpReadWhole(server.Url("/")), Bytes(c.expected));
    }
}

// A body longer than the first reservation grows past it intact, and memory refused on the way
// ends the read with what fitted instead of ending the program.
TEST(HttpReadWhole, BodyGrowsPastTheFirstReservation) {
    constexpr std::uint64_t kSize = 80 * 1024 * 1024;
    TestHttpServer server([](const auto&) { return Reply::Generated(kSize); });
    const ByteBuffer body = HttpReadWhole(server.Url("/"));
    ASSERT_EQ(body.size(), kSize);
    for (std::uint64_t i = 0; i < kSize; i += 4099)
        ASSERT_EQ(body[i], testing::PatternByte(i)) << i;

    constexpr std::size_t kLimit = 1024 * 1024;
    http::ScopedBodyLimit limit(kLimit);
    const ByteBuffer cut = HttpReadWhole(server.Url("/"));
    EXPECT_LE(cut.size(), kLimit);
    for (std::size_t i = 0; i < cut.size(); i += 4099) ASSERT_EQ(cut[i], testing::PatternByte(i));
}

TEST(HttpReadWhole, EmptyWhenNothingCanBeReached) {
    const std::uint16_t closedPort = testing::FreeLoopbackPort();
    EXPECT_TRUE(HttpReadWhole("http://127.0.0.1:" + std::to_string(closedPort) + "/").empty());
    EXPECT_TRUE(HttpReadWhole("").empty());
    EXPECT_TRUE(HttpReadWhole("ftp://127.0.0.1/").empty());
}

TEST(HttpReadWhole, FollowsRedirectsAndIgnoresProxyVariables) {
    TestHttpServer server([](const testing::RecordedRequest& r) {
        if (r.target == "/old") return Reply::Http(302, "Found", "moved", {{"Location", "/new"}});
        return Reply::Http(200, "OK", "new");
    });
    // A proxy named by the environment must not be used: the read goes direct.
    const std::uint16_t deadProxy = testing::FreeLoopbackPort();
    const std::string proxy = "http://127.0.0.1:" + std::to_string(deadProxy);
    ::setenv("http_proxy", proxy.c_str(), 1);
    ::setenv("HTTP_PROXY", proxy.c_str(), 1);
    const ByteBuffer body = HttpReadWhole(server.Url("/old"));
    ::unsetenv("http_proxy");
    ::unsetenv("HTTP_PROXY");
    EXPECT_EQ(body, Bytes("new"));
}

TEST(HttpReadWhole, LargeBodyArrivesIntact) {
    constexpr std::uint64_t kSize = 10 * 1024 * 1024;
    TestHttpServer server([](const auto&) { return Reply::Generated(kSize); });
    const ByteBuffer body = HttpReadWhole(server.Url("/big"));
    ASSERT_EQ(body.size(), kSize);
    for (std::uint64_t i = 0; i < kSize; i += 4093) {
        ASSERT_EQ(body[i], testing::PatternByte(i)) << i;
    }
}

TEST(HttpReadWhole, VerifiesCertificates) {
    testing::TemporaryDirectory directory;
    const auto certificate = testing::MakeSelfSignedCertificate(directory.path());
    TestHttpServer server([](const auto&) { return Reply::Http(200, "OK", "secret"); },
                          {certificate});
    EXPECT_TRUE(HttpReadWhole(server.Url("/")).empty());
    // The same server is accepted once its certificate is trusted: the failure above was the
    // verification, not a broken TLS set-up.
    http::ScopedTrustedCertificates trust(certificate.certFile);
    EXPECT_EQ(HttpReadWhole(server.Url("/")), Bytes("secret"));
}

// --- HttpDownload -----------------------------------------------------------------------------

http::DownloadResult Collect(const std::string& url, std::string& body,
                             const http::DownloadOptions& options = {}) {
    return http::HttpDownload(
        url,
        [&](std::span<const std::uint8_t> chunk) {
            body.append(chunk.begin(), chunk.end());
            return true;
        },
        {}, options);
}

TEST(HttpDownload, ReportsStatusLengthAndCompleteness) {
    struct Case {
        const char* name;
        Reply reply;
        int status;
        std::optional<std::uint64_t> length;
        std::uint64_t received;
        bool complete;
        ErrorCode error;
    };
    const Case cases[] = {
        {"whole", Reply::Http(200, "OK", "hello"), 200, 5, 5, true, ErrorCode::None},
        {"404", Reply::Http(404, "Not Found", "nope"), 404, 4, 4, true, ErrorCode::None},
        {"cut", Reply::Raw("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc"), 200, 10, 3, false,
         ErrorCode::BodyIncomplete},
        {"reset mid-body",
         std::move(Reply::Raw("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc")
                       .ThenPause(50ms)
                       .ThenReset()),
         200, 10, 3, false, ErrorCode::ReceiveFailed},
        {"no length", Reply::Raw("HTTP/1.0 200 OK\r\n\r\nabc"), 200, std::nullopt, 3, true,
         ErrorCode::None},
        {"empty", Reply::Http(200, "OK"), 200, 0, 0, true, ErrorCode::None},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestHttpServer server([&](const auto&) { return c.reply; });
        std::string body;
        const auto result = Collect(server.Url("/"), body);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.contentLength, c.length);
        EXPECT_EQ(result.received, c.received);
        EXPECT_EQ(body.size(), c.received);
        EXPECT_EQ(result.complete, c.complete);
        EXPECT_EQ(result.error.code, c.error) << result.error.message;
        EXPECT_EQ(result.Succeeded(), c.complete && c.status == 200 && c.received > 0);
    }
}

TEST(HttpDownload, StallEndsWithTimeout) {
    TestHttpServer server([](const auto&) {
        return std::move(
            Reply::Raw("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nab").ThenStall());
    });
    http::DownloadOptions options;
    options.idleTimeout = 1s;
    std::string body;
    const auto result = Collect(server.Url("/"), body, options);
    EXPECT_EQ(result.error.code, ErrorCode::Timeout);
    EXPECT_EQ(body, "ab");
    EXPECT_FALSE(result.complete);
}

// Limits at the ends of their range neither overflow nor end a transfer that keeps going.
TEST(HttpDownload, ExtremeTimeOutsStillDownload) {
    TestHttpServer server([](const auto&) {
        return std::move(Reply::Raw("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nab")
                             .ThenPause(300ms)
                             .Then("cd"));
    });
    for (const auto limit : {std::chrono::milliseconds::max(), std::chrono::milliseconds(-1)}) {
        SCOPED_TRACE(limit.count());
        http::DownloadOptions options;
        options.idleTimeout = limit;
        options.connectTimeout = limit;
        std::string body;
        const auto result = Collect(server.Url("/"), body, options);
        EXPECT_TRUE(result.complete) << result.error.message;
        EXPECT_EQ(body, "abcd");
    }
}

TEST(HttpDownload, ConnectionRefused) {
    std::string body;
    const auto result =
        Collect("http://127.0.0.1:" + std::to_string(testing::FreeLoopbackPort()) + "/", body);
    EXPECT_EQ(result.error.code, ErrorCode::ConnectFailed);
    EXPECT_EQ(result.status, 0);
}

TEST(HttpDownload, StopFlagAbortsTheTransfer) {
    TestHttpServer server([](const auto&) {
        return std::move(
            Reply::Raw("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nab").ThenStall());
    });
    std::atomic<bool> stop{false};
    http::DownloadResult result;
    std::thread worker([&] {
        SetThreadStopFlag(&stop);
        std::string body;
        result = http::HttpDownload(server.Url("/"), [&](auto) {
            stop = true;  // stop once the first bytes are in
            return true;
        });
        SetThreadStopFlag(nullptr);
    });
    worker.join();
    EXPECT_EQ(result.error.code, ErrorCode::Aborted);
}

TEST(HttpDownload, ProgressReportsReceivedAndTotal) {
    constexpr std::uint64_t kSize = 3 * 1024 * 1024;
    TestHttpServer server([](const auto&) { return Reply::Generated(kSize); });
    std::vector<http::DownloadProgress> reports;
    http::DownloadOptions options;
    options.progressInterval = 0ms;
    const auto result = http::HttpDownload(
        server.Url("/"), [](auto) { return true; },
        [&](const http::DownloadProgress& p) { reports.push_back(p); }, options);
    ASSERT_TRUE(result.Succeeded()) << result.error.message;
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.back().received, kSize);
    EXPECT_EQ(reports.back().total, kSize);
    for (std::size_t i = 1; i < reports.size(); ++i) {
        EXPECT_LE(reports[i - 1].received, reports[i].received);
    }
}

TEST(HttpDownload, SinkRefusalStops) {
    TestHttpServer server([](const auto&) { return Reply::Generated(1024 * 1024); });
    const auto result = http::HttpDownload(server.Url("/"), [](auto) { return false; });
    EXPECT_EQ(result.error.code, ErrorCode::FileFailed);
    EXPECT_FALSE(result.complete);
}

// --- HttpDownloadToFile -----------------------------------------------------------------------

class DownloadToFile : public ::testing::Test {
  protected:
    std::filesystem::path Name(int attempt) const {
        return directory_.path() / (attempt == 1 ? std::string("song.MP3")
                                                 : "song (" + std::to_string(attempt) + ").MP3");
    }
    std::vector<std::string> Files() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(directory_.path())) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    http::FileDownloadResult Download(const std::string& url) {
        return http::HttpDownloadToFile(url, [this](int n) { return Name(n); });
    }
    testing::TemporaryDirectory directory_;
};

TEST_F(DownloadToFile, SavesAndNeverReplaces) {
    TestHttpServer server([](const auto&) { return Reply::Http(200, "OK", "audio"); });
    std::ofstream(Name(1)) << "old";
    const auto first = Download(server.Url("/"));
    ASSERT_TRUE(first.error.ok()) << first.error.message;
    EXPECT_EQ(first.savedPath, Name(2));
    const auto second = Download(server.Url("/"));
    ASSERT_TRUE(second.error.ok()) << second.error.message;
    EXPECT_EQ(second.savedPath, Name(3));
    EXPECT_EQ(ReadFile(Name(1)), "old");
    EXPECT_EQ(ReadFile(Name(2)), "audio");
    EXPECT_EQ(Files(), (std::vector<std::string>{"song (2).MP3", "song (3).MP3", "song.MP3"}));
}

// A failed download leaves no file at all, not even a temporary one.
TEST_F(DownloadToFile, FailureLeavesNothing) {
    struct Case {
        const char* name;
        Reply reply;
        ErrorCode error;
    };
    const Case cases[] = {
        {"404", Reply::Http(404, "Not Found", "page"), ErrorCode::BadStatus},
        {"empty 200", Reply::Http(200, "OK"), ErrorCode::EmptyBody},
        {"cut body", Reply::Raw("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc"),
         ErrorCode::BodyIncomplete},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestHttpServer server([&](const auto&) { return c.reply; });
        const auto result = Download(server.Url("/"));
        EXPECT_EQ(result.error.code, c.error) << result.error.message;
        EXPECT_TRUE(result.savedPath.empty());
        EXPECT_TRUE(Files().empty());
    }
    const auto refused =
        Download("http://127.0.0.1:" + std::to_string(testing::FreeLoopbackPort()) + "/");
    EXPECT_EQ(refused.error.code, ErrorCode::ConnectFailed);
    EXPECT_TRUE(Files().empty());
}

// An error page is reported by its status and not stored, however long it is.
TEST_F(DownloadToFile, ErrorPageIsNotStored) {
    TestHttpServer server(
        [](const auto&) { return Reply::Http(404, "Not Found", std::string(1 << 20, 'x')); });
    const auto result = Download(server.Url("/"));
    EXPECT_EQ(result.error.code, ErrorCode::BadStatus) << result.error.message;
    EXPECT_EQ(result.transfer.status, 404);
    EXPECT_EQ(result.transfer.received, 0u);
    EXPECT_TRUE(Files().empty());
}

TEST_F(DownloadToFile, UnwritableDirectoryIsAFileError) {
    TestHttpServer server([](const auto&) { return Reply::Http(200, "OK", "audio"); });
    const auto result = http::HttpDownloadToFile(
        server.Url("/"), [this](int) { return directory_.path() / "missing" / "x.MP3"; });
    EXPECT_EQ(result.error.code, ErrorCode::FileFailed);
    EXPECT_EQ(server.RequestCount(), 0u);  // nothing is fetched when the file cannot be made
}

}  // namespace
}  // namespace qubrelo
