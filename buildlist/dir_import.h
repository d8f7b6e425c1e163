// Directory import: a folder tree on disk enters the build list, its top
// folder as the archive folder "data" and every file below it with a folder
// that mirrors its place in the tree.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "buildlist/build_list.h"
#include "host/status.h"

namespace quarrion {

class SourceArchives;

struct ImportStats {
  int added = 0;    // records appended
  int skipped = 0;  // files and folders left out with a warning
};

// Imports `dataDirectory` under the archive folder "data". Prints
// "Adding directory: <path>" to `out` for each folder walked and one warning
// line to `warn` for each file or folder skipped. False, with the reason,
// when the top directory does not exist or cannot be listed.
bool ImportDataDirectory(BuildList& list, const std::string& dataDirectory, std::ostream& out,
                         std::ostream& warn, ImportStats* stats = nullptr, Status* why = nullptr);

}  // namespace quarrion
