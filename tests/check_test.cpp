// The checks behind -verify: one crafted fault per row and the one finding
// it must produce.
#include "vp/check.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "test_util.h"
#include "vp/format.h"

namespace quarrion {
namespace {

using testing::ArchiveBuilder;
using testing::Entry;

class CheckTest : public ::testing::Test {
 protected:
  ArchiveFindings Check(const std::string& bytes) {
    testing::WriteFile(path_, bytes);
    host::InputFile file;
    EXPECT_TRUE(file.Open(path_).ok());
    ArchiveFindings findings;
    const Status why = CheckArchive(file, &findings);
    EXPECT_TRUE(why.ok()) << why.Message();
    return findings;
  }

  testing::TempDir dir_;
  const std::string path_ = dir_.Join("a.vp");
};

TEST_F(CheckTest, EachFaultGivesItsFinding) {
  ArchiveBuilder good;
  good.Folder("data").File("a.tbl", "0123456789").File("b.tbl", "abcdefghij");
  const std::int32_t dirOffset = good.DirOffset();  // 36
  auto withFile = [](VpDirEntry e) {
    return ArchiveBuilder().Folder("data").File("a.tbl", "0123456789").Add(e).Bytes();
  };
  ArchiveBuilder caseClash, fileFirst, folderFirst;
  caseClash.Folder("data").File("a.tbl", "1").Up().Folder("DATA").File("A.TBL", "2");
  fileFirst.Folder("data").File("maps", "x").Folder("maps").File("a.map", "m");
  folderFirst.Folder("data").Folder("Maps").File("a.map", "m").Up().File("MAPS", "x");
  const std::pair<std::string, std::string> cases[] = {
      {std::string("VPVP\2\0\0\0", 8), "the file is 8 bytes long, shorter than the 16-byte header"},
      {"VPVQ" + good.Bytes().substr(4), "the file does not begin with \"VPVP\""},
      {good.Bytes(1), "the version is 1, not 2"},
      {good.Bytes(2, 5000, 3), "the directory offset 5000 lies outside the file"},
      {good.Bytes(2, 8, 3), "the directory offset 8 lies outside the file"},
      {good.Bytes(2, dirOffset, -1), "the entry count -1 is negative"},
      {good.Bytes(2, dirOffset, 0x7fffffff),
       "the header counts 2147483647 entries, but only 3 fit between"},
      {good.Bytes(2, dirOffset, 2), "the file holds 44 bytes after the last directory entry"},
      {withFile(Entry(26, 0, std::string(32, 'n'), 1)),
       "entry 2 (data\\" + std::string(32, 'n') + "): the name is not terminated within 32 bytes"},
      {ArchiveBuilder().Up().Folder("data").File("a", "1").Bytes(),
       "entry 0 (..): closes no open folder"},
      // A name that is not plain; -extract's refusals show the others.
      {ArchiveBuilder().Folder("data").File("a\nb", "x").Bytes(),
       "entry 1 (data\\a?b): \"a?b\" holds a control character"},
      {withFile(Entry(26, -4, "neg", 1)), "entry 2 (data\\neg): the size -4 is negative"},
      {withFile(Entry(20, 30, "long", 1)),
       "entry 2 (data\\long): the data (offset 20, 30 bytes) lie outside the data area (offset 16 "
       "up to 26)"},
      {withFile(Entry(4, 2, "hdr", 1)), "the data (offset 4, 2 bytes) lie outside the data area"},
      {withFile(Entry(20, 6, "over", 1)),
       "entry 2 (data\\over): the data overlap those of entry 1 (data\\a.tbl)"},
      {caseClash.Bytes(),
       "entry 4 (DATA\\A.TBL): the same path as entry 1 (data\\a.tbl), letter case ignored"},
      // A file and a folder of one path, in either order: no host can hold both.
      {fileFirst.Bytes(),
       "entry 2 (data\\maps): the same path as entry 1 (data\\maps), letter case ignored"},
      {folderFirst.Bytes(),
       "entry 4 (data\\MAPS): the same path as entry 1 (data\\Maps), letter case ignored"},
  };
  for (const auto& [bytes, finding] : cases) {
    const std::vector<std::string> found = Check(bytes).problems;
    EXPECT_TRUE(found.size() == 1 && found[0].find(finding) != std::string::npos)
        << finding << " not in " << ::testing::PrintToString(found);
  }
}

// A folder opened again, in any letter case, is the same folder: its files
// go on in it (the writer reopens folders so).
TEST_F(CheckTest, AFolderOpenedAgainIsNoProblem) {
  ArchiveBuilder c;
  c.Folder("data").Folder("maps").File("a.map", "12").Up().Folder("maps x").File("b", "3").Up();
  c.Folder("Maps").Folder("x").File("c", "4");
  const ArchiveFindings found = Check(c.Bytes());
  EXPECT_TRUE(found.problems.empty()) << found.problems[0];
  EXPECT_EQ(found.files, 3);
  EXPECT_EQ(found.bytes, 4);
}

}  // namespace
}  // namespace quarrion
