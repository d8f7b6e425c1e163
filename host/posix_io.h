// Error reporting and writing helpers shared by the POSIX host files.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <string>
#include <utility>

#include "host/status.h"

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
      return "file too large for the device";
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
  return Status::Error(code, path + ": " + Reason(e));
}

inline void Fail(Status* err, Status s) {
  if (err != nullptr) *err = std::move(s);
}

// Writes all of `n` bytes, retrying after interruptions and short writes.
inline bool WriteAll(int fd, const char* p, std::size_t n, const std::string& path, Status* err) {
  while (n > 0) {
    ssize_t w = ::write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      Fail(err, Errno(path, errno));
      return false;
    }
    p += w;
    n -= static_cast<std::size_t>(w);
  }
  return true;
}

}  // namespace quarrion::host::posix
