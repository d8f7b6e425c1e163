// The host layer on Windows, through the ANSI Win32 calls: statuses of paths
// and files opened for reading. Paths are used as given: backslashes,
// slashes and drive letters all mean what Windows makes of them.
#include <windows.h>

#include <algorithm>
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
using windows::Win32Error;

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

std::string NativePath(std::string_view path) { return std::string(path); }

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
  HANDLE h = ::CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
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
  HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ,
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
