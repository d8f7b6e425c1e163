// -extract: every file of an archive written below a folder, at its path;
// names that are not plain, that this host cannot hold or that repeat an
// earlier path are refused, and nothing is written outside the folder.
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "host/extract.h"
#include "host/interrupt.h"
#include "shell/modes.h"
#include "shell/open_archive.h"
#include "vp/counted.h"
#include "vp/format.h"
#include "vp/names.h"
#include "vp/reader.h"
#include "vp/walk.h"

namespace quarrion {
namespace {

// One open folder of the walk: its name, why it is refused (empty when it is
// a plain name), and its folder on disk while a file needs it (at most
// host::ExtractFolder::kMostHeld of them are open at once).
struct OpenFolder {
  std::string name;
  std::string refusal;
  host::ExtractFolder folder;
  Status failure;  // set when the folder could not be made or opened
};

// Why a name may not be written on this host, "" when it may.
std::string ExtractNameProblem(std::string_view name) {
  Status why = CheckPlainName(name);
  if (why.ok()) why = host::CheckHostName(name);
  return why.ok() ? std::string() : QuotedName(name) + " " + why.reason;
}

class Extraction {
 public:
  Extraction(VpReader& reader, host::ExtractFolder& root, Console& console)
      : reader_(reader), root_(root), console_(console) {}

  void Run();

  std::int64_t written() const { return written_; }
  std::int64_t bytes() const { return bytes_; }
  std::int64_t refused() const { return refused_; }
  std::int64_t failed() const { return failed_; }

 private:
  void File(const VpDirEntry& e);
  // The folder on disk of the innermost open folder, made and opened as
  // needed.
  Status Target(const host::ExtractFolder** target);
  // Leaves the innermost open folder.
  void CloseFolder();

  VpReader& reader_;
  host::ExtractFolder& root_;
  Console& console_;
  FolderWalk walk_;
  std::vector<OpenFolder> open_;
  std::deque<std::size_t> held_;  // the indices in open_ of the folders open on disk, ascending
  // Lower-cased path -> the path as shown, of every file written.
  std::unordered_map<std::string, std::string> writtenPaths_;
  std::int64_t written_ = 0;
  std::int64_t bytes_ = 0;
  std::int64_t refused_ = 0;
  std::int64_t failed_ = 0;
};

void Extraction::Run() {
  host::InterruptsHeldInRuns held;
  for (std::size_t i = 0; i < reader_.entries().size(); ++i) {
    const VpDirEntry& e = reader_.entries()[i];
    switch (walk_.Next(e)) {
      case FolderWalk::Step::kOpen:
        open_.push_back(OpenFolder{walk_.folders().back(), ExtractNameProblem(EntryName(e)),
                                   host::ExtractFolder(), Status::Ok()});
        break;
      case FolderWalk::Step::kClose:
        CloseFolder();
        break;
      case FolderWalk::Step::kStrayUp:
        // Read as staying at the top: never above the target folder.
        console_.Error("ignored entry " + std::to_string(i) + " (..): it closes no open folder");
        ++refused_;
        break;
      case FolderWalk::Step::kFile:
        held.Next(e.size);
        File(e);
        break;
    }
  }
}

// The walk down starts at the innermost folder still open, or at the target
// folder: every folder above one that is open was opened without a failure.
// Each folder on the way is opened relative to its parent (never following
// a link), and the outermost held folder is closed when more than
// kMostHeld are open; it is opened again the same way when the walk comes
// back up to it.
Status Extraction::Target(const host::ExtractFolder** target) {
  const std::size_t from = held_.empty() ? 0 : held_.back() + 1;
  const host::ExtractFolder* parent = from == 0 ? &root_ : &open_[from - 1].folder;
  for (std::size_t i = from; i < open_.size(); ++i) {
    OpenFolder& f = open_[i];
    if (!f.failure.ok()) return f.failure;
    f.failure = parent->OpenChild(f.name, &f.folder);
    if (!f.failure.ok()) return f.failure;
    held_.push_back(i);
    if (held_.size() > host::ExtractFolder::kMostHeld) {
      open_[held_.front()].folder = host::ExtractFolder();
      held_.pop_front();
    }
    parent = &f.folder;
  }
  *target = parent;
  return Status::Ok();
}

void Extraction::CloseFolder() {
  if (!held_.empty() && held_.back() + 1 == open_.size()) held_.pop_back();
  open_.pop_back();
}

void Extraction::File(const VpDirEntry& e) {
  const std::string_view name = EntryName(e);
  const std::string shown = Printable(walk_.PathOf(name));
  std::string refusal;
  for (const OpenFolder& f : open_) {
    if (!f.refusal.empty()) {
      refusal = f.refusal;
      break;
    }
  }
  if (refusal.empty()) refusal = ExtractNameProblem(name);
  // Readers take the first entry of a path, whatever the letter case, and
  // so do the file systems of some hosts: a later one is not written.
  std::string key = CaseFolded(walk_.PathOf(name));
  if (auto first = writtenPaths_.find(key); refusal.empty() && first != writtenPaths_.end()) {
    refusal = "the same path as " + first->second + ", letter case ignored";
  }
  if (!refusal.empty()) {
    console_.Error("refused " + shown + ": " + refusal);
    ++refused_;
    return;
  }
  if (!reader_.EntryDataInFile(e)) {
    console_.Error("could not extract " + shown + ": its data lie outside the archive");
    ++failed_;
    return;
  }
  const host::ExtractFolder* target = nullptr;
  Status why = Target(&target);
  if (why.ok()) {
    why = target->WriteFile(std::string(name), reader_.file(), e.offset, e.size, e.timestamp);
  }
  if (!why.ok()) {
    console_.Error("could not extract " + shown + ": " + Printable(why.Message()));
    ++failed_;
    return;
  }
  ++written_;
  bytes_ += e.size;
  writtenPaths_.emplace(std::move(key), shown);
}

}  // namespace

int RunExtractArchive(const StartupOptions& options, Console& console) {
  VpReader reader;
  if (!OpenArchive(options.archiveFile, &reader, console)) return 1;
  host::ExtractFolder root;
  if (Status why = root.OpenRoot(options.extractDir); !why.ok()) {
    console.Error(Failure("cannot extract into", options.extractDir, why));
    return 1;
  }
  Extraction extraction(reader, root, console);
  extraction.Run();
  console.Line("Extracted " + Counted(extraction.written(), "file", "files") + " (" +
               Counted(extraction.bytes(), "byte", "bytes") + ") into " + options.extractDir);
  if (extraction.refused() > 0 || extraction.failed() > 0) {
    console.Error("not everything was extracted: " + std::to_string(extraction.refused()) +
                  " refused, " + std::to_string(extraction.failed()) + " failed");
    return 1;
  }
  return 0;
}

}  // namespace quarrion
