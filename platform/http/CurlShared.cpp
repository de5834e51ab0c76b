#include "platform/http/CurlShared.h"

#include <curl/curl.h>

#include <utility>

#include "platform/http/Cancellation.h"
#include "platform/http/HttpTransport.h"

namespace qubrelo::http {

namespace {
thread_local std::string trustedCertificateFile;

int AbortWhenStopRequested(void*, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return StopRequested() ? 1 : 0;
}
}  // namespace

std::string_view ErrorCodeName(ErrorCode code) {
    switch (code) {
        case ErrorCode::None:
            return "no error";
        case ErrorCode::InvalidArgument:
            return "invalid argument";
        case ErrorCode::InvalidUrl:
            return "invalid address";
        case ErrorCode::WrongState:
            return "operation out of order";
        case ErrorCode::ResolveFailed:
            return "host not found";
        case ErrorCode::ConnectFailed:
            return "connection failed";
        case ErrorCode::TlsFailed:
            return "TLS failure";
        case ErrorCode::Timeout:
            return "timed out";
        case ErrorCode::SendFailed:
            return "send failed";
        case ErrorCode::ReceiveFailed:
            return "receive failed";
        case ErrorCode::BodyIncomplete:
            return "body incomplete";
        case ErrorCode::TooManyRedirects:
            return "too many redirects";
        case ErrorCode::Aborted:
            return "stopped";
        case ErrorCode::FileFailed:
            return "file error";
        case ErrorCode::BadStatus:
            return "bad status";
        case ErrorCode::EmptyBody:
            return "empty body";
        case ErrorCode::Internal:
            return "internal error";
    }
    return "unknown error";
}

ScopedTrustedCertificates::ScopedTrustedCertificates(std::string pemFile)
    : previous_(std::exchange(trustedCertificateFile, std::move(pemFile))) {}

ScopedTrustedCertificates::~ScopedTrustedCertificates() {
    trustedCertificateFile = std::move(previous_);
}

namespace detail {

const std::string& TrustedCertificateFile() { return trustedCertificateFile; }

Error ErrorFromCurl(int curlCode, const char* errorBuffer) {
    const auto code = static_cast<CURLcode>(curlCode);
    std::string message = (errorBuffer != nullptr && errorBuffer[0] != '\0')
                              ? std::string(errorBuffer)
                              : std::string(curl_easy_strerror(code));
    ErrorCode ours = ErrorCode::Internal;
    switch (code) {
        case CURLE_OK:
            return {};
        case CURLE_URL_MALFORMAT:
        case CURLE_UNSUPPORTED_PROTOCOL:
            ours = ErrorCode::InvalidUrl;
            break;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            ours = ErrorCode::ResolveFailed;
            break;
        case CURLE_COULDNT_CONNECT:
            ours = ErrorCode::ConnectFailed;
            break;
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_INVALIDCERTSTATUS:
            ours = ErrorCode::TlsFailed;
            break;
        case CURLE_OPERATION_TIMEDOUT:
            ours = ErrorCode::Timeout;
            break;
        case CURLE_SEND_ERROR:
            ours = ErrorCode::SendFailed;
            break;
        case CURLE_PARTIAL_FILE:
            ours = ErrorCode::BodyIncomplete;
            break;
        case CURLE_RECV_ERROR:
        case CURLE_GOT_NOTHING:
        case CURLE_WEIRD_SERVER_REPLY:
        case CURLE_HTTP2:
        case CURLE_HTTP2_STREAM:
        case CURLE_HTTP3:
            ours = ErrorCode::ReceiveFailed;
            break;
        case CURLE_TOO_MANY_REDIRECTS:
            ours = ErrorCode::TooManyRedirects;
            break;
        case CURLE_ABORTED_BY_CALLBACK:
            ours = ErrorCode::Aborted;
            break;
        case CURLE_WRITE_ERROR:
            ours = ErrorCode::FileFailed;
            break;
        default:
            break;
    }
    return {ours, std::move(message)};
}

void ApplyCommonOptions(void* handle, char* errorBuffer) {
    CURL* easy = static_cast<CURL*>(handle);
    errorBuffer[0] = '\0';
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    // An explicit empty proxy: direct, whatever http_proxy/https_proxy/all_proxy say.
    curl_easy_setopt(easy, CURLOPT_PROXY, "");
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(easy, CURLOPT_PROXY_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_PROXY_SSL_VERIFYHOST, 2L);
    if (!trustedCertificateFile.empty()) {
        curl_easy_setopt(easy, CURLOPT_CAINFO, trustedCertificateFile.c_str());
        curl_easy_setopt(easy, CURLOPT_CAPATH, nullptr);
    }
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &AbortWhenStopRequested);
}

}  // namespace detail
}  // namespace qubrelo::http
