// The modes that read archives, as dialogues: the -list and -verify
// transcripts, -only's selection, -diff's lines, statuses and patch, and
// archives they cannot read.
#include <gtest/gtest.h>

#include <filesystem>
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

using testing::ArchiveBuilder;
using testing::Entry;
using testing::RunArchiveMode;
using ArchiveModeTest = testing::ArchiveTest;

// Files -verify reports are left out, with a warning naming each: the
// listing and its totals are what -extract writes.
TEST_F(ArchiveModeTest, ListPrintsFilesInDirectoryOrderButWhatVerifyReports) {
  ArchiveBuilder c;
  c.Folder("data").File("readme.txt", "hello", 0).Folder("maps").File("a.map", "0123", -1);
  c.Up().Folder("tables").File("ships.tbl", std::string(1234, 'x'), 2147483647);
  c.File("leap", "", 951782400).File("old", "", -2147483647 - 1);
  c.File("bad\x1b]0;x", "!", 86400);  // a name that would drive a terminal
  // A problem of the data comes before the others of its entry.
  c.Add(Entry(16, -4, "n:g", 1)).Add(Entry(17, 3, "over", 1));
  testing::Dialogue t = RunArchiveMode(RunListArchive, Archive(c.Bytes()));
  EXPECT_EQ(t.status, 1);
  EXPECT_EQ(t.err,
            "quarrion: warning: left out entry 9 (data\\tables\\bad?]0;x): \"bad?]0;x\" holds a "
            "control character\n"
            "quarrion: warning: left out entry 10 (data\\tables\\n:g): the size -4 is negative\n"
            "quarrion: warning: left out entry 11 (data\\tables\\over): the data overlap those of "
            "entry 1 (data\\readme.txt)\n");
  EXPECT_EQ(t.out,
            "         5  1970-01-01 00:00:00  data\\readme.txt\n"
            "         4  1969-12-31 23:59:59  data\\maps\\a.map\n"
            "      1234  2038-01-19 03:14:07  data\\tables\\ships.tbl\n"
            "         0  2000-02-29 00:00:00  data\\tables\\leap\n"
            "         0  1901-12-13 20:45:52  data\\tables\\old\n"
            "5 files, 1243 bytes\n");
}

// -list and -extract open archives alike, and refuse one whose header or
// directory -verify reports, in its words; -verify reports what it can open
// as problems. Nothing is extracted from an archive that cannot be read.
TEST_F(ArchiveModeTest, ArchivesThatCannotBeReadAreErrors) {
  const std::string missing = "quarrion: cannot open archive " + dir_.Join("missing.vp") + ":";
  ArchiveBuilder g;
  g.Folder("data").File("a", "1");
  const std::int32_t at = g.DirOffset();
  const std::pair<std::string, std::string> cases[] = {
      {dir_.Join("missing.vp"), missing},
      {Archive("VPVQ" + std::string(12, '\0'), "q.vp"), "q.vp: not a VP archive"},
      {Archive(ArchiveBuilder().Bytes(3), "v3.vp"),
       "v3.vp: not a VP archive of version 2 (version 3)"},
      {Archive(g.Bytes(2, at, 5), "cut.vp"),
       "cut.vp: the header counts 5 entries, but only 2 fit between the directory offset and "
       "the end of the file\n"},
      {Archive(std::string("VPVP\x02\0", 6), "six.vp"),
       "six.vp: the file is 6 bytes long, shorter than the 16-byte header\n"},
      {Archive(g.Bytes(2, 5000, 2), "past.vp"), "past.vp: the directory offset 5000 lies outside"},
      {Archive(g.Bytes(2, 8, 2), "head.vp"), "head.vp: the directory offset 8 lies outside"},
      {Archive(g.Bytes(2, at, -1), "neg.vp"), "neg.vp: the entry count -1 is negative\n"}};
  for (const auto& [archive, message] : cases) {
    for (auto mode : {RunListArchive, RunExtractArchive}) {
      const testing::Dialogue t = RunArchiveMode(mode, archive, dir_.Join("out"));
      EXPECT_EQ(t.status, 1);
      EXPECT_EQ(t.out, "");
      EXPECT_NE(t.err.find(message), std::string::npos) << t.err;
    }
  }
  EXPECT_FALSE(testing::FileExists(dir_.Join("out")));
  // Bytes after the directory leave every entry whole: the archive is read,
  // with -verify's words as a warning, and the run fails.
  const std::string tail = Archive(g.Bytes() + "appended", "tail.vp");
  for (auto mode : {RunListArchive, RunExtractArchive}) {
    const testing::Dialogue t = RunArchiveMode(mode, tail, dir_.Join("out"));
    EXPECT_EQ(t.status, 1);
    EXPECT_NE(t.out.find("1 file"), std::string::npos) << t.out;
    EXPECT_EQ(t.err, "quarrion: warning: " + tail +
                         ": the file holds 8 bytes after the last directory entry\n");
  }
  EXPECT_EQ(testing::ReadFile(dir_.Join("out/data/a")), "1");
  const testing::Dialogue t = RunArchiveMode(RunVerifyArchive, dir_.Join("missing.vp"));
  EXPECT_EQ(t.status, 1);
  EXPECT_EQ(t.out, "");
  EXPECT_EQ(t.err.rfind(missing, 0), 0u) << t.err;
}

// Every problem -verify finds is printed, those of the folders' structure in
// the order of the entries before those of the data, then their count. A
// sound archive and the findings themselves: see the batch and the checks'
// tests.
TEST_F(ArchiveModeTest, VerifyPrintsEveryProblemAndTheirCount) {
  ArchiveBuilder c;
  c.Up().Folder("data").File("a", "0123456789").Add(Entry(16, 4, "dup", 1));
  c.Folder(".").Up().Up().Up();
  const testing::Dialogue t = RunArchiveMode(RunVerifyArchive, Archive(c.Bytes()));
  EXPECT_EQ(t.status, 1);
  EXPECT_EQ(t.out,
            "entry 0 (..): closes no open folder\n"
            "entry 4 (data\\.): \".\" names the current folder\n"
            "entry 7 (..): closes no open folder\n"
            "entry 3 (data\\dup): the data overlap those of entry 2 (data\\a)\n" +
                dir_.Join("a.vp") + ": 4 problems found\n");
}

// -only with -list and -extract: the files chosen by path (letter case
// ignored, `*` across folders), totals of the selection, a pattern that
// chooses nothing warned of, a malformed one refused before any work.
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
    std::string out;
    std::string err;
  };
  const Case cases[] = {
      {{"*.map"}, 0, a + b + "2 files, 5 bytes\n", ""},
      {{"DATA\\MAPS\\A*", "*\\b.map"}, 0, a + b + "2 files, 5 bytes\n", ""},
      {{"*.pof", "data\\maps\\b*"}, 1, b + "1 file, 3 bytes\n", none},
      {{"*.pof"}, 1, "0 files, 0 bytes\n", none},
      {{"*.tbl", "data\\[ma"},
       1,
       "",
       "quarrion: -only: the pattern \"data\\[ma\" has a [ that is not closed\n"},
  };
  for (const Case& k : cases) {
    const testing::Dialogue t = RunArchiveMode(RunListArchive, archive, "", k.patterns);
    EXPECT_EQ(t.status, k.status) << k.patterns[0];
    EXPECT_EQ(t.out, k.out) << k.patterns[0];
    EXPECT_EQ(t.err, k.err) << k.patterns[0];
  }

  testing::Dialogue t = RunArchiveMode(RunExtractArchive, archive, dir_.Join("out"), {"*maps\\*"});
  EXPECT_EQ(t.status, 0) << t.err;
  EXPECT_EQ(t.out, "Extracted 2 files (5 bytes) into " + dir_.Join("out") + "\n");
  EXPECT_EQ(testing::ListTree(dir_.Join("out")),
            (std::vector<std::string>{"data", "data/maps", "data/maps/B.MAP", "data/maps/a.map"}));
  t = RunArchiveMode(RunExtractArchive, archive, dir_.Join("two"), {"*.tbl", "*.pof"});
  EXPECT_EQ(t.status, 1);
  EXPECT_EQ(t.out, "Extracted 1 file (5 bytes) into " + dir_.Join("two") + "\n");
  EXPECT_EQ(t.err, none);
  t = RunArchiveMode(RunExtractArchive, archive, dir_.Join("bad"), {"[*"});
  EXPECT_EQ(t.status, 1);
  EXPECT_FALSE(testing::FileExists(dir_.Join("bad")));
}

// -diff: differences by path (letter case ignored) and data, its exit
// statuses, hostile archives, a patch that cannot be written, and -only,
// which restricts the lines and totals to the files it chooses (a pattern
// that chooses none is trouble: the comparison meant did not take place).
TEST_F(ArchiveModeTest, DiffLinesTotalsAndStatuses) {
  const std::string big(70000, 'x');
  ArchiveBuilder before, retimed, after, outside, colon, over;
  before.Folder("data").File("readme.txt", "hello", 1).File("B.tbl", "bbb").File("a.tbl", big);
  before.Folder("maps").File("gone.map", "g");
  // The same data at other times; a later entry of a path does not count.
  retimed.Folder("data").File("readme.txt", "hello", 2).File("B.tbl", "bbb", 2);
  retimed.File("a.tbl", big, 2).File("README.TXT", "other").Folder("maps").File("gone.map", "g");
  // Changed in letter case only, in bytes of the same size, past 64 KiB.
  after.Folder("data").File("README.TXT", "hello").File("b.tbl", "bbc");
  after.File("a.tbl", big.substr(1) + "y").Folder("maps").File("new.map", "n");
  outside.Folder("data").Add(Entry(1000, 5, "x.tbl", 1));
  colon.Folder("data").File("x:y", "z");
  over.Folder("data").File("a", "0123").Add(Entry(17, 2, "b", 1));
  for (auto [name, archive] : {std::pair{"old.vp", &before},
                               {"retimed.vp", &retimed},
                               {"new.vp", &after},
                               {"outside.vp", &outside},
                               {"colon.vp", &colon},
                               {"over.vp", &over}}) {
    Archive(archive->Bytes(), name);
  }
  Archive(after.Bytes(2, after.DirOffset(), 100), "cut.vp");
  struct Case {
    const char* newArchive;
    bool patch;
    int status;
    std::string out;
    std::string err;             // the start of standard error
    const char* only = nullptr;  // the -only pattern
  };
  const Case cases[] = {
      {"retimed.vp", false, 0, "0 added, 0 removed, 0 changed, 4 unchanged\n", ""},
      {"new.vp", false, 1,
       "~ data\\a.tbl\n~ data\\b.tbl\n- data\\maps\\gone.map\n+ data\\maps\\new.map\n"
       "1 added, 1 removed, 2 changed, 1 unchanged\n",
       ""},
      {"outside.vp", false, 2, "",
       "quarrion: " + dir_.Join("outside.vp") +
           ": entry 1 (data\\x.tbl): the data (offset 1000, 5 bytes) lie outside the data area "
           "(offset 16 up to 16)\n"},
      {"over.vp", true, 2, "",
       "quarrion: " + dir_.Join("over.vp") +
           ": entry 2 (data\\b): the data overlap those of entry 1 (data\\a)\n"},
      {"cut.vp", true, 2, "", "quarrion: " + dir_.Join("cut.vp") + ": the header counts 100"},
      {"missing.vp", false, 2, "", "quarrion: cannot open archive " + dir_.Join("missing.vp")},
      {"colon.vp", true, 2,
       "- data\\a.tbl\n- data\\B.tbl\n- data\\maps\\gone.map\n- data\\readme.txt\n+ data\\x:y\n"
       "1 added, 4 removed, 0 changed, 0 unchanged\n",
       "quarrion: could not write " + dir_.Join("p.vp") + ": " + dir_.Join("colon.vp") +
           ": entry 1 (data\\x:y): \"x:y\" holds a colon\n"},
      {"new.vp", false, 1,
       "~ data\\a.tbl\n~ data\\b.tbl\n0 added, 0 removed, 2 changed, 0 unchanged\n", "", "*.TBL"},
      {"new.vp", false, 1,
       "- data\\maps\\gone.map\n+ data\\maps\\new.map\n1 added, 1 removed, 0 changed, 0 "
       "unchanged\n",
       "", "data/maps/*"},
      {"retimed.vp", false, 2, "0 added, 0 removed, 0 changed, 0 unchanged\n",
       "quarrion: warning: -only \"*.pof\": no file matches\n", "*.pof"},
      {"new.vp", false, 2, "", "quarrion: -only: the pattern \"[a\" has a [ that is not closed\n",
       "[a"},
  };
  for (const Case& k : cases) {
    StartupOptions options;
    options.diffOld = dir_.Join("old.vp");
    options.diffNew = dir_.Join(k.newArchive);
    options.outputFile = dir_.Join("p.vp");
    if (k.only != nullptr) options.onlyPatterns = {k.only};
    if (k.patch) options.given |= kGivenOutput;
    const testing::Dialogue t =
        testing::RunDialogue("", [&](Console& c) { return RunDiffArchives(options, c); });
    EXPECT_EQ(t.status, k.status) << k.newArchive;
    EXPECT_EQ(t.out, k.out) << k.newArchive;
    EXPECT_EQ(t.err.substr(0, k.err.size()), k.err) << k.newArchive;
  }
  EXPECT_FALSE(testing::FileExists(dir_.Join("p.vp")));
}

// Two added files of one name in different folders, a changed one, an
// unchanged one at a new time and a removed one; the new archive not named
// .vp. The patch is the archive a build of the added and changed files
// writes, so each x.tbl carries its own data.
TEST_F(ArchiveModeTest, DiffPatchIsTheBuildOfTheAddedAndChangedFiles) {
  // Into each tree named: o the old, n the new, e the expected patch.
  auto put = [&](const std::string& trees, const std::string& path, const char* bytes,
                 std::int64_t time) {
    for (char tree : trees) {
      const std::string file = dir_.Join(tree + ("/data/" + path));
      testing::WriteFile(file, bytes);
      testing::SetMTime(file, time);
    }
  };
  put("o", "keep.txt", "same", 1000000000);
  put("o", "maps/a.map", "v1", 1000000000);
  put("o", "gone.txt", "x", 1000000000);
  put("n", "keep.txt", "same", 1100000000);
  put("ne", "maps/a.map", "v2!", 1200000000);
  put("nef", "a/x.tbl", "one\n", 1300000000);
  put("nef", "b/x.tbl", "two\n", 1400000000);  // f: the patch of what -only chooses
  for (const std::string tree : {"o", "n", "e", "f"}) {
    const std::string archive = dir_.Join(tree + (tree == "n" ? ".pak" : ".vp"));
    ASSERT_EQ(testing::RunQuarrionBinary({"-dir", dir_.Join(tree + "/data"), "-o", archive}).status,
              0);
  }
  const testing::RunResult r = testing::RunQuarrionBinary(
      {"-diff", dir_.Join("o.vp"), dir_.Join("n.pak"), "-o", dir_.Join("patch.vp")});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.out.find("+ data\\a\\x.tbl\n+ data\\b\\x.tbl\n- data\\gone.txt\n~ data\\maps\\a.map\n"
                       "2 added, 1 removed, 1 changed, 1 unchanged\n"
                       "Wrote " +
                       dir_.Join("patch.vp") + ": 3 files (11 bytes)\n"),
            std::string::npos)
      << r.out;
  EXPECT_TRUE(testing::ReadFile(dir_.Join("patch.vp")) == testing::ReadFile(dir_.Join("e.vp")))
      << "the patch differs from a build of its files";
  const testing::RunResult only =
      testing::RunQuarrionBinary({"-diff", dir_.Join("o.vp"), dir_.Join("n.pak"), "-o",
                                  dir_.Join("only.vp"), "-only", "data/?/*"});
  EXPECT_EQ(only.status, 1) << only.err;
  EXPECT_NE(only.out.find("2 added, 0 removed, 0 changed, 0 unchanged\n"), std::string::npos);
  EXPECT_TRUE(testing::ReadFile(dir_.Join("only.vp")) == testing::ReadFile(dir_.Join("f.vp")))
      << "the patch holds more than -only chose";
}

// -extract: files written at their paths, names refused that would leave
// the folder or repeat a path, links never followed, any depth with few
// descriptors, and the round trip through the real program.
namespace fs = std::filesystem;
using testing::ReadFile;
using testing::WriteFile;

// An existing file is replaced, whatever it held; data outside the archive
// are refused and the next file is still written.
TEST_F(ArchiveModeTest, ExtractWritesFilesAtTheirPathsAndReportsFailures) {
  ArchiveBuilder c;
  c.Folder("data").File("readme.txt", "hello").Folder("maps").Folder("deep").File("a.map", "map");
  c.Up().File("empty.cfg", "").Up().Add(Entry(1 << 30, 5, "gone.tbl", 1));
  c.File("last.tbl", std::string(300000, 'z'));
  const std::string out = dir_.Join("out/nested");  // made, with its parent
  WriteFile(out + "/data/readme.txt", "old contents that are longer");
  testing::Dialogue t = testing::RunArchiveMode(RunExtractArchive, Archive(c.Bytes()), out);
  EXPECT_EQ(t.status, 1);
  EXPECT_EQ(t.out, "Extracted 4 files (300008 bytes) into " + out + "\n");
  EXPECT_EQ(t.err,
            "quarrion: refused entry 8 (data\\gone.tbl): the data (offset 1073741824, 5 bytes) lie "
            "outside the data area (offset 16 up to 300024)\n"
            "quarrion: not everything was extracted: 1 refused, 0 failed\n");
  EXPECT_EQ(testing::ListTree(out).size(), 7u);  // no temporary file left
  EXPECT_EQ(ReadFile(out + "/data/readme.txt"), "hello");
  t = testing::RunArchiveMode(RunExtractArchive, dir_.Join("a.vp"), "");
  EXPECT_EQ(t.err, "quarrion: cannot extract into: no target folder given\n");
}

// Readers take the first entry of a path whatever its letter case: a later
// one, also one whose folders differ in case, is refused, not written over it.
TEST_F(ArchiveModeTest, ExtractRefusesNamesThatLeaveTheFolderOrRepeatAPath) {
  ArchiveBuilder c;
  // Up entries with no folder open stay at the top; a folder entry named
  // ".." is an up entry by the format, so it can never climb out either.
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

// Data that -verify reports are never written: five entries that share one
// run (only the first is), data over the header or the directory, a
// negative size. -list counts exactly what -extract writes.
TEST_F(ArchiveModeTest, ExtractNeverWritesDataThatVerifyReports) {
  ArchiveBuilder c;
  c.Folder("data").File("run", "0123456789").File("fine", "ok");
  for (const char* name : {"s1", "s2", "s3", "s4"}) c.Add(Entry(16, 10, name, 1));
  c.Add(Entry(4, 4, "header", 1)).Add(Entry(c.DirOffset(), 10, "directory", 1));
  c.Add(Entry(20, -3, "negative", 1));
  const std::string archive = Archive(c.Bytes());
  const testing::Dialogue t = RunArchiveMode(RunExtractArchive, archive, dir_.Join("out"));
  EXPECT_EQ(t.status, 1);
  EXPECT_EQ(t.out, "Extracted 2 files (12 bytes) into " + dir_.Join("out") + "\n");
  for (const char* refused :
       {"refused entry 3 (data\\s1): the data overlap those of entry 1 (data\\run)",
        "refused entry 6 (data\\s4): the data overlap those of entry 1 (data\\run)",
        "refused entry 7 (data\\header): the data (offset 4, 4 bytes) lie outside the data area",
        "refused entry 8 (data\\directory): the data (offset 28, 10 bytes) lie outside",
        "refused entry 9 (data\\negative): the size -3 is negative",
        "not everything was extracted: 7 refused, 0 failed"}) {
    EXPECT_NE(t.err.find(refused), std::string::npos) << refused << " not in " << t.err;
  }
  EXPECT_EQ(testing::ListTree(dir_.Join("out")),
            (std::vector<std::string>{"data", "data/fine", "data/run"}));
  const testing::Dialogue list = RunArchiveMode(RunListArchive, archive);
  EXPECT_EQ(list.status, 1);
  EXPECT_EQ(list.out.substr(list.out.rfind('\n', list.out.size() - 2) + 1), "2 files, 12 bytes\n");
}

// One thread or two, the same files and the same lines in the same order:
// folders enough for both, small files read in runs, large ones copied,
// refused names, an up entry that closes nothing and a folder with a file
// in its way, each now and then.
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
  std::string firstErr, firstTree;
  const std::string out = dir_.Join("out");
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
    EXPECT_EQ(o.str(), "");
    EXPECT_EQ(std::vector<std::int64_t>({n.written, n.refused, n.failed}),
              std::vector<std::int64_t>({1244, 16, 1}));
    std::string tree;
    for (const std::string& path : testing::ListTree(out)) {
      tree +=
          path + (fs::is_regular_file(out + "/" + path) ? "=" + ReadFile(out + "/" + path) : "");
    }
    if (firstErr.empty()) firstErr = e.str(), firstTree = tree;
    EXPECT_EQ(e.str(), firstErr);
    EXPECT_TRUE(tree == firstTree);
  }
  EXPECT_EQ(ReadFile(out + "/d5/f3"), std::string(111, 'f'));
  EXPECT_EQ(ReadFile(out + "/d9/big"), std::string(300000, 'b'));
}

#if !defined(_WIN32)
TEST_F(ArchiveModeTest, ExtractNeverFollowsAPlantedSymbolicLink) {
  const std::string outside = dir_.Join("outside");
  WriteFile(outside + "/victim.tbl", "precious");
  const std::string out = dir_.Join("out");
  fs::create_directories(out + "/data");
  // A folder on the way that points outside, and a file name that does.
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
  // Nothing outside changed; the link at the file's name was replaced by
  // the file, not written through.
  EXPECT_EQ(testing::ListTree(outside), (std::vector<std::string>{"victim.tbl"}));
  EXPECT_EQ(ReadFile(outside + "/victim.tbl"), "precious");
  EXPECT_FALSE(fs::is_symlink(out + "/data/victim.tbl"));
  EXPECT_EQ(ReadFile(out + "/data/victim.tbl"), "replaced the link");
}
#endif

#if !defined(_WIN32)
// The reason printed is the one that happened: a target that cannot be made
// for want of permission says so, not that it does not exist.
TEST(ExtractProgramTest, TargetThatCannotBeMadeSaysWhy) {
  testing::TempDir dir;
  ArchiveBuilder c;
  c.Folder("data").File("a", "a");
  WriteFile(dir.Join("a.vp"), c.Bytes());
  fs::create_directory(dir.Join("locked"));
  fs::permissions(dir.Join("locked"), static_cast<fs::perms>(0555));  // no one may add to it
  const std::string target = dir.Join("locked/new/out");
  const testing::RunResult r =
      testing::RunQuarrionUnprivileged({"-extract", dir.Join("a.vp"), target}, dir.path());
  if (r.status == -1) GTEST_SKIP() << r.err;
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "quarrion: cannot extract into " + target + ": permission denied\n");
}
#endif

#if !defined(_WIN32)
// An archive nested 1000 folders deep, extracted by the program with 32
// descriptors at most: a file in every folder on the way down, another in
// every folder on the way back up (which needs the folders closed on the way
// down opened again), and a second branch entered halfway up.
TEST(ExtractProgramTest, GoesAnyDepthWithFewDescriptors) {
  constexpr int kDepth = 1000;
  constexpr int kBranch = 30;
  constexpr int kBranchAt = 500;
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
  }
  std::string branch = out;
  for (int i = 0; i < kBranchAt; ++i) branch += "/d";
  for (int j = 1; j <= kBranch; ++j) {
    branch += "/b";
    ASSERT_EQ(ReadFile(branch + "/f"), "b " + std::to_string(j)) << "branch depth " << j;
  }
  EXPECT_EQ(ReadFile(out + "/top"), "top");
}
#endif

// A data directory of a few hundred files in nested folders, packed,
// checked, extracted and packed again from the extracted tree: the same bytes.
TEST(ExtractProgramTest, ExtractedArchiveRebuildsByteForByte) {
  testing::TempDir dir;
  const std::string data = dir.Join("game/data");
  int n = 0;
  for (const char* folder : {"", "/maps", "/maps/campaign", "/maps/campaign/act one", "/models",
                             "/sounds", "/sounds/voice"}) {
    for (int i = 0; i < 40; ++i, ++n) {
      const std::string name =
          data + folder + "/file" + std::to_string(i) + (i % 3 ? ".tbl" : ".pof");
      // Sizes from empty to a few hundred KiB; every time differs.
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
