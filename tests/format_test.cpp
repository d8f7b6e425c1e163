#include "vp/format.h"

#include <gtest/gtest.h>

#include "test_util.h"

namespace quarrion {
namespace {

std::string Bytes(std::initializer_list<int> b) {
  std::string s;
  for (int c : b) s.push_back(static_cast<char>(c));
  return s;
}

TEST(FormatTest, HeaderAndEntryBytesBoundedNamesAndMagic) {
  std::string out;
  WriteHeader(&out, VpHeader{.dirOffset = 0x01020304, .dirEntries = 258});
  EXPECT_EQ(out, Bytes({'V', 'P', 'V', 'P', 2, 0, 0, 0, 4, 3, 2, 1, 2, 1, 0, 0}));

  // A negative size crosses as its bit pattern.
  out.clear();
  WriteEntry(&out, testing::Entry(16, -2, "ship.pof", 0x5f000001));
  EXPECT_EQ(out, Bytes({16, 0, 0, 0, 0xfe, 0xff, 0xff, 0xff}) + "ship.pof" + std::string(24, '\0') +
                     Bytes({1, 0, 0, 0x5f}));
  const VpDirEntry back = DecodeDirEntry(out.data());
  EXPECT_EQ(back.size, -2);
  EXPECT_EQ(back.timestamp, 0x5f000001);
  EXPECT_EQ(ClassifyEntry(back), EntryKind::kFile);

  // Folder and up entries as the writer lays them out (pinned in its tests).
  out.clear();
  WriteFolderEntry(&out, "data", 116);
  EXPECT_EQ(ClassifyEntry(DecodeDirEntry(out.data())), EntryKind::kFolder);
  out.clear();
  WriteUpEntry(&out, 76);
  EXPECT_EQ(ClassifyEntry(DecodeDirEntry(out.data())), EntryKind::kUp);
  // Any name beginning with ".." is an up entry; a zero-length file with
  // time 0 is indistinguishable from a folder.
  EXPECT_EQ(ClassifyEntry(testing::Entry(0, 0, "..x", 0)), EntryKind::kUp);
  EXPECT_EQ(ClassifyEntry(testing::Entry(0, 0, "empty.txt", 0)), EntryKind::kFolder);

  VpDirEntry e;
  EXPECT_TRUE(SetEntryName(&e, std::string(31, 'a')));
  EXPECT_FALSE(SetEntryName(&e, std::string(32, 'b')));
  EXPECT_EQ(EntryName(e), std::string(31, 'a'));  // unchanged
  e.name.fill('z');                               // no NUL at all
  EXPECT_EQ(EntryName(e), std::string(32, 'z'));

  EXPECT_TRUE(MagicMatches({'v', 'p', 'V', 'p'}));
  EXPECT_FALSE(MagicMatches({'V', 'P', 'V', 'Q'}));
  // Only ASCII letters fold: '0' is 'p' without its 0x40 bit.
  EXPECT_FALSE(MagicMatches({'V', 'P', 'V', '0'}));
}

}  // namespace
}  // namespace quarrion
