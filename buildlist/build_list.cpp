#include "buildlist/build_list.h"

#include "host/host.h"

namespace quarrion {

FileRecord::FileRecord() { entry.timestamp = host::ClampTime(host::NowSeconds()); }

void BuildList::Reset() {
  dirEntryCount = 0;
  dirs.clear();
  fileCount = 0;
  files.clear();
  dataSize = 0;
}

std::int32_t FindFile(const BuildList& list, std::string_view name, std::string_view folder) {
  // The last match wins, so scan from the back and stop at the first hit.
  for (std::size_t i = list.files.size(); i-- > 0;) {
    const FileRecord& r = list.files[i];
    if (r.folder == folder && r.name() == name) return static_cast<std::int32_t>(i);
  }
  return -1;
}

bool RemoveFile(BuildList& list, std::string_view name, std::string_view folder) {
  std::int32_t i = FindFile(list, name, folder);
  if (i < 0) return false;
  list.files.erase(list.files.begin() + i);
  return true;
}

}  // namespace quarrion
