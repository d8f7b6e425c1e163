// The one way in for a file (AddFile), and the -vppath rewrite of VP source
// references (SetVpPath).
#pragma once

#include <string>
#include <string_view>

#include "buildlist/build_list.h"
#include "host/status.h"

namespace quarrion {

class SourceArchives;
namespace host {
struct FileInfo;
}

// Appends a record for `name` in `folder` whose bytes come from `path` (a
// file on disk, or a VP source reference), with the length and time taken
// from the disk or from the source archive's directory. False, with the list
// unchanged and the reason in `why`, when the file cannot be added: the
// message is "<path>: <reason>" and the code tells the kinds apart
// (kNameTooLong or kNotPlainName for the name, see PlainNameProblem; kNotFound,
// kNotRegular, kTooLarge, kIoError for a file on disk; kNotFound or kIoError
// for the archive, kNotVpArchive, kNoSuchEntry, kOutOfRange for a VP source
// reference). Source archives are looked up in `archives` when given (one
// directory read per archive), otherwise opened for this call alone. `status` is the status of
// a file on disk when the caller has just read it (a folder listing has),
// which spares a second look.
bool AddFile(BuildList& list, const std::string& name, const std::string& path,
             const std::string& folder, Status* why = nullptr, SourceArchives* archives = nullptr,
             const host::FileInfo* status = nullptr);

// A VP source reference moved into `folder`: the part of `reference` after
// its last separator (backslash or slash) is put behind the folder, which gets
// a backslash appended unless it already ends with one.
std::string MoveVpReference(const std::string& reference, std::string folder);

// Moves every VP source reference of the list into `folder`, as
// MoveVpReference does; records read from disk are left alone.
void SetVpPath(BuildList& list, std::string folder);

}  // namespace quarrion
