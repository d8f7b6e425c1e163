// -extract: every file of an archive (or those -only chooses) written below
// a folder, at its path, with a progress line on a terminal. What -verify
// reports about an entry (a name that is not plain, a path that repeats an
// earlier one, data outside the data area or over another file's) and names
// this host cannot hold are refused, so nothing is written outside the
// folder and no data twice.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/counted.h"
#include "host/extract.h"
#include "shell/extraction.h"
#include "shell/modes.h"
#include "shell/open_archive.h"
#include "shell/progress.h"
#include "shell/selection.h"
#include "vp/format.h"
#include "vp/reader.h"
#include "vp/walk.h"

namespace quarrion {
namespace {

// The file entries the selection chooses, by index, with their count and
// bytes (what the progress line counts down), found in a walk of their own.
struct ChosenEntries {
  std::vector<bool> chosen;
  std::int64_t files = 0;
  std::int64_t bytes = 0;
};

ChosenEntries ChooseEntries(const VpReader& reader, Selection& selection) {
  ChosenEntries c;
  c.chosen.assign(reader.entries().size(), false);
  FolderWalk walk;
  for (std::size_t i = 0; i < reader.entries().size(); ++i) {
    const VpDirEntry& e = reader.entries()[i];
    if (walk.Next(e) != FolderWalk::Step::kFile) continue;
    if (!selection.Chosen(walk.PathOf(EntryName(e)))) continue;
    c.chosen[i] = true;
    if (reader.findings().Refusal(i) != nullptr) continue;  // never written
    ++c.files;
    c.bytes += e.size;
  }
  return c;
}

}  // namespace

int RunExtractArchive(const StartupOptions& options, Console& console) {
  Selection selection;
  if (Status why = selection.Compile(options.onlyPatterns); !why.ok()) {
    console.Error(why.Message());
    return 1;
  }
  VpReader reader;
  ConsoleWarnings warnings(console);
  if (!OpenArchive(options.archiveFile, &reader, console, warnings)) return 1;
  host::ExtractFolder root;
  if (Status why = root.OpenRoot(options.extractDir); !why.ok()) {
    console.Error(Failure("cannot extract into", options.extractDir, why));
    return 1;
  }
  const ChosenEntries chosen = ChooseEntries(reader, selection);
  std::unique_ptr<ProgressLine> progress = MakeProgressLine(console.err);
  if (progress != nullptr) progress->Begin(chosen.bytes, chosen.files);
  const ExtractionCounts done =
      ExtractEntries(reader, root, chosen.chosen, progress.get(), console, ExtractionWorkers());
  if (progress != nullptr) progress->Finish();
  console.Line("Extracted " + Counted(done.written, "file", "files") + " (" +
               Counted(done.bytes, "byte", "bytes") + ") into " + options.extractDir);
  if (done.refused > 0 || done.failed > 0) {
    console.Error("not everything was extracted: " + std::to_string(done.refused) + " refused, " +
                  std::to_string(done.failed) + " failed");
  }
  selection.WarnUnmatched(warnings);
  return done.refused > 0 || done.failed > 0 || warnings.count() > 0 ? 1 : 0;
}

}  // namespace quarrion
