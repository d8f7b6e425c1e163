#include "vp/reader.h"

#include <algorithm>

namespace quarrion {
namespace {

// Directory entries are read in slices of this many, so a large directory
// never needs a second buffer of its whole size.
constexpr std::size_t kEntriesPerRead = 4096;

// The key under which a name is indexed and looked up: the bytes up to the
// first NUL, at most one name field long, ASCII letters lower-cased. Two
// names compare equal exactly when their keys are equal.
std::string LookupKey(std::string_view name) {
  name = name.substr(0, std::min(name.find('\0'), kNameFieldSize));
  std::string key(name);
  for (char& c : key) c = AsciiLower(c);
  return key;
}

std::string Describe(std::int32_t loadResult) {
  return loadResult == -1 ? "not a VP archive (wrong magic)"
                          : "not a VP archive (version is not 2)";
}

}  // namespace

bool IsVpSourceReference(std::string_view path) {
  // Each colon, looked at with the three bytes before it.
  for (std::size_t colon = path.find(':', 3); colon != std::string_view::npos;
       colon = path.find(':', colon + 1)) {
    if (path[colon - 3] == '.' && AsciiLower(path[colon - 2]) == 'v' &&
        AsciiLower(path[colon - 1]) == 'p') {
      return true;
    }
  }
  return false;
}

std::string_view VpArchivePath(std::string_view reference) {
  std::size_t colon = reference.rfind(':');
  return colon == std::string_view::npos ? reference : reference.substr(0, colon);
}

bool VpReader::Open(std::string path, Status* why) {
  host::InputFile file;
  if (!file.Open(path, why)) return false;
  file_ = std::move(file);
  archivePath_ = std::move(path);
  Load();
  return true;
}

std::int32_t VpReader::Load() {
  entries_.clear();
  index_.clear();
  header_ = VpHeader{};
  loadResult_ = 0;
  if (!file_.is_open()) return 0;

  // A file shorter than the header reads as if padded with zero bytes.
  char raw[kHeaderSize] = {};
  std::size_t got = 0;
  if (!file_.ReadAt(0, raw, kHeaderSize, &got, nullptr)) got = 0;
  std::fill(raw + got, raw + kHeaderSize, '\0');
  header_ = DecodeHeader(raw);

  if (!MagicMatches(header_.magic)) {
    header_.dirEntries = 0;
    loadResult_ = -1;
    return loadResult_;
  }
  if (header_.version != kVpVersion) {
    header_.dirEntries = 0;
    loadResult_ = -2;
    return loadResult_;
  }

  // Only the entries the file can hold count: a negative count or an offset
  // outside the file gives none, and an oversized count is cut to what lies
  // between the offset and the end of the file.
  const std::int64_t fileSize = file_.size();
  const std::int64_t dirOffset = header_.dirOffset;
  std::int64_t wanted = header_.dirEntries;
  if (wanted < 0 || dirOffset < 0 || dirOffset > fileSize) wanted = 0;
  wanted = std::min<std::int64_t>(
      wanted, (fileSize - dirOffset) / static_cast<std::int64_t>(kDirEntrySize));
  entries_.reserve(static_cast<std::size_t>(std::max<std::int64_t>(wanted, 0)));

  std::vector<char> buf;
  std::int64_t position = dirOffset;
  while (static_cast<std::int64_t>(entries_.size()) < wanted) {
    std::size_t count = static_cast<std::size_t>(
        std::min<std::int64_t>(wanted - static_cast<std::int64_t>(entries_.size()),
                               static_cast<std::int64_t>(kEntriesPerRead)));
    buf.resize(count * kDirEntrySize);
    got = 0;
    if (!file_.ReadAt(position, buf.data(), buf.size(), &got, nullptr)) got = 0;
    // The file may have shrunk since it was opened: keep the complete entries.
    std::size_t complete = got / kDirEntrySize;
    for (std::size_t i = 0; i < complete; ++i) {
      entries_.push_back(DecodeDirEntry(buf.data() + i * kDirEntrySize));
    }
    if (complete < count) break;
    position += static_cast<std::int64_t>(got);
  }

  header_.dirEntries = static_cast<std::int32_t>(entries_.size());
  loadResult_ = header_.dirEntries;
  BuildIndex();
  return loadResult_;
}

void VpReader::BuildIndex() {
  index_.clear();
  index_.reserve(entries_.size());
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    // emplace keeps an existing key, so the first entry of a name stays.
    index_.emplace(LookupKey(EntryName(entries_[i])), static_cast<std::int32_t>(i));
  }
}

std::int32_t VpReader::Find(std::string_view name) const {
  auto it = index_.find(LookupKey(name));
  return it == index_.end() ? -1 : it->second;
}

std::int32_t VpReader::ReadEntry(std::int32_t index, std::vector<char>* out, Status* why) {
  out->clear();
  if (index < 0 || static_cast<std::size_t>(index) >= entries_.size()) {
    if (why != nullptr) {
      *why = Status::Error(Code::kOutOfRange,
                           archivePath_ + ": no directory entry " + std::to_string(index));
    }
    return -1;
  }
  const VpDirEntry& e = entries_[static_cast<std::size_t>(index)];
  if (!EntryDataInFile(e)) {
    if (why != nullptr) {
      *why = Status::Error(Code::kOutOfRange, archivePath_ + ": the data of \"" +
                                                  std::string(EntryName(e)) +
                                                  "\" lie outside the archive");
    }
    return -1;
  }
  out->resize(static_cast<std::size_t>(e.size));
  std::size_t got = 0;
  if (!file_.ReadAt(e.offset, out->data(), out->size(), &got, why)) {
    out->clear();
    return -1;
  }
  if (got < out->size()) {
    out->clear();
    if (why != nullptr) {
      *why = Status::Error(Code::kChanged, archivePath_ + ": the data of \"" +
                                               std::string(EntryName(e)) +
                                               "\" end early (archive changed since it was read?)");
    }
    return -1;
  }
  return e.size;
}

bool VpReader::EntryDataInFile(const VpDirEntry& entry) const {
  return entry.offset >= 0 && entry.size >= 0 &&
         static_cast<std::int64_t>(entry.offset) + entry.size <= file_.size();
}

VpReader* SourceArchives::Get(const std::string& archivePath, Status* why) {
  auto it = readers_.find(archivePath);
  if (it == readers_.end() || !it->second.checked) {
    host::FileInfo info;
    Status statError;
    if (!host::StatPath(archivePath, &info, &statError)) {
      readers_.erase(archivePath);
      if (why != nullptr) *why = std::move(statError);
      return nullptr;
    }
    const bool unchanged =
        it != readers_.end() && it->second.info.size == info.size &&
        it->second.info.mtime == info.mtime && it->second.info.mtimeNsec == info.mtimeNsec &&
        it->second.info.device == info.device && it->second.info.inode == info.inode;
    if (unchanged) it->second.checked = true;
  }
  if (it == readers_.end() || !it->second.checked) {
    auto reader = std::make_unique<VpReader>();
    if (!reader->Open(archivePath, why)) {
      readers_.erase(archivePath);
      return nullptr;
    }
    // The identity recorded is that of the file actually opened.
    Cached fresh;
    fresh.info = reader->file().info();
    fresh.reader = std::move(reader);
    fresh.checked = true;
    it = readers_.insert_or_assign(archivePath, std::move(fresh)).first;
  }

  VpReader* reader = it->second.reader.get();
  if (reader->loadResult() < 0) {
    if (why != nullptr) {
      *why =
          Status::Error(Code::kNotVpArchive, archivePath + ": " + Describe(reader->loadResult()));
    }
    return nullptr;
  }
  return reader;
}

}  // namespace quarrion
