// Writing the file entries of an archive below a folder: the folders walked
// and held open on the way, the work shared between threads that take whole
// folders, and the lines that say what was refused or failed, printed in
// directory order whichever thread wrote what.
#pragma once

#include <cstdint>
#include <vector>

#include "host/extract.h"
#include "shell/console.h"
#include "shell/progress.h"
#include "vp/reader.h"

namespace quarrion {

struct ExtractionCounts {
  std::int64_t written = 0;  // files written
  std::int64_t bytes = 0;    // their bytes
  std::int64_t refused = 0;  // entries refused, stray up entries among them
  std::int64_t failed = 0;   // files that could not be written
};

// Writes the file entries `chosen` marks (by index) below `root`, each at its
// path, refusing what the findings refuse and names this host cannot hold.
// `workers` threads (1 or more) share the folders; what is written, refused
// and printed is the same for any number. `progress` (may be null) is told
// of every file.
ExtractionCounts ExtractEntries(VpReader& reader, const host::ExtractFolder& root,
                                const std::vector<bool>& chosen, ProgressLine* progress,
                                Console& console, int workers);

// The number of threads to extract with on this machine: two where it has
// two cores or more, since file creation in different folders proceeds in
// parallel; one otherwise.
int ExtractionWorkers();

}  // namespace quarrion
