// -only with -list and -extract: the files chosen by path (letter case
// ignored, `*` across folders), totals of the selection, a pattern that
// chooses nothing warned of, a malformed one refused before any work.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "shell/modes.h"
#include "test_util.h"

namespace quarrion {
namespace {

using testing::ArchiveBuilder;

testing::Dialogue RunWithOnly(int (*mode)(const StartupOptions&, Console&),
                              const std::string& archive, const std::string& target,
                              const std::vector<std::string>& patterns) {
  StartupOptions options;
  options.archiveFile = archive;
  options.extractDir = target;
  options.onlyPatterns = patterns;
  return testing::RunDialogue("", [&](Console& c) { return mode(options, c); });
}

TEST(OnlyTest, ListAndExtractTheFilesWhosePathsMatch) {
  testing::TempDir dir;
  ArchiveBuilder c;
  c.Folder("data").File("readme.txt", "hello", 1).Folder("maps").File("a.map", "aa", 1);
  c.File("B.MAP", "bbb", 1).Up().Folder("tables").File("ships.tbl", "ships", 1);
  const std::string archive = dir.Join("a.vp");
  testing::WriteFile(archive, c.Bytes());
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
    const testing::Dialogue t = RunWithOnly(RunListArchive, archive, "", k.patterns);
    EXPECT_EQ(t.status, k.status) << k.patterns[0];
    EXPECT_EQ(t.out, k.out) << k.patterns[0];
    EXPECT_EQ(t.err, k.err) << k.patterns[0];
  }

  testing::Dialogue t = RunWithOnly(RunExtractArchive, archive, dir.Join("out"), {"*maps\\*"});
  EXPECT_EQ(t.status, 0) << t.err;
  EXPECT_EQ(t.out, "Extracted 2 files (5 bytes) into " + dir.Join("out") + "\n");
  EXPECT_EQ(testing::ListTree(dir.Join("out")),
            (std::vector<std::string>{"data", "data/maps", "data/maps/B.MAP", "data/maps/a.map"}));
  t = RunWithOnly(RunExtractArchive, archive, dir.Join("two"), {"*.tbl", "*.pof"});
  EXPECT_EQ(t.status, 1);
  EXPECT_EQ(t.out, "Extracted 1 file (5 bytes) into " + dir.Join("two") + "\n");
  EXPECT_EQ(t.err, none);
  t = RunWithOnly(RunExtractArchive, archive, dir.Join("bad"), {"[*"});
  EXPECT_EQ(t.status, 1);
  EXPECT_FALSE(testing::FileExists(dir.Join("bad")));
}

}  // namespace
}  // namespace quarrion
