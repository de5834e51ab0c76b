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
// leaves a half-written file. False for an empty name or any failure.
bool WriteBytesToFile(const Text& name, std::span<const std::uint8_t> bytes);

}  // namespace qubrelo
