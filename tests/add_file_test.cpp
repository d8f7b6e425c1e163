#include "buildlist/add_file.h"

#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <string>

#include "buildlist/build_list.h"
#include "test_util.h"
#include "vp/format.h"
#include "vp/reader.h"

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

// ship.pof twice (data\a first, size 3), then "cut" whose data run past the end.
std::string SourceArchive() {
  std::string a;
  WriteHeader(&a, HeaderValues{2, 16 + 7, 7});
  a += "abcdefg";
  WriteFolderEntry(&a, "data", 16);
  WriteFolderEntry(&a, "a", 16);
  WriteEntry(&a, Entry(16, 3, "ship.pof", 1111));
  WriteUpEntry(&a, 19);
  WriteFolderEntry(&a, "b", 19);
  WriteEntry(&a, Entry(19, 4, "ship.pof", 2222));
  WriteEntry(&a, Entry(19, 400, "cut.tbl", 3333));
  return a;
}

class AddFileTest : public ::testing::Test {
 protected:
  TempDir dir_;
  BuildList list_;
};

TEST_F(AddFileTest, DiskFileGivesSizeTimeAndKeepsArgumentsVerbatim) {
  const std::string path = dir_.Join("ships.tbl");
  WriteFile(path, "12345");
  testing::SetMTime(path, 1234567890);
  WriteFile(dir_.Join("empty"), "");

  Status why;
  ASSERT_TRUE(AddFile(list_, "ships.tbl", path, "data\\tables\\", &why)) << why.message;
  // An empty name and folder are accepted; a 31-byte name is stored whole.
  ASSERT_TRUE(AddFile(list_, "", dir_.Join("empty"), ""));
  const std::string longest(31, 'x');
  ASSERT_TRUE(AddFile(list_, longest, path, "d"));

  ASSERT_EQ(list_.size(), 3u);
  EXPECT_EQ(list_[0].name(), "ships.tbl");
  EXPECT_EQ(list_[0].path, path);
  EXPECT_EQ(list_[0].folder, "data\\tables\\");
  EXPECT_EQ(list_[0].size, 5);
  EXPECT_EQ(list_[0].entry.timestamp, 1234567890);
  EXPECT_EQ(list_[1].name(), "");
  EXPECT_EQ(list_[1].folder, "");
  EXPECT_EQ(list_[1].size, 0);
  EXPECT_EQ(list_[2].name(), longest);
}

TEST_F(AddFileTest, TimesOutsideThirtyTwoBitsAreClamped) {
  const std::string path = dir_.Join("f");
  WriteFile(path, "x");
  testing::SetMTime(path, 5000000000LL);
  ASSERT_TRUE(AddFile(list_, "late", path, "data"));
  testing::SetMTime(path, -100);
  ASSERT_TRUE(AddFile(list_, "early", path, "data"));
  EXPECT_EQ(list_[0].entry.timestamp, 0x7fffffff);
  EXPECT_EQ(list_[1].entry.timestamp, 0);
}

TEST_F(AddFileTest, RefusalsLeaveTheListAloneAndSayWhy) {
  WriteFile(dir_.Join("keep"), "k");
  ASSERT_TRUE(AddFile(list_, "keep", dir_.Join("keep"), "data"));

#if !defined(_WIN32)
  const std::string fifo = dir_.Join("pipe");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  ::symlink("nowhere", dir_.Join("broken").c_str());
#endif
  const std::string sparse = dir_.Join("huge.bin");
  WriteFile(sparse, "");
  std::filesystem::resize_file(sparse, std::uintmax_t{1} << 31);
  const std::string justFits = dir_.Join("fits.bin");
  WriteFile(justFits, "");
  std::filesystem::resize_file(justFits, (std::uintmax_t{1} << 31) - 1);

  struct Case {
    const char* what;
    std::string name;
    std::string path;
    Code code;
  };
  const Case cases[] = {
    {"missing file", "x", dir_.Join("missing.tbl"), Code::kNotFound},
    {"folder", "x", dir_.path(), Code::kNotRegular},
#if !defined(_WIN32)
    {"FIFO (must not block)", "pipe", fifo, Code::kNotRegular},
    {"broken link", "broken", dir_.Join("broken"), Code::kNotFound},
#endif
    {"name of 32 bytes", std::string(32, 'n'), dir_.Join("keep"), Code::kNameTooLong},
    {"2^31 bytes", "huge.bin", sparse, Code::kTooLarge},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Status why;
    EXPECT_FALSE(AddFile(list_, c.name, c.path, "data", &why));
    EXPECT_EQ(why.code, c.code);
    // "<path>: <reason>", and the reason alone for a line that names the path.
    EXPECT_EQ(why.message.rfind(c.path + ": ", 0), 0u) << why.message;
    EXPECT_EQ(AddFailureReason(why, c.path), why.message.substr(c.path.size() + 2));
    EXPECT_FALSE(AddFailureReason(why, c.path).empty());
    ASSERT_EQ(list_.size(), 1u);
    EXPECT_EQ(list_[0].name(), "keep");
  }

  ASSERT_TRUE(AddFile(list_, "fits.bin", justFits, "data"));
  EXPECT_EQ(list_[1].size, 0x7fffffff);
}

TEST_F(AddFileTest, DuplicatesAreAppendedAndTheLastIsRemovedFirst) {
  WriteFile(dir_.Join("one"), "1");
  WriteFile(dir_.Join("two"), "22");
  ASSERT_TRUE(AddFile(list_, "Readme.txt", dir_.Join("one"), "data"));
  ASSERT_TRUE(AddFile(list_, "Readme.txt", dir_.Join("two"), "data"));
  ASSERT_TRUE(RemoveFile(list_, "Readme.txt", "data"));
  ASSERT_EQ(list_.size(), 1u);
  EXPECT_EQ(list_[0].size, 1);
}

TEST_F(AddFileTest, ReferenceTakesSizeAndTimeOfTheFirstEntryOfTheName) {
  // A folder with a colon in its name: only the last colon ends the archive.
  // Windows names hold no colon; there the drive's colon comes first.
#if defined(_WIN32)
  const std::string archive = dir_.Join("pack.vp");
#else
  const std::string archive = dir_.Join("a:b/pack.vp");
#endif
  WriteFile(archive, SourceArchive());
  SourceArchives archives;
  for (SourceArchives* cache : {static_cast<SourceArchives*>(nullptr), &archives}) {
    BuildList list;
    Status why;
    // The text after the colon is not used; the name is, without case.
    ASSERT_TRUE(AddFile(list, "SHIP.pof", archive + ":whatever", "data\\x", &why, cache))
        << why.message;
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].size, 3);
    EXPECT_EQ(list[0].entry.timestamp, 1111);
    EXPECT_EQ(list[0].path, archive + ":whatever");
    EXPECT_EQ(list[0].name(), "SHIP.pof");
  }
}

TEST_F(AddFileTest, ReferenceRefusals) {
  const std::string archive = dir_.Join("pack.vp");
  WriteFile(archive, SourceArchive());
  WriteFile(dir_.Join("text.vp"), "just some text, no archive");
  WriteFile(dir_.Join("v3.vp"), std::string("VPVP\3\0\0\0", 8) + std::string(8, '\0'));

  struct Case {
    const char* what;
    std::string name;
    std::string path;
    Code code;
    std::string words;
  };
  const Case cases[] = {
      {"archive missing", "ship.pof", dir_.Join("gone.vp") + ":ship.pof", Code::kNotFound,
       "archive " + dir_.Join("gone.vp")},
      {"not an archive", "ship.pof", dir_.Join("text.vp") + ":ship.pof", Code::kNotVpArchive,
       "not a VP archive"},
      {"wrong version", "ship.pof", dir_.Join("v3.vp") + ":ship.pof", Code::kNotVpArchive,
       "not a VP archive"},
      {"no such entry", "ship", archive + ":ship", Code::kNoSuchEntry, "holds no file named"},
      {"data past the end", "cut.tbl", archive + ":cut.tbl", Code::kOutOfRange, "outside"},
      {"name too long", std::string(32, 's'), archive + ":x", Code::kNameTooLong, "31 bytes"},
  };
  SourceArchives archives;
  for (const Case& c : cases) {
    for (SourceArchives* cache : {static_cast<SourceArchives*>(nullptr), &archives}) {
      SCOPED_TRACE(std::string(c.what) + (cache ? ", cached" : ""));
      Status why;
      EXPECT_FALSE(AddFile(list_, c.name, c.path, "data", &why, cache));
      EXPECT_EQ(why.code, c.code);
      EXPECT_EQ(why.message.rfind(c.path + ": ", 0), 0u) << why.message;
      EXPECT_NE(AddFailureReason(why, c.path).find(c.words), std::string_view::npos) << why.message;
      EXPECT_EQ(list_.size(), 0u);
    }
  }
}

TEST_F(AddFileTest, CapitalMarkerIsAPathOnDisk) {
  // On this host a file may carry the colon in its name: it is read from disk.
  const std::string path = dir_.Join("pack.VP:ship.pof");
  WriteFile(path, "on disk");
  Status why;
  ASSERT_TRUE(AddFile(list_, "ship.pof", path, "data", &why)) << why.message;
  EXPECT_EQ(list_[0].size, 7);
}

TEST_F(AddFileTest, SetVpPathMovesReferencesOnly) {
  auto record = [&](const std::string& path) {
    FileRecord r;
    r.path = path;
    list_.files.push_back(r);
  };
  record("c:\\old\\pack.vp:ship.pof");
  record("pack.vp:ship.pof");
  record("/old/pack.vp:ship.pof");
  record("c:\\data\\pack.vpx:a.tbl");
  record("c:\\data\\ships.tbl");
  record("c:\\old\\PACK.VP:ship.pof");

  BuildList withSlash = list_;
  SetVpPath(withSlash, "d:\\new\\");
  BuildList without = list_;
  SetVpPath(without, "d:\\new");
  for (const BuildList* l : {&withSlash, &without}) {
    EXPECT_EQ((*l)[0].path, "d:\\new\\pack.vp:ship.pof");
    EXPECT_EQ((*l)[1].path, "d:\\new\\pack.vp:ship.pof");
    EXPECT_EQ((*l)[2].path, "d:\\new\\pack.vp:ship.pof");
    EXPECT_EQ((*l)[3].path, "c:\\data\\pack.vpx:a.tbl");
    EXPECT_EQ((*l)[4].path, "c:\\data\\ships.tbl");
    EXPECT_EQ((*l)[5].path, "c:\\old\\PACK.VP:ship.pof");
  }
  BuildList posix = list_;
  SetVpPath(posix, "/new");
  EXPECT_EQ(posix[2].path, "/new\\pack.vp:ship.pof");
  BuildList empty = list_;
  SetVpPath(empty, "");
  EXPECT_EQ(empty[0].path, "\\pack.vp:ship.pof");
}

TEST_F(AddFileTest, MovedReferenceResolvesOnThisHost) {
  WriteFile(dir_.Join("old/pack.vp"), SourceArchive());
  ASSERT_TRUE(AddFile(list_, "ship.pof", dir_.Join("old/pack.vp") + ":ship.pof", "data"));
  std::filesystem::create_directory(dir_.Join("new"));
  std::filesystem::rename(dir_.Join("old/pack.vp"), dir_.Join("new/pack.vp"));
  SetVpPath(list_, dir_.Join("new"));
  EXPECT_EQ(list_[0].path, dir_.Join("new") + "\\pack.vp:ship.pof");
  BuildList again;
  Status why;
  EXPECT_TRUE(AddFile(again, "ship.pof", list_[0].path, "data", &why)) << why.message;
}

}  // namespace
}  // namespace quarrion
