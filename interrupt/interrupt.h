// Temporary files that an interruption removes. Whoever writes a file under
// a temporary name registers that name here for as long as the file exists;
// when the program is interrupted (SIGINT, SIGTERM, SIGHUP or SIGPIPE on
// POSIX; Ctrl-C, Ctrl-Break or the console closing on Windows), the handler
// that main installs removes every registered file and ends the program with
// status 128 + the signal number. No temporary file is left behind, and
// every target keeps what it held.
//
// The registry is a fixed table published with atomics: registering costs
// no system call and no allocation, and the handler, which may run on any
// thread at any moment, only ever takes whole entries.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "base/status.h"

namespace quarrion::interrupt {

// One registered temporary file; the registration ends with the object.
// Register the name before the file is created, and end the registration
// only after the file was renamed into place or removed: an interruption in
// between then finds nothing to remove, never a file it does not know.
class RemoveOnInterrupt {
 public:
  // No folder: the name is a path (relative to the working folder).
  static constexpr std::intptr_t kNoFolder = -1;

  RemoveOnInterrupt() = default;
  ~RemoveOnInterrupt() { Clear(); }
  RemoveOnInterrupt(const RemoveOnInterrupt&) = delete;
  RemoveOnInterrupt& operator=(const RemoveOnInterrupt&) = delete;

  // Registers `name` in the open folder `folder` (a descriptor; POSIX
  // only), or the path `name` with kNoFolder, in place of what this object
  // registered before. Fails (naming `name`) when every entry of the table
  // is taken or the name does not fit one; the file must then not be made,
  // since an interruption would leave it.
  [[nodiscard]] Status Set(std::intptr_t folder, std::string_view name);

  // Ends the registration.
  void Clear();

 private:
  int slot_ = -1;
};

// Holds interruptions back on this thread while it lives (nested objects
// hold them until the outermost goes): one that comes meanwhile is handled
// when it ends. A file created at its final name can then be registered,
// created and, when the name was taken, unregistered again without an
// interruption in between, which would remove the file that held the name.
// A run of small files held back as a whole is written completely (or
// removed) before the interruption is handled, at two system calls per run.
// An interruption that another thread takes meanwhile is handled once every
// thread that holds interruptions back has let go. On Windows, which runs
// its handler on a thread of its own, nothing is held back (nothing there
// is created at its final name).
class InterruptsHeld {
 public:
  InterruptsHeld();
  ~InterruptsHeld();
  InterruptsHeld(const InterruptsHeld&) = delete;
  InterruptsHeld& operator=(const InterruptsHeld&) = delete;
};

// Holds interruptions back over runs of small files written one after
// another (up to 64 files and 4 MiB a run): each run is then written
// completely before an interruption is handled, at two system calls a run
// rather than two a file. A larger file is written with them let through.
class InterruptsHeldInRuns {
 public:
  // Called before each file is written, with its size.
  void Next(std::int64_t bytes);

 private:
  std::optional<InterruptsHeld> held_;
  std::int64_t bytes_ = 0;
  int files_ = 0;
};

// Installs the handlers of the interruptions named above. Called once, by
// main, before anything is written. It also ignores SIGXFSZ (POSIX), so that
// a write beyond the limit on file sizes (ulimit -f) fails with EFBIG, which
// the writer reports and cleans up after, instead of ending the program on
// the spot with its output half-written.
void InstallInterruptHandlers();

// Removes every registered file, now. What the handlers do before the
// program ends; safe inside a signal handler.
void RemoveRegisteredFiles();

namespace detail {
// Removes one registered file: `name` in `folder`, or the path `name`.
// Safe inside a signal handler. Defined with the handlers.
void RemoveRegisteredFile(std::intptr_t folder, const char* name);
}  // namespace detail

}  // namespace quarrion::interrupt
