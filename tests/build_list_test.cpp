// The build list and what fills it: removal, list files, name patterns,
// typed text, adding a file and importing a directory.
#include "buildlist/build_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "buildlist/add_file.h"
#include "buildlist/dir_import.h"
#include "buildlist/list_file.h"
#include "buildlist/pattern.h"
#include "buildlist/read_text.h"
#include "host/host.h"
#include "shell/console.h"
#include "test_util.h"
#include "vp/reference.h"
#include "vp/source_archives.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace quarrion {
namespace {

using testing::Record;

// "rm" takes the last record of a name and folder, both compared byte for
// byte, and keeps the order of the others.
TEST(BuildListTest, RemoveTakesTheLastRecordOfANameAndFolder) {
  BuildList list;
  list.files = {Record("data", "Readme.txt", 10, "one"), Record("data\\tables", "x.tbl", 20),
                Record("data", "Readme.txt", 30, "two")};
  EXPECT_FALSE(RemoveFile(list, "readme.txt", "data"));
  EXPECT_FALSE(RemoveFile(list, "Readme.txt", "Data"));
  EXPECT_FALSE(RemoveFile(list, "Readme.txt", "data\\"));
  ASSERT_TRUE(RemoveFile(list, "Readme.txt", "data"));
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].path, "one");
  EXPECT_EQ(list[1].name(), "x.tbl");
}

const std::string kTwoEntries =
    "fighter.pof\r\nc:\\games\\data\\models\\fighter.pof\r\ndata\\models\r\n"
    "ship.pof\r\nc:\\packs\\pack.vp:ship.pof\r\ndata\\models\r\n";

// "name|path|folder" of every entry read, then "<n> lines from line <l>"
// for an entry the text ends within.
std::vector<std::string> ReadAll(const std::string& text) {
  std::istringstream in(text);
  ListReader reader(in);
  std::vector<std::string> entries;
  for (ListEntry e; reader.Next(&e);) entries.push_back(e.name + "|" + e.path + "|" + e.folder);
  if (reader.incomplete() > 0) {
    entries.push_back(std::to_string(reader.incomplete()) + " lines from line " +
                      std::to_string(reader.line()));
  }
  return entries;
}

TEST(ListFileTest, ThreeLinesPerRecordWrittenAndReadStrictlyNothingCreatedOnFailure) {
  BuildList list;
  list.files = {Record("data\\models", "fighter.pof", 0, "c:\\games\\data\\models\\fighter.pof"),
                Record("data\\models", "ship.pof", 0, "c:\\packs\\pack.vp:ship.pof")};
  std::string text;
  for (std::size_t i = 0; i < list.size(); ++i) WriteListEntry(&text, MakeListEntry(list, i));
  EXPECT_EQ(text, kTwoEntries);

  using Strings = std::vector<std::string>;
  const std::string first = "fighter.pof|c:\\games\\data\\models\\fighter.pof|data\\models";
  const std::string second = "ship.pof|c:\\packs\\pack.vp:ship.pof|data\\models";
  std::string lf = text;  // plain line feeds read the same
  for (std::size_t p; (p = lf.find("\r\n")) != std::string::npos;) lf.erase(p, 1);
  const struct {
    std::string text;
    Strings read;
  } rows[] = {
      {text, {first, second}},
      {lf, {first, second}},
      {text.substr(0, text.size() - 2), {first, second}},  // no line end after the last line
      {"\xEF\xBB\xBF" + text, {first, second}},            // a UTF-8 byte order mark
      {text + "\r\n \r\n\t\r\n\r\n", {first, second}},     // blank lines at the end
      {text + "stray\r\n", {first, second, "1 lines from line 7"}},
      {text + "stray\r\n\r\n", {first, second, "2 lines from line 7"}},
      // A blank line shifts every line after it; blanks, a # and long lines stay.
      {"a\r\n\r\nb\r\nc\r\n", {"a||b", "1 lines from line 4"}},
      {"\r\n\r\n\r\nx\r\ny\r\nz", {"||", "x|y|z"}},
      {" # a \r\n" + std::string(5000, 'p') + "\r\ndata \r\n",
       {" # a |" + std::string(5000, 'p') + "|data "}},
  };
  for (const auto& row : rows) EXPECT_EQ(ReadAll(row.text), row.read) << row.text.substr(0, 80);

  // Opening never creates a file; a failed write leaves none.
  testing::TempDir dir;
  std::ifstream in;
  Status why;
  EXPECT_FALSE((why = OpenListFile(dir.Join("missing.cfg"), &in)).ok());
  EXPECT_FALSE((why = OpenListFile(dir.path(), &in)).ok());  // a folder
  ASSERT_TRUE((why = WriteListFile(list, dir.Join("out.lst"))).ok());
  EXPECT_EQ(testing::ReadFile(dir.Join("out.lst")), kTwoEntries);
  EXPECT_FALSE((why = WriteListFile(list, dir.Join("no/such/out.lst"))).ok());
  // A line end in any field would put the lines out of step.
  for (const FileRecord& r :
       {Record("cut\nhere", "x.tbl", 0, "x"), Record("data", "x\r.tbl", 0, "x"),
        Record("data", "x.tbl", 0, "cut\rhere")}) {
    BuildList broken = list;
    broken.files.push_back(r);
    EXPECT_EQ(WriteListFile(broken, dir.Join("broken.lst")).code, Code::kNotPlainName);
  }
  // Nothing was created but out.lst.
  EXPECT_EQ(testing::ListTree(dir.path()), std::vector<std::string>{"out.lst"});
}

using Separators = Pattern::Separators;

bool Match(std::string_view pattern, std::string_view subject,
           Separators separators = Separators::kNotMatched) {
  Pattern p;
  EXPECT_TRUE(Pattern::Compile(pattern, separators, &p).ok()) << pattern;
  return p.Matches(subject);
}

TEST(PatternTest, WildcardsSetsAndLetterCase) {
  EXPECT_TRUE(Match("*.bak", "ships.tbl.BAK"));
  EXPECT_FALSE(Match("*.bak", "ships.bak.tbl"));
  EXPECT_TRUE(Match("Thumbs.db", "thumbs.DB"));
  EXPECT_TRUE(Match("?.pof", "a.pof"));
  EXPECT_FALSE(Match("?.pof", "ab.pof"));
  EXPECT_TRUE(Match("*a*b*c", "xxaxxbxxbxxc"));
  EXPECT_FALSE(Match("*a*b*c", "xxaxxbxxbxx"));
  EXPECT_TRUE(Match("[a-c]*", "Boat"));
  EXPECT_FALSE(Match("[!a-c]*", "boat"));
  EXPECT_TRUE(Match("[^a-c]*", "dock"));
  EXPECT_TRUE(Match("[]x]", "]"));
  EXPECT_TRUE(Match("**", ""));
  EXPECT_FALSE(Match("x", ""));
}

// A slash in a pattern is the backslash between folders, as typed on most
// hosts.
TEST(PatternTest, BackslashesAreCrossedOnlyWhereAsked) {
  EXPECT_TRUE(Match("maps\\old\\*", "maps\\old\\a.map"));
  EXPECT_TRUE(Match("maps/old/*", "maps\\old\\a.map"));
  EXPECT_FALSE(Match("maps\\*", "maps\\old\\a.map"));
  EXPECT_FALSE(Match("maps/*", "maps\\old\\a.map"));
  EXPECT_FALSE(Match("maps?old", "maps\\old"));
  EXPECT_TRUE(Match("maps[/]old", "maps\\old", Separators::kMatched));
  EXPECT_TRUE(Match("data\\*.pof", "data\\models\\heron.pof", Separators::kMatched));
  EXPECT_TRUE(Match("DATA/*/heron.pof", "data\\models\\heron.pof", Separators::kMatched));
  EXPECT_TRUE(Match("*heron*", "data\\models\\heron.pof", Separators::kMatched));
  for (const char* text : {"maps\\*", "maps/old"}) {
    Pattern p;
    ASSERT_TRUE(Pattern::Compile(text, Separators::kNotMatched, &p).ok());
    EXPECT_TRUE(p.HasSeparator()) << text;
    EXPECT_EQ(p.text(), text);  // named in messages as typed
  }
}

TEST(PatternTest, MalformedPatternsAreRefusedNamingThem) {
  Pattern p;
  Status s = Pattern::Compile("*.[ch", Separators::kNotMatched, &p);
  EXPECT_EQ(s.code, Code::kBadPattern);
  EXPECT_NE(s.Message().find("\"*.[ch\""), std::string::npos) << s.Message();
  EXPECT_EQ(Pattern::Compile("", Separators::kNotMatched, &p).code, Code::kBadPattern);
}

TEST(ReadTextTest, WordThenLineDropsOneCarriageReturnAndNeverCuts) {
  const std::string big(100000, 'x');
  std::istringstream in("im c:\\games\\x data\r\n\r\r\n" + big + " " + big + "\nlast\r");
  std::string word, line;
  ReadWord(in, word);
  ReadLine(in, line);
  EXPECT_EQ(word + "|" + line, "im| c:\\games\\x data");
  ReadLine(in, line);
  EXPECT_EQ(line, "\r");  // only the one before the line feed
  ReadWord(in, word);
  ReadLine(in, line);
  EXPECT_EQ(word + "|" + line, big + "| " + big);
  ASSERT_FALSE(in.fail());
  // A last line needs no line feed; after it, the stream fails.
  ReadLine(in, line);
  EXPECT_EQ(line, "last");
  EXPECT_FALSE(in.fail());
  ReadLine(in, line);
  EXPECT_EQ(line, "");
  EXPECT_TRUE(in.fail());
  // Blanks up to the end of input give no word, and clear the old one.
  std::istringstream blanks("  \n\t ");
  word = "old";
  EXPECT_FALSE(ReadWord(blanks, word));
  EXPECT_EQ(word, "");
}

using testing::TempDir;
using testing::WriteFile;

// ship.pof twice (data\a first: 3 bytes, time 1111; data\b: entry 5), then
// "cut.tbl" whose data run past the end.
std::string SourceArchive() {
  testing::ArchiveBuilder b;
  b.Folder("data").Folder("a").File("ship.pof", "abc", 1111).Up().Folder("b");
  b.File("ship.pof", "defg", 2222).Add(testing::Entry(16, 400, "cut.tbl", 3333));
  return b.Bytes();
}

// Times outside 32 bits are clamped, not wrapped.
TEST(AddFileTest, DiskFileKeepsItsArgumentsVerbatimAndClampsItsTime) {
  TempDir dir;
  BuildList list;
  const std::string path = dir.Join("ships.tbl");
  WriteFile(path, "12345");
  for (std::int64_t time :
       {std::int64_t{1234567890}, std::int64_t{5000000000}, std::int64_t{-100}}) {
    testing::SetMTime(path, time);
    ASSERT_TRUE(AddFile(list, std::string(31, 'x'), path, "data\\tables\\").ok());
  }
  EXPECT_EQ(list[0].path, path);
  EXPECT_EQ(list[0].folder, "data\\tables\\");
  EXPECT_EQ(list[0].name(), std::string(31, 'x'));
  EXPECT_EQ(list[0].entry.size, 5);
  EXPECT_EQ(list[0].entry.timestamp, 1234567890);
  EXPECT_EQ(list[1].entry.timestamp, 0x7fffffff);
  EXPECT_EQ(list[2].entry.timestamp, 0);
}

TEST(AddFileTest, EveryRefusalLeavesTheListAloneWithItsCode) {
  TempDir dir;
  const std::string archive = dir.Join("pack.vp");
  WriteFile(archive, SourceArchive());
  WriteFile(dir.Join("text.vp"), "just some text, no archive");
  auto in = [&archive](const std::string& inner) { return FileSource::Archived(archive, inner); };
  const std::tuple<std::string, FileSource, Code> cases[] = {
      {"x", FileSource::Disk(dir.Join("missing.tbl")), Code::kNotFound},
      {"x", FileSource::Disk(dir.path()), Code::kNotRegular},
      {std::string(32, 'n'), in("ship.pof"), Code::kNameTooLong},
      {"a:b", in("ship.pof"), Code::kNotPlainName},
      {"ship.pof", FileSource::Archived(dir.Join("gone.vp"), "ship.pof"), Code::kNotFound},
      {"ship.pof", FileSource::Archived(dir.Join("text.vp"), "ship.pof"), Code::kNotVpArchive},
      {"ship", in("ship"), Code::kNoSuchEntry},
      {"ship.pof", in("data\\c\\ship.pof"), Code::kNoSuchEntry},
      // A folder is never a file, by name or by path.
      {"b", in("b"), Code::kNoSuchEntry},
      {"a", in("data\\a"), Code::kNoSuchEntry},
      // What -verify reports is never copied.
      {"cut.tbl", in("cut.tbl"), Code::kBrokenEntry},
  };
  SourceArchives archives;
  BuildList list;
  for (const auto& [name, source, code] : cases) {
    for (SourceArchives* cache : {static_cast<SourceArchives*>(nullptr), &archives}) {
      SCOPED_TRACE(source.Text() + (cache ? ", cached" : ""));
      Status why = AddFile(list, name, source, "data", cache);
      EXPECT_EQ(why.code, code);
      EXPECT_EQ(why.file, source.Text()) << why.Message();
      ASSERT_EQ(list.size(), 0u);
    }
  }
}

// The inner name is looked up without regard to case: a bare name takes the
// first file of that name and tells how many there are, a path exactly its
// file. The record keeps its own name and the entry it found. Only the last
// colon ends the archive's path (a folder may hold one; on Windows the
// drive's colon comes first).
TEST(AddFileTest, ReferenceTakesTheFileItsInnerNameNames) {
  TempDir dir;
#if defined(_WIN32)
  const std::string archive = dir.Join("pack.vp");
#else
  const std::string archive = dir.Join("a:b/pack.vp");
#endif
  WriteFile(archive, SourceArchive());
  struct Case {
    std::string name, inner;
    std::int32_t size, time;
    std::int64_t entry;
    std::size_t sameName;
  };
  const Case cases[] = {{"ship.pof", "SHIP.pof", 3, 1111, 2, 2},
                        {"renamed.pof", "DATA\\B\\Ship.POF", 4, 2222, 5, 0}};
  SourceArchives archives;
  for (const Case& c : cases) {
    for (SourceArchives* cache : {static_cast<SourceArchives*>(nullptr), &archives}) {
      SCOPED_TRACE(c.inner);
      BuildList list;
      SourceNotes notes;
      Status why =
          AddFile(list, c.name, FileSource::Archived(archive, c.inner), "data\\x", cache, &notes);
      ASSERT_TRUE(why.ok()) << why.Message();
      const FileRecord& r = list[0];
      EXPECT_EQ(r.name(), c.name);
      EXPECT_EQ(r.entry.size, c.size);
      EXPECT_EQ(r.entry.timestamp, c.time);
      EXPECT_EQ(r.source, FileRecord::Source::kArchive);
      EXPECT_EQ(r.path, archive + ":" + c.inner);
      EXPECT_EQ(r.sourceArchive, archive);
      EXPECT_EQ(r.sourceEntry, c.entry);
      EXPECT_EQ(notes.sameName, c.sameName);
      EXPECT_EQ(notes.taken, c.sameName > 1 ? "data\\a\\ship.pof" : "");
    }
  }
}

// A path line names an archive when it holds ".vp:" in any letter case, or
// when what comes before its last colon is a VP archive; -vppath moves the
// archive's file name into its folder and keeps the inner path whole.
TEST(AddFileTest, PathLinesThatNameArchives) {
  TempDir dir;
  WriteFile(dir.Join("pack.dat"), SourceArchive());
  WriteFile(dir.Join("text.dat"), "not an archive");
  const std::string moved = dir.path() + "\\";
  const std::string folder = dir.path();
  struct Case {
    std::string line;
    const std::string* moveTo;
    std::string source;  // archive|inner, "" for none
  };
  const Case cases[] = {
      {"c:\\old\\pack.vp:ship.pof", nullptr, "c:\\old\\pack.vp|ship.pof"},
      {"PACK.VP:data\\maps\\a.pof", nullptr, "PACK.VP|data\\maps\\a.pof"},
      {dir.Join("pack.dat") + ":data\\x.tbl", nullptr, dir.Join("pack.dat") + "|data\\x.tbl"},
      {dir.Join("text.dat") + ":x", nullptr, ""},
      {dir.Join("none.dat") + ":x", nullptr, ""},
      {dir.Join("a.tbl"), nullptr, ""},
      {"c:\\games\\data\\a.tbl", nullptr, ""},
      {"c:\\old\\pack.vp:data\\maps\\ship.pof", &folder, moved + "pack.vp|data\\maps\\ship.pof"},
      {"/old/pack.vp:ship.pof", &folder, moved + "pack.vp|ship.pof"},
      {"d:\\elsewhere\\pack.dat:x", &folder, moved + "pack.dat|x"},
  };
  SourceArchives archives;
  for (const Case& c : cases) {
    const std::optional<FileSource> source = ArchiveSourceOf(c.line, archives, c.moveTo);
    EXPECT_EQ(source ? source->path + "|" + source->inner : "", c.source) << c.line;
  }
  for (const char* to : {"d:\\new\\", "d:\\new"}) {
    EXPECT_EQ(MoveVpArchive("c:\\old\\pack.vp", to), "d:\\new\\pack.vp");
  }
}

#if !defined(_WIN32)
// A file whose permissions refuse reading is refused when it is added (its
// status tells; it is not opened): the import skips it with a warning and
// packs the readable one beside it. That takes an unprivileged user.
TEST(AddFileTest, FileThatMayNotBeReadIsSkippedWhenAdded) {
  TempDir dir;
  const std::string top = dir.Join("mod");
  WriteFile(top + "/open.tbl", "open");
  WriteFile(top + "/locked.tbl", "locked");
  ASSERT_EQ(::chmod((top + "/locked.tbl").c_str(), 0), 0);
  const std::string out = dir.Join("out.vp");
  const testing::RunResult r =
      testing::RunQuarrionUnprivileged({"-dir", top, "-o", out}, dir.path());
  if (r.status == -1) GTEST_SKIP() << r.err;
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "quarrion: warning: " + top + "/locked.tbl: permission denied, skipped\n");
  EXPECT_NE(testing::ReadFile(out).find("open"), std::string::npos);
}
#endif

using Strings = std::vector<std::string>;

Strings Sorted(Strings v) {
  std::sort(v.begin(), v.end());
  return v;
}

// The subfolders of `dir` in the host's listing order.
Strings Subfolders(const std::string& dir) {
  host::FolderLister lister;
  std::vector<host::FolderEntry> entries;
  EXPECT_TRUE(lister.List(dir, &entries).ok());
  Strings names;
  for (const host::FolderEntry& e : entries) {
    if (e.info.kind == host::FileKind::kFolder) names.push_back(e.name);
  }
  return names;
}

class DirImportTest : public ::testing::Test {
 protected:
  // Imports `top` afresh and keeps what was printed.
  bool Import(const std::string& top) {
    list_ = BuildList{};
    out_.str("");
    warn_.str("");
    stats_ = ImportStats{};
    std::istringstream in;
    Console console{in, out_, warn_};
    ConsoleWarnings warnings(console);
    ImportDisplay display(console);
    why_ = ImportDataDirectory(list_, top, display, warnings, &stats_);
    EXPECT_EQ(warnings.count(), stats_.skipped);
    return why_.ok();
  }

  // "folder|name" of every record, in list order.
  Strings Records() const {
    Strings r;
    for (const FileRecord& f : list_.files) r.push_back(f.folder + "|" + std::string(f.name()));
    return r;
  }

  static Strings Lines(const std::ostringstream& text) {
    Strings lines;
    std::istringstream in(text.str());
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  TempDir dir_;
  std::string top_ = dir_.Join("mod");
  BuildList list_;
  std::ostringstream out_;
  std::ostringstream warn_;
  ImportStats stats_;
  Status why_;
};

TEST_F(DirImportTest, FilesOfAFolderComeBeforeItsSubfoldersDepthFirst) {
  WriteFile(top_ + "/a.tbl", "aa");
  WriteFile(top_ + "/maps/c.pof", "ccc");
  WriteFile(top_ + "/maps/deep/d.pof", "d");
  WriteFile(top_ + "/models/e.pof", "e");
  std::filesystem::create_directories(top_ + "/empty");
  // Subfolders go in the host's listing order. Names are joined to the top
  // with the separator it was typed with (on Windows the backslash); after
  // a separator at its end, with none.
  for (const auto& [base, sep] :
       {std::pair{top_, testing::kBelow}, std::pair{top_ + "\\", std::string("\\")}}) {
    SCOPED_TRACE(base);
    ASSERT_TRUE(Import(base)) << why_.Message();
    const std::string below = base.back() == '\\' ? base : base + sep;
    Strings records{"data|a.tbl"};
    Strings announced{"Adding directory: " + base};
    for (const std::string& sub : Subfolders(top_)) {
      announced.push_back("Adding directory: " + below + sub);
      if (sub == "maps") {
        records.insert(records.end(), {"data\\maps|c.pof", "data\\maps\\deep|d.pof"});
        announced.push_back("Adding directory: " + below + "maps" + sep + "deep");
      } else if (sub == "models") {
        records.push_back("data\\models|e.pof");
      }
    }
    ASSERT_EQ(Records(), records);
    EXPECT_EQ(Lines(out_), announced);
    EXPECT_EQ(warn_.str(), "");
    EXPECT_EQ(stats_.added, 4);
    EXPECT_EQ(list_[0].path, below + "a.tbl");
  }
}

TEST_F(DirImportTest, CvsFoldersAreLeftOutSilentlyButCvsFilesAreAdded) {
  WriteFile(top_ + "/CVS/Entries", "x");
  WriteFile(top_ + "/maps/CVS/Root", "x");
  WriteFile(top_ + "/maps/m.map", "m");
  // Each beside no "CVS", so that they stay apart where names ignore case.
  WriteFile(top_ + "/models/cvs/lower.txt", "l");
  WriteFile(top_ + "/tables/CVS", "a plain file");
  ASSERT_TRUE(Import(top_));
  EXPECT_EQ(Sorted(Records()),
            (Strings{"data\\maps|m.map", "data\\models\\cvs|lower.txt", "data\\tables|CVS"}));
  EXPECT_EQ(warn_.str(), "");
  EXPECT_EQ(out_.str().find("CVS"), std::string::npos);
  EXPECT_EQ(stats_.skipped, 0);
}

// FIFOs, symbolic links and unreadable folders as POSIX hosts have them; a
// link back to a folder being walked ends the walk there.
#if !defined(_WIN32)
TEST_F(DirImportTest, LinkLoopsLongFolderNamesAndLockedFoldersAreSkippedWithAWarningEach) {
  WriteFile(top_ + "/a/f.txt", "f");
  WriteFile(dir_.Join("elsewhere/g.txt"), "g");
  ::symlink("..", (top_ + "/a/up").c_str());                         // to the top
  ::symlink(".", (top_ + "/a/self").c_str());                        // to itself
  ::symlink(dir_.Join("elsewhere").c_str(), (top_ + "/b").c_str());  // a plain link: followed
  const std::string longFolder(32, 'f');
  WriteFile(top_ + "/" + longFolder + "/inside/x.tbl", "x");
  WriteFile(top_ + "/" + std::string(31, 'f') + "/y.tbl", "y");
  WriteFile(top_ + "/locked/secret.txt", "s");
  ::chmod((top_ + "/locked").c_str(), 0);
  const bool privileged = ::access((top_ + "/locked").c_str(), R_OK) == 0;
  ASSERT_TRUE(Import(top_));

  Strings records{"data\\" + std::string(31, 'f') + "|y.tbl", "data\\a|f.txt", "data\\b|g.txt"};
  Strings skipped{"a/self", "a/up", longFolder};
  if (privileged) {  // every folder is readable
    records.push_back("data\\locked|secret.txt");
  } else {
    skipped.push_back("locked");
  }
  EXPECT_EQ(Sorted(Records()), Sorted(records));
  Strings warned;  // each up to the path it names
  for (const std::string& w : Lines(warn_))
    warned.push_back(w.substr(0, w.find(": ", 19 + top_.size())));
  for (std::string& s : skipped) s = "quarrion: warning: " + top_ + "/" + s;
  EXPECT_EQ(Sorted(warned), Sorted(skipped));
  EXPECT_EQ(out_.str().find(longFolder), std::string::npos);  // not entered
}

// Names a POSIX folder may hold but an archive may not: each file and folder
// is skipped with a warning saying why, and the rest is added.
TEST_F(DirImportTest, NamesThatAreNotPlainAreSkippedAndTheRestIsWritten) {
  WriteFile(top_ + "/fine.tbl", "fine");
  WriteFile(top_ + "/back\\slash.txt", "b");
  WriteFile(top_ + "/c:olon.txt", "c");
  WriteFile(top_ + "/x:y/inside.tbl", "i");
  WriteFile(top_ + "/sub/bell\a", "a");
  WriteFile(top_ + "/..hidden/x.tbl", "h");  // would read back as an up entry
  WriteFile(top_ + "/..x", "a file may");
  ASSERT_TRUE(Import(top_));
  EXPECT_EQ(Sorted(Records()), (Strings{"data|..x", "data|fine.tbl"}));
  // Joined with the slash the top was typed with; control characters shown
  // as '?', so that the name cannot drive the terminal.
  const std::string w = "quarrion: warning: " + top_ + "/";
  EXPECT_EQ(Sorted(Lines(warn_)),
            (Strings{w + "..hidden: folder name \"..hidden\" begins with \"..\", skipped",
                     w + "back\\slash.txt: name \"back\\slash.txt\" holds a backslash, skipped",
                     w + "c:olon.txt: name \"c:olon.txt\" holds a colon, skipped",
                     w + "sub/bell?: name \"bell?\" holds a control character, skipped",
                     w + "x:y: folder name \"x:y\" holds a colon, skipped"}));
}
#endif  // !defined(_WIN32)

// A folder large enough for its statuses to be read by two threads: every
// record still gets its own file's size, links count as what they lead to,
// and subfolders and what cannot be added are told apart as in a small one.
TEST_F(DirImportTest, LargeFolderGivesEveryEntryItsOwnStatus) {
  Strings want;
  for (int i = 0; i < 300; ++i) {
    const std::string name = "file" + std::to_string(i);
    WriteFile(top_ + "/" + name, std::string(static_cast<std::size_t>(i), 'x'));
    want.push_back(name + "=" + std::to_string(i));
  }
  for (int i = 0; i < 10; ++i) {
    WriteFile(top_ + "/sub" + std::to_string(i) + "/in.tbl", "in");
    want.push_back("in.tbl=2");
  }
  int skipped = 0;
#if !defined(_WIN32)
  ::symlink("file250", (top_ + "/link").c_str());
  want.push_back("link=250");
  ::symlink("nowhere", (top_ + "/broken").c_str());
  skipped = 1;
#endif
  ASSERT_TRUE(Import(top_));
  Strings got;
  for (const FileRecord& f : list_.files)
    got.push_back(std::string(f.name()) + "=" + std::to_string(f.entry.size));
  EXPECT_EQ(Sorted(got), Sorted(want));
  EXPECT_EQ(stats_.skipped, skipped) << warn_.str();
}

// A missing top: see the batch tests.
TEST_F(DirImportTest, TopThatIsNoFolderIsAnErrorAndAddsNothing) {
  WriteFile(top_, "a file");
  ASSERT_FALSE(Import(top_));
  EXPECT_EQ(why_.Message(), top_ + ": not a folder");
  EXPECT_EQ(out_.str(), "");
}

}  // namespace
}  // namespace quarrion
