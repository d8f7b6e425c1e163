// Output files that replace their targets only when everything was written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/status.h"
#include "host/host.h"
#include "interrupt/interrupt.h"

namespace quarrion::host {

class ExtractFolder;  // host/extract.h

// An output file that replaces its target only when everything was written:
// data go to a temporary file in the target's folder, and Commit closes it
// and renames it over the target. An uncommitted file is removed by the
// destructor, so a failed write leaves the target as it was, and by the
// interruption handlers (interrupt/interrupt.h) while it is registered there.
// On POSIX a file extracted under a name that is still free is made at that
// name, with no temporary file and no rename, and removed the same way.
//
// Durability: nothing is flushed to the disk before the rename. The rename
// makes the new file replace its target in one step, so a reader sees the
// old file or the whole new one; but after a power cut a file written just
// before may be incomplete. Where that matters, run `sync` after quarrion.
class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Writes the file at the path `target`; a file it replaces keeps its mode.
  // Where `target` is a symbolic link (on POSIX), the file at the end of its
  // chain of links is written, through a temporary file beside it, and the
  // link stays as it is. Fails, making nothing, when the interruption
  // handlers could not remove the temporary file (interrupt::RemoveOnInterrupt::Set).
  Status Create(const std::string& target);

  // Writes the file `name`, one plain name, directly in `folder`, which must
  // stay open until the file is committed or discarded. The temporary file
  // is made in that folder without following links, and the commit
  // replaces a file or link of that name without writing through it. The
  // new file gets the usual mode for new files. On POSIX, where nothing has
  // that name yet, the file is made exclusively at the name itself; the
  // create holds interruptions back on this thread (the only one that may
  // take them while it writes files this way).
  Status Create(const ExtractFolder& folder, const std::string& name);

  // Appends bytes (buffered).
  Status Write(const void* data, std::size_t n);
  Status Write(std::string_view bytes) { return Write(bytes.data(), bytes.size()); }

  // Appends exactly `length` bytes of `src` starting at `offset`, with the
  // kernel's file-to-file copy where the host has one. A source that delivers
  // fewer bytes is an error (kChanged) naming the source; with `wholeFile`,
  // so is one that holds more (the copy asks for one byte beyond, which
  // costs nothing extra where the kernel copies).
  Status CopyFrom(InputFile& src, std::int64_t offset, std::int64_t length, bool wholeFile = false);

  // Overwrites bytes that were already written (the header's entry count).
  Status WriteAt(std::int64_t offset, const void* data, std::size_t n);

  // Sets the file's modification time (seconds since 1970 UTC); after the
  // last write, which would set it again.
  Status SetModified(std::int64_t seconds);

  // Bytes appended so far.
  std::int64_t position() const { return position_; }

  Status Commit();
  void Discard();

  // The target as messages name it.
  const std::string& target() const { return target_; }

 private:
  void Reset(const std::string& target);
  // Creates the temporary file beside `beside`, relative to `folder`, with
  // the permissions `mode` (POSIX) before the umask.
  Status OpenTemp(const std::string& beside, std::intptr_t folder, int mode);
  Status FlushBuffer();
  // Writes `n` bytes at the end of what the file holds (at flushed_).
  Status WriteOut(const char* p, std::size_t n);

  static constexpr std::intptr_t kInvalid = -1;
  std::intptr_t handle_ = kInvalid;
  std::string target_;
  std::intptr_t folder_ =
      interrupt::RemoveOnInterrupt::kNoFolder;  // what the names below are relative to
  std::string finalName_;                       // what Commit renames the temporary file to
  std::string tempName_;   // the file Discard removes (finalName_ when atName_), or ""
  bool inFolder_ = false;  // made by Create(folder, name)
  bool atName_ = false;    // made at finalName_ itself: Commit renames nothing
  interrupt::RemoveOnInterrupt interrupt_;  // tempName_, from before it is created until it is gone
  std::string buffer_;
  std::int64_t position_ = 0;  // logical size: file bytes plus buffered bytes
  std::int64_t flushed_ = 0;   // bytes already in the file
};

}  // namespace quarrion::host
