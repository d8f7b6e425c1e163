#include <gtest/gtest.h>

#include <sstream>

#include "shell/options.h"
#include "shell/run.h"
#include "test_util.h"

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

struct Parsed {
  bool ok;
  StartupOptions options;
};

Parsed Parse(std::vector<std::string> args) {
  Parsed p{};
  p.ok = ParseCommandLine(args, &p.options);
  return p;
}

TEST(UsageTest, TenLinesByteForByteThenTheAddedOptions) {
  std::ostringstream out;
  PrintUsage(out);
  ASSERT_EQ(out.str().substr(0, sizeof(kUsage) - 1), kUsage);
  // Lines for later options follow the ten, one option each.
  std::string rest = out.str().substr(sizeof(kUsage) - 1);
  EXPECT_NE(rest.find("-list <vpfile>"), std::string::npos);
  EXPECT_NE(rest.find("-verify <vpfile>"), std::string::npos);
  EXPECT_NE(rest.find("-extract <vpfile> <directory>"), std::string::npos);
}

TEST(CommandLineTest, HelpWinsOverEverythingAndEndsWithStatusOne) {
  for (const char* help : {"-h", "-?", "-help"}) {
    std::istringstream in;
    std::ostringstream out, err;
    int status = RunQuarrion({"-dir", "c:\\x", help, "-dir"}, in, out, err);
    EXPECT_EQ(status, 1) << help;
    std::string usage;
    {
      std::ostringstream u;
      PrintUsage(u);
      usage = u.str();
    }
    EXPECT_EQ(out.str(), usage) << "no banner before the usage for " << help;
  }
  // Help words are whole and case-sensitive.
  EXPECT_TRUE(Parse({"-H", "-helpme", "--help"}).ok);
}

TEST(CommandLineTest, MissingArgumentsGiveTheUsage) {
  EXPECT_FALSE(Parse({"-dir"}).ok);
  EXPECT_FALSE(Parse({"-o", "x.vp", "-mdlist", "a"}).ok);
  EXPECT_FALSE(Parse({"-extract", "a.vp"}).ok);
  EXPECT_FALSE(Parse({"-vppath"}).ok);

  std::istringstream in;
  std::ostringstream out, err;
  EXPECT_EQ(RunQuarrion({"-rconfig"}, in, out, err), 1);
  EXPECT_EQ(out.str().substr(0, sizeof(kUsage) - 1), kUsage);
}

TEST(CommandLineTest, ArgumentsAreTakenLiterallyAndLaterValuesWin) {
  Parsed p = Parse({"-mdlist", "list.cfg", "out.nsh", "-o", "-h"});
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.options.outputFile, "-h");
  EXPECT_EQ(p.options.configFile, "list.cfg");
  EXPECT_EQ(p.options.given, kGivenMdlist | kGivenOutput);
  EXPECT_EQ(ChooseMode(p.options), Mode::kDeleteList);

  p = Parse({"-o", "x.vp", "-mdlist", "cfg", "del.txt"});
  EXPECT_EQ(p.options.outputFile, "del.txt");

  p = Parse({"-rconfig", "a.cfg", "-mconfig", "b.cfg"});
  EXPECT_EQ(p.options.configFile, "b.cfg");
  EXPECT_EQ(p.options.given, kGivenRconfig | kGivenMconfig);
  EXPECT_EQ(ChooseMode(p.options), Mode::kRelationalBuild);

  p = Parse({"-dir", "first", "-dir", "with blank", "-vppath", "-dir"});
  EXPECT_EQ(p.options.directory, "with blank");
  EXPECT_EQ(p.options.vpPath, "-dir");
}

TEST(CommandLineTest, UnknownWordsAreSkippedAndModesChosenInOrder) {
  Parsed p = Parse({"foo", "-DIR", "x", "-o", "a.vp", "bar"});
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.options.given, kGivenOutput);
  EXPECT_EQ(ChooseMode(p.options), Mode::kDefaultBuild);

  EXPECT_EQ(ChooseMode(Parse({"-mconfig", "c", "-dir", "d"}).options), Mode::kMakeConfig);
  EXPECT_EQ(ChooseMode(Parse({"-rconfig", "c", "-mdlist", "c", "o"}).options), Mode::kDeleteList);
  EXPECT_EQ(ChooseMode(Parse({"-mdlist", "c", "o", "-oldinterface"}).options), Mode::kInteractive);
  EXPECT_EQ(ChooseMode(Parse({"-extract", "a.vp", "d", "-verify", "b.vp"}).options), Mode::kVerify);
  EXPECT_EQ(ChooseMode(Parse({"-verify", "a.vp", "-list", "b.vp"}).options), Mode::kList);
  EXPECT_EQ(ChooseMode(Parse({"-list", "a.vp", "-oldinterface"}).options), Mode::kInteractive);
  EXPECT_EQ(ChooseMode(Parse({"-extract", "a.vp", "d", "-rconfig", "x"}).options), Mode::kExtract);
}

TEST(BannerTest, LongWhenNoOptionWasRecognisedShortOtherwise) {
  std::ostringstream longOut, shortOut;
  PrintBanner(longOut, true);
  PrintBanner(shortOut, false);
  const std::string l = longOut.str();
  const std::string s = shortOut.str();
  EXPECT_NE(l.find("Quarrion"), std::string::npos);
  EXPECT_NE(l.find("1.6"), std::string::npos);
  EXPECT_NE(l.find("command-line"), std::string::npos);
  EXPECT_NE(l.find("\n# VP to VP Copy and oldinterface now available\n\n\n"), std::string::npos);
  EXPECT_EQ(l.substr(l.size() - 3), "\n\n\n");
  // One title line, then one empty line.
  EXPECT_EQ(std::count(s.begin(), s.end(), '\n'), 2);
  EXPECT_EQ(s.substr(s.size() - 2), "\n\n");
  EXPECT_NE(s.find("Quarrion 1.6"), std::string::npos);
}

TEST(ProgramTest, RealBinaryPrintsUsageAndExitsOne) {
  testing::RunResult r = testing::RunQuarrionBinary({"-o", "x.vp", "-?"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out.substr(0, sizeof(kUsage) - 1), kUsage);
}

}  // namespace
}  // namespace quarrion
