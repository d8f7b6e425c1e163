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

#include "host/host.h"
#include "host/posix_io.h"

namespace quarrion::host {
namespace {

using posix::Errno;
using posix::Fail;
using posix::WriteAll;

constexpr std::size_t kCopyBufferSize = 128 * 1024;

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

// Bytes handed to the disk at a time while an output file grows, so that
// the sync before its rename finds little left to wait for.
constexpr std::int64_t kWritebackChunk = 8 * 1024 * 1024;

// Starts the disk writes of the bytes from `*begun` to `end` once they make
// a whole chunk, without waiting for them; the kernel writes them while the
// copy goes on. Where the host cannot, the sync does all the work.
void StartWriteback(int fd, std::int64_t* begun, std::int64_t end) {
  if (end - *begun < kWritebackChunk) return;
#if defined(__linux__)
  ::sync_file_range(fd, static_cast<off_t>(*begun), static_cast<off_t>(end - *begun),
                    SYNC_FILE_RANGE_WRITE);
#else
  (void)fd;
#endif
  *begun = end;
}

mode_t NewFileMode() {
  mode_t mask = ::umask(0);
  ::umask(mask);
  return static_cast<mode_t>(0666 & ~mask);
}

}  // namespace

std::string NativePath(std::string_view path) {
  std::string native(path);
  std::replace(native.begin(), native.end(), '\\', '/');
  return native;
}

bool IsPathSeparator(char c) { return c == '\\' || c == '/'; }

bool StatPath(const std::string& path, FileInfo* info, Status* err) {
  struct stat st;
  if (::stat(NativePath(path).c_str(), &st) != 0) {
    *info = FileInfo{};
    Fail(err, Errno(path, errno));
    return false;
  }
  *info = InfoFromStat(st);
  return true;
}

bool IsFolder(const std::string& path) {
  FileInfo info;
  return StatPath(path, &info, nullptr) && info.kind == FileKind::kFolder;
}

bool ListFolder(const std::string& path, std::vector<std::string>* names, Status* err,
                std::vector<ListedKind>* kinds) {
  names->clear();
  if (kinds != nullptr) kinds->clear();
  DIR* dir = ::opendir(NativePath(path).c_str());
  if (dir == nullptr) {
    Fail(err, Errno(path, errno));
    return false;
  }
  errno = 0;
  while (struct dirent* e = ::readdir(dir)) {
    const char* n = e->d_name;
    if (std::strcmp(n, ".") == 0 || std::strcmp(n, "..") == 0) continue;
    names->emplace_back(n);
    if (kinds != nullptr) {
      kinds->push_back(e->d_type == DT_REG   ? ListedKind::kRegular
                       : e->d_type == DT_DIR ? ListedKind::kFolder
                                             : ListedKind::kUnknown);
    }
  }
  int readError = errno;
  ::closedir(dir);
  if (readError != 0) {
    names->clear();
    if (kinds != nullptr) kinds->clear();
    Fail(err, Errno(path, readError));
    return false;
  }
  return true;
}

std::int64_t NowSeconds() { return static_cast<std::int64_t>(std::time(nullptr)); }

std::int32_t ClampTime(std::int64_t seconds) {
  if (seconds < 0) return 0;
  if (seconds > 0x7fffffff) return 0x7fffffff;
  return static_cast<std::int32_t>(seconds);
}

bool StderrIsTerminal() { return ::isatty(2) == 1; }

// ---- InputFile -------------------------------------------------------------

InputFile::~InputFile() { Close(); }

InputFile::InputFile(InputFile&& other) noexcept
    : handle_(other.handle_), path_(std::move(other.path_)), info_(other.info_) {
  other.handle_ = kInvalid;
}

InputFile& InputFile::operator=(InputFile&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    path_ = std::move(other.path_);
    info_ = other.info_;
    other.handle_ = kInvalid;
  }
  return *this;
}

bool InputFile::Open(const std::string& path, Status* err) {
  Close();
  path_ = path;
  // Look before opening: FIFOs, sockets and devices are never opened.
  struct stat st;
  if (::stat(NativePath(path).c_str(), &st) != 0) {
    Fail(err, Errno(path, errno));
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    Fail(err,
         Status::Error(Code::kNotRegular, path + (S_ISDIR(st.st_mode) ? ": is a folder, not a file"
                                                                      : ": not a regular file")));
    return false;
  }
  return OpenRegular(path, err);
}

bool InputFile::OpenRegular(const std::string& path, Status* err) {
  Close();
  path_ = path;
  // O_NONBLOCK keeps a FIFO swapped in since the file was seen from
  // blocking the open. Reads of regular files ignore the flag, so it stays.
  int fd = ::open(NativePath(path).c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    Fail(err, Errno(path, errno));
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    const bool folder = S_ISDIR(st.st_mode);
    ::close(fd);
    Fail(err, Status::Error(Code::kNotRegular, path + (folder ? ": is a folder, not a file"
                                                              : ": not a regular file")));
    return false;
  }
  handle_ = fd;
  info_ = InfoFromStat(st);
  return true;
}

void InputFile::Close() {
  if (handle_ != kInvalid) {
    ::close(static_cast<int>(handle_));
    handle_ = kInvalid;
  }
}

bool InputFile::ReadAt(std::int64_t offset, void* buf, std::size_t n, std::size_t* got,
                       Status* err) {
  *got = 0;
  char* p = static_cast<char*>(buf);
  while (*got < n) {
    ssize_t r = ::pread(static_cast<int>(handle_), p + *got, n - *got,
                        static_cast<off_t>(offset + static_cast<std::int64_t>(*got)));
    if (r < 0) {
      if (errno == EINTR) continue;
      Fail(err, Errno(path_, errno));
      return false;
    }
    if (r == 0) break;
    *got += static_cast<std::size_t>(r);
  }
  return true;
}

// ---- AtomicOutputFile ------------------------------------------------------

AtomicOutputFile::~AtomicOutputFile() { Discard(); }

bool AtomicOutputFile::Create(const std::string& target, Status* err) {
  Discard();
  target_ = target;
  buffer_.clear();
  position_ = 0;
  flushed_ = 0;
  written_ = 0;
  const std::string native = NativePath(target);
  struct stat st;
  if (::stat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    Fail(err, Status::Error(Code::kNotRegular, target + ": is a folder"));
    return false;
  }
  // The temporary file lives beside the target so that the rename stays on
  // one file system and replaces the target in one step.
  std::string pattern = native + ".tmp-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  int fd = ::mkstemp(name.data());
  if (fd < 0) {
    Fail(err, Errno(target, errno));
    return false;
  }
  ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  // Keep the mode of a file being replaced; a new one gets the usual mode.
  mode_t mode = (::stat(native.c_str(), &st) == 0) ? (st.st_mode & 07777) : NewFileMode();
  ::fchmod(fd, mode);
  handle_ = fd;
  tempPath_ = name.data();
  buffer_.reserve(kCopyBufferSize);
  return true;
}

bool AtomicOutputFile::FlushBuffer(Status* err) {
  if (buffer_.empty()) return true;
  if (!WriteAll(static_cast<int>(handle_), buffer_.data(), buffer_.size(), target_, err)) {
    return false;
  }
  flushed_ += static_cast<std::int64_t>(buffer_.size());
  buffer_.clear();
  StartWriteback(static_cast<int>(handle_), &written_, flushed_);
  return true;
}

bool AtomicOutputFile::Write(const void* data, std::size_t n, Status* err) {
  if (handle_ == kInvalid) {
    Fail(err, Status::Error(Code::kIoError, target_ + ": not open for writing"));
    return false;
  }
  const char* p = static_cast<const char*>(data);
  if (buffer_.size() + n > kCopyBufferSize) {
    if (!FlushBuffer(err)) return false;
    if (n >= kCopyBufferSize) {
      if (!WriteAll(static_cast<int>(handle_), p, n, target_, err)) return false;
      flushed_ += static_cast<std::int64_t>(n);
      position_ += static_cast<std::int64_t>(n);
      StartWriteback(static_cast<int>(handle_), &written_, flushed_);
      return true;
    }
  }
  buffer_.append(p, n);
  position_ += static_cast<std::int64_t>(n);
  return true;
}

bool AtomicOutputFile::CopyFrom(InputFile& src, std::int64_t offset, std::int64_t length,
                                Status* err) {
  if (handle_ == kInvalid) {
    Fail(err, Status::Error(Code::kIoError, target_ + ": not open for writing"));
    return false;
  }
  if (!FlushBuffer(err)) return false;
  const int in = static_cast<int>(src.native());
  const int out = static_cast<int>(handle_);
  std::int64_t done = 0;
#if defined(__linux__)
  // The kernel copies (or shares extents) without bringing the bytes into
  // user space. Any refusal falls back to read and write below.
  {
    loff_t inOff = static_cast<loff_t>(offset);
    while (done < length) {
      // In chunks, so that the disk writes of a large file begin while it
      // is being copied.
      std::size_t chunk =
          static_cast<std::size_t>(std::min<std::int64_t>(length - done, kWritebackChunk));
      ssize_t c = ::copy_file_range(in, &inOff, out, nullptr, chunk, 0);
      if (c < 0) {
        if (errno == EINTR) continue;
        if (errno == ENOSPC || errno == EFBIG || errno == EDQUOT || errno == EIO) {
          Fail(err, Errno(target_, errno));
          return false;
        }
        break;  // not supported here: fall back
      }
      if (c == 0) break;  // end of the source, or a file system that copies nothing
      done += c;
      StartWriteback(out, &written_, flushed_ + done);
    }
  }
#endif
  if (done < length) {
    static thread_local std::vector<char> buf(kCopyBufferSize);
    while (done < length) {
      std::size_t want = static_cast<std::size_t>(
          std::min<std::int64_t>(length - done, static_cast<std::int64_t>(buf.size())));
      std::size_t got = 0;
      if (!src.ReadAt(offset + done, buf.data(), want, &got, err)) return false;
      if (got == 0) break;
      if (!WriteAll(out, buf.data(), got, target_, err)) return false;
      done += static_cast<std::int64_t>(got);
    }
  }
  flushed_ += done;
  position_ += done;
  StartWriteback(out, &written_, flushed_);
  if (done < length) {
    Fail(err, Status::Error(Code::kChanged, src.path() + ": delivered " + std::to_string(done) +
                                                " of " + std::to_string(length) +
                                                " bytes (changed since it was added?)"));
    return false;
  }
  return true;
}

bool AtomicOutputFile::WriteAt(std::int64_t offset, const void* data, std::size_t n, Status* err) {
  if (!FlushBuffer(err)) return false;
  const char* p = static_cast<const char*>(data);
  while (n > 0) {
    ssize_t w = ::pwrite(static_cast<int>(handle_), p, n, static_cast<off_t>(offset));
    if (w < 0) {
      if (errno == EINTR) continue;
      Fail(err, Errno(target_, errno));
      return false;
    }
    p += w;
    offset += w;
    n -= static_cast<std::size_t>(w);
  }
  return true;
}

bool AtomicOutputFile::Commit(Status* err) {
  if (handle_ == kInvalid) {
    Fail(err, Status::Error(Code::kIoError, target_ + ": not open for writing"));
    return false;
  }
  if (!FlushBuffer(err)) {
    Discard();
    return false;
  }
  int fd = static_cast<int>(handle_);
  handle_ = kInvalid;
  // The data reach the disk before the rename makes them the target, so a
  // crash right after it cannot leave an empty or partial archive in place
  // of the old one; a write error the file system reports only now (full
  // disk on a network file system) is caught here as well.
  if (::fsync(fd) != 0 && errno != EINVAL) {
    Fail(err, Errno(target_, errno));
    ::close(fd);
    ::unlink(tempPath_.c_str());
    tempPath_.clear();
    return false;
  }
  if (::close(fd) != 0) {
    Fail(err, Errno(target_, errno));
    ::unlink(tempPath_.c_str());
    tempPath_.clear();
    return false;
  }
  if (::rename(tempPath_.c_str(), NativePath(target_).c_str()) != 0) {
    Fail(err, Errno(target_, errno));
    ::unlink(tempPath_.c_str());
    tempPath_.clear();
    return false;
  }
  tempPath_.clear();
  return true;
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
  buffer_.clear();
}

}  // namespace quarrion::host
