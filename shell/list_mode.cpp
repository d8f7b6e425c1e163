// -list: every file of an archive (or those -only chooses), with its size,
// time and path, in directory order, then the totals.
#include <cstdint>
#include <cstdio>
#include <string>

#include "shell/modes.h"
#include "shell/open_archive.h"
#include "shell/selection.h"
#include "vp/counted.h"
#include "vp/names.h"
#include "vp/reader.h"
#include "vp/walk.h"

namespace quarrion {
namespace {

// Seconds since 1970-01-01 UTC as "YYYY-MM-DD HH:MM:SS" (UTC).
std::string UtcTimeText(std::int64_t seconds) {
  // Days and seconds of the day, then the civil date of the day count
  // (the proleptic Gregorian calendar, valid far beyond the int32 range).
  std::int64_t days = seconds / 86400;
  std::int64_t rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  const std::int64_t z = days + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const std::int64_t day = doy - (153 * mp + 2) / 5 + 1;
  const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
  char text[64];
  std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld",
                static_cast<long long>(year), static_cast<long long>(month),
                static_cast<long long>(day), static_cast<long long>(rest / 3600),
                static_cast<long long>(rest / 60 % 60), static_cast<long long>(rest % 60));
  return text;
}

}  // namespace

int RunListArchive(const StartupOptions& options, Console& console) {
  Selection selection;
  if (!selection.Compile(options.onlyPatterns, console)) return 1;
  VpReader reader;
  if (!OpenArchive(options.archiveFile, &reader, console)) return 1;
  FolderWalk walk;
  std::int64_t files = 0;
  std::int64_t bytes = 0;
  for (const VpDirEntry& e : reader.entries()) {
    if (walk.Next(e) != FolderWalk::Step::kFile) continue;
    if (!selection.Chosen(walk.PathOf(EntryName(e)))) continue;
    char size[16];
    std::snprintf(size, sizeof size, "%10ld", static_cast<long>(e.size));
    console.Line(std::string(size) + "  " + UtcTimeText(e.timestamp) + "  " +
                 Printable(walk.PathOf(EntryName(e))));
    ++files;
    bytes += e.size;
  }
  console.Line(Counted(files, "file", "files") + ", " + Counted(bytes, "byte", "bytes"));
  Warnings warnings{console.out, console.err};
  selection.WarnUnmatched(warnings);
  return warnings.count > 0 ? 1 : 0;
}

}  // namespace quarrion
