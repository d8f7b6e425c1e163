// The tree layout: the order in which an archive stores its files, each
// file's data offset, the folder table and the header values.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/status.h"
#include "buildlist/build_list.h"
#include "vp/format.h"

namespace quarrion {

// One folder of the archive's tree: the folder of a run of records.
struct DirNode {
  std::string folder;              // as the records carry it, e.g. data\maps
  std::vector<std::string> parts;  // folder split at every backslash
  std::int32_t depth = 0;          // parts.size()
};

// What the layout computes for the writer.
struct Layout {
  // The folders in the order the sorted records enter them; the records at
  // the archive's root, which sort first, open none.
  std::vector<DirNode> dirs;
  // Summed in 64 bits so that a list past the format's 2 GiB limit is seen
  // and refused instead of wrapping around.
  std::int64_t dataSize = 0;
  // The header's directory offset: just past the data (saturated at
  // 2^31-1). The entry count is the writer's, which counts what it writes.
  std::int32_t dirOffset = 0;
};

// Splits `text` at every `separator`; empty components remain. Returns the
// number of components (separators + 1).
std::int32_t SplitComponents(std::string text, char separator, std::vector<std::string>* parts);

// Sorts the records by folder, then name (unsigned bytes, case-sensitive),
// in exactly the order that a selection sort moving the greatest record to
// the end gives, equal records included.
void SortFiles(BuildList& list);

// Sorts the list (SortFiles), sets every record's data offset and returns
// the folder table and header values of the sorted list. Offsets and
// header values past 2^31-1 are stored as 2^31-1; CheckLayout refuses such
// a list.
Layout LayoutTree(BuildList& list);

// After LayoutTree: refuses, naming the record, a negative size, a folder
// with a component CheckName refuses for a folder (empty, longer than 31
// bytes, beginning with "..", not a plain name), or an archive whose
// directory would start past 2^31-1.
Status CheckLayout(const BuildList& list, const Layout& layout);

}  // namespace quarrion
