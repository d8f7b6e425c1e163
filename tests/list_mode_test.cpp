// -list: the transcript on a crafted archive, and archives it cannot read.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "shell/modes.h"
#include "test_util.h"

namespace quarrion {
namespace {

using testing::ArchiveBuilder;
using testing::WriteFile;

class ListModeTest : public ::testing::Test {
 protected:
  std::string Archive(const std::string& bytes, const std::string& name = "a.vp") {
    WriteFile(dir_.Join(name), bytes);
    return dir_.Join(name);
  }

  testing::TempDir dir_;
};

TEST_F(ListModeTest, PrintsFilesInDirectoryOrderAndArchivesThatCannotBeReadAreErrors) {
  ArchiveBuilder c;
  c.Folder("data").File("readme.txt", "hello", 0).Folder("maps").File("a.map", "0123", -1);
  c.Up().Folder("tables").File("ships.tbl", std::string(1234, 'x'), 2147483647);
  c.File("leap", "", 951782400).File("old", "", -2147483647 - 1);
  c.File("bad\x1b]0;x", "!", 86400);  // a name that would drive a terminal
  testing::Dialogue t = testing::RunArchiveMode(RunListArchive, Archive(c.Bytes()));
  EXPECT_EQ(t.status, 0);
  EXPECT_EQ(t.err, "");
  EXPECT_EQ(t.out,
            "         5  1970-01-01 00:00:00  data\\readme.txt\n"
            "         4  1969-12-31 23:59:59  data\\maps\\a.map\n"
            "      1234  2038-01-19 03:14:07  data\\tables\\ships.tbl\n"
            "         0  2000-02-29 00:00:00  data\\tables\\leap\n"
            "         0  1901-12-13 20:45:52  data\\tables\\old\n"
            "         1  1970-01-02 00:00:00  data\\tables\\bad?]0;x\n"
            "6 files, 1244 bytes\n");

  // An archive that cannot be read is an error.
  const std::pair<std::string, std::string> cases[] = {
      {dir_.Join("missing.vp"), "quarrion: cannot open archive " + dir_.Join("missing.vp") + ":"},
      {Archive("VPVQ" + std::string(12, '\0'), "q.vp"), "q.vp: not a VP archive"},
      {Archive(ArchiveBuilder().Bytes(3), "v3.vp"),
       "v3.vp: not a VP archive of version 2 (version 3)"}};
  for (const auto& [archive, message] : cases) {
    t = testing::RunArchiveMode(RunListArchive, archive);
    EXPECT_EQ(t.status, 1);
    EXPECT_NE(t.err.find(message), std::string::npos) << t.err;
  }
}

}  // namespace
}  // namespace quarrion
