#include "platform/http/HttpDownload.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/http/Cancellation.h"
#include "platform/http/CurlShared.h"

namespace qubrelo::http {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kUserAgent = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";
// Large reads keep the per-chunk overhead well below the cost of moving the bytes.
constexpr long kBufferSize = 512 * 1024;

struct EasyDeleter {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;

struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using HeaderList = std::unique_ptr<curl_slist, ListDeleter>;

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char a = text[i], b = prefix[i];
        if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
        if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
        if (a != b) return false;
    }
    return true;
}

// State of one transfer, reached from libcurl's callbacks.
struct Transfer {
    CURL* easy = nullptr;
    const DownloadSink* sink = nullptr;
    const DownloadProgressCallback* progress = nullptr;
    DownloadOptions options;

    std::optional<std::uint64_t> contentLength;  // of the response whose headers came last
    std::uint64_t received = 0;
    bool bodyStarted = false;
    bool sinkRefused = false;
    bool idleTimedOut = false;

    Clock::time_point lastActivity = Clock::now();
    Clock::time_point lastReport{};
    Clock::time_point rateSince = Clock::now();
    std::uint64_t rateBytes = 0;
    double bytesPerSecond = 0;

    void Report(bool force) {
        const auto now = Clock::now();
        const auto sinceRate = now - rateSince;
        if (sinceRate >= std::chrono::milliseconds(500)) {
            const double seconds = std::chrono::duration<double>(sinceRate).count();
            bytesPerSecond = static_cast<double>(received - rateBytes) / seconds;
            rateSince = now;
            rateBytes = received;
        }
        if (progress == nullptr || !*progress) return;
        if (!force && now - lastReport < options.progressInterval) return;
        lastReport = now;
        (*progress)(DownloadProgress{received, contentLength, bytesPerSecond});
    }
};

std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    const std::string_view line(data, size * count);
    transfer->lastActivity = Clock::now();
    if (StartsWithNoCase(line, "HTTP/")) {
        transfer->contentLength.reset();  // a new response (after a redirect or 1xx)
    } else if (StartsWithNoCase(line, "content-length:")) {
        std::string value(line.substr(15));
        char* end = nullptr;
        errno = 0;
        const unsigned long long length = std::strtoull(value.c_str(), &end, 10);
        if (errno == 0 && end != value.c_str()) transfer->contentLength = length;
    }
    return size * count;
}

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    const std::size_t n = size * count;
    transfer->lastActivity = Clock::now();
    if (!transfer->bodyStarted) {
        transfer->bodyStarted = true;
        if (transfer->options.onBodyStart) {
            long status = 0;
            curl_easy_getinfo(transfer->easy, CURLINFO_RESPONSE_CODE, &status);
            transfer->options.onBodyStart(static_cast<int>(status), transfer->contentLength);
        }
    }
    if (transfer->sink != nullptr && *transfer->sink &&
        !(*transfer->sink)(
            std::span<const std::uint8_t>(reinterpret_cast<std::uint8_t*>(data), n))) {
        transfer->sinkRefused = true;
        return 0;
    }
    transfer->received += n;
    return n;
}

int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto* transfer = static_cast<Transfer*>(user);
    if (StopRequested()) return 1;
    if (transfer->options.idleTimeout.count() > 0 &&
        // Compared in milliseconds: a very long limit would overflow in the clock's unit.
        std::chrono::duration_cast<std::chrono::milliseconds>(
            Clock::now() - transfer->lastActivity) > transfer->options.idleTimeout) {
        transfer->idleTimedOut = true;
        return 1;
    }
    transfer->Report(false);
    return 0;
}

// Closes the descriptor it owns.
class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    // Closes now and reports whether the close (the last chance to see a write error) worked.
    bool Close() {
        const int fd = std::exchange(fd_, -1);
        return fd < 0 || ::close(fd) == 0;
    }

  private:
    int fd_;
};

// Removes the file at its path on destruction unless released.
class TemporaryFile {
  public:
    explicit TemporaryFile(std::string path) : path_(std::move(path)) {}
    ~TemporaryFile() {
        if (!path_.empty()) ::unlink(path_.c_str());
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    const std::string& path() const { return path_; }
    void Release() { path_.clear(); }

  private:
    std::string path_;
};

Error SystemError(std::string_view what, const std::string& path, int error) {
    return {ErrorCode::FileFailed, std::string(what) + " " + path + ": " + std::strerror(error)};
}

// Moves from to to unless to exists. EEXIST comes back as false with error 0.
bool RenameNoReplace(const std::string& from, const std::string& to, int& error) {
    error = 0;
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno == EINVAL || errno == ENOSYS || errno == ENOTSUP) {
        // File systems without the no-replace rename: a hard link fails as well when to exists.
        if (::link(from.c_str(), to.c_str()) == 0) {
            ::unlink(from.c_str());
            return true;
        }
    }
    if (errno != EEXIST) error = errno;
    return false;
}

}  // namespace

DownloadResult HttpDownload(std::string_view url, const DownloadSink& sink,
                            const DownloadProgressCallback& progress,
                            const DownloadOptions& options) {
    DownloadResult result;
    EasyHandle easy(curl_easy_init());
    if (!easy) {
        result.error = {ErrorCode::Internal, "could not create a transfer handle"};
        return result;
    }
    char errorBuffer[CURL_ERROR_SIZE];
    detail::ApplyCommonOptions(easy.get(), errorBuffer);

    Transfer transfer;
    transfer.sink = &sink;
    transfer.progress = &progress;
    transfer.options = options;
    transfer.easy = easy.get();

    HeaderList headers(curl_slist_append(nullptr, "Accept: */*"));
    const std::string urlText(url);
    CURL* e = easy.get();
    curl_easy_setopt(e, CURLOPT_URL, urlText.c_str());
    curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
    curl_easy_setopt(e, CURLOPT_USERAGENT, kUserAgent);
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(e, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(e, CURLOPT_BUFFERSIZE, kBufferSize);
    // libcurl refuses a negative limit (keeping its own default); beyond 24 days is no limit.
    curl_easy_setopt(
        e, CURLOPT_CONNECTTIMEOUT_MS,
        static_cast<long>(std::clamp<std::int64_t>(options.connectTimeout.count(), 0, INT_MAX)));
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &OnHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &OnBody);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, &OnProgress);
    curl_easy_setopt(e, CURLOPT_XFERINFODATA, &transfer);

    const CURLcode code = curl_easy_perform(e);
    long status = 0;
    curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &status);
    result.status = static_cast<int>(status);
    result.received = transfer.received;
    result.contentLength = transfer.contentLength;

    if (transfer.sinkRefused) {
        result.error = {ErrorCode::FileFailed, "sink refused the data"};
    } else if (transfer.idleTimedOut) {
        result.error = {ErrorCode::Timeout, "no data for longer than the idle time-out"};
    } else if (code == CURLE_ABORTED_BY_CALLBACK && StopRequested()) {
        result.error = {ErrorCode::Aborted, "stopped"};
    } else {
        result.error = detail::ErrorFromCurl(code, errorBuffer);
    }
    result.complete =
        result.error.ok() && (!result.contentLength || *result.contentLength == result.received);
    if (result.error.ok() && !result.complete) {
        result.error = {ErrorCode::BodyIncomplete, "body shorter than its announced length"};
    }
    transfer.Report(true);
    return result;
}

FileDownloadResult HttpDownloadToFile(
    std::string_view url, const std::function<std::filesystem::path(int attempt)>& candidateName,
    const DownloadProgressCallback& progress, const DownloadOptions& options) {
    FileDownloadResult result;
    const std::filesystem::path wanted = candidateName(1);
    std::filesystem::path directory = wanted.parent_path();
    if (directory.empty()) directory = ".";
    // Built by appending: GCC 12 warns falsely (-Wrestrict) about "." + string.
    std::string partName = ".";
    partName += wanted.filename().string();
    partName += ".part-XXXXXX";
    std::string pattern = (directory / partName).string();
    std::vector<char> nameBuffer(pattern.begin(), pattern.end());
    nameBuffer.push_back('\0');
    FileDescriptor file(::mkostemp(nameBuffer.data(), O_CLOEXEC));
    if (file.get() < 0) {
        result.error = SystemError("cannot create", pattern, errno);
        return result;
    }
    TemporaryFile temporary(nameBuffer.data());

    // An error page is not worth storing: stop as soon as the status says so.
    bool badStatus = false;
    DownloadOptions fileOptions = options;
    fileOptions.onBodyStart = [&](int status, std::optional<std::uint64_t> contentLength) {
        badStatus = status < 200 || status >= 300;
        if (options.onBodyStart) options.onBodyStart(status, contentLength);
    };
    Error writeError;
    const DownloadSink sink = [&](std::span<const std::uint8_t> chunk) {
        if (badStatus) return false;
        while (!chunk.empty()) {
            const ssize_t written = ::write(file.get(), chunk.data(), chunk.size());
            if (written < 0) {
                if (errno == EINTR) continue;
                writeError = SystemError("cannot write", temporary.path(), errno);
                return false;
            }
            chunk = chunk.subspan(static_cast<std::size_t>(written));
        }
        return true;
    };
    result.transfer = HttpDownload(url, sink, progress, fileOptions);
    const DownloadResult& t = result.transfer;

    if (!writeError.ok()) {
        result.error = writeError;
    } else if (badStatus || (t.error.ok() && (t.status < 200 || t.status >= 300))) {
        result.error = {ErrorCode::BadStatus, "server answered " + std::to_string(t.status)};
    } else if (!t.error.ok()) {
        result.error = t.error;
    } else if (t.received == 0) {
        result.error = {ErrorCode::EmptyBody, "server sent no data"};
    } else if (::fsync(file.get()) != 0 || !file.Close()) {
        // Flushed before the rename, so a crash right after a save cannot leave an empty file
        // under the final name.
        result.error = SystemError("cannot write", temporary.path(), errno);
    }
    if (!result.error.ok()) return result;  // the temporary file goes with `temporary`

    for (int attempt = 1; attempt <= 1000; ++attempt) {
        const std::filesystem::path target = attempt == 1 ? wanted : candidateName(attempt);
        int error = 0;
        if (RenameNoReplace(temporary.path(), target.string(), error)) {
            temporary.Release();
            result.savedPath = target;
            return result;
        }
        if (error != 0) {
            result.error = SystemError("cannot rename to", target.string(), error);
            return result;
        }
    }
    result.error = {ErrorCode::FileFailed, "no free file name for " + wanted.string()};
    return result;
}

}  // namespace qubrelo::http
