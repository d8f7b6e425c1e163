// The checks behind -verify: every problem of an archive file, found from its
// header and directory (the files' data are never read).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/host.h"
#include "host/status.h"

namespace quarrion {

struct ArchiveFindings {
  // One line per problem: those of the header and of each entry in
  // directory order, then the overlaps of file data.
  std::vector<std::string> problems;
  std::int64_t files = 0;  // file entries
  std::int64_t bytes = 0;  // their sizes summed, negative ones left out
};

// Checks the archive in `file`: a file shorter than the header, the magic,
// the version, a directory offset outside the file, an entry count that is
// negative or does not fit the file, bytes after the directory; for each
// entry a name not terminated within 32 bytes or not a plain name, an up
// entry that closes no folder, a file path equal to an earlier file's or
// folder's (or a folder path equal to an earlier file's) with letter case
// ignored, a negative size, data outside the data area, and data that
// overlap another file's. A problem in the header that leaves the directory
// unknown ends the check. Fails, the findings incomplete, only when the
// file cannot be read.
Status CheckArchive(host::InputFile& file, ArchiveFindings* findings);

}  // namespace quarrion
