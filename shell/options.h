// The command line: option words, the usage text and the banners.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

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
  kGivenOnly = 0x800,
  kGivenDiff = 0x1000,
};

struct StartupOptions {
  std::string directory;    // -dir; the base directory in -rconfig mode
  std::string configFile;   // -rconfig, -mconfig, first argument of -mdlist
  std::string outputFile;   // -o, second argument of -mdlist
  std::string vpPath;       // -vppath
  std::string archiveFile;  // -list, -verify, first argument of -extract
  std::string extractDir;   // second argument of -extract
  std::uint32_t given = 0;
  std::vector<std::string> skipped;  // the words that are no option, in order

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
// arguments); the words after the one that decided that are not read.
bool ParseCommandLine(const std::vector<std::string>& args, StartupOptions* options);

// The mode the options choose; the first rule that holds decides.
Mode ChooseMode(const StartupOptions& options);

void PrintUsage(std::ostream& out);

// The long banner when no option was recognised, the short one otherwise.
void PrintBanner(std::ostream& out, bool longBanner);

// "quarrion <version>" and a line end.
void PrintVersion(std::ostream& out);

}  // namespace quarrion
