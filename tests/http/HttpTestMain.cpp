// libcurl is initialised once for the test program, before any test starts a thread.
#include <gtest/gtest.h>

#include "platform/http/HttpGlobal.h"

namespace {
class HttpEnvironment : public ::testing::Environment {
  public:
    void SetUp() override { init_ = std::make_unique<qubrelo::http::HttpGlobalInit>(); }
    void TearDown() override { init_.reset(); }

  private:
    std::unique_ptr<qubrelo::http::HttpGlobalInit> init_;
};
const auto* const registered = ::testing::AddGlobalTestEnvironment(new HttpEnvironment);
}  // namespace
