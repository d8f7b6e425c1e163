// The command line: option words, the usage text and the banners.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "base/pattern.h"
#include "base/status.h"
#include "pack/entry_times.h"

namespace quarrion {

// Bits of StartupOptions::given, one per option seen.
enum OptionBit : std::uint32_t {
  kGivenDir = 0x01,
  kGivenRconfig = 0x02,
  kGivenMconfig = 0x04,
  kGivenOutput = 0x08,
  kGivenMdlist = 0x10,
  kGivenVppath = 0x20,
  kGivenOldInterface = 0x40,
  kGivenList = 0x80,
  kGivenVerify = 0x100,
  kGivenExtract = 0x200,
  kGivenVersion = 0x400,
  kGivenMtime = 0x800,
  kGivenExclude = 0x1000,
  kGivenOnly = 0x2000,
  kGivenDiff = 0x4000,
};

// What the options set for building archives, read from them by
// ReadBuildSettings before a mode runs.
struct BuildSettings {
  EntryTimes times;               // -mtime, or SOURCE_DATE_EPOCH
  std::vector<Pattern> excluded;  // every -exclude
};

struct StartupOptions {
  std::string directory;    // -dir; the base directory in -rconfig mode
  std::string configFile;   // -rconfig, -mconfig, first argument of -mdlist
  std::string outputFile;   // -o: the archive the mode writes (a build's, or -diff's patch)
  std::string deleteList;   // second argument of -mdlist: the delete list to write
  std::string vpPath;       // -vppath
  std::string archiveFile;  // -list, -verify, first argument of -extract
  std::string extractDir;   // second argument of -extract
  std::uint32_t given = 0;
  std::vector<std::string> skipped;  // the words that are no option, in order
  // Each option word given, once, as first typed, in the order first given.
  std::vector<std::string> words;
  // The option word that was short of its arguments, "" when none was.
  std::string shortOf;

  // The build settings as given, and as ReadBuildSettings reads them.
  std::string mtime;                  // -mtime, as given
  std::vector<std::string> excludes;  // -exclude, each one given, in order
  BuildSettings build;                // set by ReadBuildSettings

  // Every -only, in order; the old and the new archive of -diff.
  std::vector<std::string> onlyPatterns;
  std::string diffOld;
  std::string diffNew;
};

enum class Mode {
  kVersion,
  kInteractive,
  kList,
  kVerify,
  kExtract,
  kDiff,
  kDeleteList,
  kRelationalBuild,
  kMakeConfig,
  kDefaultBuild,
};

// Reads the arguments after the program name; every word that is neither an
// option nor an option's argument goes to `skipped`. False when the usage
// text must be shown instead (a help option, or an option short of its
// arguments, then named in `shortOf`); the words after the one that decided
// that are not read.
bool ParseCommandLine(const std::vector<std::string>& args, StartupOptions* options);

// "<option> needs <what it takes>" for the option named in `shortOf`.
std::string MissingArgumentText(const StartupOptions& options);

// The mode the options choose; the first rule that holds decides.
Mode ChooseMode(const StartupOptions& options);

// One warning text for each option word given that `mode` does not act on,
// in the order given: a second mode word is not run, any other option is
// ignored.
std::vector<std::string> UnusedOptionWarnings(const StartupOptions& options, Mode mode);

// Checks -mtime and compiles every -exclude into `options->build` where
// `mode` uses them (elsewhere they are warned about and ignored); where
// `mode` writes archives (the -diff patch included) and -mtime is not given,
// `sourceDateEpoch` (the environment's SOURCE_DATE_EPOCH, when set) becomes
// the latest time of a file entry. Fails with kBadTime or kBadPattern naming
// the value.
Status ReadBuildSettings(Mode mode, const std::optional<std::string>& sourceDateEpoch,
                         StartupOptions* options);

void PrintUsage(std::ostream& out);

// The long banner when no option was recognised, the short one otherwise.
void PrintBanner(std::ostream& out, bool longBanner);

// "quarrion <version>" and a line end.
void PrintVersion(std::ostream& out);

}  // namespace quarrion
