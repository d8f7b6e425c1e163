// The batch modes: prompts, messages, exit statuses and the files they write.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "test_util.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace quarrion {
namespace {

using testing::ReadFile;
using testing::RunQuarrionBinary;
using testing::RunQuarrionInProcess;
using testing::RunResult;
using testing::WriteFile;
using Strings = std::vector<std::string>;

const std::string kShortBanner = "Quarrion 1.6 - VP archive builder\n\n";

// A data directory with one file and one subfolder per folder: one walk order on every host.
class BatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(dir_.Join("game/data/a.tbl"), "table");
    WriteFile(dir_.Join("game/data/maps/c.pof"), "model bytes");
    testing::SetMTime(dir_.Join("game/data/a.tbl"), 1000000000);
    testing::SetMTime(dir_.Join("game/data/maps/c.pof"), 1100000000);
  }
  std::string Data() const { return dir_.Join("game/data"); }
  std::string Game() const { return dir_.Join("game"); }

  testing::TempDir dir_;
};

// An archive written into the tree it packs is left out of the next build of it (a warning).
TEST_F(BatchTest, DefaultBuildWithOptionsOrPromptsLeavesOutItsOwnArchive) {
  const std::string adding =
      "Adding directory: " + Data() + "\nAdding directory: " + Data() + testing::kBelow + "maps\n";
  const std::string out = Data() + "/out.vp";
  RunResult r = RunQuarrionBinary({"-dir", Data(), "-o", out});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out + r.err, kShortBanner + adding + "Writing VP ->\ndata\ndata\\maps\n\n");
  const std::string vp = ReadFile(out);
  EXPECT_EQ(vp.substr(16, 16), "tablemodel bytes");
  // No option: the long banner and two prompts; the typed name ends at a blank.
  r = RunQuarrionBinary({}, Data() + "\nout.vp ignored words\n", Data());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "quarrion: warning: " + Data() + testing::kBelow +
                       "out.vp: is the archive being written, skipped\n");
  EXPECT_EQ(r.out.substr(r.out.find("# VP to VP Copy")),
            "# VP to VP Copy and oldinterface now available\n\n\n"
            "Enter Data Directory Location (ie c:\\games\\starhold\\data)\n#:\n"
            "Importing Directory: \"" +
                Data() + "\"\n" + adding +
                "\n\nWriting VP ->\nVP output Filename (no whitespace): data\ndata\\maps\n\n");
  EXPECT_EQ(ReadFile(out), vp);
}

// Inputs that cannot be read and malformed values fail the run, and nothing is written or
// created. An empty data directory or configuration writes the header alone (a warning, exit 0).
TEST_F(BatchTest, RunsThatFailOrWriteAnEmptyArchive) {
  const std::string out = dir_.Join("out.vp"), none = dir_.Join("none.cfg");
  const std::string empty = dir_.Join("empty"), cfg = dir_.Join("empty.cfg");
  std::filesystem::create_directories(empty);
  WriteFile(cfg, "");
  const std::string header("VPVP\x02\0\0\0\x10\0\0\0\0\0\0\0", 16), kept = "keep me";
  const std::string noConfig = "quarrion: cannot read configuration file " + none + ": ";
  const std::string noFiles = "quarrion: warning: " + out + " holds no files\n";
  const std::string unclosed =
      "quarrion: -exclude: the pattern \"*.[ch\" has a [ that is not closed";
  const std::string noDir = "quarrion: no data directory given (", nowhere = dir_.Join("nowhere");
  // The arguments, the exit status, the start of standard error, the archive then.
  const std::tuple<Strings, int, std::string, std::string> cases[] = {
      {{"-dir", nowhere, "-o", out}, 1, "quarrion: " + nowhere + ": ", kept},
      {{"-mdlist", none, out}, 1, noConfig, kept},
      {{"-rconfig", none, "-dir", Game(), "-o", out}, 1, noConfig, kept},
      {{"-dir", "", "-o", out}, 1, noDir + "the path is empty)\n", kept},
      {{"-o", out}, 1, noDir + "end of input)\n", kept},  // at a prompt
      {{"-dir", Data()}, 1, "quarrion: no archive name given (end of input)\n", kept},
      // Refused before anything is read.
      {{"-mtime", "soon", "-o", out}, 1, "quarrion: -mtime \"soon\": not a time", kept},
      {{"-exclude", "*.bak", "-exclude", "*.[ch", "-o", out}, 1, unclosed, kept},
      {{"-mdlist", cfg, out}, 0, "", ""},  // an empty delete list
      {{"-dir", empty, "-o", out}, 0, noFiles, header},
      {{"-rconfig", cfg, "-dir", Game(), "-o", out}, 0, noFiles, header},
  };
  for (const auto& [args, status, err, archive] : cases) {
    SCOPED_TRACE(args[0] + " " + args[1]);
    WriteFile(out, kept);
    const RunResult r = RunQuarrionBinary(args, "", dir_.path());
    EXPECT_EQ(r.status, status);
    EXPECT_EQ(r.err.substr(0, err.size()), err);
    EXPECT_TRUE(ReadFile(out) == archive);
    EXPECT_EQ(testing::ListTree(dir_.path()).size(), 8u);
  }
  // SOURCE_DATE_EPOCH is refused alike; -verify reads the empty archive left.
  RunResult r = RunQuarrionInProcess({"-dir", Data(), "-o", out}, "", "2026-12-07");
  EXPECT_EQ(r.err.find("quarrion: SOURCE_DATE_EPOCH \"2026-12-07\": not a count of seconds"), 0u);
  r = RunQuarrionBinary({"-verify", out});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out, kShortBanner + out + " is sound: 0 files, 0 bytes\n");
}

// Every builder warns (exit 1) of what readers cannot tell apart: a file at a folder's path and a
// "..x" folder are skipped, paths differing in case both packed; -mconfig writes what builds.
TEST_F(BatchTest, BuildersWarnOfWhatReadersCannotTellApart) {
  const std::string pack = dir_.Join("pack.vp"), cfg = dir_.Join("r.cfg");
  const std::string out = dir_.Join("out.vp"), made = dir_.Join("made.cfg");
  ASSERT_EQ(RunQuarrionBinary({"-dir", Data(), "-o", pack}).status, 0);
  WriteFile(cfg, "a.tbl\nx\ndata\nmaps\n" + pack + ":a.tbl\ndata\nc.pof\nx\ndata\\maps\n");
  const std::string warning = "quarrion: warning: ";
  const std::string both = ": a file and a folder of the same path (data\\maps), skipped\n";
  struct Case {
    Strings args;
    std::string input, warnings, data;  // data: the start of the archive's, "" for none
  };
  const Strings rebuild = {"-rconfig", cfg, "-dir", Game(), "-o", out};
  std::vector<Case> cases = {{rebuild, "", warning + "data\\maps" + both, "tablemodel bytes"}};
#if !defined(_WIN32)
  WriteFile(Data() + "/..hidden/h.tbl", "h");
  WriteFile(Data() + "/MAPS", "a file");
  WriteFile(Data() + "/A.TBL", "two");
  const std::string clash = warning + "data\\A.TBL and data\\a.tbl differ only in letter case\n";
  const std::string tree = warning + Data() + testing::kBelow +
                           "..hidden: folder name \"..hidden\" begins with \"..\", skipped\n" +
                           warning + "data\\MAPS" + both + clash;
  const std::string data = "twotablemodel bytes";
  cases.push_back({{"-dir", Data(), "-o", out}, "", tree, data});
  cases.push_back(
      {{"-oldinterface"}, "im " + Data() + "\nwr " + out + "\nqu\n", tree + clash, data});
  cases.push_back({{"-dir", Data(), "-mconfig", made}, "", tree, ""});
  cases.push_back({{"-rconfig", made, "-dir", Game(), "-o", out}, "", clash, data});
#endif
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args.back());
    std::filesystem::remove(out);
    RunResult r = RunQuarrionBinary(c.args, c.input);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.warnings);
    if (c.data.empty()) continue;
    EXPECT_EQ(ReadFile(out).substr(16, c.data.size()), c.data);
  }
}

TEST_F(BatchTest, ConfigurationRoundTripGivesTheSameArchive) {
  WriteFile(Data() + "/maps/d.pof", "second model");
  const std::string cfg = dir_.Join("game.cfg");
  ASSERT_EQ(RunQuarrionBinary({"-dir", Data(), "-mconfig", cfg}).status, 0);
  EXPECT_EQ(ReadFile(cfg).find("a.tbl\r\n" + Data() + testing::kBelow + "a.tbl\r\ndata\r\n"), 0u);
  ASSERT_EQ(RunQuarrionBinary({"-dir", Data(), "-o", dir_.Join("direct.vp")}).status, 0);

  // The relational build joins base directory, folder and name; the old paths are ignored.
  const std::string moved = dir_.Join("moved");
  std::filesystem::rename(Game(), moved);
  RunResult r =
      RunQuarrionBinary({"-rconfig", cfg, "-o", dir_.Join("relational.vp")}, moved + "\n");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, kShortBanner +
                       "Relational Config Mode\n"
                       "Enter Data Directory Location (ie c:\\games\\starhold\\data)\n#:"
                       "Importing Relational Config with base directory: " +
                       moved + "\ndata\ndata\\maps\n\n");
  EXPECT_EQ(ReadFile(dir_.Join("relational.vp")), ReadFile(dir_.Join("direct.vp")));

#if !defined(_WIN32)
  // A line end in a source path would put the lines out of step: nothing is written.
  const std::string odd = dir_.Join("da\nta");
  WriteFile(odd + "/a.tbl", "x");
  r = RunQuarrionBinary({"-dir", odd, "-mconfig", dir_.Join("odd.cfg")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("its source path holds a line end"), std::string::npos) << r.err;
  EXPECT_FALSE(testing::FileExists(dir_.Join("odd.cfg")));
#endif
}

#if defined(_WIN32)
// A configuration written in the ANSI code page by an earlier version still builds: a name
// that is not UTF-8 finds its file below any base folder and is stored byte for byte.
TEST_F(BatchTest, ConfigurationsInTheAnsiCodePageStillBuild) {
  char ansi[16] = {};
  BOOL lost = FALSE;
  if (::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, L"\u00e9t\u00e9.wav", -1, ansi,
                            sizeof ansi, nullptr, &lost) <= 0 ||
      lost) {
    GTEST_SKIP() << "the ANSI code page has no letter e with an acute accent";
  }
  const std::string name = ansi;
  WriteFile(dir_.Join("日本語/data/voix/été.wav"), "summer");
  WriteFile(dir_.Join("old.cfg"), name + "\r\nC:\\old\\" + name + "\r\ndata\\voix\r\n");
  RunResult r = RunQuarrionBinary(
      {"-rconfig", dir_.Join("old.cfg"), "-dir", dir_.Join("日本語"), "-o", dir_.Join("old.vp")});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const std::string vp = ReadFile(dir_.Join("old.vp"));
  EXPECT_EQ(vp.substr(16, 6), "summer");
  EXPECT_NE(vp.find(name + '\0'), std::string::npos);
}
#endif

// A reference takes the first file of a bare name (warned of when several) or exactly the file of
// a path, never a folder; -vppath moves the archive. A failed add keeps the old archive.
TEST_F(BatchTest, RelationalBuildRows) {
  testing::ArchiveBuilder b;
  b.Folder("data").Folder("a").File("x.tbl", "one").Up().Folder("b").File("x.tbl", "two");
  b.Up().Folder("maps").File("m", "m").Add(testing::Entry(16, 3, "o", 1));
  for (const char* name : {"pack.vp", "pack.dat", "UPPER.VP", "odd.vp"})
    WriteFile(dir_.Join(name), b.Bytes());
  const std::string pack = dir_.Join("pack.vp"), cut = dir_.Join("cut.vp");
  WriteFile(cut, b.Bytes(2, b.DirOffset(), 20));
  const std::string cfg = dir_.Join("r.cfg"), out = dir_.Join("r.vp");
  const std::string game = Game(), vps = dir_.path(), elsewhere = dir_.Join("elsewhere");
  struct Case {
    std::string config;
    std::string data;                    // the start of the archive's data; "" when none is written
    std::string said = "";               // a part of standard output or error; the run then fails
    std::vector<std::string> args = {};  // before -rconfig; none: -dir <game>
    std::size_t size = 0;                // of the archive, when not 0
  };
  const std::string failed = "Add Failed! File \"", bom = "\xEF\xBB\xBF";
  const std::string lost = failed + game + "\\\\lost.tbl\" Does Not Exist!";
  const std::string incomplete =
      cfg + ", line 4: the file ends within the entry that begins there (2 of its 3 lines)";
  const std::string twice =
      pack + ":x.tbl: the archive holds 2 files named \"x.tbl\"; the first, data\\a\\x.tbl";
  const std::string upper = "x.tbl\nd:\\vps\\UPPER.VP:data\\b\\x.tbl\ndata\n";
  const std::string moved = failed + elsewhere + "\\UPPER.VP:data\\b\\x.tbl\" Does Not Exist!";
  const std::string cutShort = cut + ": the header counts 20 entries, but only 10 fit";
  const Case cases[] = {
      // An empty folder line gives two backslashes in a row.
      {"c.pof\nx\ndata\\maps\nlost.tbl\nx\n\nc.pof\nx\ndata\\maps\n", "", lost},
      {"a:b.tbl\nx\ndata\n", "", "\\data\\a:b.tbl\" Has A Name That Is Not A Plain Name!"},
      // A doubled backslash makes an empty folder component, which the writer refuses.
      {"a.tbl\nx\ndata\\\\\n", "", "quarrion: could not write " + out},
      // A byte order mark and a last line without a line end are read; a cut entry is not.
      {bom + "a.tbl\nx\ndata\nc.pof\nx\ndata\\maps", "tablemodel bytes"},
      {"a.tbl\nx\ndata\nc.pof\nx\n", "table", incomplete, {}, 16 + 5 + 2 * 44},
      {"x.tbl\n" + pack + ":data\\b\\x.tbl\ndata\n", "two", "", {"-dir", "/nowhere"}},
      {"y.tbl\n" + pack + ":DATA\\A\\X.TBL\ndata\n", "one"},
      {"x.tbl\n" + pack + ":x.tbl\ndata\n", "one", twice},
      {"maps\n" + pack + ":maps\ndata\\other\n", "",
       failed + pack + ":maps\" Is Not In Its VP Archive!"},
      // ".VP:" marks a reference too; a failure shows the path -vppath moved.
      {upper, "two", "", {"-dir", "/x", "-vppath", vps}},
      {upper, "", moved, {"-vppath", elsewhere, "-dir", "/x"}},
      {"x.tbl\n" + dir_.Join("pack.dat") + ":data\\b\\x.tbl\ndata\n", "two"},
      {"x.tbl\n" + cut + ":data\\b\\x.tbl\ndata\n", "two", "source archive " + cutShort},
      {"o\n" + pack + ":o\ndata\n", "", failed + pack + ":o\" Is Broken In Its VP Archive!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.config);
    WriteFile(out, "old archive");
    WriteFile(cfg, c.config);
    Strings args = c.args.empty() ? Strings{"-dir", game} : c.args;
    args.insert(args.end(), {"-rconfig", cfg, "-o", out});
    const RunResult r = testing::RunQuarrionInProcess(args);
    EXPECT_EQ(r.status, c.said.empty() ? 0 : 1);
    EXPECT_NE((r.out + r.err).find(c.said), std::string::npos) << r.out << r.err;
    const std::string written = ReadFile(out);
    if (c.data.empty()) {
      EXPECT_EQ(written, "old archive");
      continue;
    }
    EXPECT_EQ(written.substr(16, c.data.size()), c.data);
    if (c.size != 0) {
      EXPECT_EQ(written.size(), c.size);
    }
    // Stored under its name line (after any byte order mark).
    const std::size_t name = c.config.starts_with(bom) ? 3 : 0;
    EXPECT_NE(written.find(c.config.substr(name, c.config.find('\n') - name) + '\0'),
              std::string::npos);
  }

#if !defined(_WIN32)
  // A data directory whose path holds ".vp:" is read from disk, even beside an archive odd.vp.
  WriteFile(dir_.Join("odd.vp:1/data/a.tbl"), "disk");
  const RunResult r = RunQuarrionBinary({"-dir", "odd.vp:1/data", "-o", "x.vp"}, "", dir_.path());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(dir_.Join("x.vp")).substr(16, 4), "disk");
#endif
}

// `$` doubled and `"` written `$\"` in an installer script; an entry the file ends within is
// warned of (exit 1). The installer compiler takes the list warning-free (-WX).
TEST_F(BatchTest, DeleteListBytesCompileInAnInstallerScript) {
  const std::string cfg = dir_.Join("d.cfg"), out = dir_.Join("del.nsh");
  WriteFile(cfg,
            "a.txt\nignored\\path\ndata\r\nb.txt\nx\n\r\nfighter.pof\n\ndata\\models\n"
            "cost$foo.tbl\nx\ndata\\$mods$\n$$x\nx\n$\nsay \"hi\".txt\nx\ndata\\\"q\"\nhalf\n");
  RunResult r = RunQuarrionBinary({"-mdlist", cfg, out, "-o", dir_.Join("other.txt")});
  EXPECT_EQ(r.status, 1);
  const std::string warn = "quarrion: warning: ";
  EXPECT_EQ(r.err, warn + "-o: not used by -mdlist, ignored\n" + warn + cfg +
                       ", line 19: the file ends within the entry that begins there (1 of its 3 "
                       "lines), which is not used\n");
  EXPECT_FALSE(testing::FileExists(dir_.Join("other.txt")));
  EXPECT_EQ(r.out, kShortBanner + "Making NSIS Delete List (" + out + ") from config file (" + cfg +
                       ")\n");
  EXPECT_EQ(ReadFile(out),
            "  delete \"$INSTDIR\\data\\a.txt\"\r\n"
            "  delete \"$INSTDIR\\\\b.txt\"\r\n"
            "  delete \"$INSTDIR\\data\\models\\fighter.pof\"\r\n"
            "  delete \"$INSTDIR\\data\\$$mods$$\\cost$$foo.tbl\"\r\n"
            "  delete \"$INSTDIR\\$$\\$$$$x\"\r\n"
            "  delete \"$INSTDIR\\data\\$\\\"q$\\\"\\say $\\\"hi$\\\".txt\"\r\n");
  const std::string log = dir_.Join("log.txt"), toLog = " > \"" + log + "\" 2>&1";
  if (std::system(("makensis -VERSION" + toLog).c_str()) != 0) {
    GTEST_SKIP() << "makensis is not installed; the installer compiler check did not run";
  }
  WriteFile(dir_.Join("setup.nsi"),
            "OutFile \"qtest.exe\"\r\n"
            "RequestExecutionLevel user\r\n"
            "Section\r\n"
            "  WriteUninstaller \"$INSTDIR\\remove-qtest.exe\"\r\n"
            "SectionEnd\r\n"
            "Section \"Uninstall\"\r\n"
            "!include \"del.nsh\"\r\n"
            "SectionEnd\r\n");
  const std::string cmd = "makensis -V2 -WX \"" + dir_.Join("setup.nsi") + "\"" + toLog;
  EXPECT_EQ(std::system(cmd.c_str()), 0) << ReadFile(log);
  EXPECT_TRUE(testing::FileExists(dir_.Join("qtest.exe"))) << ReadFile(log);
}

// Entries a build would refuse and installer wildcards are named with their line; nothing written.
TEST_F(BatchTest, DeleteListRefusesEntriesTheInstallerWouldNotTakeAsTheyStand) {
  const std::string cfg = dir_.Join("d.cfg"), out = dir_.Join("del.nsh");
  WriteFile(cfg,
            "ok.txt\nx\ndata\n"
            "boot.ini\nx\ndata\\..\\..\n"
            "*\nx\ndata\n"
            "\nx\n\n"
            "a.txt\nx\ndata\\\\x\n"
            "a\rb.txt\nx\ndata\n"
            "a?.txt\nx\nc:\\data\n");
  WriteFile(out, "keep me");
  RunResult r = RunQuarrionBinary({"-mdlist", cfg, out});
  EXPECT_EQ(r.status, 1);
  const std::string at = "quarrion: " + cfg + ", line ",
                    wild = ", which the installer reads as a wildcard\n";
  EXPECT_EQ(
      r.err,
      at + "4: data\\..\\..\\boot.ini: the folder component \"..\" names the parent folder\n" + at +
          "7: data\\*: the name \"*\" holds \"*\"" + wild + at + "10: the name \"\" is empty\n" +
          at + "13: data\\\\x\\a.txt: the folder \"data\\\\x\" has an empty component\n" + at +
          "16: data\\a?b.txt: the name \"a?b.txt\" holds a control character\n" + at +
          "19: c:\\data\\a?.txt: the name \"a?.txt\" holds \"?\"" + wild + "quarrion: " + out +
          " not written: 6 entries were refused\n");
  EXPECT_EQ(ReadFile(out), "keep me");
}

// The 2 GiB limits, sparse files standing in for large ones: 2^31 bytes is skipped; a.bin and
// b.bin fit alone, but b.bin's data would end at 2^31 + 14. Refused before any folder is copied.
void Sparse(const std::string& path, std::uintmax_t size) {
  WriteFile(path, "");
  std::filesystem::resize_file(path, size);
}

TEST(LimitsTest, TooLargeFilesAndArchivesAreRefusedBeforeAnythingIsWritten) {
  testing::TempDir dir;
  const std::string data = dir.Join("data"), target = dir.Join("out.vp");
  WriteFile(target, "old archive");
  Sparse(dir.Join("data/huge.bin"), std::uintmax_t{1} << 31);
  Sparse(dir.Join("data/sub/a.bin"), std::uintmax_t{1} << 30);
  Sparse(dir.Join("data/sub/b.bin"), (std::uintmax_t{1} << 30) - 2);

  RunResult r = RunQuarrionBinary({"-dir", data, "-o", target});
  EXPECT_EQ(r.status, 1);
  for (const std::string& said : {data + testing::kBelow + "huge.bin: 2147483648 bytes, too large",
                                  std::string("b.bin: the archive would pass 2147483647 bytes")}) {
    EXPECT_NE(r.err.find(said), std::string::npos) << r.err;
  }
  // The old archive stays; no temporary file is left.
  EXPECT_EQ(r.out.substr(r.out.size() - 14), "Writing VP ->\n");
  EXPECT_EQ(ReadFile(target), "old archive");
  EXPECT_EQ(testing::ListTree(dir.path()).size(), 6u);
}

// "<time>  <path>" of every file of `archive`, in directory order.
Strings Listing(const std::string& archive) {
  std::istringstream text(RunQuarrionInProcess({"-list", archive}).out);
  Strings lines;
  for (std::string line; std::getline(text, line);) {
    if (line.size() > 12 && line[10] == ' ' && line[11] == ' ') lines.push_back(line.substr(12));
  }
  return lines;
}

// -mtime stamps every file in every mode that writes an archive (the -diff patch too) and wins
// over SOURCE_DATE_EPOCH, which alone lowers only the later times to it.
TEST_F(BatchTest, MtimeAndSourceDateEpochSetTheTimesOfEveryArchiveWriter) {
  WriteFile(Data() + "/maps/empty.txt", "");  // of this moment, like c.pof later than the epoch
  const std::string out = dir_.Join("out.vp"), cfg = dir_.Join("data.cfg");
  ASSERT_EQ(RunQuarrionInProcess({"-dir", Data(), "-mconfig", cfg}).status, 0);
  // The patch from an empty archive to one of the data holds every file.
  const std::string empty = dir_.Join("empty.vp"), full = dir_.Join("full.vp");
  WriteFile(empty, testing::ArchiveBuilder().Bytes());
  ASSERT_EQ(RunQuarrionInProcess({"-dir", Data(), "-o", full}).status, 0);
  const std::string at = "2026-12-07 10:30:05", midnight = "2026-12-07 00:00:00";
  const std::string before = "2001-09-09 01:46:40", lowered = "2003-04-10 18:40:00";
  // Arguments, SOURCE_DATE_EPOCH, the time of the maps files (and of a.tbl, but for the epoch).
  const std::tuple<Strings, std::string, std::string> cases[] = {
      {{"-dir", Data(), "-o", out, "-mtime", "1796639405"}, "1", at},
      {{"-rconfig", cfg, "-dir", Game(), "-o", out, "-mtime", "2026-12-07"}, "1", midnight},
      {{"-oldinterface", "-mtime", "2026-12-07T10:30:05"}, "1", at},
      {{"-dir", Data(), "-o", out}, "1050000000", lowered},
      {{"-diff", empty, full, "-o", out, "-mtime", "1796639405"}, "1", at},
      {{"-diff", empty, full, "-o", out}, "1050000000", lowered},
  };
  for (const auto& [args, epoch, maps] : cases) {
    SCOPED_TRACE(args[0] + " " + epoch);
    const std::string input = "im\n" + Data() + "\nwr\n" + out + "\nqu\n";
    ASSERT_EQ(RunQuarrionInProcess(args, input, epoch).status, args[0] == "-diff" ? 1 : 0);
    const std::string first = epoch == "1" ? maps : before;
    EXPECT_EQ(Listing(out), (Strings{first + "  data\\a.tbl", maps + "  data\\maps\\c.pof",
                                     maps + "  data\\maps\\empty.txt"}));
  }
}

TEST_F(BatchTest, ExclusionsLeaveOutNamesFoldersWithTheirTreesAndPaths) {
  for (const char* path : {".git/HEAD", ".git/objects/ab", "ships.tbl.BAK", "Thumbs.db",
                           "notes.txt", "maps/old/deep/a.map", "maps/campaign/b.txt"}) {
    WriteFile(Data() + "/" + path, "x");
  }
  // A slash separates folders as a backslash does.
  const Strings exclusions = {"-exclude",  ".git",     "-exclude", "*.bak",    "-exclude",
                              "THUMBS.DB", "-exclude", "maps/old", "-exclude", "maps\\*.txt"};
  const Strings kept = {"data\\a.tbl", "data\\notes.txt", "data\\maps\\c.pof",
                        "data\\maps\\campaign\\b.txt"};  // in directory order
  const std::string out = dir_.Join("out.vp"), cfg = dir_.Join("data.cfg");
  for (const Strings& mode : {Strings{"-dir", Data(), "-o", out}, Strings{"-oldinterface"},
                              Strings{"-dir", Data(), "-mconfig", cfg}}) {
    std::filesystem::remove(out);
    Strings args = exclusions;
    args.insert(args.end(), mode.begin(), mode.end());
    RunResult r = RunQuarrionInProcess(args, "im\n" + Data() + "\nwr\n" + out + "\nqu\n");
    EXPECT_EQ(r.status, 0) << mode[0] << r.err;
    EXPECT_EQ(r.err, "") << mode[0];
    // Excluded folders are not even entered.
    const std::string below = "Adding directory: " + Data() + testing::kBelow;
    EXPECT_NE(r.out.find(below + "maps\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find(below + "maps" + testing::kBelow + "old"), std::string::npos);
    EXPECT_EQ(r.out.find(below + ".git"), std::string::npos);
    if (mode.back() == cfg) {  // the configuration written, built
      ASSERT_EQ(RunQuarrionInProcess({"-rconfig", cfg, "-dir", Game(), "-o", out}).status, 0);
    }
    Strings packed;
    for (const std::string& line : Listing(out)) packed.push_back(line.substr(21));
    EXPECT_EQ(packed, kept) << mode[0];
  }
}

}  // namespace
}  // namespace quarrion
