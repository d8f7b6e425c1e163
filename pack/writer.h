// The VP writer: lays the build list out and writes the whole archive.
#pragma once

#include <cstdint>
#include <ostream>

#include "base/status.h"
#include "buildlist/build_list.h"
#include "buildlist/warnings.h"
#include "host/output_file.h"
#include "pack/entry_times.h"

namespace quarrion {

class SourceArchives;

// Told how the data pass of a write advances, for a progress display.
class WriteProgress {
 public:
  virtual ~WriteProgress() = default;
  // Before the first file's data: what the pass will copy.
  virtual void Begin(std::int64_t totalBytes, std::int64_t totalFiles) = 0;
  // After each file's data: the bytes and files copied so far.
  virtual void Advance(std::int64_t doneBytes, std::int64_t doneFiles) = 0;
  // Before the writer prints a console line, which must not land on the
  // progress display; the next Advance may show it again.
  virtual void Hide() = 0;
};

// Writes the archive into `out` (created, not yet committed): header, every
// file's data, the directory with folder and up entries, and the final entry
// count. Prints each folder to `console` as its data is copied, then an empty
// line. Leaves out of the list, with a warning, every file at the path of a
// folder (SkipFilesAtFolderPaths) and, without counting the warning, every
// file on disk that is the target itself (out.target(), as it was before
// this write: an archive written into the tree it packs). Warns of records
// whose paths differ only in letter case (both are written; see
// WarnOfCaseClashes) and, without counting it, of an empty list, which
// gives an archive of the header alone. No file entry reads back as a
// folder: an empty file of time 0 is stamped 1. Fails, naming the record or
// source, when the list is refused or a source or the output fails; the
// caller then discards `out`. Source archives are read through
// `archives` when given, otherwise through a set made for this write (closed
// again before WriteVp returns). A caller that passes its own set closes it
// (Clear) before committing, since some hosts cannot replace an open file.
// `progress`, when given, follows the data pass. The file entries' times are
// `times` applied to the records' own.
Status WriteVp(BuildList& list, host::OutputFile& out, std::ostream& console, Warnings& warnings,
               SourceArchives* archives = nullptr, WriteProgress* progress = nullptr,
               const EntryTimes& times = {});

}  // namespace quarrion
