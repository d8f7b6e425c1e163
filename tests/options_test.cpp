#include "shell/options.h"

#include <gtest/gtest.h>

#include <sstream>

#include "shell/run.h"

namespace quarrion {
namespace {

const char kUsage[] =
    "Quarrion 1.5 - VP archive builder\n"
    "Usage is quarrion [options]\n"
    "-dir <directory>                 Base directory (translates to data dir)\n"
    "-mconfig <config>\t\t\t      Make a configuration file\n"
    "-rconfig <config>\t\t\t      Use a configuration file (relational)\n"
    "-vppath <path>\t\t\t\t\t  Path to VPs for vp to vp copy\n"
    "-o <vpfile>\t\t\t          Output to <vpfile>.vp\n"
    "-mdlist <configfile> <outfile>   Make NSIS Delete list from config\n"
    "-oldinterface\t\t\t\t\t  Use old interface;\n"
    "-? -h or -help\t\t\t\t      Print Help\n";

StartupOptions Parse(std::vector<std::string> args, bool* ok = nullptr) {
  StartupOptions options;
  const bool parsed = ParseCommandLine(args, &options);
  if (ok != nullptr) *ok = parsed;
  return options;
}

TEST(CommandLineTest, UsageKeepsItsTenLinesAndHelpWinsWithStatusOne) {
  std::ostringstream u;
  PrintUsage(u);
  const std::string usage = u.str();
  ASSERT_EQ(usage.substr(0, sizeof(kUsage) - 1), kUsage);
  for (const char* added : {"-list <vpfile>", "-verify <vpfile>", "-extract <vpfile> <directory>",
                            "--help ", "-version or --version "}) {
    EXPECT_NE(usage.find(added, sizeof(kUsage) - 1), std::string::npos) << added;
  }
  // Help wins over everything, missing arguments give the usage; no banner.
  for (std::vector<std::string> args : {std::vector<std::string>{"-dir", "c:\\x", "-h", "-dir"},
                                        {"-o", "x.vp", "-?"},
                                        {"-help"},
                                        {"--help"},
                                        {"-rconfig"}}) {
    std::istringstream in;
    std::ostringstream out, err;
    EXPECT_EQ(RunQuarrion(args, in, out, err), 1) << args.back();
    EXPECT_EQ(out.str(), usage) << args.back();
  }
  bool ok = false;
  Parse({"-H", "-helpme", "---help"}, &ok);  // help words are whole and case-sensitive
  EXPECT_TRUE(ok);
  for (std::vector<std::string> args :
       {std::vector<std::string>{"-dir"}, {"-o", "x.vp", "-mdlist", "a"}, {"-extract", "a.vp"}}) {
    Parse(args, &ok);
    EXPECT_FALSE(ok) << args[0];
  }
}

TEST(CommandLineTest, ArgumentsAreTakenLiterallyAndModesChosenInOrder) {
  StartupOptions o = Parse({"-mdlist", "list.cfg", "out.nsh", "-o", "-h"});
  EXPECT_EQ(o.outputFile, "-h");
  EXPECT_EQ(o.configFile, "list.cfg");
  EXPECT_EQ(o.given, kGivenMdlist | kGivenOutput);
  // -mdlist shares its output with -o, -rconfig its file with -mconfig.
  EXPECT_EQ(Parse({"-o", "x.vp", "-mdlist", "cfg", "del.txt"}).outputFile, "del.txt");
  o = Parse({"-rconfig", "a.cfg", "-mconfig", "b.cfg"});
  EXPECT_EQ(o.configFile, "b.cfg");
  EXPECT_EQ(o.given, kGivenRconfig | kGivenMconfig);
  o = Parse({"-dir", "first", "-dir", "with blank", "-vppath", "-dir"});
  EXPECT_EQ(o.directory, "with blank");
  EXPECT_EQ(o.vpPath, "-dir");
  // Unknown words, and known ones in another case, are skipped and kept in order.
  o = Parse({"foo", "-DIR", "x", "-o", "a.vp", "bar"});
  EXPECT_EQ(o.given, kGivenOutput);
  EXPECT_EQ(o.skipped, (std::vector<std::string>{"foo", "-DIR", "x", "bar"}));

  const std::pair<std::vector<std::string>, Mode> cases[] = {
      {{"-o", "a.vp"}, Mode::kDefaultBuild},
      {{"-mconfig", "c", "-dir", "d"}, Mode::kMakeConfig},
      {{"-rconfig", "a.cfg", "-mconfig", "b.cfg"}, Mode::kRelationalBuild},
      {{"-rconfig", "c", "-mdlist", "c", "o"}, Mode::kDeleteList},
      {{"-extract", "a.vp", "d", "-rconfig", "x"}, Mode::kExtract},
      {{"-extract", "a.vp", "d", "-verify", "b.vp"}, Mode::kVerify},
      {{"-verify", "a.vp", "-list", "b.vp"}, Mode::kList},
      {{"-list", "a.vp", "-mdlist", "c", "o", "-oldinterface"}, Mode::kInteractive},
      {{"-oldinterface", "--version"}, Mode::kVersion},
  };
  for (const auto& [args, mode] : cases) EXPECT_EQ(ChooseMode(Parse(args)), mode) << args[0];
}

// Each skipped word is named once on standard error, before whatever the
// run then prints; standard output is what it would be without the word.
TEST(CommandLineTest, SkippedWordsAreWarnedAboutAndVersionPrintsOnlyTheVersion) {
  const std::string warnings =
      "quarrion: warning: -vpath: not an option, skipped\n"
      "quarrion: warning: x: not an option, skipped\n";
  for (const char* version : {"-version", "--version"}) {
    std::istringstream in;
    std::ostringstream out, err;
    EXPECT_EQ(RunQuarrion({"-vpath", "x", version, "-list", "a.vp"}, in, out, err), 0);
    EXPECT_EQ(out.str(), "quarrion 1.6\n") << version;
    EXPECT_EQ(err.str(), warnings) << version;
  }
  std::istringstream in;
  std::ostringstream out, err;
  EXPECT_EQ(RunQuarrion({"-vpath", "x", "-h"}, in, out, err), 1);
  std::ostringstream usage;
  PrintUsage(usage);
  EXPECT_EQ(out.str(), usage.str());
  EXPECT_EQ(err.str(), warnings);
}

}  // namespace
}  // namespace quarrion
