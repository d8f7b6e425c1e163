#include "shell/options.h"

#include <gtest/gtest.h>

#include <sstream>
#include <utility>

#include "shell/time_text.h"
#include "test_util.h"

namespace quarrion {
namespace {

using Ran = testing::RunResult;
using testing::RunQuarrionInProcess;

// The usage keeps the lines scripts know (old version, tabs). Help wins over everything; a
// missing argument gives the usage too, after a line naming the option: status 1, no banner.
TEST(CommandLineTest, HelpWinsAndAMissingArgumentGivesTheUsage) {
  std::ostringstream u;
  PrintUsage(u);
  const std::string usage = u.str();
  EXPECT_EQ(usage.rfind("Quarrion 1.5 - VP archive builder\nUsage is quarrion [options]\n", 0), 0u);
  EXPECT_NE(usage.find("\n-o <vpfile>\t\t\t          Output to <vpfile>.vp\n"), std::string::npos);
  for (const char* added : {"\nSOURCE_DATE_EPOCH=", "\nQUARRION_IO=portable ", "\nExit status 1 ",
                            "\nExit status 128+N ", "\n-diff exit status 0, 1, 2 "}) {
    EXPECT_NE(usage.find(added), std::string::npos) << added;
  }
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"-dir", "c:\\x", "-h", "-dir"}, ""},
      {{"-o", "x.vp", "-?"}, ""},
      {{"--help"}, ""},
      {{"-rconfig"}, "-rconfig needs a file name"},
      {{"-o", "x.vp", "-o"}, "-o needs a file name"},
      {{"-list", "a.vp", "-dir"}, "-dir needs a folder"},
      {{"-mdlist", "a"}, "-mdlist needs two file names (the configuration and the delete list)"},
      {{"-extract", "a.vp"}, "-extract needs an archive and a folder"},
      {{"-diff", "a.vp"}, "-diff needs two archives"},
      {{"-mtime"}, "-mtime needs a time"},
      {{"-only"}, "-only needs a pattern"},
  };
  for (const auto& [args, missing] : cases) {
    SCOPED_TRACE(args.back());
    const Ran r = RunQuarrionInProcess(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, usage);
    EXPECT_EQ(r.err, missing.empty() ? "" : "quarrion: " + missing + "\n");
  }
}

// A value is taken as typed even when it looks like an option; a later option wins, -only adds.
TEST(CommandLineTest, ArgumentsAreTakenLiterallyAndALaterOptionWins) {
  StartupOptions o;
  ASSERT_TRUE(
      ParseCommandLine({"-o", "-h", "-dir", "a", "-dir", "-only", "-only", "-dir", "x*"}, &o));
  EXPECT_EQ(o.outputFile + "|" + o.directory, "-h|-only");
  EXPECT_EQ(o.onlyPatterns, (std::vector<std::string>{"-dir"}));
}

// Unknown words, other-case options and partial help words are each named once on standard
// error; standard output is what it would be without them.
TEST(CommandLineTest, SkippedWordsAreWarnedAboutAndVersionPrintsOnlyTheVersion) {
  std::string warnings;
  for (const char* word : {"-vpath", "x", "-DIR", "-H", "---help"}) {
    warnings += "quarrion: warning: " + std::string(word) + ": not an option, skipped\n";
  }
  for (const std::string version : {"-version", "--version"}) {
    const Ran r =
        RunQuarrionInProcess({"-vpath", "x", "-DIR", "-H", "---help", version, "-list", "a.vp"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "quarrion 1.6\n") << version;
    EXPECT_EQ(r.err, warnings + "quarrion: warning: -list: not run, " + version + " runs instead\n")
        << version;
  }
}

// Each option word the chosen mode does not act on is named once, in order: a second mode word
// as not run (a shared value names the last one's file), any other option as ignored.
TEST(CommandLineTest, OptionsTheModeDoesNotUseAreWarnedAbout) {
  using Words = std::vector<std::string>;
  const std::pair<Words, Words> cases[] = {
      {{"-list", "a.vp", "-verify", "b.vp"}, {"-verify: not run, -list runs instead (on b.vp)"}},
      {{"-extract", "x", "d", "-verify", "y"}, {"-extract: not run, -verify runs instead (on y)"}},
      {{"-diff", "a", "b", "-extract", "x", "d"}, {"-diff: not run, -extract runs instead"}},
      {{"-dir", "d", "-mconfig", "m", "-mdlist", "c", "o"},
       {"-dir: not used by -mdlist, ignored", "-mconfig: not run, -mdlist runs instead (on c)"}},
      {{"-mdlist", "c.cfg", "del.nsh", "-o", "other.txt"}, {"-o: not used by -mdlist, ignored"}},
      {{"-only", "a", "-only", "b", "-o", "x"}, {"-only: not used by the default build, ignored"}},
      {{"-list", "a", "-exclude", "*.bak", "-mtime", "0", "-only", "*"},
       {"-exclude: not used by -list, ignored", "-mtime: not used by -list, ignored"}},
      {{"-dir", "d", "-mconfig", "m.cfg", "-o", "x.vp", "-mtime", "0", "-vppath", "p"},
       {"-o: not used by -mconfig, ignored", "-mtime: not used by -mconfig, ignored",
        "-vppath: not used by -mconfig, ignored"}},
      {{"-oldinterface", "-dir", "d", "-o", "x.vp", "-mtime", "0", "-exclude", "x"},
       {"-dir: not used by -oldinterface, ignored", "-o: not used by -oldinterface, ignored"}},
      {{"-rconfig", "c", "-vppath", "p", "-dir", "d", "-o", "x", "-mtime", "0", "-exclude", "x"},
       {"-exclude: not used by -rconfig, ignored"}},
      {{"-diff", "a", "b", "-mtime", "0"}, {"-mtime: not used by -diff, ignored"}},
      {{"-diff", "a", "b", "-o", "p.vp", "-mtime", "0", "-only", "*"}, {}},
      {{"-extract", "a", "d", "-only", "*", "-vppath", "p"},
       {"-vppath: not used by -extract, ignored"}},
      {{"-verify", "a.vp", "-only", "*"}, {"-only: not used by -verify, ignored"}},
  };
  for (const auto& [args, warnings] : cases) {
    SCOPED_TRACE(args[0] + " " + args[1]);
    StartupOptions o;
    ASSERT_TRUE(ParseCommandLine(args, &o));
    EXPECT_EQ(UnusedOptionWarnings(o, ChooseMode(o)), warnings);
  }
  // Printed first; an option ignored is not checked.
  const Ran r = RunQuarrionInProcess({"-verify", "none.vp", "-mtime", "soon", "-exclude", "[a"});
  EXPECT_TRUE(
      r.err.starts_with("quarrion: warning: -mtime: not used by -verify, ignored\n"
                        "quarrion: warning: -exclude: not used by -verify, ignored\n"
                        "quarrion: cannot open archive none.vp: "))
      << r.err;
}

// -mtime reads seconds, dates and date-times in UTC; malformed or out-of-range times are refused.
TEST(TimeTextTest, SecondsDatesAndDateTimesInUtc) {
  const std::pair<const char*, std::int64_t> rows[] = {{"0", 0},
                                                       {"1700000000", 1700000000},
                                                       {"2147483647", 2147483647},
                                                       {"1970-01-01", 0},
                                                       {"2024-02-29", 1709164800},
                                                       {"2026-12-07T10:30:05", 1796639405},
                                                       {"2038-01-19T03:14:07", 2147483647}};
  for (const auto& [text, seconds] : rows) EXPECT_EQ(ParseTimeText(text), seconds) << text;
  for (const char* bad : {"", "-1", "12x", "2147483648", "99999999999", "2023-02-29", "2026-13-01",
                          "2026-12-7", "2026-12-07 10:30:00", "2026-12-07T24:00:00",
                          "2026-12-07T10:30", "1969-12-31", "2038-01-19T03:14:08"}) {
    EXPECT_FALSE(ParseTimeText(bad).has_value()) << bad;
  }
  // Listings show what -mtime reads.
  EXPECT_EQ(UtcTimeText(*ParseTimeText("2024-02-29T23:59:58")), "2024-02-29 23:59:58");
}

}  // namespace
}  // namespace quarrion
