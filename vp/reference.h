// VP source references: paths of the form archive:inner name that name a
// file inside another archive instead of a file on disk.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quarrion {

struct VpReference {
  std::string archive;  // everything before the last ':'
  std::string inner;    // everything after it: a file name, or a path with backslashes
};

// True when `path` holds ".vp:" anywhere, letters in any case (PACK.VP:a.tbl):
// the mark of a reference in configuration and list files.
bool IsVpSourceReference(std::string_view path);

// `text` read as a reference: split at its last ':' (so the colon of a drive
// letter stays in the archive's path). Nothing when it holds no colon but
// that of a drive letter at its start (c:\games\a.tbl).
std::optional<VpReference> SplitVpReference(std::string_view text);

// The archive moved into `folder` (-vppath): its file name, after its last
// separator (backslash or slash), put behind the folder, which gets a
// backslash unless it ends with one.
std::string MoveVpArchive(const std::string& archive, std::string folder);

}  // namespace quarrion
