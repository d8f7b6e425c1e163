#include "buildlist/list_file.h"

#include <gtest/gtest.h>

#include <sstream>

#include "test_util.h"

namespace quarrion {
namespace {

FileRecord Record(const std::string& name, const std::string& path, const std::string& folder) {
  FileRecord r;
  EXPECT_TRUE(SetEntryName(&r.entry, name));
  r.path = path;
  r.folder = folder;
  return r;
}

const char kTwoEntries[] =
    "fighter.pof\r\nc:\\games\\starhold\\data\\models\\fighter.pof\r\ndata\\models\r\n"
    "ship.pof\r\nc:\\packs\\pack.vp:ship.pof\r\ndata\\models\r\n";

std::vector<ListEntry> ReadAll(const std::string& text) {
  std::istringstream in(text);
  std::vector<ListEntry> entries;
  ListEntry e;
  while (ReadListEntry(in, e)) entries.push_back(e);
  return entries;
}

TEST(ListFileTest, WritesThreeCrLfLinesPerRecordAndReadsThemBack) {
  BuildList list;
  list.files.push_back(
      Record("fighter.pof", "c:\\games\\starhold\\data\\models\\fighter.pof", "data\\models"));
  list.files.push_back(Record("ship.pof", "c:\\packs\\pack.vp:ship.pof", "data\\models"));
  std::string text;
  for (std::size_t i = 0; i < list.size(); ++i) WriteListEntry(&text, MakeListEntry(list, i));
  EXPECT_EQ(text, kTwoEntries);

  std::vector<ListEntry> back = ReadAll(text);
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back[1].name, "ship.pof");
  EXPECT_EQ(back[1].path, "c:\\packs\\pack.vp:ship.pof");
  EXPECT_EQ(back[1].folder, "data\\models");

  // Plain line feeds read the same.
  std::string lf = text;
  for (std::size_t p; (p = lf.find("\r\n")) != std::string::npos;) lf.erase(p, 1);
  back = ReadAll(lf);
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back[0].path, "c:\\games\\starhold\\data\\models\\fighter.pof");
}

TEST(ListFileTest, EntriesAreReadStrictlyThreeLinesAtATime) {
  std::string text = kTwoEntries;
  // No line end after the last folder line: the last entry is not used.
  EXPECT_EQ(ReadAll(text.substr(0, text.size() - 2)).size(), 1u);
  // A stray seventh line is ignored.
  EXPECT_EQ(ReadAll(text + "stray\r\n").size(), 2u);
  // A blank line shifts every line after it.
  std::string shifted = "fighter.pof\r\n\r\n" + text.substr(std::string("fighter.pof\r\n").size());
  std::vector<ListEntry> e = ReadAll(shifted);
  ASSERT_GE(e.size(), 1u);
  EXPECT_EQ(e[0].path, "");
  EXPECT_EQ(e[0].folder, "c:\\games\\starhold\\data\\models\\fighter.pof");
  // Blanks, a leading # and long lines are kept as they are.
  e = ReadAll(" # a \r\n" + std::string(5000, 'p') + "\r\ndata \r\n");
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].name, " # a ");
  EXPECT_EQ(e[0].path.size(), 5000u);
  EXPECT_EQ(e[0].folder, "data ");
  EXPECT_TRUE(ReadAll("").empty());
}

TEST(ListFileTest, OpeningNeverCreatesAndWritingIsAtomic) {
  testing::TempDir dir;
  std::ifstream in;
  Status why;
  EXPECT_FALSE(OpenListFile(dir.Join("missing.cfg"), &in, &why));
  EXPECT_EQ(why.code, Code::kNotFound);
  EXPECT_FALSE(testing::FileExists(dir.Join("missing.cfg")));
  EXPECT_FALSE(OpenListFile(dir.path(), &in, &why));

  BuildList list;
  list.files.push_back(Record("a.tbl", "x\\a.tbl", "data"));
  ASSERT_TRUE(WriteListFile(list, dir.Join("out.lst"), &why));
  EXPECT_EQ(testing::ReadFile(dir.Join("out.lst")), "a.tbl\r\nx\\a.tbl\r\ndata\r\n");
  // A target that cannot be written leaves no file behind.
  EXPECT_FALSE(WriteListFile(list, dir.Join("no/such/out.lst"), &why));
  EXPECT_EQ(testing::ListTree(dir.path()), std::vector<std::string>{"out.lst"});
}

}  // namespace
}  // namespace quarrion
