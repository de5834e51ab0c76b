#pragma once

// Streaming GET of one resource, for large files: the body goes to a sink (or a file) as it
// arrives, so memory does not grow with the size of the resource.
//
// The request has the shape of the whole-resource read (HttpReadWhole.h): one GET over
// HTTP/1.0, "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)", "Accept: */*",
// a direct connection (proxy variables of the environment ignored), no cache, TLS verified for
// https, redirects followed (at most 10).
//
// Blocking; runs on the calling thread. The calling thread's stop flag (Cancellation.h) aborts
// the transfer within about a second (error Aborted). Callbacks run on the calling thread,
// inside the transfer.
//
// Typical use by a save handler:
//
//   auto r = HttpDownloadToFile(url, [&](int n) { return NameForAttempt(n); }, onProgress);
//   if (r.error) ShowFailure(r.error.code, r.transfer.status);   // nothing was left on disk
//   else ShowSaved(r.savedPath);

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string_view>

#include "platform/http/HttpError.h"

namespace qubrelo::http {

struct DownloadProgress {
    std::uint64_t received = 0;          // body bytes so far
    std::optional<std::uint64_t> total;  // the announced length, when the response gave one
    double bytesPerSecond = 0;           // recent throughput (about the last second)
};

// Receives each chunk of the final response's body in order. Return false to stop the
// transfer (the result then has error FileFailed, "sink refused the data").
using DownloadSink = std::function<bool(std::span<const std::uint8_t> chunk)>;
// Called every progressInterval while the transfer runs (also while no data arrives) and once
// at the end. May process window events; must not start another transfer on this thread.
using DownloadProgressCallback = std::function<void(const DownloadProgress&)>;

struct DownloadOptions {
    std::chrono::milliseconds connectTimeout{60000};  // name resolution + connect + TLS
    std::chrono::milliseconds idleTimeout{60000};     // longest time without a received byte
    std::chrono::milliseconds progressInterval{250};
    // Called once, just before the first body byte of the final response reaches the sink, with
    // its status and announced length (not called when the body is empty).
    std::function<void(int status, std::optional<std::uint64_t> contentLength)> onBodyStart;
};

struct DownloadResult {
    // None when the transfer ran to its end. Otherwise why it stopped: ResolveFailed,
    // ConnectFailed, TlsFailed, Timeout, BodyIncomplete (connection closed before the announced
    // length), ReceiveFailed, Aborted, FileFailed (the sink refused), InvalidUrl, ...
    Error error;
    int status = 0;                              // final response status, 0 when none arrived
    std::optional<std::uint64_t> contentLength;  // announced by the final response
    std::uint64_t received = 0;                  // body bytes handed to the sink
    // True when the body arrived whole: no error, and received == contentLength when a length
    // was announced (a body without a length ends when the server closes the connection).
    bool complete = false;

    // What a save needs: a whole, non-empty body with a 2xx status.
    bool Succeeded() const { return complete && status >= 200 && status < 300 && received > 0; }
};

// url is an absolute http or https address (bytes as given; ASCII expected).
DownloadResult HttpDownload(std::string_view url, const DownloadSink& sink,
                            const DownloadProgressCallback& progress = {},
                            const DownloadOptions& options = {});

struct FileDownloadResult {
    // None only when the file was saved. Otherwise the download's error, or BadStatus (status
    // not 2xx; see transfer.status), EmptyBody, or FileFailed (could not create, write or
    // rename; the message names the file and the system's reason).
    Error error;
    DownloadResult transfer;
    std::filesystem::path savedPath;  // the name the file was saved under, on success
};

// Downloads url into a new file. candidateName(1) gives the wanted path; when that name is taken
// at the moment of saving, candidateName(2), (3), ... are tried (up to 1000) — an existing file
// is never replaced. The body is written to a hidden temporary file in the same directory
// (".<name>.part-XXXXXX"), flushed, and renamed to the free name only when the download
// Succeeded() and every byte was written; on any failure the temporary file is removed and no
// file is created or changed.
FileDownloadResult HttpDownloadToFile(
    std::string_view url, const std::function<std::filesystem::path(int attempt)>& candidateName,
    const DownloadProgressCallback& progress = {}, const DownloadOptions& options = {});

}  // namespace qubrelo::http
