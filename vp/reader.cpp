#include "vp/reader.h"

#include <algorithm>

#include "vp/names.h"

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
  index_.clear();
  header_ = VpHeader{};
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

  const std::int64_t fileSize = file_.size();
  const std::int64_t dirOffset = header_.dirOffset;
  std::int64_t wanted = header_.dirEntries;
  if (wanted < 0 || dirOffset < 0 || dirOffset > fileSize) wanted = 0;
  wanted = std::min<std::int64_t>(
      wanted, (fileSize - dirOffset) / static_cast<std::int64_t>(kDirEntrySize));
  entries_.reserve(static_cast<std::size_t>(std::max<std::int64_t>(wanted, 0)));
  Status read = ReadDirectory(file_, dirOffset, wanted,
                              [this](std::size_t, const VpDirEntry& e) { entries_.push_back(e); });
  if (!read.ok()) {
    entries_.clear();
    return read;
  }
  header_.dirEntries = static_cast<std::int32_t>(entries_.size());
  index_.reserve(entries_.size());
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    // emplace keeps an existing key, so the first entry of a name stays.
    index_.emplace(LookupKey(EntryName(entries_[i])), i);
  }
  return Status::Ok();
}

std::optional<std::size_t> VpReader::Find(std::string_view name) const {
  auto it = index_.find(LookupKey(name));
  if (it == index_.end()) return std::nullopt;
  return it->second;
}

bool VpReader::EntryDataInFile(const VpDirEntry& entry) const {
  return entry.offset >= 0 && entry.size >= 0 &&
         static_cast<std::int64_t>(entry.offset) + entry.size <= file_.size();
}

}  // namespace quarrion
