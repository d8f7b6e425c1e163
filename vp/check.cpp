#include "vp/check.h"

#include <algorithm>
#include <unordered_map>
#include <utility>

#include "base/counted.h"
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

}  // namespace

// Paths are compared by their case-folded form, held as a hash in an open
// table and spelt out only where hashes meet. An entry's path is its folder
// (an id) and its own index (whose name the directory holds): no string is
// made per entry, so a directory of 100,000 entries is checked in a few
// hundredths of a second.
struct PathIndex::Table {
  // The first entry of a path, a file's or a folder's.
  struct FirstEntry {
    std::uint64_t hash = 0;  // of the case-folded path
    std::uint32_t index = 0;
    std::uint32_t folder = kRoot;  // the folder it lies in
    bool isFolder = false;
  };
  // A folder the walk met: its path as the directory spells it, and the
  // hash of that path case-folded.
  struct FolderPath {
    std::string path;
    std::uint64_t hash = kHashStart;
  };

  // The path of entry `index` in `folder` as the directory spells it: the
  // folders and the name joined with backslashes.
  std::string Shown(const std::vector<VpDirEntry>& entries, std::uint32_t folder,
                    std::uint32_t index) const {
    std::string shown = folders[folder].path;
    if (folder != kRoot) shown += '\\';
    shown += EntryName(entries[index]);
    return shown;
  }
  std::uint64_t HashOf(std::uint32_t folder, std::string_view name) const {
    std::uint64_t hash = folders[folder].hash;
    if (folder != kRoot) hash = Mix(hash, '\\');
    for (char c : name) hash = Mix(hash, c);
    return hash;
  }
  // The first entry whose path has hash `hash` and is `path` (ASCII case
  // ignored), or null.
  const FirstEntry* Find(const std::vector<VpDirEntry>& entries, std::uint64_t hash,
                         std::string_view path) const;
  // The first entry of the path of `entry`, or null when `entry` is now it.
  const FirstEntry* FirstOf(const std::vector<VpDirEntry>& entries, const FirstEntry& entry);

  std::vector<FolderPath> folders{FolderPath{}};  // by id; the root first
  std::vector<FirstEntry> firsts;
  // An open table of indexes into firsts (+1, 0 for an empty slot), at most
  // half full.
  std::vector<std::uint32_t> slots;
};

using FirstEntry = PathIndex::Table::FirstEntry;

const FirstEntry* PathIndex::Table::Find(const std::vector<VpDirEntry>& entries, std::uint64_t hash,
                                         std::string_view path) const {
  if (slots.empty()) return nullptr;
  for (std::size_t s = hash & (slots.size() - 1); slots[s] != 0; s = (s + 1) & (slots.size() - 1)) {
    const FirstEntry& first = firsts[slots[s] - 1];
    if (first.hash == hash && EqualCaseFolded(Shown(entries, first.folder, first.index), path)) {
      return &first;
    }
  }
  return nullptr;
}

const FirstEntry* PathIndex::Table::FirstOf(const std::vector<VpDirEntry>& entries,
                                            const FirstEntry& entry) {
  if (slots.empty()) slots.assign(64, 0);
  std::size_t s = entry.hash & (slots.size() - 1);
  for (; slots[s] != 0; s = (s + 1) & (slots.size() - 1)) {
    const FirstEntry& first = firsts[slots[s] - 1];
    if (first.hash == entry.hash && EqualCaseFolded(Shown(entries, first.folder, first.index),
                                                    Shown(entries, entry.folder, entry.index))) {
      return &first;
    }
  }
  slots[s] = static_cast<std::uint32_t>(firsts.size() + 1);
  firsts.push_back(entry);
  if (2 * firsts.size() > slots.size()) {
    // Twice as many slots, every first entry placed anew.
    slots.assign(2 * slots.size(), 0);
    for (std::size_t k = 0; k < firsts.size(); ++k) {
      std::size_t t = firsts[k].hash & (slots.size() - 1);
      while (slots[t] != 0) t = (t + 1) & (slots.size() - 1);
      slots[t] = static_cast<std::uint32_t>(k + 1);
    }
  }
  return nullptr;
}

PathIndex::PathIndex() = default;
PathIndex::~PathIndex() = default;
PathIndex::PathIndex(PathIndex&&) noexcept = default;
PathIndex& PathIndex::operator=(PathIndex&&) noexcept = default;

std::optional<PathIndex::Found> PathIndex::Find(const std::vector<VpDirEntry>& entries,
                                                std::string_view path) const {
  if (table_ == nullptr) return std::nullopt;
  std::uint64_t hash = kHashStart;
  for (char c : path) hash = Mix(hash, c);
  const FirstEntry* first = table_->Find(entries, hash, path);
  if (first == nullptr) return std::nullopt;
  return Found{first->index, first->isFolder};
}

const EntryRefusal* ArchiveFindings::Refusal(std::size_t entry) const {
  auto it = std::lower_bound(refused.begin(), refused.end(), entry,
                             [](const EntryRefusal& r, std::size_t i) { return r.entry < i; });
  return it != refused.end() && it->entry == entry ? &*it : nullptr;
}

namespace {

// Where a file's data lie.
struct DataSpan {
  std::int64_t offset = 0;
  std::int64_t end = 0;
  std::uint32_t index = 0;
  std::uint32_t folder = kRoot;
};

}  // namespace

class DirectoryCheck::Impl {
 public:
  Impl(std::int64_t fileSize, const std::vector<VpDirEntry>& entries, ArchiveFindings& findings)
      : fileSize_(fileSize), entries_(entries), findings_(findings) {}

  std::int64_t Header(const VpHeader& header);
  void Entry(std::size_t i);
  void Finish(PathIndex* paths);

 private:
  void Problem(std::string text) { findings_.problems.push_back(std::move(text)); }
  // A problem of entry `i` in `folder`, which refuses it; `data` for a
  // problem of its data.
  void EntryProblem(std::size_t i, std::uint32_t folder, const std::string& text,
                    bool data = false) {
    findings_.refused.push_back(EntryRefusal{i, findings_.problems.size(), false, data});
    Problem("entry " + std::to_string(i) + " (" + Printable(Shown(folder, i)) + "): " + text);
  }
  std::string Shown(std::uint32_t folder, std::size_t i) const {
    return paths_.Shown(entries_, folder, static_cast<std::uint32_t>(i));
  }
  // The id of the folder the walk has just entered.
  std::uint32_t FolderId();
  // False when the header leaves the directory unknown.
  bool CheckHeader(const VpHeader& header);
  // The number of entries to read: the header's count, within the file.
  std::int64_t EntriesToRead(const VpHeader& header);
  void CheckName(std::size_t i, std::uint32_t folder, NameUse use);
  // Readers find only the first entry of a path, whatever the letter case,
  // and a file and a folder of one path cannot both be written out.
  void CheckPath(std::size_t i, std::uint32_t folder, bool isFolder);
  void CheckData(std::size_t i, std::uint32_t folder);
  void CheckOverlaps();

  std::int64_t fileSize_;
  const std::vector<VpDirEntry>& entries_;
  ArchiveFindings& findings_;
  std::int64_t dirOffset_ = 0;
  FolderWalk walk_;
  // The paths met, and the ids of their folders by the folders' names, each
  // ended by a NUL (no name holds one), so that the root and a folder of no
  // name differ.
  PathIndex::Table paths_;
  std::unordered_map<std::string, std::uint32_t> folderIds_;
  // For each open folder: its id, and the problem of the outermost folder
  // with one around and including it (kNone when there is none).
  struct Open {
    std::uint32_t id;
    std::size_t problem;
  };
  std::vector<Open> open_;
  std::vector<DataSpan> spans_;
};

std::uint32_t DirectoryCheck::Impl::FolderId() {
  std::string key;
  for (const std::string& name : walk_.folders()) {
    key += name;
    key += '\0';
  }
  std::vector<PathIndex::Table::FolderPath>& folders = paths_.folders;
  auto [it, fresh] = folderIds_.try_emplace(key, static_cast<std::uint32_t>(folders.size()));
  if (fresh) {
    PathIndex::Table::FolderPath folder{walk_.Current(), kHashStart};
    for (char c : folder.path) folder.hash = Mix(folder.hash, c);
    folders.push_back(std::move(folder));
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
    findings_.bytesAfterDirectory = true;
  }
  return count;
}

void DirectoryCheck::Impl::Entry(std::size_t i) {
  const std::uint32_t folder = open_.empty() ? kRoot : open_.back().id;
  const std::size_t before = findings_.problems.size();
  switch (walk_.Next(entries_[i])) {
    case FolderWalk::Step::kStrayUp:
      findings_.refused.push_back(EntryRefusal{i, before, false, false});
      Problem("entry " + std::to_string(i) + " (..): closes no open folder");
      return;
    case FolderWalk::Step::kClose:
      open_.pop_back();
      return;
    case FolderWalk::Step::kOpen: {
      CheckName(i, folder, NameUse::kFolder);
      CheckPath(i, folder, /*isFolder=*/true);
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
  CheckName(i, folder, NameUse::kFile);
  CheckPath(i, folder, /*isFolder=*/false);
  ++findings_.files;
  CheckData(i, folder);
}

void DirectoryCheck::Impl::CheckName(std::size_t i, std::uint32_t folder, NameUse use) {
  const std::string_view name = EntryName(entries_[i]);
  if (name.size() == kNameFieldSize) {
    EntryProblem(i, folder, "the name is not terminated within 32 bytes");
  }
  // A name read from the field is longer than 31 bytes only when it is not
  // terminated, which is reported above.
  if (Status why = quarrion::CheckName(name, use); !why.ok() && why.code != Code::kNameTooLong) {
    EntryProblem(i, folder, QuotedName(name) + " " + why.reason);
  }
}

void DirectoryCheck::Impl::CheckPath(std::size_t i, std::uint32_t folder, bool isFolder) {
  const auto index = static_cast<std::uint32_t>(i);
  const FirstEntry entry{paths_.HashOf(folder, EntryName(entries_[i])), index, folder, isFolder};
  const FirstEntry* first = paths_.FirstOf(entries_, entry);
  // A folder may be opened again: its files go on in it.
  if (first == nullptr || (isFolder && first->isFolder)) return;
  const std::string earlier = "entry " + std::to_string(first->index) + " (" +
                              Printable(Shown(first->folder, first->index)) + ")";
  if (isFolder != first->isFolder) {
    EntryProblem(i, folder, "a file and a folder of the same path, with " + earlier);
  } else {
    EntryProblem(i, folder, "the same path as " + earlier + ", letter case ignored");
  }
}

void DirectoryCheck::Impl::CheckData(std::size_t i, std::uint32_t folder) {
  const VpDirEntry& e = entries_[i];
  if (e.size < 0) {
    EntryProblem(i, folder, "the size " + std::to_string(e.size) + " is negative", true);
    return;
  }
  findings_.bytes += e.size;
  const std::int64_t begin = e.offset;
  const std::int64_t end = begin + e.size;
  if (begin < static_cast<std::int64_t>(kHeaderSize) || end > dirOffset_) {
    EntryProblem(i, folder,
                 "the data (offset " + std::to_string(begin) + ", " +
                     Counted(e.size, "byte", "bytes") + ") lie outside the data area (offset " +
                     std::to_string(kHeaderSize) + " up to " + std::to_string(dirOffset_) + ")",
                 true);
    return;
  }
  if (e.size > 0) spans_.push_back(DataSpan{begin, end, static_cast<std::uint32_t>(i), folder});
}

// Every file whose data begin before the data of an earlier-placed file end.
void DirectoryCheck::Impl::CheckOverlaps() {
  std::sort(spans_.begin(), spans_.end(), [](const DataSpan& a, const DataSpan& b) {
    return a.offset != b.offset ? a.offset < b.offset : a.index < b.index;
  });
  const DataSpan* reach = nullptr;  // the span that reaches furthest so far
  for (const DataSpan& s : spans_) {
    if (reach != nullptr && s.offset < reach->end) {
      EntryProblem(s.index, s.folder,
                   "the data overlap those of entry " + std::to_string(reach->index) + " (" +
                       Printable(Shown(reach->folder, reach->index)) + ")",
                   true);
    }
    if (reach == nullptr || s.end > reach->end) reach = &s;
  }
}

void DirectoryCheck::Impl::Finish(PathIndex* paths) {
  CheckOverlaps();
  if (paths != nullptr) paths->table_ = std::make_unique<PathIndex::Table>(std::move(paths_));
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

DirectoryCheck::DirectoryCheck(std::int64_t fileSize, const std::vector<VpDirEntry>& entries,
                               ArchiveFindings* findings)
    : impl_(std::make_unique<Impl>(fileSize, entries, *findings)) {}
DirectoryCheck::~DirectoryCheck() = default;
std::int64_t DirectoryCheck::Header(const VpHeader& header) { return impl_->Header(header); }
void DirectoryCheck::Entry(std::size_t i) { impl_->Entry(i); }
void DirectoryCheck::Finish(PathIndex* paths) { impl_->Finish(paths); }

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
  std::vector<VpDirEntry> entries;
  DirectoryCheck check(file.size(), entries, findings);
  const std::int64_t count = check.Header(header);
  entries.reserve(static_cast<std::size_t>(count));
  Status read = ReadDirectory(file, header.dirOffset, count,
                              [&check, &entries](std::size_t i, const VpDirEntry& e) {
                                entries.push_back(e);
                                check.Entry(i);
                              });
  if (!read.ok()) return read;
  check.Finish();
  return Status::Ok();
}

}  // namespace quarrion
