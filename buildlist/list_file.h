// List and configuration files: three lines per file (name, source path,
// folder), written with CR LF line ends on every host, read with LF or CR LF.
#pragma once

#include <cstddef>
#include <fstream>
#include <istream>
#include <string>

#include "buildlist/build_list.h"
#include "host/status.h"

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

// Opens a list or configuration file for reading (binary; ReadLine drops the
// CR of CR LF). Never creates a file; refuses folders, FIFOs and devices.
Status OpenListFile(const std::string& path, std::ifstream* in);

// Writes every record of the list, in list order, to `path` through an
// atomic output file: an existing file is replaced only when all was written.
Status WriteListFile(const BuildList& list, const std::string& path);

}  // namespace quarrion
