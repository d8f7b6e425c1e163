// The interactive command loop: sessions driven through string streams.
#include <gtest/gtest.h>

#include <string>

#include "shell/modes.h"
#include "test_util.h"

namespace quarrion {
namespace {

using testing::ArchiveBuilder;
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
const std::string kArchivePrompt = "Enter name of vp file (ie c:\\games\\starhold\\stockpack.vp): ";

std::string Ask(const std::string& shownPath) {
  return "Do you wish to import file " + shownPath + " [y/n]: ";
}

class InteractiveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(dir_.Join("z.tbl"), "zed");
    WriteFile(dir_.Join("a.tbl"), "ay");
  }
  testing::Dialogue Run(const std::string& input) {
    return testing::RunDialogue(input, [&](Console& c) { return InteractiveLoop(list_, c); });
  }
  std::string Add(const std::string& name, const std::string& folder = "data") {
    return "ad " + name + " " + dir_.Join(name) + " " + folder + "\n";
  }

  testing::TempDir dir_;
  const std::string vp_ = dir_.Join("pack.vp");
  BuildList list_;
};

TEST_F(InteractiveTest, OnlyWholeLowerCaseWordsRunAndTheEndOfInputQuits) {
  const testing::Dialogue s = Run("QU\nquit\nadd x\nqu\nlater\n");
  // QU, quit, add and x each run nothing; qu ends the loop.
  EXPECT_EQ(s.out + s.err, kMenu + kMenu + kMenu + kMenu + kMenu);
  EXPECT_EQ(s.unread, "later\n");
}

// The exact text of ad, both rm forms, im, so, li and wr; laid out twice, still one folder entry.
TEST_F(InteractiveTest, SessionThroughEveryCommand) {
  const std::string data = dir_.Join("my data"), lst = dir_.Join("s.lst"), vp = dir_.Join("o.vp");
  WriteFile(data + "/x.tbl", "x");
  const testing::Dialogue s =
      Run(Add("z.tbl", "voice\\special") + "rm z.tbl data\nrm\nz.tbl\nvoice\\special\nim " + data +
          "\n" + Add("z.tbl") + Add("a.tbl") + "so\nli " + lst + "\nwr " + vp + "\nqu\n");
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
                       kMenu + kAddPrompts + kMenu + kMenu + kListPrompt + "###\n\n" + kMenu +
                       "VP output Filename: data\n\nVP Written!\n" + kMenu);
  EXPECT_EQ(s.err, "");
  EXPECT_EQ(ReadFile(lst).find("a.tbl\r\n" + dir_.Join("a.tbl") + "\r\ndata\r\nx.tbl\r\n"), 0u);
  const std::string archive = ReadFile(vp);
  EXPECT_EQ(archive.size(), 16u + 6u + 4 * 44u);
  EXPECT_EQ(archive.substr(16, 6), "ayxzed");
}

// A session exits 1 when any command failed (quitting, also by the end of input, is none); a
// failure other than a warning writes nothing. "lo" pauses after an entry it cannot add (control
// characters shown as '?'), skips a byte order mark and reports an entry the file ends within.
TEST_F(InteractiveTest, ExitStatusTellsWhetherAnyCommandFailed) {
  const std::string vp = dir_.Join("out.vp"), kept = dir_.Join("kept.vp");
  const std::string lst = dir_.Join("l.lst"), none = dir_.Join("none"), empty = dir_.Join("e.lst");
  WriteFile(dir_.Join("mod/ok.tbl"), "ok");
  WriteFile(dir_.Join("mod/" + std::string(32, 'n')), "a name too long");
  WriteFile(dir_.Join("case/A.TBL"), "big");
  const std::string bad = dir_.Join("bad.lst"), bom = dir_.Join("bom.lst");
  const std::string a = "a.tbl\n" + dir_.Join("a.tbl") + "\ndata\n";
  WriteFile(bad, "gone.tbl\n" + dir_.Join("gone.tbl") + "\ndata\\x\x1b[2J\n" + a);
  WriteFile(bom, "\xEF\xBB\xBF" + a + "stray");
  const std::string failed =
      "An Unkown error has occured while attempting to add gone.tbl to data\\x?[2J\n";
  WriteFile(kept, "old archive");
  WriteFile(dir_.Join("dup.vp"),
            ArchiveBuilder().Folder("data").File("a", "1").File("A", "2").Bytes());
  struct Case {
    std::string input;
    int status;
    std::string err = "", out = "";  // a part of standard error, of standard output
  };
  const Case cases[] = {
      {"", 0},
      {Add("a.tbl") + "wr " + vp + "\nli " + lst + "\nre\nlo " + lst + "\nrm a.tbl data\nqu\n", 0},
      {"wr " + vp + "\n", 0},  // an empty archive, with a warning that is no failure
      {"li " + empty + "\n", 0},
      {"vp " + vp + "\n", 0},
      {Add("a.tbl") + "im " + dir_.Join("case") + "\nwr " + vp + "\n", 1,
       "data\\a.tbl and data\\A.TBL differ only in letter case\nquarrion: warning: data\\A.TBL and "
       "data\\a.tbl differ"},  // im, then wr
      {"wr " + dir_.Join("no/such/x.vp") + "\nqu\n", 1},
      {"wr", 1, "given (end of input)"},
      {"li\n", 1, "given (end of input)"},
      {"lo ", 1, "given (end of input)"},
      {"vp\n", 1, "given (end of input)"},
      {"ad a.tbl x", 1, "given (end of input)"},
      {"li " + dir_.Join("no/such/x.lst") + "\n", 1},
      {"lo " + dir_.Join("missing.lst") + "\n", 1},
      {"lo " + bad + "\nany\nqu\n", 1, "could not add " + dir_.Join("gone.tbl"),
       kListPrompt + failed + "Added: a.tbl to data\n\n" + kMenu},
      {"lo " + bad + "\n", 1, "end of input: the rest of " + bad + " was not loaded",
       kListPrompt + failed + "\n" + kMenu},
      {"lo " + bom + "\n", 1,
       bom + ", line 4: the file ends within the entry that begins there (1 of its 3 lines), which "
             "is not used\n",
       kListPrompt + "Added: a.tbl to data\n\n" + kMenu},
      // A later success does not undo it.
      {Add("gone.tbl") + Add("a.tbl"), 1, "could not add " + dir_.Join("gone.tbl")},
      {"im " + dir_.Join("mod") + "\n", 1},  // a file skipped
      {"im " + none + "\n", 1, none + ": "},
      {"im \n", 1, "quarrion: no data directory given (the path is empty)\n"},
      {"vp " + dir_.Join("missing.vp") + "\n", 1, "cannot import from " + dir_.Join("missing.vp")},
      {"vp " + dir_.Join("dup.vp") + "\nyy\n", 1},  // its second file cannot be referred to
      {"ad x.tbl " + dir_.Join("dup.vp") + ":data\\a data\n", 0},  // read as "lo" reads paths
      {"rm a.tbl data\n", 1},
      // A folder with an empty component cannot be stored.
      {Add("z.tbl", "data\\\\x") + "wr " + kept + "\n", 1, "could not write " + kept},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    list_.Reset();
    const testing::Dialogue s = Run(c.input);
    EXPECT_EQ(s.status, c.status) << s.err;
    EXPECT_NE(s.err.find(c.err), std::string::npos) << s.err;
    EXPECT_NE(s.out.find(c.out), std::string::npos) << s.out;
    EXPECT_TRUE(c.status == 0 || c.err.find("warning") != std::string::npos ||
                s.out.find("VP Written!") == std::string::npos);
  }
  EXPECT_EQ(ReadFile(kept), "old archive");
  EXPECT_EQ(ReadFile(vp).substr(16, 5), "bigay");  // both paths that differ in letter case
  EXPECT_TRUE(FileExists(empty));
  EXPECT_EQ(ReadFile(empty), "");
}

using VpImportTest = InteractiveTest;

// The "vp" command shows folders below data, takes files in the folder they lie in (a stray up at
// the root included) and refuses files the archive cannot serve: cut short, repeated, overlapping.
TEST_F(VpImportTest, WalksAnswersAndTheRecordsTaken) {
  ArchiveBuilder five, odd, dup, over;
  five.Folder("data");
  for (const char* name : {"a", "b", "c", "d", "e"}) five.File(name, name);
  odd.File("root.txt", "r").Up().Folder("data").Folder("maps").Folder("data").File("f.pof", "f");
  odd.Up().File("f.pof", "g");
  dup.Folder("data").File("readme.txt", "1").Up().Folder("DATA").File("README.TXT", "2");
  over.Folder("data").File("a", "0123").Add(testing::Entry(17, 2, "b", 1));
  const std::string into = "Stepping into directory: ", up = "Stepping up directory ().\n";
  const std::string yes = "Importing File\n", no = "Skipping file;\n";
  struct Case {
    std::string bytes, answers, out;
    std::string records;   // each folder|inner path;
    std::string err = "";  // a part of standard error
  };
  const Case cases[] = {
      {odd.Bytes(), "yyy",
       Ask("\\root.txt") + yes + up + into + "\\maps\n" + Ask("\\maps\\f.pof") + yes + up +
           Ask("\\f.pof") + yes,
       "|\\root.txt;data\\maps\\data|data\\maps\\data\\f.pof;data\\maps|data\\maps\\f.pof;"},
      {dup.Bytes(), "Yy",
       Ask("\\readme.txt") + yes + up + into + "\\DATA\n" + Ask("\\DATA\\README.TXT") + yes,
       "data|data\\readme.txt;",
       "could not add " + vp_ + ":DATA\\README.TXT: archive " + vp_ +
           ": entry 4 (DATA\\README.TXT): the same path as entry 1 (data\\readme.txt)"},
      {over.Bytes(), "yy", Ask("\\a") + yes + Ask("\\b") + yes, "data|data\\a;",
       "could not add " + vp_ + ":data\\b: archive " + vp_ +
           ": entry 2 (data\\b): the data overlap those of entry 1 (data\\a)\n"},
      {five.Bytes(2, five.DirOffset(), 8), "ynynn",
       Ask("\\a") + yes + Ask("\\b") + no + Ask("\\c") + yes + Ask("\\d") + no + Ask("\\e") + no,
       "data|data\\a;data|data\\c;",
       "warning: source archive " + vp_ + ": the header counts 8 entries, but only 6 fit"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answers);
    list_.Reset();
    WriteFile(vp_, c.bytes);
    const testing::Dialogue t = testing::RunDialogue(
        vp_ + "\n" + c.answers, [&](Console& k) { return ImportFromVp(list_, k) ? 0 : 1; });
    EXPECT_EQ(t.status, c.err.empty() ? 0 : 1);
    EXPECT_EQ(t.out, kArchivePrompt + c.out);
    EXPECT_TRUE(c.err.empty() ? t.err.empty() : t.err.find(c.err) != std::string::npos) << t.err;
    std::string records;
    for (const FileRecord& r : list_.files) {
      records += r.folder + "|" + r.path.substr(r.path.find(".vp:") + 4) + ";";
    }
    EXPECT_EQ(records, c.records);
  }
  // The program's session ends with 1 after the warning of the last row.
  EXPECT_EQ(testing::RunQuarrionInProcess({"-oldinterface"}, "vp " + vp_ + "\nynynn\n").status, 1);
}

}  // namespace
}  // namespace quarrion
