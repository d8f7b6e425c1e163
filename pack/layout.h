// The tree layout: the order in which an archive stores its files, the
// folder table, each file's data offset and the header values.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "buildlist/build_list.h"
#include "host/status.h"

namespace quarrion {

// Splits `text` at every `separator`; empty components remain. Returns the
// number of components (separators + 1).
std::int32_t SplitPath(std::string text, char separator, std::vector<std::string>* parts);

// Sorts the records by folder, then name (unsigned bytes, case-sensitive),
// in exactly the order that a selection sort moving the greatest record to
// the end gives, equal records included.
void SortFiles(BuildList& list);

// Sorts, rebuilds the folder table and sets offsets, counters and header.
void LayoutTree(BuildList& list);

// After LayoutTree: refuses, naming the record, a folder with an empty
// component, a folder component longer than 31 bytes, beginning with ".."
// or otherwise not a plain name (CheckPlainName), or an archive whose
// directory would start past 2^31-1.
Status CheckLayout(const BuildList& list);

}  // namespace quarrion
