// The parts of the host layer that are the same on every host.
#include "host/host_common.h"

#include <chrono>
#include <exception>
#include <new>
#include <random>
#include <utility>

#include "host/extract.h"
#include "host/host.h"

namespace quarrion::host {

bool IsPathSeparator(char c) { return c == '\\' || c == '/'; }

std::int32_t ClampTime(std::int64_t seconds) {
  if (seconds < 0) return 0;
  if (seconds > 0x7fffffff) return 0x7fffffff;
  return static_cast<std::int32_t>(seconds);
}

// ---- common ----------------------------------------------------------------

std::string common::TempNameBeside(std::string_view name) {
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

Status common::NotOpenForWriting(const std::string& target) {
  return Status::Error(Code::kIoError, target, "not open for writing");
}

Status common::CheckCopied(const InputFile& src, std::int64_t done, std::int64_t length) {
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

std::atomic<void (*)(std::string_view)> common::gHelperThreadProbe{nullptr};

Status common::HelperThreadFailed(std::string_view work, const std::exception_ptr& e) {
  std::string why = std::string(work) + " failed: ";
  try {
    std::rethrow_exception(e);
  } catch (const std::bad_alloc&) {
    why += "out of memory";
  } catch (const std::exception& e) {
    why += e.what();
  } catch (...) {
    why += "an unknown exception";
  }
  return Status::Error(Code::kIoError, "", why);
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

// ---- AtomicOutputFile ------------------------------------------------------

AtomicOutputFile::~AtomicOutputFile() { Discard(); }

void AtomicOutputFile::Reset(const std::string& target) {
  Discard();
  target_ = target;
  folder_ = RemoveOnInterrupt::kNoFolder;
  finalName_.clear();
  inFolder_ = false;
  atName_ = false;
  position_ = 0;
  flushed_ = 0;
}

Status AtomicOutputFile::FlushBuffer() {
  if (buffer_.empty()) return Status::Ok();
  if (Status s = WriteOut(buffer_.data(), buffer_.size()); !s.ok()) return s;
  buffer_.clear();
  return Status::Ok();
}

Status AtomicOutputFile::Write(const void* data, std::size_t n) {
  if (handle_ == kInvalid) return common::NotOpenForWriting(target_);
  const char* p = static_cast<const char*>(data);
  if (buffer_.size() + n > common::kCopyBufferSize) {
    if (Status s = FlushBuffer(); !s.ok()) return s;
    if (n >= common::kCopyBufferSize) {
      if (Status s = WriteOut(p, n); !s.ok()) return s;
      position_ += static_cast<std::int64_t>(n);
      return Status::Ok();
    }
  }
  if (buffer_.capacity() < common::kCopyBufferSize) buffer_.reserve(common::kCopyBufferSize);
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
  AtomicOutputFile out;
  if (Status s = out.Create(*this, name); !s.ok()) return s;
  if (Status s = out.CopyFrom(src, offset, length); !s.ok()) return s;
  if (Status s = out.SetModified(mtime); !s.ok()) return s;
  return out.Commit();
}

Status ExtractFolder::WriteFile(const std::string& name, const char* data, std::size_t length,
                                std::int64_t mtime) const {
  AtomicOutputFile out;
  if (Status s = out.Create(*this, name); !s.ok()) return s;
  if (Status s = out.WriteAt(0, data, length); !s.ok()) return s;
  if (Status s = out.SetModified(mtime); !s.ok()) return s;
  return out.Commit();
}

}  // namespace quarrion::host
