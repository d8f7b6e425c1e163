// The host layer on POSIX systems (Linux, macOS, the BSDs): statuses of
// paths and files opened for reading.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include "host/host.h"
#include "host/posix_io.h"

namespace quarrion::host {
namespace {

using posix::Errno;
using posix::kSourceFlags;

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

bool OpenStream(const std::string& path, std::ifstream* in) {
  in->open(NativePath(path), std::ios::in | std::ios::binary);
  return in->is_open();
}

char JoinSeparator(std::string_view top) {
  const std::size_t last = top.find_last_of("\\/");
  return last == std::string_view::npos ? '\\' : top[last];
}

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

}  // namespace quarrion::host
