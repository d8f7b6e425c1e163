// The build list and what fills it: list files, patterns, adding files, importing a directory.
#include "buildlist/build_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "base/pattern.h"
#include "base/read_text.h"
#include "buildlist/add_file.h"
#include "buildlist/dir_import.h"
#include "buildlist/list_file.h"
#include "host/host.h"
#include "shell/console.h"
#include "test_util.h"
#include "vp/reference.h"
#include "vp/source_archives.h"

#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace quarrion {
namespace {

using testing::Record;
using testing::TempDir;
using testing::WriteFile;
using Strings = std::vector<std::string>;

// "rm" takes the last record of a name and folder (compared byte for byte), keeping the order.
TEST(BuildListTest, RemoveTakesTheLastRecordOfANameAndFolder) {
  BuildList list;
  list.files = {Record("data", "Readme.txt", 10, "one"), Record("data\\tables", "x.tbl", 20),
                Record("data", "Readme.txt", 30, "two")};
  EXPECT_FALSE(RemoveFile(list, "readme.txt", "data") || RemoveFile(list, "Readme.txt", "Data"));
  ASSERT_TRUE(RemoveFile(list, "Readme.txt", "data"));
  EXPECT_EQ(list[0].path + "|" + std::string(list[1].name()) + "|" + std::to_string(list.size()),
            "one|x.tbl|2");
}

// "name|path|folder" of every entry read, then "<n> lines from line <l>" for an entry cut short.
Strings ReadAll(const std::string& text) {
  std::istringstream in(text);
  ListReader reader(in);
  Strings entries;
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
  const std::string text =  // what WriteListFile writes for `list`
      "fighter.pof\r\nc:\\games\\data\\models\\fighter.pof\r\ndata\\models\r\n"
      "ship.pof\r\nc:\\packs\\pack.vp:ship.pof\r\ndata\\models\r\n";
  const std::string first = "fighter.pof|c:\\games\\data\\models\\fighter.pof|data\\models";
  const std::string second = "ship.pof|c:\\packs\\pack.vp:ship.pof|data\\models";
  const std::pair<std::string, Strings> rows[] = {
      {text, {first, second}},
      {"\xEF\xBB\xBF" + text, {first, second}},         // a UTF-8 byte order mark
      {text + "\r\n \r\n\t\r\n\r\n", {first, second}},  // blank lines at the end
      {text + "stray\r\n", {first, second, "1 lines from line 7"}},
      {text + "stray\r\n\r\n", {first, second, "2 lines from line 7"}},
      // A blank line shifts every line after it; blanks, a # and long lines stay.
      {"a\r\n\r\nb\r\nc\r\n", {"a||b", "1 lines from line 4"}},
      {"\r\n\r\n\r\nx\r\ny\r\nz", {"||", "x|y|z"}},
      {" # a \r\n" + std::string(5000, 'p') + "\r\ndata \r\n",
       {" # a |" + std::string(5000, 'p') + "|data "}},
  };
  for (const auto& [in, read] : rows) EXPECT_EQ(ReadAll(in), read) << in.substr(0, 80);

  // Opening never creates a file; a failed write leaves none.
  TempDir dir;
  std::ifstream in;
  EXPECT_FALSE(OpenListFile(dir.Join("missing.cfg"), &in).ok());
  EXPECT_FALSE(OpenListFile(dir.path(), &in).ok());  // a folder
  ASSERT_TRUE(WriteListFile(list, dir.Join("out.lst")).ok());
  EXPECT_EQ(testing::ReadFile(dir.Join("out.lst")), text);
  EXPECT_FALSE(WriteListFile(list, dir.Join("no/such/out.lst")).ok());
  // A line end in any field would put the lines out of step.
  for (const FileRecord& r :
       {Record("cut\nhere", "x.tbl", 0, "x"), Record("data", "x\r.tbl", 0, "x"),
        Record("data", "x.tbl", 0, "cut\rhere")}) {
    BuildList broken = list;
    broken.files.push_back(r);
    EXPECT_EQ(WriteListFile(broken, dir.Join("broken.lst")).code, Code::kNotPlainName);
  }
  EXPECT_EQ(testing::ListTree(dir.path()), Strings{"out.lst"});
}

// Wildcards, sets, letter case; '/' is the backslash between folders, crossed only where asked.
TEST(PatternTest, MatchesByWildcardsSetsAndFolders) {
  using Separators = Pattern::Separators;
  const Separators no = Separators::kNotMatched, yes = Separators::kMatched;
  const struct {
    std::string pattern, subject;
    bool match;
    Separators separators = Separators::kNotMatched;
  } rows[] = {
      {"*.bak", "ships.tbl.BAK", true},
      {"*.bak", "ships.bak.tbl", false},
      {"Thumbs.db", "thumbs.DB", true},
      {"?.pof", "a.pof", true},
      {"?.pof", "ab.pof", false},
      {"*a*b*c", "xxaxxbxxbxxc", true},
      {"*a*b*c", "xxaxxbxxbxx", false},
      {"[a-c]*", "Boat", true},
      {"[!a-c]*", "boat", false},
      {"[^a-c]*", "dock", true},
      {"[]x]", "]", true},
      {"**", "", true},
      {"x", "", false},
      {"maps\\old\\*", "maps\\old\\a.map", true},
      {"maps/old/*", "maps\\old\\a.map", true},
      {"maps\\*", "maps\\old\\a.map", false},
      {"maps?old", "maps\\old", false},
      {"maps[/]old", "maps\\old", true, yes},
      {"data\\*.pof", "data\\models\\heron.pof", true, yes},
      {"DATA/*/heron.pof", "data\\models\\heron.pof", true, yes},
      {"*heron*", "data\\models\\heron.pof", true, yes},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.pattern + " on " + row.subject);
    Pattern p;
    ASSERT_TRUE(Pattern::Compile(row.pattern, row.separators, &p).ok());
    EXPECT_EQ(p.Matches(row.subject), row.match);
    EXPECT_EQ(p.text(), row.pattern);  // named in messages as typed
  }
  Pattern p;
  const Status s = Pattern::Compile("*.[ch", no, &p);
  EXPECT_EQ(s.code, Code::kBadPattern);
  EXPECT_NE(s.Message().find("\"*.[ch\""), std::string::npos) << s.Message();
  EXPECT_EQ(Pattern::Compile("", no, &p).code, Code::kBadPattern);
}

// A 100,000-byte word or line is never cut; only the one carriage return before a line feed goes.
TEST(ReadTextTest, WordThenLineDropsOneCarriageReturnAndNeverCuts) {
  const std::string big(100000, 'x');
  std::istringstream in(big + " " + big + "\r\r\n");
  std::string word, line;
  ReadWord(in, word);
  ReadLine(in, line);
  EXPECT_EQ(word + "|" + line, big + "| " + big + "\r");
}

// ship.pof in data\a (3 bytes, time 1111) and data\b (entry 5), then cut.tbl cut short.
std::string SourceArchive() {
  testing::ArchiveBuilder b;
  b.Folder("data").Folder("a").File("ship.pof", "abc", 1111).Up().Folder("b");
  b.File("ship.pof", "defg", 2222).Add(testing::Entry(16, 400, "cut.tbl", 3333));
  return b.Bytes();
}

// A disk file is added verbatim, its time clamped (not wrapped); a refusal names its source.
TEST(AddFileTest, AddedVerbatimOrRefusedWithItsCode) {
  TempDir dir;
  const std::string archive = dir.Join("pack.vp"), path = dir.Join("ships.tbl");
  WriteFile(archive, SourceArchive());
  WriteFile(dir.Join("text.vp"), "just some text, no archive");
  WriteFile(path, "12345");
  auto in = [&archive](const std::string& inner) { return FileSource::Archived(archive, inner); };
  const std::string n31(31, 'x');
  struct Case {
    std::string name;
    FileSource source;
    Code code;
    std::int64_t mtime = 0;  // set on ships.tbl first when not 0
    std::int32_t time = 0;   // of the record
  };
  const Case cases[] = {
      {n31, FileSource::Disk(path), Code::kOk, 1234567890, 1234567890},
      {n31, FileSource::Disk(path), Code::kOk, 5000000000, 0x7fffffff},
      {n31, FileSource::Disk(path), Code::kOk, -100, 0},
      {"x", FileSource::Disk(dir.Join("missing.tbl")), Code::kNotFound},
      {"x", FileSource::Disk(dir.path()), Code::kNotRegular},
      {std::string(32, 'n'), in("ship.pof"), Code::kNameTooLong},
      {"ship.pof", FileSource::Archived(dir.Join("gone.vp"), "ship.pof"), Code::kNotFound},
      {"ship.pof", FileSource::Archived(dir.Join("text.vp"), "ship.pof"), Code::kNotVpArchive},
      {"b", in("b"), Code::kNoSuchEntry},              // a folder is never a file, by name
      {"a", in("data\\a"), Code::kNoSuchEntry},        // or by path
      {"cut.tbl", in("cut.tbl"), Code::kBrokenEntry},  // what -verify reports is never copied
  };
  SourceArchives archives;
  for (const Case& c : cases) {
    for (SourceArchives* cache : {static_cast<SourceArchives*>(nullptr), &archives}) {
      SCOPED_TRACE(c.source.Text() + (cache ? ", cached" : ""));
      if (c.mtime != 0) testing::SetMTime(path, c.mtime);
      BuildList list;
      const Status why = AddFile(list, c.name, c.source, "data\\tables\\", cache);
      EXPECT_EQ(why.code, c.code);
      if (!why.ok()) {
        EXPECT_EQ(why.file, c.source.Text()) << why.Message();
        EXPECT_EQ(list.size(), 0u);
        continue;
      }
      ASSERT_EQ(list.size(), 1u);
      EXPECT_EQ(list[0].path + "|" + list[0].folder + "|" + std::string(list[0].name()),
                path + "|data\\tables\\|" + n31);
      EXPECT_EQ(list[0].entry.size, 5);
      EXPECT_EQ(list[0].entry.timestamp, c.time);
    }
  }
}

// A path line names an archive by ".vp:" in any case or by a VP archive before its last colon.
TEST(AddFileTest, PathLinesThatNameArchives) {
  TempDir dir;
  WriteFile(dir.Join("pack.dat"), SourceArchive());
  WriteFile(dir.Join("text.dat"), "not an archive");
  const std::string moved = dir.path() + "\\", folder = dir.path();
  const struct {
    std::string line, source;  // source: archive|inner, "" for none
    const std::string* moveTo = nullptr;
  } cases[] = {
      {"c:\\o:ld\\pack.vp:ship.pof", "c:\\o:ld\\pack.vp|ship.pof"},  // only the last colon counts
      {"PACK.VP:data\\maps\\a.pof", "PACK.VP|data\\maps\\a.pof"},
      {dir.Join("pack.dat") + ":data\\x.tbl", dir.Join("pack.dat") + "|data\\x.tbl"},
      {dir.Join("text.dat") + ":x", ""},
      {"c:\\games\\data\\a.tbl", ""},
      {"/old/pack.vp:ship.pof", moved + "pack.vp|ship.pof", &folder},  // -vppath
      {"d:\\elsewhere\\pack.dat:x", moved + "pack.dat|x", &folder},
  };
  SourceArchives archives;
  for (const auto& c : cases) {
    const std::optional<FileSource> source = ArchiveSourceOf(c.line, archives, c.moveTo);
    EXPECT_EQ(source ? source->path + "|" + source->inner : "", c.source) << c.line;
  }
  for (const char* to : {"d:\\new\\", "d:\\new"}) {
    EXPECT_EQ(MoveVpArchive("c:\\old\\pack.vp", to), "d:\\new\\pack.vp");
  }
}

#if !defined(_WIN32)
// An unreadable file is refused by its status: skipped with a warning, the rest packed.
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

Strings Sorted(Strings v) {
  std::sort(v.begin(), v.end());
  return v;
}

Strings Lines(const std::ostringstream& text) {
  Strings lines;
  std::istringstream in(text.str());
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
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
  // Subfolders in listing order; paths joined with the top's separator, none after one at its end.
  for (const auto& [base, sep] :
       {std::pair{top_, testing::kBelow}, std::pair{top_ + "\\", std::string("\\")}}) {
    SCOPED_TRACE(base);
    ASSERT_TRUE(Import(base)) << why_.Message();
    const std::string below = base.back() == '\\' ? base : base + sep;
    Strings records{"data|a.tbl", "data\\maps|c.pof", "data\\maps\\deep|d.pof",
                    "data\\models|e.pof"};
    Strings announced{base, below + "maps", below + "maps" + sep + "deep", below + "models"};
    for (std::string& line : announced) line = "Adding directory: " + line;
    if (list_.size() > 1 && list_[1].name() == "e.pof") {  // models listed before maps
      std::rotate(records.begin() + 1, records.begin() + 3, records.end());
      std::rotate(announced.begin() + 1, announced.begin() + 3, announced.end());
    }
    ASSERT_EQ(Records(), records);
    EXPECT_EQ(Lines(out_), announced);
    EXPECT_EQ(warn_.str(), "");
    EXPECT_EQ(stats_.added, 4);
    EXPECT_EQ(list_[0].path, below + "a.tbl");
  }
}

// CVS folders are left out silently, files named CVS are not. Names an archive cannot hold, links
// back to a folder being walked and folders that cannot be listed are skipped with a warning.
TEST_F(DirImportTest, CvsFoldersLinkLoopsAndNamesThatAreNotPlainAreLeftOut) {
  WriteFile(top_ + "/CVS/Entries", "x");
  WriteFile(top_ + "/maps/CVS/Root", "x");
  WriteFile(top_ + "/maps/m.map", "m");
  // Each beside no "CVS", so that they stay apart where names ignore case.
  WriteFile(top_ + "/models/cvs/lower.txt", "l");
  WriteFile(top_ + "/tables/CVS", "a plain file");
  Strings records{"data\\maps|m.map", "data\\models\\cvs|lower.txt", "data\\tables|CVS"};
  Strings warnings;
#if !defined(_WIN32)
  const std::string f31(31, 'f'), f32(32, 'f');
  WriteFile(top_ + "/back\\slash.txt", "b");
  WriteFile(top_ + "/c:olon.txt", "c");
  WriteFile(top_ + "/x:y/inside.tbl", "i");
  WriteFile(top_ + "/sub/bell\a", "a");
  WriteFile(top_ + "/..hidden/x.tbl", "h");  // would read back as an up entry
  WriteFile(top_ + "/..x", "a file may");
  WriteFile(top_ + "/" + f32 + "/inside/x.tbl", "x");
  WriteFile(top_ + "/" + f31 + "/y.tbl", "y");
  WriteFile(top_ + "/a/f.txt", "f");
  WriteFile(dir_.Join("elsewhere/g.txt"), "g");
  ::symlink("..", (top_ + "/a/up").c_str());
  ::symlink(".", (top_ + "/a/self").c_str());
  ::symlink(dir_.Join("elsewhere").c_str(), (top_ + "/b").c_str());  // a plain link: followed
  WriteFile(top_ + "/locked/secret.txt", "s");
  ::chmod((top_ + "/locked").c_str(), 0);
  records.insert(records.end(), {"data|..x", "data\\" + f31 + "|y.tbl", "data\\a|f.txt",
                                 "data\\b|g.txt", "data\\locked|secret.txt"});
  // Joined with the slash the top was typed with; control characters shown as '?'.
  const std::string w = "quarrion: warning: " + top_ + "/", loop = ": leads back to a folder";
  warnings = {w + "..hidden: folder name \"..hidden\" begins with \"..\", skipped",
              w + f32 + ": folder name \"" + f32 + "\" is longer than 31 bytes, skipped",
              w + "a/self" + loop + " that is being imported, skipped",
              w + "a/up" + loop + " that is being imported, skipped",
              w + "back\\slash.txt: name \"back\\slash.txt\" holds a backslash, skipped",
              w + "c:olon.txt: name \"c:olon.txt\" holds a colon, skipped",
              w + "sub/bell?: name \"bell?\" holds a control character, skipped",
              w + "x:y: folder name \"x:y\" holds a colon, skipped"};
  if (::access((top_ + "/locked").c_str(), R_OK) != 0) {  // not privileged
    records.pop_back();
    warnings.push_back(w + "locked: permission denied, skipped");
  }
#endif
  ASSERT_TRUE(Import(top_));
  EXPECT_EQ(Sorted(Records()), Sorted(records));
  EXPECT_EQ(Sorted(Lines(warn_)), Sorted(warnings));
  EXPECT_EQ(out_.str().find("CVS"), std::string::npos);
  EXPECT_EQ(out_.str().find(std::string(32, 'f')), std::string::npos);  // not entered
}

// Statuses read by two threads: every record gets its own file's size, a link its target's.
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
