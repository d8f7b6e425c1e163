// Reading VP archives: the header and directory, look-up by name, and the
// data of one entry. Also the recognition of VP source references, the paths
// of the form archive.vp:name that name a file inside another archive.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "host/host.h"
#include "host/status.h"
#include "vp/format.h"

namespace quarrion {

// True when `path` contains ".vp:", letters in any case (PACK.VP:a.tbl), anywhere.
bool IsVpSourceReference(std::string_view path);

// The archive part of a reference: everything before its last ':'.
std::string_view VpArchivePath(std::string_view reference);

class VpReader {
 public:
  VpReader() = default;
  explicit VpReader(const std::string& path) { Open(path); }
  VpReader(const VpReader&) = delete;
  VpReader& operator=(const VpReader&) = delete;

  // Opens the archive and loads its directory. False only when the file
  // cannot be opened; a file that is no VP archive opens with no entries.
  bool Open(std::string path, Status* why = nullptr);

  // Reads and checks the header and the directory: the entry count, or -1
  // (wrong magic) or -2 (wrong version). Never reads or allocates beyond the
  // file: the count is bounded by what the file holds.
  std::int32_t Load();

  // Index of the first entry whose name equals `name`, ASCII case ignored,
  // or -1. Folder entries take part.
  std::int32_t Find(std::string_view name) const;

  // Reads the data of entry `index` into `out`: the entry's size, or -1 for an
  // index outside the directory or data that lie outside the file.
  std::int32_t ReadEntry(std::int32_t index, std::vector<char>* out, Status* why = nullptr);

  // True when the entry's offset and size are not negative and its data end
  // within the archive file.
  bool EntryDataInFile(const VpDirEntry& entry) const;

  const VpHeader& header() const { return header_; }
  const std::vector<VpDirEntry>& entries() const { return entries_; }
  const std::string& archivePath() const { return archivePath_; }
  // Result of the last Load: the entry count, -1 or -2 (0 before any Load).
  std::int32_t loadResult() const { return loadResult_; }
  // Length of the archive file when it was opened.
  std::int64_t fileSize() const { return file_.size(); }
  // The open archive, for copying an entry's bytes straight into an output.
  host::InputFile& file() { return file_; }

 private:
  void BuildIndex();

  std::vector<VpDirEntry> entries_;
  VpHeader header_;
  host::InputFile file_;
  std::string archivePath_;
  std::int32_t loadResult_ = 0;
  // Lower-cased name -> index of its first entry.
  std::unordered_map<std::string, std::int32_t> index_;
};

// The source archives of one operation (a batch mode, one interactive
// command, one archive write): each archive is opened and its directory read
// once, however many references point into it. The first use of an archive
// after the set was made or told to Recheck looks at the file on disk, and
// an archive that changed since it was read (size, time or identity) is
// read again; later uses trust the reader, since nothing waits in between.
class SourceArchives {
 public:
  // The reader for `archivePath`, or nullptr with the reason when the archive
  // cannot be opened (the host's code, kNotFound for a missing file) or is
  // not a VP archive (kNotVpArchive).
  VpReader* Get(const std::string& archivePath, Status* why);

  // After a wait (for an answer typed at the console): the next use of each
  // archive looks at the file on disk again.
  void Recheck() {
    for (auto& [path, cached] : readers_) cached.checked = false;
  }

  void Clear() { readers_.clear(); }

 private:
  struct Cached {
    std::unique_ptr<VpReader> reader;
    host::FileInfo info;
    bool checked = false;  // looked at on disk since the last Recheck
  };
  std::unordered_map<std::string, Cached> readers_;
};

}  // namespace quarrion
