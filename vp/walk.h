// The folder structure of a directory read front to back: a folder entry
// opens a folder inside the current one, an up entry closes the current
// one, and a file entry lies in the current folder. Listing, checking,
// extracting and the "vp" import all follow it so.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "vp/format.h"

namespace quarrion {

class FolderWalk {
 public:
  enum class Step {
    kFile,     // a file in folders()
    kOpen,     // folders() now ends with the entry's folder
    kClose,    // the innermost folder was closed
    kStrayUp,  // an up entry with no folder open; nothing changed
  };

  // Takes the next entry of the directory.
  Step Next(const VpDirEntry& entry);

  const std::vector<std::string>& folders() const { return folders_; }
  // The open folders joined with backslashes ("" at the root).
  std::string Current() const;
  // The open folders and `name` joined with backslashes.
  std::string PathOf(std::string_view name) const;

 private:
  std::vector<std::string> folders_;
};

}  // namespace quarrion
