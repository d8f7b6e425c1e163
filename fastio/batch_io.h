// Reading many small files with few system calls. Opening, reading and
// closing a file of a few KiB costs the kernel about as much as copying a
// hundred KiB, so where the host can submit that work in batches (Linux:
// io_uring) the writer reads its small sources that way, into memory, and
// appends many of them with one write. Everywhere else, and whenever the
// batched path cannot be set up, nothing here is used and every file takes
// the ordinary path (FileOpener and OutputFile::CopyFrom).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/status.h"

namespace quarrion::fastio {

// The name of the path small files take on this host as the environment
// stands: "io_uring" or "portable". QUARRION_IO=portable forces the latter.
const char* BatchIoName();

// A file to read whole: the path as the build list holds it, and the size it
// had when it was added.
struct BatchSource {
  const std::string* path;
  std::int64_t size;
};

// Reads planned files ahead of the consumer, in their order, and hands their
// data over back to back. A file that cannot be read exactly as planned (it
// cannot be opened, or it is shorter or longer than its recorded size) is
// not explained here: the consumer reads it the ordinary way, which fails
// with the reason or, when the file is fine after all, copies it.
class BatchReader {
 public:
  // Files larger than this are left to the kernel's file-to-file copy.
  static constexpr std::int64_t kMaxFileSize = 64 * 1024;

  virtual ~BatchReader() = default;

  // Starts reading `files` (each at most kMaxFileSize bytes; the path
  // strings must outlive the reader). Null for fewer than 32 files (not
  // worth the set-up), where the host has no batched path, where it is
  // refused (an old kernel, a seccomp filter, the io_uring_disabled
  // switch) or switched off by QUARRION_IO=portable; the caller then takes
  // the ordinary path, without a message.
  static std::unique_ptr<BatchReader> Start(std::vector<BatchSource> files);

  // The data of the next planned files, at most `maxFiles` of them (at
  // least 1): `*data` points at `*bytes` bytes, their contents back to back,
  // valid until the next call, and `*files` is how many files that is; 0
  // when the next file could not be read as planned, which is then passed
  // over for the consumer to read the ordinary way. Fails when a thread
  // that reads ahead was stopped by an exception (out of memory, say).
  virtual Status Take(std::size_t maxFiles, const char** data, std::size_t* bytes,
                      std::size_t* files) = 0;
};

}  // namespace quarrion::fastio
