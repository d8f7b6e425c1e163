#include "buildlist/build_list.h"

#include <gtest/gtest.h>

#include "test_util.h"

namespace quarrion {
namespace {

using testing::Record;

// "rm" takes the last record of a name and folder, both compared byte for
// byte, and keeps the order of the others.
TEST(BuildListTest, RemoveTakesTheLastRecordOfANameAndFolder) {
  BuildList list;
  list.files = {Record("data", "Readme.txt", 10, "one"), Record("data\\tables", "x.tbl", 20),
                Record("data", "Readme.txt", 30, "two")};
  EXPECT_FALSE(RemoveFile(list, "readme.txt", "data"));
  EXPECT_FALSE(RemoveFile(list, "Readme.txt", "Data"));
  EXPECT_FALSE(RemoveFile(list, "Readme.txt", "data\\"));
  ASSERT_TRUE(RemoveFile(list, "Readme.txt", "data"));
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].path, "one");
  EXPECT_EQ(list[1].name(), "x.tbl");
}

}  // namespace
}  // namespace quarrion
