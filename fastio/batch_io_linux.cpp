// Small files read through io_uring. The planned files are cut into chunks
// of up to kChunkFiles files and kChunkBytes bytes; worker threads, each with
// a ring of its own, take the chunks in turn and read each with one
// submission: for every file an open relative to its folder into a direct
// descriptor (no entry in the process's descriptor table), linked to a read
// of its recorded size plus one byte (into a byte of its own: a file that
// delivers it has grown). The next chunk's open into the same slot closes
// the file. The chunks land in a few buffers in turn, and the consumer
// writes each buffer's files with one write. Two workers keep both cores of
// a small machine busy with the kernel's own work per file (path look-up,
// page-cache copy).
#include <fcntl.h>
#include <liburing.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "fastio/batch_io.h"
#include "fastio/helper_thread.h"
#include "host/host.h"
#include "host/shared.h"

namespace quarrion::fastio {

using host::NativePath;
namespace {

constexpr std::size_t kChunkFiles = 256;
constexpr std::size_t kChunkBytes = 1024 * 1024;
static_assert(BatchReader::kMaxFileSize <= static_cast<std::int64_t>(kChunkBytes));
// Chunks in memory at once: being read, read, or being written.
constexpr std::size_t kSlots = 4;
constexpr std::size_t kWorkers = 2;
// Two requests per file, all of a chunk in one submission.
constexpr unsigned kRingEntries = 512;
static_assert(kRingEntries >= 2 * kChunkFiles);

// How the sources are opened: as posix::kSourceFlags, but a direct
// descriptor takes no O_CLOEXEC (it is never inherited anyway).
constexpr int kOpenFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY;

bool ForcedPortable() {
  const char* v = std::getenv("QUARRION_IO");
  return v != nullptr && std::strcmp(v, "portable") == 0;
}

// A ring with a table of kChunkFiles direct descriptors. Setting one up also
// tells whether the kernel has what the reads need: registering a sparse
// table came after everything else used here (Linux 5.19).
class Ring {
 public:
  Ring() = default;
  ~Ring() {
    if (ready_) ::io_uring_queue_exit(&ring_);
  }
  Ring(const Ring&) = delete;
  Ring& operator=(const Ring&) = delete;

  bool Init() {
    io_uring_params params{};
    // Both flags are older than sparse tables. With SUBMIT_ALL every request
    // submitted gives exactly one completion, even in a chain that failed.
    params.flags = IORING_SETUP_COOP_TASKRUN | IORING_SETUP_SUBMIT_ALL;
    if (::io_uring_queue_init_params(kRingEntries, &ring_, &params) < 0) return false;
    ready_ = true;
    return ::io_uring_register_files_sparse(&ring_, kChunkFiles) == 0;
  }

  io_uring* get() { return &ring_; }

 private:
  io_uring ring_{};
  bool ready_ = false;
};

bool RingUsable() {
  static const bool usable = [] {
    Ring probe;
    return probe.Init();
  }();
  return usable;
}

// The folder part of `path` (both separators count) and the name after it;
// a path without a folder, or right below the root, is opened whole.
std::pair<std::string_view, std::string_view> FolderAndName(std::string_view path) {
  const std::size_t slash = path.find_last_of("\\/");
  if (slash == std::string_view::npos || slash == 0) return {{}, path};
  return {path.substr(0, slash), path.substr(slash + 1)};
}

// Submits everything queued on `r` and waits for `queued` completions,
// handing each to `take(user_data, res)`: every request submitted completes
// once (one in a chain that failed as cancelled), so the wait ends when
// nothing is in flight. False when the ring failed, when requests may be
// left unseen; such a ring is not worth sorting out and is not used again.
template <typename Take>
bool SubmitAndReap(io_uring* r, unsigned queued, Take take) {
  const int submitted = ::io_uring_submit_and_wait(r, queued);
  unsigned seen = 0;
  while (seen < static_cast<unsigned>(std::max(submitted, 0))) {
    io_uring_cqe* cqe = nullptr;
    const int e = ::io_uring_wait_cqe(r, &cqe);
    if (e == -EINTR) continue;
    if (e < 0) return false;
    unsigned head;
    unsigned n = 0;
    io_uring_for_each_cqe(r, head, cqe) {
      ++n;
      ++seen;
      take(cqe->user_data, cqe->res);
    }
    ::io_uring_cq_advance(r, n);
  }
  return submitted == static_cast<int>(queued);
}

class RingReader final : public BatchReader {
 public:
  static constexpr std::string_view kWork = "reading small files ahead";

  RingReader(std::vector<BatchSource> files, std::vector<std::unique_ptr<Ring>> rings)
      : files_(std::move(files)) {
    for (std::size_t first = 0; first < files_.size();) {
      std::size_t end = first;
      std::size_t bytes = 0;
      while (end < files_.size() && end - first < kChunkFiles &&
             bytes + static_cast<std::size_t>(files_[end].size) <= kChunkBytes) {
        bytes += static_cast<std::size_t>(files_[end].size);
        ++end;
      }
      chunks_.push_back(Chunk{first, end - first});
      first = end;
    }
    for (Slot& s : slots_) {
      // Left uninitialised: every byte is read into before it is used.
      s.data.reset(new char[kChunkBytes]);
      s.offsets.resize(kChunkFiles + 1);
      s.bad.resize(kChunkFiles);
      s.extra.resize(kChunkFiles);
      s.iov.resize(2 * kChunkFiles);
    }
    for (std::unique_ptr<Ring>& ring : rings) {
      workers_.emplace_back([this, r = std::move(ring)] { Work(*r); });
    }
  }

  ~RingReader() override {
    {
      std::lock_guard<std::mutex> lock(mu_);
      stop_ = true;
    }
    cv_.notify_all();
    for (std::thread& t : workers_) t.join();
  }

  Status Take(std::size_t maxFiles, const char** data, std::size_t* bytes,
              std::size_t* files) override {
    *data = nullptr;
    *bytes = 0;
    *files = 0;
    if (current_ < chunks_.size() && pos_ == chunks_[current_].count) Release();
    if (current_ >= chunks_.size()) return Status::Ok();
    Slot& s = slots_[current_ % kSlots];
    if (!haveCurrent_) {
      std::exception_ptr failed;
      {
        std::unique_lock<std::mutex> lock(mu_);
        cv_.wait(lock, [&] { return s.filled == current_ + 1 || failed_ != nullptr; });
        if (s.filled != current_ + 1) failed = failed_;
      }
      if (failed) return HelperThreadFailed(kWork, failed);
      haveCurrent_ = true;
    }
    const std::size_t count = chunks_[current_].count;
    if (s.bad[pos_]) {
      ++pos_;
      return Status::Ok();
    }
    std::size_t n = 0;
    while (n < maxFiles && pos_ + n < count && !s.bad[pos_ + n]) ++n;
    *data = s.data.get() + s.offsets[pos_];
    *bytes = s.offsets[pos_ + n] - s.offsets[pos_];
    pos_ += n;
    *files = n;
    return Status::Ok();
  }

 private:
  struct Chunk {
    std::size_t first;  // index of its first file in files_
    std::size_t count;
  };

  // A buffer for one chunk at a time, with what its reads need.
  struct Slot {
    std::unique_ptr<char[]> data;
    std::vector<std::size_t> offsets;  // of each file's data, and the end
    std::vector<char> bad;             // 1: read the file the ordinary way
    std::vector<char> extra;           // the byte past each file's end
    std::vector<iovec> iov;
    std::size_t filled = 0;  // chunk index + 1 of the data in it; under mu_
  };

  // Gives the current chunk's buffer back to the workers.
  void Release() {
    {
      std::lock_guard<std::mutex> lock(mu_);
      ++released_;
    }
    cv_.notify_all();
    ++current_;
    pos_ = 0;
    haveCurrent_ = false;
  }

  // A worker thread. An exception that stops it (out of memory, say) is
  // kept in failed_, which fails the consumer's next wait.
  void Work(Ring& ring) {
    try {
      ReadChunks(ring);
    } catch (...) {
      std::lock_guard<std::mutex> lock(mu_);
      failed_ = std::current_exception();
    }
    cv_.notify_all();
  }

  // Reads chunks in turn while there are chunks to read and buffers free.
  void ReadChunks(Ring& ring) {
    Worker w(ring);
    for (;;) {
      std::size_t c;
      {
        std::unique_lock<std::mutex> lock(mu_);
        cv_.wait(lock,
                 [&] { return stop_ || next_ >= chunks_.size() || next_ < released_ + kSlots; });
        if (stop_ || next_ >= chunks_.size()) return;
        c = next_++;
      }
      Slot& s = slots_[c % kSlots];
      ProbeHelperThread(kWork);
      Read(w, c, s);
      {
        std::lock_guard<std::mutex> lock(mu_);
        s.filled = c + 1;
      }
      cv_.notify_all();
    }
  }

  // The folders a worker holds open: those of the chunk being read, the
  // last of them kept for the next chunk.
  struct Folders {
    std::vector<std::pair<std::string, int>> open;

    ~Folders() {
      for (auto& f : open) CloseIfOpen(f.second);
    }

    static void CloseIfOpen(int fd) {
      if (fd >= 0) ::close(fd);
    }

    int Get(std::string_view folder) {
      for (auto& f : open) {
        if (f.first == folder) return f.second;
      }
      // A folder that may be searched but not listed still opens this way.
      const int fd = ::open(NativePath(folder).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
      open.emplace_back(std::string(folder), fd);
      return fd;
    }

    void KeepLast() {
      if (open.size() < 2) return;
      for (std::size_t i = 0; i + 1 < open.size(); ++i) CloseIfOpen(open[i].second);
      open.erase(open.begin(), open.end() - 1);
    }
  };

  // What a worker thread keeps from chunk to chunk.
  struct Worker {
    explicit Worker(Ring& r) : ring(r) {}

    Ring& ring;
    Folders folders;
    // The names of a chunk's files, relative to their folders, in one
    // buffer that stays put while the kernel reads them.
    std::string names;
    std::vector<std::size_t> nameAt;
    std::vector<int> dirs;
    bool broken = false;  // the ring failed: it is not used again
  };

  // Reads chunk `c` into `s`. Files that cannot be read as planned are
  // marked bad; so is the whole chunk when the ring itself fails.
  void Read(Worker& w, std::size_t c, Slot& s) {
    const Chunk& chunk = chunks_[c];
    std::fill(s.bad.begin(), s.bad.begin() + static_cast<std::ptrdiff_t>(chunk.count), 1);
    s.offsets[0] = 0;
    for (std::size_t k = 0; k < chunk.count; ++k) {
      s.offsets[k + 1] = s.offsets[k] + static_cast<std::size_t>(files_[chunk.first + k].size);
    }
    if (w.broken) return;

    w.names.clear();
    w.dirs.clear();
    w.nameAt.clear();
    w.folders.KeepLast();
    for (std::size_t k = 0; k < chunk.count; ++k) {
      const auto [folder, name] = FolderAndName(*files_[chunk.first + k].path);
      w.dirs.push_back(folder.empty() ? AT_FDCWD : w.folders.Get(folder));
      w.nameAt.push_back(w.names.size());
      w.names.append(NativePath(name));
      w.names.push_back('\0');
    }

    io_uring* r = w.ring.get();
    unsigned queued = 0;
    for (std::size_t k = 0; k < chunk.count; ++k) {
      if (w.dirs[k] < 0) continue;  // the folder would not open: the ordinary path says why
      const unsigned slot = static_cast<unsigned>(k);
      s.iov[2 * k] = iovec{s.data.get() + s.offsets[k], s.offsets[k + 1] - s.offsets[k]};
      s.iov[2 * k + 1] = iovec{&s.extra[k], 1};
      io_uring_sqe* open = ::io_uring_get_sqe(r);
      io_uring_sqe* read = ::io_uring_get_sqe(r);
      // Opening into the slot closes what the previous chunk left there.
      ::io_uring_prep_openat_direct(open, w.dirs[k], w.names.data() + w.nameAt[k], kOpenFlags, 0,
                                    slot);
      open->flags |= IOSQE_IO_LINK;
      open->user_data = 2 * k;
      ::io_uring_prep_readv(read, static_cast<int>(slot), &s.iov[2 * k], 2, 0);
      read->flags |= IOSQE_FIXED_FILE;
      read->user_data = 2 * k + 1;
      queued += 2;
    }
    if (queued == 0) return;
    const bool ok = SubmitAndReap(r, queued, [&s](std::uint64_t d, int res) {
      const std::size_t k = d / 2;
      if ((d & 1) != 0) s.bad[k] = res == static_cast<int>(s.offsets[k + 1] - s.offsets[k]) ? 0 : 1;
    });
    if (!ok) {
      w.broken = true;
      std::fill(s.bad.begin(), s.bad.begin() + static_cast<std::ptrdiff_t>(chunk.count), 1);
    }
  }

  const std::vector<BatchSource> files_;
  std::vector<Chunk> chunks_;
  Slot slots_[kSlots];

  // The consumer's place: the chunk and the file in it.
  std::size_t current_ = 0;
  std::size_t pos_ = 0;
  bool haveCurrent_ = false;

  std::mutex mu_;
  std::condition_variable cv_;
  std::size_t next_ = 0;       // the next chunk a worker takes; under mu_
  std::size_t released_ = 0;   // chunks the consumer is done with; under mu_
  bool stop_ = false;          // under mu_
  std::exception_ptr failed_;  // what stopped a worker; under mu_

  std::vector<std::thread> workers_;  // last: they start when all is set up
};

}  // namespace

const char* BatchIoName() { return !ForcedPortable() && RingUsable() ? "io_uring" : "portable"; }

std::unique_ptr<BatchReader> BatchReader::Start(std::vector<BatchSource> files) {
  // A few files are not worth the rings and threads.
  constexpr std::size_t kFewest = 32;
  if (files.size() < kFewest || ForcedPortable() || !RingUsable()) return nullptr;
  std::vector<std::unique_ptr<Ring>> rings;
  for (std::size_t i = 0; i < kWorkers; ++i) {
    auto ring = std::make_unique<Ring>();
    if (!ring->Init()) return nullptr;
    rings.push_back(std::move(ring));
  }
  return std::make_unique<RingReader>(std::move(files), std::move(rings));
}

}  // namespace quarrion::fastio
