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
  testing::Dialogue s = Run("QU\nquit\nadd x y z\nso\nqu\nlater\n");
  // QU, quit, add, x, y, z and so each run nothing; qu ends the loop, as the end of input does.
  std::string eight;
  for (int i = 0; i < 8; ++i) eight += kMenu;
  EXPECT_EQ(s.out + s.err, eight);
  EXPECT_EQ(s.unread, "later\n");
  EXPECT_EQ(Run("so").out, kMenu + kMenu);
  Run("ad a.tbl x");  // cut short by the end of input: nothing is added
  EXPECT_EQ(list_.size(), 0u);
}

// Every command but vp in one session, with the exact text it shows: adds typed ahead, both
// forms of rm, im taking the rest of its line, the list written, reset, loaded and written.
TEST_F(InteractiveTest, SessionThroughEveryCommand) {
  const std::string data = dir_.Join("my data");
  WriteFile(data + "/x.tbl", "x");
  const std::string first = dir_.Join("f.lst"), sorted = dir_.Join("s.lst"), vp = dir_.Join("o.vp");
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
  EXPECT_TRUE(ReadFile(first).starts_with("x.tbl\r\n" + data + testing::kBelow +
                                          "x.tbl\r\ndata\r\nz.tbl\r\n"));
  EXPECT_EQ(ReadFile(sorted).find("a.tbl\r\n" + dir_.Join("a.tbl") + "\r\ndata\r\nx.tbl\r\n"), 0u);
  // Laid out twice (so, then wr): still one folder entry and three files.
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

// The "vp" command's walk over directories this program writes and odd ones, its answers (one
// non-blank character at a time: "yes" asks again at e and s), and archives that cannot serve
// every file: cut short (imported as far as it goes), or with entries -verify reports.
TEST_F(VpImportTest, WalksAnswersAndTheRecordsTaken) {
  ArchiveBuilder written, five, odd, dup, over;
  written.Folder("data").Folder("maps").File("a.pof", "model", 1234).Up();
  written.Folder("tables").File("b.tbl", "table");
  five.Folder("data");
  for (const char* name : {"a", "b", "c", "d", "e"}) five.File(name, name);
  odd.File("root.txt", "r").Up().Folder("Data").File("x.tbl", "x");
  odd.Add(testing::Entry(16, 0, "..x")).File("empty", "", 0).File("in.tbl", "", 5).Up();
  odd.Folder("data").Folder("maps").Folder("data").File("f.pof", "f");
  odd.Up().File("g.pof", "g").Up().Folder("e\x1b[2J").File("t\tab", "t");
  dup.Folder("data").File("readme.txt", "1").Up().Folder("DATA").File("README.TXT", "2");
  over.Folder("data").File("a", "0123").Add(testing::Entry(17, 2, "b", 1));
  const std::string into = "Stepping into directory: ", up = "Stepping up directory ().\n";
  const std::string yes = "Importing File\n", no = "Skipping file;\n";
  const std::string fiveOut =
      Ask("\\a") + yes + Ask("\\b") + no + Ask("\\c") + yes + Ask("\\d") + no + Ask("\\e") + no;
  struct Case {
    std::string bytes, answers, out;
    std::string records;   // each folder|inner path;
    std::string err = "";  // a part of standard error
  };
  const Case cases[] = {
      {written.Bytes(), "y n\n",
       into + "\\maps\n" + Ask("\\maps\\a.pof") + yes + up + into + "\\tables\n" +
           Ask("\\tables\\b.tbl") + no,
       "data\\maps|data\\maps\\a.pof;"},  // the true folder, not the shown \maps
      {five.Bytes(), "ynyn\nN\n", fiveOut, "data|data\\a;data|data\\c;"},
      {five.Bytes(), "yes\n", Ask("\\a") + yes + Ask("\\b") + Ask("\\b") + Ask("\\b"),
       "data|data\\a;", "quarrion: end of input"},
      {odd.Bytes(), "yyyyyn",
       Ask("\\root.txt") + yes + up + into + "\\Data\n" + Ask("\\Data\\x.tbl") + yes + up + into +
           "\\empty\n" + Ask("\\empty\\in.tbl") + yes + up + into + "\\maps\n" +
           Ask("\\maps\\f.pof") + yes + up + Ask("\\g.pof") + yes + up + into + "\\e?[2J\n" +
           Ask("\\e?[2J\\t?ab") + no,
       "|\\root.txt;Data|Data\\x.tbl;empty|empty\\in.tbl;data\\maps\\data|data\\maps\\data\\f.pof;"
       "data\\maps|data\\maps\\g.pof;"},
      {dup.Bytes(), "yy",
       Ask("\\readme.txt") + yes + up + into + "\\DATA\n" + Ask("\\DATA\\README.TXT") + yes,
       "data|data\\readme.txt;",
       "could not add " + vp_ + ":DATA\\README.TXT: archive " + vp_ +
           ": entry 4 (DATA\\README.TXT): the same path as entry 1 (data\\readme.txt)"},
      {over.Bytes(), "yy", Ask("\\a") + yes + Ask("\\b") + yes, "data|data\\a;",
       "could not add " + vp_ + ":data\\b: archive " + vp_ +
           ": entry 2 (data\\b): the data overlap those of entry 1 (data\\a)\n"},
      {five.Bytes(2, five.DirOffset(), 8), "ynynn", fiveOut, "data|data\\a;data|data\\c;",
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
    if (&c == &cases[0]) {  // the size and time of the entry taken
      EXPECT_EQ(std::pair(list_[0].entry.size, list_[0].entry.timestamp), std::pair(5, 1234));
    }
  }
  // The program's session ends with 1 after the warning of the last row.
  EXPECT_EQ(testing::RunQuarrionInProcess({"-oldinterface"}, "vp " + vp_ + "\nynynn\n").status, 1);
}

// Two files of one name from an archive of any name keep their own bytes; the list file keeps
// their exact paths and reads back so, and "ad" reads such a path as "lo" does.
TEST_F(VpImportTest, TwoFilesOfOneNameImportWholeAndListBack) {
  const std::string dat = dir_.Join("pack.dat");
  ArchiveBuilder b;
  b.Folder("data").Folder("a").File("x.tbl", "one").Up().Folder("b").File("x.tbl", "two");
  WriteFile(dat, b.Bytes());
  const std::string lst = dir_.Join("l.lst"), out = dir_.Join("out.vp");
  const testing::Dialogue s =
      Run("vp " + dat + "\nyy\nli " + lst + "\nre\nlo " + lst + "\nad y.tbl " + dat +
          ":data\\b\\x.tbl data\\c\nwr " + out + "\nqu\n");
  EXPECT_EQ(s.err, "");
  EXPECT_EQ(ReadFile(lst), "x.tbl\r\n" + dat + ":data\\a\\x.tbl\r\ndata\\a\r\n" + "x.tbl\r\n" +
                               dat + ":data\\b\\x.tbl\r\ndata\\b\r\n");
  EXPECT_EQ(ReadFile(out).substr(16, 9), "onetwotwo");
}

}  // namespace
}  // namespace quarrion
