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
#include "vp/names.h"
#include "vp/reader.h"
#include "vp/walk.h"

namespace quarrion {
namespace {

std::string Counted(std::int64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

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

// ---- -verify -----------------------------------------------------------------

struct DataSpan {
  std::int64_t offset = 0;
  std::int64_t end = 0;
  std::size_t index = 0;
  std::string path;
};

// The first file entry of a path.
struct FirstEntry {
  std::size_t index = 0;
  std::string path;
};

// Reports every problem of an archive file into `problems`. False (with the
// reason) only when the file could not be read.
class ArchiveCheck {
 public:
  ArchiveCheck(host::InputFile& file, std::vector<std::string>* problems)
      : file_(file), problems_(*problems) {}

  Status Run();

  std::int64_t files() const { return files_; }
  std::int64_t bytes() const { return bytes_; }

 private:
  void Problem(std::string text) { problems_.push_back(std::move(text)); }
  void Entry(std::size_t i, const std::string& path, const std::string& text) {
    Problem("entry " + std::to_string(i) + " (" + Printable(path) + "): " + text);
  }
  void CheckEntry(std::size_t i, const VpDirEntry& e);
  void CheckOverlaps();

  host::InputFile& file_;
  std::vector<std::string>& problems_;
  std::int64_t dirOffset_ = 0;
  FolderWalk walk_;
  std::vector<DataSpan> spans_;
  // Lower-cased path -> its first file entry.
  std::unordered_map<std::string, FirstEntry> paths_;
  std::int64_t files_ = 0;
  std::int64_t bytes_ = 0;
};

Status ArchiveCheck::Run() {
  const std::int64_t size = file_.size();
  if (size < static_cast<std::int64_t>(kHeaderSize)) {
    Problem("the file is " + Counted(size, "byte", "bytes") + " long, shorter than the " +
            std::to_string(kHeaderSize) + "-byte header");
    return Status::Ok();
  }
  char raw[kHeaderSize];
  std::size_t got = 0;
  if (Status s = file_.ReadAt(0, raw, kHeaderSize, &got); !s.ok()) return s;
  if (got < kHeaderSize) {
    return Status::Error(Code::kChanged, file_.path(), "ended early (changed while read?)");
  }
  const VpHeader header = DecodeHeader(raw);
  if (!MagicMatches(header.magic)) {
    Problem("the file does not begin with \"VPVP\"");
    return Status::Ok();
  }
  if (header.version != kVpVersion) {
    Problem("the version is " + std::to_string(header.version) + ", not 2");
    return Status::Ok();
  }

  dirOffset_ = header.dirOffset;
  if (dirOffset_ < static_cast<std::int64_t>(kHeaderSize) || dirOffset_ > size) {
    Problem("the directory offset " + std::to_string(dirOffset_) +
            " lies outside the file (after the header, up to its end at " + std::to_string(size) +
            ")");
    return Status::Ok();
  }
  std::int64_t count = header.dirEntries;
  if (count < 0) {
    Problem("the entry count " + std::to_string(count) + " is negative");
    count = 0;
  }
  // Never more entries than the file holds, whatever the header says.
  const std::int64_t room = (size - dirOffset_) / static_cast<std::int64_t>(kDirEntrySize);
  if (count > room) {
    Problem("the header counts " + Counted(count, "entry", "entries") + ", but only " +
            std::to_string(room) + " fit between the directory offset and the end of the file");
    count = room;
  } else if (const std::int64_t after =
                 size - dirOffset_ - count * static_cast<std::int64_t>(kDirEntrySize);
             after > 0 && header.dirEntries >= 0) {
    Problem("the file holds " + Counted(after, "byte", "bytes") +
            " after the last directory entry");
  }

  Status read = ReadDirectory(file_, dirOffset_, count,
                              [this](std::size_t i, const VpDirEntry& e) { CheckEntry(i, e); });
  if (!read.ok()) return read;
  CheckOverlaps();
  return Status::Ok();
}

void ArchiveCheck::CheckEntry(std::size_t i, const VpDirEntry& e) {
  const std::string_view name = EntryName(e);
  const bool terminated = name.size() < kNameFieldSize;
  switch (walk_.Next(e)) {
    case FolderWalk::Step::kStrayUp:
      Problem("entry " + std::to_string(i) + " (..): closes no open folder");
      return;
    case FolderWalk::Step::kClose:
      return;
    case FolderWalk::Step::kOpen: {
      const std::string path = walk_.Current();
      if (!terminated) Entry(i, path, "the name is not terminated within 32 bytes");
      if (Status plain = CheckPlainName(name); !plain.ok()) {
        Entry(i, path, QuotedName(name) + " " + plain.reason);
      }
      return;
    }
    case FolderWalk::Step::kFile:
      break;
  }
  const std::string path = walk_.PathOf(name);
  if (!terminated) Entry(i, path, "the name is not terminated within 32 bytes");
  if (Status plain = CheckPlainName(name); !plain.ok()) {
    Entry(i, path, QuotedName(name) + " " + plain.reason);
  }
  // Readers find only the first entry of a path, whatever the letter case.
  if (auto [first, added] = paths_.try_emplace(CaseFolded(path), FirstEntry{i, path}); !added) {
    Entry(i, path,
          "the same path as entry " + std::to_string(first->second.index) + " (" +
              Printable(first->second.path) + "), letter case ignored");
  }
  ++files_;
  if (e.size < 0) {
    Entry(i, path, "the size " + std::to_string(e.size) + " is negative");
    return;
  }
  bytes_ += e.size;
  const std::int64_t begin = e.offset;
  const std::int64_t end = begin + e.size;
  if (begin < static_cast<std::int64_t>(kHeaderSize) || end > dirOffset_) {
    Entry(i, path,
          "the data (offset " + std::to_string(begin) + ", " + Counted(e.size, "byte", "bytes") +
              ") lie outside the data area (offset " + std::to_string(kHeaderSize) + " up to " +
              std::to_string(dirOffset_) + ")");
    return;
  }
  if (e.size > 0) spans_.push_back(DataSpan{begin, end, i, path});
}

// Every file whose data begin before the data of an earlier-placed file end.
void ArchiveCheck::CheckOverlaps() {
  std::sort(spans_.begin(), spans_.end(), [](const DataSpan& a, const DataSpan& b) {
    return a.offset != b.offset ? a.offset < b.offset : a.index < b.index;
  });
  const DataSpan* reach = nullptr;  // the span that reaches furthest so far
  for (const DataSpan& s : spans_) {
    if (reach != nullptr && s.offset < reach->end) {
      Entry(s.index, s.path,
            "the data overlap those of entry " + std::to_string(reach->index) + " (" +
                Printable(reach->path) + ")");
    }
    if (reach == nullptr || s.end > reach->end) reach = &s;
  }
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
  std::vector<std::string> problems;
  ArchiveCheck check(file, &problems);
  if (Status why = check.Run(); !why.ok()) {
    console.Error(Failure("could not read archive", path, why));
    return 1;
  }
  for (const std::string& p : problems) console.Line(p);
  if (problems.empty()) {
    console.Line(path + " is sound: " + Counted(check.files(), "file", "files") + ", " +
                 Counted(check.bytes(), "byte", "bytes"));
    return 0;
  }
  console.Line(path + ": " +
               Counted(static_cast<std::int64_t>(problems.size()), "problem", "problems") +
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
