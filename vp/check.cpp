#include "vp/check.h"

#include <algorithm>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "vp/counted.h"
#include "vp/format.h"
#include "vp/names.h"
#include "vp/reader.h"
#include "vp/walk.h"

namespace quarrion {
namespace {

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

class ArchiveCheck {
 public:
  ArchiveCheck(host::InputFile& file, ArchiveFindings& findings)
      : file_(file), findings_(findings) {}

  Status Run();

 private:
  void Problem(std::string text) { findings_.problems.push_back(std::move(text)); }
  void Entry(std::size_t i, const std::string& path, const std::string& text) {
    Problem("entry " + std::to_string(i) + " (" + Printable(path) + "): " + text);
  }
  // The header, or nothing when the file is too short to hold one.
  Status ReadHeader(std::optional<VpHeader>* header);
  // False when the header leaves the directory unknown.
  bool CheckHeader(const VpHeader& header);
  // The number of entries to read: the header's count, within the file.
  std::int64_t EntriesToRead(const VpHeader& header);
  void CheckEntry(std::size_t i, const VpDirEntry& e);
  void CheckName(std::size_t i, const std::string& path, std::string_view name, NameUse use);
  // Readers find only the first entry of a path, whatever the letter case,
  // and a file and a folder of one path cannot both be written out.
  void CheckPath(std::size_t i, const std::string& path, bool folder);
  void CheckData(std::size_t i, const std::string& path, const VpDirEntry& e);
  void CheckOverlaps();

  host::InputFile& file_;
  ArchiveFindings& findings_;
  std::int64_t dirOffset_ = 0;
  FolderWalk walk_;
  std::vector<DataSpan> spans_;
  // Case-folded path -> its first entry.
  std::unordered_map<std::string, FirstEntry> paths_;
};

Status ArchiveCheck::Run() {
  std::optional<VpHeader> header;
  if (Status s = ReadHeader(&header); !s.ok()) return s;
  if (!header || !CheckHeader(*header)) return Status::Ok();
  const std::int64_t count = EntriesToRead(*header);
  Status read = ReadDirectory(file_, dirOffset_, count,
                              [this](std::size_t i, const VpDirEntry& e) { CheckEntry(i, e); });
  if (!read.ok()) return read;
  CheckOverlaps();
  return Status::Ok();
}

Status ArchiveCheck::ReadHeader(std::optional<VpHeader>* header) {
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
  *header = DecodeHeader(raw);
  return Status::Ok();
}

bool ArchiveCheck::CheckHeader(const VpHeader& header) {
  if (!MagicMatches(header.magic)) {
    Problem("the file does not begin with \"VPVP\"");
    return false;
  }
  if (header.version != kVpVersion) {
    Problem("the version is " + std::to_string(header.version) + ", not 2");
    return false;
  }
  const std::int64_t size = file_.size();
  dirOffset_ = header.dirOffset;
  if (dirOffset_ < static_cast<std::int64_t>(kHeaderSize) || dirOffset_ > size) {
    Problem("the directory offset " + std::to_string(dirOffset_) +
            " lies outside the file (after the header, up to its end at " + std::to_string(size) +
            ")");
    return false;
  }
  return true;
}

std::int64_t ArchiveCheck::EntriesToRead(const VpHeader& header) {
  std::int64_t count = header.dirEntries;
  if (count < 0) {
    Problem("the entry count " + std::to_string(count) + " is negative");
    return 0;
  }
  // Never more entries than the file holds, whatever the header says.
  const std::int64_t rest = file_.size() - dirOffset_;
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

void ArchiveCheck::CheckEntry(std::size_t i, const VpDirEntry& e) {
  const std::string_view name = EntryName(e);
  switch (walk_.Next(e)) {
    case FolderWalk::Step::kStrayUp:
      Problem("entry " + std::to_string(i) + " (..): closes no open folder");
      return;
    case FolderWalk::Step::kClose:
      return;
    case FolderWalk::Step::kOpen: {
      const std::string path = walk_.Current();
      CheckName(i, path, name, NameUse::kFolder);
      CheckPath(i, path, /*folder=*/true);
      return;
    }
    case FolderWalk::Step::kFile:
      break;
  }
  const std::string path = walk_.PathOf(name);
  CheckName(i, path, name, NameUse::kFile);
  CheckPath(i, path, /*folder=*/false);
  ++findings_.files;
  CheckData(i, path, e);
}

void ArchiveCheck::CheckName(std::size_t i, const std::string& path, std::string_view name,
                             NameUse use) {
  if (name.size() == kNameFieldSize) {
    Entry(i, path, "the name is not terminated within 32 bytes");
  }
  // A name read from the field is longer than 31 bytes only when it is not
  // terminated, which is reported above.
  if (Status why = quarrion::CheckName(name, use); !why.ok() && why.code != Code::kNameTooLong) {
    Entry(i, path, QuotedName(name) + " " + why.reason);
  }
}

void ArchiveCheck::CheckPath(std::size_t i, const std::string& path, bool folder) {
  auto [first, added] = paths_.try_emplace(CaseFolded(path), FirstEntry{i, path, folder});
  // A folder may be opened again: its files go on in it.
  if (added || (folder && first->second.folder)) return;
  const std::string earlier =
      "entry " + std::to_string(first->second.index) + " (" + Printable(first->second.path) + ")";
  if (folder != first->second.folder) {
    Entry(i, path, "a file and a folder of the same path, with " + earlier);
  } else {
    Entry(i, path, "the same path as " + earlier + ", letter case ignored");
  }
}

void ArchiveCheck::CheckData(std::size_t i, const std::string& path, const VpDirEntry& e) {
  if (e.size < 0) {
    Entry(i, path, "the size " + std::to_string(e.size) + " is negative");
    return;
  }
  findings_.bytes += e.size;
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

}  // namespace

Status CheckArchive(host::InputFile& file, ArchiveFindings* findings) {
  return ArchiveCheck(file, *findings).Run();
}

}  // namespace quarrion
