#include "shell/options.h"

#include <gtest/gtest.h>

#include <sstream>
#include <utility>

#include "shell/time_text.h"
#include "test_util.h"

namespace quarrion {
namespace {

using Ran = testing::RunResult;
constexpr auto Quarrion = [](const std::vector<std::string>& args) {
  return testing::RunQuarrionInProcess(args);
};

// The usage text keeps the lines scripts know (the old version, the tabs,
// "<vpfile>.vp"). Help wins over everything; a missing argument gives the
// usage too, after a line naming the option: status 1, no banner.
TEST(CommandLineTest, HelpWinsAndAMissingArgumentGivesTheUsage) {
  std::ostringstream u;
  PrintUsage(u);
  const std::string usage = u.str();
  EXPECT_EQ(usage.rfind("Quarrion 1.5 - VP archive builder\nUsage is quarrion [options]\n", 0), 0u);
  EXPECT_NE(usage.find("\n-o <vpfile>\t\t\t          Output to <vpfile>.vp\n"), std::string::npos);
  // After the specified lines: the environment and every exit status.
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
      {{"-mdlist", "a.cfg"},
       "-mdlist needs two file names (the configuration and the delete list)"},
      {{"-extract", "a.vp"}, "-extract needs an archive and a folder"},
      {{"-diff", "a.vp"}, "-diff needs two archives"},
      {{"-mtime"}, "-mtime needs a time"},
      {{"-only"}, "-only needs a pattern"},
  };
  for (const auto& [args, missing] : cases) {
    SCOPED_TRACE(args.back());
    const Ran r = Quarrion(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, usage);
    EXPECT_EQ(r.err, missing.empty() ? "" : "quarrion: " + missing + "\n");
  }
}

TEST(CommandLineTest, ArgumentsAreTakenLiterallyAndALaterOptionWins) {
  StartupOptions o;
  ASSERT_TRUE(ParseCommandLine({"-o", "x.vp", "-mdlist", "list.cfg", "del.txt", "-dir", "first",
                                "-dir", "with blank", "-vppath", "-dir"},
                               &o));
  EXPECT_EQ(o.outputFile, "x.vp");  // -o names archives only
  EXPECT_EQ(o.deleteList, "del.txt");
  EXPECT_EQ(o.configFile, "list.cfg");
  EXPECT_EQ(o.directory, "with blank");
  EXPECT_EQ(o.vpPath, "-dir");
  ASSERT_TRUE(ParseCommandLine({"-o", "-h"}, &o));
  EXPECT_EQ(o.outputFile, "-h");
  // -only repeats; -diff takes two arguments, and the modes that look into
  // one archive come before it.
  o = StartupOptions();
  ASSERT_TRUE(
      ParseCommandLine({"-only", "*.tbl", "-diff", "a.vp", "-only", "-only", "x*", "-o", "p"}, &o));
  EXPECT_EQ(o.onlyPatterns, (std::vector<std::string>{"*.tbl", "x*"}));
  EXPECT_EQ(o.diffOld + " " + o.diffNew, "a.vp -only");
  EXPECT_EQ(ChooseMode(o), Mode::kDiff);
  ASSERT_TRUE(ParseCommandLine({"-diff", "a.vp", "b.vp", "-extract", "a.vp", "d"}, &o));
  EXPECT_EQ(ChooseMode(o), Mode::kExtract);
}

// Unknown words, options in another case and help words that are not
// whole are each named once on standard error, before whatever the run
// then prints; standard output is what it would be without them.
TEST(CommandLineTest, SkippedWordsAreWarnedAboutAndVersionPrintsOnlyTheVersion) {
  std::string warnings;
  for (const char* word : {"-vpath", "x", "-DIR", "-H", "---help"}) {
    warnings += "quarrion: warning: " + std::string(word) + ": not an option, skipped\n";
  }
  for (const std::string version : {"-version", "--version"}) {
    const Ran r = Quarrion({"-vpath", "x", "-DIR", "-H", "---help", version, "-list", "a.vp"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "quarrion 1.6\n") << version;
    EXPECT_EQ(r.err, warnings + "quarrion: warning: -list: not run, " + version + " runs instead\n")
        << version;
  }
}

// Every option word the chosen mode does not act on is named once, in the
// order given: a second mode word as not run, any other option as ignored.
// The values stay shared as they are (the last of -rconfig and -mconfig
// names the configuration), but -mdlist writes its own second argument.
TEST(CommandLineTest, OptionsTheModeDoesNotUseAreWarnedAbout) {
  using Words = std::vector<std::string>;
  const std::pair<Words, Words> cases[] = {
      {{"-list", "a.vp", "-verify", "b.vp"}, {"-verify: not run, -list runs instead (on b.vp)"}},
      {{"-extract", "x.vp", "d", "-verify", "y.vp"},
       {"-extract: not run, -verify runs instead (on y.vp)"}},
      {{"-dir", "d", "-mconfig", "m.cfg", "-mdlist", "c.cfg", "out.nsh"},
       {"-dir: not used by -mdlist, ignored",
        "-mconfig: not run, -mdlist runs instead (on c.cfg)"}},
      {{"-rconfig", "a.cfg", "-mconfig", "b.cfg"},
       {"-mconfig: not run, -rconfig runs instead (on b.cfg)"}},
      {{"-mdlist", "c.cfg", "del.nsh", "-o", "other.txt"}, {"-o: not used by -mdlist, ignored"}},
      {{"-only", "a", "-dir", "d", "-only", "b", "-o", "x.vp"},
       {"-only: not used by the default build, ignored"}},
      {{"-list", "a.vp", "-exclude", "*.bak", "-mtime", "0", "-only", "*"},
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
      {{"-extract", "a.vp", "d", "-only", "*", "-vppath", "p"},
       {"-vppath: not used by -extract, ignored"}},
      {{"-verify", "a.vp", "-only", "*"}, {"-only: not used by -verify, ignored"}},
  };
  for (const auto& [args, warnings] : cases) {
    SCOPED_TRACE(args[0] + " " + args[1]);
    StartupOptions o;
    ASSERT_TRUE(ParseCommandLine(args, &o));
    EXPECT_EQ(UnusedOptionWarnings(o, ChooseMode(o)), warnings);
  }
  // Printed before anything else; an option ignored is not checked either.
  const Ran r = Quarrion({"-verify", "none.vp", "-mtime", "soon", "-exclude", "[a"});
  EXPECT_EQ(r.err.rfind("quarrion: warning: -mtime: not used by -verify, ignored\n"
                        "quarrion: warning: -exclude: not used by -verify, ignored\n"
                        "quarrion: cannot open archive none.vp: ",
                        0),
            0u)
      << r.err;
}

// Seconds, dates and date-times in UTC, as -mtime reads them; malformed or
// out-of-range times are refused.
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
