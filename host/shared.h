// What the host files share that is the same on every host: the size of the
// copy buffer, the names of temporary files and the messages of the output
// file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/status.h"
#include "host/host.h"

namespace quarrion::host {

// The output file's write buffer, and the unit of copies through memory.
constexpr std::size_t kCopyBufferSize = 128 * 1024;

// How many names a temporary file tries before giving up on finding a free one.
constexpr int kTempAttempts = 100;

// A name for a temporary file beside `name`: `name` + ".tmp-" + 8 random
// letters and digits.
std::string TempNameBeside(std::string_view name);

// The error of an output file used while it is not open.
Status NotOpenForWriting(const std::string& target);

// After a copy of `length` bytes from `src` that brought `done` bytes (one
// more than `length` when the source holds more): kChanged when the source
// delivered fewer or more bytes than asked for.
Status CheckCopied(const InputFile& src, std::int64_t done, std::int64_t length);

}  // namespace quarrion::host
