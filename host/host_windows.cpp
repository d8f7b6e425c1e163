// The host layer on Windows, through the ANSI Win32 calls. Paths are used as
// given: backslashes, slashes and drive letters all mean what Windows makes
// of them.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "host/host.h"
#include "host/windows_io.h"

namespace quarrion::host {
namespace {

constexpr std::size_t kCopyBufferSize = 128 * 1024;
// The most one ReadFile or WriteFile call is asked to move (it counts in a
// DWORD).
constexpr std::size_t kMaxIoChunk = std::size_t{1} << 30;

using windows::AsHandle;
using windows::FromHandle;
using windows::kFileTimeTicksPerSecond;
using windows::kUnixEpochInFileTime;
using windows::Win32Error;

std::int64_t FileTimeTicks(const FILETIME& ft) {
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) |
                                   ft.dwLowDateTime);
}

// Seconds since 1970 (rounded down, as POSIX hosts report them) and the
// nanoseconds within that second.
void SetTimeFromFileTime(const FILETIME& ft, FileInfo* info) {
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

// Attributes of `path` without opening it: INVALID_FILE_ATTRIBUTES (with
// the last error set) when it cannot be asked.
DWORD Attributes(const std::string& path) {
  if (path.empty()) {
    ::SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_FILE_ATTRIBUTES;
  }
  return ::GetFileAttributesA(path.c_str());
}

// Writes all of `n` bytes at `offset`. Every write names its offset, so a
// WriteAt never disturbs where the next append goes.
Status WriteAllAt(HANDLE h, std::int64_t offset, const char* p, std::size_t n,
                  const std::string& path) {
  while (n > 0) {
    DWORD want = static_cast<DWORD>(std::min(n, kMaxIoChunk));
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(static_cast<std::uint64_t>(offset) & 0xffffffffu);
    at.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(offset) >> 32);
    DWORD wrote = 0;
    if (!::WriteFile(h, p, want, &wrote, &at)) {
      return Win32Error(path, ::GetLastError());
    }
    if (wrote == 0) {
      return Win32Error(path, ERROR_WRITE_FAULT);
    }
    p += wrote;
    n -= wrote;
    offset += wrote;
  }
  return Status::Ok();
}

}  // namespace

std::string NativePath(std::string_view path) { return std::string(path); }

bool IsPathSeparator(char c) { return c == '\\' || c == '/'; }

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

namespace {

// True when `path` names a folder (links followed).
bool IsFolder(const std::string& path) {
  DWORD attrs = Attributes(path);
  if (attrs == INVALID_FILE_ATTRIBUTES) return false;
  if (attrs & FILE_ATTRIBUTE_REPARSE_POINT) {
    // A link: what counts is what it leads to.
    FileInfo info;
    return StatPath(path, &info).ok() && info.kind == FileKind::kFolder;
  }
  return (attrs & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Lists the folder `path`, calling `take(found)` for every entry but "." and
// "..". False (with the reason) when the folder cannot be listed.
template <typename Take>
Status EachEntry(const std::string& path, Take take) {
  if (path.empty()) {
    return Win32Error(path, ERROR_PATH_NOT_FOUND);
  }
  // "dir\*"; a path that already ends in a separator or is a bare drive
  // ("C:", its current folder) takes the asterisk directly.
  std::string pattern = path;
  const char last = pattern.back();
  if (!IsPathSeparator(last) && last != ':') pattern += '\\';
  pattern += '*';

  WIN32_FIND_DATAA found;
  HANDLE search = ::FindFirstFileA(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    DWORD e = ::GetLastError();
    // Nothing matched: an empty folder (a drive's root has no "." entry),
    // unless the folder itself is missing.
    if (e == ERROR_FILE_NOT_FOUND && IsFolder(path)) return Status::Ok();
    return Win32Error(path, e);
  }
  do {
    const std::string_view n(found.cFileName);
    if (n == "." || n == "..") continue;
    take(found);
  } while (::FindNextFileA(search, &found));
  DWORD e = ::GetLastError();
  ::FindClose(search);
  if (e != ERROR_NO_MORE_FILES) {
    return Win32Error(path, e);
  }
  return Status::Ok();
}

}  // namespace

// Windows reads the statuses of plain files with the listing itself.
struct FolderLister::Helper {};

FolderLister::FolderLister() = default;
FolderLister::~FolderLister() = default;

Status FolderLister::List(const std::string& path, std::vector<FolderEntry>* entries) {
  entries->clear();
  const char last = path.empty() ? '\\' : path.back();
  const std::string prefix = (IsPathSeparator(last) || last == ':') ? path : path + '\\';
  Status listed = EachEntry(path, [&](const WIN32_FIND_DATAA& found) {
    FolderEntry& entry = entries->emplace_back();
    entry.name = found.cFileName;
    const DWORD a = found.dwFileAttributes;
    if ((a & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE | FILE_ATTRIBUTE_DIRECTORY)) ==
        0) {
      // A plain file: the listing has its size and time.
      entry.info.kind = FileKind::kRegular;
      entry.info.size = static_cast<std::int64_t>(
          (static_cast<std::uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow);
      SetTimeFromFileTime(found.ftLastWriteTime, &entry.info);
    } else {
      // Folders (whose identity the walk needs), links (what they lead to
      // counts) and devices get a look of their own. One that fails leaves
      // the kind kMissing: opening the entry by its path tells why.
      static_cast<void>(StatPath(prefix + entry.name, &entry.info));
    }
  });
  if (!listed.ok()) entries->clear();
  return listed;
}

std::int64_t NowSeconds() {
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  return (FileTimeTicks(now) - kUnixEpochInFileTime) / kFileTimeTicksPerSecond;
}

std::int32_t ClampTime(std::int64_t seconds) {
  if (seconds < 0) return 0;
  if (seconds > 0x7fffffff) return 0x7fffffff;
  return static_cast<std::int32_t>(seconds);
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

// ---- FileOpener ------------------------------------------------------------

// Windows opens by whole path, one file at a time (and keeps its look before
// opening: a device name needs no listing to look like a file).
struct FileOpener::Ahead {};

FileOpener::FileOpener() = default;
FileOpener::~FileOpener() = default;

void FileOpener::Expect(std::vector<const std::string*>) {}

void FileOpener::Close(InputFile* file) { file->Close(); }

Status FileOpener::Open(const std::string& path, InputFile* file) { return file->Open(path); }

// ---- AtomicOutputFile ------------------------------------------------------

AtomicOutputFile::~AtomicOutputFile() { Discard(); }

Status AtomicOutputFile::Create(const std::string& target) {
  Discard();
  target_ = target;
  buffer_.clear();
  position_ = 0;
  flushed_ = 0;
  DWORD attrs = Attributes(target);
  if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY)) {
    return Status::Error(Code::kNotRegular, target, "is a folder");
  }
  // The temporary file lives beside the target so that the rename stays on
  // one volume and replaces the target in one step. Its name is unique to
  // this process and attempt; CREATE_NEW never takes over an existing file.
  // The name is registered before the file is made, so that an
  // interruption from then on removes it, and FILE_SHARE_DELETE lets the
  // interruption handler delete it while it is open here.
  static unsigned attempt = 0;
  for (int tries = 0;; ++tries) {
    char suffix[64];
    std::snprintf(suffix, sizeof suffix, ".tmp-%lu-%u",
                  static_cast<unsigned long>(::GetCurrentProcessId()), ++attempt);
    std::string name = target + suffix;
    interrupt_.Set(RemoveOnInterrupt::kNoFolder, name);
    HANDLE h = ::CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      handle_ = FromHandle(h);
      tempPath_ = name;
      break;
    }
    DWORD e = ::GetLastError();
    if ((e != ERROR_FILE_EXISTS && e != ERROR_ALREADY_EXISTS) || tries >= 100) {
      interrupt_.Clear();
      return Win32Error(target, e);
    }
  }
  buffer_.reserve(kCopyBufferSize);
  return Status::Ok();
}

Status AtomicOutputFile::FlushBuffer() {
  if (buffer_.empty()) return Status::Ok();
  if (Status s = WriteAllAt(AsHandle(handle_), flushed_, buffer_.data(), buffer_.size(), target_);
      !s.ok()) {
    return s;
  }
  flushed_ += static_cast<std::int64_t>(buffer_.size());
  buffer_.clear();
  return Status::Ok();
}

Status AtomicOutputFile::Write(const void* data, std::size_t n) {
  if (handle_ == kInvalid) {
    return Status::Error(Code::kIoError, target_, "not open for writing");
  }
  const char* p = static_cast<const char*>(data);
  if (buffer_.size() + n > kCopyBufferSize) {
    if (Status s = FlushBuffer(); !s.ok()) return s;
    if (n >= kCopyBufferSize) {
      if (Status s = WriteAllAt(AsHandle(handle_), flushed_, p, n, target_); !s.ok()) return s;
      flushed_ += static_cast<std::int64_t>(n);
      position_ += static_cast<std::int64_t>(n);
      return Status::Ok();
    }
  }
  buffer_.append(p, n);
  position_ += static_cast<std::int64_t>(n);
  return Status::Ok();
}

Status AtomicOutputFile::CopyFrom(InputFile& src, std::int64_t offset, std::int64_t length,
                                  bool wholeFile) {
  if (handle_ == kInvalid) {
    return Status::Error(Code::kIoError, target_, "not open for writing");
  }
  // Windows has no file-to-file copy for part of a file, so the data pass
  // through the write buffer: small files gather into large writes.
  std::int64_t done = 0;
  while (done < length) {
    if (buffer_.size() >= kCopyBufferSize) {
      if (Status s = FlushBuffer(); !s.ok()) return s;
    }
    const std::size_t had = buffer_.size();
    const std::size_t want = static_cast<std::size_t>(
        std::min<std::int64_t>(length - done, static_cast<std::int64_t>(kCopyBufferSize - had)));
    buffer_.resize(had + want);
    std::size_t got = 0;
    Status read = src.ReadAt(offset + done, buffer_.data() + had, want, &got);
    buffer_.resize(had + got);
    position_ += static_cast<std::int64_t>(got);
    done += static_cast<std::int64_t>(got);
    if (!read.ok()) return read;
    if (got < want) break;  // the source ended early
  }
  if (done < length) {
    return Status::Error(Code::kChanged, src.path(),
                         "delivered " + std::to_string(done) + " of " + std::to_string(length) +
                             " bytes (changed since it was added?)");
  }
  if (wholeFile) {
    // The source must end here: a byte more means it grew.
    char extra;
    std::size_t got = 0;
    if (Status s = src.ReadAt(offset + length, &extra, 1, &got); !s.ok()) return s;
    if (got != 0) {
      return Status::Error(
          Code::kChanged, src.path(),
          "holds more than " + std::to_string(length) + " bytes (changed since it was added?)");
    }
  }
  return Status::Ok();
}

Status AtomicOutputFile::WriteAt(std::int64_t offset, const void* data, std::size_t n) {
  if (handle_ == kInvalid) {
    return Status::Error(Code::kIoError, target_, "not open for writing");
  }
  if (Status s = FlushBuffer(); !s.ok()) return s;
  return WriteAllAt(AsHandle(handle_), offset, static_cast<const char*>(data), n, target_);
}

Status AtomicOutputFile::Commit() {
  if (handle_ == kInvalid) {
    return Status::Error(Code::kIoError, target_, "not open for writing");
  }
  if (Status s = FlushBuffer(); !s.ok()) {
    Discard();
    return s;
  }
  HANDLE h = AsHandle(handle_);
  handle_ = kInvalid;
  // No flush to the disk before the rename: the rename is what makes the
  // archive replace its target in one step, and a flush would make every
  // build wait for the disk.
  // Windows cannot rename a file it holds open: close first, and check it.
  if (!::CloseHandle(h)) {
    const Status failed = Win32Error(target_, ::GetLastError());
    Discard();
    return failed;
  }
  if (!::MoveFileExA(tempPath_.c_str(), target_.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    const Status failed = Win32Error(target_, ::GetLastError());
    Discard();
    return failed;
  }
  tempPath_.clear();
  interrupt_.Clear();
  return Status::Ok();
}

void AtomicOutputFile::Discard() {
  if (handle_ != kInvalid) {
    ::CloseHandle(AsHandle(handle_));
    handle_ = kInvalid;
  }
  if (!tempPath_.empty()) {
    ::DeleteFileA(tempPath_.c_str());
    tempPath_.clear();
  }
  interrupt_.Clear();
  buffer_.clear();
}

}  // namespace quarrion::host
