#include "vp/reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_util.h"
#include "vp/format.h"

namespace quarrion {
namespace {

using testing::TempDir;
using testing::WriteFile;

VpDirEntry Entry(std::int32_t offset, std::int32_t size, const std::string& name,
                 std::int32_t timestamp) {
  VpDirEntry e;
  e.offset = offset;
  e.size = size;
  SetEntryName(&e, name);
  e.timestamp = timestamp;
  return e;
}

// An archive of two files in data and data\maps, as the writer lays it out:
// header, "abc" + "defgh", then data, abc.tbl, maps, ship.pof.
std::string SmallArchive() {
  std::string a;
  WriteHeader(&a, HeaderValues{2, 16 + 8, 4});
  a += "abcdefgh";
  WriteFolderEntry(&a, "data", 16);
  WriteEntry(&a, Entry(16, 3, "abc.tbl", 1000));
  WriteFolderEntry(&a, "maps", 19);
  WriteEntry(&a, Entry(19, 5, "ship.pof", 2000));
  return a;
}

std::string Header(const char* magic, std::int32_t version, std::int32_t dirOffset,
                   std::int32_t dirEntries) {
  std::string h;
  WriteHeader(&h, HeaderValues{version, dirOffset, dirEntries});
  h.replace(0, 4, magic, 4);
  return h;
}

std::vector<std::string> Names(const VpReader& r) {
  std::vector<std::string> names;
  for (const VpDirEntry& e : r.entries()) names.emplace_back(EntryName(e));
  return names;
}

class ReaderTest : public ::testing::Test {
 protected:
  // Writes `bytes` to a file and opens a reader on it.
  void OpenBytes(VpReader* r, const std::string& bytes) {
    WriteFile(path_, bytes);
    ASSERT_TRUE(r->Open(path_));
  }

  TempDir dir_;
  std::string path_ = dir_.Join("a.vp");
};

TEST(VpSourceReferenceTest, MarkerIsCaseSensitiveAndArchiveEndsAtLastColon) {
  EXPECT_TRUE(IsVpSourceReference("c:\\games\\a.vp:b.pof"));
  EXPECT_TRUE(IsVpSourceReference("pack.vp:"));
  EXPECT_FALSE(IsVpSourceReference("c:\\games\\a.VP:b.pof"));
  EXPECT_FALSE(IsVpSourceReference("c:\\data\\pack.vpx:a.tbl"));
  EXPECT_EQ(VpArchivePath("c:\\games\\a.vp:b.tbl"), "c:\\games\\a.vp");
  EXPECT_EQ(VpArchivePath("/x/a:b/pack.vp:ship.pof"), "/x/a:b/pack.vp");
  EXPECT_EQ(VpArchivePath("no-colon"), "no-colon");
}

TEST_F(ReaderTest, LoadsDirectoryAndReadsEntries) {
  VpReader r;
  OpenBytes(&r, SmallArchive());
  EXPECT_EQ(r.loadResult(), 4);
  EXPECT_EQ(r.header().dirEntries, 4);
  EXPECT_EQ(r.archivePath(), path_);
  EXPECT_EQ(Names(r), (std::vector<std::string>{"data", "abc.tbl", "maps", "ship.pof"}));
  EXPECT_EQ(r.entries()[1].timestamp, 1000);

  std::vector<char> data;
  ASSERT_EQ(r.ReadEntry(r.Find("ship.pof"), &data), 5);
  EXPECT_EQ(std::string(data.begin(), data.end()), "defgh");
  ASSERT_EQ(r.ReadEntry(r.Find("abc.tbl"), &data), 3);
  EXPECT_EQ(std::string(data.begin(), data.end()), "abc");

  Status why;
  EXPECT_EQ(r.ReadEntry(4, &data, &why), -1);
  EXPECT_TRUE(data.empty());
  EXPECT_EQ(why.code, Code::kOutOfRange);
  EXPECT_EQ(r.ReadEntry(-1, &data), -1);
}

TEST_F(ReaderTest, MalformedHeaders) {
  struct Case {
    const char* what;
    std::string bytes;
    std::int32_t result;
  };
  const std::string twoEntries = [] {
    std::string d;
    WriteFolderEntry(&d, "data", 16);
    WriteEntry(&d, Entry(16, 0, "e", 5));
    return d;
  }();
  const Case cases[] = {
      {"empty file", "", -1},
      {"ten zero bytes", std::string(10, '\0'), -1},
      {"VPVQ", Header("VPVQ", 2, 16, 0), -1},
      {"magic in lower case", Header("vpvp", 2, 16, 0), 0},
      {"magic in mixed case", Header("VpVp", 2, 16, 2) + twoEntries, 2},
      {"version 1", Header("VPVP", 1, 16, 2) + twoEntries, -2},
      {"version 3", Header("VPVP", 3, 16, 2) + twoEntries, -2},
      {"version -2", Header("VPVP", -2, 16, 2) + twoEntries, -2},
      {"header only, with magic and version", Header("VPVP", 2, 0, 0).substr(0, 8), 0},
      {"negative count", Header("VPVP", 2, 16, -1) + twoEntries, 0},
      {"most negative count", Header("VPVP", 2, 16, INT32_MIN) + twoEntries, 0},
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
    EXPECT_EQ(r.loadResult(), c.result);
    const std::size_t expected = c.result > 0 ? static_cast<std::size_t>(c.result) : 0;
    EXPECT_EQ(r.entries().size(), expected);
    EXPECT_EQ(r.header().dirEntries, static_cast<std::int32_t>(expected));
    if (c.result < 0) {
      EXPECT_EQ(r.Find("data"), -1);
    }
  }
}

TEST_F(ReaderTest, ArchiveCutAtEveryLength) {
  const std::string full = SmallArchive();
  VpReader whole;
  OpenBytes(&whole, full);
  for (std::size_t len = 0; len <= full.size(); ++len) {
    SCOPED_TRACE("length " + std::to_string(len));
    VpReader r;
    OpenBytes(&r, full.substr(0, len));
    const std::int32_t result = r.loadResult();
    ASSERT_GE(result, -2);
    ASSERT_EQ(r.entries().size(), static_cast<std::size_t>(std::max(result, 0)));
    // A complete header gives every entry that is whole, and no other.
    const std::size_t wholeEntries = len < 16 + 8 ? 0 : (len - 16 - 8) / kDirEntrySize;
    if (len >= kHeaderSize) {
      ASSERT_EQ(r.entries().size(), wholeEntries);
    }
    for (std::size_t i = 0; i < r.entries().size(); ++i) {
      EXPECT_EQ(EntryName(r.entries()[i]), EntryName(whole.entries()[i]));
    }
    // Data of the cut archive are read only where the file still holds them.
    std::vector<char> data;
    for (std::int32_t i = 0; i < static_cast<std::int32_t>(r.entries().size()); ++i) {
      const VpDirEntry& e = r.entries()[static_cast<std::size_t>(i)];
      EXPECT_EQ(r.ReadEntry(i, &data), e.size);
    }
  }
}

TEST_F(ReaderTest, DataOutsideTheFileIsAnError) {
  std::string a;
  WriteHeader(&a, HeaderValues{2, 16 + 4, 4});
  a += "wxyz";
  WriteEntry(&a, Entry(16, 4, "fits", 1));
  WriteEntry(&a, Entry(16, 1000, "long", 1));
  WriteEntry(&a, Entry(-8, 4, "before", 1));
  WriteEntry(&a, Entry(16, -4, "negative", 1));
  VpReader r;
  OpenBytes(&r, a);
  ASSERT_EQ(r.loadResult(), 4);
  std::vector<char> data;
  EXPECT_EQ(r.ReadEntry(0, &data), 4);
  for (std::int32_t i = 1; i < 4; ++i) {
    SCOPED_TRACE(i);
    Status why;
    EXPECT_EQ(r.ReadEntry(i, &data, &why), -1);
    EXPECT_TRUE(data.empty());
    EXPECT_EQ(why.code, Code::kOutOfRange);
    EXPECT_NE(why.message.find(path_), std::string::npos);
    EXPECT_FALSE(r.EntryDataInFile(r.entries()[static_cast<std::size_t>(i)]));
  }
  // An entry that ends exactly at the end of the file is whole.
  EXPECT_TRUE(r.EntryDataInFile(Entry(static_cast<std::int32_t>(a.size()) - 4, 4, "x", 1)));
  EXPECT_TRUE(r.EntryDataInFile(Entry(static_cast<std::int32_t>(a.size()), 0, "x", 1)));
}

TEST_F(ReaderTest, FindIgnoresAsciiCaseAndTheFirstOfAName) {
  std::string a;
  WriteHeader(&a, HeaderValues{2, 16, 10});
  WriteFolderEntry(&a, "data", 16);
  WriteFolderEntry(&a, "maps", 16);             // 1: a folder named maps
  WriteEntry(&a, Entry(16, 0, "maps", 7));      // 2: then a file named maps
  WriteEntry(&a, Entry(16, 0, "ship.pof", 1));  // 3: the first ship.pof
  WriteUpEntry(&a, 16);                         // 4
  WriteFolderEntry(&a, "other", 16);            // 5
  WriteEntry(&a, Entry(16, 0, "SHIP.POF", 2));  // 6: same name, other case
  WriteEntry(&a, Entry(16, 0, std::string(31, 'n'), 3));
  VpDirEntry unterminated = Entry(16, 0, "", 4);
  unterminated.name.fill('u');  // 32 bytes, no NUL
  WriteEntry(&a, unterminated);
  WriteEntry(&a, Entry(16, 0, "\xC9t\xE9[1]", 5));
  VpReader r;
  OpenBytes(&r, a);
  ASSERT_EQ(r.loadResult(), 10);

  EXPECT_EQ(r.Find("ship.pof"), 3);
  EXPECT_EQ(r.Find("Ship.pof"), 3);
  EXPECT_EQ(r.Find("SHIP.POF"), 3);
  EXPECT_EQ(r.Find("ship"), -1);
  EXPECT_EQ(r.Find("ship.pof.bak"), -1);
  EXPECT_EQ(r.Find("MAPS"), 1);  // the folder entry, not the file after it
  EXPECT_EQ(r.Find("Other"), 5);
  EXPECT_EQ(r.Find(".."), 4);
  EXPECT_EQ(r.Find(std::string(31, 'N')), 7);
  EXPECT_EQ(r.Find(std::string(30, 'n')), -1);
  EXPECT_EQ(r.Find(std::string(32, 'n')), -1);
  // A name field without NUL is its 32 bytes; names compare over at most 32.
  EXPECT_EQ(EntryName(r.entries()[8]).size(), kNameFieldSize);
  EXPECT_EQ(r.Find(std::string(32, 'U')), 8);
  EXPECT_EQ(r.Find(std::string(31, 'u')), -1);
  EXPECT_EQ(r.Find(std::string(40, 'u')), 8);
  EXPECT_EQ(r.Find(""), -1);
  // Only ASCII letters fold: not 0xC9/0xE9, nor '[' and '{' (which differ by 32).
  EXPECT_EQ(r.Find("\xC9T\xE9[1]"), 9);
  EXPECT_EQ(r.Find("\xE9t\xE9[1]"), -1);
  EXPECT_EQ(r.Find("\xC9t\xE9{1}"), -1);

  std::vector<char> data;
  EXPECT_EQ(r.ReadEntry(r.Find("maps"), &data), 0);
  EXPECT_TRUE(data.empty());
}

TEST_F(ReaderTest, SourceArchivesReadOnceAndAgainWhenChanged) {
  WriteFile(path_, SmallArchive());
  SourceArchives archives;
  Status why;
  VpReader* first = archives.Get(path_, &why);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(archives.Get(path_, &why), first);  // unchanged: the same reader
  EXPECT_EQ(first->fileSize(), static_cast<std::int64_t>(SmallArchive().size()));
  EXPECT_TRUE(first->file().is_open());

  // Same size, other time: read again.
  std::string changed = SmallArchive();
  changed[16] = 'X';
  WriteFile(path_, changed);
  testing::SetMTime(path_, 1000000);
  VpReader* second = archives.Get(path_, &why);
  ASSERT_NE(second, nullptr);
  std::vector<char> data;
  ASSERT_EQ(second->ReadEntry(second->Find("abc.tbl"), &data), 3);
  EXPECT_EQ(std::string(data.begin(), data.end()), "Xbc");

  // Another size: read again, with the new directory.
  std::string grown = SmallArchive();
  grown.resize(grown.size() - kDirEntrySize);  // cut the last entry
  WriteFile(path_, grown);
  VpReader* third = archives.Get(path_, &why);
  ASSERT_NE(third, nullptr);
  EXPECT_EQ(third->Find("ship.pof"), -1);

  WriteFile(path_, "not an archive at all");
  EXPECT_EQ(archives.Get(path_, &why), nullptr);
  EXPECT_EQ(why.code, Code::kNotVpArchive);
  EXPECT_EQ(why.message.rfind(path_ + ": ", 0), 0u);

  EXPECT_EQ(archives.Get(dir_.Join("gone.vp"), &why), nullptr);
  EXPECT_EQ(why.code, Code::kNotFound);
  VpReader missing;
  EXPECT_FALSE(missing.Open(dir_.Join("gone.vp")));
  EXPECT_EQ(missing.Find("abc.tbl"), -1);
}

}  // namespace
}  // namespace quarrion
