// VP source references: paths of the form archive.vp:name that name a file
// inside another archive instead of a file on disk.
#pragma once

#include <string>
#include <string_view>

namespace quarrion {

// True when `path` holds ".vp:" anywhere, letters in any case (PACK.VP:a.tbl).
bool IsVpSourceReference(std::string_view path);

// The archive part of a reference: everything before its last ':' (so the
// colon of a drive letter stays in it).
std::string_view VpArchivePath(std::string_view reference);

// The reference moved into `folder`: the part after its last separator
// (backslash or slash: the archive's file name and the inner name) put
// behind the folder, which gets a backslash unless it ends with one.
std::string MoveVpReference(const std::string& reference, std::string folder);

}  // namespace quarrion
