#include "shell/options.h"

#include <gtest/gtest.h>

#include <sstream>

#include "shell/time_text.h"
#include "test_util.h"

namespace quarrion {
namespace {

using Ran = testing::RunResult;
constexpr auto Quarrion = [](const std::vector<std::string>& args) {
  return testing::RunQuarrionInProcess(args);
};

// The usage text keeps the lines scripts know (the old version, the tabs,
// "<vpfile>.vp"). Help wins over everything, and a missing argument gives
// the usage too: status 1, no banner.
TEST(CommandLineTest, HelpWinsAndAMissingArgumentGivesTheUsage) {
  std::ostringstream u;
  PrintUsage(u);
  const std::string usage = u.str();
  EXPECT_EQ(usage.rfind("Quarrion 1.5 - VP archive builder\nUsage is quarrion [options]\n", 0), 0u);
  EXPECT_NE(usage.find("\n-o <vpfile>\t\t\t          Output to <vpfile>.vp\n"), std::string::npos);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"-dir", "c:\\x", "-h", "-dir"},
        {"-o", "x.vp", "-?"},
        {"--help"},
        {"-rconfig"},
        {"-extract", "a.vp"}}) {
    const Ran r = Quarrion(args);
    EXPECT_EQ(r.status, 1) << args.back();
    EXPECT_EQ(r.out, usage) << args.back();
  }
}

TEST(CommandLineTest, ArgumentsAreTakenLiterallyAndALaterOptionWins) {
  StartupOptions o;
  ASSERT_TRUE(ParseCommandLine({"-o", "x.vp", "-mdlist", "list.cfg", "del.txt", "-dir", "first",
                                "-dir", "with blank", "-vppath", "-dir"},
                               &o));
  EXPECT_EQ(o.outputFile, "del.txt");  // -mdlist shares its output with -o
  EXPECT_EQ(o.configFile, "list.cfg");
  EXPECT_EQ(o.directory, "with blank");
  EXPECT_EQ(o.vpPath, "-dir");
  ASSERT_TRUE(ParseCommandLine({"-o", "-h"}, &o));
  EXPECT_EQ(o.outputFile, "-h");
}

// Unknown words, options in another case and help words that are not
// whole are each named once on standard error, before whatever the run
// then prints; standard output is what it would be without them.
TEST(CommandLineTest, SkippedWordsAreWarnedAboutAndVersionPrintsOnlyTheVersion) {
  std::string warnings;
  for (const char* word : {"-vpath", "x", "-DIR", "-H", "---help"}) {
    warnings += "quarrion: warning: " + std::string(word) + ": not an option, skipped\n";
  }
  for (const char* version : {"-version", "--version"}) {
    const Ran r = Quarrion({"-vpath", "x", "-DIR", "-H", "---help", version, "-list", "a.vp"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "quarrion 1.6\n") << version;
    EXPECT_EQ(r.err, warnings) << version;
  }
}

TEST(TimeTextTest, SecondsDatesAndDateTimesInUtc) {
  EXPECT_EQ(ParseTimeText("0"), 0);
  EXPECT_EQ(ParseTimeText("1700000000"), 1700000000);
  EXPECT_EQ(ParseTimeText("2147483647"), 2147483647);
  EXPECT_EQ(ParseTimeText("1970-01-01"), 0);
  EXPECT_EQ(ParseTimeText("2024-02-29"), 1709164800);
  EXPECT_EQ(ParseTimeText("2026-12-07T10:30:05"), 1796639405);
  EXPECT_EQ(ParseTimeText("2038-01-19T03:14:07"), 2147483647);
  // Listings show what -mtime reads.
  EXPECT_EQ(UtcTimeText(*ParseTimeText("2024-02-29T23:59:58")), "2024-02-29 23:59:58");
}

TEST(TimeTextTest, MalformedOrOutOfRangeTimesAreRefused) {
  for (const char* bad : {"", "-1", "12x", "2147483648", "99999999999", "2023-02-29", "2026-13-01",
                          "2026-12-7", "2026-12-07 10:30:00", "2026-12-07T24:00:00",
                          "2026-12-07T10:30", "1969-12-31", "2038-01-19T03:14:08"}) {
    EXPECT_FALSE(ParseTimeText(bad).has_value()) << bad;
  }
}

}  // namespace
}  // namespace quarrion
