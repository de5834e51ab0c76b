#include "platform/window/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>

#include "text/CodePage.h"

namespace qubrelo {
namespace {

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() { Close(); }

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    // True when the descriptor was closed without error.
    bool Close() {
        if (fd_ < 0) {
            return true;
        }
        const int result = ::close(fd_);
        fd_ = -1;
        return result == 0;
    }

  private:
    int fd_;
};

bool WriteAll(int fd, std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes = bytes.subspan(static_cast<std::size_t>(written));
    }
    return true;
}

}  // namespace

Text CurrentDirectory() {
    std::error_code error;
    const std::filesystem::path path = std::filesystem::current_path(error);
    if (error) {
        return {};
    }
    return Utf8ToText(path.string());
}

bool WriteBytesToFile(const Text& name, std::span<const std::uint8_t> bytes) {
    if (name.empty()) {
        return false;
    }
    const std::string target = TextToUtf8(name);
    if (target.empty() || target.back() == '/') {
        return false;
    }
    // An existing name is replaced only when it is a regular file open to writing: a file marked
    // read-only stays as it is (for root too), and the new file keeps the old one's permissions.
    // A new file gets what the process's mask allows, as a direct create would.
    mode_t mode = 0666;
    bool replacing = false;
    struct stat existing {};
    if (::lstat(target.c_str(), &existing) == 0) {
        if (!S_ISREG(existing.st_mode) || (existing.st_mode & 0222) == 0 ||
            ::access(target.c_str(), W_OK) != 0) {
            return false;
        }
        mode = existing.st_mode & 0777;
        replacing = true;
    } else if (errno != ENOENT) {
        return false;
    }
    // A short temporary name beside the target, so a name that fits the file system still fits
    // with it.
    const std::string::size_type slash = target.rfind('/');
    const std::string folder =
        slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    static constexpr char kLetters[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device entropy;
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        temporary = folder + ".qtmp-";
        for (int i = 0; i < 6; ++i) {
            temporary += kLetters[entropy() % (sizeof kLetters - 1)];
        }
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd < 0 && errno != EEXIST) {
            return false;
        }
    }
    FileDescriptor file(fd);
    if (!file.Valid()) {
        return false;
    }
    // The mask may have narrowed an existing file's permissions at the create.
    const bool complete = (!replacing || ::fchmod(file.Get(), mode) == 0) &&
                          WriteAll(file.Get(), bytes) && ::fsync(file.Get()) == 0;
    if (!file.Close() || !complete || ::rename(temporary.c_str(), target.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace qubrelo
