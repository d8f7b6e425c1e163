// The bytes of a VP archive: a 16-byte header, the files' data back to back,
// and a directory of 44-byte entries in which folder entries and ".." (up)
// entries express the folder tree. Every integer is 32-bit little-endian.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quarrion {

constexpr std::size_t kHeaderSize = 16;
constexpr std::size_t kDirEntrySize = 44;
constexpr std::size_t kNameFieldSize = 32;
constexpr std::size_t kMaxNameLength = 31;
constexpr std::int32_t kVpVersion = 2;
constexpr std::int64_t kMaxOffset = 0x7fffffff;  // offsets and sizes are int32
constexpr std::array<char, 4> kVpMagic = {'V', 'P', 'V', 'P'};

// The header record; a default one is that of an archive this program writes.
struct VpHeader {
  std::array<char, 4> magic = kVpMagic;
  std::int32_t version = kVpVersion;
  std::int32_t dirOffset = 0;
  std::int32_t dirEntries = 0;
};

struct VpDirEntry {
  std::int32_t offset = 0;
  std::int32_t size = 0;
  std::array<char, kNameFieldSize> name{};  // NUL-terminated when written by us
  std::int32_t timestamp = 0;
};

// Encoding into exactly kHeaderSize / kDirEntrySize bytes at dst.
void EncodeHeader(const VpHeader& header, char* dst);
void EncodeDirEntry(const VpDirEntry& entry, char* dst);
// Decoding from exactly kHeaderSize / kDirEntrySize bytes at src.
VpHeader DecodeHeader(const char* src);
VpDirEntry DecodeDirEntry(const char* src);

// "VPVP" with ASCII letters compared without regard to case.
bool MagicMatches(const std::array<char, 4>& magic);

// The name up to its first NUL, never past the 32-byte field.
std::string_view EntryName(const VpDirEntry& entry);

// Stores `name` NUL-padded. The name is one CheckName accepts for a file
// (vp/names.h); a longer one is cut to 31 bytes, so the field always keeps
// its NUL.
void SetEntryName(VpDirEntry* entry, std::string_view name);

// How a reader tells the kinds apart: size and timestamp both 0 make a folder
// entry, or an up entry when the name begins with "..".
enum class EntryKind { kFile, kFolder, kUp };
EntryKind ClassifyEntry(const VpDirEntry& entry);

// Append the encoded records to `out`.
void WriteHeader(std::string* out, const VpHeader& header);
void WriteEntry(std::string* out, const VpDirEntry& entry);
// A folder entry: offset, size 0, the name NUL-padded with 0x00, timestamp 0.
void WriteFolderEntry(std::string* out, std::string_view name, std::int32_t offset);
// An up entry: offset, size 0, "..", NUL, 29 bytes of 0xCC, timestamp 0.
void WriteUpEntry(std::string* out, std::int32_t offset);

}  // namespace quarrion
