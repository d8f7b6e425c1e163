// The build list and its parts: removal, the list files, the order and
// layout of an archive, name patterns and the reading of typed text.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "buildlist/build_list.h"
#include "buildlist/list_file.h"
#include "buildlist/pattern.h"
#include "buildlist/read_text.h"
#include "pack/layout.h"
#include "test_util.h"

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

using testing::Record;
const std::string kTwoEntries =
    "fighter.pof\r\nc:\\games\\data\\models\\fighter.pof\r\ndata\\models\r\n"
    "ship.pof\r\nc:\\packs\\pack.vp:ship.pof\r\ndata\\models\r\n";

// "name|path|folder" of every entry read.
std::vector<std::string> ReadAll(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> entries;
  for (ListEntry e; ReadListEntry(in, e);)
    entries.push_back(e.name + "|" + e.path + "|" + e.folder);
  return entries;
}

TEST(ListFileTest, ThreeLinesPerRecordWrittenAndReadStrictlyNothingCreatedOnFailure) {
  BuildList list;
  list.files = {Record("data\\models", "fighter.pof", 0, "c:\\games\\data\\models\\fighter.pof"),
                Record("data\\models", "ship.pof", 0, "c:\\packs\\pack.vp:ship.pof")};
  std::string text;
  for (std::size_t i = 0; i < list.size(); ++i) WriteListEntry(&text, MakeListEntry(list, i));
  EXPECT_EQ(text, kTwoEntries);

  const std::vector<std::string> both = {
      "fighter.pof|c:\\games\\data\\models\\fighter.pof|data\\models",
      "ship.pof|c:\\packs\\pack.vp:ship.pof|data\\models"};
  EXPECT_EQ(ReadAll(text), both);
  std::string lf = text;  // plain line feeds read the same
  for (std::size_t p; (p = lf.find("\r\n")) != std::string::npos;) lf.erase(p, 1);
  EXPECT_EQ(ReadAll(lf), both);
  EXPECT_EQ(ReadAll(text + "stray\r\n"), both);
  // No line end after the last folder line: that entry is not used.
  EXPECT_EQ(ReadAll(text.substr(0, text.size() - 2)).size(), 1u);
  // A blank line shifts every line after it; blanks, a # and long lines stay.
  EXPECT_EQ(ReadAll("a\r\n\r\nb\r\nc\r\n")[0], "a||b");
  EXPECT_EQ(ReadAll(" # a \r\n" + std::string(5000, 'p') + "\r\ndata \r\n")[0],
            " # a |" + std::string(5000, 'p') + "|data ");

  // Opening never creates a file; a failed write leaves none.
  testing::TempDir dir;
  std::ifstream in;
  Status why;
  EXPECT_FALSE((why = OpenListFile(dir.Join("missing.cfg"), &in)).ok());
  EXPECT_FALSE((why = OpenListFile(dir.path(), &in)).ok());  // a folder
  ASSERT_TRUE((why = WriteListFile(list, dir.Join("out.lst"))).ok());
  EXPECT_EQ(testing::ReadFile(dir.Join("out.lst")), kTwoEntries);
  EXPECT_FALSE((why = WriteListFile(list, dir.Join("no/such/out.lst"))).ok());
  // Nothing was created but out.lst.
  EXPECT_EQ(testing::ListTree(dir.path()), std::vector<std::string>{"out.lst"});
}

using testing::Record;

// The selection sort the order is defined by, written out plainly (strings
// compare their bytes unsigned).
void ReferenceSort(std::vector<FileRecord>& files) {
  auto key = [](const FileRecord& r) { return std::pair(std::string_view(r.folder), r.name()); };
  for (std::size_t m = files.size(); m > 0; --m) {
    std::size_t b = 0;
    for (std::size_t j = 0; j < m; ++j) {
      if (key(files[b]) < key(files[j])) b = j;
    }
    std::swap(files[b], files[m - 1]);
  }
}

TEST(LayoutTest, OrderMatchesTheSelectionSortOnRandomLists) {
  // Few distinct folders and names, so that equal records are common; bytes
  // above 0x7f, blanks and upper case test the unsigned, case-sensitive order.
  const std::vector<std::string> folders = {
      "",           "data",          "data\\maps", "data\\maps x",
      "data\\Maps", "data\\maps\\x", "d\xe9ta",    "data\\m"};
  const std::vector<std::string> names = {"a", "B", "a.pof", "ab", "\xff", "A", "b b", ""};
  std::mt19937 rng(12345);
  for (int round = 0; round < 1000; ++round) {
    std::size_t n = (round % 50 == 0) ? 400 + rng() % 200 : rng() % 40;
    BuildList list;
    for (std::size_t i = 0; i < n; ++i) {
      list.files.push_back(Record(folders[rng() % folders.size()], names[rng() % names.size()], 1,
                                  std::to_string(i)));
    }
    std::vector<FileRecord> expected = list.files;
    ReferenceSort(expected);
    SortFiles(list);
    for (std::size_t i = 0; i < n; ++i) {
      ASSERT_EQ(list.files[i].path, expected[i].path) << "round " << round << " position " << i;
    }
  }
}

TEST(LayoutTest, RefusesFoldersTheDirectoryCannotHoldAndArchivesPastTwoGigabytes) {
  struct Case {
    std::string folder;
    Code code;
    std::string words;
  } const cases[] = {
      {"\\data", Code::kBadFolder, "has an empty component"},
      {"data\\", Code::kBadFolder, "has an empty component"},
      {"data\\" + std::string(32, 'x'), Code::kNameTooLong, "is longer than 31 bytes"},
      {"data\\..", Code::kBadFolder, "begins with \"..\""},  // it would read as an up entry
      {"data/maps", Code::kBadFolder, "the folder component \"data/maps\" holds a slash"},
  };
  for (const Case& c : cases) {
    BuildList list;
    list.files = {Record("data", "fine"), Record(c.folder, "x.pof")};
    const Status why = CheckLayout(list, LayoutTree(list));
    EXPECT_EQ(why.code, c.code) << c.folder;
    EXPECT_EQ(why.Message().rfind(c.folder + "\\x.pof: ", 0), 0u) << why.Message();
    EXPECT_NE(why.Message().find(c.words), std::string::npos) << why.Message();
  }
  BuildList fits;
  fits.files = {Record("data\\" + std::string(31, 'x') + "\\.x", "a")};
  EXPECT_TRUE(CheckLayout(fits, LayoutTree(fits)).ok());

  // Data ending exactly at 2^31-1 still fit; one byte more does not.
  BuildList list;
  list.files = {Record("data", "a", 0x40000000), Record("data", "b", 0x3fffffff - 16)};
  Layout layout = LayoutTree(list);
  EXPECT_TRUE(CheckLayout(list, layout).ok());
  EXPECT_EQ(layout.header.dirOffset, 0x7fffffff);

  list.files.push_back(Record("data", "c", 1));
  list.files.push_back(Record("data", "d", 5));
  layout = LayoutTree(list);
  const Status why = CheckLayout(list, layout);
  EXPECT_EQ(why.code, Code::kTooLarge);
  EXPECT_EQ(why.Message().rfind("data\\c: ", 0), 0u) << why.Message();
  EXPECT_EQ(layout.dataSize, 0x80000000LL - 16 + 5);
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

TEST(PatternTest, BackslashesAreCrossedOnlyWhereAsked) {
  EXPECT_TRUE(Match("maps\\old\\*", "maps\\old\\a.map"));
  EXPECT_FALSE(Match("maps\\*", "maps\\old\\a.map"));
  EXPECT_FALSE(Match("maps?old", "maps\\old"));
  EXPECT_TRUE(Match("data\\*.pof", "data\\models\\heron.pof", Separators::kMatched));
  EXPECT_TRUE(Match("*heron*", "data\\models\\heron.pof", Separators::kMatched));
  Pattern p;
  ASSERT_TRUE(Pattern::Compile("maps\\*", Separators::kNotMatched, &p).ok());
  EXPECT_TRUE(p.HasSeparator());
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
  // A last line without a line feed is read but leaves the stream failed.
  ReadLine(in, line);
  EXPECT_EQ(line, "last");
  EXPECT_TRUE(in.fail());
  // Blanks up to the end of input give no word, and clear the old one.
  std::istringstream blanks("  \n\t ");
  word = "old";
  EXPECT_FALSE(ReadWord(blanks, word));
  EXPECT_EQ(word, "");
}

}  // namespace
}  // namespace quarrion
