// What the Windows host files share: UTF-8 paths turned into the UTF-16
// form the "W" functions take, error reporting, handle and time conversions.
//
// Inside the program every path and name is UTF-8, as on POSIX hosts, so one
// tree gives the same archive on every host. The conversion happens here, at
// the edge: nothing in the host layer calls an "A" function, whose strings
// would be in the ANSI code page.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "base/status.h"
#include "host/host.h"

namespace quarrion::host::windows {

// 100-nanosecond intervals between 1601-01-01 (FILETIME) and 1970-01-01.
constexpr std::int64_t kUnixEpochInFileTime = 116444736000000000LL;
constexpr std::int64_t kFileTimeTicksPerSecond = 10000000LL;

// The most one ReadFile or WriteFile call is asked to move (it counts in a
// DWORD).
constexpr std::size_t kMaxIoChunk = std::size_t{1} << 30;

// `text` in UTF-16. Text is read as UTF-8; where it is not valid UTF-8, as
// text in the ANSI code page (a double-byte code page's lead byte takes the
// byte after it along): earlier versions of this tool on Windows wrote
// configuration and list files and archive names so, and those keep naming
// the files they named, also within a path whose other parts are UTF-8.
std::wstring Wide(std::string_view text);

// The length of `bytes` without a UTF-8 sequence cut short at their end.
std::size_t WholeUtf8(std::string_view bytes);

// UTF-16 text from the system in UTF-8 (a lone surrogate, which no UTF-8
// can hold, becomes U+FFFD).
std::string Utf8(std::wstring_view text);

// `path` as the "W" functions take it: in UTF-16, and, when it is long
// (248 characters or more once made absolute: MAX_PATH less the 12 that
// CreateDirectoryW keeps for the names in a folder), absolute and normalised
// in the \\?\ form, which every Windows version takes up to 32767
// characters long without any system setting. It is normalised as
// GetFullPathNameW does it (the working folder; ".", ".." and slashes;
// trailing dots and blanks of a name), which gives it the meaning its short
// form has. A path already in the \\?\ or \\.\ form is used as given.
std::wstring WidePath(std::string_view path);

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
  wchar_t text[512];
  DWORD n = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, e,
                             0, text, sizeof text / sizeof text[0], nullptr);
  while (n > 0 && (text[n - 1] == L'\r' || text[n - 1] == L'\n' || text[n - 1] == L' ' ||
                   text[n - 1] == L'.')) {
    --n;
  }
  if (n == 0) return "system error " + std::to_string(e);
  return Utf8(std::wstring_view(text, n));
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
  return ::GetFileAttributesW(WidePath(path).c_str());
}

}  // namespace quarrion::host::windows
