// The "vp" command: the walk over a source archive's directory, its console
// lines, the answers, and the records it adds.
#include <gtest/gtest.h>

#include <array>
#include <sstream>
#include <string>

#include "buildlist/add_file.h"
#include "shell/modes.h"
#include "test_util.h"

namespace quarrion {
namespace {

using testing::ArchiveBuilder;
using testing::TempDir;
using testing::WriteFile;

const std::string kArchivePrompt = "Enter name of vp file (ie c:\\games\\starhold\\stockpack.vp): ";

// Runs the command with `archive` typed at its prompt, then `answers`.
testing::Dialogue Import(BuildList& list, const std::string& archive, const std::string& answers) {
  return testing::RunDialogue(archive + "\n" + answers, [&](Console& c) {
    ImportFromVp(list, c);
    return 0;
  });
}

std::string Ask(const std::string& shownPath) {
  return "Do you wish to import file " + shownPath + " [y/n]: ";
}

// Writes an archive with this program from files on disk: name, folder, bytes.
void WriteArchive(const TempDir& dir, const std::string& target,
                  const std::vector<std::array<std::string, 3>>& files) {
  BuildList list;
  int n = 0;
  for (const auto& [name, folder, bytes] : files) {
    const std::string path = dir.Join("src" + std::to_string(n++) + "/" + name);
    WriteFile(path, bytes);
    testing::SetMTime(path, 1000000000 + n);
    ASSERT_TRUE(AddFile(list, name, path, folder));
  }
  Status why;
  ASSERT_TRUE(testing::WriteArchive(list, target, &why)) << why.message;
}

TEST(VpImportTest, WalkOverAWrittenArchiveAndWritingEveryFileAgain) {
  TempDir dir;
  const std::string vp = dir.Join("pack.vp");
  WriteArchive(dir, vp, {{"a.pof", "data\\maps", "model"}, {"b.tbl", "data\\tables", "table"}});
  BuildList list;
  testing::Dialogue t = Import(list, vp, "y n\n");
  EXPECT_EQ(t.out, kArchivePrompt + "Stepping into directory: \\maps\n" + Ask("\\maps\\a.pof") +
                       "Importing File\n"
                       "Stepping up directory ().\n"
                       "Stepping into directory: \\tables\n" +
                       Ask("\\tables\\b.tbl") + "Skipping file;\n");
  EXPECT_EQ(t.err, "");
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].path, vp + ":a.pof");
  EXPECT_EQ(list[0].folder, "data\\maps");  // the true folder, not the shown \maps

  // Every file imported and written again: the same archive.
  const std::string all = dir.Join("all.vp");
  WriteArchive(dir, all,
               {{"a.pof", "data\\maps", "model"},
                {"b.tbl", "data\\tables", "table"},
                {"c.wav", "data\\voice\\special", "sound bytes"},
                {"d.txt", "data", "top"},
                {"e.cfg", "other", "elsewhere"}});
  list.Reset();
  t = Import(list, all, "yyyyy");
  ASSERT_EQ(list.size(), 5u) << t.err;
  Status why;
  ASSERT_TRUE(testing::WriteArchive(list, dir.Join("copy.vp"), &why)) << why.message;
  EXPECT_EQ(testing::ReadFile(dir.Join("copy.vp")), testing::ReadFile(all));
}

TEST(VpImportTest, AnswersAreReadOneNonBlankCharacterAtATime) {
  TempDir dir;
  const std::string vp = dir.Join("pack.vp");
  ArchiveBuilder five;
  five.Folder("data");
  for (const char* name : {"a", "b", "c", "d", "e"}) five.File(name, name);
  WriteFile(vp, five.Bytes());
  BuildList list;
  testing::Dialogue t = Import(list, vp, "ynyn\nN\n");
  EXPECT_EQ(t.out, kArchivePrompt + Ask("\\a") + "Importing File\n" + Ask("\\b") +
                       "Skipping file;\n" + Ask("\\c") + "Importing File\n" + Ask("\\d") +
                       "Skipping file;\n" + Ask("\\e") + "Skipping file;\n");
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[1].name(), "c");

  // "yes" takes a; e and s each ask again, and the question waits a third
  // time when the input ends, which takes nothing more.
  list.Reset();
  t = Import(list, vp, "yes\n");
  EXPECT_EQ(t.out, kArchivePrompt + Ask("\\a") + "Importing File\n" + Ask("\\b") + Ask("\\b") +
                       Ask("\\b"));
  EXPECT_EQ(list.size(), 1u);
  EXPECT_NE(t.err.find("end of input"), std::string::npos);
}

TEST(VpImportTest, EntryKindsAndFoldersOfUnusualDirectories) {
  TempDir dir;
  const std::string vp = dir.Join("odd.vp");
  ArchiveBuilder b;
  b.File("root.txt", "r").Up();         // before any folder: the root; an up entry changes nothing
  b.Folder("Data").File("x.tbl", "x");  // not the data folder
  b.Add(testing::Entry(16, 0, "..x"));  // counts as an up entry
  b.File("empty", "", 0).File("in.tbl", "", 5).Up();  // no size nor time: a folder
  b.Folder("data").Folder("maps").Folder("data").File("f.pof", "f");
  b.Up().File("g.pof", "g");  // the shown path loses \maps, the true folder does not
  WriteFile(vp, b.Bytes());
  BuildList list;
  testing::Dialogue t = Import(list, vp, "yyyyy");
  const std::string up = "Stepping up directory ().\n";
  const std::string yes = "Importing File\n";
  EXPECT_EQ(t.out, kArchivePrompt + Ask("\\root.txt") + yes + up +
                       "Stepping into directory: \\Data\n" + Ask("\\Data\\x.tbl") + yes + up +
                       "Stepping into directory: \\empty\n" + Ask("\\empty\\in.tbl") + yes + up +
                       "Stepping into directory: \\maps\n" + Ask("\\maps\\f.pof") + yes + up +
                       Ask("\\g.pof") + yes);
  EXPECT_EQ(t.err, "");
  ASSERT_EQ(list.size(), 5u);
  const char* folders[] = {"", "Data", "empty", "data\\maps\\data", "data\\maps"};
  for (std::size_t i = 0; i < 5; ++i) EXPECT_EQ(list[i].folder, folders[i]) << i;
  EXPECT_EQ(list[2].size, 0);
  EXPECT_EQ(list[2].entry.timestamp, 5);
}

TEST(VpImportTest, ArchivesThatCannotServeAskNothingOrAddNothing) {
  testing::TempDir dir;
  BuildList list;
  WriteFile(dir.Join("empty.vp"), ArchiveBuilder().Bytes());
  testing::Dialogue t = Import(list, dir.Join("empty.vp"), "y\n");
  EXPECT_EQ(t.out + t.err, kArchivePrompt);
  t = Import(list, dir.Join("missing.vp"), "y\n");
  EXPECT_EQ(t.out, kArchivePrompt);
  EXPECT_NE(t.err.find("cannot import from " + dir.Join("missing.vp")), std::string::npos);

  // The second readme would be served by the first one's bytes; the name of
  // 32 bytes does not fit a record. Both are asked about but not added.
  const std::string vp = dir.Join("dup.vp");
  ArchiveBuilder dup;
  dup.Folder("data").File("readme.txt", "1").Folder("maps").File("README.TXT", "2");
  WriteFile(vp, dup.File(std::string(31, 'n') + "x", "3").Bytes());
  t = Import(list, vp, "yyy");
  EXPECT_NE(t.out.find(Ask("\\maps\\README.TXT") + "Importing File\n"), std::string::npos);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].folder, "data");
  EXPECT_NE(t.err.find("could not add " + vp + ":README.TXT"), std::string::npos) << t.err;
  EXPECT_NE(t.err.find(std::string(31, 'n') + "x"), std::string::npos) << t.err;
}

}  // namespace
}  // namespace quarrion
