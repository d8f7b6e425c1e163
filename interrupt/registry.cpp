// The table of registered temporary files, the same on every host.
//
// Each entry is a small sequence lock: its version is odd while the owner
// changes the entry and even when it is whole. The handler copies an entry
// and takes the copy only when the version was even and unchanged across
// the copy, so it never acts on half a name, whichever thread it runs on.
// An entry that is being changed is skipped: its owner registers a name
// before it creates the file and ends the registration after the file is
// gone, so an entry in change never stands for a file that exists alone.
#include <atomic>
#include <cstddef>
#include <string>

#include "interrupt/interrupt.h"

namespace quarrion::interrupt {
namespace {

constexpr int kSlots = 16;
// Room for a path of PATH_MAX bytes (4096 on Linux) with its NUL.
constexpr std::size_t kNameRoom = 4097;
// How often the handler copies an entry that keeps changing under it.
constexpr int kReadAttempts = 4;

struct Slot {
  std::atomic<bool> taken{false};
  std::atomic<std::uint32_t> version{0};
  std::atomic<std::intptr_t> folder{RemoveOnInterrupt::kNoFolder};
  std::atomic<char> name[kNameRoom] = {};  // NUL-terminated, "" when unused
};

static_assert(std::atomic<bool>::is_always_lock_free);
static_assert(std::atomic<char>::is_always_lock_free);
static_assert(std::atomic<std::uint32_t>::is_always_lock_free);
static_assert(std::atomic<std::intptr_t>::is_always_lock_free);

Slot gSlots[kSlots];

// Rewrites the entry of `slot`; an empty name empties it.
void Publish(Slot& slot, std::intptr_t folder, std::string_view name) {
  const std::uint32_t v = slot.version.load(std::memory_order_relaxed);
  slot.version.store(v + 1, std::memory_order_relaxed);
  std::atomic_thread_fence(std::memory_order_release);
  slot.folder.store(folder, std::memory_order_relaxed);
  for (std::size_t i = 0; i < name.size(); ++i) {
    slot.name[i].store(name[i], std::memory_order_relaxed);
  }
  slot.name[name.size()].store('\0', std::memory_order_relaxed);
  slot.version.store(v + 2, std::memory_order_release);
}

}  // namespace

Status RemoveOnInterrupt::Set(std::intptr_t folder, std::string_view name) {
  if (name.empty() || name.size() >= kNameRoom || name.find('\0') != std::string_view::npos) {
    Clear();
    return Status::Error(Code::kIoError, std::string(name),
                         name.size() >= kNameRoom ? "path too long" : "not a usable file name");
  }
  if (slot_ < 0) {
    for (int i = 0; i < kSlots && slot_ < 0; ++i) {
      if (!gSlots[i].taken.exchange(true, std::memory_order_acquire)) slot_ = i;
    }
    if (slot_ < 0) {
      return Status::Error(Code::kIoError, std::string(name), "too many files written at once");
    }
  }
  Publish(gSlots[slot_], folder, name);
  return Status::Ok();
}

void RemoveOnInterrupt::Clear() {
  if (slot_ < 0) return;
  Publish(gSlots[slot_], kNoFolder, {});
  gSlots[slot_].taken.store(false, std::memory_order_release);
  slot_ = -1;
}

void InterruptsHeldInRuns::Next(std::int64_t bytes) {
  constexpr std::int64_t kRunBytes = 4 << 20;
  constexpr int kRunFiles = 64;
  if (files_ == kRunFiles || bytes_ + bytes > kRunBytes) {
    held_.reset();
    bytes_ = 0;
    files_ = 0;
  }
  if (!held_ && bytes <= kRunBytes) held_.emplace();
  bytes_ += bytes;
  ++files_;
}

void RemoveRegisteredFiles() {
  for (Slot& slot : gSlots) {
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
      const std::uint32_t before = slot.version.load(std::memory_order_acquire);
      if (before % 2 != 0) break;  // in change: nothing of its own to remove
      char name[kNameRoom];
      const std::intptr_t folder = slot.folder.load(std::memory_order_relaxed);
      std::size_t n = 0;
      while (n + 1 < kNameRoom &&
             (name[n] = slot.name[n].load(std::memory_order_relaxed)) != '\0') {
        ++n;
      }
      name[n] = '\0';
      std::atomic_thread_fence(std::memory_order_acquire);
      if (slot.version.load(std::memory_order_relaxed) != before) continue;
      if (n > 0) detail::RemoveRegisteredFile(folder, name);
      break;
    }
  }
}

}  // namespace quarrion::interrupt
