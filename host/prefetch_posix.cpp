// The parts of the POSIX host layer that work on helper threads: folder
// listings whose entries' statuses two threads read, and the writer's source
// files opened (and closed) ahead of the copy. A data directory of 100,000
// small files spends most of its time in the few system calls each file
// needs, at microseconds each where the kernel runs virtualised; the threads
// let those calls run on two cores, while the order of everything the user
// sees stays that of one thread.
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/host.h"
#include "host/posix_io.h"

namespace quarrion::host {

// ---- FolderLister ----------------------------------------------------------

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
// waits at the end only while the helper is inside the job.
struct FolderLister::Helper {
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
      j->Work();
      lock.lock();
      busy = false;
      cv.notify_all();
    }
  }

  void Run(StatJob& j) {
    {
      std::lock_guard<std::mutex> lock(mu);
      job = &j;
      ++posted;
    }
    cv.notify_all();
    j.Work();
    std::unique_lock<std::mutex> lock(mu);
    job = nullptr;
    cv.wait(lock, [&] { return !busy; });
  }

  std::mutex mu;
  std::condition_variable cv;
  StatJob* job = nullptr;  // the open job; guarded by mu, as is the rest
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
        if (helper_ == nullptr) helper_ = std::make_unique<Helper>();
        helper_->Run(job);
      });
  if (!listed.ok()) entries->clear();
  return listed;
}

// ---- FileOpener ------------------------------------------------------------

namespace {

// Opens the file at `native` (a path in the host's form) relative to the
// folder it is in, which is held open in `*folderFd` (named `*folder`) for
// the next file: a new folder replaces the one held. -1 with errno set when
// the file cannot be opened.
int OpenInFolder(const std::string& native, std::string* folder, int* folderFd) {
  const std::size_t slash = native.rfind('/');
  if (slash == std::string::npos || slash == 0) return ::open(native.c_str(), posix::kSourceFlags);
  const std::string_view in(native.data(), slash);
  if (in != *folder) {
    if (*folderFd >= 0) ::close(*folderFd);
    folder->assign(in);
#if defined(O_PATH)
    // A folder that may be searched but not listed still opens this way.
    constexpr int kFolderFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
    constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif
    *folderFd = ::open(folder->c_str(), kFolderFlags);
  }
  // Where the folder cannot be held open, the whole path is opened, which
  // also gives the reason when the file cannot be.
  return *folderFd >= 0 ? ::openat(*folderFd, native.c_str() + slash + 1, posix::kSourceFlags)
                        : ::open(native.c_str(), posix::kSourceFlags);
}

// How many files are opened ahead at most, from the limit on open files: the
// thread and the copy each hold up to this many.
std::size_t FilesAhead() {
  struct rlimit limit {};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
  const rlim_t spare = limit.rlim_cur == RLIM_INFINITY ? 1024 : limit.rlim_cur;
  if (spare < 256) return 0;
  return static_cast<std::size_t>(std::min<rlim_t>(64, (spare - 128) / 4));
}

}  // namespace

// Files opened ahead of the copy by a thread of their own. The thread hands
// over descriptors in batches and waits while `limit` of them wait for the
// copy, so the two sides rarely need the kernel to meet. A file the thread
// could not open is opened again by Open, which then gives the reason (and
// the thread's own failures, such as running out of descriptors, cost
// nothing).
struct FileOpener::Ahead {
  static constexpr std::size_t kBatch = 16;

  explicit Ahead(std::vector<const std::string*> planned, std::size_t max)
      : paths(std::move(planned)), limit(max) {
    thread = std::thread([this] { Run(); });
  }

  ~Ahead() {
    {
      std::lock_guard<std::mutex> lock(mu);
      stop = true;
    }
    cv.notify_all();
    thread.join();
    for (const std::vector<int>* fds : {&returned, &closing, &done}) {
      for (int fd : *fds) ::close(fd);
    }
    for (int fd : ready) CloseIfOpen(fd);
    for (int fd : taken) CloseIfOpen(fd);
  }

  static void CloseIfOpen(int fd) {
    if (fd >= 0) ::close(fd);
  }

  void Run() {
    std::string folder;
    int folderFd = -1;
    std::vector<int> batch;
    batch.reserve(kBatch);
    for (std::size_t i = 0; i < paths.size(); ++i) {
      batch.push_back(OpenInFolder(NativePath(*paths[i]), &folder, &folderFd));
      if (batch.size() < kBatch && i + 1 < paths.size()) continue;
      std::unique_lock<std::mutex> lock(mu);
      while (!stop && !ready.empty() && ready.size() + batch.size() > limit) {
        producerWaits = true;
        cv.wait(lock);
        producerWaits = false;
      }
      if (stop) break;
      ready.insert(ready.end(), batch.begin(), batch.end());
      batch.clear();
      if (consumerWaits) cv.notify_all();
      done.swap(closing);
      lock.unlock();
      for (int fd : closing) ::close(fd);
      closing.clear();
    }
    for (int fd : batch) CloseIfOpen(fd);
    CloseIfOpen(folderFd);
    std::lock_guard<std::mutex> lock(mu);
    finished = true;
  }

  // Takes back a descriptor the copy is done with; the thread closes it
  // while it still opens files.
  void Return(int fd) {
    returned.push_back(fd);
    if (returned.size() < kBatch) return;
    std::unique_lock<std::mutex> lock(mu);
    if (finished) {
      lock.unlock();
      for (int r : returned) ::close(r);
    } else {
      done.insert(done.end(), returned.begin(), returned.end());
    }
    returned.clear();
  }

  // The descriptor for the next planned path (-1: not opened).
  int Next() {
    if (taken.empty()) {
      std::unique_lock<std::mutex> lock(mu);
      while (ready.empty()) {
        consumerWaits = true;
        cv.wait(lock);
        consumerWaits = false;
      }
      taken.swap(ready);
      if (producerWaits) cv.notify_all();
    }
    const int fd = taken.front();
    taken.pop_front();
    ++next;
    return fd;
  }

  const std::vector<const std::string*> paths;
  const std::size_t limit;
  std::size_t next = 0;       // the planned path Open is asked for next
  std::deque<int> taken;      // handed over, for the copy side only
  std::vector<int> returned;  // given back by the copy side, not yet handed on
  std::vector<int> closing;   // for the thread only

  std::mutex mu;
  std::condition_variable cv;
  std::deque<int> ready;  // guarded by mu, as are the flags
  std::vector<int> done;  // given back, for the thread to close
  bool stop = false;
  bool finished = false;
  bool producerWaits = false;
  bool consumerWaits = false;
  std::thread thread;
};

FileOpener::FileOpener() = default;

FileOpener::~FileOpener() {
  ahead_.reset();
  if (handle_ != kInvalid) ::close(static_cast<int>(handle_));
}

void FileOpener::Expect(std::vector<const std::string*> paths) {
  ahead_.reset();
  const std::size_t limit = FilesAhead();
  // A few files are not worth a thread.
  if (paths.size() < 64 || limit == 0) return;
  ahead_ = std::make_unique<Ahead>(std::move(paths), limit);
}

void FileOpener::Close(InputFile* file) {
  if (ahead_ != nullptr && file->handle_ != InputFile::kInvalid) {
    ahead_->Return(static_cast<int>(file->handle_));
    file->handle_ = InputFile::kInvalid;
  }
  file->Close();
}

Status FileOpener::Open(const std::string& path, InputFile* file) {
  file->Close();
  file->path_ = path;
  file->info_ = FileInfo{};
  if (ahead_ != nullptr) {
    if (ahead_->next < ahead_->paths.size() &&
        (ahead_->paths[ahead_->next] == &path || *ahead_->paths[ahead_->next] == path)) {
      const int fd = ahead_->Next();
      if (fd >= 0) {
        file->handle_ = fd;
        return Status::Ok();
      }
    } else {
      ahead_.reset();  // asked out of the planned order
    }
  }
  int folderFd = static_cast<int>(handle_);
  const int fd = OpenInFolder(NativePath(path), &folder_, &folderFd);
  handle_ = folderFd;
  if (fd < 0) {
    return posix::Errno(path, errno);
  }
  file->handle_ = fd;
  return Status::Ok();
}

}  // namespace quarrion::host
