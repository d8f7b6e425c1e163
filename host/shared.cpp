// The parts of the host layer that are the same on every host.
#include "host/shared.h"

#include <chrono>
#include <random>
#include <utility>

#include "host/extract.h"
#include "host/host.h"
#include "host/output_file.h"

namespace quarrion::host {

bool IsPathSeparator(char c) { return c == '\\' || c == '/'; }

std::int32_t ClampTime(std::int64_t seconds) {
  if (seconds < 0) return 0;
  if (seconds > 0x7fffffff) return 0x7fffffff;
  return static_cast<std::int32_t>(seconds);
}

std::string TempNameBeside(std::string_view name) {
  // Seeded per thread from the system's entropy, the clock and the thread's
  // own address, so that processes and threads draw different names.
  thread_local std::mt19937_64 rng = [] {
    thread_local char here;
    std::random_device entropy;
    const auto clock =
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    return std::mt19937_64(entropy() ^ clock ^ reinterpret_cast<std::uintptr_t>(&here));
  }();
  static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string temp(name);
  temp += ".tmp-";
  for (int i = 0; i < 8; ++i) temp += kChars[rng() % (sizeof kChars - 1)];
  return temp;
}

Status NotOpenForWriting(const std::string& target) {
  return Status::Error(Code::kIoError, target, "not open for writing");
}

Status CheckCopied(const InputFile& src, std::int64_t done, std::int64_t length) {
  if (done < length) {
    return Status::Error(Code::kChanged, src.path(),
                         "delivered " + std::to_string(done) + " of " + std::to_string(length) +
                             " bytes (changed since it was added?)");
  }
  if (done > length) {
    return Status::Error(
        Code::kChanged, src.path(),
        "holds more than " + std::to_string(length) + " bytes (changed since it was added?)");
  }
  return Status::Ok();
}

// ---- InputFile -------------------------------------------------------------

InputFile::~InputFile() { Close(); }

InputFile::InputFile(InputFile&& other) noexcept
    : handle_(other.handle_), path_(std::move(other.path_)), info_(other.info_) {
  other.handle_ = kInvalid;
}

InputFile& InputFile::operator=(InputFile&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    path_ = std::move(other.path_);
    info_ = other.info_;
    other.handle_ = kInvalid;
  }
  return *this;
}

// ---- OutputFile ------------------------------------------------------------

OutputFile::~OutputFile() { Discard(); }

void OutputFile::Reset(const std::string& target) {
  Discard();
  target_ = target;
  folder_ = interrupt::RemoveOnInterrupt::kNoFolder;
  finalName_.clear();
  inFolder_ = false;
  atName_ = false;
  position_ = 0;
  flushed_ = 0;
}

Status OutputFile::FlushBuffer() {
  if (buffer_.empty()) return Status::Ok();
  if (Status s = WriteOut(buffer_.data(), buffer_.size()); !s.ok()) return s;
  buffer_.clear();
  return Status::Ok();
}

Status OutputFile::Write(const void* data, std::size_t n) {
  if (handle_ == kInvalid) return NotOpenForWriting(target_);
  const char* p = static_cast<const char*>(data);
  if (buffer_.size() + n > kCopyBufferSize) {
    if (Status s = FlushBuffer(); !s.ok()) return s;
    if (n >= kCopyBufferSize) {
      if (Status s = WriteOut(p, n); !s.ok()) return s;
      position_ += static_cast<std::int64_t>(n);
      return Status::Ok();
    }
  }
  if (buffer_.capacity() < kCopyBufferSize) buffer_.reserve(kCopyBufferSize);
  buffer_.append(p, n);
  position_ += static_cast<std::int64_t>(n);
  return Status::Ok();
}

// ---- ExtractFolder ---------------------------------------------------------

ExtractFolder::~ExtractFolder() { Close(); }

ExtractFolder::ExtractFolder(ExtractFolder&& other) noexcept
    : handle_(other.handle_), path_(std::move(other.path_)) {
  other.handle_ = kInvalid;
}

ExtractFolder& ExtractFolder::operator=(ExtractFolder&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    path_ = std::move(other.path_);
    other.handle_ = kInvalid;
  }
  return *this;
}

Status ExtractFolder::WriteFile(const std::string& name, InputFile& src, std::int64_t offset,
                                std::int64_t length, std::int64_t mtime) const {
  OutputFile out;
  if (Status s = out.Create(*this, name); !s.ok()) return s;
  if (Status s = out.CopyFrom(src, offset, length); !s.ok()) return s;
  if (Status s = out.SetModified(mtime); !s.ok()) return s;
  return out.Commit();
}

Status ExtractFolder::WriteFile(const std::string& name, const char* data, std::size_t length,
                                std::int64_t mtime) const {
  OutputFile out;
  if (Status s = out.Create(*this, name); !s.ok()) return s;
  if (Status s = out.WriteAt(0, data, length); !s.ok()) return s;
  if (Status s = out.SetModified(mtime); !s.ok()) return s;
  return out.Commit();
}

}  // namespace quarrion::host
