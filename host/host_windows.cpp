// The host layer on Windows, through the UTF-16 ("W") Win32 calls: UTF-8
// paths in the form those calls take, statuses of paths and files opened for
// reading. Paths mean what Windows makes of them: backslashes, slashes and
// drive letters alike.
#include <windows.h>

#include <algorithm>
#include <fstream>
#include <string>

#include "host/host.h"
#include "host/windows_io.h"

namespace quarrion::host {
namespace {

using windows::AsHandle;
using windows::Attributes;
using windows::FileTimeTicks;
using windows::FromHandle;
using windows::kFileTimeTicksPerSecond;
using windows::kMaxIoChunk;
using windows::kUnixEpochInFileTime;
using windows::SetTimeFromFileTime;
using windows::WidePath;
using windows::Win32Error;

// A path shorter than this, made absolute, is used as it stands; CreateDirectoryW
// refuses paths that leave less than 12 characters below MAX_PATH.
constexpr std::size_t kLongPath = MAX_PATH - 12;

// `text` in UTF-16 read in the code page `page`, appended to `wide`; false
// when `text` is not valid there (only UTF-8 is checked).
bool Decode(UINT page, std::string_view text, std::wstring* wide) {
  if (text.empty()) return true;
  const DWORD flags = page == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0;
  const int size = static_cast<int>(text.size());
  const int n = ::MultiByteToWideChar(page, flags, text.data(), size, nullptr, 0);
  if (n <= 0) return false;
  const std::size_t had = wide->size();
  wide->resize(had + static_cast<std::size_t>(n));
  return ::MultiByteToWideChar(page, flags, text.data(), size, wide->data() + had, n) == n;
}

// The length of the UTF-8 sequence that the byte `lead` begins, 0 when it
// begins none.
std::size_t SequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

// How many bytes at the start of `text` (not empty) agree with the UTF-8
// sequence they begin, whose length goes to `*length` (0 when none begins
// there). The sequence is whole and valid when both are equal.
std::size_t Agreeing(std::string_view text, std::size_t* length) {
  const auto lead = static_cast<unsigned char>(text[0]);
  *length = SequenceLength(lead);
  if (*length == 0) return 0;
  std::size_t i = 1;
  for (; i < *length && i < text.size(); ++i) {
    // The second byte rules out overlong forms, surrogates and values past
    // U+10FFFF.
    unsigned char low = 0x80, high = 0xBF;
    if (i == 1 && lead == 0xE0) low = 0xA0;
    if (i == 1 && lead == 0xED) high = 0x9F;
    if (i == 1 && lead == 0xF0) low = 0x90;
    if (i == 1 && lead == 0xF4) high = 0x8F;
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < low || c > high) break;
  }
  return i;
}

bool StartsWith(std::wstring_view text, std::wstring_view start) {
  return text.substr(0, start.size()) == start;
}

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// "C:\..." or "\\server\...": a path that needs no working folder.
bool IsAbsolute(std::wstring_view path) {
  if (path.size() >= 3 && path[1] == L':' && IsSeparator(path[2])) return true;
  return path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1]);
}

// What GetFullPathNameW makes of `path`; empty when it fails.
std::wstring FullPath(const std::wstring& path) {
  std::wstring full(path.size() + MAX_PATH, L'\0');
  for (;;) {
    const DWORD n =
        ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (n == 0) return {};
    if (n < full.size()) {
      full.resize(n);
      return full;
    }
    full.resize(n);  // n counts the NUL when the room was too small
  }
}

// Everything FileInfo holds, from an open handle. False when the handle is
// not a file or folder on a disk.
bool InfoFromHandle(HANDLE h, FileInfo* info) {
  *info = FileInfo{};
  if (::GetFileType(h) != FILE_TYPE_DISK) {
    info->kind = FileKind::kOther;
    return false;
  }
  BY_HANDLE_FILE_INFORMATION fi;
  if (!::GetFileInformationByHandle(h, &fi)) {
    info->kind = FileKind::kOther;
    return false;
  }
  info->kind = (fi.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? FileKind::kFolder
               : (fi.dwFileAttributes & FILE_ATTRIBUTE_DEVICE)  ? FileKind::kOther
                                                                : FileKind::kRegular;
  info->size = static_cast<std::int64_t>((static_cast<std::uint64_t>(fi.nFileSizeHigh) << 32) |
                                         fi.nFileSizeLow);
  SetTimeFromFileTime(fi.ftLastWriteTime, info);
  info->device = fi.dwVolumeSerialNumber;
  info->inode = (static_cast<std::uint64_t>(fi.nFileIndexHigh) << 32) | fi.nFileIndexLow;
  return true;
}

}  // namespace

std::wstring windows::Wide(std::string_view text) {
  std::wstring wide;
  if (Decode(CP_UTF8, text, &wide)) return wide;
  // Runs of valid UTF-8 and runs of anything else, each read its way.
  wide.clear();
  std::size_t start = 0;
  bool valid = true;
  for (std::size_t i = 0; i < text.size();) {
    std::size_t length = 0;
    const std::size_t agreeing = Agreeing(text.substr(i), &length);
    const bool whole = length > 0 && agreeing == length;
    if (whole != valid) {
      Decode(valid ? CP_UTF8 : CP_ACP, text.substr(start, i - start), &wide);
      start = i;
      valid = whole;
    }
    const bool pair = !whole && i + 1 < text.size() && ::IsDBCSLeadByte(static_cast<BYTE>(text[i]));
    i += whole ? length : pair ? 2 : 1;
  }
  Decode(valid ? CP_UTF8 : CP_ACP, text.substr(start), &wide);
  return wide;
}

std::size_t windows::WholeUtf8(std::string_view bytes) {
  for (std::size_t back = 1; back <= 3 && back <= bytes.size(); ++back) {
    const std::size_t at = bytes.size() - back;
    if ((static_cast<unsigned char>(bytes[at]) & 0xC0) == 0x80) continue;  // a continuation
    std::size_t length = 0;
    const std::size_t agreeing = Agreeing(bytes.substr(at), &length);
    return (agreeing == back && back < length) ? at : bytes.size();
  }
  return bytes.size();
}

std::string windows::Utf8(std::wstring_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string utf8(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, utf8.data(), n, nullptr, nullptr);
  return utf8;
}

std::wstring windows::WidePath(std::string_view path) {
  std::wstring wide = Wide(path);
  if (StartsWith(wide, L"\\\\?\\") || StartsWith(wide, L"\\\\.\\")) return wide;
  if (wide.size() < kLongPath && IsAbsolute(wide)) return wide;
  std::wstring full = FullPath(wide);
  if (full.size() < kLongPath) return wide;
  // A device keeps its \\.\ form; a share takes \\?\UNC\server\share.
  if (StartsWith(full, L"\\\\.\\") || StartsWith(full, L"\\\\?\\")) return full;
  if (StartsWith(full, L"\\\\")) return L"\\\\?\\UNC" + full.substr(1);
  return L"\\\\?\\" + full;
}

std::string NativePath(std::string_view path) { return std::string(path); }

bool OpenStream(const std::string& path, std::ifstream* in) {
  // The library's wide open (_wfopen) takes the path as the W calls do.
  in->open(WidePath(path).c_str(), std::ios::in | std::ios::binary);
  return in->is_open();
}

char JoinSeparator(std::string_view) { return '\\'; }

Status StatPath(const std::string& path, FileInfo* info) {
  *info = FileInfo{};
  // Ask before opening, so a missing path costs no open and nothing that is
  // plainly a device gets opened.
  DWORD attrs = Attributes(path);
  if (attrs == INVALID_FILE_ATTRIBUTES) {
    return Win32Error(path, ::GetLastError());
  }
  if (attrs & FILE_ATTRIBUTE_DEVICE) {
    info->kind = FileKind::kOther;
    return Status::Ok();
  }
  // Opening for attributes only follows symbolic links and junctions, and
  // gives the file's identity; folders need the backup-semantics flag.
  HANDLE h = ::CreateFileW(WidePath(path).c_str(), FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    return Win32Error(path, ::GetLastError());
  }
  InfoFromHandle(h, info);
  ::CloseHandle(h);
  return Status::Ok();
}

std::int64_t NowSeconds() {
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  return (FileTimeTicks(now) - kUnixEpochInFileTime) / kFileTimeTicksPerSecond;
}

bool StderrIsTerminal() {
  DWORD mode = 0;
  return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

// ---- InputFile -------------------------------------------------------------

Status InputFile::Open(const std::string& path) {
  Close();
  path_ = path;
  // Look before opening: folders and devices are never opened.
  DWORD attrs = Attributes(path);
  if (attrs == INVALID_FILE_ATTRIBUTES) {
    return Win32Error(path, ::GetLastError());
  }
  if (attrs & FILE_ATTRIBUTE_DIRECTORY) {
    return Status::Error(Code::kNotRegular, path, "is a folder, not a file");
  }
  if (attrs & FILE_ATTRIBUTE_DEVICE) {
    return Status::Error(Code::kNotRegular, path, "not a regular file");
  }
  // Sharing delete lets an archive being read be replaced by the one being
  // written, as a rename over an open file does on POSIX hosts.
  HANDLE h = ::CreateFileW(WidePath(path).c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    return Win32Error(path, ::GetLastError());
  }
  // The path may name a device ("NUL", "COM1") or a pipe; only files on a
  // disk are read.
  FileInfo info;
  if (!InfoFromHandle(h, &info) || info.kind != FileKind::kRegular) {
    ::CloseHandle(h);
    return Status::Error(
        Code::kNotRegular, path,
        info.kind == FileKind::kFolder ? "is a folder, not a file" : "not a regular file");
  }
  handle_ = FromHandle(h);
  info_ = info;
  return Status::Ok();
}

void InputFile::Close() {
  if (handle_ != kInvalid) {
    ::CloseHandle(AsHandle(handle_));
    handle_ = kInvalid;
  }
}

Status InputFile::ReadAt(std::int64_t offset, void* buf, std::size_t n, std::size_t* got) {
  *got = 0;
  if (handle_ == kInvalid) {
    return Status::Error(Code::kIoError, path_, "not open for reading");
  }
  char* p = static_cast<char*>(buf);
  while (*got < n) {
    const std::uint64_t at = static_cast<std::uint64_t>(offset) + *got;
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(at & 0xffffffffu);
    where.OffsetHigh = static_cast<DWORD>(at >> 32);
    DWORD want = static_cast<DWORD>(std::min(n - *got, kMaxIoChunk));
    DWORD read = 0;
    if (!::ReadFile(AsHandle(handle_), p + *got, want, &read, &where)) {
      DWORD e = ::GetLastError();
      if (e == ERROR_HANDLE_EOF) break;
      return Win32Error(path_, e);
    }
    if (read == 0) break;
    *got += read;
  }
  return Status::Ok();
}

}  // namespace quarrion::host
