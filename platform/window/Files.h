#pragma once

// Run-time file services. Names are code-page-936 text; the file system's names are UTF-8 and
// its separator is "/".

#include <span>

#include "text/Text.h"

namespace qubrelo {

// The process's current directory without a trailing "/" (except the root), as code-page-936
// text; empty when it cannot be read.
Text CurrentDirectory();

// Creates or replaces the file with exactly these bytes (none for an empty buffer). The bytes go
// to a temporary file beside it that is renamed over the name once complete, so a failure never
// leaves a half-written file. A replaced file keeps its permissions. False for an empty name,
// a name held by anything but a regular file, a file marked read-only or not writable by this
// process, or any other failure; the name is then left as it was.
bool WriteBytesToFile(const Text& name, std::span<const std::uint8_t> bytes);

}  // namespace qubrelo
