// -extract: every file of an archive (or those -only chooses) written below
// a folder, at its path, with a progress line on a terminal. What -verify
// reports about an entry (a name that is not plain, a path that repeats an
// earlier one, data outside the data area or over another file's) and names
// this host cannot hold are refused, so nothing is written outside the
// folder and no data twice.
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/counted.h"
#include "host/extract.h"
#include "interrupt/interrupt.h"
#include "shell/modes.h"
#include "shell/open_archive.h"
#include "shell/progress.h"
#include "shell/selection.h"
#include "vp/format.h"
#include "vp/names.h"
#include "vp/reader.h"
#include "vp/walk.h"

namespace quarrion {
namespace {

// One open folder of the walk: its name, why this host cannot hold it ("entry
// 3 (data\CON): ...", "" when it can), and its folder on disk while a file
// needs it (at most host::ExtractFolder::kMostHeld of them are open at once).
struct OpenFolder {
  std::string name;
  std::string refusal;
  host::ExtractFolder folder;
  Status failure;  // set when the folder could not be made or opened
};

// Why a name may not be written on this host, "" when it may.
std::string ExtractNameProblem(std::string_view name) {
  const Status why = CheckName(name, NameUse::kExtraction);
  return why.ok() ? std::string() : QuotedName(name) + " " + why.reason;
}

// The file entries the selection chooses, by index, with their count and
// bytes (what the progress line counts down), found in a walk of their own.
struct ChosenEntries {
  std::vector<bool> chosen;
  std::int64_t files = 0;
  std::int64_t bytes = 0;
};

ChosenEntries ChooseEntries(const VpReader& reader, Selection& selection) {
  ChosenEntries c;
  c.chosen.assign(reader.entries().size(), false);
  FolderWalk walk;
  for (std::size_t i = 0; i < reader.entries().size(); ++i) {
    const VpDirEntry& e = reader.entries()[i];
    if (walk.Next(e) != FolderWalk::Step::kFile) continue;
    if (!selection.Chosen(walk.PathOf(EntryName(e)))) continue;
    c.chosen[i] = true;
    if (reader.findings().Refusal(i) != nullptr) continue;  // never written
    ++c.files;
    c.bytes += e.size;
  }
  return c;
}

class Extraction {
 public:
  Extraction(VpReader& reader, host::ExtractFolder& root, const ChosenEntries& chosen,
             ProgressLine* progress, Console& console)
      : reader_(reader), root_(root), chosen_(chosen), progress_(progress), console_(console) {}

  void Run();

  std::int64_t written() const { return written_; }
  std::int64_t bytes() const { return bytes_; }
  std::int64_t refused() const { return refused_; }
  std::int64_t failed() const { return failed_; }

 private:
  // Writes the file of entry `i`; false when it was refused.
  bool File(std::size_t i, const VpDirEntry& e);
  // Why the file entry `i` at `path` is not written, "" when it is.
  std::string Refusal(std::size_t i, const std::string& path, std::string_view name) const;
  // An error line, with the progress line out of its way.
  void Report(const std::string& text);
  // The folder on disk of the innermost open folder, made and opened as
  // needed.
  Status Target(const host::ExtractFolder** target);
  // Leaves the innermost open folder.
  void CloseFolder();

  VpReader& reader_;
  host::ExtractFolder& root_;
  const ChosenEntries& chosen_;
  ProgressLine* progress_;  // null when none is shown
  Console& console_;
  FolderWalk walk_;
  std::vector<OpenFolder> open_;
  std::deque<std::size_t> held_;  // the indices in open_ of the folders open on disk, ascending
  std::int64_t written_ = 0;
  std::int64_t bytes_ = 0;
  std::int64_t refused_ = 0;
  std::int64_t failed_ = 0;
  std::int64_t doneFiles_ = 0;
  std::int64_t doneBytes_ = 0;
};

void Extraction::Run() {
  host::InterruptsHeldInRuns held;
  for (std::size_t i = 0; i < reader_.entries().size(); ++i) {
    const VpDirEntry& e = reader_.entries()[i];
    switch (walk_.Next(e)) {
      case FolderWalk::Step::kOpen: {
        const std::string problem = ExtractNameProblem(EntryName(e));
        const std::string refusal = problem.empty()
                                        ? problem
                                        : "entry " + std::to_string(i) + " (" +
                                              Printable(walk_.Current()) + "): " + problem;
        open_.push_back(
            OpenFolder{walk_.folders().back(), refusal, host::ExtractFolder(), Status::Ok()});
        break;
      }
      case FolderWalk::Step::kClose:
        CloseFolder();
        break;
      case FolderWalk::Step::kStrayUp:
        // Read as staying at the top: never above the target folder.
        Report("ignored " + RefusalOf(reader_.findings(), i, ".."));
        ++refused_;
        break;
      case FolderWalk::Step::kFile:
        if (!chosen_.chosen[i]) break;
        held.Next(e.size);
        if (!File(i, e)) break;
        ++doneFiles_;
        doneBytes_ += e.size;
        if (progress_ != nullptr) progress_->Advance(doneBytes_, doneFiles_);
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

void Extraction::Report(const std::string& text) {
  if (progress_ != nullptr) progress_->Hide();
  console_.Error(text);
}

std::string Extraction::Refusal(std::size_t i, const std::string& path,
                                std::string_view name) const {
  std::string refusal = RefusalOf(reader_.findings(), i, path);
  if (!refusal.empty()) return refusal;
  const std::string entry = "entry " + std::to_string(i) + " (" + Printable(path) + "): ";
  for (const OpenFolder& f : open_) {
    if (!f.refusal.empty()) return entry + "in folder " + f.refusal;
  }
  const std::string problem = ExtractNameProblem(name);
  return problem.empty() ? problem : entry + problem;
}

bool Extraction::File(std::size_t i, const VpDirEntry& e) {
  const std::string_view name = EntryName(e);
  const std::string path = walk_.PathOf(name);
  if (const std::string refusal = Refusal(i, path, name); !refusal.empty()) {
    Report("refused " + refusal);
    ++refused_;
    return false;
  }
  const host::ExtractFolder* target = nullptr;
  Status why = Target(&target);
  if (why.ok()) {
    why = target->WriteFile(std::string(name), reader_.file(), e.offset, e.size, e.timestamp);
  }
  if (!why.ok()) {
    Report("could not extract " + Printable(path) + ": " + Printable(why.Message()));
    ++failed_;
    return true;
  }
  ++written_;
  bytes_ += e.size;
  return true;
}

}  // namespace

int RunExtractArchive(const StartupOptions& options, Console& console) {
  Selection selection;
  if (Status why = selection.Compile(options.onlyPatterns); !why.ok()) {
    console.Error(why.Message());
    return 1;
  }
  VpReader reader;
  ConsoleWarnings warnings(console);
  if (!OpenArchive(options.archiveFile, &reader, console, warnings)) return 1;
  host::ExtractFolder root;
  if (Status why = root.OpenRoot(options.extractDir); !why.ok()) {
    console.Error(Failure("cannot extract into", options.extractDir, why));
    return 1;
  }
  const ChosenEntries chosen = ChooseEntries(reader, selection);
  std::unique_ptr<ProgressLine> progress = MakeProgressLine(console.err);
  if (progress != nullptr) progress->Begin(chosen.bytes, chosen.files);
  Extraction extraction(reader, root, chosen, progress.get(), console);
  extraction.Run();
  if (progress != nullptr) progress->Finish();
  console.Line("Extracted " + Counted(extraction.written(), "file", "files") + " (" +
               Counted(extraction.bytes(), "byte", "bytes") + ") into " + options.extractDir);
  if (extraction.refused() > 0 || extraction.failed() > 0) {
    console.Error("not everything was extracted: " + std::to_string(extraction.refused()) +
                  " refused, " + std::to_string(extraction.failed()) + " failed");
  }
  selection.WarnUnmatched(warnings);
  return extraction.refused() > 0 || extraction.failed() > 0 || warnings.count() > 0 ? 1 : 0;
}

}  // namespace quarrion
