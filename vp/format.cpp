#include "vp/format.h"

#include <algorithm>

#include "base/text.h"
#include "vp/coding.h"

namespace quarrion {

static_assert(kHeaderSize == 4 + 3 * 4, "header is 16 bytes");
static_assert(kDirEntrySize == 4 + 4 + kNameFieldSize + 4, "directory entry is 44 bytes");

void EncodeHeader(const VpHeader& header, char* dst) {
  std::copy(header.magic.begin(), header.magic.end(), dst);
  EncodeInt32(dst + 4, header.version);
  EncodeInt32(dst + 8, header.dirOffset);
  EncodeInt32(dst + 12, header.dirEntries);
}

void EncodeDirEntry(const VpDirEntry& entry, char* dst) {
  EncodeInt32(dst, entry.offset);
  EncodeInt32(dst + 4, entry.size);
  std::copy(entry.name.begin(), entry.name.end(), dst + 8);
  EncodeInt32(dst + 40, entry.timestamp);
}

VpHeader DecodeHeader(const char* src) {
  VpHeader header;
  std::copy(src, src + 4, header.magic.begin());
  header.version = DecodeInt32(src + 4);
  header.dirOffset = DecodeInt32(src + 8);
  header.dirEntries = DecodeInt32(src + 12);
  return header;
}

VpDirEntry DecodeDirEntry(const char* src) {
  VpDirEntry entry;
  entry.offset = DecodeInt32(src);
  entry.size = DecodeInt32(src + 4);
  std::copy(src + 8, src + 8 + kNameFieldSize, entry.name.begin());
  entry.timestamp = DecodeInt32(src + 40);
  return entry;
}

bool MagicMatches(const std::array<char, 4>& magic) {
  for (std::size_t i = 0; i < 4; ++i) {
    if (AsciiLower(magic[i]) != AsciiLower(kVpMagic[i])) return false;
  }
  return true;
}

std::string_view EntryName(const VpDirEntry& entry) {
  const char* begin = entry.name.data();
  const char* end = std::find(begin, begin + kNameFieldSize, '\0');
  return std::string_view(begin, static_cast<std::size_t>(end - begin));
}

void SetEntryName(VpDirEntry* entry, std::string_view name) {
  entry->name.fill('\0');
  std::copy_n(name.begin(), std::min(name.size(), kMaxNameLength), entry->name.begin());
}

EntryKind ClassifyEntry(const VpDirEntry& entry) {
  if (entry.size != 0 || entry.timestamp != 0) return EntryKind::kFile;
  if (entry.name[0] == '.' && entry.name[1] == '.') return EntryKind::kUp;
  return EntryKind::kFolder;
}

void WriteHeader(std::string* out, const VpHeader& header) {
  char buf[kHeaderSize];
  EncodeHeader(header, buf);
  out->append(buf, kHeaderSize);
}

void WriteEntry(std::string* out, const VpDirEntry& entry) {
  char buf[kDirEntrySize];
  EncodeDirEntry(entry, buf);
  out->append(buf, kDirEntrySize);
}

void WriteFolderEntry(std::string* out, std::string_view name, std::int32_t offset) {
  VpDirEntry entry;
  entry.offset = offset;
  // A name that does not fit is refused by the layout before anything is
  // written; cut it here so the field always keeps its NUL.
  std::size_t n = std::min(name.size(), kMaxNameLength);
  std::copy(name.begin(), name.begin() + static_cast<std::ptrdiff_t>(n), entry.name.begin());
  WriteEntry(out, entry);
}

void WriteUpEntry(std::string* out, std::int32_t offset) {
  VpDirEntry entry;
  entry.offset = offset;
  entry.name.fill(static_cast<char>(0xCC));
  entry.name[0] = '.';
  entry.name[1] = '.';
  entry.name[2] = '\0';
  WriteEntry(out, entry);
}

}  // namespace quarrion
