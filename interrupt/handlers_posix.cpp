// Interruptions on POSIX: SIGINT, SIGTERM, SIGHUP and SIGPIPE (a reader of
// the output that went away, as `quarrion ... | head` does) remove the
// registered temporary files and end the program with 128 + the signal
// number. The handler calls nothing but unlink, unlinkat and _exit, all safe
// in a signal handler; it may run on any thread, and _exit ends them all.
#include <fcntl.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <atomic>

#include "base/coverage.h"
#include "interrupt/interrupt.h"

namespace quarrion::interrupt {
namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

// The threads that hold interruptions back now, and whether a handler has
// begun. A handler waits for the holders to let go before it removes files,
// so that what another thread holds back (a file made at its final name
// whose name turned out taken, a run of small files) ends whole; a thread
// that would hold them back once a handler has begun waits for the end
// instead. The wait is bounded, should a holder wait on the handler's
// thread (for a lock that thread had when it was interrupted).
std::atomic<int> gHolders{0};
std::atomic<bool> gEnding{false};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);

void WaitForHolders() {
  gEnding.store(true);
  constexpr int kMostWaits = 2000;  // of a millisecond each
  const struct timespec ms = {0, 1000000};
  for (int i = 0; i < kMostWaits && gHolders.load() > 0; ++i) ::nanosleep(&ms, nullptr);
}

void OnInterrupt(int sig) {
  WaitForHolders();
  RemoveRegisteredFiles();
  WriteCoverageProfile();
  ::_exit(128 + sig);
}

}  // namespace

namespace detail {

void RemoveRegisteredFile(std::intptr_t folder, const char* name) {
  if (folder == RemoveOnInterrupt::kNoFolder) {
    ::unlink(name);
  } else {
    ::unlinkat(static_cast<int>(folder), name, 0);
  }
}

}  // namespace detail

namespace {

thread_local int gHeld = 0;
thread_local sigset_t gHeldBefore;

}  // namespace

InterruptsHeld::InterruptsHeld() {
  if (gHeld++ > 0) return;
  sigset_t held;
  sigemptyset(&held);
  for (int sig : kSignals) sigaddset(&held, sig);
  ::pthread_sigmask(SIG_BLOCK, &held, &gHeldBefore);
  gHolders.fetch_add(1);
  if (gEnding.load()) {
    // A handler runs on another thread and ends the program.
    gHolders.fetch_sub(1);
    for (;;) ::pause();
  }
}

InterruptsHeld::~InterruptsHeld() {
  if (--gHeld > 0) return;
  gHolders.fetch_sub(1);
  ::pthread_sigmask(SIG_SETMASK, &gHeldBefore, nullptr);
}

void InstallInterruptHandlers() {
  struct sigaction action = {};
  action.sa_handler = OnInterrupt;
  // One interruption at a time on this thread: the others wait for _exit.
  sigemptyset(&action.sa_mask);
  for (int sig : kSignals) sigaddset(&action.sa_mask, sig);
  for (int sig : kSignals) {
    // A signal ignored on entry (nohup, a background job) stays ignored.
    struct sigaction old = {};
    if (::sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
    ::sigaction(sig, &action, nullptr);
  }
  // A write past the limit on file sizes then fails with EFBIG, like a full
  // disk, and the output is removed; the signal would end the program with
  // its output left behind, cut short.
  ::signal(SIGXFSZ, SIG_IGN);
}

}  // namespace quarrion::interrupt
