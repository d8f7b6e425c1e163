#include "vp/reader.h"

#include <algorithm>

#include "base/text.h"
#include "vp/walk.h"

namespace quarrion {
namespace {

// Directory entries are read in slices of this many.
constexpr std::size_t kEntriesPerRead = 4096;

// The key under which a name is indexed and looked up: the bytes up to the
// first NUL, at most one name field long, case-folded.
std::string LookupKey(std::string_view name) {
  return CaseFolded(name.substr(0, std::min(name.find('\0'), kNameFieldSize)));
}

}  // namespace

Status ReadDirectory(host::InputFile& file, std::int64_t offset, std::int64_t count,
                     const std::function<void(std::size_t, const VpDirEntry&)>& visit) {
  std::vector<char> buf;
  std::int64_t read = 0;
  while (read < count) {
    const std::size_t n = static_cast<std::size_t>(
        std::min<std::int64_t>(count - read, static_cast<std::int64_t>(kEntriesPerRead)));
    buf.resize(n * kDirEntrySize);
    std::size_t got = 0;
    const std::int64_t at = offset + read * static_cast<std::int64_t>(kDirEntrySize);
    if (Status s = file.ReadAt(at, buf.data(), buf.size(), &got); !s.ok()) return s;
    if (got < buf.size()) {
      return Status::Error(Code::kChanged, file.path(), "ended early (changed while read?)");
    }
    for (std::size_t k = 0; k < n; ++k) {
      visit(static_cast<std::size_t>(read) + k, DecodeDirEntry(buf.data() + k * kDirEntrySize));
    }
    read += static_cast<std::int64_t>(n);
  }
  return Status::Ok();
}

Status VpReader::Open(std::string path) {
  entries_.clear();
  header_ = VpHeader{};
  findings_ = ArchiveFindings{};
  paths_ = PathIndex();
  namesIndexed_ = false;
  names_.clear();
  folderOf_.clear();
  folders_.clear();
  host::InputFile file;
  if (Status s = file.Open(path); !s.ok()) return s;
  file_ = std::move(file);
  archivePath_ = std::move(path);
  return Load();
}

Status VpReader::Load() {
  // A file shorter than the header reads as if padded with zero bytes.
  char raw[kHeaderSize] = {};
  std::size_t got = 0;
  if (Status s = file_.ReadAt(0, raw, kHeaderSize, &got); !s.ok()) return s;
  header_ = DecodeHeader(raw);
  if (!MagicMatches(header_.magic)) {
    header_.dirEntries = 0;
    return Status::Error(Code::kNotVpArchive, archivePath_, "not a VP archive (wrong magic)");
  }
  if (header_.version != kVpVersion) {
    header_.dirEntries = 0;
    return Status::Error(Code::kNotVpArchive, archivePath_, "not a VP archive (version is not 2)");
  }

  // The check decides how many entries the file holds, and sees each.
  DirectoryCheck check(file_.size(), entries_, &findings_);
  const std::int64_t wanted = check.Header(header_);
  entries_.reserve(static_cast<std::size_t>(wanted));
  Status read = ReadDirectory(file_, header_.dirOffset, wanted,
                              [this, &check](std::size_t i, const VpDirEntry& e) {
                                entries_.push_back(e);
                                check.Entry(i);
                              });
  if (!read.ok()) {
    entries_.clear();
    findings_ = ArchiveFindings{};
    return read;
  }
  check.Finish(&paths_);
  header_.dirEntries = static_cast<std::int32_t>(entries_.size());
  return Status::Ok();
}

void VpReader::IndexNames() {
  if (namesIndexed_) return;
  namesIndexed_ = true;
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    const VpDirEntry& e = entries_[i];
    if (ClassifyEntry(e) != EntryKind::kFile) continue;
    NameIndex& name = names_.try_emplace(LookupKey(EntryName(e)), NameIndex{i, 0}).first->second;
    ++name.count;
  }
}

void VpReader::IndexFolders() {
  if (folderOf_.size() == entries_.size()) return;
  FolderWalk walk;
  // Folders by their names each ended by a NUL, so that the root (id 0) and
  // a folder of no name differ.
  std::unordered_map<std::string, std::uint32_t> ids;
  auto idOf = [&]() {
    std::string key;
    for (const std::string& name : walk.folders()) key += name + '\0';
    auto [it, fresh] = ids.try_emplace(key, static_cast<std::uint32_t>(folders_.size()));
    if (fresh) folders_.push_back(walk.Current());
    return it->second;
  };
  std::uint32_t current = idOf();
  folderOf_.resize(entries_.size());
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    if (walk.Next(entries_[i]) != FolderWalk::Step::kFile) current = idOf();
    folderOf_[i] = current;
  }
}

std::optional<FileMatch> VpReader::FindFile(std::string_view inner) {
  if (inner.find('\\') != std::string_view::npos) {
    // A leading backslash names the archive's root (\readme.txt); only a
    // folder of no name, which -verify reports, makes such a path too.
    std::optional<PathIndex::Found> found;
    if (inner.front() == '\\') found = paths_.Find(entries_, inner.substr(1));
    if (!found) found = paths_.Find(entries_, inner);
    if (!found || found->folder) return std::nullopt;
    return FileMatch{found->entry, 1};
  }
  IndexNames();
  auto it = names_.find(LookupKey(inner));
  if (it == names_.end()) return std::nullopt;
  return FileMatch{it->second.first, it->second.count};
}

std::string VpReader::PathOf(std::size_t i) {
  IndexFolders();
  const std::string& folder = folders_[folderOf_[i]];
  if (ClassifyEntry(entries_[i]) != EntryKind::kFile) return folder;
  if (folderOf_[i] == 0) return std::string(EntryName(entries_[i]));
  return folder + '\\' + std::string(EntryName(entries_[i]));
}

bool VpReader::EntryDataInFile(const VpDirEntry& entry) const {
  return entry.offset >= 0 && entry.size >= 0 &&
         static_cast<std::int64_t>(entry.offset) + entry.size <= file_.size();
}

}  // namespace quarrion
