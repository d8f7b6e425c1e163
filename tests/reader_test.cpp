#include "vp/reader.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "test_util.h"
#include "vp/format.h"
#include "vp/source_archives.h"

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
  WriteHeader(&h, VpHeader{.version = version, .dirOffset = dirOffset, .dirEntries = dirEntries});
  h.replace(0, 4, magic, 4);
  return h;
}

class ReaderTest : public ::testing::Test {
 protected:
  // Writes `bytes` to a file and opens a reader on it.
  Status OpenBytes(VpReader* r, const std::string& bytes) {
    WriteFile(path_, bytes);
    return r->Open(path_);
  }

  testing::TempDir dir_;
  std::string path_ = dir_.Join("a.vp");
};

TEST_F(ReaderTest, MalformedHeadersLoadOnlyWhatTheFileHolds) {
  struct Case {
    const char* what;
    std::string bytes;
    int entries;  // -1: not a VP archive
  };
  const std::string twoEntries =
      testing::ArchiveBuilder().Folder("data").Add(Entry(16, 0, "e", 5)).Bytes().substr(16);
  const Case cases[] = {
      {"empty file", "", -1},
      {"VPVQ", Header("VPVQ", 2, 16, 0), -1},
      {"magic in mixed case", Header("VpVp", 2, 16, 2) + twoEntries, 2},
      {"version 3", Header("VPVP", 3, 16, 2) + twoEntries, -1},
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
    const Status opened = OpenBytes(&r, c.bytes);
    if (c.entries < 0) {
      EXPECT_EQ(opened.code, Code::kNotVpArchive);
      EXPECT_EQ(opened.file, path_);
    } else {
      EXPECT_TRUE(opened.ok()) << opened.Message();
    }
    const std::size_t expected = c.entries > 0 ? static_cast<std::size_t>(c.entries) : 0;
    EXPECT_EQ(r.entries().size(), expected);
    EXPECT_EQ(r.header().dirEntries, static_cast<std::int32_t>(expected));
  }

  // Data end within the file or are outside it; an entry that ends exactly
  // at the end of the file is whole.
  VpReader r;
  const std::string a = testing::ArchiveBuilder().File("fits", "wxyz").Bytes();
  ASSERT_TRUE(OpenBytes(&r, a).ok());
  const auto end = static_cast<std::int32_t>(a.size());
  EXPECT_TRUE(r.EntryDataInFile(Entry(end - 4, 4, "x", 1)));
  EXPECT_FALSE(r.EntryDataInFile(Entry(end - 4, 5, "x", 1)));
  EXPECT_FALSE(r.EntryDataInFile(Entry(-8, 4, "before", 1)));
  EXPECT_FALSE(r.EntryDataInFile(Entry(16, -4, "negative", 1)));
}

// A file cut at every length loads the complete entries before the cut and
// nothing else, and never reads beyond the file.
TEST_F(ReaderTest, ArchiveCutAtEveryLength) {
  const std::string whole = SmallArchive();
  VpReader full;
  ASSERT_TRUE(OpenBytes(&full, whole).ok());
  const std::size_t dirOffset = 16 + 8;
  for (std::size_t cut = 0; cut < whole.size(); ++cut) {
    SCOPED_TRACE(cut);
    VpReader r;
    const Status opened = OpenBytes(&r, whole.substr(0, cut));
    // Cut within the magic or the version: no archive.
    if (!opened.ok()) {
      EXPECT_EQ(opened.code, Code::kNotVpArchive);
      EXPECT_LT(cut, 8u);
      continue;
    }
    const std::size_t complete = cut < dirOffset ? 0 : (cut - dirOffset) / kDirEntrySize;
    ASSERT_EQ(r.entries().size(), complete);
    for (std::size_t i = 0; i < complete; ++i) {
      EXPECT_EQ(EntryName(r.entries()[i]), EntryName(full.entries()[i]));
    }
  }
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
  ASSERT_TRUE(OpenBytes(&r, b.Bytes()).ok());
  ASSERT_EQ(r.entries().size(), 10u);
  EXPECT_EQ(EntryName(r.entries()[8]).size(), kNameFieldSize);
  const std::pair<std::string, std::optional<std::size_t>> cases[] = {
      {"ship.pof", 3},
      {"SHIP.POF", 3},
      {"ship", std::nullopt},
      {"MAPS", 1},  // the folder entry, not the file after it
      {std::string(31, 'N'), 7},
      // A name field without NUL is its 32 bytes; names compare over at most 32.
      {std::string(32, 'U'), 8},
      {std::string(31, 'u'), std::nullopt},
      {std::string(40, 'u'), 8},
      // Only ASCII letters fold: not 0xC9/0xE9, nor '[' and '{' (which differ by 32).
      {"\xC9T\xE9[1]", 9},
      {"\xE9t\xE9[1]", std::nullopt},
      {"\xC9t\xE9{1}", std::nullopt}};
  for (const auto& [name, index] : cases) EXPECT_EQ(r.Find(name), index) << name;
}

TEST_F(ReaderTest, SourceArchivesReadOnceAndAgainWhenChanged) {
  WriteFile(path_, SmallArchive());
  SourceArchives archives;
  VpReader* first = nullptr;
  ASSERT_TRUE(archives.Get(path_, &first).ok());
  VpReader* again = nullptr;
  ASSERT_TRUE(archives.Get(path_, &again).ok());
  EXPECT_EQ(again, first);  // unchanged: the same reader

  // Same size, other time: read again.
  std::string changed = SmallArchive();
  changed[16] = 'X';
  WriteFile(path_, changed);
  testing::SetMTime(path_, 1000000);
  // Nothing waited since the last use: the reader is trusted, no new look.
  ASSERT_TRUE(archives.Get(path_, &again).ok());
  EXPECT_EQ(again, first);
  archives.Recheck();
  VpReader* second = nullptr;
  ASSERT_TRUE(archives.Get(path_, &second).ok());
  char byte = 0;
  std::size_t got = 0;
  ASSERT_TRUE(second->file()
                  .ReadAt(second->entries()[*second->Find("abc.tbl")].offset, &byte, 1, &got)
                  .ok());
  EXPECT_EQ(byte, 'X');
  // Another size: read again, with the new directory.
  WriteFile(path_, SmallArchive().substr(0, SmallArchive().size() - kDirEntrySize));
  archives.Recheck();
  ASSERT_TRUE(archives.Get(path_, &second).ok());
  EXPECT_FALSE(second->Find("ship.pof").has_value());
  // A file that is no archive is refused, and so is a missing one.
  WriteFile(path_, "text");
  archives.Recheck();
  EXPECT_EQ(archives.Get(path_, &second).code, Code::kNotVpArchive);
  EXPECT_EQ(archives.Get(dir_.Join("none.vp"), &second).code, Code::kNotFound);
}

}  // namespace
}  // namespace quarrion
