#include "platform/http/HttpTransport.h"

#include <curl/curl.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/http/Cancellation.h"
#include "platform/http/CurlShared.h"
#include "text/CodePage.h"

namespace qubrelo::http {

namespace {

using Clock = std::chrono::steady_clock;

thread_local unsigned injectedFaults = 0;

unsigned FaultBit(TransportOperation operation) { return 1u << static_cast<unsigned>(operation); }

bool Faulted(TransportOperation operation) { return (injectedFaults & FaultBit(operation)) != 0; }

Error InjectedFault() { return {ErrorCode::Internal, "failure injected by a test"}; }

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return LowerAscii(x) == LowerAscii(y);
           });
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualNoCase(text.substr(0, prefix.size()), prefix);
}

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

// UTF-16 to UTF-8; a lone surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// The object name as it goes on the request line: UTF-8, with bytes that may not appear
// there raw (controls, blanks, non-ASCII) percent-encoded; everything else unchanged.
std::string EncodeObjectName(std::u16string_view objectName) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : Utf16ToUtf8(objectName)) {
        if (c <= 0x20 || c >= 0x7F) {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        } else {
            out += static_cast<char>(c);
        }
    }
    if (out.empty() || out.front() != '/') out.insert(out.begin(), '/');
    return out;
}

int ParseStatusCode(std::string_view statusLine) {
    // "HTTP/1.1 200 OK"
    const auto space = statusLine.find(' ');
    if (space == std::string_view::npos) return 0;
    int code = 0;
    std::size_t i = space + 1;
    for (int digits = 0; digits < 3 && i < statusLine.size(); ++digits, ++i) {
        if (statusLine[i] < '0' || statusLine[i] > '9') return 0;
        code = code * 10 + (statusLine[i] - '0');
    }
    return code;
}

struct EasyDeleter {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiDeleter {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

struct HeaderLine {
    std::string name;
    std::string line;
};

// Bytes ready for the reader beyond which the transfer pauses until they are read.
constexpr std::size_t kMaxPending = 2 * 1024 * 1024;
constexpr long kBufferSize = 512 * 1024;
constexpr long kMaxRedirects = 10;

}  // namespace

// ----------------------------------------------------------------------------------------------
// URL, session, connection

bool TransportSupported() {
    const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
    if (info == nullptr || (info->features & CURL_VERSION_SSL) == 0) return false;
    bool http = false, https = false;
    for (const char* const* p = info->protocols; p != nullptr && *p != nullptr; ++p) {
        http = http || std::strcmp(*p, "http") == 0;
        https = https || std::strcmp(*p, "https") == 0;
    }
    return http && https;
}

Result<UrlComponents> CrackUrl(std::u16string_view url) {
    Result<UrlComponents> result;
    const auto fail = [&](std::string message) {
        result.error = {ErrorCode::InvalidUrl, std::move(message)};
        return result;
    };
    const std::string narrow = Utf16ToUtf8(url);
    UrlComponents parts;
    std::size_t rest = 0;
    if (StartsWithNoCase(narrow, "http://")) {
        parts.scheme = Scheme::Http;
        parts.port = 80;
        rest = 7;
    } else if (StartsWithNoCase(narrow, "https://")) {
        parts.scheme = Scheme::Https;
        parts.port = 443;
        rest = 8;
    } else {
        return fail("not an http or https address");
    }
    const std::u16string_view afterScheme = url.substr(rest);
    const std::size_t authorityEnd = afterScheme.find_first_of(u"/?#");
    std::u16string_view authority = afterScheme.substr(0, authorityEnd);
    const std::u16string_view tail = authorityEnd == std::u16string_view::npos
                                         ? std::u16string_view{}
                                         : afterScheme.substr(authorityEnd);
    if (const auto at = authority.rfind(u'@'); at != std::u16string_view::npos) {
        authority.remove_prefix(at + 1);
    }
    std::u16string_view host = authority;
    std::u16string_view port;
    if (!authority.empty() && authority.front() == u'[') {
        const auto close = authority.find(u']');
        if (close == std::u16string_view::npos) return fail("unclosed IPv6 address");
        host = authority.substr(0, close + 1);
        const auto after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != u':') return fail("text after the IPv6 address");
            port = after.substr(1);
        }
    } else if (const auto colon = authority.rfind(u':'); colon != std::u16string_view::npos) {
        host = authority.substr(0, colon);
        port = authority.substr(colon + 1);
    }
    if (host.empty()) return fail("no host");
    if (!port.empty()) {
        unsigned value = 0;
        for (char16_t c : port) {
            if (c < u'0' || c > u'9') return fail("bad port");
            value = value * 10 + (c - u'0');
            if (value > 65535) return fail("bad port");
        }
        if (value == 0) return fail("bad port");
        parts.port = static_cast<std::uint16_t>(value);
    }
    parts.host = std::u16string(host);
    const std::size_t extraStart = tail.find_first_of(u"?#");
    parts.path = std::u16string(tail.substr(0, extraStart));
    if (extraStart != std::u16string_view::npos)
        parts.extra = std::u16string(tail.substr(extraStart));
    result.value = std::move(parts);
    return result;
}

Result<HttpSession> HttpSession::Open(AccessType access, std::u16string_view proxyList) {
    Result<HttpSession> result;
    if (Faulted(TransportOperation::OpenSession)) {
        result.error = InjectedFault();
        return result;
    }
    HttpSession session;
    session.access_ = access;
    if (access == AccessType::NamedProxy) {
        session.proxyList_ = Utf16ToUtf8(proxyList);
        if (TrimBlanks(session.proxyList_).empty()) {
            result.error = {ErrorCode::InvalidArgument, "a named proxy needs a proxy name"};
            return result;
        }
    }
    result.value = std::move(session);
    return result;
}

std::string HttpSession::ProxyFor(Scheme scheme) const {
    if (access_ != AccessType::NamedProxy) return {};
    const std::string_view wanted = scheme == Scheme::Https ? "https" : "http";
    std::string generic;
    std::string_view list = proxyList_;
    while (!list.empty()) {
        const auto end = list.find_first_of("; \t");
        const std::string_view entry = list.substr(0, end);
        list = end == std::string_view::npos ? std::string_view{} : list.substr(end + 1);
        if (entry.empty()) continue;
        if (const auto eq = entry.find('='); eq != std::string_view::npos) {
            if (EqualNoCase(entry.substr(0, eq), wanted)) return std::string(entry.substr(eq + 1));
        } else if (generic.empty()) {
            generic = std::string(entry);
        }
    }
    return generic;
}

Result<HttpConnection> HttpConnection::Connect(const HttpSession& session, std::u16string_view host,
                                               std::uint16_t port) {
    Result<HttpConnection> result;
    if (Faulted(TransportOperation::Connect)) {
        result.error = InjectedFault();
        return result;
    }
    if (host.empty()) {
        result.error = {ErrorCode::InvalidArgument, "no host"};
        return result;
    }
    HttpConnection connection;
    connection.session_ = session;
    connection.host_ = Utf16ToUtf8(host);
    connection.port_ = port;
    result.value = std::move(connection);
    return result;
}

// ----------------------------------------------------------------------------------------------
// Request

struct HttpRequest::Impl {
    std::unique_ptr<CURL, EasyDeleter> easy;
    std::unique_ptr<CURLM, MultiDeleter> multi;
    std::unique_ptr<curl_slist, ListDeleter> headerList;
    char errorBuffer[CURL_ERROR_SIZE] = {};

    // Settings, applied when the request is sent.
    std::string url;
    std::string verb;
    std::string proxy;
    int connectMs = 60000;
    int resolveMs = 0;
    int receiveMs = 30000;
    int sendMs = 30000;
    bool cookies = true;
    bool followRedirects = true;
    std::string user, password, proxyUser, proxyPassword;
    std::vector<HeaderLine> headers;
    std::vector<std::uint8_t> body;

    enum class State { Opened, Sent, Received } state = State::Opened;
    bool inMulti = false;
    bool connected = false;
    bool done = false;
    Error finalError;  // valid once done

    // Response: the block being received, the last complete one and whether it is final.
    std::string currentBlock;
    std::string lastBlock;
    int lastCode = 0;
    bool finalHeaders = false;
    int redirectsSeen = 0;

    std::vector<std::uint8_t> pending;
    std::size_t pendingOffset = 0;
    bool paused = false;

    Clock::time_point lastActivity = Clock::now();
    curl_off_t lastUploaded = 0;
    bool uploaded = false;  // the whole request body went out, or the answer began

    ~Impl() {
        if (inMulti) curl_multi_remove_handle(multi.get(), easy.get());
    }

    std::size_t Available() const { return pending.size() - pendingOffset; }

    void Finish(Error error) {
        if (done) return;
        done = true;
        finalError = std::move(error);
        if (inMulti) {
            curl_multi_remove_handle(multi.get(), easy.get());
            inMulti = false;
        }
    }

    bool HasLocation(std::string_view block) const {
        std::size_t start = 0;
        while (start < block.size()) {
            std::size_t end = block.find('\n', start);
            if (end == std::string_view::npos) end = block.size();
            const std::string_view line = block.substr(start, end - start);
            if (StartsWithNoCase(line, "location:") && !TrimBlanks(line.substr(9)).empty() &&
                TrimBlanks(line.substr(9)) != "\r") {
                return true;
            }
            start = end + 1;
        }
        return false;
    }

    void OnHeaderLine(std::string_view raw) {
        lastActivity = Clock::now();
        uploaded = true;
        std::string line(raw);
        if (!line.empty() && line.back() == '\n') line.pop_back();
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (StartsWithNoCase(line, "HTTP/")) {
            currentBlock = line + "\r\n";
            return;
        }
        if (!line.empty()) {
            currentBlock += line + "\r\n";
            return;
        }
        // The blank line ends a response's headers.
        currentBlock += "\r\n";
        const int code = ParseStatusCode(currentBlock);
        if (code >= 100 && code < 200) {
            currentBlock.clear();
            return;
        }
        lastBlock = std::move(currentBlock);
        currentBlock.clear();
        lastCode = code;
        // libcurl follows a 3xx with a non-empty Location when redirects are on; the body of such
        // a response is skipped and the next response's headers follow.
        const bool followed = followRedirects && code >= 300 && code < 400 &&
                              HasLocation(lastBlock) && redirectsSeen < kMaxRedirects;
        if (followed) {
            ++redirectsSeen;
        } else {
            finalHeaders = true;
        }
    }

    std::size_t OnBody(const char* data, std::size_t size) {
        lastActivity = Clock::now();
        if (Available() >= kMaxPending) {
            paused = true;
            return CURL_WRITEFUNC_PAUSE;
        }
        if (pendingOffset > 0 && pendingOffset == pending.size()) {
            pending.clear();
            pendingOffset = 0;
        }
        try {
            pending.insert(pending.end(), data, data + size);
        } catch (const std::exception&) {
            return 0;  // the transfer fails with a write error; no exception crosses libcurl
        }
        return size;
    }

    // Runs the transfer until ready() holds or it ends.
    template <typename Ready>
    void Pump(Ready ready) {
        lastActivity = Clock::now();
        while (!ready() && !done) {
            if (StopRequested()) {
                Finish({ErrorCode::Aborted, "stopped"});
                break;
            }
            int running = 0;
            const CURLMcode mc = curl_multi_perform(multi.get(), &running);
            if (mc != CURLM_OK) {
                Finish({ErrorCode::Internal, curl_multi_strerror(mc)});
                break;
            }
            int queued = 0;
            while (CURLMsg* message = curl_multi_info_read(multi.get(), &queued)) {
                if (message->msg == CURLMSG_DONE && message->easy_handle == easy.get()) {
                    const CURLcode code = message->data.result;
                    if (code == CURLE_ABORTED_BY_CALLBACK && StopRequested()) {
                        Finish({ErrorCode::Aborted, "stopped"});
                    } else {
                        Finish(detail::ErrorFromCurl(code, errorBuffer));
                    }
                }
            }
            if (ready() || done) break;
            // The send time-out bounds pauses until the request is out, the receive one after.
            const int limit = state == State::Opened ? 0 : (uploaded ? receiveMs : sendMs);
            if (connected && limit > 0 &&
                Clock::now() - lastActivity > std::chrono::milliseconds(limit)) {
                Finish({ErrorCode::Timeout, uploaded
                                                ? "no data for longer than the receive time-out"
                                                : "no progress for longer than the send time-out"});
                break;
            }
            // Short waits keep the stop flag and the idle time-out responsive.
            curl_multi_poll(multi.get(), nullptr, 0, 100, nullptr);
        }
    }

    void Resume() {
        if (paused && Available() < kMaxPending / 2 && !done) {
            paused = false;
            lastActivity = Clock::now();
            curl_easy_pause(easy.get(), CURLPAUSE_CONT);
        }
    }
};

namespace {

std::size_t HeaderCallback(char* data, std::size_t size, std::size_t count, void* user) {
    static_cast<HttpRequest::Impl*>(user)->OnHeaderLine(std::string_view(data, size * count));
    return size * count;
}

std::size_t BodyCallback(char* data, std::size_t size, std::size_t count, void* user) {
    return static_cast<HttpRequest::Impl*>(user)->OnBody(data, size * count);
}

int ProgressCallback(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t ulnow) {
    auto* impl = static_cast<HttpRequest::Impl*>(user);
    if (ulnow != impl->lastUploaded) {
        impl->lastUploaded = ulnow;
        impl->lastActivity = Clock::now();
    }
    if (impl->connected && ulnow >= static_cast<curl_off_t>(impl->body.size())) {
        impl->uploaded = true;
    }
    return StopRequested() ? 1 : 0;
}

int PrereqCallback(void* user, char*, char*, int, int) {
    auto* impl = static_cast<HttpRequest::Impl*>(user);
    impl->connected = true;
    impl->lastActivity = Clock::now();
    return CURL_PREREQFUNC_OK;
}

}  // namespace

HttpRequest::HttpRequest(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
HttpRequest::HttpRequest(HttpRequest&&) noexcept = default;
HttpRequest& HttpRequest::operator=(HttpRequest&&) noexcept = default;
HttpRequest::~HttpRequest() = default;

Result<HttpRequest> HttpRequest::Open(const HttpConnection& connection, std::u16string_view verb,
                                      std::u16string_view objectName, bool secure) {
    Result<HttpRequest> result;
    if (Faulted(TransportOperation::OpenRequest)) {
        result.error = InjectedFault();
        return result;
    }
    if (verb.empty()) {
        result.error = {ErrorCode::InvalidArgument, "no verb"};
        return result;
    }
    auto impl = std::make_unique<Impl>();
    impl->easy.reset(curl_easy_init());
    impl->multi.reset(curl_multi_init());
    if (!impl->easy || !impl->multi) {
        result.error = {ErrorCode::Internal, "could not create transfer handles"};
        return result;
    }
    impl->verb = Utf16ToUtf8(verb);
    const std::uint16_t port = connection.port_ != 0 ? connection.port_ : (secure ? 443 : 80);
    std::string host = connection.host_;
    if (host.find(':') != std::string::npos && host.front() != '[') host = "[" + host + "]";
    impl->url = std::string(secure ? "https://" : "http://") + host + ":" + std::to_string(port) +
                EncodeObjectName(objectName);
    impl->proxy = connection.session_.ProxyFor(secure ? Scheme::Https : Scheme::Http);
    result.value = HttpRequest(std::move(impl));
    return result;
}

Error HttpRequest::SetTimeouts(int resolveMs, int connectMs, int sendMs, int receiveMs) {
    if (Faulted(TransportOperation::SetTimeouts)) return InjectedFault();
    if (resolveMs < -1 || connectMs < -1 || sendMs < -1 || receiveMs < -1) {
        return {ErrorCode::InvalidArgument, "negative time-out"};
    }
    if (impl_->state != Impl::State::Opened) return {ErrorCode::WrongState, "already sent"};
    // -1 and 0 both mean no limit.
    impl_->resolveMs = std::max(resolveMs, 0);
    impl_->connectMs = std::max(connectMs, 0);
    impl_->sendMs = std::max(sendMs, 0);
    impl_->receiveMs = std::max(receiveMs, 0);
    return {};
}

Error HttpRequest::SetCredentials(AuthTarget target, std::u16string_view user,
                                  std::u16string_view password) {
    if (Faulted(target == AuthTarget::Server ? TransportOperation::SetServerCredentials
                                             : TransportOperation::SetProxyCredentials)) {
        return InjectedFault();
    }
    if (user.empty()) return {ErrorCode::InvalidArgument, "no user name"};
    if (impl_->state != Impl::State::Opened) return {ErrorCode::WrongState, "already sent"};
    // Credentials travel as code-page-936 bytes, like every other text of the tool.
    if (target == AuthTarget::Server) {
        impl_->user = Utf16ToText(user);
        impl_->password = Utf16ToText(password);
    } else {
        impl_->proxyUser = Utf16ToText(user);
        impl_->proxyPassword = Utf16ToText(password);
    }
    return {};
}

Error HttpRequest::SetCookieHandling(bool enabled) {
    if (Faulted(TransportOperation::SetCookieHandling)) return InjectedFault();
    if (impl_->state != Impl::State::Opened) return {ErrorCode::WrongState, "already sent"};
    impl_->cookies = enabled;
    return {};
}

Error HttpRequest::SetFollowRedirects(bool follow) {
    if (Faulted(TransportOperation::SetFollowRedirects)) return InjectedFault();
    if (impl_->state != Impl::State::Opened) return {ErrorCode::WrongState, "already sent"};
    impl_->followRedirects = follow;
    return {};
}

Error HttpRequest::AddHeaders(std::u16string_view block, bool replace) {
    if (Faulted(TransportOperation::AddHeaders)) return InjectedFault();
    if (impl_->state != Impl::State::Opened) return {ErrorCode::WrongState, "already sent"};
    const std::string text = Utf16ToText(block);
    std::vector<HeaderLine> parsed;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos) end = text.size();
        const std::string_view line = std::string_view(text).substr(start, end - start);
        start = end + 2;
        if (TrimBlanks(line).empty()) continue;
        if (line.find_first_of("\r\n") != std::string_view::npos) {
            return {ErrorCode::InvalidArgument, "bare line break in a header line"};
        }
        const auto colon = line.find(':');
        const std::string_view name = colon == std::string_view::npos
                                          ? std::string_view{}
                                          : TrimBlanks(line.substr(0, colon));
        if (name.empty()) {
            return {ErrorCode::InvalidArgument, "header line without a name: " + std::string(line)};
        }
        parsed.push_back({std::string(name), std::string(TrimBlanks(line))});
    }
    for (HeaderLine& header : parsed) {
        auto existing =
            std::find_if(impl_->headers.begin(), impl_->headers.end(),
                         [&](const HeaderLine& h) { return EqualNoCase(h.name, header.name); });
        if (replace && existing != impl_->headers.end()) {
            const std::string_view value =
                TrimBlanks(std::string_view(header.line).substr(header.line.find(':') + 1));
            if (value.empty()) {
                impl_->headers.erase(existing);
            } else {
                *existing = std::move(header);
            }
        } else {
            impl_->headers.push_back(std::move(header));
        }
    }
    return {};
}

Error HttpRequest::Send(std::span<const std::uint8_t> body) {
    if (Faulted(TransportOperation::Send)) return InjectedFault();
    Impl& r = *impl_;
    if (r.state != Impl::State::Opened) return {ErrorCode::WrongState, "already sent"};
    r.state = Impl::State::Sent;
    CURL* e = r.easy.get();
    detail::ApplyCommonOptions(e, r.errorBuffer);
    curl_easy_setopt(e, CURLOPT_URL, r.url.c_str());
    curl_easy_setopt(e, CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(e, CURLOPT_BUFFERSIZE, kBufferSize);
    if (!r.proxy.empty()) {
        curl_easy_setopt(e, CURLOPT_PROXY, r.proxy.c_str());
        curl_easy_setopt(e, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    }
    if (!r.user.empty()) {
        curl_easy_setopt(e, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
        curl_easy_setopt(e, CURLOPT_USERNAME, r.user.c_str());
        curl_easy_setopt(e, CURLOPT_PASSWORD, r.password.c_str());
    }
    if (!r.proxyUser.empty()) {
        curl_easy_setopt(e, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_BASIC));
        curl_easy_setopt(e, CURLOPT_PROXYUSERNAME, r.proxyUser.c_str());
        curl_easy_setopt(e, CURLOPT_PROXYPASSWORD, r.proxyPassword.c_str());
    }
    if (r.cookies) curl_easy_setopt(e, CURLOPT_COOKIEFILE, "");
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, r.followRedirects ? 1L : 0L);
    curl_easy_setopt(e, CURLOPT_MAXREDIRS, kMaxRedirects);
    // Two limits near the int maximum add up past it: sum in 64 bits and clamp.
    const std::int64_t connectLimit =
        std::int64_t{r.connectMs} + (r.connectMs > 0 ? std::int64_t{r.resolveMs} : 0);
    constexpr std::int64_t kNoConnectLimit = 24 * 3600 * 1000;
    curl_easy_setopt(
        e, CURLOPT_CONNECTTIMEOUT_MS,
        static_cast<long>(connectLimit > 0 ? std::min<std::int64_t>(connectLimit, INT_MAX)
                                           : kNoConnectLimit));

    // Method and body.
    r.body.assign(body.begin(), body.end());
    const bool hasBody = !r.body.empty();
    const auto setBody = [&] {
        curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(r.body.size()));
        curl_easy_setopt(e, CURLOPT_POSTFIELDS,
                         r.body.empty() ? "" : reinterpret_cast<const char*>(r.body.data()));
    };
    if (r.verb == "HEAD") {
        curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
    } else if (r.verb == "GET" && !hasBody) {
        curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
    } else if (r.verb == "POST") {
        curl_easy_setopt(e, CURLOPT_POST, 1L);
        setBody();
    } else {
        curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, r.verb.c_str());
        if (hasBody || r.verb != "GET") setBody();
    }

    // Header lines: ours as given; keep libcurl from adding Accept, Expect or a form type.
    curl_slist* list = nullptr;
    const auto append = [&](const std::string& line) {
        curl_slist* grown = curl_slist_append(list, line.c_str());
        if (grown != nullptr) list = grown;
    };
    const auto has = [&](std::string_view name) {
        return std::any_of(r.headers.begin(), r.headers.end(),
                           [&](const HeaderLine& h) { return EqualNoCase(h.name, name); });
    };
    for (const HeaderLine& header : r.headers) {
        const std::string_view value =
            TrimBlanks(std::string_view(header.line).substr(header.line.find(':') + 1));
        // "Name:" alone would tell libcurl to drop the header; "Name;" sends it empty.
        append(value.empty() ? header.name + ";" : header.line);
    }
    if (!has("Accept")) append("Accept:");
    if (!has("Expect")) append("Expect:");
    if (!has("Content-Type")) append("Content-Type:");
    r.headerList.reset(list);
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, r.headerList.get());

    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &HeaderCallback);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, &r);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &BodyCallback);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, &r);
    curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, &ProgressCallback);
    curl_easy_setopt(e, CURLOPT_XFERINFODATA, &r);
    curl_easy_setopt(e, CURLOPT_PREREQFUNCTION, &PrereqCallback);
    curl_easy_setopt(e, CURLOPT_PREREQDATA, &r);

    if (curl_multi_add_handle(r.multi.get(), e) != CURLM_OK) {
        r.Finish({ErrorCode::Internal, "could not start the transfer"});
        return r.finalError;
    }
    r.inMulti = true;
    r.Pump([&] { return r.connected; });
    if (!r.connected) {
        return r.finalError.ok() ? Error{ErrorCode::SendFailed, "no connection"} : r.finalError;
    }
    return {};
}

Error HttpRequest::ReceiveResponse() {
    if (Faulted(TransportOperation::ReceiveResponse)) return InjectedFault();
    Impl& r = *impl_;
    if (r.state != Impl::State::Sent) return {ErrorCode::WrongState, "not sent"};
    r.Pump([&] { return r.finalHeaders; });
    const bool answered = r.finalHeaders || (r.done && r.finalError.ok() && !r.lastBlock.empty());
    if (!answered) {
        return r.finalError.ok() ? Error{ErrorCode::ReceiveFailed, "no response"} : r.finalError;
    }
    r.state = Impl::State::Received;
    return {};
}

Error HttpRequest::QueryDataAvailable(std::size_t& count) {
    Impl& r = *impl_;
    count = 0;
    if (r.state != Impl::State::Received) return {ErrorCode::WrongState, "no response"};
    r.Pump([&] { return r.Available() > 0; });
    if (r.Available() > 0) {
        count = r.Available();
    } else if (!r.finalError.ok()) {
        // The body broke off: announce one more byte so that the reader's next Read reports it.
        count = 1;
    }
    return {};
}

Error HttpRequest::Read(std::span<std::uint8_t> buffer, std::size_t& read) {
    read = 0;
    if (Faulted(TransportOperation::Read)) return InjectedFault();
    Impl& r = *impl_;
    if (r.state != Impl::State::Received) return {ErrorCode::WrongState, "no response"};
    if (buffer.empty()) return {};
    r.Pump([&] { return r.Available() > 0; });
    if (r.Available() == 0) return r.finalError;  // none at the clean end of the body
    read = std::min(buffer.size(), r.Available());
    std::memcpy(buffer.data(), r.pending.data() + r.pendingOffset, read);
    r.pendingOffset += read;
    if (r.pendingOffset == r.pending.size()) {
        r.pending.clear();
        r.pendingOffset = 0;
    }
    r.Resume();
    return {};
}

Error HttpRequest::QueryRawHeaders(std::span<std::uint8_t> buffer, std::size_t& size) const {
    if (Faulted(TransportOperation::QueryRawHeaders)) return InjectedFault();
    const Impl& r = *impl_;
    if (r.state != Impl::State::Received) return {ErrorCode::WrongState, "no response"};
    const ByteBuffer wide = AnsiToUtf16(r.lastBlock);  // ends with its zero unit
    const std::size_t needed = wide.empty() ? 2 : wide.size();
    if (buffer.size() < needed) {
        size = needed;
        return {ErrorCode::InvalidArgument, "buffer too small"};
    }
    std::fill(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(needed), 0);
    std::copy(wide.begin(), wide.end(), buffer.begin());
    size = needed;
    return {};
}

std::string HttpRequest::RawHeaders() const { return impl_->lastBlock; }

int HttpRequest::StatusCode() const { return impl_->lastCode; }

std::optional<std::uint64_t> HttpRequest::ContentLength() const {
    std::optional<std::uint64_t> length;
    curl_off_t announced = -1;
    if (impl_->state == Impl::State::Received &&
        curl_easy_getinfo(impl_->easy.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced) ==
            CURLE_OK &&
        announced >= 0) {
        length = static_cast<std::uint64_t>(announced);
    }
    return length;
}

ScopedTransportFault::ScopedTransportFault(TransportOperation operation) : operation_(operation) {
    injectedFaults |= FaultBit(operation_);
}

ScopedTransportFault::~ScopedTransportFault() { injectedFaults &= ~FaultBit(operation_); }

}  // namespace qubrelo::http
