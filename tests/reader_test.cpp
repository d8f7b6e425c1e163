#include "vp/reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_util.h"
#include "vp/format.h"

namespace quarrion {
namespace {

using testing::Entry;
using testing::WriteFile;

// Two files in data and data\maps: header, "abc" + "defgh", then data,
// abc.tbl, maps, ship.pof.
std::string SmallArchive() {
  testing::ArchiveBuilder b;
  b.Folder("data").File("abc.tbl", "abc", 1000).Folder("maps").File("ship.pof", "defgh", 2000);
  return b.Bytes();
}

std::string Header(const char* magic, std::int32_t version, std::int32_t dirOffset,
                   std::int32_t dirEntries) {
  std::string h;
  WriteHeader(&h, HeaderValues{version, dirOffset, dirEntries});
  h.replace(0, 4, magic, 4);
  return h;
}

class ReaderTest : public ::testing::Test {
 protected:
  // Writes `bytes` to a file and opens a reader on it.
  void OpenBytes(VpReader* r, const std::string& bytes) {
    WriteFile(path_, bytes);
    ASSERT_TRUE(r->Open(path_));
  }

  testing::TempDir dir_;
  std::string path_ = dir_.Join("a.vp");
};

TEST_F(ReaderTest, MalformedHeadersAndDataOutsideTheFile) {
  struct Case {
    const char* what;
    std::string bytes;
    std::int32_t result;
  };
  const std::string twoEntries =
      testing::ArchiveBuilder().Folder("data").Add(Entry(16, 0, "e", 5)).Bytes().substr(16);
  const Case cases[] = {
      {"empty file", "", -1},
      {"VPVQ", Header("VPVQ", 2, 16, 0), -1},
      {"magic in mixed case", Header("VpVp", 2, 16, 2) + twoEntries, 2},
      {"version 3", Header("VPVP", 3, 16, 2) + twoEntries, -2},
      {"header only, with magic and version", Header("VPVP", 2, 0, 0).substr(0, 8), 0},
      {"negative count", Header("VPVP", 2, 16, -1) + twoEntries, 0},
      {"huge count", Header("VPVP", 2, 16, INT32_MAX) + twoEntries, 2},
      {"negative offset", Header("VPVP", 2, -44, 2) + twoEntries, 0},
      {"offset past the end", Header("VPVP", 2, 0x7fffff00, 2) + twoEntries, 0},
      {"offset exactly at the end", Header("VPVP", 2, 16 + 88, 5) + twoEntries, 0},
      {"directory overlaps the header", Header("VPVP", 2, 0, 100) + twoEntries, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    VpReader r;
    OpenBytes(&r, c.bytes);
    EXPECT_EQ(r.Load(), c.result);
    const std::size_t expected = c.result > 0 ? static_cast<std::size_t>(c.result) : 0;
    EXPECT_EQ(r.entries().size(), expected);
    EXPECT_EQ(r.header().dirEntries, static_cast<std::int32_t>(expected));
  }

  // Data outside the file are an error, never bytes from elsewhere.
  testing::ArchiveBuilder b;
  b.File("fits", "wxyz").Add(Entry(16, 1000, "long", 1)).Add(Entry(-8, 4, "before", 1));
  const std::string a = b.Add(Entry(16, -4, "negative", 1)).Bytes();
  VpReader r;
  OpenBytes(&r, a);
  ASSERT_EQ(r.loadResult(), 4);
  std::vector<char> data;
  EXPECT_EQ(r.ReadEntry(0, &data), 4);
  EXPECT_EQ(r.ReadEntry(4, &data), -1);  // no such entry
  EXPECT_EQ(r.ReadEntry(-1, &data), -1);
  for (std::int32_t i = 1; i < 4; ++i) {
    Status why;
    EXPECT_EQ(r.ReadEntry(i, &data, &why), -1) << i;
    EXPECT_TRUE(data.empty());
    EXPECT_EQ(why.code, Code::kOutOfRange);
  }
  // An entry that ends exactly at the end of the file is whole.
  const auto end = static_cast<std::int32_t>(a.size());
  EXPECT_TRUE(r.EntryDataInFile(Entry(end - 4, 4, "x", 1)));
  EXPECT_FALSE(r.EntryDataInFile(Entry(end - 4, 5, "x", 1)));
}

TEST_F(ReaderTest, FindIgnoresAsciiCaseAndTheFirstOfAName) {
  // 1: a folder named maps, 2: a file named maps, 3: the first ship.pof, 6: the
  // same name in other case, 8: a name without NUL.
  testing::ArchiveBuilder b;
  b.Folder("data").Folder("maps").Add(Entry(16, 0, "maps", 7)).Add(Entry(16, 0, "ship.pof", 1));
  b.Up().Folder("other").Add(Entry(16, 0, "SHIP.POF", 2));
  b.Add(Entry(16, 0, std::string(31, 'n'), 3)).Add(Entry(16, 0, std::string(32, 'u'), 4));
  b.Add(Entry(16, 0, "\xC9t\xE9[1]", 5));
  VpReader r;
  OpenBytes(&r, b.Bytes());
  ASSERT_EQ(r.loadResult(), 10);
  EXPECT_EQ(EntryName(r.entries()[8]).size(), kNameFieldSize);
  const std::pair<std::string, std::int32_t> cases[] = {
      {"ship.pof", 3},
      {"SHIP.POF", 3},
      {"ship", -1},
      {"MAPS", 1},  // the folder entry, not the file after it
      {std::string(31, 'N'), 7},
      // A name field without NUL is its 32 bytes; names compare over at most 32.
      {std::string(32, 'U'), 8},
      {std::string(31, 'u'), -1},
      {std::string(40, 'u'), 8},
      // Only ASCII letters fold: not 0xC9/0xE9, nor '[' and '{' (which differ by 32).
      {"\xC9T\xE9[1]", 9},
      {"\xE9t\xE9[1]", -1},
      {"\xC9t\xE9{1}", -1}};
  for (const auto& [name, index] : cases) EXPECT_EQ(r.Find(name), index) << name;

  std::vector<char> data;
  EXPECT_EQ(r.ReadEntry(r.Find("maps"), &data), 0);
  EXPECT_TRUE(data.empty());
}

TEST_F(ReaderTest, SourceArchivesReadOnceAndAgainWhenChanged) {
  WriteFile(path_, SmallArchive());
  SourceArchives archives;
  VpReader* first = archives.Get(path_, nullptr);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(archives.Get(path_, nullptr), first);  // unchanged: the same reader

  // Same size, other time: read again.
  std::string changed = SmallArchive();
  changed[16] = 'X';
  WriteFile(path_, changed);
  testing::SetMTime(path_, 1000000);
  // Nothing waited since the last use: the reader is trusted, no new look.
  EXPECT_EQ(archives.Get(path_, nullptr), first);
  archives.Recheck();
  VpReader* second = archives.Get(path_, nullptr);
  std::vector<char> data;
  ASSERT_EQ(second->ReadEntry(second->Find("abc.tbl"), &data), 3);
  EXPECT_EQ(data.front(), 'X');
  // Another size: read again, with the new directory.
  WriteFile(path_, SmallArchive().substr(0, SmallArchive().size() - kDirEntrySize));
  archives.Recheck();
  EXPECT_EQ(archives.Get(path_, nullptr)->Find("ship.pof"), -1);
}

}  // namespace
}  // namespace quarrion
