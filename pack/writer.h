// The VP writer: lays the build list out and writes the whole archive.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "buildlist/build_list.h"
#include "buildlist/warnings.h"
#include "host/status.h"

namespace quarrion {

class SourceArchives;

// Told what a write does while it runs, so that the caller can show it: the
// writer itself prints nothing. Every call has a default that ignores it.
class WriteObserver {
 public:
  virtual ~WriteObserver() = default;
  // Before the first file's data: what the data pass will copy.
  virtual void Begin(std::int64_t /*totalBytes*/, std::int64_t /*totalFiles*/) {}
  // The data of the files of `folder` begin; each run of files in one
  // folder, in list order, is told once.
  virtual void Folder(std::string_view /*folder*/) {}
  // After each file's data: the bytes and files copied so far.
  virtual void Advance(std::int64_t /*doneBytes*/, std::int64_t /*doneFiles*/) {}
  // After the last file's data, before the directory.
  virtual void DataDone() {}
};

// The times the file entries of an archive get: the files' own, one time for
// every file (-mtime), or the files' own lowered to a limit where they are
// later (SOURCE_DATE_EPOCH). The same files then give the same archive
// whatever their times on disk.
struct EntryTimes {
  enum class Rule { kOwn, kFixed, kNoLaterThan };
  Rule rule = Rule::kOwn;
  std::int32_t time = 0;  // the time of kFixed, the limit of kNoLaterThan

  std::int32_t For(std::int32_t own) const {
    switch (rule) {
      case Rule::kOwn:
        return own;
      case Rule::kFixed:
        return time;
      case Rule::kNoLaterThan:
        return own > time ? time : own;
    }
    return own;
  }
};

// Writes `list` as the archive `target`, through a temporary file beside it
// that replaces `target` only once the archive is whole: header, every
// file's data, the directory with folder and up entries, and the final entry
// count. A failure leaves `target` as it was. Leaves out of the list, with a
// warning, every file at the path of a folder (SkipFilesAtFolderPaths) and,
// without counting the warning, every file on disk that is the target itself
// (as it was before this write: an archive written into the tree it packs).
// Warns of records whose paths differ only in letter case (both are
// written; see WarnOfCaseClashes) and, without counting it, of an empty
// list, which gives an archive of the header alone. No file entry reads back
// as a folder: an empty file of time 0 is stamped 1. Fails, naming the
// record or source, when the list is refused or a source or the output
// fails. Source archives are read through `archives` when given (and closed
// before the rename, since some hosts cannot replace an open file and the
// archive may replace one of its own sources), otherwise through a set made
// for this write. `observer`, when given, is told of the data pass. The file
// entries' times are `times` applied to the records' own.
Status WriteArchive(BuildList& list, const std::string& target, Warnings& warnings,
                    WriteObserver* observer = nullptr, SourceArchives* archives = nullptr,
                    const EntryTimes& times = {});

}  // namespace quarrion
