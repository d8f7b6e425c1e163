#include "buildlist/list_file.h"

#include "buildlist/read_text.h"

namespace quarrion {

ListEntry MakeListEntry(const BuildList& list, std::size_t index) {
  const FileRecord& r = list.files[index];
  return ListEntry{std::string(r.name()), r.path, r.folder};
}

void WriteListEntry(std::string* out, const ListEntry& entry) {
  for (const std::string* line : {&entry.name, &entry.path, &entry.folder}) {
    out->append(*line);
    out->append("\r\n");
  }
}

std::istream& ReadListEntry(std::istream& in, ListEntry& entry) {
  ReadLine(in, entry.name);
  ReadLine(in, entry.path);
  ReadLine(in, entry.folder);
  return in;
}

}  // namespace quarrion
