// The one way in for a file: AddFile.
#pragma once

#include <string>

#include "buildlist/build_list.h"
#include "host/status.h"

namespace quarrion {

class SourceArchives;
namespace host {
struct FileInfo;
}

// Appends a record for `name` in `folder` whose bytes come from `path` (a
// file on disk, or a VP source reference), with the length and time taken
// from the disk or from the source archive's directory. Fails, naming
// `path` and with the list unchanged, when the file cannot be added; the
// code tells the kinds apart (kNameTooLong or kNotPlainName for the name;
// kNotFound, kNotRegular, kTooLarge, kIoError for a file on disk; kNotFound
// or kIoError for the archive, kNotVpArchive, kNoSuchEntry, kOutOfRange for
// a VP source reference). Source archives are looked up in `archives` when
// given (one directory read per archive), otherwise opened for this call
// alone. `status` is the status of a file on disk when the caller has just
// read it (a folder listing has), which spares a second look.
Status AddFile(BuildList& list, const std::string& name, const std::string& path,
               const std::string& folder, SourceArchives* archives = nullptr,
               const host::FileInfo* status = nullptr);

}  // namespace quarrion
