#include <gtest/gtest.h>

#include "buildlist/build_list.h"
#include "host/host.h"

namespace quarrion {
namespace {

FileRecord Record(const std::string& name, const std::string& folder, std::int32_t size,
                  std::int32_t time) {
  FileRecord r;
  EXPECT_TRUE(SetEntryName(&r.entry, name));
  r.folder = folder;
  r.path = "c:\\src\\" + folder + "\\" + name;
  r.size = size;
  r.entry.timestamp = time;
  return r;
}

TEST(BuildListTest, DefaultsAndResetKeepVersionTwo) {
  BuildList list;
  EXPECT_EQ(list.header.version, 2);
  EXPECT_EQ(list.header.dirOffset, 0);
  EXPECT_EQ(list.header.dirEntries, 0);

  FileRecord fresh;
  EXPECT_EQ(fresh.size, 0);
  EXPECT_EQ(fresh.entry.offset, 0);
  EXPECT_EQ(fresh.name(), "");
  EXPECT_NEAR(fresh.entry.timestamp, host::NowSeconds(), 5);

  list.files.push_back(Record("a", "data", 1, 1));
  list.dirs.push_back(DirNode{"data", {"data"}, 1});
  list.fileCount = 1;
  list.dirEntryCount = 2;
  list.dataSize = 1;
  list.header.dirOffset = 17;
  list.header.dirEntries = 4;
  list.Reset();
  EXPECT_EQ(list.size(), 0u);
  EXPECT_TRUE(list.dirs.empty());
  EXPECT_EQ(list.fileCount, 0);
  EXPECT_EQ(list.dirEntryCount, 0);
  EXPECT_EQ(list.dataSize, 0);
  EXPECT_EQ(list.header.version, 2);
  EXPECT_EQ(list.header.dirOffset, 17);  // until the next layout
  list.Reset();
  EXPECT_EQ(list.size(), 0u);
}

TEST(BuildListTest, DuplicatesRemovedLastFirstAndRecordsKeepTheirFields) {
  BuildList list;
  list.files.push_back(Record("Readme.txt", "data", 10, 100));
  list.files.push_back(Record("x.tbl", "data\\tables", 20, 200));
  list.files.push_back(Record("Readme.txt", "data", 30, 300));
  for (int i = 0; i < 100; ++i) list.files.push_back(Record("f" + std::to_string(i), "d", i, i));

  // Case-sensitive on both name and folder, and a trailing backslash differs.
  EXPECT_EQ(FindFile(list, "readme.txt", "data"), -1);
  EXPECT_EQ(FindFile(list, "Readme.txt", "Data"), -1);
  EXPECT_EQ(FindFile(list, "Readme.txt", "data\\"), -1);
  EXPECT_EQ(FindFile(list, "Readme.txt", "data"), 2);

  ASSERT_TRUE(RemoveFile(list, "Readme.txt", "data"));
  EXPECT_EQ(FindFile(list, "Readme.txt", "data"), 0);
  EXPECT_EQ(list[0].size, 10);  // the earlier one stays
  ASSERT_TRUE(RemoveFile(list, "Readme.txt", "data"));
  EXPECT_FALSE(RemoveFile(list, "Readme.txt", "data"));

  // Every record moved forward keeps its own fields.
  ASSERT_EQ(list.size(), 101u);
  EXPECT_EQ(list[0].name(), "x.tbl");
  EXPECT_EQ(list[0].entry.timestamp, 200);
  EXPECT_EQ(list[0].size, 20);
  EXPECT_EQ(list[0].path, "c:\\src\\data\\tables\\x.tbl");
  EXPECT_EQ(list[0].folder, "data\\tables");
  for (int i = 0; i < 100; ++i) {
    const FileRecord& r = list[static_cast<std::size_t>(i) + 1];
    EXPECT_EQ(r.name(), "f" + std::to_string(i));
    EXPECT_EQ(r.entry.timestamp, i);
    EXPECT_EQ(r.size, i);
  }
  ASSERT_TRUE(RemoveFile(list, "f99", "d"));  // the last: nothing moves
  EXPECT_EQ(list.size(), 100u);
  EXPECT_EQ(list[99].name(), "f98");
}

}  // namespace
}  // namespace quarrion
