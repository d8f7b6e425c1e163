// -diff: differences by path (letter case ignored) and data, its exit
// statuses, hostile archives, and the patch archive: byte for byte a build
// of the files it holds, each from its own entry of the new archive.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "shell/modes.h"
#include "shell/options.h"
#include "test_util.h"

namespace quarrion {
namespace {

using testing::ArchiveBuilder;
using testing::Entry;

// -only repeats; -diff takes two arguments, and the modes that look into
// one archive come before it.
TEST(DiffModeTest, OptionWords) {
  StartupOptions o;
  ASSERT_TRUE(
      ParseCommandLine({"-only", "*.tbl", "-diff", "a.vp", "-only", "-only", "x*", "-o", "p"}, &o));
  EXPECT_EQ(o.onlyPatterns, (std::vector<std::string>{"*.tbl", "x*"}));
  EXPECT_EQ(o.diffOld + " " + o.diffNew, "a.vp -only");
  EXPECT_EQ(ChooseMode(o), Mode::kDiff);
  o = StartupOptions();
  ASSERT_TRUE(ParseCommandLine({"-diff", "a.vp", "b.vp", "-extract", "a.vp", "d"}, &o));
  EXPECT_EQ(ChooseMode(o), Mode::kExtract);
  EXPECT_FALSE(ParseCommandLine({"-diff", "a.vp"}, &o));
  std::ostringstream usage;
  PrintUsage(usage);
  EXPECT_NE(usage.str().find("\n-only <pattern> "), std::string::npos);
  EXPECT_NE(usage.str().find("\n-diff <old.vp> <new.vp> "), std::string::npos);
}

TEST(DiffModeTest, LinesTotalsAndStatuses) {
  testing::TempDir dir;
  const std::string big(70000, 'x');
  ArchiveBuilder before;
  before.Folder("data").File("readme.txt", "hello", 1).File("B.tbl", "bbb").File("a.tbl", big);
  before.Folder("maps").File("gone.map", "g");
  ArchiveBuilder retimed;  // the same data at other times; a later entry of a path does not count
  retimed.Folder("data").File("readme.txt", "hello", 2).File("B.tbl", "bbb", 2);
  retimed.File("a.tbl", big, 2).File("README.TXT", "other").Folder("maps").File("gone.map", "g");
  ArchiveBuilder after;  // changed in letter case only, in bytes of the same size, past 64 KiB
  after.Folder("data").File("README.TXT", "hello").File("b.tbl", "bbc");
  after.File("a.tbl", big.substr(1) + "y").Folder("maps").File("new.map", "n");
  ArchiveBuilder outside;
  outside.Folder("data").Add(Entry(1000, 5, "x.tbl", 1));
  ArchiveBuilder colon;
  colon.Folder("data").File("x:y", "z");
  for (auto [name, archive] : {std::pair{"old.vp", &before},
                               {"retimed.vp", &retimed},
                               {"new.vp", &after},
                               {"outside.vp", &outside},
                               {"colon.vp", &colon}}) {
    testing::WriteFile(dir.Join(name), archive->Bytes());
  }
  struct Case {
    const char* newArchive;
    bool patch;
    int status;
    std::string out;
    std::string err;  // the start of standard error
  };
  const Case cases[] = {
      {"retimed.vp", false, 0, "0 added, 0 removed, 0 changed, 4 unchanged\n", ""},
      {"new.vp", false, 1,
       "~ data\\a.tbl\n~ data\\b.tbl\n- data\\maps\\gone.map\n+ data\\maps\\new.map\n"
       "1 added, 1 removed, 2 changed, 1 unchanged\n",
       ""},
      {"outside.vp", false, 2, "",
       "quarrion: " + dir.Join("outside.vp") +
           ": entry 1 (data\\x.tbl): its data lie outside the archive\n"},
      {"missing.vp", false, 2, "", "quarrion: cannot open archive " + dir.Join("missing.vp")},
      {"colon.vp", true, 2,
       "- data\\a.tbl\n- data\\B.tbl\n- data\\maps\\gone.map\n- data\\readme.txt\n+ data\\x:y\n"
       "1 added, 4 removed, 0 changed, 0 unchanged\n",
       "quarrion: could not write " + dir.Join("p.vp") + ": " + dir.Join("colon.vp") +
           ": entry 1 (data\\x:y): \"x:y\" holds a colon\n"},
  };
  for (const Case& k : cases) {
    StartupOptions options;
    options.diffOld = dir.Join("old.vp");
    options.diffNew = dir.Join(k.newArchive);
    options.outputFile = dir.Join("p.vp");
    if (k.patch) options.given |= kGivenOutput;
    const testing::Dialogue t =
        testing::RunDialogue("", [&](Console& c) { return RunDiffArchives(options, c); });
    EXPECT_EQ(t.status, k.status) << k.newArchive;
    EXPECT_EQ(t.out, k.out) << k.newArchive;
    EXPECT_EQ(t.err.substr(0, k.err.size()), k.err) << k.newArchive;
  }
  EXPECT_FALSE(testing::FileExists(dir.Join("p.vp")));
}

// Two added files of one name in different folders, a changed one, an
// unchanged one at a new time and a removed one; the new archive not named
// .vp. The patch is the archive a build of the added and changed files
// writes, so each x.tbl carries its own data.
TEST(DiffModeTest, PatchIsTheBuildOfTheAddedAndChangedFiles) {
  testing::TempDir dir;
  struct File {
    const char* tree;
    const char* path;
    const char* bytes;
    std::int64_t time;
  };
  const File files[] = {
      {"old", "keep.txt", "same", 1000000000},  {"old", "maps/a.map", "v1", 1000000000},
      {"old", "gone.txt", "x", 1000000000},     {"new", "keep.txt", "same", 1100000000},
      {"new", "maps/a.map", "v2!", 1200000000}, {"new", "a/x.tbl", "one\n", 1300000000},
      {"new", "b/x.tbl", "two\n", 1400000000},
  };
  // The expected patch: the new files but the unchanged one, at their times.
  for (const File& f : files) {
    const std::string tree = f.tree;
    for (const std::string& to :
         {tree, tree == "new" && f.path != std::string("keep.txt") ? std::string("expect")
                                                                   : std::string()}) {
      if (to.empty()) continue;
      testing::WriteFile(dir.Join(to + "/data/" + f.path), f.bytes);
      testing::SetMTime(dir.Join(to + "/data/" + f.path), f.time);
    }
  }
  for (const char* tree : {"old", "new", "expect"}) {
    const std::string archive = dir.Join(std::string(tree) + (tree[0] == 'n' ? ".pak" : ".vp"));
    ASSERT_EQ(testing::RunQuarrionBinary({"-dir", dir.Join(tree) + "/data", "-o", archive}).status,
              0);
  }
  const testing::RunResult r = testing::RunQuarrionBinary(
      {"-diff", dir.Join("old.vp"), dir.Join("new.pak"), "-o", dir.Join("patch.vp")});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.out.find("+ data\\a\\x.tbl\n+ data\\b\\x.tbl\n- data\\gone.txt\n~ data\\maps\\a.map\n"
                       "2 added, 1 removed, 1 changed, 1 unchanged\n"
                       "Wrote " +
                       dir.Join("patch.vp") + ": 3 files (11 bytes)\n"),
            std::string::npos)
      << r.out;
  EXPECT_TRUE(testing::ReadFile(dir.Join("patch.vp")) == testing::ReadFile(dir.Join("expect.vp")))
      << "the patch differs from a build of its files";
}

}  // namespace
}  // namespace quarrion
