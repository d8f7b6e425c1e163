#include "buildlist/dir_import.h"

namespace quarrion {

// Placeholder body: directory import is built in its own change.
bool ImportDataDirectory(BuildList&, const std::string& dataDirectory, std::ostream&,
                         std::ostream&, ImportStats*, Status* why) {
  if (why != nullptr) *why = Status::Error(Code::kIoError, dataDirectory + ": directory import is not available in this build");
  return false;
}

}  // namespace quarrion
