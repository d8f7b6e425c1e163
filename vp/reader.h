// Reading VP archives: the header and the directory, checked against the
// file, and the look-up of an entry by name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "host/host.h"
#include "host/status.h"
#include "vp/format.h"

namespace quarrion {

// Reads `count` directory entries from `offset` of `file`, a slice at a time
// (a huge directory never needs a buffer of its whole size), and hands each
// to `visit` with its index. Fails when the file cannot be read or ends
// before the last entry (kChanged: it changed while it was read).
Status ReadDirectory(host::InputFile& file, std::int64_t offset, std::int64_t count,
                     const std::function<void(std::size_t, const VpDirEntry&)>& visit);

// An archive opened for reading: its header and every directory entry the
// file holds, and the file itself for copying entries' data out of it.
class VpReader {
 public:
  VpReader() = default;
  VpReader(const VpReader&) = delete;
  VpReader& operator=(const VpReader&) = delete;

  // Opens the archive and loads its directory. Fails when the file cannot be
  // opened or read, and with kNotVpArchive when it does not begin with
  // "VPVP" (ASCII case ignored) or its version is not 2; header() then
  // holds what the file begins with. Only the entries the file can hold are
  // loaded: a negative count or a directory offset outside the file gives
  // none, and a count too large for the rest of the file is cut to it.
  Status Open(std::string path);

  // Index of the first entry whose name equals `name`, ASCII case ignored,
  // compared up to the first NUL and over at most 32 bytes. Folder entries
  // take part.
  std::optional<std::size_t> Find(std::string_view name) const;

  // True when the entry's offset and size are not negative and its data end
  // within the archive file.
  bool EntryDataInFile(const VpDirEntry& entry) const;

  // The header as read; dirEntries counts the entries loaded.
  const VpHeader& header() const { return header_; }
  const std::vector<VpDirEntry>& entries() const { return entries_; }
  const std::string& archivePath() const { return archivePath_; }
  // Length of the archive file when it was opened.
  std::int64_t fileSize() const { return file_.size(); }
  // The open archive, for copying an entry's bytes straight into an output.
  host::InputFile& file() { return file_; }

 private:
  Status Load();

  std::vector<VpDirEntry> entries_;
  VpHeader header_;
  host::InputFile file_;
  std::string archivePath_;
  // Lower-cased name -> index of its first entry.
  std::unordered_map<std::string, std::size_t> index_;
};

}  // namespace quarrion
