// The pieces that listing, verifying and extracting an archive share: the
// walk of the folder structure and the way names and times are shown. The
// test for plain names is the format's (PlainNameProblem in vp/format.h).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "vp/format.h"

namespace quarrion {

// Follows the folder structure of a directory read front to back: a folder
// entry opens a folder inside the current one, an up entry closes the
// current one, and a file entry lies in the current folder.
class FolderWalk {
 public:
  enum class Step {
    kFile,     // a file in folders()
    kOpen,     // folders() now ends with the entry's folder
    kClose,    // the innermost folder was closed
    kStrayUp,  // an up entry with no folder open; nothing changed
  };

  Step Next(const VpDirEntry& entry);

  const std::vector<std::string>& folders() const { return folders_; }
  // The open folders joined with backslashes ("" at the root).
  std::string Current() const;
  // The open folders and `name` joined with backslashes.
  std::string PathOf(std::string_view name) const;

 private:
  std::vector<std::string> folders_;
};

// `name` quoted for a message, control characters shown as '?'.
std::string QuotedName(std::string_view name);

// `text` with every control character shown as '?', so that no name an
// archive carries can drive the terminal.
std::string Printable(std::string_view text);

// Seconds since 1970-01-01 UTC as "YYYY-MM-DD HH:MM:SS" (UTC).
std::string UtcTimeText(std::int64_t seconds);

}  // namespace quarrion
