// Extraction on POSIX: every folder is an open descriptor, and each name is
// opened relative to its parent's descriptor with O_NOFOLLOW, so a path is
// never resolved again from the top and a symbolic link is never followed.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "host/extract.h"
#include "host/interrupt.h"
#include "host/posix_io.h"

namespace quarrion::host {
namespace {

using posix::Errno;
using posix::WriteAll;

constexpr std::size_t kCopyBufferSize = 128 * 1024;
constexpr int kTempAttempts = 100;

// One component, never a path: the shell checks names before they get here,
// and this check keeps the host layer safe on its own.
bool IsSingleName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

// A name for the temporary file beside `name`: hidden, and unlikely to meet
// an entry of the archive.
std::string TempName(const std::string& name) {
  return "." + name + ".tmp-" + posix::RandomLetters(8);
}

// Removes the temporary file unless it was renamed into place, and only
// then ends its registration for interruptions.
class TempGuard {
 public:
  TempGuard(int dir, std::string name, RemoveOnInterrupt& registered)
      : dir_(dir), name_(std::move(name)), registered_(registered) {}
  ~TempGuard() {
    if (fd_ >= 0) ::close(fd_);
    if (!name_.empty()) ::unlinkat(dir_, name_.c_str(), 0);
    registered_.Clear();
  }
  TempGuard(const TempGuard&) = delete;
  TempGuard& operator=(const TempGuard&) = delete;

  int fd_ = -1;
  void Keep() { name_.clear(); }

 private:
  int dir_;
  std::string name_;
  RemoveOnInterrupt& registered_;
};

}  // namespace

// Every step down is relative to an open descriptor, so a folder closed and
// opened again is reached the same way, link-free, as the first time.
const std::size_t ExtractFolder::kMostHeld = 16;

ExtractFolder::~ExtractFolder() { Close(); }

ExtractFolder::ExtractFolder(ExtractFolder&& other) noexcept
    : handle_(other.handle_), path_(std::move(other.path_)) {
  other.handle_ = kInvalid;
}

ExtractFolder& ExtractFolder::operator=(ExtractFolder&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    path_ = std::move(other.path_);
    other.handle_ = kInvalid;
  }
  return *this;
}

void ExtractFolder::Close() {
  if (handle_ != kInvalid) {
    ::close(static_cast<int>(handle_));
    handle_ = kInvalid;
  }
}

Status ExtractFolder::OpenRoot(const std::string& path) {
  Close();
  path_ = path;
  const std::string native = NativePath(path);
  if (native.empty()) {
    return Status::Error(Code::kNotFound, "", "no target folder given");
  }
  // Create the folders on the way; the open below tells whether it worked.
  for (std::size_t i = 1; i <= native.size(); ++i) {
    if (i == native.size() || native[i] == '/') {
      if (native[i - 1] == '/') continue;
      ::mkdir(native.substr(0, i).c_str(), 0777);
    }
  }
  int fd = ::open(native.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    return Errno(path, errno);
  }
  handle_ = fd;
  return Status::Ok();
}

Status ExtractFolder::OpenChild(const std::string& name, ExtractFolder* child) const {
  const std::string shown = path_ + "/" + name;
  if (!IsSingleName(name)) {
    return Status::Error(Code::kBadFolder, shown, "not a plain folder name");
  }
  const int dir = static_cast<int>(handle_);
  const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
  int fd = ::openat(dir, name.c_str(), flags);
  if (fd < 0 && errno == ENOENT) {
    if (::mkdirat(dir, name.c_str(), 0777) != 0 && errno != EEXIST) {
      return Errno(shown, errno);
    }
    fd = ::openat(dir, name.c_str(), flags);
  }
  if (fd < 0) {
    // Linux and macOS say ELOOP for a link, FreeBSD EMLINK; ENOTDIR for a
    // file in the way.
    if (errno == ELOOP || errno == EMLINK || errno == ENOTDIR) {
      return Status::Error(Code::kNotRegular, shown,
                           "a symbolic link or not a folder (not followed)");
    }
    return Errno(shown, errno);
  }
  child->Close();
  child->handle_ = fd;
  child->path_ = shown;
  return Status::Ok();
}

Status ExtractFolder::WriteFile(const std::string& name, InputFile& src, std::int64_t offset,
                                std::int64_t length, std::int64_t mtime) const {
  const std::string shown = path_ + "/" + name;
  if (!IsSingleName(name)) {
    return Status::Error(Code::kBadFolder, shown, "not a plain file name");
  }
  const int dir = static_cast<int>(handle_);

  // O_EXCL never follows a link and never opens what is already there. The
  // name is registered before the file is made, so that an interruption
  // from then on removes it.
  RemoveOnInterrupt registered;
  std::string tempName;
  int fd = -1;
  for (int attempt = 0; attempt < kTempAttempts && fd < 0; ++attempt) {
    tempName = TempName(name);
    registered.Set(dir, tempName);
    fd =
        ::openat(dir, tempName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    return Errno(shown, errno);
  }
  TempGuard temp(dir, tempName, registered);
  temp.fd_ = fd;

  std::vector<char> buf(static_cast<std::size_t>(
      std::min<std::int64_t>(std::max<std::int64_t>(length, 1), kCopyBufferSize)));
  std::int64_t done = 0;
  while (done < length) {
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::int64_t>(length - done, buf.size()));
    std::size_t got = 0;
    if (Status s = src.ReadAt(offset + done, buf.data(), want, &got); !s.ok()) return s;
    if (got == 0) {
      return Status::Error(Code::kChanged, src.path(), "ended early");
    }
    if (Status s = WriteAll(fd, buf.data(), got, shown); !s.ok()) return s;
    done += static_cast<std::int64_t>(got);
  }

  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;  // the access time stays "now"
  times[1].tv_sec = static_cast<time_t>(mtime);
  times[1].tv_nsec = 0;
  if (::futimens(fd, times) != 0) {
    return Errno(shown, errno);
  }
  temp.fd_ = -1;
  if (::close(fd) != 0) {
    return Errno(shown, errno);
  }
  // The rename replaces a file or link of that name; it never follows one.
  if (::renameat(dir, tempName.c_str(), dir, name.c_str()) != 0) {
    return Errno(shown, errno);
  }
  temp.Keep();
  return Status::Ok();
}

Status CheckHostName(std::string_view) { return Status::Ok(); }

}  // namespace quarrion::host
