#include "buildlist/build_list.h"

#include <gtest/gtest.h>

#include "test_util.h"

namespace quarrion {
namespace {

using testing::Record;

TEST(BuildListTest, FindAndRemoveTakeTheLastRecordOfANameAndFolder) {
  BuildList list;
  list.files.push_back(Record("data", "Readme.txt", 10, "one"));
  list.files.push_back(Record("data\\tables", "x.tbl", 20, "c:\\x.tbl", 200));
  list.files.push_back(Record("data", "Readme.txt", 30, "two"));
  // Case-sensitive on both name and folder, and a trailing backslash differs.
  EXPECT_EQ(FindFile(list, "readme.txt", "data"), -1);
  EXPECT_EQ(FindFile(list, "Readme.txt", "Data"), -1);
  EXPECT_EQ(FindFile(list, "Readme.txt", "data\\"), -1);
  EXPECT_EQ(FindFile(list, "Readme.txt", "data"), 2);

  ASSERT_TRUE(RemoveFile(list, "Readme.txt", "data"));
  EXPECT_EQ(list[0].entry.size, 10);  // the earlier one stays
  ASSERT_TRUE(RemoveFile(list, "Readme.txt", "data"));
  EXPECT_FALSE(RemoveFile(list, "Readme.txt", "data"));
  // The record moved forward keeps all its fields.
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].folder + "|" + std::string(list[0].name()) + "|" + list[0].path,
            "data\\tables|x.tbl|c:\\x.tbl");
  EXPECT_EQ(list[0].entry.size + list[0].entry.timestamp, 220);
}

}  // namespace
}  // namespace quarrion
