// The archive format: its fields, the reader and the rules for names.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <utility>

#include "test_util.h"
#include "vp/format.h"
#include "vp/names.h"
#include "vp/reader.h"
#include "vp/source_archives.h"

namespace quarrion {
namespace {

using testing::Entry;
using testing::WriteFile;

// Header, "abc" + "defgh", then data, abc.tbl, maps, ship.pof.
std::string SmallArchive() {
  testing::ArchiveBuilder b;
  b.Folder("data").File("abc.tbl", "abc", 1000).Folder("maps").File("ship.pof", "defgh", 2000);
  return b.Bytes();
}

// Bytes written to a.vp and opened by a reader.
class ReaderTest : public testing::ArchiveTest {
 protected:
  Status OpenBytes(VpReader* r, const std::string& bytes) { return r->Open(Archive(bytes)); }

  const std::string path_ = dir_.Join("a.vp");
};

// A magic of any letter case is taken; counts and offsets past the file load what it holds.
TEST_F(ReaderTest, MalformedHeadersLoadOnlyWhatTheFileHolds) {
  testing::ArchiveBuilder b;  // a directory of two entries, no data
  b.Folder("data").Add(Entry(16, 0, "e", 5));
  const std::pair<std::string, int> cases[] = {
      {"VPV0" + b.Bytes().substr(4), -1},  // -1: not a VP archive; '0' and 'p' share five low bits
      {"VpVp" + b.Bytes().substr(4), 2},
      {b.Bytes(2, 16, INT32_MAX), 2}};
  for (const auto& [bytes, entries] : cases) {
    SCOPED_TRACE(::testing::PrintToString(bytes));
    VpReader r;
    EXPECT_EQ(OpenBytes(&r, bytes).code, entries < 0 ? Code::kNotVpArchive : Code::kOk);
    EXPECT_EQ(r.entries().size(), static_cast<std::size_t>(std::max(entries, 0)));
    EXPECT_EQ(r.header().dirEntries, std::max(entries, 0));
  }

  // An entry that ends exactly at the end of the file is whole.
  VpReader r;
  ASSERT_TRUE(OpenBytes(&r, testing::ArchiveBuilder().File("fits", "wxyz").Bytes()).ok());
  const auto end = static_cast<std::int32_t>(16 + 4 + kDirEntrySize);
  EXPECT_TRUE(r.EntryDataInFile(Entry(end - 4, 4, "x", 1)));
  EXPECT_FALSE(r.EntryDataInFile(Entry(end - 4, 5, "x", 1)));
  EXPECT_FALSE(r.EntryDataInFile(Entry(-8, 4, "before", 1)));
  EXPECT_FALSE(r.EntryDataInFile(Entry(16, -4, "negative", 1)));
}

// A file cut at every length loads the complete entries before the cut only.
TEST_F(ReaderTest, ArchiveCutAtEveryLength) {
  const std::string whole = SmallArchive();
  VpReader full;
  ASSERT_TRUE(OpenBytes(&full, whole).ok());
  const std::size_t dirOffset = 16 + 8;
  for (std::size_t cut = 0; cut < whole.size(); ++cut) {
    SCOPED_TRACE(cut);
    VpReader r;
    const Status opened = OpenBytes(&r, whole.substr(0, cut));
    if (!opened.ok()) {  // cut within the magic or the version
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

// A name finds its first file (not a folder) and counts them, a path exactly; only ASCII folds.
TEST_F(ReaderTest, FindFileTakesTheFirstFileOfANameOrExactlyAPath) {
  testing::ArchiveBuilder b;
  b.File("top", "t").Folder("data").Folder("maps").Add(Entry(16, 0, "maps", 7));
  b.Add(Entry(16, 0, "ship.pof", 1)).Up().Folder("other").Add(Entry(16, 0, "SHIP.POF", 2));
  b.Add(Entry(16, 0, "\xC9t\xE9[1]", 5)).Up().Up().Folder("top2").File("top", "u");
  VpReader r;
  ASSERT_TRUE(OpenBytes(&r, b.Bytes()).ok());
  const std::pair<std::string, std::string> cases[] = {
      {"SHIP.POF", "4 of 2"},   {"maps", "3 of 1"},       {"maps\\ship.pof", "none"},
      {"\\top", "0 of 1"},      {"top2\\top", "12 of 1"}, {"\xC9T\xE9[1]", "8 of 1"},
      {"\xE9t\xE9[1]", "none"}, {"\xC9t\xE9{1}", "none"}};  // '[' and '{' differ by 32 too
  for (const auto& [inner, want] : cases) {
    const std::optional<FileMatch> f = r.FindFile(inner);
    EXPECT_EQ(f ? std::to_string(f->entry) + " of " + std::to_string(f->sameName) : "none", want)
        << inner;
  }
}

// Every name is printed with each control character (C1 too, as UTF-8) one '?'.
TEST(NamesTest, PrintableShowsControlCharactersAsQuestionMarks) {
  const std::pair<std::string, std::string> cases[] = {
      {"plain name.tbl", "plain name.tbl"},
      {"tab\there\nline\r", "tab?here?line?"},
      {"\x1b]0;title\a\x1b[2J", "?]0;title??[2J"},
      {"del\x7f", "del?"},
      {"caf\xc3\xa9 \xe2\x82\xac \xc2\xa0", "caf\xc3\xa9 \xe2\x82\xac \xc2\xa0"},  // UTF-8 as is
      {"\xc2\x9b[2J \xc2\x80\xc2\x9f", "?[2J ??"},                                 // C1 as UTF-8
      {"ansi \x9b\xe9 \xc2", "ansi \x9b\xe9 \xc2"},  // single bytes of other code pages
  };
  for (const auto& [text, shown] : cases) EXPECT_EQ(Printable(text), shown) << shown;
  EXPECT_EQ(QuotedName("a\tb"), "\"a?b\"");
}

// A source archive is read once, and again after Recheck when its time or size changed.
TEST_F(ReaderTest, SourceArchivesReadOnceAndAgainWhenChanged) {
  std::string changed = SmallArchive();
  WriteFile(path_, changed);
  SourceArchives archives;
  VpReader* r = nullptr;
  ASSERT_TRUE(archives.Get(path_, &r).ok());
  changed[16 + 8 + kDirEntrySize + 8 + 2] = 'X';  // abc.tbl becomes abX.tbl: the same size
  WriteFile(path_, changed);
  testing::SetMTime(path_, 1000000);
  ASSERT_TRUE(archives.Get(path_, &r).ok());
  EXPECT_FALSE(r->FindFile("abX.tbl").has_value());
  archives.Recheck();
  ASSERT_TRUE(archives.Get(path_, &r).ok());
  EXPECT_TRUE(r->FindFile("abX.tbl").has_value());
  WriteFile(path_, changed.substr(0, changed.size() - kDirEntrySize));
  archives.Recheck();
  ASSERT_TRUE(archives.Get(path_, &r).ok());
  EXPECT_FALSE(r->FindFile("ship.pof").has_value());
  WriteFile(path_, "text");
  archives.Recheck();
  EXPECT_EQ(archives.Get(path_, &r).code, Code::kNotVpArchive);
}

// An unterminated name is extracted whole; the length is checked after the characters.
TEST(NameRuleTest, EachUseTakesItsOwnNames) {
  const std::string n32(32, 'n');
  EXPECT_TRUE(CheckName(n32, NameUse::kExtraction).ok());
  EXPECT_EQ(CheckName(n32, NameUse::kInstaller).reason, "is longer than 31 bytes");
  EXPECT_EQ(CheckName(n32 + "/", NameUse::kFile).reason, "holds a slash");
#if defined(_WIN32)
  const Status device = CheckName("nul.txt", NameUse::kExtraction);
  EXPECT_EQ(device.code, Code::kNotPlainName);
  EXPECT_EQ(device.reason, "is a device name on Windows");
#endif
}

}  // namespace
}  // namespace quarrion
