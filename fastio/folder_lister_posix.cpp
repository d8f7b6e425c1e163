// FolderLister on POSIX: folder listings whose entries' statuses two threads
// read. A data directory of 100,000 small files spends most of its time in
// the system call each entry needs, at microseconds each where the kernel
// runs virtualised; the helper thread lets those calls run on two cores,
// while the order of the entries stays that of the listing.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "fastio/folder_lister.h"
#include "fastio/helper_thread.h"
#include "host/posix_io.h"

namespace quarrion::fastio {

namespace posix = host::posix;
using host::FolderEntry;

namespace {

// The statuses of the entries of a folder being listed, read relative to it.
struct StatJob {
  // Entries taken at a time by each thread.
  static constexpr std::size_t kChunk = 8;

  int dirFd;
  std::vector<FolderEntry>* entries;
  const std::vector<int>* flags;  // fstatat flags per entry
  std::atomic<std::size_t> next{0};

  // Reads statuses until none is left; both threads run it at once.
  void Work() {
    const std::size_t n = entries->size();
    for (;;) {
      const std::size_t begin = next.fetch_add(kChunk);
      if (begin >= n) return;
      for (std::size_t i = begin; i < std::min(n, begin + kChunk); ++i) {
        FolderEntry& e = (*entries)[i];
        struct stat st;
        if (::fstatat(dirFd, e.name.c_str(), &st, (*flags)[i]) == 0) {
          e.info = posix::InfoFromStat(st, dirFd, e.name.c_str());
        }
      }
    }
  }
};

}  // namespace

// A thread that helps read the statuses of large folders. The lister posts
// a job and works on it too; the helper joins when it wakes, and the lister
// waits at the end only while the helper is inside the job. An exception
// that ends the helper's part of a job fails the listing.
struct FolderLister::Helper {
  static constexpr std::string_view kWork = "reading the statuses of a folder's entries";

  Helper() : thread([this] { Loop(); }) {}

  ~Helper() {
    {
      std::lock_guard<std::mutex> lock(mu);
      quit = true;
    }
    cv.notify_all();
    thread.join();
  }

  void Loop() {
    std::uint64_t seen = 0;
    std::unique_lock<std::mutex> lock(mu);
    for (;;) {
      cv.wait(lock, [&] { return quit || posted != seen; });
      if (quit) return;
      seen = posted;
      if (job == nullptr) continue;  // done before the helper woke
      StatJob* j = job;
      busy = true;
      lock.unlock();
      std::exception_ptr thrown;
      try {
        ProbeHelperThread(kWork);
        j->Work();
      } catch (...) {
        thrown = std::current_exception();
      }
      lock.lock();
      busy = false;
      failed = thrown;
      cv.notify_all();
    }
  }

  // Reads the statuses of `j` on both threads. Fails when the helper's part
  // ended with an exception, which may have left entries unread.
  Status Run(StatJob& j) {
    {
      std::lock_guard<std::mutex> lock(mu);
      job = &j;
      failed = nullptr;
      ++posted;
    }
    cv.notify_all();
    j.Work();
    std::exception_ptr thrown;
    {
      std::unique_lock<std::mutex> lock(mu);
      job = nullptr;
      cv.wait(lock, [&] { return !busy; });
      thrown = failed;
    }
    return thrown ? HelperThreadFailed(kWork, thrown) : Status::Ok();
  }

  std::mutex mu;
  std::condition_variable cv;
  StatJob* job = nullptr;     // the open job; guarded by mu, as is the rest
  std::exception_ptr failed;  // what ended the helper's part of the job
  std::uint64_t posted = 0;
  bool busy = false;
  bool quit = false;
  std::thread thread;  // last: starts when everything else is set up
};

FolderLister::FolderLister() = default;
FolderLister::~FolderLister() = default;

Status FolderLister::List(const std::string& path, std::vector<FolderEntry>* entries) {
  // Folders with fewer entries are not worth the helper's waking.
  constexpr std::size_t kShared = 48;
  entries->clear();
  std::vector<int> flags;
  Status helped;
  Status listed = posix::EachEntry(
      path,
      [&](int, const struct dirent& e) {
        entries->emplace_back().name = e.d_name;
        // What the listing shows as a plain file is no link, so it is asked
        // about as it is; everything else through links.
        flags.push_back(e.d_type == DT_REG ? AT_SYMLINK_NOFOLLOW : 0);
      },
      [&](int fd) {
        StatJob job{fd, entries, &flags};
        if (entries->size() < kShared) {
          job.Work();
          return;
        }
        if (helper_ == nullptr) {
          try {
            helper_ = std::make_unique<Helper>();
          } catch (const std::system_error&) {
            // No thread to be had: this one reads every status.
          }
        }
        if (helper_ != nullptr) {
          helped = helper_->Run(job);
        } else {
          job.Work();
        }
      });
  if (listed.ok() && !helped.ok()) listed = Status::Error(helped.code, path, helped.reason);
  if (!listed.ok()) entries->clear();
  return listed;
}

}  // namespace quarrion::fastio
