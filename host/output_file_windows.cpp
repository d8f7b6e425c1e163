// OutputFile on Windows: the temporary file is made with CREATE_NEW
// beside its target and moved over the target with MoveFileEx; data from
// other files pass through the write buffer, so small files gather into
// large writes.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "host/extract.h"
#include "host/output_file.h"
#include "host/shared.h"
#include "host/windows_io.h"

namespace quarrion::host {
namespace {

using windows::AsHandle;
using windows::Attributes;
using windows::FromHandle;
using windows::kFileTimeTicksPerSecond;
using windows::kMaxIoChunk;
using windows::kUnixEpochInFileTime;
using windows::WidePath;
using windows::Win32Error;

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

Status OutputFile::OpenTemp(const std::string& beside, std::intptr_t, int) {
  // The name is registered before the file is made, so that an interruption
  // from then on removes it, and FILE_SHARE_DELETE lets the interruption
  // handler delete it while it is open here. CREATE_NEW never opens what is
  // already there, file or link.
  DWORD e = ERROR_FILE_EXISTS;
  for (int attempt = 0; attempt < kTempAttempts; ++attempt) {
    tempName_ = TempNameBeside(beside);
    const std::wstring wide = WidePath(tempName_);
    // A file the interruption handler could not remove is not made. It is
    // given the name in the form CreateFileW takes below (long names in the
    // \\?\ form), in UTF-8, which it turns back into exactly that.
    if (Status s = interrupt_.Set(interrupt::RemoveOnInterrupt::kNoFolder, windows::Utf8(wide));
        !s.ok()) {
      tempName_.clear();
      return Status::Error(s.code, target_, s.reason);
    }
    HANDLE h = ::CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      handle_ = FromHandle(h);
      return Status::Ok();
    }
    e = ::GetLastError();
    if (e != ERROR_FILE_EXISTS && e != ERROR_ALREADY_EXISTS) break;
  }
  tempName_.clear();
  interrupt_.Clear();
  return Win32Error(target_, e);
}

Status OutputFile::Create(const std::string& target) {
  Reset(target);
  finalName_ = target;
  DWORD attrs = Attributes(target);
  if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY)) {
    return Status::Error(Code::kNotRegular, target, "is a folder");
  }
  // Beside the target, so that the rename stays on one volume and replaces
  // the target in one step.
  return OpenTemp(target, interrupt::RemoveOnInterrupt::kNoFolder, 0);
}

Status OutputFile::Create(const ExtractFolder& folder, const std::string& name) {
  // The folder's path ends in a separator, and the folder is held open
  // against renames, so the path built here reaches it.
  Reset(folder.path() + name);
  if (!windows::IsSingleName(name)) {
    return Status::Error(Code::kNotPlainName, target_, "not a plain file name");
  }
  inFolder_ = true;
  finalName_ = target_;
  return OpenTemp(target_, interrupt::RemoveOnInterrupt::kNoFolder, 0);
}

Status OutputFile::WriteOut(const char* p, std::size_t n) {
  if (Status s = WriteAllAt(AsHandle(handle_), flushed_, p, n, target_); !s.ok()) return s;
  flushed_ += static_cast<std::int64_t>(n);
  return Status::Ok();
}

// The one file-to-file copy of this host: Windows has none in the kernel for
// part of a file, so the data pass through the write buffer.
Status OutputFile::CopyFrom(InputFile& src, std::int64_t offset, std::int64_t length,
                            bool wholeFile) {
  if (handle_ == kInvalid) return NotOpenForWriting(target_);
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
  if (done == length && wholeFile) {
    // The source must end here: a byte more means it grew.
    char extra;
    std::size_t got = 0;
    if (Status s = src.ReadAt(offset + length, &extra, 1, &got); !s.ok()) return s;
    done += static_cast<std::int64_t>(got);
  }
  return CheckCopied(src, done, length);
}

Status OutputFile::WriteAt(std::int64_t offset, const void* data, std::size_t n) {
  if (handle_ == kInvalid) return NotOpenForWriting(target_);
  if (Status s = FlushBuffer(); !s.ok()) return s;
  return WriteAllAt(AsHandle(handle_), offset, static_cast<const char*>(data), n, target_);
}

Status OutputFile::SetModified(std::int64_t seconds) {
  if (handle_ == kInvalid) return NotOpenForWriting(target_);
  if (Status s = FlushBuffer(); !s.ok()) return s;
  const std::int64_t ticks = seconds * kFileTimeTicksPerSecond + kUnixEpochInFileTime;
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(ticks) & 0xffffffffu);
  ft.dwHighDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(ticks) >> 32);
  if (!::SetFileTime(AsHandle(handle_), nullptr, nullptr, &ft)) {
    return Win32Error(target_, ::GetLastError());
  }
  return Status::Ok();
}

Status OutputFile::Commit() {
  if (handle_ == kInvalid) return NotOpenForWriting(target_);
  if (Status s = FlushBuffer(); !s.ok()) {
    Discard();
    return s;
  }
  HANDLE h = AsHandle(handle_);
  handle_ = kInvalid;
  // Windows cannot rename a file it holds open: close first, and check it.
  // The move replaces a file or link of that name; it never follows one.
  Status failed;
  if (!::CloseHandle(h)) {
    failed = Win32Error(target_, ::GetLastError());
  } else if (!::MoveFileExW(WidePath(tempName_).c_str(), WidePath(finalName_).c_str(),
                            MOVEFILE_REPLACE_EXISTING)) {
    const DWORD e = ::GetLastError();
    failed = (inFolder_ && e == ERROR_ACCESS_DENIED)
                 ? Status::Error(Code::kIoError, target_,
                                 "permission denied, or a folder of that name is in the way")
                 : Win32Error(target_, e);
  }
  if (!failed.ok()) {
    Discard();
    return failed;
  }
  tempName_.clear();
  interrupt_.Clear();
  return Status::Ok();
}

void OutputFile::Discard() {
  if (handle_ != kInvalid) {
    ::CloseHandle(AsHandle(handle_));
    handle_ = kInvalid;
  }
  if (!tempName_.empty()) {
    ::DeleteFileW(WidePath(tempName_).c_str());
    tempName_.clear();
  }
  interrupt_.Clear();
  buffer_.clear();
}

}  // namespace quarrion::host
