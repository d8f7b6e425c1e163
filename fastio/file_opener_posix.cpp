// FileOpener on POSIX: the writer's source files opened relative to their
// folder, and, for a long plan, opened (and closed) ahead of the copy by a
// thread of their own. A data directory of 100,000 small files spends most
// of its time in the opens and closes, at microseconds each where the kernel
// runs virtualised; the thread lets them overlap the copy, while the order
// of everything the user sees stays that of one thread.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "fastio/file_opener.h"
#include "fastio/helper_thread.h"
#include "host/host.h"
#include "host/posix_io.h"

namespace quarrion::fastio {

namespace posix = host::posix;
using host::FileInfo;
using host::InputFile;
using host::NativePath;

namespace {

// Opens the file at `native` (a path in the host's form) relative to the
// folder it is in, which is held open in `*folderFd` (named `*folder`) for
// the next file: a new folder replaces the one held, closed before the new
// one is opened. -1 with errno set when the file cannot be opened.
int OpenInFolder(const std::string& native, std::string* folder, int* folderFd) {
  const std::size_t slash = native.rfind('/');
  if (slash == std::string::npos || slash == 0) return ::open(native.c_str(), posix::kSourceFlags);
  const std::string_view in(native.data(), slash);
  if (in != *folder) {
    if (*folderFd >= 0) ::close(*folderFd);
    *folderFd = -1;
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

void CloseAll(std::vector<int>* fds) {
  for (int fd : *fds) ::close(fd);
  fds->clear();
}

// Files opened ahead of the copy by a thread of their own. The thread hands
// descriptors over in batches and takes back the copy's in batches, so the
// two sides rarely need the kernel to meet. It counts every descriptor it
// opened and has not closed yet, wherever that is (its own folder, its
// batch, ready, taken by the copy or given back), and opens no more while
// that count is at `bound`. A file the thread could not open is opened again
// by Open, which then gives the reason. An exception that stops the thread
// (out of memory, say) fails the Open of the first file it did not hand over.
struct Ahead {
  static constexpr std::size_t kBatch = 16;
  // Next(): the plan ended; Open opens the file itself.
  static constexpr int kEnded = -2;
  // Next(): the thread failed (`failed`); so does Open.
  static constexpr int kFailed = -3;
  static constexpr std::string_view kWork = "opening files ahead";

  Ahead(std::vector<const std::string*> planned, std::size_t most)
      : paths(std::move(planned)),
        bound(most),
        batch(std::clamp<std::size_t>(most / 4, 1, kBatch)) {}

  ~Ahead() {
    {
      std::lock_guard<std::mutex> lock(mu);
      stop = true;
    }
    cv.notify_all();
    if (thread.joinable()) thread.join();
    CloseAll(&returned);
    CloseAll(&done);
    for (const std::deque<int>* fds : {&ready, &taken}) {
      for (int fd : *fds) {
        if (fd >= 0) ::close(fd);
      }
    }
  }

  // Starts the thread; false when the system has none to give.
  bool Start() {
    try {
      thread = std::thread([this] { Run(); });
      return true;
    } catch (const std::system_error&) {
      return false;
    }
  }

  // The thread: opens the planned files, and ends as finished, with the
  // exception that stopped it in `failed` (out of memory, say).
  void Run() {
    std::string folder;
    int folderFd = -1;
    std::vector<int> opened;
    std::vector<int> closing;
    std::exception_ptr thrown;
    try {
      OpenPlanned(&folder, &folderFd, &opened, &closing);
    } catch (...) {
      thrown = std::current_exception();
    }
    if (folderFd >= 0) ::close(folderFd);
    CloseAll(&closing);
    std::lock_guard<std::mutex> lock(mu);
    if (thrown) {
      CloseAll(&opened);
      failed = thrown;
    }
    finished = true;
    cv.notify_all();
  }

  // Opens the planned files in turn, handing them over in batches, and
  // hands over the last batch; `*folder` and the descriptors are the
  // caller's, to close whatever happens.
  void OpenPlanned(std::string* folder, int* folderFd, std::vector<int>* opened,
                   std::vector<int>* closing) {
    std::size_t held = 0;  // descriptors opened here and not closed yet
    for (std::size_t i = 0; i < paths.size() && !stop.load(std::memory_order_relaxed); ++i) {
      ProbeHelperThread(kWork);
      // Room for the file and a folder of its own.
      while (held + 2 > bound) {
        if (!WaitForReturns(opened, closing)) break;
        held -= closing->size();
        CloseAll(closing);
      }
      if (held + 2 > bound) break;
      const int heldFolder = *folderFd;
      // Room first, so that a descriptor is never opened and then lost.
      opened->reserve(opened->size() + 1);
      const int fd = OpenInFolder(NativePath(*paths[i]), folder, folderFd);
      held = held - (heldFolder >= 0 ? 1 : 0) + (*folderFd >= 0 ? 1 : 0) + (fd >= 0 ? 1 : 0);
      opened->push_back(fd);
      if (opened->size() >= batch || i + 1 == paths.size()) {
        Publish(opened, closing);
        held -= closing->size();
        CloseAll(closing);
      }
    }
    std::lock_guard<std::mutex> lock(mu);
    ready.insert(ready.end(), opened->begin(), opened->end());
    opened->clear();
  }

  // Hands the files `*opened` to the copy and takes what it gave back into
  // `*closing`.
  void Publish(std::vector<int>* opened, std::vector<int>* closing) {
    std::lock_guard<std::mutex> lock(mu);
    ready.insert(ready.end(), opened->begin(), opened->end());
    opened->clear();
    closing->swap(done);
    if (consumerWaits) cv.notify_all();
  }

  // Publishes `*opened`, then waits until the copy gives descriptors back
  // and takes them into `*closing`. False when the opener stops.
  bool WaitForReturns(std::vector<int>* opened, std::vector<int>* closing) {
    std::unique_lock<std::mutex> lock(mu);
    ready.insert(ready.end(), opened->begin(), opened->end());
    opened->clear();
    if (consumerWaits) cv.notify_all();
    producerWaits = true;
    cv.wait(lock, [&] { return stop || !done.empty(); });
    producerWaits = false;
    if (stop) return false;
    closing->swap(done);
    return true;
  }

  // Takes back a descriptor the copy is done with; the thread closes it
  // while it still opens files.
  void Return(int fd) {
    returned.push_back(fd);
    if (returned.size() < batch) return;
    std::unique_lock<std::mutex> lock(mu);
    HandBack();
    if (finished) {
      lock.unlock();
      CloseAll(&returned);
    }
  }

  // Moves the given-back descriptors to the thread while it runs; with the
  // lock held.
  void HandBack() {
    if (finished || returned.empty()) return;
    done.insert(done.end(), returned.begin(), returned.end());
    returned.clear();
    if (producerWaits) cv.notify_all();
  }

  // The descriptor for the next planned path: -1 when the thread could not
  // open it, kEnded when it opens no more (it finished early, or it waits
  // for descriptors the copy keeps), kFailed when an exception stopped it.
  int Next() {
    if (taken.empty()) {
      std::unique_lock<std::mutex> lock(mu);
      HandBack();
      while (ready.empty()) {
        if (finished && failed) return kFailed;
        if (finished || (producerWaits && done.empty())) return kEnded;
        consumerWaits = true;
        cv.wait(lock);
        consumerWaits = false;
      }
      taken.swap(ready);
    }
    const int fd = taken.front();
    taken.pop_front();
    ++next;
    handed = fd;
    return fd;
  }

  const std::vector<const std::string*> paths;
  const std::size_t bound;
  const std::size_t batch;    // descriptors handed over at a time
  std::size_t next = 0;       // the planned path Open is asked for next
  int handed = -1;            // the descriptor Next gave last, until it comes back
  std::deque<int> taken;      // handed over, for the copy side only
  std::vector<int> returned;  // given back by the copy side, not yet handed on

  std::mutex mu;
  std::condition_variable cv;
  std::deque<int> ready;  // guarded by mu, as are the flags
  std::vector<int> done;  // given back, for the thread to close
  std::atomic<bool> stop{false};
  bool finished = false;
  std::exception_ptr failed;  // what stopped the thread, when it failed
  bool producerWaits = false;
  bool consumerWaits = false;
  std::thread thread;
};

}  // namespace

struct FileOpener::State {
  std::string folder;  // the open folder, in the host's form
  int folderFd = -1;
  std::unique_ptr<Ahead> ahead;

  ~State() {
    ahead.reset();
    if (folderFd >= 0) ::close(folderFd);
  }
};

FileOpener::FileOpener() : state_(std::make_unique<State>()) {}

FileOpener::~FileOpener() = default;
std::size_t FileOpener::MostOpenAhead() {
  struct rlimit limit {};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
  const rlim_t open = limit.rlim_cur == RLIM_INFINITY ? 4096 : limit.rlim_cur;
  // A quarter of the limit, up to 64: the rest stays for everything else.
  const std::size_t most = static_cast<std::size_t>(std::min<rlim_t>(64, open / 4));
  return most < 8 ? 0 : most;
}

void FileOpener::Expect(std::vector<const std::string*> paths) {
  state_->ahead.reset();
  const std::size_t most = MostOpenAhead();
  // A few files are not worth a thread.
  if (paths.size() < 64 || most == 0) return;
  auto ahead = std::make_unique<Ahead>(std::move(paths), most);
  if (ahead->Start()) state_->ahead = std::move(ahead);
}

void FileOpener::Close(InputFile* file) {
  // Only what the thread opened goes back to it to be closed and counted.
  if (state_->ahead != nullptr && file->handle_ != InputFile::kInvalid &&
      file->handle_ == state_->ahead->handed) {
    state_->ahead->Return(static_cast<int>(file->handle_));
    state_->ahead->handed = -1;
    file->handle_ = InputFile::kInvalid;
  }
  file->Close();
}

Status FileOpener::Open(const std::string& path, InputFile* file) {
  Close(file);
  file->path_ = path;
  file->info_ = FileInfo{};
  if (state_->ahead != nullptr) {
    const std::size_t i = state_->ahead->next;
    const bool planned = i < state_->ahead->paths.size() &&
                         (state_->ahead->paths[i] == &path || *state_->ahead->paths[i] == path);
    const int fd = planned ? state_->ahead->Next() : Ahead::kEnded;
    if (fd >= 0) {
      file->handle_ = fd;
      return Status::Ok();
    }
    if (fd == Ahead::kFailed) {
      const Status why = HelperThreadFailed(Ahead::kWork, state_->ahead->failed);
      state_->ahead.reset();
      return why;
    }
    if (fd == Ahead::kEnded)
      state_->ahead.reset();  // out of the planned order, or the thread stopped
  }
  const int fd = OpenInFolder(NativePath(path), &state_->folder, &state_->folderFd);
  if (fd < 0) {
    return posix::Errno(path, errno);
  }
  file->handle_ = fd;
  return Status::Ok();
}

}  // namespace quarrion::fastio
