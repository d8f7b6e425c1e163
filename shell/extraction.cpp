// Extraction in two passes. The first walks the directory once and cuts it
// into stretches of file entries that lie in one folder (the folders form a
// tree of their own, one node per folder entry). The second writes the
// stretches: each thread takes the next stretch not yet taken, walks down
// to its folder from the folders it holds open, and keeps its lines and
// counts with the stretch. The thread that called prints the lines of the
// finished stretches in directory order, so the console says the same
// whichever thread wrote what.
#include "shell/extraction.h"

#include <algorithm>
#include <atomic>
#include <deque>
#include <exception>
#include <functional>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "interrupt/interrupt.h"
#include "shell/open_archive.h"
#include "vp/format.h"
#include "vp/names.h"
#include "vp/walk.h"

namespace quarrion {
namespace {

// How many folders below the target each thread holds open at once: the
// innermost ones along its current path. A folder closed to stay within
// this is opened again, from the nearest one still open, when a file needs
// it; so an archive nested any number of folders deep needs no more
// descriptors or handles than this.
//
// On POSIX every step down is relative to an open descriptor, so a folder
// closed and opened again is reached the same way, link-free, as the first
// time; the threads share 16 descriptors. On Windows each thread holds up
// to 128 folders, which covers every path of the short form (MAX_PATH, 260
// characters, fits no more than 130 folders). A long path may go deeper:
// the innermost held folders then still keep their ancestors in place, as
// NTFS renames no folder with an open file or folder below it.
std::size_t MostHeld(int workers) {
#if defined(_WIN32)
  static_cast<void>(workers);
  return 128;
#else
  return std::max<std::size_t>(1, 16 / static_cast<std::size_t>(std::max(workers, 1)));
#endif
}

// Files up to this size are read from the archive in runs: the data of
// files that lie back to back, up to kRunBytes, in one read, each file then
// written from memory.
constexpr std::int64_t kSmallFile = 256 << 10;
constexpr std::int64_t kRunBytes = 1 << 20;

constexpr std::size_t kTop = static_cast<std::size_t>(-1);  // the target folder itself

// One folder entry of the directory: the folder it lies in, its name, and
// why this host cannot hold it or a folder around it ("entry 3 (data\CON):
// ...", the outermost one's; "" when it can).
struct FolderNode {
  std::size_t parent = kTop;
  std::string name;
  std::string refusal;
};

// File entries [first, end) that lie in one folder, and, once written, what
// the thread that wrote them has to say (after the lines the stretch began
// with) and its counts.
struct Stretch {
  std::size_t folder = kTop;
  std::string prefix;  // the folder's path and a backslash, "" at the top
  std::size_t first = 0;
  std::size_t end = 0;
  std::vector<std::string> lines;
  ExtractionCounts counts;
  std::atomic<bool> done{false};
};

struct Plan {
  std::vector<FolderNode> folders;
  std::deque<Stretch> stretches;  // a deque: a stretch never moves
};

// The line that refuses entry `i`, at `path`, whose name `name` this host
// cannot hold (`why`, from CheckName).
std::string NameRefusal(std::size_t i, std::string_view path, std::string_view name,
                        const Status& why) {
  return "entry " + std::to_string(i) + " (" + Printable(path) + "): " + QuotedName(name) + " " +
         why.reason;
}

// The first pass. A new stretch begins after every folder and up entry
// (one that holds nothing yet is reused); an up entry that closes nothing
// is refused with a line at the start of the stretch after it.
Plan MakePlan(const VpReader& reader) {
  Plan plan;
  FolderWalk walk;
  std::vector<std::size_t> open;
  auto begin = [&](std::size_t at) {
    if (plan.stretches.empty() || plan.stretches.back().end > plan.stretches.back().first ||
        !plan.stretches.back().lines.empty()) {
      plan.stretches.emplace_back();
    }
    Stretch& s = plan.stretches.back();
    s.folder = open.empty() ? kTop : open.back();
    s.prefix = open.empty() ? std::string() : walk.Current() + '\\';
    s.first = s.end = at;
  };
  begin(0);
  const std::vector<VpDirEntry>& entries = reader.entries();
  for (std::size_t i = 0; i < entries.size(); ++i) {
    switch (walk.Next(entries[i])) {
      case FolderWalk::Step::kOpen: {
        FolderNode node{open.empty() ? kTop : open.back(), walk.folders().back(), ""};
        if (node.parent != kTop) node.refusal = plan.folders[node.parent].refusal;
        if (const Status why = CheckName(node.name, NameUse::kExtraction);
            node.refusal.empty() && !why.ok()) {
          node.refusal = NameRefusal(i, walk.Current(), node.name, why);
        }
        open.push_back(plan.folders.size());
        plan.folders.push_back(std::move(node));
        begin(i + 1);
        break;
      }
      case FolderWalk::Step::kClose:
        open.pop_back();
        begin(i + 1);
        break;
      case FolderWalk::Step::kStrayUp:
        // Read as staying at the top: never above the target folder.
        begin(i + 1);
        plan.stretches.back().lines.push_back("ignored " + RefusalOf(reader.findings(), i, ".."));
        ++plan.stretches.back().counts.refused;
        break;
      case FolderWalk::Step::kFile:
        plan.stretches.back().end = i + 1;
        break;
    }
  }
  return plan;
}

// What the threads share: the plan, the next stretch to take, and the files
// done so far for the progress line.
struct Shared {
  VpReader& reader;
  const host::ExtractFolder& root;
  const std::vector<bool>& chosen;
  Plan& plan;
  std::atomic<std::size_t> next{0};
  std::atomic<std::int64_t> doneFiles{0};
  std::atomic<std::int64_t> doneBytes{0};
};

// One thread's share of the work, with the folders it holds open.
class Worker {
 public:
  Worker(Shared& shared, std::size_t mostHeld, ProgressLine* progress)
      : shared_(shared), mostHeld_(mostHeld), progress_(progress) {}

  // Writes stretches until none is left, calling `after` after each.
  void Drain(const std::function<void()>& after);

 private:
  // A folder along the current path, held open or not, and why it could
  // not be made or opened (a failure stays while the path passes through).
  struct Level {
    std::size_t node;
    host::ExtractFolder folder;
    Status failure;
  };

  void Write(Stretch& s);
  // Why file entry `i` at `path` is not written, "" when it is.
  std::string Refusal(const Stretch& s, std::size_t i, const std::string& path,
                      std::string_view name) const;
  // Makes the current path that of folder `node`, keeping what the two share.
  void Enter(std::size_t node);
  // The folder on disk of the innermost level, made and opened as needed.
  Status Target(const host::ExtractFolder** target);
  Status WriteFile(const host::ExtractFolder& target, const Stretch& s, std::size_t i);
  // Reads the data of file `i` and the small files after it in `s` that lie
  // back to back with it.
  void ReadRun(const Stretch& s, std::size_t i);

  Shared& shared_;
  std::size_t mostHeld_;
  ProgressLine* progress_;  // null but on the thread that prints
  std::vector<Level> levels_;
  std::deque<std::size_t> held_;  // the indices in levels_ of the folders open, ascending
  std::vector<char> run_;
  std::int64_t runAt_ = 0;  // the archive offset of run_'s first byte
  std::int64_t runEnd_ = 0;
  interrupt::InterruptsHeldInRuns interruptsHeld_;
};

void Worker::Drain(const std::function<void()>& after) {
  std::deque<Stretch>& stretches = shared_.plan.stretches;
  for (;;) {
    const std::size_t k = shared_.next.fetch_add(1);
    if (k >= stretches.size()) return;
    Stretch& s = stretches[k];
    try {
      Write(s);
    } catch (const std::exception& e) {
      // Out of memory, say: the rest of the stretch fails, on either thread.
      const std::string where =
          s.prefix.empty() ? "the top folder" : Printable(s.prefix.substr(0, s.prefix.size() - 1));
      s.lines.push_back("could not extract the files of " + where + ": " + e.what());
      ++s.counts.failed;
    }
    s.done.store(true, std::memory_order_release);
    if (after) after();
  }
}

void Worker::Write(Stretch& s) {
  const std::vector<VpDirEntry>& entries = shared_.reader.entries();
  bool entered = false;
  for (std::size_t i = s.first; i < s.end; ++i) {
    if (!shared_.chosen[i]) continue;
    const VpDirEntry& e = entries[i];
    interruptsHeld_.Next(e.size);
    const std::string_view name = EntryName(e);
    const std::string path = s.prefix + std::string(name);
    if (const std::string refusal = Refusal(s, i, path, name); !refusal.empty()) {
      s.lines.push_back("refused " + refusal);
      ++s.counts.refused;
      continue;
    }
    if (!entered) Enter(s.folder);
    entered = true;
    const host::ExtractFolder* target = nullptr;
    Status why = Target(&target);
    if (why.ok()) why = WriteFile(*target, s, i);
    if (why.ok()) {
      ++s.counts.written;
      s.counts.bytes += e.size;
    } else {
      s.lines.push_back("could not extract " + Printable(path) + ": " + Printable(why.Message()));
      ++s.counts.failed;
    }
    const std::int64_t files = shared_.doneFiles.fetch_add(1) + 1;
    const std::int64_t bytes = shared_.doneBytes.fetch_add(e.size) + e.size;
    if (progress_ != nullptr) progress_->Advance(bytes, files);
  }
}

std::string Worker::Refusal(const Stretch& s, std::size_t i, const std::string& path,
                            std::string_view name) const {
  std::string refusal = RefusalOf(shared_.reader.findings(), i, path);
  if (!refusal.empty()) return refusal;
  if (s.folder != kTop && !shared_.plan.folders[s.folder].refusal.empty()) {
    return "entry " + std::to_string(i) + " (" + Printable(path) + "): in folder " +
           shared_.plan.folders[s.folder].refusal;
  }
  const Status why = CheckName(name, NameUse::kExtraction);
  return why.ok() ? std::string() : NameRefusal(i, path, name, why);
}

void Worker::Enter(std::size_t node) {
  std::vector<std::size_t> path;
  for (std::size_t n = node; n != kTop; n = shared_.plan.folders[n].parent) path.push_back(n);
  std::reverse(path.begin(), path.end());
  std::size_t same = 0;
  while (same < levels_.size() && same < path.size() && levels_[same].node == path[same]) ++same;
  while (!held_.empty() && held_.back() >= same) held_.pop_back();
  levels_.resize(same);
  for (std::size_t k = same; k < path.size(); ++k) {
    levels_.push_back(Level{path[k], host::ExtractFolder(), Status::Ok()});
  }
}

// The walk down starts at the innermost folder still open, or at the target
// folder: every folder above one that is open was opened without a failure.
// Each folder on the way is opened relative to its parent (never following
// a link), and the outermost held folder is closed when more than
// mostHeld_ are open; it is opened again the same way when the path comes
// back up to it.
Status Worker::Target(const host::ExtractFolder** target) {
  const std::size_t from = held_.empty() ? 0 : held_.back() + 1;
  const host::ExtractFolder* parent = from == 0 ? &shared_.root : &levels_[from - 1].folder;
  for (std::size_t i = from; i < levels_.size(); ++i) {
    Level& level = levels_[i];
    if (!level.failure.ok()) return level.failure;
    level.failure = parent->OpenChild(shared_.plan.folders[level.node].name, &level.folder);
    if (!level.failure.ok()) return level.failure;
    held_.push_back(i);
    if (held_.size() > mostHeld_) {
      levels_[held_.front()].folder = host::ExtractFolder();
      held_.pop_front();
    }
    parent = &level.folder;
  }
  *target = parent;
  return Status::Ok();
}

Status Worker::WriteFile(const host::ExtractFolder& target, const Stretch& s, std::size_t i) {
  const VpDirEntry& e = shared_.reader.entries()[i];
  const std::string name(EntryName(e));
  if (e.size <= kSmallFile) {
    if (e.offset < runAt_ || e.offset + e.size > runEnd_) ReadRun(s, i);
    if (e.offset >= runAt_ && e.offset + e.size <= runEnd_) {
      const char* data = run_.data() + (e.offset - runAt_);
      return target.WriteFile(name, data, static_cast<std::size_t>(e.size), e.timestamp);
    }
  }
  // A large file, or one whose data could not be read ahead: the copy reads
  // it (and says what went wrong).
  return target.WriteFile(name, shared_.reader.file(), e.offset, e.size, e.timestamp);
}

void Worker::ReadRun(const Stretch& s, std::size_t i) {
  const std::vector<VpDirEntry>& entries = shared_.reader.entries();
  const std::int64_t at = entries[i].offset;
  std::int64_t end = at + entries[i].size;
  for (std::size_t j = i + 1; j < s.end; ++j) {
    const VpDirEntry& f = entries[j];
    if (!shared_.chosen[j] || f.offset != end || f.size > kSmallFile ||
        end + f.size - at > kRunBytes || shared_.reader.findings().Refusal(j) != nullptr) {
      break;
    }
    end += f.size;
  }
  run_.resize(static_cast<std::size_t>(std::max(end - at, kRunBytes)));
  std::size_t got = 0;
  if (!shared_.reader.file()
           .ReadAt(at, run_.data(), static_cast<std::size_t>(end - at), &got)
           .ok()) {
    got = 0;
  }
  runAt_ = at;
  runEnd_ = at + static_cast<std::int64_t>(got);
}

// Prints the lines of the finished stretches in directory order, up to the
// first one not finished.
class Printer {
 public:
  Printer(Plan& plan, ProgressLine* progress, Console& console)
      : plan_(plan), progress_(progress), console_(console) {}

  void PrintFinished() {
    for (; next_ < plan_.stretches.size(); ++next_) {
      const Stretch& s = plan_.stretches[next_];
      if (s.end > s.first && !s.done.load(std::memory_order_acquire)) return;
      for (const std::string& line : s.lines) {
        if (progress_ != nullptr) progress_->Hide();
        console_.Error(line);
      }
    }
  }

 private:
  Plan& plan_;
  ProgressLine* progress_;
  Console& console_;
  std::size_t next_ = 0;
};

}  // namespace

ExtractionCounts ExtractEntries(VpReader& reader, const host::ExtractFolder& root,
                                const std::vector<bool>& chosen, ProgressLine* progress,
                                Console& console, int workers) {
  Plan plan = MakePlan(reader);
  Shared shared{reader, root, chosen, plan};
  Printer printer(plan, progress, console);
  if (plan.stretches.size() < 2) workers = 1;
  const std::size_t mostHeld = MostHeld(workers);
  std::vector<std::thread> threads;
  for (int w = 1; w < workers; ++w) {
    try {
      threads.emplace_back([&shared, mostHeld] { Worker(shared, mostHeld, nullptr).Drain({}); });
    } catch (const std::system_error&) {
      break;  // no thread to be had: the ones there do it all
    }
  }
  {
    // Ends, and lets interruptions through, before waiting for the others:
    // an interruption taken by a thread waits for every thread that holds
    // them back.
    Worker own(shared, mostHeld, progress);
    own.Drain([&printer] { printer.PrintFinished(); });
  }
  for (std::thread& t : threads) t.join();
  printer.PrintFinished();
  ExtractionCounts total;
  for (const Stretch& s : plan.stretches) {
    total.written += s.counts.written;
    total.bytes += s.counts.bytes;
    total.refused += s.counts.refused;
    total.failed += s.counts.failed;
  }
  return total;
}

int ExtractionWorkers() { return std::thread::hardware_concurrency() >= 2 ? 2 : 1; }

}  // namespace quarrion
