#include "vp/format.h"

#include <gtest/gtest.h>

#include "test_util.h"

namespace quarrion {
namespace {

// The bytes of whole archives are pinned in the writer's tests; here what
// those do not reach: a negative size crosses as its bit pattern, a name
// takes at most 31 bytes, and only ASCII letters fold in the magic ('0' is
// 'p' without its 0x40 bit).
TEST(FormatTest, NegativeSizesLongNamesAndTheMagic) {
  std::string out;
  WriteEntry(&out, testing::Entry(16, -2, "ship.pof", 0x5f000001));
  EXPECT_EQ(out.substr(4, 4), "\xfe\xff\xff\xff");
  EXPECT_EQ(DecodeDirEntry(out.data()).size, -2);

  VpDirEntry e;
  EXPECT_TRUE(SetEntryName(&e, std::string(31, 'a')));
  EXPECT_FALSE(SetEntryName(&e, std::string(32, 'b')));
  EXPECT_EQ(EntryName(e), std::string(31, 'a'));  // unchanged

  EXPECT_TRUE(MagicMatches({'v', 'p', 'V', 'p'}));
  EXPECT_FALSE(MagicMatches({'V', 'P', 'V', '0'}));
}

}  // namespace
}  // namespace quarrion
