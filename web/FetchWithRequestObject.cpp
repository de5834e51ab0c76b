#include "web/FetchWithRequestObject.h"

#include <climits>
#include <cstdint>
#include <new>

#include "text/Primitives.h"
#include "text/Search.h"
#include "web/cookies/Cookies.h"

namespace qubrelo {

namespace {

constexpr const char* kProgId = "WinHttp.WinHttpRequest.5.1";

std::int32_t TimeoutMilliseconds(int timeoutSeconds) {
    if (timeoutSeconds < 1) return 15000;
    const long long ms = static_cast<long long>(timeoutSeconds) * 1000;
    return ms > INT_MAX ? INT_MAX : static_cast<std::int32_t>(ms);
}

automation::AutomationVariant Wide(std::string_view text) {
    return automation::AutomationVariant::FromText(text);
}

}  // namespace

Text HeaderLineName(std::string_view line) {
    const int colon = TextFind(line, ":");
    return colon < 1 ? Text() : TextTrim(TextLeft(line, colon - 1));
}

Text HeaderLineValue(std::string_view line) {
    const int colon = TextFind(line, ":");
    return colon < 1 ? Text() : TextTrim(TextRight(line, TextLength(line) - colon));
}

namespace {

ByteBuffer Fetch(std::string_view url, const FetchWithRequestObjectArgs& args) {
    Text spareCookies, spareReceived, spareRequestHeaders, spareResponseHeaders;
    int spareStatus = 0;
    Text& cookies = args.cookies ? *args.cookies : spareCookies;
    Text& receivedCookies = args.receivedCookies ? *args.receivedCookies : spareReceived;
    Text& requestHeaders = args.requestHeaders ? *args.requestHeaders : spareRequestHeaders;
    Text& responseHeaders = args.responseHeaders ? *args.responseHeaders : spareResponseHeaders;
    int& status = args.status ? *args.status : spareStatus;

    automation::Scope automationLayer;
    static constexpr const char* kMethods[] = {"GET", "POST", "HEAD"};
    const int method = (args.method < 0 || args.method > 2) ? 0 : args.method;

    // A further reference to the caller's object, or one made for this call; it goes before
    // the automation layer is released.
    automation::AutomationObject request;
    if (args.requestObject != nullptr) {
        request = *args.requestObject;
    } else if (!request.Create(kProgId)) {
        return {};  // nothing was sent and no argument is touched
    }

    if (args.timeoutSeconds != -1) {
        const std::int32_t t = TimeoutMilliseconds(args.timeoutSeconds);
        request.Call("SetTimeouts", {t, t, t, t});
    }
    if (!args.proxy.empty()) {
        request.Call("SetProxy", {std::int32_t{2}, Wide(args.proxy)});
        if (!args.proxyUser.empty()) {
            request.Call("SetProxyCredentials",
                         {Wide(args.proxyUser), Wide(args.proxyPassword),
                          std::int32_t{args.proxyCredentialFlag.value_or(1)}});
        }
    }
    request.Call("Open", {Wide(kMethods[method]), Wide(url), false});
    if (args.refuseRedirects) request.Put("Option", std::int32_t{0}, {std::int32_t{6}});
    // The object takes this write but keeps verifying certificates (see its component).
    request.Put("Option", std::int32_t{0x3300}, {std::int32_t{4}});

    // Default headers, each added when its exact-case name is missing from the block so far.
    if (requestHeaders.empty()) requestHeaders = "Accept: */*";
    if (TextFind(requestHeaders, "Accept:") < 1) {
        requestHeaders = TextConcat({requestHeaders, "\r\nAccept: */*"});
    }
    if (TextFind(requestHeaders, "Referer:") < 1) {
        requestHeaders = TextConcat({requestHeaders, "\r\nReferer: ", url});
    }
    if (TextFind(requestHeaders, "Accept-Language:") < 1) {
        requestHeaders = TextConcat({requestHeaders, "\r\nAccept-Language: zh-cn"});
    }
    if (TextFind(requestHeaders, "User-Agent:") < 1) {
        requestHeaders = TextConcat(
            {requestHeaders, "\r\nUser-Agent: Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)"});
    }
    if (TextFind(requestHeaders, "Content-Type:") < 1) {
        requestHeaders =
            TextConcat({requestHeaders, "\r\nContent-Type: application/x-www-form-urlencoded"});
    }

    if (!cookies.empty()) request.Call("SetRequestHeader", {Wide("Cookie"), Wide(cookies)});
    const auto setHeader = [&](std::string_view line) {
        request.Call("SetRequestHeader", {Wide(HeaderLineName(line)), Wide(HeaderLineValue(line))});
    };
    if (TextFind(requestHeaders, "\r\n") < 1) {
        setHeader(requestHeaders);
    } else {
        for (const Text& line : TextSplit(requestHeaders, "\r\n")) {
            if (!line.empty()) setHeader(line);
        }
    }

    if (!args.bodyBytes.empty()) {
        request.Call("Send", {automation::AutomationVariant(args.bodyBytes)});
    } else {
        request.Call("Send", {Wide(args.bodyText)});
    }

    ByteBuffer body = request.Get("ResponseBody").ToBytes();
    responseHeaders =
        TextReplace(request.GetText("GetallResponseHeaders"), "Set-Cookie", "Set-Cookie",
                    std::nullopt, std::nullopt, /*caseSensitive=*/false);
    const double number = request.GetNumber("Status");
    status = (number > INT_MIN && number < INT_MAX) ? static_cast<int>(number) : 0;

    receivedCookies.clear();
    for (const Text& line : TextSplit(responseHeaders, "\r\n")) {
        if (TextFind(line, "Set-Cookie") < 1) continue;
        const Text value = TextFind(line, ";") > 0 ? TextBetween(line, "Set-Cookie:", ";")
                                                   : TextReplace(line, "Set-Cookie:", "",
                                                                 std::nullopt, std::nullopt, false);
        // Appended in place: rebuilding the whole text per line is quadratic in the cookie count.
        receivedCookies += TextTrim(value);
        receivedCookies += "; ";
    }
    receivedCookies = TextLeft(receivedCookies, TextLength(receivedCookies) - 2);
    MergeCookies(cookies, receivedCookies);
    return body;
}

}  // namespace

ByteBuffer FetchWithRequestObject(std::string_view url, const FetchWithRequestObjectArgs& args) {
    try {
        return Fetch(url, args);
    } catch (const std::bad_alloc&) {
        // An answer too large for the memory left is a failed request, not the end of the tool.
        if (args.status != nullptr) *args.status = 0;
        return {};
    }
}

}  // namespace qubrelo
