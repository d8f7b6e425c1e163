#include "vp/check.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "vp/counted.h"
#include "vp/names.h"
#include "vp/reader.h"
#include "vp/walk.h"

namespace quarrion {
namespace {

constexpr std::size_t kNone = static_cast<std::size_t>(-1);
constexpr std::uint32_t kRoot = 0;  // the folder id of the archive's root

// FNV-1a, fed a byte at a time, over case-folded paths.
constexpr std::uint64_t kHashStart = 0xcbf29ce484222325ull;
std::uint64_t Mix(std::uint64_t hash, char c) {
  return (hash ^ static_cast<unsigned char>(AsciiLower(c))) * 0x100000001b3ull;
}

// A path inside the archive, kept without a string of its own: the folder
// it lies in and its name.
struct EntryPath {
  std::uint32_t folder = kRoot;
  std::uint8_t length = 0;
  std::array<char, kNameFieldSize> name{};

  std::string_view Name() const { return {name.data(), length}; }
};

struct DataSpan {
  std::int64_t offset = 0;
  std::int64_t end = 0;
  std::size_t index = 0;
  EntryPath path;
};

// The first entry of a path, a file's or a folder's.
struct FirstEntry {
  std::uint64_t hash = 0;  // of the case-folded path
  std::size_t index = 0;
  EntryPath path;
  bool folder = false;
};

// A folder the walk met: its path as the directory spells it, and the hash
// of that path case-folded.
struct FolderPath {
  std::string path;
  std::uint64_t hash = kHashStart;
};

}  // namespace

const EntryRefusal* ArchiveFindings::Refusal(std::size_t entry) const {
  auto it = std::lower_bound(refused.begin(), refused.end(), entry,
                             [](const EntryRefusal& r, std::size_t i) { return r.entry < i; });
  return it != refused.end() && it->entry == entry ? &*it : nullptr;
}

// Paths are compared by their case-folded form, held as a hash in an open
// table and compared in full only where hashes meet: no string is made per
// entry, so a directory of 100,000 entries is checked in a few hundredths
// of a second.
class DirectoryCheck::Impl {
 public:
  Impl(std::int64_t fileSize, ArchiveFindings& findings)
      : fileSize_(fileSize), findings_(findings) {
    folders_.push_back(FolderPath{});  // the root
  }

  std::int64_t Header(const VpHeader& header);
  void Entry(std::size_t i, const VpDirEntry& e);
  void Finish();

 private:
  void Problem(std::string text) { findings_.problems.push_back(std::move(text)); }
  // A problem of entry `i`, which refuses it; `data` for a problem of its data.
  void EntryProblem(std::size_t i, const EntryPath& path, const std::string& text,
                    bool data = false) {
    findings_.refused.push_back(EntryRefusal{i, findings_.problems.size(), false, data});
    Problem("entry " + std::to_string(i) + " (" + Printable(Shown(path)) + "): " + text);
  }
  // The path as the directory spells it: its folders and name joined with
  // backslashes.
  std::string Shown(const EntryPath& path) const {
    std::string shown = folders_[path.folder].path;
    if (path.folder != kRoot) shown += '\\';
    shown += path.Name();
    return shown;
  }
  std::uint64_t HashOf(const EntryPath& path) const {
    std::uint64_t hash = folders_[path.folder].hash;
    if (path.folder != kRoot) hash = Mix(hash, '\\');
    for (char c : path.Name()) hash = Mix(hash, c);
    return hash;
  }
  // The id of the folder the walk has just entered or gone back to.
  std::uint32_t FolderId();
  // False when the header leaves the directory unknown.
  bool CheckHeader(const VpHeader& header);
  // The number of entries to read: the header's count, within the file.
  std::int64_t EntriesToRead(const VpHeader& header);
  void CheckName(std::size_t i, const EntryPath& path);
  // Readers find only the first entry of a path, whatever the letter case,
  // and a file and a folder of one path cannot both be written out.
  void CheckPath(std::size_t i, const EntryPath& path, bool folder);
  // The first entry of the path, or null when `first` is now it.
  const FirstEntry* FirstOf(const FirstEntry& first);
  void CheckData(std::size_t i, const EntryPath& path, const VpDirEntry& e);
  void CheckOverlaps();

  std::int64_t fileSize_;
  ArchiveFindings& findings_;
  std::int64_t dirOffset_ = 0;
  FolderWalk walk_;
  // The folders met, by id; their ids by their folders' names, each ended
  // by a NUL (no name holds one), so that the root and a folder of no name
  // differ.
  std::vector<FolderPath> folders_;
  std::unordered_map<std::string, std::uint32_t> folderIds_;
  // For each open folder: its id, and the problem of the outermost folder
  // with one around and including it (kNone when there is none).
  struct Open {
    std::uint32_t id;
    std::size_t problem;
  };
  std::vector<Open> open_;
  std::vector<DataSpan> spans_;
  // The first entry of each path; an open table of indexes into firsts_
  // (+1, 0 for an empty slot), at most half full.
  std::vector<FirstEntry> firsts_;
  std::vector<std::uint32_t> slots_;
};

std::uint32_t DirectoryCheck::Impl::FolderId() {
  std::string key;
  for (const std::string& name : walk_.folders()) {
    key += name;
    key += '\0';
  }
  auto [it, fresh] = folderIds_.try_emplace(key, static_cast<std::uint32_t>(folders_.size()));
  if (fresh) {
    FolderPath folder{walk_.Current(), kHashStart};
    for (char c : folder.path) folder.hash = Mix(folder.hash, c);
    folders_.push_back(std::move(folder));
  }
  return it->second;
}

std::int64_t DirectoryCheck::Impl::Header(const VpHeader& header) {
  std::int64_t count = 0;
  if (fileSize_ < static_cast<std::int64_t>(kHeaderSize)) {
    Problem("the file is " + Counted(fileSize_, "byte", "bytes") + " long, shorter than the " +
            std::to_string(kHeaderSize) + "-byte header");
  } else if (CheckHeader(header)) {
    count = EntriesToRead(header);
  }
  findings_.wholeFile = findings_.problems.size();
  return count;
}

bool DirectoryCheck::Impl::CheckHeader(const VpHeader& header) {
  if (!MagicMatches(header.magic)) {
    Problem("the file does not begin with \"VPVP\"");
    return false;
  }
  if (header.version != kVpVersion) {
    Problem("the version is " + std::to_string(header.version) + ", not 2");
    return false;
  }
  dirOffset_ = header.dirOffset;
  if (dirOffset_ < static_cast<std::int64_t>(kHeaderSize) || dirOffset_ > fileSize_) {
    Problem("the directory offset " + std::to_string(dirOffset_) +
            " lies outside the file (after the header, up to its end at " +
            std::to_string(fileSize_) + ")");
    return false;
  }
  return true;
}

std::int64_t DirectoryCheck::Impl::EntriesToRead(const VpHeader& header) {
  std::int64_t count = header.dirEntries;
  if (count < 0) {
    Problem("the entry count " + std::to_string(count) + " is negative");
    return 0;
  }
  // Never more entries than the file holds, whatever the header says.
  const std::int64_t rest = fileSize_ - dirOffset_;
  const std::int64_t room = rest / static_cast<std::int64_t>(kDirEntrySize);
  if (count > room) {
    Problem("the header counts " + Counted(count, "entry", "entries") + ", but only " +
            std::to_string(room) + " fit between the directory offset and the end of the file");
    return room;
  }
  if (const std::int64_t after = rest - count * static_cast<std::int64_t>(kDirEntrySize);
      after > 0) {
    Problem("the file holds " + Counted(after, "byte", "bytes") +
            " after the last directory entry");
  }
  return count;
}

void DirectoryCheck::Impl::Entry(std::size_t i, const VpDirEntry& e) {
  EntryPath path;
  path.folder = open_.empty() ? kRoot : open_.back().id;
  const std::string_view name = EntryName(e);
  path.length = static_cast<std::uint8_t>(name.size());
  std::copy(name.begin(), name.end(), path.name.begin());
  const std::size_t before = findings_.problems.size();
  switch (walk_.Next(e)) {
    case FolderWalk::Step::kStrayUp:
      findings_.refused.push_back(EntryRefusal{i, before, false, false});
      Problem("entry " + std::to_string(i) + " (..): closes no open folder");
      return;
    case FolderWalk::Step::kClose:
      open_.pop_back();
      return;
    case FolderWalk::Step::kOpen: {
      CheckName(i, path);
      CheckPath(i, path, /*folder=*/true);
      const std::size_t outer = open_.empty() ? kNone : open_.back().problem;
      const std::size_t own = findings_.problems.size() > before ? before : kNone;
      open_.push_back(Open{FolderId(), outer != kNone ? outer : own});
      return;
    }
    case FolderWalk::Step::kFile:
      break;
  }
  if (!open_.empty() && open_.back().problem != kNone) {
    findings_.refused.push_back(EntryRefusal{i, open_.back().problem, true, false});
  }
  CheckName(i, path);
  CheckPath(i, path, /*folder=*/false);
  ++findings_.files;
  CheckData(i, path, e);
}

void DirectoryCheck::Impl::CheckName(std::size_t i, const EntryPath& path) {
  const std::string_view name = path.Name();
  if (name.size() == kNameFieldSize) {
    EntryProblem(i, path, "the name is not terminated within 32 bytes");
  }
  if (Status plain = CheckPlainName(name); !plain.ok()) {
    EntryProblem(i, path, QuotedName(name) + " " + plain.reason);
  }
}

void DirectoryCheck::Impl::CheckPath(std::size_t i, const EntryPath& path, bool folder) {
  const FirstEntry* first = FirstOf(FirstEntry{HashOf(path), i, path, folder});
  // A folder may be opened again: its files go on in it.
  if (first == nullptr || (folder && first->folder)) return;
  EntryProblem(i, path,
               "the same path as entry " + std::to_string(first->index) + " (" +
                   Printable(Shown(first->path)) + "), letter case ignored");
}

const FirstEntry* DirectoryCheck::Impl::FirstOf(const FirstEntry& entry) {
  if (2 * (firsts_.size() + 1) > slots_.size()) {
    // Twice as many slots, every first entry placed anew.
    slots_.assign(std::max<std::size_t>(64, 2 * slots_.size()), 0);
    for (std::size_t k = 0; k < firsts_.size(); ++k) {
      std::size_t s = firsts_[k].hash & (slots_.size() - 1);
      while (slots_[s] != 0) s = (s + 1) & (slots_.size() - 1);
      slots_[s] = static_cast<std::uint32_t>(k + 1);
    }
  }
  std::size_t s = entry.hash & (slots_.size() - 1);
  for (; slots_[s] != 0; s = (s + 1) & (slots_.size() - 1)) {
    const FirstEntry& first = firsts_[slots_[s] - 1];
    if (first.hash == entry.hash && EqualCaseFolded(Shown(first.path), Shown(entry.path))) {
      return &first;
    }
  }
  slots_[s] = static_cast<std::uint32_t>(firsts_.size() + 1);
  firsts_.push_back(entry);
  return nullptr;
}

void DirectoryCheck::Impl::CheckData(std::size_t i, const EntryPath& path, const VpDirEntry& e) {
  if (e.size < 0) {
    EntryProblem(i, path, "the size " + std::to_string(e.size) + " is negative", true);
    return;
  }
  findings_.bytes += e.size;
  const std::int64_t begin = e.offset;
  const std::int64_t end = begin + e.size;
  if (begin < static_cast<std::int64_t>(kHeaderSize) || end > dirOffset_) {
    EntryProblem(i, path,
                 "the data (offset " + std::to_string(begin) + ", " +
                     Counted(e.size, "byte", "bytes") + ") lie outside the data area (offset " +
                     std::to_string(kHeaderSize) + " up to " + std::to_string(dirOffset_) + ")",
                 true);
    return;
  }
  if (e.size > 0) spans_.push_back(DataSpan{begin, end, i, path});
}

// Every file whose data begin before the data of an earlier-placed file end.
void DirectoryCheck::Impl::CheckOverlaps() {
  std::sort(spans_.begin(), spans_.end(), [](const DataSpan& a, const DataSpan& b) {
    return a.offset != b.offset ? a.offset < b.offset : a.index < b.index;
  });
  const DataSpan* reach = nullptr;  // the span that reaches furthest so far
  for (const DataSpan& s : spans_) {
    if (reach != nullptr && s.offset < reach->end) {
      EntryProblem(s.index, s.path,
                   "the data overlap those of entry " + std::to_string(reach->index) + " (" +
                       Printable(Shown(reach->path)) + ")",
                   true);
    }
    if (reach == nullptr || s.end > reach->end) reach = &s;
  }
}

void DirectoryCheck::Impl::Finish() {
  CheckOverlaps();
  // Each entry once: its own first problem of its data, else its own first
  // problem, else that of its folder.
  std::vector<EntryRefusal>& r = findings_.refused;
  std::sort(r.begin(), r.end(), [](const EntryRefusal& a, const EntryRefusal& b) {
    if (a.entry != b.entry) return a.entry < b.entry;
    if (a.inFolder != b.inFolder) return !a.inFolder;
    if (a.data != b.data) return a.data;
    return a.problem < b.problem;
  });
  r.erase(
      std::unique(r.begin(), r.end(),
                  [](const EntryRefusal& a, const EntryRefusal& b) { return a.entry == b.entry; }),
      r.end());
}

DirectoryCheck::DirectoryCheck(std::int64_t fileSize, ArchiveFindings* findings)
    : impl_(std::make_unique<Impl>(fileSize, *findings)) {}
DirectoryCheck::~DirectoryCheck() = default;
std::int64_t DirectoryCheck::Header(const VpHeader& header) { return impl_->Header(header); }
void DirectoryCheck::Entry(std::size_t i, const VpDirEntry& entry) { impl_->Entry(i, entry); }
void DirectoryCheck::Finish() { impl_->Finish(); }

Status CheckArchive(host::InputFile& file, ArchiveFindings* findings) {
  // A file shorter than the header reads as if padded with zero bytes; the
  // check then stops at its length.
  char raw[kHeaderSize] = {};
  const std::size_t wanted =
      static_cast<std::size_t>(std::min<std::int64_t>(file.size(), kHeaderSize));
  std::size_t got = 0;
  if (Status s = file.ReadAt(0, raw, wanted, &got); !s.ok()) return s;
  if (got < wanted) {
    return Status::Error(Code::kChanged, file.path(), "ended early (changed while read?)");
  }
  const VpHeader header = DecodeHeader(raw);
  DirectoryCheck check(file.size(), findings);
  const std::int64_t count = check.Header(header);
  Status read = ReadDirectory(file, header.dirOffset, count,
                              [&check](std::size_t i, const VpDirEntry& e) { check.Entry(i, e); });
  if (!read.ok()) return read;
  check.Finish();
  return Status::Ok();
}

}  // namespace quarrion
