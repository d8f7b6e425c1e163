// The one way in for a file: AddFile.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "base/status.h"
#include "buildlist/build_list.h"

namespace quarrion {

class SourceArchives;
namespace host {
struct FileInfo;
}

// Where a file's bytes come from, as the caller has decided: a file on disk,
// or a file inside another archive, named by the archive and an inner name.
struct FileSource {
  FileRecord::Source kind = FileRecord::Source::kDisk;
  std::string path;   // the file on disk, or the archive
  std::string inner;  // inside an archive: a file name, or a path with backslashes

  static FileSource Disk(std::string path) {
    return {FileRecord::Source::kDisk, std::move(path), ""};
  }
  static FileSource Archived(std::string archive, std::string inner) {
    return {FileRecord::Source::kArchive, std::move(archive), std::move(inner)};
  }
  // As the path line of a list file holds it: the path, or archive:inner.
  std::string Text() const { return kind == FileRecord::Source::kDisk ? path : path + ":" + inner; }
};

// What adding from an archive found besides the record, for the caller to
// warn of.
struct SourceNotes {
  // The problems of the source archive as a whole (a directory cut short,
  // say), whose entries were used as far as the file holds them; empty for
  // a sound archive.
  std::vector<std::string> archiveProblems;
  // When a bare inner name fits several files: how many, and the path of
  // the first, which was taken.
  std::size_t sameName = 0;
  std::string taken;
};

// Appends a record for `name` in `folder` whose bytes come from `source`,
// with the length and time taken from the disk or from the source archive's
// directory. Fails, naming the source (as Text() gives it) and with the list
// unchanged, when the file cannot be added; the code tells the kinds apart
// (kNameTooLong or kNotPlainName for the name; kNotFound, kNotRegular,
// kTooLarge, kIoError for a file on disk; kNotFound or kIoError for the
// archive, kNotVpArchive, kNoSuchEntry when no file entry fits the inner
// name, kBrokenEntry when -verify reports the one that does). Source
// archives are looked up in `archives` when given (one directory read per
// archive), otherwise opened for this call alone. `notes`, when given,
// receives what the caller should warn of.
Status AddFile(BuildList& list, const std::string& name, const FileSource& source,
               const std::string& folder, SourceArchives* archives = nullptr,
               SourceNotes* notes = nullptr);

// The same for a file on disk at `path`. `status` is its status when the
// caller has just read it (a folder listing has), which spares a second look.
Status AddFile(BuildList& list, const std::string& name, const std::string& path,
               const std::string& folder, const host::FileInfo* status = nullptr);

// The archive source a path line of a configuration or list file (or a
// path typed at "ad") names; nothing when it names no archive. A line
// holding ".vp:" (letters in any case) is a reference, as ever: the archive
// before its last colon, the inner name after it. So is a line whose part
// before the last colon is a VP archive on disk, as "li" writes them for an
// archive of any name (pack.dat:data\x.tbl); a drive letter (c:\x) is no
// archive. With `moveTo`, the archive is looked for in that folder instead
// (-vppath), and the source names it there.
std::optional<FileSource> ArchiveSourceOf(const std::string& line, SourceArchives& archives,
                                          const std::string* moveTo = nullptr);

}  // namespace quarrion
