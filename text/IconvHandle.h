#pragma once

// For the .cpp files that wrap iconv (code-page conversions, the character-set stream) only:
// public headers speak in our own types.

#include <iconv.h>

namespace qubrelo {

// Owns one iconv conversion descriptor.
class IconvHandle {
  public:
    IconvHandle(const char* to, const char* from) : handle_(iconv_open(to, from)) {}
    ~IconvHandle() {
        if (Valid()) iconv_close(handle_);
    }
    IconvHandle(const IconvHandle&) = delete;
    IconvHandle& operator=(const IconvHandle&) = delete;

    bool Valid() const { return handle_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t Get() const { return handle_; }

  private:
    iconv_t handle_;
};

}  // namespace qubrelo
