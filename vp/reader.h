// Reading VP archives: the header and the directory, checked against the
// file, and the look-up of a file entry by name or path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/status.h"
#include "host/host.h"
#include "vp/check.h"
#include "vp/format.h"

namespace quarrion {

// Reads `count` directory entries from `offset` of `file`, a slice at a time
// (a huge directory never needs a buffer of its whole size), and hands each
// to `visit` with its index. Fails when the file cannot be read or ends
// before the last entry (kChanged: it changed while it was read).
Status ReadDirectory(host::InputFile& file, std::int64_t offset, std::int64_t count,
                     const std::function<void(std::size_t, const VpDirEntry&)>& visit);

// A file entry found by FindFile.
struct FileMatch {
  std::size_t entry = 0;
  // For a look-up by name: how many file entries of the archive have that
  // name (in any folder, ASCII case ignored); 1 for a look-up by path.
  std::size_t sameName = 1;
};

// An archive opened for reading: its header, every directory entry the file
// holds and the findings of -verify's checks on them, and the file itself
// for copying entries' data out of it.
class VpReader {
 public:
  VpReader() = default;
  VpReader(const VpReader&) = delete;
  VpReader& operator=(const VpReader&) = delete;

  // Opens the archive, loads its directory and checks it. Fails when the
  // file cannot be opened or read, and with kNotVpArchive when it does not
  // begin with "VPVP" (ASCII case ignored) or its version is not 2;
  // header() then holds what the file begins with. Only the entries the
  // file can hold are loaded: a header that leaves the directory unknown (a
  // negative count, a directory offset outside the file or inside the
  // header, a file shorter than a header) gives none, and a count too large
  // for the rest of the file is cut to it. findings() says what is wrong.
  Status Open(std::string path);

  // The file entry that `inner` names: with a backslash in it, the first
  // file entry of exactly that path (data\maps\a.pof; \a.pof at the
  // archive's root); without, the first file entry of that name in any
  // folder. ASCII case is ignored; names are
  // compared up to the first NUL and over at most 32 bytes. Folder and up
  // entries are never found.
  std::optional<FileMatch> FindFile(std::string_view inner);

  // The path of entry `i` inside the archive: the open folders and its name
  // joined with backslashes (a folder entry's is the folder's own).
  std::string PathOf(std::size_t i);

  // True when the entry's offset and size are not negative and its data end
  // within the archive file.
  bool EntryDataInFile(const VpDirEntry& entry) const;

  // The header as read; dirEntries counts the entries loaded.
  const VpHeader& header() const { return header_; }
  const std::vector<VpDirEntry>& entries() const { return entries_; }
  const ArchiveFindings& findings() const { return findings_; }
  const std::string& archivePath() const { return archivePath_; }
  // The open archive, for copying an entry's bytes straight into an output.
  host::InputFile& file() { return file_; }

 private:
  Status Load();
  // The look-up by name and each entry's folder, made when first needed.
  void IndexNames();
  void IndexFolders();

  struct NameIndex {
    std::size_t first = 0;
    std::size_t count = 0;
  };

  std::vector<VpDirEntry> entries_;
  VpHeader header_;
  ArchiveFindings findings_;
  host::InputFile file_;
  std::string archivePath_;
  // The first entry of each path, as the check found them.
  PathIndex paths_;
  bool namesIndexed_ = false;
  // Case-folded file name -> its first file entry and the number of them.
  std::unordered_map<std::string, NameIndex> names_;
  // Each entry's folder, as an index into folders_ (empty until needed).
  std::vector<std::uint32_t> folderOf_;
  std::vector<std::string> folders_;
};

}  // namespace quarrion
