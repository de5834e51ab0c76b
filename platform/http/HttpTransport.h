#pragma once

// A small synchronous HTTP client over libcurl with the shape of a session / connection /
// request API: open a session (direct or through a named proxy), connect to a host and port,
// open a request, set time-outs, credentials and options, add headers, send, receive the
// response headers, then read the body in the chunks that have arrived.
//
// Strings cross this interface as UTF-16 (as the page fetch holds them); on the wire they are
// code-page-936 bytes, the tool's own code page, so a header that the caller built from GBK text
// arrives byte for byte, and header bytes received come back as the same characters.
//
// Every request owns its own libcurl handles and closes them when it is destroyed; nothing is
// shared between requests (no connection reuse, no cookie store across requests). The calling
// thread's stop flag (platform/http/Cancellation.h) aborts a transfer in progress.
// Call HttpGlobalInit (platform/http/HttpGlobal.h) once before any thread uses this.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/http/HttpError.h"

namespace qubrelo::http {

template <typename T>
struct Result {
    std::optional<T> value;
    Error error;
    bool ok() const { return value.has_value(); }
};

// True when the libcurl in use can speak HTTP and HTTPS.
bool TransportSupported();

enum class Scheme { Http = 1, Https = 2 };

// The parts of an absolute http or https address.
struct UrlComponents {
    Scheme scheme = Scheme::Http;
    std::u16string host;
    std::uint16_t port = 0;  // the scheme's default port when the address names none
    std::u16string path;     // from the first "/" after the authority, "" when there is none
    std::u16string extra;    // from the first "?" or "#" on, "" when there is none
};

// Splits url; an InvalidUrl error for anything that is not an absolute http(s) address with a
// host (an empty text included). User information in the authority is skipped.
Result<UrlComponents> CrackUrl(std::u16string_view url);

enum class AccessType {
    NoProxy,     // direct connection, whatever proxy the environment names
    NamedProxy,  // the proxy list given to OpenSession
};

// Proxy settings of a session. The list holds entries separated by ";" or blanks, each either
// "host:port" (for every scheme) or "scheme=host:port" (for that scheme only, "http" or
// "https"). A request whose scheme no entry names connects directly.
class HttpSession {
  public:
    static Result<HttpSession> Open(AccessType access, std::u16string_view proxyList);
    // The proxy ("host:port") for a request of scheme, or "" for a direct connection.
    std::string ProxyFor(Scheme scheme) const;

  private:
    AccessType access_ = AccessType::NoProxy;
    std::string proxyList_;
};

class HttpConnection {
  public:
    // An empty host is refused. Nothing goes on the network before the request is sent.
    static Result<HttpConnection> Connect(const HttpSession& session, std::u16string_view host,
                                          std::uint16_t port);

  private:
    friend class HttpRequest;
    HttpSession session_;
    std::string host_;
    std::uint16_t port_ = 0;
};

enum class AuthTarget { Server, Proxy };

// Move-only owner of one request and its libcurl handles.
class HttpRequest {
  public:
    // verb is sent as given ("GET", "POST", "HEAD", "PUT", ...); objectName is the path and
    // query ("/" when empty). secure selects TLS; certificates are always verified.
    static Result<HttpRequest> Open(const HttpConnection& connection, std::u16string_view verb,
                                    std::u16string_view objectName, bool secure);

    HttpRequest(HttpRequest&&) noexcept;
    HttpRequest& operator=(HttpRequest&&) noexcept;
    ~HttpRequest();

    // Milliseconds; 0 means no limit. resolve and connect bound the connection set-up (TLS
    // handshake included), send and receive the longest pause while sending or receiving.
    Error SetTimeouts(int resolveMs, int connectMs, int sendMs, int receiveMs);
    // Basic authentication, sent with the first request.
    Error SetCredentials(AuthTarget target, std::u16string_view user, std::u16string_view password);
    // The transport's own cookie handling: when on, cookies set by a response are sent on the
    // redirects of the same request (nothing is kept after the request).
    Error SetCookieHandling(bool enabled);
    Error SetFollowRedirects(bool follow);
    // Header lines separated by "\r\n" (empty lines skipped); each must be "Name: value".
    // A later line whose name equals an earlier one (letter case ignored) replaces it when
    // replace is true, else both are sent. An Accept line of our own keeps libcurl from adding
    // its own; libcurl adds no User-Agent and no "Expect: 100-continue".
    Error AddHeaders(std::u16string_view block, bool replace);

    // Connects (through the proxy when one applies) and starts sending the request with body.
    Error Send(std::span<const std::uint8_t> body);
    // Waits until the headers of the final response have arrived (redirects followed and
    // 1xx responses skipped on the way).
    Error ReceiveResponse();
    // The number of body bytes ready to be read, waiting for more when none are; 0 at the end of
    // the body. A body cut short (fewer bytes than announced, broken chunked framing, time-out)
    // makes this or Read fail once the bytes that did arrive have been read.
    Error QueryDataAvailable(std::size_t& count);
    // Copies up to buffer.size() ready bytes (waiting when none are ready).
    Error Read(std::span<std::uint8_t> buffer, std::size_t& read);

    // Status line and header lines of the final response as UTF-16LE bytes, each line ended by
    // "\r\n", then the blank line and one zero unit. When buffer is too small it fails with
    // InvalidArgument and sets size to the number of bytes needed; otherwise fills it and sets
    // size to the bytes written.
    Error QueryRawHeaders(std::span<std::uint8_t> buffer, std::size_t& size) const;
    // The same headers as code-page-936 bytes, and the status code (0 before a response).
    std::string RawHeaders() const;
    int StatusCode() const;
    // The length the final response announced, when it did.
    std::optional<std::uint64_t> ContentLength() const;

    struct Impl;  // opaque; holds the libcurl handles

  private:
    explicit HttpRequest(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// Test seams, per thread. While a ScopedTransportFault lives, the named operation fails on the
// calling thread with an Internal error, so that callers' failure paths can be exercised.
enum class TransportOperation {
    OpenSession,
    Connect,
    OpenRequest,
    SetTimeouts,
    SetServerCredentials,
    SetProxyCredentials,
    SetCookieHandling,
    SetFollowRedirects,
    AddHeaders,
    Send,
    ReceiveResponse,
    Read,
    QueryRawHeaders,
};

class ScopedTransportFault {
  public:
    explicit ScopedTransportFault(TransportOperation operation);
    ~ScopedTransportFault();
    ScopedTransportFault(const ScopedTransportFault&) = delete;
    ScopedTransportFault& operator=(const ScopedTransportFault&) = delete;

  private:
    TransportOperation operation_;
};

// While one lives, TLS transfers started on the calling thread (by this transport, HttpDownload
// and HttpReadWhole) trust only the certificates in the PEM file, instead of the system's
// store; verification itself stays on. Lets tests prove that a self-signed server is refused
// by default and accepted when its certificate is trusted.
class ScopedTrustedCertificates {
  public:
    explicit ScopedTrustedCertificates(std::string pemFile);
    ~ScopedTrustedCertificates();
    ScopedTrustedCertificates(const ScopedTrustedCertificates&) = delete;
    ScopedTrustedCertificates& operator=(const ScopedTrustedCertificates&) = delete;

  private:
    std::string previous_;
};

}  // namespace qubrelo::http
