// Error reporting and writing helpers shared by the POSIX host files.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "base/status.h"
#include "host/host.h"

namespace quarrion::host::posix {

// The reason for an errno value, in this tool's own words where they matter.
inline std::string Reason(int e) {
  switch (e) {
    case ENOENT:
      return "no such file or folder";
    case ENOTDIR:
      return "a part of the path is not a folder";
    case EACCES:
    case EPERM:
      return "permission denied";
    case EISDIR:
      return "is a folder";
    case ENOTEMPTY:
    case EEXIST:
      return "a folder of that name is in the way";
    case EROFS:
      return "read-only file system";
    case ENOSPC:
      return "no space left on the device";
    case EFBIG:
      return "file too large for the file system or the file size limit";
    case EDQUOT:
      return "disk quota exceeded";
    case ELOOP:
      return "too many levels of symbolic links";
    case ENAMETOOLONG:
      return "path too long";
    default:
      return std::strerror(e);
  }
}

inline Status Errno(const std::string& path, int e) {
  Code code = (e == ENOENT || e == ENOTDIR) ? Code::kNotFound : Code::kIoError;
  return Status::Error(code, path, Reason(e));
}

// Writes all of `n` bytes, retrying after interruptions and short writes.
inline Status WriteAll(int fd, const char* p, std::size_t n, const std::string& path) {
  while (n > 0) {
    ssize_t w = ::write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return Errno(path, errno);
    }
    p += w;
    n -= static_cast<std::size_t>(w);
  }
  return Status::Ok();
}

// One component, never a path: the shell checks names before they get here,
// and this check keeps the host layer safe on its own.
inline bool IsSingleName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

// How source files are opened. O_NONBLOCK keeps a FIFO swapped in since the
// file was looked at from blocking the open; reads of regular files ignore
// it.
constexpr int kSourceFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

// FileInfo of a status read through `dirFd` and `name` (as for fstatat),
// with `readable` for regular files.
FileInfo InfoFromStat(const struct stat& st, int dirFd, const char* name);

// Lists the folder `path`, calling `take(dirFd, entry)` for every entry but
// "." and "..", and `after(dirFd)` at the end while the folder is still open.
// Fails with the reason when the folder cannot be listed.
template <typename Take, typename After>
Status EachEntry(const std::string& path, Take take, After after) {
  DIR* dir = ::opendir(NativePath(path).c_str());
  if (dir == nullptr) return Errno(path, errno);
  const int fd = ::dirfd(dir);
  errno = 0;
  while (struct dirent* e = ::readdir(dir)) {
    const char* n = e->d_name;
    if (std::strcmp(n, ".") == 0 || std::strcmp(n, "..") == 0) continue;
    take(fd, *e);
    errno = 0;
  }
  const int readError = errno;
  if (readError == 0) after(fd);
  ::closedir(dir);
  if (readError != 0) return Errno(path, readError);
  return Status::Ok();
}

}  // namespace quarrion::host::posix
