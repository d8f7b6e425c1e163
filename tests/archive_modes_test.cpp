// The modes that read archives: -list, -verify, -only, -diff and -extract.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "shell/extraction.h"
#include "shell/modes.h"
#include "shell/options.h"
#include "test_util.h"

namespace quarrion {
namespace {

namespace fs = std::filesystem;
using testing::ArchiveBuilder;
using testing::Entry;
using testing::ReadFile;
using testing::RunArchiveMode;
using testing::WriteFile;
using ArchiveModeTest = testing::ArchiveTest;

// -list prints in directory order the files -verify does not report, warning of the others;
// -extract writes exactly those, replacing what is at their paths, and refuses the others.
TEST_F(ArchiveModeTest, ListAndExtractTakeOnlyWhatVerifyDoesNotReport) {
  ArchiveBuilder c;
  c.Folder("data").File("readme.txt", "hello", 0).Folder("maps").File("a.map", "0123", -1);
  c.Up().Folder("tables").File("ships.tbl", std::string(300000, 'x'), 2147483647);
  c.File("bad\x1b]0;x", "!", 86400);  // a name that would drive a terminal
  // A problem of the data comes before the others of its entry.
  c.Add(Entry(16, -4, "n:g", 1)).Add(Entry(17, 3, "over", 1)).Add(Entry(16, 5, "same", 1));
  c.Add(Entry(4, 4, "header", 1)).Add(Entry(1 << 30, 5, "far", 1));
  c.File("leap", "", 951782400).File("old", "", -2147483647 - 1);
  c.Add(Entry(c.DirOffset(), 10, "directory", 1));
  const std::string archive = Archive(c.Bytes());
  const testing::Dialogue list = RunArchiveMode(RunListArchive, archive);
  EXPECT_EQ(list.status, 1);
  const std::string area = " lie outside the data area (offset 16 up to 300026)\n";
  auto left = [](int entry, const std::string& rest) {
    return "quarrion: warning: left out entry " + std::to_string(entry) + " (data\\tables\\" + rest;
  };
  EXPECT_EQ(list.err,
            left(7, "bad?]0;x): \"bad?]0;x\" holds a control character\n") +
                left(8, "n:g): the size -4 is negative\n") +
                left(9, "over): the data overlap those of entry 1 (data\\readme.txt)\n") +
                left(10, "same): the data overlap those of entry 1 (data\\readme.txt)\n") +
                left(11, "header): the data (offset 4, 4 bytes)" + area) +
                left(12, "far): the data (offset 1073741824, 5 bytes)" + area) +
                left(15, "directory): the data (offset 300026, 10 bytes)" + area));
  EXPECT_EQ(list.out,
            "         5  1970-01-01 00:00:00  data\\readme.txt\n"
            "         4  1969-12-31 23:59:59  data\\maps\\a.map\n"
            "    300000  2038-01-19 03:14:07  data\\tables\\ships.tbl\n"
            "         0  2000-02-29 00:00:00  data\\tables\\leap\n"
            "         0  1901-12-13 20:45:52  data\\tables\\old\n"
            "5 files, 300009 bytes\n");
  const std::string out = dir_.Join("out/nested");  // made, with its parent
  WriteFile(out + "/data/readme.txt", "old contents that are longer");
  const testing::Dialogue t = RunArchiveMode(RunExtractArchive, archive, out);
  EXPECT_EQ(t.status, 1);
  EXPECT_EQ(t.out, "Extracted 5 files (300009 bytes) into " + out + "\n");
  const std::string refused =
      std::regex_replace(list.err, std::regex("warning: left out"), "refused");
  EXPECT_EQ(t.err, refused + "quarrion: not everything was extracted: 7 refused, 0 failed\n");
  EXPECT_EQ(testing::ListTree(out),  // no temporary file left
            (std::vector<std::string>{"data", "data/maps", "data/maps/a.map", "data/readme.txt",
                                      "data/tables", "data/tables/leap", "data/tables/old",
                                      "data/tables/ships.tbl"}));
  EXPECT_EQ(ReadFile(out + "/data/readme.txt"), "hello");
  EXPECT_EQ(RunArchiveMode(RunExtractArchive, archive, "").err,
            "quarrion: cannot extract into: no target folder given\n");
}

// An archive whose header or directory -verify reports is refused in its words; bytes after
// the directory leave every entry whole: a warning, the files read, and the run fails.
TEST_F(ArchiveModeTest, ArchivesThatCannotBeReadAreErrors) {
  const std::string missing = dir_.Join("missing.vp");
  ArchiveBuilder g;
  g.Folder("data").File("a", "1");
  const std::string tail = Archive(g.Bytes() + "appended", "tail.vp");
  const std::pair<std::string, std::string> cases[] = {
      {missing, "quarrion: cannot open archive " + missing + ":"},
      {Archive("VPVQ" + std::string(12, '\0'), "q.vp"), "q.vp: not a VP archive"},
      {Archive(g.Bytes(3), "v3.vp"), "v3.vp: not a VP archive of version 2 (version 3)"},
      {Archive(g.Bytes(2, g.DirOffset(), 5), "cut.vp"), "cut.vp: the header counts 5 entries"},
      {Archive(std::string("VPVP\x02\0", 6), "six.vp"), "six.vp: the file is 6 bytes long"},
      {Archive(g.Bytes(2, 5000, 2), "past.vp"), "past.vp: the directory offset 5000 lies outside"},
      {Archive(g.Bytes(2, 8, 2), "head.vp"), "head.vp: the directory offset 8 lies outside"},
      {Archive(g.Bytes(2, g.DirOffset(), -1), "n.vp"), "n.vp: the entry count -1 is negative\n"},
      {tail, "warning: " + tail + ": the file holds 8 bytes after the last directory entry\n"}};
  for (const auto& [archive, message] : cases) {
    for (auto mode : {RunListArchive, RunExtractArchive, RunVerifyArchive}) {
      if (mode == RunVerifyArchive && archive != missing) continue;  // -verify reports those
      const testing::Dialogue t = RunArchiveMode(mode, archive, dir_.Join("out"));
      EXPECT_EQ(t.status, 1);
      EXPECT_TRUE(archive == tail ? t.out.find("1 file") != std::string::npos : t.out.empty())
          << t.out;
      EXPECT_NE(t.err.find(message), std::string::npos) << t.err;
    }
  }
  EXPECT_EQ(testing::ListTree(dir_.Join("out")), (std::vector<std::string>{"data", "data/a"}));
}

// -verify prints every problem, those of the folders' structure in the order of the entries
// before those of the data, then their count. A folder opened again in any letter case is the
// same folder; a file and a folder of one path are a problem in either order.
TEST_F(ArchiveModeTest, VerifyPrintsEveryProblemAndTheirCount) {
  const std::string n32(32, 'n'), count = dir_.Join("a.vp") + ": ";
  ArchiveBuilder c;
  c.Up().Folder("data").File("a", "0123456789").Add(Entry(16, 4, "dup", 1)).Folder(".").Up();
  c.Folder("maps").File("a.map", "1").Up().Folder("maps x").File("b", "2").Up();
  c.Folder("MAPS").Folder("x").File("b", "3").Up().Up().File("Maps", "4");
  c.File("sub", "5").Folder("SUB").Up().Add(Entry(16, 0, n32, 1));
  const std::pair<std::string, std::string> cases[] = {
      {c.Bytes(),
       "entry 0 (..): closes no open folder\n"
       "entry 4 (data\\.): \".\" names the current folder\n"
       "entry 17 (data\\Maps): a file and a folder of the same path, with entry 6 (data\\maps)\n"
       "entry 19 (data\\SUB): a file and a folder of the same path, with entry 18 (data\\sub)\n"
       "entry 21 (data\\" +
           n32 +
           "): the name is not terminated within 32 bytes\n"
           "entry 3 (data\\dup): the data overlap those of entry 2 (data\\a)\n" +
           count + "6 problems found\n"},
      {"VPVQ" + c.Bytes().substr(4),
       "the file does not begin with \"VPVP\"\n" + count + "1 problem found\n"},
      {c.Bytes(1), "the version is 1, not 2\n" + count + "1 problem found\n"}};
  for (const auto& [bytes, out] : cases) {
    const testing::Dialogue t = RunArchiveMode(RunVerifyArchive, Archive(bytes));
    EXPECT_EQ(t.status, 1);
    EXPECT_EQ(t.out, out);
  }
}

// -only chooses files by path (letter case ignored, `*` across folders); a pattern that
// chooses nothing is warned of and fails the run, a malformed one is refused before any work.
TEST_F(ArchiveModeTest, OnlyListsAndExtractsTheFilesWhosePathsMatch) {
  ArchiveBuilder c;
  c.Folder("data").File("readme.txt", "hello", 1).Folder("maps").File("a.map", "aa", 1);
  c.File("B.MAP", "bbb", 1).Up().Folder("tables").File("ships.tbl", "ships", 1);
  const std::string archive = Archive(c.Bytes());
  const std::string a = "         2  1970-01-01 00:00:01  data\\maps\\a.map\n";
  const std::string b = "         3  1970-01-01 00:00:01  data\\maps\\B.MAP\n";
  const std::string none = "quarrion: warning: -only \"*.pof\": no file matches\n";
  struct Case {
    std::vector<std::string> patterns;
    int status;
    std::string out, err;
  };
  const Case cases[] = {
      {{"DATA\\MAPS\\A*", "*\\b.map"}, 0, a + b + "2 files, 5 bytes\n", ""},
      {{"*.pof", "data\\maps\\b*"}, 1, b + "1 file, 3 bytes\n", none},
      {{"*.pof"}, 1, "0 files, 0 bytes\n", none},
      {{"*.tbl", "data\\[ma"},
       1,
       "",
       "quarrion: -only: the pattern \"data\\[ma\" has a [ that is not closed\n"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.patterns[0]);
    const testing::Dialogue t = RunArchiveMode(RunListArchive, archive, "", k.patterns);
    EXPECT_EQ(t.status, k.status);
    EXPECT_EQ(t.out, k.out);
    EXPECT_EQ(t.err, k.err);
  }
  const std::string out = dir_.Join("out");
  testing::Dialogue t = RunArchiveMode(RunExtractArchive, archive, out, {"*maps\\*", "*.pof"});
  EXPECT_EQ(t.status, 1);
  EXPECT_EQ(t.out + t.err, "Extracted 2 files (5 bytes) into " + out + "\n" + none);
  EXPECT_EQ(testing::ListTree(out),
            (std::vector<std::string>{"data", "data/maps", "data/maps/B.MAP", "data/maps/a.map"}));
  t = RunArchiveMode(RunExtractArchive, archive, dir_.Join("bad"), {"[*"});
  EXPECT_EQ(t.status, 1);
  EXPECT_FALSE(testing::FileExists(dir_.Join("bad")));
}

// -diff: differences by path (letter case ignored) and data, exit statuses, hostile archives,
// a patch that cannot be written, and -only, which restricts lines and totals.
TEST_F(ArchiveModeTest, DiffLinesTotalsAndStatuses) {
  const std::string big(70000, 'x');
  ArchiveBuilder before, retimed, after;
  before.Folder("data").File("readme.txt", "hello", 1).File("B.tbl", "bbb").File("a.tbl", big);
  before.Folder("maps").File("gone.map", "g");
  // The same data at other times; a later entry of a path does not count.
  retimed.Folder("data").File("readme.txt", "hello", 2).File("B.tbl", "bbb", 2);
  retimed.File("a.tbl", big, 2).File("README.TXT", "other").Folder("maps").File("gone.map", "g");
  // Changed in letter case only, in bytes of the same size, past 64 KiB.
  after.Folder("data").File("README.TXT", "hello").File("b.tbl", "bbc");
  after.File("a.tbl", big.substr(1) + "y").Folder("maps").File("new.map", "n");
  Archive(before.Bytes(), "old.vp");
  Archive(retimed.Bytes(), "retimed.vp");
  Archive(after.Bytes(), "new.vp");
  Archive(after.Bytes(2, after.DirOffset(), 100), "cut.vp");
  Archive(ArchiveBuilder().Folder("data").Add(Entry(1000, 5, "x.tbl", 1)).Bytes(), "outside.vp");
  Archive(ArchiveBuilder().Folder("data").File("x:y", "z").Bytes(), "colon.vp");
  struct Case {
    const char* newArchive;
    int status;
    std::string out, err = "";   // err: a part of standard error
    const char* only = nullptr;  // the -only pattern
  };
  const Case cases[] = {
      {"retimed.vp", 0, "0 added, 0 removed, 0 changed, 4 unchanged\n"},
      {"new.vp", 1,
       "~ data\\a.tbl\n~ data\\b.tbl\n- data\\maps\\gone.map\n+ data\\maps\\new.map\n"
       "1 added, 1 removed, 2 changed, 1 unchanged\n"},
      {"outside.vp", 2, "", "entry 1 (data\\x.tbl): the data (offset 1000, 5 bytes) lie outside"},
      {"cut.vp", 2, "", "quarrion: " + dir_.Join("cut.vp") + ": the header counts 100"},
      {"colon.vp", 2,
       "- data\\a.tbl\n- data\\B.tbl\n- data\\maps\\gone.map\n- data\\readme.txt\n+ data\\x:y\n"
       "1 added, 4 removed, 0 changed, 0 unchanged\n",
       "could not write " + dir_.Join("p.vp") + ": " + dir_.Join("colon.vp") +
           ": entry 1 (data\\x:y): \"x:y\" holds a colon\n"},
      {"new.vp", 1, "~ data\\a.tbl\n~ data\\b.tbl\n0 added, 0 removed, 2 changed, 0 unchanged\n",
       "", "*.TBL"},
      {"new.vp", 1,
       "- data\\maps\\gone.map\n+ data\\maps\\new.map\n1 added, 1 removed, 0 changed, 0 "
       "unchanged\n",
       "", "data/maps/*"},
      {"retimed.vp", 2, "0 added, 0 removed, 0 changed, 0 unchanged\n",
       "quarrion: warning: -only \"*.pof\": no file matches\n", "*.pof"},
      {"new.vp", 2, "", "quarrion: -only: the pattern \"[a\" has a [ that is not closed\n", "[a"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.newArchive);
    StartupOptions options;
    options.diffOld = dir_.Join("old.vp");
    options.diffNew = dir_.Join(k.newArchive);
    options.outputFile = dir_.Join("p.vp");
    if (k.only != nullptr) options.onlyPatterns = {k.only};
    if (k.status == 2 && k.only == nullptr) options.given |= kGivenOutput;  // a patch asked for
    const testing::Dialogue t =
        testing::RunDialogue("", [&](Console& c) { return RunDiffArchives(options, c); });
    EXPECT_EQ(t.status, k.status);
    EXPECT_EQ(t.out, k.out);
    EXPECT_TRUE(k.err.empty() ? t.err.empty() : t.err.find(k.err) != std::string::npos) << t.err;
  }
  EXPECT_FALSE(testing::FileExists(dir_.Join("p.vp")));
}

// The patch is the build of the added and changed files at their times (two of one name keep
// their own data; the new archive is not named .vp).
TEST_F(ArchiveModeTest, DiffPatchIsTheBuildOfTheAddedAndChangedFiles) {
  // Into each tree named: o the old, n the new, e the patch.
  auto put = [&](const std::string& trees, const std::string& path, const char* bytes) {
    for (char tree : trees) {
      WriteFile(dir_.Join(tree + ("/data/" + path)), bytes);
      testing::SetMTime(dir_.Join(tree + ("/data/" + path)), 1000000000 + bytes[0]);
    }
  };
  put("on", "keep.txt", "same");
  put("o", "maps/a.map", "v1");
  put("ne", "maps/a.map", "v2!");
  put("ne", "a/x.tbl", "one\n");
  put("ne", "b/x.tbl", "two\n");
  for (const std::string tree : {"o", "n", "e"}) {
    const std::string archive = dir_.Join(tree + (tree == "n" ? ".pak" : ".vp"));
    ASSERT_EQ(testing::RunQuarrionBinary({"-dir", dir_.Join(tree + "/data"), "-o", archive}).status,
              0);
  }
  const std::string patch = dir_.Join("patch.vp");
  const testing::RunResult r =
      testing::RunQuarrionBinary({"-diff", dir_.Join("o.vp"), dir_.Join("n.pak"), "-o", patch});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.out.find("Wrote " + patch + ": 3 files (11 bytes)\n"), std::string::npos) << r.out;
  EXPECT_TRUE(ReadFile(patch) == ReadFile(dir_.Join("e.vp"))) << "not a build of the patch tree";
}

// Names that would leave the target are refused (an up entry with no folder open stays at the
// top), and so is a later entry of a path whatever its letter case, not written over the first.
TEST_F(ArchiveModeTest, ExtractRefusesNamesThatLeaveTheFolderOrRepeatAPath) {
  ArchiveBuilder c;
  c.Up().File("top.txt", "top").Folder("data").Up().Folder("..").File("up.txt", "up");
  c.Folder(".").File("dot.txt", "no").Up();
  c.Folder("data").File("..", "no").File("../up.txt", "no").File("..\\up.txt", "no");
  c.File("/abs.txt", "no").File("C:\\drive.txt", "no").File("c:x", "no");
  c.Folder("sub\\..\\..").File("deep.txt", "no").Up();
  c.File("fine.txt", "yes").File("Fine.TXT", "second").Folder("Maps").File("a.map", "map").Up();
  c.Folder("maps").File("A.MAP", "other map");
  const std::string out = dir_.Join("sandbox/out");
  testing::Dialogue t = testing::RunArchiveMode(RunExtractArchive, Archive(c.Bytes()), out);
  EXPECT_EQ(t.status, 1);
  EXPECT_EQ(t.out, "Extracted 4 files (11 bytes) into " + out + "\n");
  EXPECT_EQ(
      t.err,
      "quarrion: ignored entry 0 (..): closes no open folder\n"
      "quarrion: ignored entry 4 (..): closes no open folder\n"
      "quarrion: refused entry 7 (.\\dot.txt): in folder entry 6 (.): \".\" names the current "
      "folder\n"
      "quarrion: refused entry 10 (data\\..): \"..\" names the parent folder\n"
      "quarrion: refused entry 11 (data\\../up.txt): \"../up.txt\" holds a slash\n"
      "quarrion: refused entry 12 (data\\..\\up.txt): \"..\\up.txt\" holds a backslash\n"
      "quarrion: refused entry 13 (data\\/abs.txt): \"/abs.txt\" holds a slash\n"
      "quarrion: refused entry 14 (data\\C:\\drive.txt): \"C:\\drive.txt\" holds a colon\n"
      "quarrion: refused entry 15 (data\\c:x): \"c:x\" holds a colon\n"
      "quarrion: refused entry 17 (data\\sub\\..\\..\\deep.txt): in folder entry 16 "
      "(data\\sub\\..\\..): \"sub\\..\\..\" holds a backslash\n"
      "quarrion: refused entry 20 (data\\Fine.TXT): the same path as entry 19 (data\\fine.txt), "
      "letter case ignored\n"
      "quarrion: refused entry 25 (data\\maps\\A.MAP): the same path as entry 22 "
      "(data\\Maps\\a.map), letter case ignored\n"
      "quarrion: not everything was extracted: 12 refused, 0 failed\n");
  // Only the plain files exist, and nothing beside the target.
  EXPECT_EQ(testing::ListTree(dir_.Join("sandbox")),
            (std::vector<std::string>{"out", "out/data", "out/data/Maps", "out/data/Maps/a.map",
                                      "out/data/fine.txt", "out/top.txt", "out/up.txt"}));
  EXPECT_EQ(ReadFile(out + "/data/fine.txt"), "yes");
}

// One thread or two write the same files and say the same in the same order: small files
// read in runs, large ones copied, refused names, an up entry too many, a file in the way.
using ExtractionTest = testing::ArchiveTest;
TEST_F(ExtractionTest, OneThreadOrTwoWriteAndSayTheSame) {
  ArchiveBuilder c;
  for (int f = 0; f < 40; ++f) {
    c.Folder("d" + std::to_string(f));
    for (int i = 0; i < 30; ++i) c.File("f" + std::to_string(i), std::string(i * 37, 'a' + f % 26));
    if (f % 7 == 0) c.File("bad:name", "x").Add(Entry(1 << 30, 5, "gone", 1));
    if (f % 9 == 0) c.File("big", std::string(300000, 'b'));
    c.Folder("sub").File("s", "sub " + std::to_string(f)).Up().Up();
    if (f % 13 == 0) c.Up();
  }
  VpReader reader;
  ASSERT_TRUE(reader.Open(Archive(c.Bytes())).ok());
  const std::vector<bool> chosen(reader.entries().size(), true);
  const std::string out = dir_.Join("out");
  std::string first;  // what one thread said and wrote
  for (int workers : {1, 2, 2, 2}) {
    SCOPED_TRACE(workers);
    fs::remove_all(out);
    WriteFile(out + "/d3/sub", "in the way");
    host::ExtractFolder root;
    ASSERT_TRUE(root.OpenRoot(out).ok());
    std::istringstream in;
    std::ostringstream o, e;
    Console console{in, o, e};
    const ExtractionCounts n = ExtractEntries(reader, root, chosen, nullptr, console, workers);
    EXPECT_EQ(std::vector<std::int64_t>({n.written, n.refused, n.failed}),
              std::vector<std::int64_t>({1244, 16, 1}));
    std::string said = o.str() + e.str();
    for (const std::string& p : testing::ListTree(out))
      said += p + (fs::is_regular_file(out + "/" + p) ? "=" + ReadFile(out + "/" + p) : "");
    if (first.empty()) first = said;
    EXPECT_TRUE(said == first);
  }
  EXPECT_EQ(ReadFile(out + "/d5/f3"), std::string(111, 'f'));
  EXPECT_EQ(ReadFile(out + "/d9/big"), std::string(300000, 'b'));
}

#if !defined(_WIN32)
// A link on the way to a folder or at a file's name is never written through;
// the one at the file's name is replaced by the file.
TEST_F(ArchiveModeTest, ExtractNeverFollowsAPlantedSymbolicLink) {
  const std::string outside = dir_.Join("outside"), out = dir_.Join("out");
  WriteFile(outside + "/victim.tbl", "precious");
  fs::create_directories(out + "/data");
  fs::create_directory_symlink(outside, out + "/data/maps");
  fs::create_symlink(outside + "/victim.tbl", out + "/data/victim.tbl");
  fs::create_directory_symlink(outside, out + "/linked");
  ArchiveBuilder c;
  c.Folder("data").File("victim.tbl", "replaced the link").Folder("maps");
  c.File("victim.tbl", "overwritten!").File("new.tbl", "planted").Up().Up();
  c.Folder("linked").Folder("deeper").File("x", "planted").Up().Up();
  testing::Dialogue t = testing::RunArchiveMode(RunExtractArchive, Archive(c.Bytes()), out);
  EXPECT_EQ(t.status, 1);
  EXPECT_NE(t.err.find("0 refused, 3 failed"), std::string::npos);
  EXPECT_EQ(testing::ListTree(outside), (std::vector<std::string>{"victim.tbl"}));
  EXPECT_EQ(ReadFile(outside + "/victim.tbl"), "precious");
  EXPECT_FALSE(fs::is_symlink(out + "/data/victim.tbl"));
  EXPECT_EQ(ReadFile(out + "/data/victim.tbl"), "replaced the link");
}

// The reason printed is the one that happened: a target that cannot be made
// for want of permission says so, not that it does not exist.
TEST(ExtractProgramTest, TargetThatCannotBeMadeSaysWhy) {
  testing::TempDir dir;
  WriteFile(dir.Join("a.vp"), ArchiveBuilder().Folder("data").File("a", "a").Bytes());
  fs::create_directory(dir.Join("locked"));
  fs::permissions(dir.Join("locked"), static_cast<fs::perms>(0555));  // no one may add to it
  const std::string target = dir.Join("locked/new/out");
  const testing::RunResult r =
      testing::RunQuarrionUnprivileged({"-extract", dir.Join("a.vp"), target}, dir.path());
  if (r.status == -1) GTEST_SKIP() << r.err;
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "quarrion: cannot extract into " + target + ": permission denied\n");
}

// 1000 folders deep with 32 descriptors at most: a file in each on the way down and on the
// way back up (folders closed on the way down opened again), a second branch halfway up.
TEST(ExtractProgramTest, GoesAnyDepthWithFewDescriptors) {
  constexpr int kDepth = 1000, kBranch = 30, kBranchAt = 500;
  ArchiveBuilder c;
  for (int i = 1; i <= kDepth; ++i) c.Folder("d").File("down", "down " + std::to_string(i));
  for (int i = kDepth; i >= 1; --i) {
    if (i == kBranchAt) {
      for (int j = 1; j <= kBranch; ++j) c.Folder("b").File("f", "b " + std::to_string(j));
      for (int j = 0; j < kBranch; ++j) c.Up();
    }
    c.File("up", "up " + std::to_string(i)).Up();
  }
  c.File("top", "top");
  testing::TempDir dir;
  WriteFile(dir.Join("deep.vp"), c.Bytes());
  const std::string out = dir.Join("out");
  const int pid = testing::StartQuarrionBinary({"-extract", dir.Join("deep.vp"), out},
                                               dir.Join("stdout"), dir.Join("stderr"), 32);
  EXPECT_EQ(testing::WaitQuarrionBinary(pid), 0) << ReadFile(dir.Join("stderr"));
  std::string path = out;
  for (int i = 1; i <= kDepth; ++i) {
    path += "/d";
    ASSERT_EQ(ReadFile(path + "/down") + ReadFile(path + "/up"),
              "down " + std::to_string(i) + "up " + std::to_string(i));
    std::string branch = path;
    for (int j = 1; i == kBranchAt && j <= kBranch; ++j) {
      branch += "/b";
      ASSERT_EQ(ReadFile(branch + "/f"), "b " + std::to_string(j)) << "branch depth " << j;
    }
  }
  EXPECT_EQ(ReadFile(out + "/top"), "top");
}
#endif

// A data directory of a few hundred files in nested folders, packed, checked,
// extracted and packed again from the extracted tree: the same bytes.
TEST(ExtractProgramTest, ExtractedArchiveRebuildsByteForByte) {
  testing::TempDir dir;
  const std::string data = dir.Join("game/data");
  int n = 0;
  for (const char* folder : {"", "/maps", "/maps/campaign", "/maps/campaign/act one", "/models",
                             "/sounds", "/sounds/voice"}) {
    for (int i = 0; i < 40; ++i, ++n) {  // sizes from empty to a few hundred KiB, all times differ
      const std::string name =
          data + folder + "/file" + std::to_string(i) + (i % 3 ? ".tbl" : ".pof");
      WriteFile(name, std::string(static_cast<std::size_t>((n * 7919) % (i == 7 ? 300000 : 2000)),
                                  static_cast<char>('a' + n % 26)));
      testing::SetMTime(name, 1000000000 + n * 3600);
    }
  }
  const std::string first = dir.Join("first.vp");
  ASSERT_EQ(testing::RunQuarrionBinary({"-dir", data, "-o", first}).status, 0);
  testing::RunResult r = testing::RunQuarrionBinary({"-verify", first});
  EXPECT_NE(r.out.find(first + " is sound: 280 files, "), std::string::npos) << r.out;
  r = testing::RunQuarrionBinary({"-extract", first, dir.Join("out")});
  EXPECT_EQ(r.status, 0) << r.err;
  r = testing::RunQuarrionBinary({"-dir", dir.Join("out") + "\\data", "-o", dir.Join("second.vp")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(ReadFile(first) == ReadFile(dir.Join("second.vp"))) << "the rebuilt archive differs";
}

}  // namespace
}  // namespace quarrion
