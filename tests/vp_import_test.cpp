// The "vp" command: the walk over a source archive's directory, its console
// lines, the answers, and the records it adds.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <sstream>
#include <string>

#include "buildlist/add_file.h"
#include "shell/modes.h"
#include "test_util.h"

namespace quarrion {
namespace {

using testing::ArchiveBuilder;
using testing::Entry;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

const std::string kArchivePrompt = "Enter name of vp file (ie c:\\games\\starhold\\stockpack.vp): ";

struct Transcript {
  std::string out;
  std::string err;
};

// Runs the command with `archive` typed at its prompt, then `answers`.
Transcript Import(BuildList& list, const std::string& archive, const std::string& answers) {
  std::istringstream in(archive + "\n" + answers);
  std::ostringstream out, err;
  Console console{in, out, err};
  ImportFromVp(list, console);
  return {out.str(), err.str()};
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

TEST(VpImportTest, WalkOverAWrittenArchivePrintsTheFolderLinesAndQuestions) {
  TempDir dir;
  const std::string vp = dir.Join("pack.vp");
  WriteArchive(dir, vp, {{"a.pof", "data\\maps", "model"}, {"b.tbl", "data\\tables", "table"}});
  BuildList list;
  Transcript t = Import(list, vp, "y n\n");
  EXPECT_EQ(t.out, kArchivePrompt + "Stepping into directory: \\maps\n" + Ask("\\maps\\a.pof") +
                       "Importing File\n"
                       "Stepping up directory ().\n"
                       "Stepping into directory: \\tables\n" +
                       Ask("\\tables\\b.tbl") + "Skipping file;\n");
  EXPECT_EQ(t.err, "");
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].name(), "a.pof");
  EXPECT_EQ(list[0].path, vp + ":a.pof");
  EXPECT_EQ(list[0].folder, "data\\maps");  // the true folder, not the shown \maps
  EXPECT_EQ(list[0].size, 5);
  EXPECT_EQ(list[0].entry.timestamp, 1000000001);
}

TEST(VpImportTest, AnswersAreReadOneNonBlankCharacterAtATime) {
  TempDir dir;
  const std::string vp = dir.Join("pack.vp");
  ArchiveBuilder five;
  five.Folder("data");
  for (const char* name : {"a", "b", "c", "d", "e"}) five.File(name, name);
  WriteFile(vp, five.Bytes());
  BuildList list;
  Transcript t = Import(list, vp, "ynyn\nN\n");
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
  WriteFile(vp, ArchiveBuilder()
                    .File("root.txt", "r")  // before any folder: the archive's root
                    .Up()                   // nothing open: stays at the root
                    .Folder("Data")         // not the data folder
                    .File("x.tbl", "x")
                    .Add(Entry(16, 0, "..x"))  // counts as an up entry
                    .File("empty", "", 0)      // zero length and time: a folder
                    .File("in.tbl", "", 5)     // zero length with a time: a file
                    .Up()
                    .Folder("data")
                    .Folder("maps")
                    .Folder("data")  // a data folder below maps
                    .File("f.pof", "f")
                    .Up()  // the shown path loses \maps, the true folder does not
                    .File("g.pof", "g")
                    .Bytes());
  BuildList list;
  Transcript t = Import(list, vp, "yyyyy");
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
  TempDir dir;
  WriteFile(dir.Join("empty.vp"), ArchiveBuilder().Bytes());
  WriteFile(dir.Join("zeros.vp"), std::string(10, '\0'));
  BuildList list;
  Transcript t = Import(list, dir.Join("empty.vp"), "y\n");
  EXPECT_EQ(t.out + t.err, kArchivePrompt);
  for (const std::string name : {"zeros.vp", "missing.vp"}) {
    t = Import(list, dir.Join(name), "y\n");
    EXPECT_EQ(t.out, kArchivePrompt);
    EXPECT_NE(t.err.find("cannot import from " + dir.Join(name)), std::string::npos) << t.err;
  }
  EXPECT_FALSE(testing::FileExists(dir.Join("missing.vp")));

  // The second readme would be served by the first one's bytes; the name of
  // 32 bytes does not fit a record. Both are asked about but not added.
  const std::string vp = dir.Join("dup.vp");
  WriteFile(vp, ArchiveBuilder()
                    .Folder("data")
                    .File("readme.txt", "1")
                    .Folder("maps")
                    .File("README.TXT", "2")
                    .File(std::string(31, 'n') + "x", "3")
                    .Bytes());
  t = Import(list, vp, "yyy");
  EXPECT_NE(t.out.find(Ask("\\maps\\README.TXT") + "Importing File\n"), std::string::npos);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].folder, "data");
  EXPECT_NE(t.err.find("could not add " + vp + ":README.TXT"), std::string::npos) << t.err;
  EXPECT_NE(t.err.find(std::string(31, 'n') + "x"), std::string::npos) << t.err;
}

TEST(VpImportTest, ImportingEveryFileAndWritingAgainGivesTheSameArchive) {
  TempDir dir;
  const std::string vp = dir.Join("pack.vp");
  WriteArchive(dir, vp,
               {{"a.pof", "data\\maps", "model"},
                {"b.tbl", "data\\tables", "table"},
                {"c.wav", "data\\voice\\special", "sound bytes"},
                {"d.txt", "data", "top"},
                {"e.cfg", "other", "elsewhere"}});
  BuildList list;
  Transcript t = Import(list, vp, "yyyyy");
  ASSERT_EQ(list.size(), 5u) << t.err;
  Status why;
  ASSERT_TRUE(testing::WriteArchive(list, dir.Join("copy.vp"), &why)) << why.message;
  EXPECT_EQ(ReadFile(dir.Join("copy.vp")), ReadFile(vp));
}

// Whatever the archive holds, the walk ends and adds only files it asked
// about: the archive cut at every length, and each header and directory
// byte changed.
TEST(VpImportTest, DamagedArchivesAreWalkedSafely) {
  TempDir dir;
  const std::string vp = dir.Join("pack.vp");
  WriteArchive(dir, vp, {{"a.pof", "data\\maps", "model"}, {"b.tbl", "data", "table"}});
  const std::string whole = ReadFile(vp);
  const std::string damaged = dir.Join("damaged.vp");
  auto walk = [&](const std::string& bytes) {
    WriteFile(damaged, bytes);
    BuildList list;
    Transcript t = Import(list, damaged, std::string(64, 'y'));
    std::size_t questions = 0;
    for (std::size_t p = t.out.find("[y/n]"); p != std::string::npos;
         p = t.out.find("[y/n]", p + 1)) {
      ++questions;
    }
    EXPECT_LE(list.size(), std::min<std::size_t>(questions, 4));  // 4 directory entries
  };
  for (std::size_t n = 0; n <= whole.size(); ++n) walk(whole.substr(0, n));
  const std::size_t dirStart = static_cast<std::size_t>(testing::Int32At(whole, 8));
  for (std::size_t i = 8; i < whole.size(); ++i) {
    if (i >= 16 && i < dirStart) continue;  // the data bytes change nothing
    std::string bytes = whole;
    bytes[i] = "\0.\xff"[i % 3];  // no value, a dot (up entries), all bits
    walk(bytes);
  }
}

}  // namespace
}  // namespace quarrion
