#pragma once

// The page fetch: one complete HTTP request over the transport of platform/http, with a fixed
// set of default request headers, cookie collection and merging, redirect target, a numbered
// status text for every failure ("700 ..." to "713 ...") and decoding of pages that declare
// their character set in a meta tag.
//
// Arguments. url is required; everything else travels in FetchPageArgs, whose defaults are the
// values an omitted argument takes. Out-arguments are pointers: a null pointer is an omitted
// argument (the value goes to a throw-away variable), a non-null one is written only at the
// moment the fetch reaches it, so on a failure the caller's earlier value stays. cookies is an
// in/out pointer too, and there null means "absent", which differs from a pointer to an empty
// text: only a present list is sent, keeps the transport's cookie handling on and is merged
// with the cookies the response sets.
//
// Runs on any thread, blocks it until the body is read or a failure ends the call; the calling
// thread's stop flag (platform/http/Cancellation.h) ends a transfer early (as a failure of the
// stage it was in). Pairs the automation layer on the calling thread and leaves it balanced.

#include <string_view>

#include "text/Text.h"

namespace qubrelo {

struct FetchPageArgs {
    int method = 0;                   // 0 GET, 1 POST, 2 HEAD, 3 PUT, anything else GET
    Text bodyText;                    // request body, sent as its bytes
    Text* cookies = nullptr;          // in/out; null = absent (not the same as empty)
    Text* receivedCookies = nullptr;  // out, appended to: cookies the response set
    Text requestHeaders;              // extra header lines separated by "\r\n"
    Text* responseHeaders = nullptr;  // out: status line and header lines, "\r\n" each
    bool refuseRedirects = false;
    Text userName;  // server credentials (Basic), used when both are non-empty
    Text password;
    Text proxy;  // "host:port"; empty for a direct connection
    Text proxyUser;
    Text proxyPassword;
    int timeoutSeconds = 0;              // per network phase; below 1 means 30 seconds
    Text* location = nullptr;            // out: target of a "Location: " response header
    Text* statusText = nullptr;          // out: "200 OK", or the status text of a failure
    ByteBuffer* responseBody = nullptr;  // out: the body exactly as received
};

// Returns the page text (decoded from the declared character set when there is one); empty on
// every failure.
Text FetchPage(std::string_view url, const FetchPageArgs& args = {});

// The status texts the fetch writes on failure, as code-page-936 text.
namespace fetch_status {
Text PlatformUnsupported();      // 700
Text BadUrl();                   // 701
Text SessionFailed();            // 702
Text ConnectionFailed();         // 703
Text RequestFailed();            // 704
Text TimeoutsFailed();           // 705
Text ServerCredentialsFailed();  // 706, ours: the server credentials could not be set
Text ProxyCredentialsFailed();   // 707
Text CookieOptionFailed();       // 708
Text RedirectOptionFailed();     // 709
Text HeadersFailed();            // 710
Text SendFailed();               // 711
Text NoResponse();               // 712
Text ReadFailed();               // 713
}  // namespace fetch_status

// Test seam: while one lives, the event-processing calls that the fetch routines make on this
// thread are counted (and still made).
class ScopedProcessEventsCounter {
  public:
    ScopedProcessEventsCounter();
    ~ScopedProcessEventsCounter();
    ScopedProcessEventsCounter(const ScopedProcessEventsCounter&) = delete;
    ScopedProcessEventsCounter& operator=(const ScopedProcessEventsCounter&) = delete;
    int count() const { return count_; }

  private:
    int count_ = 0;
    int* previous_ = nullptr;
};

}  // namespace qubrelo
