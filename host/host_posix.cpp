// The host layer on POSIX systems (Linux, macOS, the BSDs).
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "host/host.h"
#include "host/posix_io.h"

namespace quarrion::host {
namespace {

using posix::Errno;
using posix::kSourceFlags;
using posix::WriteAll;

constexpr std::size_t kCopyBufferSize = 128 * 1024;
constexpr int kTempAttempts = 100;

FileInfo InfoFromStat(const struct stat& st) {
  FileInfo info;
  if (S_ISREG(st.st_mode)) {
    info.kind = FileKind::kRegular;
  } else if (S_ISDIR(st.st_mode)) {
    info.kind = FileKind::kFolder;
  } else {
    info.kind = FileKind::kOther;
  }
  info.size = static_cast<std::int64_t>(st.st_size);
  info.mtime = static_cast<std::int64_t>(st.st_mtime);
#if defined(__APPLE__)
  info.mtimeNsec = static_cast<std::int64_t>(st.st_mtimespec.tv_nsec);
#else
  info.mtimeNsec = static_cast<std::int64_t>(st.st_mtim.tv_nsec);
#endif
  info.device = static_cast<std::uint64_t>(st.st_dev);
  info.inode = static_cast<std::uint64_t>(st.st_ino);
  return info;
}

// Whether the permission bits of `st` let this process read the file. The
// bits can refuse what an access list or a privilege grants, so a refusal
// is checked with the kernel (`dirFd` and `name` as for fstatat); a grant
// is taken as it is (an access list that refuses it shows in the open).
bool MayRead(const struct stat& st, int dirFd, const char* name) {
  static const uid_t euid = ::geteuid();
  static const gid_t egid = ::getegid();
  static const std::vector<gid_t> groups = [] {
    std::vector<gid_t> g(static_cast<std::size_t>(std::max(::getgroups(0, nullptr), 0)));
    const int n = g.empty() ? 0 : ::getgroups(static_cast<int>(g.size()), g.data());
    g.resize(static_cast<std::size_t>(std::max(n, 0)));
    return g;
  }();
  bool allowed;
  if (euid == 0) {
    allowed = true;
  } else if (st.st_uid == euid) {
    allowed = (st.st_mode & S_IRUSR) != 0;
  } else if (st.st_gid == egid ||
             std::find(groups.begin(), groups.end(), st.st_gid) != groups.end()) {
    allowed = (st.st_mode & S_IRGRP) != 0;
  } else {
    allowed = (st.st_mode & S_IROTH) != 0;
  }
  return allowed || ::faccessat(dirFd, name, R_OK, AT_EACCESS) == 0;
}

mode_t NewFileMode() {
  mode_t mask = ::umask(0);
  ::umask(mask);
  return static_cast<mode_t>(0666 & ~mask);
}

}  // namespace

FileInfo posix::InfoFromStat(const struct stat& st, int dirFd, const char* name) {
  FileInfo info = host::InfoFromStat(st);
  if (info.kind == FileKind::kRegular) info.readable = MayRead(st, dirFd, name);
  return info;
}

std::string NativePath(std::string_view path) {
  std::string native(path);
  std::replace(native.begin(), native.end(), '\\', '/');
  return native;
}

bool IsPathSeparator(char c) { return c == '\\' || c == '/'; }

Status StatPath(const std::string& path, FileInfo* info) {
  const std::string native = NativePath(path);
  struct stat st;
  if (::stat(native.c_str(), &st) != 0) {
    *info = FileInfo{};
    return Errno(path, errno);
  }
  *info = posix::InfoFromStat(st, AT_FDCWD, native.c_str());
  return Status::Ok();
}

std::int64_t NowSeconds() { return static_cast<std::int64_t>(std::time(nullptr)); }

std::int32_t ClampTime(std::int64_t seconds) {
  if (seconds < 0) return 0;
  if (seconds > 0x7fffffff) return 0x7fffffff;
  return static_cast<std::int32_t>(seconds);
}

bool StderrIsTerminal() { return ::isatty(2) == 1; }

// ---- InputFile -------------------------------------------------------------

Status InputFile::Open(const std::string& path) {
  Close();
  path_ = path;
  // Look before opening: FIFOs, sockets and devices are never opened.
  struct stat st;
  if (::stat(NativePath(path).c_str(), &st) != 0) {
    return Errno(path, errno);
  }
  if (!S_ISREG(st.st_mode)) {
    return Status::Error(Code::kNotRegular, path,
                         S_ISDIR(st.st_mode) ? "is a folder, not a file" : "not a regular file");
  }
  int fd = ::open(NativePath(path).c_str(), kSourceFlags);
  if (fd < 0) {
    return Errno(path, errno);
  }
  // What was swapped in since the look is refused after an open that
  // cannot block.
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    const bool folder = S_ISDIR(st.st_mode);
    ::close(fd);
    return Status::Error(Code::kNotRegular, path,
                         folder ? "is a folder, not a file" : "not a regular file");
  }
  handle_ = fd;
  info_ = InfoFromStat(st);
  return Status::Ok();
}

void InputFile::Close() {
  if (handle_ != kInvalid) {
    ::close(static_cast<int>(handle_));
    handle_ = kInvalid;
  }
}

Status InputFile::ReadAt(std::int64_t offset, void* buf, std::size_t n, std::size_t* got) {
  *got = 0;
  char* p = static_cast<char*>(buf);
  while (*got < n) {
    ssize_t r = ::pread(static_cast<int>(handle_), p + *got, n - *got,
                        static_cast<off_t>(offset + static_cast<std::int64_t>(*got)));
    if (r < 0) {
      if (errno == EINTR) continue;
      return Errno(path_, errno);
    }
    if (r == 0) break;
    *got += static_cast<std::size_t>(r);
  }
  return Status::Ok();
}

// ---- AtomicOutputFile ------------------------------------------------------

AtomicOutputFile::~AtomicOutputFile() { Discard(); }

Status AtomicOutputFile::Create(const std::string& target) {
  Discard();
  target_ = target;
  buffer_.clear();
  position_ = 0;
  flushed_ = 0;
  const std::string native = NativePath(target);
  struct stat st;
  if (::stat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    return Status::Error(Code::kNotRegular, target, "is a folder");
  }
  // The temporary file lives beside the target so that the rename stays on
  // one file system and replaces the target in one step. Its name is
  // registered before it is created, so that an interruption from then on
  // removes it; O_EXCL never opens what is already there.
  std::string name;
  int fd = -1;
  for (int attempt = 0; attempt < kTempAttempts && fd < 0; ++attempt) {
    name = native + ".tmp-" + posix::RandomLetters(6);
    interrupt_.Set(RemoveOnInterrupt::kNoFolder, name);
    fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    interrupt_.Clear();
    return Errno(target, errno);
  }
  // Keep the mode of a file being replaced; a new one gets the usual mode.
  mode_t mode = (::stat(native.c_str(), &st) == 0) ? (st.st_mode & 07777) : NewFileMode();
  ::fchmod(fd, mode);
  handle_ = fd;
  tempPath_ = name;
  buffer_.reserve(kCopyBufferSize);
  return Status::Ok();
}

Status AtomicOutputFile::FlushBuffer() {
  if (buffer_.empty()) return Status::Ok();
  if (Status s = WriteAll(static_cast<int>(handle_), buffer_.data(), buffer_.size(), target_);
      !s.ok()) {
    return s;
  }
  flushed_ += static_cast<std::int64_t>(buffer_.size());
  buffer_.clear();
  return Status::Ok();
}

Status AtomicOutputFile::Write(const void* data, std::size_t n) {
  if (handle_ == kInvalid) {
    return Status::Error(Code::kIoError, target_, "not open for writing");
  }
  const char* p = static_cast<const char*>(data);
  if (buffer_.size() + n > kCopyBufferSize) {
    if (Status s = FlushBuffer(); !s.ok()) return s;
    if (n >= kCopyBufferSize) {
      if (Status s = WriteAll(static_cast<int>(handle_), p, n, target_); !s.ok()) return s;
      flushed_ += static_cast<std::int64_t>(n);
      position_ += static_cast<std::int64_t>(n);
      return Status::Ok();
    }
  }
  buffer_.append(p, n);
  position_ += static_cast<std::int64_t>(n);
  return Status::Ok();
}

Status AtomicOutputFile::CopyFrom(InputFile& src, std::int64_t offset, std::int64_t length,
                                  bool wholeFile) {
  if (handle_ == kInvalid) {
    return Status::Error(Code::kIoError, target_, "not open for writing");
  }
  if (Status s = FlushBuffer(); !s.ok()) return s;
  const int in = static_cast<int>(src.native());
  const int out = static_cast<int>(handle_);
  // With `wholeFile` one byte more is asked for: getting it means the source
  // grew, getting exactly `length` means it ends where it should.
  const std::int64_t limit = length + (wholeFile ? 1 : 0);
  std::int64_t done = 0;
  bool ended = false;
#if defined(__linux__)
  // The kernel copies (or shares extents) without bringing the bytes into
  // user space. Any refusal falls back to read and write below.
  {
    loff_t inOff = static_cast<loff_t>(offset);
    while (done < limit) {
      const std::size_t want = static_cast<std::size_t>(limit - done);
      const ssize_t c = ::copy_file_range(in, &inOff, out, nullptr, want, 0);
      if (c < 0) {
        if (errno == EINTR) continue;
        if (errno == ENOSPC || errno == EFBIG || errno == EDQUOT || errno == EIO) {
          return Errno(target_, errno);
        }
        break;  // not supported here: fall back
      }
      if (c == 0) {
        // The end of the source; where nothing at all was copied it may
        // also be a file system that copies nothing, so the reads decide.
        ended = done > 0;
        break;
      }
      done += c;
      // The kernel cuts a request at the end of the source, so a short
      // count that brings all `length` bytes is taken as the end, without a
      // further call to see it. (A grown file is then missed only where a
      // file system cuts a request short for a reason of its own, exactly
      // there.)
      if (c < static_cast<ssize_t>(want) && done == length) {
        ended = true;
        break;
      }
    }
  }
#endif
  if (done < limit && !ended) {
    static thread_local std::vector<char> buf(kCopyBufferSize);
    while (done < limit) {
      std::size_t want = static_cast<std::size_t>(
          std::min<std::int64_t>(limit - done, static_cast<std::int64_t>(buf.size())));
      std::size_t got = 0;
      if (Status s = src.ReadAt(offset + done, buf.data(), want, &got); !s.ok()) return s;
      if (got == 0) break;
      if (Status s = WriteAll(out, buf.data(), got, target_); !s.ok()) return s;
      done += static_cast<std::int64_t>(got);
    }
  }
  flushed_ += done;
  position_ += done;
  if (done < length) {
    return Status::Error(Code::kChanged, src.path(),
                         "delivered " + std::to_string(done) + " of " + std::to_string(length) +
                             " bytes (changed since it was added?)");
  }
  if (done > length) {
    return Status::Error(
        Code::kChanged, src.path(),
        "holds more than " + std::to_string(length) + " bytes (changed since it was added?)");
  }
  return Status::Ok();
}

Status AtomicOutputFile::WriteAt(std::int64_t offset, const void* data, std::size_t n) {
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

Status AtomicOutputFile::Commit() {
  if (handle_ == kInvalid) {
    return Status::Error(Code::kIoError, target_, "not open for writing");
  }
  if (Status s = FlushBuffer(); !s.ok()) {
    Discard();
    return s;
  }
  int fd = static_cast<int>(handle_);
  handle_ = kInvalid;
  // No sync before the rename: the rename is what makes the archive
  // replace its target in one step (readers see the old file or the whole
  // new one), and a sync would make every build wait for the disk. A
  // write error the file system reports only at close is caught below.
  if (::close(fd) != 0) {
    const Status failed = Errno(target_, errno);
    Discard();
    return failed;
  }
  if (::rename(tempPath_.c_str(), NativePath(target_).c_str()) != 0) {
    const Status failed = Errno(target_, errno);
    Discard();
    return failed;
  }
  tempPath_.clear();
  interrupt_.Clear();
  return Status::Ok();
}

void AtomicOutputFile::Discard() {
  if (handle_ != kInvalid) {
    ::close(static_cast<int>(handle_));
    handle_ = kInvalid;
  }
  if (!tempPath_.empty()) {
    ::unlink(tempPath_.c_str());
    tempPath_.clear();
  }
  interrupt_.Clear();
  buffer_.clear();
}

}  // namespace quarrion::host
