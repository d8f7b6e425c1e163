// The "vp" command: the walk over a source archive's directory, its console
// lines, the answers, and the records it adds.
#include <gtest/gtest.h>

#include <string>

#include "shell/modes.h"
#include "test_util.h"

namespace quarrion {
namespace {

using testing::ArchiveBuilder;

const std::string kArchivePrompt = "Enter name of vp file (ie c:\\games\\starhold\\stockpack.vp): ";

std::string Ask(const std::string& shownPath) {
  return "Do you wish to import file " + shownPath + " [y/n]: ";
}

class VpImportTest : public ::testing::Test {
 protected:
  // Runs the command on an archive of `bytes` (none: the one there) typed
  // at its prompt by the name `archive`, then `answers`.
  testing::Dialogue Import(const std::string& bytes, const std::string& answers,
                           const std::string& archive = "") {
    if (!bytes.empty()) testing::WriteFile(vp_, bytes);
    return testing::RunDialogue((archive.empty() ? vp_ : archive) + "\n" + answers, [&](Console& c) {
      ImportFromVp(list_, c);
      return 0;
    });
  }

  testing::TempDir dir_;
  const std::string vp_ = dir_.Join("pack.vp");
  BuildList list_;
};

TEST_F(VpImportTest, WalkOverTheDirectoryThisProgramWrites) {
  ArchiveBuilder b;  // as the writer lays out data\maps\a.pof and data\tables\b.tbl
  b.Folder("data").Folder("maps").File("a.pof", "model", 1234).Up();
  b.Folder("tables").File("b.tbl", "table");
  testing::Dialogue t = Import(b.Bytes(), "y n\n");
  EXPECT_EQ(t.out, kArchivePrompt + "Stepping into directory: \\maps\n" + Ask("\\maps\\a.pof") +
                       "Importing File\n"
                       "Stepping up directory ().\n"
                       "Stepping into directory: \\tables\n" +
                       Ask("\\tables\\b.tbl") + "Skipping file;\n");
  EXPECT_EQ(t.err, "");
  ASSERT_EQ(list_.size(), 1u);
  EXPECT_EQ(list_[0].path, vp_ + ":a.pof");
  EXPECT_EQ(list_[0].folder, "data\\maps");  // the true folder, not the shown \maps
  EXPECT_EQ(list_[0].entry.size, 5);
  EXPECT_EQ(list_[0].entry.timestamp, 1234);
}

TEST_F(VpImportTest, AnswersAreReadOneNonBlankCharacterAtATime) {
  ArchiveBuilder five;
  five.Folder("data");
  for (const char* name : {"a", "b", "c", "d", "e"}) five.File(name, name);
  testing::Dialogue t = Import(five.Bytes(), "ynyn\nN\n");
  EXPECT_EQ(t.out, kArchivePrompt + Ask("\\a") + "Importing File\n" + Ask("\\b") +
                       "Skipping file;\n" + Ask("\\c") + "Importing File\n" + Ask("\\d") +
                       "Skipping file;\n" + Ask("\\e") + "Skipping file;\n");
  ASSERT_EQ(list_.size(), 2u);
  EXPECT_EQ(list_[1].name(), "c");

  // "yes" takes a; e and s each ask again, and the question waits a third
  // time when the input ends, which takes nothing more.
  list_.Reset();
  t = Import("", "yes\n");
  EXPECT_EQ(t.out, kArchivePrompt + Ask("\\a") + "Importing File\n" + Ask("\\b") + Ask("\\b") +
                       Ask("\\b"));
  EXPECT_EQ(list_.size(), 1u);
  EXPECT_NE(t.err.find("end of input"), std::string::npos);
}

TEST_F(VpImportTest, EntryKindsAndFoldersOfUnusualDirectories) {
  ArchiveBuilder b;
  b.File("root.txt", "r").Up();         // before any folder: the root; an up entry changes nothing
  b.Folder("Data").File("x.tbl", "x");  // not the data folder
  b.Add(testing::Entry(16, 0, "..x"));  // counts as an up entry
  b.File("empty", "", 0).File("in.tbl", "", 5).Up();  // no size nor time: a folder
  b.Folder("data").Folder("maps").Folder("data").File("f.pof", "f");
  b.Up().File("g.pof", "g");  // the shown path loses \maps, the true folder does not
  testing::Dialogue t = Import(b.Bytes(), "yyyyy");
  const std::string up = "Stepping up directory ().\n";
  const std::string yes = "Importing File\n";
  EXPECT_EQ(t.out, kArchivePrompt + Ask("\\root.txt") + yes + up +
                       "Stepping into directory: \\Data\n" + Ask("\\Data\\x.tbl") + yes + up +
                       "Stepping into directory: \\empty\n" + Ask("\\empty\\in.tbl") + yes + up +
                       "Stepping into directory: \\maps\n" + Ask("\\maps\\f.pof") + yes + up +
                       Ask("\\g.pof") + yes);
  EXPECT_EQ(t.err, "");
  ASSERT_EQ(list_.size(), 5u);
  const char* folders[] = {"", "Data", "empty", "data\\maps\\data", "data\\maps"};
  for (std::size_t i = 0; i < 5; ++i) EXPECT_EQ(list_[i].folder, folders[i]) << i;
}

TEST_F(VpImportTest, ArchivesThatCannotServeAskNothingOrAddNothing) {
  testing::Dialogue t = Import(ArchiveBuilder().Bytes(), "y\n");
  EXPECT_EQ(t.out + t.err, kArchivePrompt);
  t = Import("", "y\n", dir_.Join("missing.vp"));
  EXPECT_EQ(t.out, kArchivePrompt);
  EXPECT_NE(t.err.find("cannot import from " + dir_.Join("missing.vp")), std::string::npos);

  // The second readme would be served by the first one's bytes: it is asked
  // about but not added.
  ArchiveBuilder dup;
  dup.Folder("data").File("readme.txt", "1").Folder("maps").File("README.TXT", "2");
  t = Import(dup.Bytes(), "yy");
  EXPECT_NE(t.out.find(Ask("\\maps\\README.TXT") + "Importing File\n"), std::string::npos);
  ASSERT_EQ(list_.size(), 1u);
  EXPECT_EQ(list_[0].folder, "data");
  EXPECT_NE(t.err.find("could not add " + vp_ + ":README.TXT"), std::string::npos) << t.err;
}

}  // namespace
}  // namespace quarrion
