// The host primitives: paths, statuses, times and files opened for reading,
// with one implementation per host (host/host_posix.cpp and
// host/host_windows.cpp) and what is the same on every host in shared.cpp.
//
// In memory every path keeps its backslashes as the user or the archive gave
// them, and every path and name is UTF-8 text (or bytes as a file or archive
// holds them); the functions here map a path to the host's form where it
// meets the file system (on POSIX every backslash is a separator; on Windows
// the path is turned into UTF-16).
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>

#include "base/status.h"

namespace quarrion::fastio {
class FileOpener;
}

namespace quarrion::host {

// The path as the host's file system functions take it: on POSIX every
// backslash becomes a slash; on Windows the path is used as given (the
// calls that take it turn it into UTF-16).
std::string NativePath(std::string_view path);

// Opens `in` on the file `path` for reading, in binary mode, taking the path
// as the host's own calls do (on Windows in UTF-16, long paths included).
// False when it cannot be opened.
bool OpenStream(const std::string& path, std::ifstream* in);

// True when `c` separates folders on this host ('\\' and '/' on both).
bool IsPathSeparator(char c);

// The separator that joins names to paths below `top`, a folder path as the
// user typed it, so that the paths shown read as typed: on Windows the
// backslash; elsewhere the last separator `top` holds, the backslash when it
// holds none.
char JoinSeparator(std::string_view top);

enum class FileKind { kMissing, kRegular, kFolder, kOther };

struct FileInfo {
  FileKind kind = FileKind::kMissing;
  std::int64_t size = 0;       // bytes (regular files)
  std::int64_t mtime = 0;      // seconds since 1970-01-01 UTC, not clamped
  std::int64_t mtimeNsec = 0;  // sub-second part, where the host has one
  std::uint64_t device = 0;    // identity of the file, for loop detection
  std::uint64_t inode = 0;     // and for noticing a replaced file
  // False when a regular file is known to be unreadable for this process
  // (its permissions refuse it); hosts that cannot tell without opening
  // the file leave it true, and the open says so later.
  bool readable = true;
};

// Status of `path`, following symbolic links. A path that does not exist (or a
// link whose target does not) gives kind kMissing and code kNotFound.
Status StatPath(const std::string& path, FileInfo* info);

// One entry of a folder listing with its status, links followed (a link
// counts as what it leads to). Kind kMissing when the status could not be
// read (a broken link, say): opening the entry by its path tells why.
struct FolderEntry {
  std::string name;
  FileInfo info;
};

// Seconds since 1970-01-01 UTC.
std::int64_t NowSeconds();

// A time as the archive stores it: clamped to 0 .. 2^31-1.
std::int32_t ClampTime(std::int64_t seconds);

// True when standard error is a terminal (progress display).
bool StderrIsTerminal();

// A file opened read-only. Open refuses anything that is not a regular file,
// without blocking on FIFOs or opening devices.
class InputFile {
 public:
  InputFile() = default;
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  InputFile(InputFile&& other) noexcept;
  InputFile& operator=(InputFile&& other) noexcept;

  Status Open(const std::string& path);
  void Close();

  const std::string& path() const { return path_; }
  const FileInfo& info() const { return info_; }
  std::int64_t size() const { return info_.size; }

  // Reads up to `n` bytes at `offset` into `buf`; `*got` is the number read,
  // fewer only at the end of the file. Fails on a read error.
  Status ReadAt(std::int64_t offset, void* buf, std::size_t n, std::size_t* got);

  // The host's handle (a file descriptor or a HANDLE), for the kernel copy.
  std::intptr_t native() const { return handle_; }

 private:
  friend class fastio::FileOpener;  // hands over files it opened

  static constexpr std::intptr_t kInvalid = -1;
  std::intptr_t handle_ = kInvalid;
  std::string path_;
  FileInfo info_;
};

}  // namespace quarrion::host
