// Extraction on POSIX: every folder is an open descriptor, and each name is
// opened relative to its parent's descriptor with O_NOFOLLOW, so a path is
// never resolved again from the top and a symbolic link is never followed.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "host/extract.h"
#include "host/posix_io.h"

namespace quarrion::host {

using posix::Errno;

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
  // Create the folders on the way; the open below tells whether it worked,
  // and a folder that could not be made (not for want of its parent) tells
  // why not.
  int notMade = 0;
  for (std::size_t i = 1; i <= native.size(); ++i) {
    if (i == native.size() || native[i] == '/') {
      if (native[i - 1] == '/') continue;
      if (::mkdir(native.substr(0, i).c_str(), 0777) != 0 && errno != EEXIST && errno != ENOENT) {
        notMade = errno;
      }
    }
  }
  int fd = ::open(native.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    // "No such folder" only because it could not be made: say why not.
    return Errno(path, errno == ENOENT && notMade != 0 ? notMade : errno);
  }
  handle_ = fd;
  return Status::Ok();
}

Status ExtractFolder::OpenChild(const std::string& name, ExtractFolder* child) const {
  const std::string shown = path_ + "/" + name;
  if (!posix::IsSingleName(name)) {
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

Status CheckHostName(std::string_view) { return Status::Ok(); }

}  // namespace quarrion::host
