// Error reporting, handle and time conversions shared by the Windows host
// files.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <utility>

#include "host/status.h"

namespace quarrion::host::windows {

// 100-nanosecond intervals between 1601-01-01 (FILETIME) and 1970-01-01.
constexpr std::int64_t kUnixEpochInFileTime = 116444736000000000LL;
constexpr std::int64_t kFileTimeTicksPerSecond = 10000000LL;

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

}  // namespace quarrion::host::windows
