// OutputFile on POSIX: the temporary file is made with O_EXCL beside
// its target (relative to the target folder's descriptor for extraction) and
// renamed over the target; an extracted file whose name is free is made at
// that name instead. Data from other files are copied by the kernel where it
// can.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include "host/extract.h"
#include "host/output_file.h"
#include "host/posix_io.h"
#include "host/shared.h"

namespace quarrion::host {
namespace {

using posix::Errno;
using posix::WriteAll;

// O_EXCL never opens what is already there, and never follows a link.
constexpr int kCreateFlags = O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;

// The descriptor the `*at` calls take for `folder`.
int AtFolder(std::intptr_t folder) {
  return folder == interrupt::RemoveOnInterrupt::kNoFolder ? AT_FDCWD : static_cast<int>(folder);
}

mode_t NewFileMode() {
  mode_t mask = ::umask(0);
  ::umask(mask);
  return static_cast<mode_t>(0666 & ~mask);
}

#if defined(__linux__)
// Copies up to `limit` bytes of `in` from `offset` to the end of `out` with
// copy_file_range, which copies (or shares extents) without bringing the
// bytes into user space. Adds what it copied to `*done`; `*ended` when it saw
// the end of the source. Stops early, without an error, where the kernel
// refuses the copy, and leaves the rest to read and write.
Status KernelCopy(int in, int out, std::int64_t offset, std::int64_t length, std::int64_t limit,
                  const std::string& target, std::int64_t* done, bool* ended) {
  loff_t inOff = static_cast<loff_t>(offset);
  while (*done < limit) {
    const std::size_t want = static_cast<std::size_t>(limit - *done);
    const ssize_t c = ::copy_file_range(in, &inOff, out, nullptr, want, 0);
    if (c < 0) {
      if (errno == EINTR) continue;
      if (errno == ENOSPC || errno == EFBIG || errno == EDQUOT || errno == EIO) {
        return Errno(target, errno);
      }
      return Status::Ok();  // not supported here
    }
    if (c == 0) {
      // The end of the source; where nothing at all was copied it may also
      // be a file system that copies nothing, so the reads decide.
      *ended = *done > 0;
      return Status::Ok();
    }
    *done += c;
    // The kernel cuts a request at the end of the source, so a short count
    // that brings all `length` bytes is taken as the end, without a further
    // call to see it. (A grown file is then missed only where a file system
    // cuts a request short for a reason of its own, exactly there.)
    if (c < static_cast<ssize_t>(want) && *done == length) {
      *ended = true;
      return Status::Ok();
    }
  }
  return Status::Ok();
}
#endif

// Copies bytes of `src` from `offset + *done` up to `offset + limit` to the
// end of `out` through a buffer, until the source ends.
Status BufferCopy(InputFile& src, int out, std::int64_t offset, std::int64_t limit,
                  const std::string& target, std::int64_t* done) {
  static thread_local std::vector<char> buf(kCopyBufferSize);
  while (*done < limit) {
    const std::size_t want = static_cast<std::size_t>(
        std::min<std::int64_t>(limit - *done, static_cast<std::int64_t>(buf.size())));
    std::size_t got = 0;
    if (Status s = src.ReadAt(offset + *done, buf.data(), want, &got); !s.ok()) return s;
    if (got == 0) break;
    if (Status s = WriteAll(out, buf.data(), got, target); !s.ok()) return s;
    *done += static_cast<std::int64_t>(got);
  }
  return Status::Ok();
}

// The one file-to-file copy of this host: `length` bytes of `src` from
// `offset` appended to `out`, by the kernel where it can and through a
// buffer otherwise. `*done` is what reached `out`, error or not. With
// `wholeFile` one byte more is asked for: getting it means the source grew.
Status CopyRange(InputFile& src, int out, std::int64_t offset, std::int64_t length, bool wholeFile,
                 const std::string& target, std::int64_t* done) {
  const std::int64_t limit = length + (wholeFile ? 1 : 0);
  *done = 0;
  bool ended = false;
#if defined(__linux__)
  const int in = static_cast<int>(src.native());
  if (Status s = KernelCopy(in, out, offset, length, limit, target, done, &ended); !s.ok()) {
    return s;
  }
#endif
  if (!ended) {
    if (Status s = BufferCopy(src, out, offset, limit, target, done); !s.ok()) return s;
  }
  return CheckCopied(src, *done, length);
}

// The file that writing `path` replaces: `path` itself, or, where that is a
// symbolic link, the file at the end of its chain of links, each relative
// link read from the folder that holds it. The new file is renamed over
// that file, so a link stays a link and what it leads to gets the new
// contents; where the chain ends at nothing yet, the file is made there.
// Failures name `shown`.
Status FollowLinks(const std::string& shown, const std::string& path, std::string* final) {
  // As many links as the kernel follows in one path (Linux: 40).
  constexpr int kMostLinks = 40;
  std::string at = path;
  for (int hops = 0;; ++hops) {
    struct stat st;
    if (::lstat(at.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) break;
    if (hops == kMostLinks) return Errno(shown, ELOOP);
    std::string link(256, '\0');
    ssize_t n;
    while ((n = ::readlink(at.c_str(), link.data(), link.size())) >= 0 &&
           static_cast<std::size_t>(n) == link.size()) {
      link.resize(link.size() * 2);
    }
    if (n < 0) return Errno(shown, errno);
    link.resize(static_cast<std::size_t>(n));
    const std::size_t slash = at.rfind('/');
    at = (!link.empty() && link.front() == '/') || slash == std::string::npos
             ? link
             : at.substr(0, slash + 1) + link;
  }
  *final = at;
  return Status::Ok();
}

}  // namespace

Status OutputFile::OpenTemp(const std::string& beside, std::intptr_t folder, int mode) {
  // The name is registered before the file is created, so that an
  // interruption from then on removes it.
  folder_ = folder;
  int fd = -1;
  for (int attempt = 0; attempt < kTempAttempts && fd < 0; ++attempt) {
    tempName_ = TempNameBeside(beside);
    // A file the interruption handlers could not remove is not made.
    if (Status s = interrupt_.Set(folder, tempName_); !s.ok()) {
      tempName_.clear();
      return Status::Error(s.code, target_, s.reason);
    }
    fd = ::openat(AtFolder(folder), tempName_.c_str(), kCreateFlags, static_cast<mode_t>(mode));
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    const int e = errno;
    tempName_.clear();
    interrupt_.Clear();
    return Errno(target_, e);
  }
  handle_ = fd;
  return Status::Ok();
}

Status OutputFile::Create(const std::string& target) {
  Reset(target);
  if (Status s = FollowLinks(target, NativePath(target), &finalName_); !s.ok()) return s;
  struct stat st;
  const bool exists = ::stat(finalName_.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) {
    return Status::Error(Code::kNotRegular, target, "is a folder");
  }
  // Beside the target, so that the rename stays on one file system and
  // replaces the target in one step.
  if (Status s = OpenTemp(finalName_, interrupt::RemoveOnInterrupt::kNoFolder, 0600); !s.ok())
    return s;
  // Keep the mode of a file being replaced; a new one gets the usual mode.
  // A file system without modes (FAT) refuses, and its files all have the
  // mode it was mounted with anyway, so a refusal is no failure: the file
  // is written all the same.
  static_cast<void>(
      ::fchmod(static_cast<int>(handle_), exists ? (st.st_mode & 07777) : NewFileMode()));
  return Status::Ok();
}

Status OutputFile::Create(const ExtractFolder& folder, const std::string& name) {
  Reset(folder.path() + "/" + name);
  if (!posix::IsSingleName(name)) {
    return Status::Error(Code::kNotPlainName, target_, "not a plain file name");
  }
  inFolder_ = true;
  finalName_ = name;
  folder_ = folder.handle_;
  // A name that is free is taken at once, and Commit only closes the file.
  // The name is registered before the create and taken out again when it
  // turns out to be taken, with interruptions held back in between: one
  // there would remove the file that holds the name. The usual mode for new
  // files comes with the open.
  int fd;
  int e = 0;
  {
    interrupt::InterruptsHeld held;
    if (Status s = interrupt_.Set(folder_, name); !s.ok()) {
      return Status::Error(s.code, target_, s.reason);
    }
    fd = ::openat(AtFolder(folder_), name.c_str(), kCreateFlags, 0666);
    if (fd < 0) {
      e = errno;
      interrupt_.Clear();
    }
  }
  if (fd >= 0) {
    handle_ = fd;
    tempName_ = name;
    atName_ = true;
    return Status::Ok();
  }
  if (e != EEXIST) return Errno(target_, e);
  // Whatever holds the name is replaced by a temporary file renamed over it:
  // hidden, and unlikely to meet an entry of the archive.
  return OpenTemp("." + name, folder_, 0666);
}

Status OutputFile::WriteOut(const char* p, std::size_t n) {
  if (Status s = WriteAll(static_cast<int>(handle_), p, n, target_); !s.ok()) return s;
  flushed_ += static_cast<std::int64_t>(n);
  return Status::Ok();
}

Status OutputFile::CopyFrom(InputFile& src, std::int64_t offset, std::int64_t length,
                            bool wholeFile) {
  if (handle_ == kInvalid) return NotOpenForWriting(target_);
  if (Status s = FlushBuffer(); !s.ok()) return s;
  std::int64_t done = 0;
  const Status copied =
      CopyRange(src, static_cast<int>(handle_), offset, length, wholeFile, target_, &done);
  flushed_ += done;
  position_ += done;
  return copied;
}

Status OutputFile::WriteAt(std::int64_t offset, const void* data, std::size_t n) {
  if (handle_ == kInvalid) return NotOpenForWriting(target_);
  if (Status s = FlushBuffer(); !s.ok()) return s;
  const char* p = static_cast<const char*>(data);
  while (n > 0) {
    ssize_t w = ::pwrite(static_cast<int>(handle_), p, n, static_cast<off_t>(offset));
    if (w < 0) {
      if (errno == EINTR) continue;
      return Errno(target_, errno);
    }
    p += w;
    offset += w;
    n -= static_cast<std::size_t>(w);
  }
  return Status::Ok();
}

Status OutputFile::SetModified(std::int64_t seconds) {
  if (handle_ == kInvalid) return NotOpenForWriting(target_);
  if (Status s = FlushBuffer(); !s.ok()) return s;
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;  // the access time stays "now"
  times[1].tv_sec = static_cast<time_t>(seconds);
  times[1].tv_nsec = 0;
  if (::futimens(static_cast<int>(handle_), times) != 0) return Errno(target_, errno);
  return Status::Ok();
}

Status OutputFile::Commit() {
  if (handle_ == kInvalid) return NotOpenForWriting(target_);
  if (Status s = FlushBuffer(); !s.ok()) {
    Discard();
    return s;
  }
  const int fd = static_cast<int>(handle_);
  handle_ = kInvalid;
  // A write error the file system reports only at close is caught here.
  Status failed;
  const int at = AtFolder(folder_);
  if (::close(fd) != 0) {
    failed = Errno(target_, errno);
  } else if (!atName_ && ::renameat(at, tempName_.c_str(), at, finalName_.c_str()) != 0) {
    failed = Errno(target_, errno);
  }
  if (!failed.ok()) {
    Discard();
    return failed;
  }
  tempName_.clear();
  interrupt_.Clear();
  return Status::Ok();
}

void OutputFile::Discard() {
  if (handle_ != kInvalid) {
    ::close(static_cast<int>(handle_));
    handle_ = kInvalid;
  }
  if (!tempName_.empty()) {
    ::unlinkat(AtFolder(folder_), tempName_.c_str(), 0);
    tempName_.clear();
  }
  interrupt_.Clear();
  buffer_.clear();
}

}  // namespace quarrion::host
