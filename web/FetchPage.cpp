#include "web/FetchPage.h"

#include <algorithm>
#include <climits>
#include <new>
#include <optional>
#include <string>
#include <utility>

#include "platform/automation/Automation.h"
#include "platform/events/Events.h"
#include "platform/http/HttpTransport.h"
#include "platform/http/LargeBuffer.h"
#include "text/CodePage.h"
#include "text/Primitives.h"
#include "text/Search.h"
#include "text/regex/RegexObject.h"
#include "web/cookies/Cookies.h"

namespace qubrelo {

namespace {

thread_local int* processEventsCounter = nullptr;

void HandlePendingEvents() {
    if (processEventsCounter != nullptr) ++*processEventsCounter;
    ProcessEvents();
}

// The UTF-16 string of a buffer from AnsiToUtf16, without its terminator.
std::u16string Wide(const ByteBuffer& buffer) {
    std::u16string out;
    out.reserve(buffer.size() / 2);
    for (std::size_t i = 0; i + 1 < buffer.size(); i += 2) {
        const char16_t unit = static_cast<char16_t>(buffer[i] | (buffer[i + 1] << 8));
        if (unit == 0) break;
        out.push_back(unit);
    }
    return out;
}

std::u16string Wide(std::string_view text) { return Wide(AnsiToUtf16(text)); }

// The verbs by method number; anything else is a GET.
const char* VerbFor(int method) {
    switch (method) {
        case 1:
            return "POST";
        case 2:
            return "HEAD";
        case 3:
            return "PUT";
        default:
            return "GET";
    }
}

int TimeoutMilliseconds(int timeoutSeconds) {
    if (timeoutSeconds <= 0) return 30000;
    const double ms = static_cast<double>(timeoutSeconds) * 1000.0;
    return ms >= static_cast<double>(INT_MAX) ? INT_MAX : static_cast<int>(ms);
}

}  // namespace

namespace fetch_status {
Text PlatformUnsupported() { return Utf8ToText("700 当前系统不支持WinHttp服务!"); }
Text BadUrl() { return Utf8ToText("701 解析URL地址失败!"); }
Text SessionFailed() { return Utf8ToText("702 创建WinHttp会话失败!"); }
Text ConnectionFailed() { return Utf8ToText("703 创建WinHttp连接失败!"); }
Text RequestFailed() { return Utf8ToText("704 创建WinHttp请求失败!"); }
Text TimeoutsFailed() { return Utf8ToText("705 设置超时时间失败!"); }
Text ServerCredentialsFailed() { return Utf8ToText("706 设置服务器凭证失败!"); }
Text ProxyCredentialsFailed() { return Utf8ToText("707 设置代理凭证失败!"); }
Text CookieOptionFailed() { return Utf8ToText("708 禁止自动设置Cookies失败!"); }
Text RedirectOptionFailed() { return Utf8ToText("709 重定向设置失败!"); }
Text HeadersFailed() { return Utf8ToText("710 设置协议头失败!"); }
Text SendFailed() { return Utf8ToText("711 发送请求失败!"); }
Text NoResponse() { return Utf8ToText("712 服务器未响应!"); }
Text ReadFailed() { return Utf8ToText("713 读取数据失败!"); }
}  // namespace fetch_status

ScopedProcessEventsCounter::ScopedProcessEventsCounter()
    : previous_(std::exchange(processEventsCounter, &count_)) {}

ScopedProcessEventsCounter::~ScopedProcessEventsCounter() { processEventsCounter = previous_; }

Text FetchPage(std::string_view url, const FetchPageArgs& args) {
    // Out-arguments the caller omitted are written into these.
    Text spareReceivedCookies, spareResponseHeaders, spareLocation, spareStatusText;
    Text& receivedCookies = args.receivedCookies ? *args.receivedCookies : spareReceivedCookies;
    Text& responseHeaders = args.responseHeaders ? *args.responseHeaders : spareResponseHeaders;
    Text& location = args.location ? *args.location : spareLocation;
    Text& statusText = args.statusText ? *args.statusText : spareStatusText;
    const bool cookiesPresent = args.cookies != nullptr;

    // Entry: the pattern object (which pairs the automation layer for the whole call), the
    // character-set stream and the variant that carries the body into it.
    RegexObject regex;
    automation::AutomationObject stream;
    automation::AutomationVariant bodyVariant;
    if (!http::TransportSupported()) {
        statusText = fetch_status::PlatformUnsupported();
        return {};
    }

    Text page;
    // Each nested stage that was entered is followed by one event-processing call when the
    // call unwinds; the early ends of the option settings make none.
    int stagesEntered = 0;
    bool earlyEnd = false;
    bool finished = false;  // the body was read and the headers taken (or their query failed)

    std::optional<http::HttpSession> session;
    std::optional<http::HttpConnection> connection;
    std::optional<http::HttpRequest> request;

    const auto fetch = [&] {
        // URL.
        ++stagesEntered;
        const auto parts = http::CrackUrl(Wide(url));
        if (!parts.ok()) {
            statusText = fetch_status::BadUrl();
            return;
        }
        const Text host = Utf16ToText(parts.value->host);
        const std::u16string objectName =
            parts.value->path.empty() ? Wide("/") : parts.value->path + parts.value->extra;
        const std::uint16_t port = parts.value->port;
        const bool secure = parts.value->scheme == http::Scheme::Https;

        // Session: direct, or the named proxy for this scheme.
        ++stagesEntered;
        const Text proxyName =
            args.proxy.empty() ? Text() : (secure ? args.proxy : TextConcat({"http=", args.proxy}));
        auto opened = http::HttpSession::Open(
            args.proxy.empty() ? http::AccessType::NoProxy : http::AccessType::NamedProxy,
            Wide(proxyName));
        if (!opened.ok()) {
            statusText = fetch_status::SessionFailed();
            return;
        }
        session = std::move(opened.value);

        // Connection.
        ++stagesEntered;
        auto connected = http::HttpConnection::Connect(*session, Wide(host), port);
        if (!connected.ok()) {
            statusText = fetch_status::ConnectionFailed();
            return;
        }
        connection = std::move(connected.value);

        // Request.
        ++stagesEntered;
        auto created =
            http::HttpRequest::Open(*connection, Wide(VerbFor(args.method)), objectName, secure);
        if (!created.ok()) {
            statusText = fetch_status::RequestFailed();
            return;
        }
        request = std::move(created.value);
        http::HttpRequest& r = *request;

        // Time-outs, then the settings whose failure ends the call at once.
        ++stagesEntered;
        const int t = TimeoutMilliseconds(args.timeoutSeconds);
        if (r.SetTimeouts(t, t, t, t)) {
            statusText = fetch_status::TimeoutsFailed();
            return;
        }
        const auto endEarly = [&](Text text) {
            statusText = std::move(text);
            earlyEnd = true;
        };
        if (!args.userName.empty() && !args.password.empty() &&
            r.SetCredentials(http::AuthTarget::Server, Wide(args.userName), Wide(args.password))) {
            return endEarly(fetch_status::ServerCredentialsFailed());
        }
        if (!args.proxyUser.empty() && !args.proxyPassword.empty() &&
            r.SetCredentials(http::AuthTarget::Proxy, Wide(args.proxyUser),
                             Wide(args.proxyPassword))) {
            return endEarly(fetch_status::ProxyCredentialsFailed());
        }
        // Without a cookie list the transport neither sends nor keeps cookies by itself.
        if (r.SetCookieHandling(cookiesPresent)) {
            return endEarly(fetch_status::CookieOptionFailed());
        }
        if (args.refuseRedirects && r.SetFollowRedirects(false)) {
            return endEarly(fetch_status::RedirectOptionFailed());
        }

        // Header block: the caller's lines, then each default line its search does not find.
        ++stagesEntered;
        Text block =
            args.requestHeaders.empty() ? Text() : TextConcat({args.requestHeaders, "\r\n"});
        const auto addUnless = [&](std::string_view search, bool ignoreCase,
                                   std::string_view line) {
            if (TextFind(block, search, std::nullopt, ignoreCase) < 1) {
                block = TextConcat({block, line});
            }
        };
        addUnless("User-Agent: ", true,
                  "User-Agent: Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; WOW64; "
                  "Trident/5.0)\r\n");
        addUnless("Accept: ", true, "Accept: text/html, application/xhtml+xml, */*\r\n");
        addUnless("Accept-Encoding: ", true, "Accept-Encoding: gbk, GB2312\r\n");
        addUnless("Accept-Language: ", true, "Accept-Language: zh-cn\r\n");
        addUnless("Content-Type:", false, "Content-Type: application/x-www-form-urlencoded\r\n");
        addUnless("Cache-Control: ", true, "Cache-Control: no-cache\r\n");
        if (cookiesPresent && !args.cookies->empty() &&
            TextFind(block, "Cookie: ", std::nullopt, true) < 1) {
            block = TextConcat({block, "Cookie: ", *args.cookies, "\r\n"});
        }
        if (r.AddHeaders(Wide(block), /*replace=*/true)) {
            statusText = fetch_status::HeadersFailed();
            return;
        }

        // Send.
        ++stagesEntered;
        if (r.Send(TextToBytes(args.bodyText))) {
            statusText = fetch_status::SendFailed();
            return;
        }

        // Receive.
        ++stagesEntered;
        if (r.ReceiveResponse()) {
            statusText = fetch_status::NoResponse();
            return;
        }

        // Read the body in the chunks that are ready; a failed read stops reading only.
        // Memory the body cannot get ends reading like a failed read.
        ByteBuffer body;
        std::uint64_t announced = 0;
        if (const auto length = r.ContentLength();
            length && http::ResponseHasBody(r.StatusCode(), VerbFor(args.method))) {
            announced = *length;
            http::ReserveForBody(body, announced);
        }
        for (;;) {
            std::size_t available = 0;
            if (r.QueryDataAvailable(available) || available < 1) break;
            // Each chunk is read straight onto the end of the body.
            const std::size_t before = body.size();
            if (!http::GrowBody(body, before + available, announced)) {
                statusText = fetch_status::ReadFailed();
                break;
            }
            std::size_t read = 0;
            const bool failed = static_cast<bool>(
                r.Read(std::span<std::uint8_t>(body.data() + before, available), read));
            body.resize(before + read);
            if (failed) {
                statusText = fetch_status::ReadFailed();
                break;
            }
        }
        finished = true;

        // Header text: ask for the size, then for the text.
        std::size_t size = 0;
        (void)r.QueryRawHeaders({}, size);
        ByteBuffer raw = BlankBytes(static_cast<int>(size));
        if (r.QueryRawHeaders(raw, size)) return;
        Text headerText = Utf16ToAnsi(raw);
        responseHeaders = headerText;

        // Status: the status line from its code on ("200 OK").
        const int lineEnd = TextFind(headerText, "\r\n", 10);
        statusText = lineEnd > 0 ? TextMid(headerText, 10, lineEnd - 10) : Text();

        // Cookies and redirect target.
        headerText = TextReplace(headerText, "Set-Cookie", "Set-Cookie", std::nullopt, std::nullopt,
                                 /*caseSensitive=*/false);
        responseHeaders = headerText;
        for (const Text& line : TextSplit(headerText, "\r\n")) {
            if (TextFind(line, "Set-Cookie") > 0) {
                const Text value =
                    TextFind(line, ";") > 0
                        ? TextBetween(line, "Set-Cookie:", ";")
                        : TextReplace(line, "Set-Cookie:", "", std::nullopt, std::nullopt, false);
                // Appended in place: rebuilding per line is quadratic in the cookie count.
                receivedCookies += TextTrim(value);
                receivedCookies += "; ";
            }
            if (TextCompare(TextLeft(line, 10), "Location: ", /*caseSensitive=*/false) == 0) {
                location = TextMid(line, 11, TextLength(line));
            }
            HandlePendingEvents();
        }
        receivedCookies = TextLeft(receivedCookies, TextLength(receivedCookies) - 2);
        if (cookiesPresent) MergeCookies(*args.cookies, receivedCookies);

        // Body and text.
        // The page is the body up to its first zero byte (as BytesToText gives it).
        const auto zero = std::find(body.begin(), body.end(), std::uint8_t{0});
        page.assign(reinterpret_cast<const char*>(body.data()),
                    static_cast<std::size_t>(zero - body.begin()));
        const ByteBuffer* bodyBytes = &body;
        if (args.responseBody != nullptr) {
            *args.responseBody = std::move(body);
            bodyBytes = args.responseBody;
        }

        // Character set declared by the page in its first 1024 bytes.
        automation::Scope automationLayer;
        if (regex.Compile("<meta.+?charset=[^\\w]?([-\\w]+)", TextLeft(page, 1024))) {
            const Text charset = regex.SubmatchText(1, 1);
            if (!charset.empty() && charset != "gbk" && charset != "gb2312" &&
                stream.Create("Adodb.Stream")) {
                bodyVariant = automation::AutomationVariant(*bodyBytes);
                stream.Put("Type", std::int32_t{1});
                stream.Put("Mode", std::int32_t{3});
                stream.Call("Open");
                stream.Call("Write", {bodyVariant});
                stream.Put("Position", std::int32_t{0});
                stream.Put("Type", std::int32_t{2});
                // A name the stream does not know would read the bytes in its default
                // character set and garble the page: keep the text as received instead.
                if (stream.Put("Charset", automation::AutomationVariant::FromText(charset))) {
                    page = stream.GetText("ReadText");
                }
                stream.Call("Close");
                stream.Clear();
                bodyVariant.Clear();
            }
            HandlePendingEvents();
        }
    };
    try {
        fetch();
    } catch (const std::bad_alloc&) {
        // A page too large for the memory left: reported like a failed read, not a crash.
        page.clear();
        statusText = fetch_status::ReadFailed();
    }

    if (earlyEnd) return {};
    if (finished) HandlePendingEvents();
    for (int i = 0; i < stagesEntered; ++i) HandlePendingEvents();
    return page;
}

}  // namespace qubrelo
