// Looking into archives: -list prints the files, -verify checks the bytes
// and reports every problem, -extract writes the files into a folder.
#include "shell/examine.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <string>
#include <unordered_map>
#include <vector>

#include "host/extract.h"
#include "host/host.h"
#include "shell/modes.h"
#include "vp/check.h"
#include "vp/counted.h"
#include "vp/names.h"
#include "vp/reader.h"
#include "vp/walk.h"

namespace quarrion {
namespace {

// Opens the archive for -list and -extract. Prints the error and returns
// false when it cannot be opened or is not a VP archive.
bool OpenArchive(const std::string& path, VpReader* reader, Console& console) {
  Status why = reader->Open(path);
  if (why.ok()) return true;
  if (why.code != Code::kNotVpArchive) {
    console.Error(Failure("cannot open archive", path, why));
  } else if (!MagicMatches(reader->header().magic)) {
    console.Error(path + ": not a VP archive (it does not begin with \"VPVP\")");
  } else {
    console.Error(path + ": not a VP archive of version 2 (version " +
                  std::to_string(reader->header().version) + ")");
  }
  return false;
}

// ---- -extract ----------------------------------------------------------------

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

std::string UtcTimeText(std::int64_t seconds) {
  // Days and seconds of the day, then the civil date of the day count
  // (the proleptic Gregorian calendar, valid far beyond the int32 range).
  std::int64_t days = seconds / 86400;
  std::int64_t rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  const std::int64_t z = days + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const std::int64_t day = doy - (153 * mp + 2) / 5 + 1;
  const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
  char text[64];
  std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld",
                static_cast<long long>(year), static_cast<long long>(month),
                static_cast<long long>(day), static_cast<long long>(rest / 3600),
                static_cast<long long>(rest / 60 % 60), static_cast<long long>(rest % 60));
  return text;
}

// ---- the modes -------------------------------------------------------------------

int RunListArchive(const StartupOptions& options, Console& console) {
  VpReader reader;
  if (!OpenArchive(options.archiveFile, &reader, console)) return 1;
  FolderWalk walk;
  std::int64_t files = 0;
  std::int64_t bytes = 0;
  for (const VpDirEntry& e : reader.entries()) {
    if (walk.Next(e) != FolderWalk::Step::kFile) continue;
    char size[16];
    std::snprintf(size, sizeof size, "%10ld", static_cast<long>(e.size));
    console.Line(std::string(size) + "  " + UtcTimeText(e.timestamp) + "  " +
                 Printable(walk.PathOf(EntryName(e))));
    ++files;
    bytes += e.size;
  }
  console.Line(Counted(files, "file", "files") + ", " + Counted(bytes, "byte", "bytes"));
  return 0;
}

int RunVerifyArchive(const StartupOptions& options, Console& console) {
  const std::string& path = options.archiveFile;
  host::InputFile file;
  if (Status why = file.Open(path); !why.ok()) {
    console.Error(Failure("cannot open archive", path, why));
    return 1;
  }
  ArchiveFindings findings;
  if (Status why = CheckArchive(file, &findings); !why.ok()) {
    console.Error(Failure("could not read archive", path, why));
    return 1;
  }
  for (const std::string& p : findings.problems) console.Line(p);
  if (findings.problems.empty()) {
    console.Line(path + " is sound: " + Counted(findings.files, "file", "files") + ", " +
                 Counted(findings.bytes, "byte", "bytes"));
    return 0;
  }
  console.Line(path + ": " +
               Counted(static_cast<std::int64_t>(findings.problems.size()), "problem", "problems") +
               " found");
  return 1;
}

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
