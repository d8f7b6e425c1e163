// The archive -list and -extract read, opened with the errors they print.
#pragma once

#include <string>

#include "shell/console.h"
#include "vp/reader.h"

namespace quarrion {

// Opens `path` into `reader`. Prints the error and returns false when it
// cannot be opened or is not a VP archive (saying what it begins with).
bool OpenArchive(const std::string& path, VpReader* reader, Console& console);

}  // namespace quarrion
