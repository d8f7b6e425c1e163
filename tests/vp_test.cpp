// The archive format: its fields, the reader, and the checks behind -verify.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "test_util.h"
#include "vp/check.h"
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

std::string Header(const char* magic, std::int32_t version, std::int32_t dirOffset,
                   std::int32_t dirEntries) {
  std::string h;
  WriteHeader(&h, VpHeader{.version = version, .dirOffset = dirOffset, .dirEntries = dirEntries});
  h.replace(0, 4, magic, 4);
  return h;
}

// Bytes written to a.vp, opened by a reader or checked.
class VpFileTest : public testing::ArchiveTest {
 protected:
  Status OpenBytes(VpReader* r, const std::string& bytes) { return r->Open(Archive(bytes)); }
  ArchiveFindings Check(const std::string& bytes) {
    host::InputFile file;
    EXPECT_TRUE(file.Open(Archive(bytes)).ok());
    ArchiveFindings findings;
    const Status why = CheckArchive(file, &findings);
    EXPECT_TRUE(why.ok()) << why.Message();
    return findings;
  }

  const std::string path_ = dir_.Join("a.vp");
};
using ReaderTest = VpFileTest;
using CheckTest = VpFileTest;

// Counts and offsets that do not fit load only the entries the file holds, with a finding.
TEST_F(ReaderTest, MalformedHeadersLoadOnlyWhatTheFileHolds) {
  const std::string twoEntries =
      testing::ArchiveBuilder().Folder("data").Add(Entry(16, 0, "e", 5)).Bytes().substr(16);
  struct Case {
    std::string bytes;
    int entries;  // -1: not a VP archive
    std::size_t wholeFile;
  };
  const Case cases[] = {
      {Header("VPVQ", 2, 16, 0), -1, 0},
      {Header("VPV0", 2, 16, 0), -1, 0},  // '0' and 'p' agree in their low five bits only
      {Header("VPVP", 3, 16, 2) + twoEntries, -1, 0},
      {Header("VpVp", 2, 16, 2) + twoEntries, 2, 0},
      {Header("VPVP", 2, 0, 0).substr(0, 8), 0, 1},
      {Header("VPVP", 2, 16, -1) + twoEntries, 0, 1},
      {Header("VPVP", 2, 0x7fffff00, 2) + twoEntries, 0, 1},
      {Header("VPVP", 2, 16, INT32_MAX) + twoEntries, 2, 1},
      {Header("VPVP", 2, 16, 1) + twoEntries, 1, 1},   // 44 bytes after the directory
      {Header("VPVP", 2, 0, 100) + twoEntries, 0, 1},  // the directory overlaps the header
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.bytes));
    VpReader r;
    const Status opened = OpenBytes(&r, c.bytes);
    EXPECT_EQ(opened.code, c.entries < 0 ? Code::kNotVpArchive : Code::kOk);
    EXPECT_EQ(r.entries().size(), static_cast<std::size_t>(std::max(c.entries, 0)));
    EXPECT_EQ(r.header().dirEntries, std::max(c.entries, 0));
    EXPECT_EQ(r.findings().wholeFile, c.wholeFile);
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

// A name finds the first file of it and counts them, a path exactly one; only ASCII letters fold.
TEST_F(ReaderTest, FindFileTakesTheFirstFileOfANameOrExactlyAPath) {
  testing::ArchiveBuilder b;
  b.File("top", "t").Folder("data").Folder("maps").Add(Entry(16, 0, "maps", 7));
  b.Add(Entry(16, 0, "ship.pof", 1)).Up().Folder("other").Add(Entry(16, 0, "SHIP.POF", 2));
  b.Add(Entry(16, 0, std::string(32, 'u'), 4)).Add(Entry(16, 0, "\xC9t\xE9[1]", 5));
  b.Up().Up().Folder("top2").File("top", "u");
  VpReader r;
  ASSERT_TRUE(OpenBytes(&r, b.Bytes()).ok());
  const std::pair<std::string, std::string> cases[] = {
      // entry found, of how many
      {"SHIP.POF", "4 of 2"},
      {"maps", "3 of 1"},  // the file, not the folder before it
      {"maps\\ship.pof", "none"},
      {"top", "0 of 2"},
      {"\\top", "0 of 1"},
      {"top2\\top", "13 of 1"},
      {std::string(32, 'U'), "8 of 1"},  // a name field without NUL is its 32 bytes
      {std::string(31, 'u'), "none"},
      {std::string(40, 'u'), "8 of 1"},  // compared over at most 32
      {"\xC9T\xE9[1]", "9 of 1"},
      {"\xE9t\xE9[1]", "none"},
      {"\xC9t\xE9{1}", "none"}};  // '[' and '{' differ by 32 too
  for (const auto& [inner, want] : cases) {
    const std::optional<FileMatch> f = r.FindFile(inner);
    EXPECT_EQ(f ? std::to_string(f->entry) + " of " + std::to_string(f->sameName) : "none", want)
        << inner;
  }
  EXPECT_EQ(r.PathOf(7), "data\\other\\SHIP.POF");
  EXPECT_EQ(r.PathOf(0), "top");
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

// One crafted fault per row and its one finding (more in the -verify and -extract tests).
TEST_F(CheckTest, EachFaultGivesItsFinding) {
  using testing::ArchiveBuilder;
  ArchiveBuilder good;
  good.Folder("data").File("a.tbl", "0123456789").File("b.tbl", "abcdefghij");
  auto withFile = [](VpDirEntry e) {
    return ArchiveBuilder().Folder("data").File("a.tbl", "0123456789").Add(e).Bytes();
  };
  // A folder opened again, in any letter case, is the same folder: no finding.
  ArchiveBuilder fileFirst, folderFirst, reopened;
  reopened.Folder("data").Folder("maps").File("a.map", "12").Up().Folder("maps x").File("b", "3");
  reopened.Up().Folder("Maps").Folder("x").File("c", "4");
  fileFirst.Folder("data").File("maps", "x").Folder("maps").File("a.map", "m");
  folderFirst.Folder("data").Folder("Maps").File("a.map", "m").Up().File("MAPS", "x");
  const std::pair<std::string, std::string> cases[] = {
      {reopened.Bytes(), ""},
      {"VPVQ" + good.Bytes().substr(4), "the file does not begin with \"VPVP\""},
      {good.Bytes(1), "the version is 1, not 2"},
      {good.Bytes(2, 5000, 3), "the directory offset 5000 lies outside the file"},
      {good.Bytes(2, 8, 3), "the directory offset 8 lies outside the file"},
      {withFile(Entry(26, 0, std::string(32, 'n'), 1)), "is not terminated within 32 bytes"},
      {ArchiveBuilder().Folder("data").File("a\nb", "x").Bytes(),
       "entry 1 (data\\a?b): \"a?b\" holds a control character"},
      {withFile(Entry(26, -4, "neg", 1)), "entry 2 (data\\neg): the size -4 is negative"},
      // A file and a folder of one path, in either order.
      {fileFirst.Bytes(),
       "entry 2 (data\\maps): a file and a folder of the same path, with entry 1 (data\\maps)"},
      {folderFirst.Bytes(),
       "entry 4 (data\\MAPS): a file and a folder of the same path, with entry 1 (data\\Maps)"},
  };
  for (const auto& [bytes, finding] : cases) {
    const std::vector<std::string> found = Check(bytes).problems;
    EXPECT_TRUE(finding.empty() ? found.empty()
                                : found.size() == 1 && found[0].find(finding) != std::string::npos)
        << finding << " not in " << ::testing::PrintToString(found);
  }
}

// Where the uses differ beyond what the builders, -extract and the delete list show.
TEST(NameRuleTest, EachUseTakesItsOwnNames) {
  using enum NameUse;
  using enum Code;
  const std::string n32(32, 'n');
  const struct {
    std::string name;
    NameUse use;
    Code code;
    std::string reason;
  } rows[] = {
    {"..hidden", kInstaller, kOk, ""},
    {"a?b*", kFile, kOk, ""},
    {n32, kInstaller, kNameTooLong, "is longer than 31 bytes"},
    {n32, kExtraction, kOk, ""},                         // an unterminated name is written whole
    {n32 + "/", kFile, kNotPlainName, "holds a slash"},  // the length is checked last
#if defined(_WIN32)
    {"nul.txt", kExtraction, kNotPlainName, "is a device name on Windows"},
#endif
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name + " as use " + std::to_string(static_cast<int>(row.use)));
    const Status why = CheckName(row.name, row.use);
    EXPECT_EQ(why.code, row.code);
    EXPECT_EQ(why.reason, row.reason);
  }
}

}  // namespace
}  // namespace quarrion
