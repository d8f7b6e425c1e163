#include "shell/open_archive.h"

#include "vp/format.h"

namespace quarrion {

bool OpenArchive(const std::string& path, VpReader* reader, Console& console) {
  Status why = reader->Open(path);
  if (why.ok()) return true;
  if (why.code != Code::kNotVpArchive) {
    console.Error(Failure("cannot open archive", path, why));
  } else if (!MagicMatches(reader->header().magic)) {
    console.Error(path + ": not a VP archive (it does not begin with \"VPVP\")");
  } else {
    console.Error(path + ": not a VP archive of version 2 (version " +
                  std::to_string(reader->header().version) + ")");
  }
  return false;
}

}  // namespace quarrion
