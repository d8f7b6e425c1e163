// Every mode the program can run, each entered from RunQuarrion with the
// options, the build list and the console, returning the exit status.
#pragma once

#include <cstdint>
#include <string>

#include "buildlist/build_list.h"
#include "shell/console.h"
#include "shell/options.h"

namespace quarrion {

// The batch modes (batch.cpp).
int RunDeleteList(const StartupOptions& options, Console& console);
int RunRelationalBuild(const StartupOptions& options, BuildList& list, Console& console);
int RunMakeConfig(const StartupOptions& options, BuildList& list, Console& console);
int RunDefaultBuild(const StartupOptions& options, BuildList& list, Console& console);
// "<file>, line <line>: ..." for an entry of `lines` lines that a list or
// configuration file ends within, which is not used.
std::string IncompleteEntryText(const std::string& file, std::int64_t line, int lines);

// The interactive command loop (interactive.cpp) and its "vp" command
// (vp_import.cpp). "im" leaves out what `build` excludes; "wr" gives the
// file entries `build`'s times. The loop returns 1 when any command of the
// session failed (the file not written or read, a file not added, something
// skipped or warned of), 0 otherwise; ImportFromVp false when the archive
// could not be read or a file taken was not added.
int InteractiveLoop(BuildList& list, Console& console, const BuildSettings& build = {});
bool ImportFromVp(BuildList& list, Console& console);

// Looking into archives (list_mode.cpp, verify_mode.cpp, extract_mode.cpp).
int RunListArchive(const StartupOptions& options, Console& console);
int RunVerifyArchive(const StartupOptions& options, Console& console);
int RunExtractArchive(const StartupOptions& options, Console& console);

// Comparing two archives and writing the patch between them (diff_mode.cpp).
int RunDiffArchives(const StartupOptions& options, Console& console);

}  // namespace quarrion
