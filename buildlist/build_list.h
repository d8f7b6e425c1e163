// The build list: the files the next archive will hold, in the order they
// were added until the layout sorts them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "buildlist/warnings.h"
#include "vp/format.h"

namespace quarrion {

// One file to pack.
struct FileRecord {
  FileRecord();  // empty strings, zero sizes and name, timestamp = now

  // Where the bytes come from, decided where the record was made: a file on
  // disk, or an entry of another archive.
  enum class Source { kDisk, kArchive };
  Source source = Source::kDisk;
  // The file on disk; for an archive entry, the reference as list files
  // keep it (archive:inner name), which is only ever written out again.
  std::string path;
  // The directory entry the archive will carry: its name, size and time are
  // the file's, its offset is set by the layout.
  VpDirEntry entry;
  std::string folder;  // folder inside the archive, backslash-separated, verbatim
  // For an archive entry: the archive's path and the index of the entry in
  // its directory.
  std::string sourceArchive;
  std::int64_t sourceEntry = -1;

  std::string_view name() const { return EntryName(entry); }
};

struct BuildList {
  std::vector<FileRecord> files;

  std::size_t size() const { return files.size(); }
  FileRecord& operator[](std::size_t i) { return files[i]; }
  const FileRecord& operator[](std::size_t i) const { return files[i]; }

  void Reset() { files.clear(); }
};

// The record's path inside the archive: the folder, a backslash and the
// name; the name alone for a record at the archive's root.
std::string RecordPath(const FileRecord& record);

// The records that readers cannot tell apart, since they look names up
// without regard to ASCII case: for every group of records whose paths are
// equal with ASCII case ignored (equal bytes included), each later record
// paired with the first of the group, as (first, later) indexes into
// `files`, ordered by the later one.
std::vector<std::pair<std::size_t, std::size_t>> FindCaseClashes(
    const std::vector<FileRecord>& files);

// One counted warning for each pair FindCaseClashes finds,
// "<first> and <later> differ only in letter case" ("<path> is listed twice"
// for equal bytes); both records stay in the list.
void WarnOfCaseClashes(const BuildList& list, Warnings& warnings);

// Removes, in list order, every record whose path is also the folder of a
// record or a folder above one, letter case ignored (data\maps beside
// data\Maps\a.pof): no file system holds a file and a folder of one path,
// and readers find only the first, so -verify rejects an archive holding
// both. Each with a counted warning "<path>: a file and a folder of the
// same path (<folder>), skipped".
void SkipFilesAtFolderPaths(BuildList& list, Warnings& warnings);

// Index of the last record whose name and folder equal the arguments byte for
// byte (case-sensitive), or -1.
std::int32_t FindFile(const BuildList& list, std::string_view name, std::string_view folder);

// Removes the record FindFile names, keeping the order of the others. False
// when no record matched.
bool RemoveFile(BuildList& list, std::string_view name, std::string_view folder);

}  // namespace quarrion
