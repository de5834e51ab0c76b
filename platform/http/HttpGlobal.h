#pragma once

namespace qubrelo::http {

// Initialises libcurl for the process on construction and releases it on destruction.
// Create exactly one, in main (or a test's main / environment), before any thread starts and
// keep it until every thread that makes transfers has ended.
class HttpGlobalInit {
  public:
    HttpGlobalInit();
    ~HttpGlobalInit();
    HttpGlobalInit(const HttpGlobalInit&) = delete;
    HttpGlobalInit& operator=(const HttpGlobalInit&) = delete;

    // False when libcurl refused to initialise; every transfer then fails.
    bool ok() const { return ok_; }

  private:
    bool ok_ = false;
};

}  // namespace qubrelo::http
