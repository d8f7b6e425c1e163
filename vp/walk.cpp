#include "vp/walk.h"

namespace quarrion {

FolderWalk::Step FolderWalk::Next(const VpDirEntry& entry) {
  switch (ClassifyEntry(entry)) {
    case EntryKind::kFile:
      return Step::kFile;
    case EntryKind::kFolder:
      folders_.emplace_back(EntryName(entry));
      return Step::kOpen;
    case EntryKind::kUp:
      if (folders_.empty()) return Step::kStrayUp;
      folders_.pop_back();
      return Step::kClose;
  }
  return Step::kFile;
}

std::string FolderWalk::Current() const {
  std::string path;
  for (std::size_t i = 0; i < folders_.size(); ++i) {
    if (i > 0) path += '\\';
    path += folders_[i];
  }
  return path;
}

std::string FolderWalk::PathOf(std::string_view name) const {
  std::string path = Current();
  if (!folders_.empty()) path += '\\';
  path += name;
  return path;
}

}  // namespace quarrion
