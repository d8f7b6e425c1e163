#include "vp/check.h"

#include <algorithm>
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

struct DataSpan {
  std::int64_t offset = 0;
  std::int64_t end = 0;
  std::size_t index = 0;
  std::string path;
};

// The first entry of a path, a file's or a folder's.
struct FirstEntry {
  std::size_t index = 0;
  std::string path;
  bool folder = false;
};

}  // namespace

const EntryRefusal* ArchiveFindings::Refusal(std::size_t entry) const {
  auto it = std::lower_bound(refused.begin(), refused.end(), entry,
                             [](const EntryRefusal& r, std::size_t i) { return r.entry < i; });
  return it != refused.end() && it->entry == entry ? &*it : nullptr;
}

class DirectoryCheck::Impl {
 public:
  Impl(std::int64_t fileSize, ArchiveFindings& findings)
      : fileSize_(fileSize), findings_(findings) {}

  std::int64_t Header(const VpHeader& header);
  void Entry(std::size_t i, const VpDirEntry& e);
  void Finish();

 private:
  void Problem(std::string text) { findings_.problems.push_back(std::move(text)); }
  // A problem of entry `i`, which refuses it; `data` for a problem of its data.
  void EntryProblem(std::size_t i, const std::string& path, const std::string& text,
                    bool data = false) {
    findings_.refused.push_back(EntryRefusal{i, findings_.problems.size(), false, data});
    Problem("entry " + std::to_string(i) + " (" + Printable(path) + "): " + text);
  }
  // False when the header leaves the directory unknown.
  bool CheckHeader(const VpHeader& header);
  // The number of entries to read: the header's count, within the file.
  std::int64_t EntriesToRead(const VpHeader& header);
  void CheckName(std::size_t i, const std::string& path, std::string_view name);
  // Readers find only the first entry of a path, whatever the letter case,
  // and a file and a folder of one path cannot both be written out.
  void CheckPath(std::size_t i, const std::string& path, bool folder);
  void CheckData(std::size_t i, const std::string& path, const VpDirEntry& e);
  void CheckOverlaps();

  std::int64_t fileSize_;
  ArchiveFindings& findings_;
  std::int64_t dirOffset_ = 0;
  FolderWalk walk_;
  // For each open folder: the problem of the outermost folder with one
  // around and including it, kNone when there is none.
  std::vector<std::size_t> folderProblems_;
  std::vector<DataSpan> spans_;
  // Case-folded path -> its first entry.
  std::unordered_map<std::string, FirstEntry> paths_;
};

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
  const std::string_view name = EntryName(e);
  const std::size_t before = findings_.problems.size();
  switch (walk_.Next(e)) {
    case FolderWalk::Step::kStrayUp:
      findings_.refused.push_back(EntryRefusal{i, before, false, false});
      Problem("entry " + std::to_string(i) + " (..): closes no open folder");
      return;
    case FolderWalk::Step::kClose:
      folderProblems_.pop_back();
      return;
    case FolderWalk::Step::kOpen: {
      const std::string path = walk_.Current();
      CheckName(i, path, name);
      CheckPath(i, path, /*folder=*/true);
      const std::size_t outer = folderProblems_.empty() ? kNone : folderProblems_.back();
      const std::size_t own = findings_.problems.size() > before ? before : kNone;
      folderProblems_.push_back(outer != kNone ? outer : own);
      return;
    }
    case FolderWalk::Step::kFile:
      break;
  }
  const std::string path = walk_.PathOf(name);
  if (!folderProblems_.empty() && folderProblems_.back() != kNone) {
    findings_.refused.push_back(EntryRefusal{i, folderProblems_.back(), true, false});
  }
  CheckName(i, path, name);
  CheckPath(i, path, /*folder=*/false);
  ++findings_.files;
  CheckData(i, path, e);
}

void DirectoryCheck::Impl::CheckName(std::size_t i, const std::string& path,
                                     std::string_view name) {
  if (name.size() == kNameFieldSize) {
    EntryProblem(i, path, "the name is not terminated within 32 bytes");
  }
  if (Status plain = CheckPlainName(name); !plain.ok()) {
    EntryProblem(i, path, QuotedName(name) + " " + plain.reason);
  }
}

void DirectoryCheck::Impl::CheckPath(std::size_t i, const std::string& path, bool folder) {
  auto [first, added] = paths_.try_emplace(CaseFolded(path), FirstEntry{i, path, folder});
  // A folder may be opened again: its files go on in it.
  if (added || (folder && first->second.folder)) return;
  EntryProblem(i, path,
               "the same path as entry " + std::to_string(first->second.index) + " (" +
                   Printable(first->second.path) + "), letter case ignored");
}

void DirectoryCheck::Impl::CheckData(std::size_t i, const std::string& path, const VpDirEntry& e) {
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
                       Printable(reach->path) + ")",
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
