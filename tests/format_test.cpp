#include <gtest/gtest.h>

#include "vp/format.h"

namespace quarrion {
namespace {

std::string Bytes(std::initializer_list<int> b) {
  std::string s;
  for (int c : b) s.push_back(static_cast<char>(c));
  return s;
}

TEST(FormatTest, HeaderBytes) {
  std::string out;
  WriteHeader(&out, HeaderValues{2, 0x01020304, 258});
  EXPECT_EQ(out, Bytes({'V', 'P', 'V', 'P', 2, 0, 0, 0, 4, 3, 2, 1, 2, 1, 0, 0}));
  VpHeader h = DecodeHeader(out.data());
  EXPECT_TRUE(MagicMatches(h.magic));
  EXPECT_EQ(h.version, 2);
  EXPECT_EQ(h.dirOffset, 0x01020304);
  EXPECT_EQ(h.dirEntries, 258);
}

TEST(FormatTest, FileEntryBytesRoundTrip) {
  VpDirEntry e;
  e.offset = 16;
  e.size = -2;  // crosses as its bit pattern
  ASSERT_TRUE(SetEntryName(&e, "ship.pof"));
  e.timestamp = 0x5f000001;
  std::string out;
  WriteEntry(&out, e);
  ASSERT_EQ(out.size(), kDirEntrySize);
  std::string expected = Bytes({16, 0, 0, 0, 0xfe, 0xff, 0xff, 0xff});
  expected += "ship.pof";
  expected += std::string(24, '\0');
  expected += Bytes({1, 0, 0, 0x5f});
  EXPECT_EQ(out, expected);

  VpDirEntry back = DecodeDirEntry(out.data());
  EXPECT_EQ(back.offset, 16);
  EXPECT_EQ(back.size, -2);
  EXPECT_EQ(EntryName(back), "ship.pof");
  EXPECT_EQ(back.timestamp, 0x5f000001);
  EXPECT_EQ(ClassifyEntry(back), EntryKind::kFile);
}

TEST(FormatTest, FolderAndUpEntryBytes) {
  std::string folder;
  WriteFolderEntry(&folder, "data", 116);
  std::string expected = Bytes({116, 0, 0, 0, 0, 0, 0, 0});
  expected += "data";
  expected += std::string(28, '\0');
  expected += Bytes({0, 0, 0, 0});
  EXPECT_EQ(folder, expected);
  EXPECT_EQ(ClassifyEntry(DecodeDirEntry(folder.data())), EntryKind::kFolder);

  std::string up;
  WriteUpEntry(&up, 76);
  expected = Bytes({76, 0, 0, 0, 0, 0, 0, 0, '.', '.', 0});
  expected += std::string(29, static_cast<char>(0xCC));
  expected += Bytes({0, 0, 0, 0});
  EXPECT_EQ(up, expected);
  EXPECT_EQ(ClassifyEntry(DecodeDirEntry(up.data())), EntryKind::kUp);
}

TEST(FormatTest, NamesAreBoundedAndMagicIgnoresCase) {
  VpDirEntry e;
  EXPECT_TRUE(SetEntryName(&e, std::string(31, 'a')));
  EXPECT_EQ(EntryName(e).size(), 31u);
  EXPECT_FALSE(SetEntryName(&e, std::string(32, 'b')));
  EXPECT_EQ(EntryName(e), std::string(31, 'a'));  // unchanged
  e.name.fill('z');                                // no NUL at all
  EXPECT_EQ(EntryName(e).size(), kNameFieldSize);

  EXPECT_TRUE(MagicMatches({'v', 'p', 'v', 'p'}));
  EXPECT_TRUE(MagicMatches({'V', 'p', 'V', 'p'}));
  EXPECT_FALSE(MagicMatches({'V', 'P', 'V', 'Q'}));
  // Only ASCII letters fold: 'P' ^ 0x20 would be 'p', '0' is not a letter.
  EXPECT_FALSE(MagicMatches({'V', 'P', 'V', '\x70' - 0x40}));

  // A zero-length file with time 0 is indistinguishable from a folder.
  VpDirEntry empty;
  ASSERT_TRUE(SetEntryName(&empty, "..x"));
  EXPECT_EQ(ClassifyEntry(empty), EntryKind::kUp);
  ASSERT_TRUE(SetEntryName(&empty, "empty.txt"));
  EXPECT_EQ(ClassifyEntry(empty), EntryKind::kFolder);
}

}  // namespace
}  // namespace quarrion
