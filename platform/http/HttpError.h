#pragma once

// Errors of the HTTP layer, as values: an enum of our own plus the transport's message.

#include <string>
#include <string_view>

namespace qubrelo::http {

enum class ErrorCode {
    None = 0,
    InvalidArgument,  // a call made with a value it cannot use (empty host, bad header line, ...)
    InvalidUrl,       // the address cannot be split or has an unsupported scheme
    WrongState,       // an operation called out of order (read before receive, ...)
    ResolveFailed,    // the host (or proxy) name could not be resolved
    ConnectFailed,    // the connection was refused or could not be made
    TlsFailed,        // the TLS handshake failed or the certificate was not trusted
    Timeout,          // a phase took longer than its time-out
    SendFailed,       // the request could not be sent
    ReceiveFailed,    // no (complete) response arrived
    BodyIncomplete,   // the body ended before its announced length, or broken chunked framing
    TooManyRedirects,
    Aborted,     // the calling thread's stop flag was set
    FileFailed,  // a local file could not be created, written or renamed
    BadStatus,   // the server answered, but not with a 2xx status (downloads to a file)
    EmptyBody,   // the server answered 2xx with no body (downloads to a file)
    Internal,    // anything else the transport reported
};

struct Error {
    ErrorCode code = ErrorCode::None;
    std::string message;

    bool ok() const { return code == ErrorCode::None; }
    explicit operator bool() const { return !ok(); }  // true when there is an error
};

// A short English name of the code ("timeout", "connect failed", ...), for messages.
std::string_view ErrorCodeName(ErrorCode code);

}  // namespace qubrelo::http
