// Arbitrary bytes as a list or configuration file: ReadListEntry must take
// them three whole lines at a time, each line without its line end, and the
// entries written back must read as the same entries.
#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "buildlist/list_file.h"
#include "fuzz_util.h"

namespace {

using namespace quarrion;

std::vector<ListEntry> ReadAll(const std::string& text) {
  std::istringstream in(text);
  std::vector<ListEntry> entries;
  ListEntry entry;
  while (ReadListEntry(in, entry)) entries.push_back(entry);
  Check(!in.bad());
  return entries;
}

bool Same(const ListEntry& a, const ListEntry& b) {
  return a.name == b.name && a.path == b.path && a.folder == b.folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::vector<ListEntry> entries = ReadAll(text);

  // Every entry is three lines ended by line feeds, and the entry that the
  // end of the input cuts short is not taken.
  const std::size_t lineFeeds =
      static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
  Check(entries.size() == lineFeeds / 3);
  std::size_t fieldBytes = 0;
  for (const ListEntry& e : entries) {
    for (const std::string* field : {&e.name, &e.path, &e.folder}) {
      Check(field->find('\n') == std::string::npos);
      fieldBytes += field->size();
    }
  }
  Check(fieldBytes + 3 * entries.size() <= size);

  // Written back with CR LF line ends, the entries read the same.
  std::string written;
  for (const ListEntry& e : entries) WriteListEntry(&written, e);
  const std::vector<ListEntry> again = ReadAll(written);
  Check(again.size() == entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) Check(Same(again[i], entries[i]));
  return 0;
}
