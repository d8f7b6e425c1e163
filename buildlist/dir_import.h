// Directory import: a folder tree on disk enters the build list, its top
// folder as the archive folder "data" and every file below it with a folder
// that mirrors its place in the tree.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "buildlist/build_list.h"
#include "buildlist/pattern.h"
#include "buildlist/warnings.h"
#include "host/status.h"

namespace quarrion {

class SourceArchives;

// Told of each folder on disk the import enters, so that the caller can
// show the walk: the top once it could be listed, every other folder
// before it is listed.
class ImportObserver {
 public:
  virtual ~ImportObserver() = default;
  virtual void Folder(std::string_view path) = 0;
};

struct ImportStats {
  int added = 0;    // records appended
  int skipped = 0;  // files and folders left out with a warning
};

// Imports `dataDirectory` under the archive folder "data". Tells `observer`
// of each folder walked and adds one
// warning to `warnings` for each file or folder skipped. Fails when the top
// directory is empty (""), does not exist or cannot be listed. Leaves out
// what `excluded` matches, as ImportDirectory does.
Status ImportDataDirectory(BuildList& list, const std::string& dataDirectory,
                           ImportObserver& observer, Warnings& warnings,
                           ImportStats* stats = nullptr, const std::vector<Pattern>& excluded = {});

// The same walk with any archive folder for the top: a folder's own files
// (in listing order) enter the list before anything from its subfolders,
// which are walked depth-first in listing order. Folders are joined with a
// backslash; paths on disk with the separator host::JoinSeparator picks for
// `dirPath`, none after a path that ends in one, and never normalised
// otherwise. Below the top, a folder that cannot be listed, a file AddFile
// refuses, a subfolder whose name an archive cannot hold (CheckName for a
// folder: longer than 31 bytes, not a plain name, or beginning with ".."),
// with its tree, and a link back to a
// folder being walked are each skipped with the warning
// "<message>, skipped"; folders named "CVS" are left out silently, and so is
// every file and folder (with its tree) that one of `excluded` matches: a
// pattern holding a backslash is matched against the path below `dirPath`
// (maps\old\a.map), any other against the name alone.
Status ImportDirectory(BuildList& list, const std::string& dirPath, const std::string& folder,
                       ImportObserver& observer, Warnings& warnings, ImportStats* stats = nullptr,
                       const std::vector<Pattern>& excluded = {});

}  // namespace quarrion
