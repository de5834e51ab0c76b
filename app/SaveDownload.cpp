#include "app/SaveDownload.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <cstdio>
#include <string>

#include "app/Controls.h"
#include "app/Handlers.h"
#include "platform/window/Files.h"
#include "text/CodePage.h"
#include "text/DateTime.h"

namespace qubrelo {
namespace {

// "12.3 MB" and the like; bytes below 1 KB as a whole number.
std::string SizeText(double bytes) {
    static constexpr const char* kUnits[] = {"KB", "MB", "GB", "TB"};
    if (bytes < 1024) {
        return std::to_string(static_cast<long long>(bytes)) + " B";
    }
    int unit = -1;
    do {
        bytes /= 1024;
        ++unit;
    } while (bytes >= 1024 && unit < 3);
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.1f %s", bytes, kUnits[unit]);
    return buffer;
}

// The system's reason at the end of a file error message ("cannot create x: No space left").
std::string SystemReason(const std::string& message) {
    const auto colon = message.rfind(": ");
    return colon == std::string::npos ? std::string() : message.substr(colon + 2);
}

Text ShortReason(const http::FileDownloadResult& result) {
    using http::ErrorCode;
    switch (result.error.code) {
        case ErrorCode::BadStatus:
            return "HTTP " + std::to_string(result.transfer.status);
        case ErrorCode::EmptyBody:
            return Utf8ToText("服务器没有返回数据");
        case ErrorCode::BodyIncomplete:
            return Utf8ToText("数据没有收全");
        case ErrorCode::ResolveFailed:
            return Utf8ToText("找不到服务器");
        case ErrorCode::ConnectFailed:
            return Utf8ToText("无法连接服务器");
        case ErrorCode::TlsFailed:
            return Utf8ToText("安全连接失败");
        case ErrorCode::Timeout:
            return Utf8ToText("网络超时");
        case ErrorCode::InvalidUrl:
            return Utf8ToText("地址无效");
        case ErrorCode::Aborted:
            return Utf8ToText("下载被中止");
        case ErrorCode::FileFailed: {
            const std::string reason = SystemReason(result.error.message);
            return Utf8ToText(reason.empty() ? "文件无法写入" : "文件无法写入（" + reason + "）");
        }
        default:
            return Utf8ToText("网络错误（") + std::string(http::ErrorCodeName(result.error.code)) +
                   Utf8ToText("）");
    }
}

// The directory to write into. Code-page-936 text cannot hold every character of a file name,
// and a directory that does not come back whole from it is still the process's own.
std::filesystem::path SaveDirectory(const Text& directory) {
    std::filesystem::path path(TextToUtf8(directory));
    std::error_code error;
    std::filesystem::path actual = std::filesystem::current_path(error);
    if (!error && path != actual) {
        return actual;
    }
    return path;
}

// Marks the context as saving for its lifetime; a link change that came meanwhile is checked once
// the window's thread handles events again.
class SavingScope {
  public:
    explicit SavingScope(AppContext& context) : context_(context) { context_.saving = true; }
    SavingScope(const SavingScope&) = delete;
    SavingScope& operator=(const SavingScope&) = delete;
    ~SavingScope() {
        context_.saving = false;
        if (!context_.linkCheckWaiting) {
            return;
        }
        context_.linkCheckWaiting = false;
        // The window owns the context, so the queued call goes with it.
        QMetaObject::invokeMethod(
            &context_.window.Window(), [&context = context_] { OnLinkChanged(context); },
            Qt::QueuedConnection);
    }

  private:
    AppContext& context_;
};

}  // namespace

Text AvailableMark() { return Utf8ToText("真"); }

std::string_view SaveNamePrefix(Slot slot) {
    switch (slot) {
        case Slot::Kbps32:
            return "32BT----";
        case Slot::Kbps64:
            return "64BT----";
        case Slot::Kbps128:
            return "128BT----";
        case Slot::Source:
            break;
    }
    return {};
}

Text SaveFileName(const Text& base, int attempt) {
    if (attempt <= 1) {
        return base + ".MP3";
    }
    return base + " (" + std::to_string(attempt) + ").MP3";
}

Text DownloadProgressText(const http::DownloadProgress& progress) {
    std::string text = Utf8ToText("已下载 ") + SizeText(static_cast<double>(progress.received));
    if (progress.total && *progress.total > 0) {
        const std::uint64_t total = *progress.total;
        const std::uint64_t percent =
            progress.received >= total ? 100 : progress.received * 100 / total;
        text +=
            " / " + SizeText(static_cast<double>(total)) + " (" + std::to_string(percent) + "%)";
    }
    text += " " + SizeText(progress.bytesPerSecond) + "/s";
    return text;
}

Text SaveFailureText(const http::FileDownloadResult& result) {
    return Utf8ToText("下载失败！~呜呜呜 ") + ShortReason(result);
}

SaveOutcome SaveUrlToCurrentDirectory(AppContext& context, std::string_view url,
                                      std::string_view prefix,
                                      const http::DownloadOptions& options) {
    SaveOutcome outcome;
    if (context.saving) {
        // Reached from inside the running transfer's progress: never a transfer in a transfer.
        outcome.failureText = Utf8ToText("下载失败！~呜呜呜 已有下载在进行");
        return outcome;
    }
    const SavingScope saving(context);
    const Text directory = CurrentDirectory();
    if (directory.empty()) {
        // Joining an empty directory would aim at the file system's root.
        outcome.failureText = Utf8ToText("下载失败！~呜呜呜 无法读取当前目录");
        return outcome;
    }
    const std::filesystem::path folder = SaveDirectory(directory);
    const Text base = std::string(prefix) + FormatDateTimeText();
    const auto candidateName = [&folder, &base](int attempt) {
        return folder / TextToUtf8(SaveFileName(base, attempt));
    };
    // Paint and timer events keep the window alive; clicks and keys wait until the end, as they
    // would for a window whose thread is busy.
    Text shown;
    const auto onProgress = [&context, &shown](const http::DownloadProgress& progress) {
        Text text = DownloadProgressText(progress);
        if (text != shown) {
            context.window.SetControlProperty(controls::kStatusLabel, ControlProperty::Text, text);
            shown = std::move(text);
        }
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    };
    const http::FileDownloadResult result =
        http::HttpDownloadToFile(url, candidateName, onProgress, options);
    if (result.error) {
        outcome.failureText = SaveFailureText(result);
        return outcome;
    }
    outcome.saved = true;
    outcome.savedPath = result.savedPath;
    return outcome;
}

}  // namespace qubrelo
