#pragma once

// The request-object fetch: one request through the "WinHttp.WinHttpRequest.5.1" component,
// with its own default request headers and cookie collection.
//
// Arguments. url is required; the rest travel in FetchWithRequestObjectArgs, whose defaults are
// the values of omitted arguments. In/out and out arguments are pointers; a null pointer is an
// omitted argument, which behaves as a private empty variable the caller never sees. Two
// arguments tell omission apart from every value: proxyCredentialFlag (std::nullopt = omitted,
// which means 1) and requestObject (null = omitted: a new request object is made for the call;
// otherwise the caller's object is used and keeps this request's settings and response).
//
// Blocks the calling thread until the response has arrived or a time-out passed. Pairs the
// automation layer on the calling thread. Failures are not reported as such: an empty body,
// empty headers and status 0 (see the .cpp for the one early return).

#include <optional>
#include <string_view>

#include "platform/automation/Automation.h"
#include "text/Text.h"

namespace qubrelo {

struct FetchWithRequestObjectArgs {
    int method = 0;  // 0 GET, 1 POST, 2 HEAD; anything else GET
    Text bodyText;
    Text* cookies = nullptr;          // in/out: the kept cookie list, merged with the response's
    Text* receivedCookies = nullptr;  // out: the cookies the response set
    Text* requestHeaders = nullptr;   // in/out: completed with the defaults
    Text* responseHeaders = nullptr;  // out
    int* status = nullptr;            // out
    bool refuseRedirects = false;
    ByteBuffer bodyBytes;  // sent instead of bodyText when not empty
    Text proxy;
    int timeoutSeconds = 0;  // -1 leaves the object's time-outs; below 1 otherwise 15 s
    Text proxyUser;
    Text proxyPassword;
    std::optional<int> proxyCredentialFlag;  // 1 proxy, 0 server; omitted means 1
    const automation::AutomationObject* requestObject = nullptr;
};

ByteBuffer FetchWithRequestObject(std::string_view url,
                                  const FetchWithRequestObjectArgs& args = {});

// The part of a header line before its first ":", trimmed; empty without a ":".
Text HeaderLineName(std::string_view line);
// The part of a header line after its first ":", trimmed; empty without a ":".
Text HeaderLineValue(std::string_view line);

}  // namespace qubrelo
