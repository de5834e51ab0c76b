#pragma once

#include <memory>

#include "platform/automation/Automation.h"

namespace qubrelo::automation {

// "WinHttp.WinHttpRequest.5.1": a synchronous HTTP request over platform/http.
//
// Methods: SetTimeouts(resolve, connect, send, receive) in ms; SetProxy(setting[, server]) with
// setting 2 for a named proxy ("host:port" or "http=host:port;https=host:port") and 0 or 1 for a
// direct connection; SetProxyCredentials(user, password, flag) and SetCredentials (the same)
// store credentials for the proxy when flag is 1 and for the server when it is 0;
// Open(method, url[, async]) starts a new request (its headers and the last response are
// dropped; time-outs, proxy, credentials and options stay); SetRequestHeader(name, value);
// Send([body]) with a text (sent as its code-page-936 bytes) or a byte array;
// GetAllResponseHeaders. Properties: ResponseBody (byte array), ResponseText, Status, StatusText,
// Option(index): 6 follows redirects (true by default), 4 holds the certificate-error flags. A
// write to option 4 is accepted but never turns certificate verification off: a server whose
// certificate does not verify fails the Send like an unreachable one.
//
// A Send that fails (no connection, time-out, TLS failure, broken body) returns false and leaves
// an empty response: no body, no headers, status 0. Not safe to share between threads.
std::shared_ptr<Component> MakeHttpRequestComponent();

}  // namespace qubrelo::automation
