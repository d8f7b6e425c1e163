// The interactive command loop: whole sessions driven through string
// streams, and a few through the real program with a scripted input.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "shell/modes.h"
#include "test_util.h"

namespace quarrion {
namespace {

using testing::FileExists;
using testing::ReadFile;
using testing::WriteFile;

const std::string kMenu =
    "Enter Command: [qu]it, [ad]d file, [re]move file, [im]port directory structure\n"
    "[wr]ite vp, [re]set internal list\n"
    "[lo]ad list from file, write [li]st to file\n"
    "import files from [vp]\n"
    "Cmd: ";
const std::string kAddPrompts =
    "Enter name of file (like example.txt): \n"
    "Enter aboslutely location of on disc (c:\\example.txt):\n"
    "Enter files directory under data\\ (ie voice\\special):\n";
const std::string kListPrompt = "Enter List Filename: ";

class InteractiveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(dir_.Join("z.tbl"), "zed");
    WriteFile(dir_.Join("a.tbl"), "ay");
  }
  testing::Dialogue Run(const std::string& input) {
    return testing::RunDialogue(input, [&](Console& c) {
      InteractiveLoop(list_, c);
      return 0;
    });
  }
  std::string Add(const std::string& name, const std::string& folder = "data") {
    return "ad " + name + " " + dir_.Join(name) + " " + folder + "\n";
  }

  testing::TempDir dir_;
  BuildList list_;
};

TEST_F(InteractiveTest, OnlyWholeLowerCaseWordsRunAndTheEndOfInputQuits) {
  testing::Dialogue s = Run("QU\nquit\nadd x y z\nso\nqu\nlater\n");
  // QU, quit, add, x, y, z and so each run nothing; qu ends the loop.
  std::string eight;
  for (int i = 0; i < 8; ++i) eight += kMenu;
  EXPECT_EQ(s.out + s.err, eight);
  EXPECT_EQ(s.unread, "later\n");
  // The end of input acts as qu, also inside a command.
  EXPECT_EQ(Run("so").out, kMenu + kMenu);
  for (const char* input : {"wr", "li\n", "lo ", "vp\n", "ad a.tbl x"}) {
    list_.Reset();
    s = Run(input);
    EXPECT_NE(s.err.find("given (end of input)"), std::string::npos) << input;
    EXPECT_EQ(s.out.substr(s.out.size() - kMenu.size()), kMenu) << input;
    EXPECT_EQ(list_.size(), 0u);
  }
}

// Every command but vp in one session, with the exact text it shows: adds
// typed ahead, both forms of rm, im taking the rest of its line, the list
// written before and after a sort, reset, loaded again, sorted and written.
TEST_F(InteractiveTest, SessionThroughEveryCommand) {
  const std::string data = dir_.Join("my data");
  WriteFile(data + "/x.tbl", "x");
  const std::string first = dir_.Join("first.lst");
  const std::string sorted = dir_.Join("sorted.lst");
  const std::string vp = dir_.Join("out.vp");
  testing::Dialogue s =
      Run(Add("z.tbl", "voice\\special") + "rm z.tbl data\nrm\nz.tbl\nvoice\\special\nim " + data +
          "\n" + Add("z.tbl") + Add("a.tbl") + "li " + first + "\nso\nli " + sorted + "\nre\nlo " +
          sorted + "\nso\nwr " + vp + "\nqu\n");
  const std::string removePrompts =
      "Enter name of file (like example.txt): "
      "Enter files directory under data\\ (ie voice\\special)";
  EXPECT_EQ(s.out, kMenu + kAddPrompts + kMenu + removePrompts +
                       "Couldn't remove file, either it isn't in the list or check your "
                       "capitalization.\n" +
                       kMenu + removePrompts + kMenu +
                       "Enter data directory location (ie j:\\games\\tidewater\\data): \n"
                       "Importing Directory: \"" +
                       data + "\"\nAdding directory: " + data + "\n\n\n" + kMenu + kAddPrompts +
                       kMenu + kAddPrompts + kMenu + kListPrompt + "###\n\n" + kMenu + kMenu +
                       kListPrompt + "###\n\n" + kMenu + kMenu + kListPrompt +
                       "Added: a.tbl to data\nAdded: x.tbl to data\nAdded: z.tbl to data\n\n" +
                       kMenu + kMenu + "VP output Filename: data\n\nVP Written!\n" + kMenu);
  EXPECT_EQ(s.err, "");
  EXPECT_EQ(ReadFile(first).find("x.tbl\r\n" + data + "\\x.tbl\r\ndata\r\nz.tbl\r\n"), 0u);
  EXPECT_EQ(ReadFile(sorted).find("a.tbl\r\n" + dir_.Join("a.tbl") + "\r\ndata\r\nx.tbl\r\n"), 0u);
  // Laid out twice (so, then wr): still one folder entry and three files.
  const std::string archive = ReadFile(vp);
  EXPECT_EQ(archive.size(), 16u + 6u + 4 * 44u);
  EXPECT_EQ(archive.substr(16, 6), "ayxzed");
}

TEST_F(InteractiveTest, FailuresAreReportedAndWriteNothing) {
  testing::Dialogue s = Run(Add("gone.tbl") + "im " + dir_.Join("none") + "\nqu\n");
  EXPECT_NE(s.err.find("could not add " + dir_.Join("gone.tbl")), std::string::npos);
  EXPECT_NE(s.err.find(dir_.Join("none") + ": "), std::string::npos);
  EXPECT_EQ(list_.size(), 0u);

  // An empty list writes an empty list file, no "#" (the empty archive: see the writer's tests).
  const std::string vp = dir_.Join("out.vp");
  const std::string lst = dir_.Join("l.lst");
  s = Run("li " + lst + "\n");
  EXPECT_EQ(s.out, kMenu + kListPrompt + "\n\n" + kMenu);
  EXPECT_EQ(ReadFile(lst), "");
  EXPECT_TRUE(FileExists(lst));

  // A folder with an empty component cannot be stored: the old archive stays.
  WriteFile(vp, "old archive");
  s = Run(Add("z.tbl", "data\\\\x") + "wr " + vp + "\n");
  EXPECT_EQ(s.out.find("VP Written!"), std::string::npos);
  EXPECT_NE(s.err.find("could not write " + vp), std::string::npos);
  EXPECT_EQ(ReadFile(vp), "old archive");
  EXPECT_EQ(testing::ListTree(dir_.path()),
            (std::vector<std::string>{"a.tbl", "l.lst", "out.vp", "z.tbl"}));
}

// Paths that differ only in letter case: "im" warns of them over the whole
// list once it has imported, and "wr" again as it writes both.
TEST_F(InteractiveTest, ImportAndWriteWarnOfPathsThatDifferOnlyInLetterCase) {
  const std::string data = dir_.Join("mod");
  WriteFile(data + "/A.TBL", "big");
  const std::string vp = dir_.Join("out.vp");
  testing::Dialogue s = Run(Add("a.tbl") + "im " + data + "\nwr " + vp + "\nqu\n");
  EXPECT_EQ(s.err,
            "quarrion: warning: data\\a.tbl and data\\A.TBL differ only in letter case\n"  // im
            "quarrion: warning: data\\A.TBL and data\\a.tbl differ only in letter case\n");
  EXPECT_NE(s.out.find("Adding directory: " + data + "\n\n\n"), std::string::npos) << s.out;
  EXPECT_EQ(ReadFile(vp).substr(16, 5), "bigay");
}

TEST_F(InteractiveTest, LoadPausesAfterAnEntryItCannotAdd) {
  const std::string lst = dir_.Join("l.lst");
  WriteFile(lst, "gone.tbl\n" + dir_.Join("gone.tbl") + "\ndata\\x\na.tbl\n" + dir_.Join("a.tbl") +
                     "\ndata\n");
  const std::string failed =
      "An Unkown error has occured while attempting to add gone.tbl to data\\x\n";
  testing::Dialogue s = Run("lo " + lst + "\nany\nqu\n");
  EXPECT_EQ(s.out, kMenu + kListPrompt + failed + "Added: a.tbl to data\n\n" + kMenu);
  EXPECT_NE(s.err.find("could not add " + dir_.Join("gone.tbl")), std::string::npos);
  EXPECT_EQ(list_.size(), 1u);

  // The end of input during the pause stops the load.
  list_.Reset();
  s = Run("lo " + lst + "\n");
  EXPECT_EQ(s.out, kMenu + kListPrompt + failed + "\n" + kMenu);
  EXPECT_NE(s.err.find("end of input: the rest of " + lst + " was not loaded"), std::string::npos);
  EXPECT_EQ(list_.size(), 0u);
}

// The real program: a session from -oldinterface to the end of its input.
TEST_F(InteractiveTest, ProgramRunsASessionAndExitsZero) {
  testing::RunResult r =
      testing::RunQuarrionBinary({"-oldinterface", "-o", "x.vp"}, "qu\n", dir_.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "Quarrion 1.6 - VP archive builder\n\n" + kMenu);
  EXPECT_FALSE(FileExists(dir_.Join("x.vp")));
}

}  // namespace
}  // namespace quarrion
