// Archives as the modes that read them open them, with the errors and
// warnings they print, and the warnings of files taken out of archives.
#pragma once

#include <string>
#include <unordered_set>
#include <vector>

#include "buildlist/add_file.h"
#include "buildlist/warnings.h"
#include "shell/console.h"
#include "vp/reader.h"

namespace quarrion {

// Opens `path` into `reader`. Prints the error and returns false when it
// cannot be opened, is not a VP archive (saying what it begins with), or
// has a problem as a whole that -verify reports (each in -verify's words):
// a directory cut short or out of place is not read at all. Bytes after the
// directory leave every entry whole: they are a counted warning, and the
// archive is read.
bool OpenArchive(const std::string& path, VpReader* reader, Console& console, Warnings& warnings);

// Why a walk over an archive's directory leaves entry `i`, at `path`, alone,
// in -verify's words ("entry 9 (data\x): the data overlap ..."); "" when it
// may use it.
std::string RefusalOf(const ArchiveFindings& findings, std::size_t i, const std::string& path);

// The warnings of adding files out of source archives: an archive with a
// problem as a whole (cut short, say) once per archive, and an inner name
// that fits several files, naming the one taken. Each counts.
class SourceWarnings {
 public:
  explicit SourceWarnings(Warnings& warnings) : warnings_(warnings) {}

  // The problems of archive `path` as a whole, the first time it is told.
  void Archive(const std::string& path, const std::vector<std::string>& problems);
  // What adding from `source` found.
  void Note(const FileSource& source, const SourceNotes& notes);

 private:
  Warnings& warnings_;
  std::unordered_set<std::string> warned_;  // archives whose problems were told
};

}  // namespace quarrion
