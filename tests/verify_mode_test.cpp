// -verify: the verdict, every problem printed, and archives it cannot open.
#include <gtest/gtest.h>

#include <string>

#include "shell/modes.h"
#include "test_util.h"

namespace quarrion {
namespace {

using testing::ArchiveBuilder;
using testing::Entry;
using testing::WriteFile;

class VerifyModeTest : public ::testing::Test {
 protected:
  std::string Archive(const std::string& bytes, const std::string& name = "a.vp") {
    WriteFile(dir_.Join(name), bytes);
    return dir_.Join(name);
  }

  testing::TempDir dir_;
};

// A sound archive, one with a problem, and one with several: every problem is
// printed, then their count. The findings themselves: see the checks' tests.
TEST_F(VerifyModeTest, PrintsEveryProblemAndTheirCount) {
  ArchiveBuilder sound;
  sound.Folder("data").File("a", "12345").Folder("maps").File("b", "").Up().Up();
  sound.Folder("x").File("c", "6789");
  testing::Dialogue t = testing::RunArchiveMode(RunVerifyArchive, Archive(sound.Bytes()));
  EXPECT_EQ(t.status, 0) << t.out;
  EXPECT_EQ(t.out, dir_.Join("a.vp") + " is sound: 3 files, 9 bytes\n");

  // One problem.
  ArchiveBuilder dup;
  dup.Folder("data").File("a", "1").File("A", "2");
  t = testing::RunArchiveMode(RunVerifyArchive, Archive(dup.Bytes()));
  EXPECT_EQ(t.status, 1);
  EXPECT_EQ(t.out, "entry 2 (data\\A): the same path as entry 1 (data\\a), letter case ignored\n" +
                       dir_.Join("a.vp") + ": 1 problem found\n");

  // Every problem is printed, not just the first.
  ArchiveBuilder c;
  c.Up().Folder("data").File("a", "0123456789").Add(Entry(16, 4, "dup", 1));
  c.Folder(".").Up().Up().Up();
  t = testing::RunArchiveMode(RunVerifyArchive, Archive(c.Bytes()));
  EXPECT_EQ(t.status, 1);
  EXPECT_EQ(t.out,
            "entry 0 (..): closes no open folder\n"
            "entry 4 (data\\.): \".\" names the current folder\n"
            "entry 7 (..): closes no open folder\n"
            "entry 3 (data\\dup): the data overlap those of entry 2 (data\\a)\n" +
                dir_.Join("a.vp") + ": 4 problems found\n");
}

TEST_F(VerifyModeTest, AnArchiveThatCannotBeOpenedIsAnError) {
  const testing::Dialogue t = testing::RunArchiveMode(RunVerifyArchive, dir_.Join("missing.vp"));
  EXPECT_EQ(t.status, 1);
  EXPECT_EQ(t.out, "");
  EXPECT_EQ(t.err.rfind("quarrion: cannot open archive " + dir_.Join("missing.vp") + ":", 0), 0u)
      << t.err;
}

}  // namespace
}  // namespace quarrion
