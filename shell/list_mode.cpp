// -list: every file of an archive (or those -only chooses), with its size,
// time and path, in directory order, then the totals. A file -verify
// reports is left out, with a warning, as -extract refuses it: the listing
// is what -extract writes.
#include <cstdint>
#include <cstdio>
#include <string>

#include "shell/modes.h"
#include "shell/open_archive.h"
#include "shell/selection.h"
#include "shell/time_text.h"
#include "vp/counted.h"
#include "vp/names.h"
#include "vp/reader.h"
#include "vp/walk.h"

namespace quarrion {

int RunListArchive(const StartupOptions& options, Console& console) {
  Selection selection;
  if (Status why = selection.Compile(options.onlyPatterns); !why.ok()) {
    console.Error(why.Message());
    return 1;
  }
  VpReader reader;
  ConsoleWarnings warnings(console);
  if (!OpenArchive(options.archiveFile, &reader, console, warnings)) return 1;
  FolderWalk walk;
  std::int64_t files = 0;
  std::int64_t bytes = 0;
  for (std::size_t i = 0; i < reader.entries().size(); ++i) {
    const VpDirEntry& e = reader.entries()[i];
    if (walk.Next(e) != FolderWalk::Step::kFile) continue;
    const std::string path = walk.PathOf(EntryName(e));
    if (!selection.Chosen(path)) continue;
    if (const std::string refusal = RefusalOf(reader.findings(), i, path); !refusal.empty()) {
      warnings.Add("left out " + refusal);
      continue;
    }
    char size[16];
    std::snprintf(size, sizeof size, "%10ld", static_cast<long>(e.size));
    console.Line(std::string(size) + "  " + UtcTimeText(e.timestamp) + "  " + Printable(path));
    ++files;
    bytes += e.size;
  }
  console.Line(Counted(files, "file", "files") + ", " + Counted(bytes, "byte", "bytes"));
  selection.WarnUnmatched(warnings);
  return warnings.count() > 0 ? 1 : 0;
}

}  // namespace quarrion
