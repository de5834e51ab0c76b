#pragma once

// Saving one audio file into the current directory: the name, the download with progress in the
// status label, and what the user is told when it fails. The save buttons' handlers stand on it.

#include <filesystem>
#include <string_view>

#include "app/AppContext.h"
#include "app/SharedState.h"
#include "platform/http/HttpDownload.h"
#include "text/Text.h"

namespace qubrelo {

// The text the lookup stores for an available slot.
Text AvailableMark();

// "32BT----", "64BT----", "128BT----"; nothing for the source file.
std::string_view SaveNamePrefix(Slot slot);

// The file name of a save from its base, the prefix and the date-time text (code-page-936):
// `attempt` 1 gives the base + ".MP3"; later attempts, used when the name is taken, give
// " (2).MP3", " (3).MP3", ...
Text SaveFileName(const Text& base, int attempt);

// What 透明标签1 shows while a file arrives: what has arrived, out of how much and the
// percentage when the size is known, and the speed.
Text DownloadProgressText(const http::DownloadProgress& progress);

// "下载失败！~呜呜呜" and a short reason: the HTTP status, the network error, or that the file
// could not be written.
Text SaveFailureText(const http::FileDownloadResult& result);

struct SaveOutcome {
    bool saved = false;
    Text failureText;                 // when not saved
    std::filesystem::path savedPath;  // when saved
};

// Downloads url into the current directory (CurrentDirectory, then "/") under `prefix` + the
// date-time text + ".MP3", written under the UTF-8 form of the name (a free variant of the name
// when it is taken). The file appears only when the whole body arrived with
// a 2xx status; otherwise nothing is created or changed. Meanwhile the status label shows the
// progress and the window repaints, but user input waits until the download has ended.
// Meanwhile context.saving is set; called while it is set (from inside a running save), it
// starts nothing and fails. Window's thread.
SaveOutcome SaveUrlToCurrentDirectory(AppContext& context, std::string_view url,
                                      std::string_view prefix,
                                      const http::DownloadOptions& options = {});

}  // namespace qubrelo
