#include "pack/layout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "test_util.h"

namespace quarrion {
namespace {

using testing::Record;

// The selection sort the order is defined by, written out plainly (strings
// compare their bytes unsigned).
void ReferenceSort(std::vector<FileRecord>& files) {
  auto key = [](const FileRecord& r) { return std::pair(std::string_view(r.folder), r.name()); };
  for (std::size_t m = files.size(); m > 0; --m) {
    std::size_t b = 0;
    for (std::size_t j = 0; j < m; ++j) {
      if (key(files[b]) < key(files[j])) b = j;
    }
    std::swap(files[b], files[m - 1]);
  }
}

TEST(LayoutTest, OrderMatchesTheSelectionSortOnRandomLists) {
  // Few distinct folders and names, so that equal records are common; bytes
  // above 0x7f, blanks and upper case test the unsigned, case-sensitive order.
  const std::vector<std::string> folders = {
      "",           "data",          "data\\maps", "data\\maps x",
      "data\\Maps", "data\\maps\\x", "d\xe9ta",    "data\\m"};
  const std::vector<std::string> names = {"a", "B", "a.pof", "ab", "\xff", "A", "b b", ""};
  std::mt19937 rng(12345);
  for (int round = 0; round < 1000; ++round) {
    std::size_t n = (round % 50 == 0) ? 400 + rng() % 200 : rng() % 40;
    BuildList list;
    for (std::size_t i = 0; i < n; ++i) {
      list.files.push_back(Record(folders[rng() % folders.size()], names[rng() % names.size()], 1,
                                  std::to_string(i)));
    }
    std::vector<FileRecord> expected = list.files;
    ReferenceSort(expected);
    SortFiles(list);
    for (std::size_t i = 0; i < n; ++i) {
      ASSERT_EQ(list.files[i].path, expected[i].path) << "round " << round << " position " << i;
    }
  }
}

TEST(LayoutTest, RefusesFoldersTheDirectoryCannotHoldAndArchivesPastTwoGigabytes) {
  struct Case {
    std::string folder;
    Code code;
    std::string words;
  } const cases[] = {
      {"\\data", Code::kBadFolder, "has an empty component"},
      {"data\\", Code::kBadFolder, "has an empty component"},
      {"data\\" + std::string(32, 'x'), Code::kNameTooLong, "is longer than 31 bytes"},
      {"data\\..", Code::kBadFolder, "begins with \"..\""},  // it would read as an up entry
      {"data/maps", Code::kBadFolder, "the folder component \"data/maps\" holds a slash"},
  };
  for (const Case& c : cases) {
    BuildList list;
    list.files = {Record("data", "fine"), Record(c.folder, "x.pof")};
    const Status why = CheckLayout(list, LayoutTree(list));
    EXPECT_EQ(why.code, c.code) << c.folder;
    EXPECT_EQ(why.Message().rfind(c.folder + "\\x.pof: ", 0), 0u) << why.Message();
    EXPECT_NE(why.Message().find(c.words), std::string::npos) << why.Message();
  }
  BuildList fits;
  fits.files = {Record("data\\" + std::string(31, 'x') + "\\.x", "a")};
  EXPECT_TRUE(CheckLayout(fits, LayoutTree(fits)).ok());

  // Data ending exactly at 2^31-1 still fit; one byte more does not.
  BuildList list;
  list.files = {Record("data", "a", 0x40000000), Record("data", "b", 0x3fffffff - 16)};
  Layout layout = LayoutTree(list);
  EXPECT_TRUE(CheckLayout(list, layout).ok());
  EXPECT_EQ(layout.header.dirOffset, 0x7fffffff);

  list.files.push_back(Record("data", "c", 1));
  list.files.push_back(Record("data", "d", 5));
  layout = LayoutTree(list);
  const Status why = CheckLayout(list, layout);
  EXPECT_EQ(why.code, Code::kTooLarge);
  EXPECT_EQ(why.Message().rfind("data\\c: ", 0), 0u) << why.Message();
  EXPECT_EQ(layout.dataSize, 0x80000000LL - 16 + 5);
}

}  // namespace
}  // namespace quarrion
