#pragma once

// Helpers shared by the .cpp files of this layer; not for use outside platform/http.

#include <string>

#include "platform/http/HttpError.h"

namespace qubrelo::http::detail {

// The PEM file that ScopedTrustedCertificates installed on this thread, or "".
const std::string& TrustedCertificateFile();

// Our error for a libcurl result code, with libcurl's error-buffer text when it has one.
Error ErrorFromCurl(int curlCode, const char* errorBuffer);

// Applies what every transfer of this layer does: no signals, TLS verified (with the test
// seam's trusted file), the stop-flag progress callback, no proxy unless one is set later.
// easy is a CURL*.
void ApplyCommonOptions(void* easy, char* errorBuffer);

}  // namespace qubrelo::http::detail
