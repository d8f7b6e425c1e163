#include "buildlist/list_file.h"

#include <gtest/gtest.h>

#include <sstream>

#include "test_util.h"

namespace quarrion {
namespace {

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

}  // namespace
}  // namespace quarrion
