// List and configuration files: three lines per file (name, source path,
// folder), written with CR LF line ends on every host, read with LF or CR LF.
#pragma once

#include <cstddef>
#include <istream>
#include <string>

#include "buildlist/build_list.h"

namespace quarrion {

struct ListEntry {
  std::string name;
  std::string path;
  std::string folder;
};

// The entry of record `index` (below the number of records).
ListEntry MakeListEntry(const BuildList& list, std::size_t index);

// Appends the entry's three lines, each ended by CR LF, to `out`.
void WriteListEntry(std::string* out, const ListEntry& entry);

// Reads three lines into `entry`. The entry is complete only when the stream
// has not failed afterwards, that is when its folder line ended with a line
// end.
std::istream& ReadListEntry(std::istream& in, ListEntry& entry);

}  // namespace quarrion
