// Error reporting, handle and time conversions shared by the Windows host
// files.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

#include "host/host.h"
#include "host/status.h"

namespace quarrion::host::windows {

// 100-nanosecond intervals between 1601-01-01 (FILETIME) and 1970-01-01.
constexpr std::int64_t kUnixEpochInFileTime = 116444736000000000LL;
constexpr std::int64_t kFileTimeTicksPerSecond = 10000000LL;

// The most one ReadFile or WriteFile call is asked to move (it counts in a
// DWORD).
constexpr std::size_t kMaxIoChunk = std::size_t{1} << 30;

inline HANDLE AsHandle(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }
inline std::intptr_t FromHandle(HANDLE h) { return reinterpret_cast<std::intptr_t>(h); }

inline bool IsNotFoundError(DWORD e) {
  return e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND || e == ERROR_INVALID_NAME ||
         e == ERROR_BAD_NETPATH || e == ERROR_BAD_PATHNAME || e == ERROR_INVALID_DRIVE ||
         e == ERROR_DIRECTORY;
}

// The reason for a Win32 error code, in this tool's own words where they
// matter and in the system's words otherwise.
inline std::string Reason(DWORD e) {
  switch (e) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_NETPATH:
    case ERROR_INVALID_DRIVE:
      return "no such file or folder";
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
      return "not a valid path";
    case ERROR_DIRECTORY:
      return "a part of the path is not a folder";
    case ERROR_ACCESS_DENIED:
      return "permission denied";
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return "in use by another program";
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return "no space left on the device";
    case ERROR_FILENAME_EXCED_RANGE:
      return "path too long";
    default:
      break;
  }
  char text[512];
  DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, e,
                             0, text, sizeof text, nullptr);
  while (n > 0 &&
         (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == ' ' || text[n - 1] == '.')) {
    --n;
  }
  if (n == 0) return "system error " + std::to_string(e);
  return std::string(text, n);
}

inline Status Win32Error(const std::string& path, DWORD e) {
  Code code = IsNotFoundError(e) ? Code::kNotFound : Code::kIoError;
  return Status::Error(code, path, Reason(e));
}

// One plain name that Windows can hold (CheckHostName), never a path.
bool IsSingleName(const std::string& name);

inline std::int64_t FileTimeTicks(const FILETIME& ft) {
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) |
                                   ft.dwLowDateTime);
}

// Seconds since 1970 (rounded down, as POSIX hosts report them) and the
// nanoseconds within that second.
inline void SetTimeFromFileTime(const FILETIME& ft, FileInfo* info) {
  std::int64_t ticks = FileTimeTicks(ft) - kUnixEpochInFileTime;
  std::int64_t seconds = ticks / kFileTimeTicksPerSecond;
  std::int64_t rest = ticks % kFileTimeTicksPerSecond;
  if (rest < 0) {
    rest += kFileTimeTicksPerSecond;
    --seconds;
  }
  info->mtime = seconds;
  info->mtimeNsec = rest * 100;
}

// Attributes of `path` without opening it: INVALID_FILE_ATTRIBUTES (with
// the last error set) when it cannot be asked.
inline DWORD Attributes(const std::string& path) {
  if (path.empty()) {
    ::SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_FILE_ATTRIBUTES;
  }
  return ::GetFileAttributesA(path.c_str());
}

}  // namespace quarrion::host::windows
