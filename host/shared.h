// What the host files share that is the same on every host: the size of the
// copy buffer, the names of temporary files, the messages of the output
// file and the failures of helper threads.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

#include "host/host.h"
#include "host/status.h"

namespace quarrion::host::common {

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

// The failure of a helper thread (small files read ahead, files opened
// ahead, statuses read beside the folder lister) whose work the exception
// `e` ended, out of memory say, with what the thread was doing. The thread
// only keeps `e` (which needs no memory) and stops; the thread it served
// makes this failure, and the operation fails with it, instead of the
// exception ending the program with its output left behind.
Status HelperThreadFailed(std::string_view work, const std::exception_ptr& e);

// For tests: when set, every helper thread calls it with what it does before
// each piece of its work, so that a test can make that work throw.
extern std::atomic<void (*)(std::string_view work)> gHelperThreadProbe;

inline void ProbeHelperThread(std::string_view work) {
  if (auto probe = gHelperThreadProbe.load(std::memory_order_relaxed)) probe(work);
}

}  // namespace quarrion::host::common
