// -extract: files written at their paths, names refused that would leave
// the folder or repeat a path, links never followed, any depth with few
// descriptors, and the round trip through the real program.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "shell/modes.h"
#include "test_util.h"

namespace quarrion {
namespace {

namespace fs = std::filesystem;
using testing::ArchiveBuilder;
using testing::Entry;
using testing::ReadFile;
using testing::WriteFile;

using ExtractModeTest = testing::ArchiveTest;

// An existing file is replaced, whatever it held; data outside the archive
// are reported and the next file is still written.
TEST_F(ExtractModeTest, WritesFilesAtTheirPathsAndReportsFailures) {
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
            "quarrion: could not extract data\\gone.tbl: its data lie outside the archive\n"
            "quarrion: not everything was extracted: 0 refused, 1 failed\n");
  EXPECT_EQ(testing::ListTree(out).size(), 7u);  // no temporary file left
  EXPECT_EQ(ReadFile(out + "/data/readme.txt"), "hello");
  t = testing::RunArchiveMode(RunExtractArchive, dir_.Join("a.vp"), "");
  EXPECT_EQ(t.err, "quarrion: cannot extract into: no target folder given\n");
}

TEST_F(ExtractModeTest, RefusesNamesThatLeaveTheFolder) {
  ArchiveBuilder c;
  // Up entries with no folder open stay at the top; a folder entry named
  // ".." is an up entry by the format, so it can never climb out either.
  c.Up().File("top.txt", "top").Folder("data").Up().Folder("..").File("up.txt", "up");
  c.Folder(".").File("dot.txt", "no").Up();
  c.Folder("data").File("..", "no").File("../up.txt", "no").File("..\\up.txt", "no");
  c.File("/abs.txt", "no").File("C:\\drive.txt", "no").File("c:x", "no");
  c.Folder("sub\\..\\..").File("deep.txt", "no").Up();
  c.File("fine.txt", "yes");
  const std::string out = dir_.Join("sandbox/out");
  testing::Dialogue t = testing::RunArchiveMode(RunExtractArchive, Archive(c.Bytes()), out);
  EXPECT_EQ(t.status, 1);
  EXPECT_EQ(t.out, "Extracted 3 files (8 bytes) into " + out + "\n");
  EXPECT_EQ(t.err,
            "quarrion: ignored entry 0 (..): it closes no open folder\n"
            "quarrion: ignored entry 4 (..): it closes no open folder\n"
            "quarrion: refused .\\dot.txt: \".\" names the current folder\n"
            "quarrion: refused data\\..: \"..\" names the parent folder\n"
            "quarrion: refused data\\../up.txt: \"../up.txt\" holds a slash\n"
            "quarrion: refused data\\..\\up.txt: \"..\\up.txt\" holds a backslash\n"
            "quarrion: refused data\\/abs.txt: \"/abs.txt\" holds a slash\n"
            "quarrion: refused data\\C:\\drive.txt: \"C:\\drive.txt\" holds a colon\n"
            "quarrion: refused data\\c:x: \"c:x\" holds a colon\n"
            "quarrion: refused data\\sub\\..\\..\\deep.txt: \"sub\\..\\..\" holds a backslash\n"
            "quarrion: not everything was extracted: 10 refused, 0 failed\n");
  // Only the plain files exist, and nothing beside the target.
  EXPECT_EQ(testing::ListTree(dir_.Join("sandbox")),
            (std::vector<std::string>{"out", "out/data", "out/data/fine.txt", "out/top.txt",
                                      "out/up.txt"}));
}

// Readers take the first entry of a path whatever its letter case: a later
// one, also one whose folders differ in case, is refused, not written over it.
TEST_F(ExtractModeTest, WritesOnlyTheFirstEntryOfAPath) {
  ArchiveBuilder c;
  c.Folder("data").File("ship.pof", "first").File("Ship.POF", "second").Folder("Maps");
  c.File("a.map", "map").Up().Folder("maps").File("A.MAP", "other map").File("b.map", "b");
  const std::string out = dir_.Join("out");
  testing::Dialogue t = testing::RunArchiveMode(RunExtractArchive, Archive(c.Bytes()), out);
  EXPECT_EQ(t.status, 1);
  EXPECT_EQ(t.out, "Extracted 3 files (9 bytes) into " + out + "\n");
  EXPECT_EQ(t.err,
            "quarrion: refused data\\Ship.POF: the same path as data\\ship.pof, letter case "
            "ignored\n"
            "quarrion: refused data\\maps\\A.MAP: the same path as data\\Maps\\a.map, letter case "
            "ignored\n"
            "quarrion: not everything was extracted: 2 refused, 0 failed\n");
  EXPECT_EQ(ReadFile(out + "/data/ship.pof"), "first");
}

#if !defined(_WIN32)
TEST_F(ExtractModeTest, NeverFollowsAPlantedSymbolicLink) {
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
      const std::string name = data + folder + "/file" + std::to_string(i) + (i % 3 ? ".tbl" : ".pof");
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
