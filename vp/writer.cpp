#include "vp/writer.h"

namespace quarrion {

// Placeholder body: the writer is built in its own change.
bool WriteVp(BuildList&, host::AtomicOutputFile& out, std::ostream&, Status* why, SourceArchives*) {
  if (why != nullptr) *why = Status::Error(Code::kIoError, out.target() + ": writing archives is not available in this build");
  return false;
}

}  // namespace quarrion
