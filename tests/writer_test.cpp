#include "vp/writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "test_util.h"
#include "vp/format.h"
#include "vp/reader.h"

#if !defined(_WIN32)
#include <sys/resource.h>

#include <csignal>
#endif

namespace quarrion {
namespace {

using testing::TempDir;

std::string I32(std::uint32_t v) {
  std::string s;
  for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
  return s;
}

std::string FileEntry(std::uint32_t offset, std::uint32_t size, const std::string& name,
                      std::uint32_t time) {
  return I32(offset) + I32(size) + name + std::string(32 - name.size(), '\0') + I32(time);
}
std::string FolderEntry(std::uint32_t offset, const std::string& name) {
  return FileEntry(offset, 0, name, 0);
}
std::string UpEntry(std::uint32_t offset) {
  return I32(offset) + I32(0) + std::string("..\0", 3) + std::string(29, '\xcc') + I32(0);
}

FileRecord Record(const std::string& path, const std::string& folder, const std::string& name,
                  std::int32_t size, std::int32_t time = 1000) {
  FileRecord r;
  r.path = path;
  r.folder = folder;
  EXPECT_TRUE(SetEntryName(&r.entry, name));
  r.size = size;
  r.entry.timestamp = time;
  return r;
}

// A file on disk with `size` bytes of `fill`, and its record.
FileRecord DiskRecord(const TempDir& dir, const std::string& folder, const std::string& name,
                      std::int32_t size, char fill, std::int32_t time = 1000) {
  std::string onDisk = folder;
  std::replace(onDisk.begin(), onDisk.end(), '\\', '/');
  const std::string path = dir.Join("src/" + onDisk + "/" + name);
  testing::WriteFile(path, std::string(static_cast<std::size_t>(size), fill));
  return Record(path, folder, name, size, time);
}

bool Build(BuildList& list, const std::string& target, Status* why, std::string* console = nullptr,
           SourceArchives* archives = nullptr) {
  host::AtomicOutputFile out;
  std::ostringstream shown;
  const bool ok =
      out.Create(target, why) && WriteVp(list, out, shown, why, archives) && out.Commit(why);
  if (console != nullptr) *console = shown.str();
  return ok;
}

// The directory of an archive, one line per entry: "data/@offset",
// "..@offset", or "name@offset+size" for a file.
std::vector<std::string> Directory(const std::string& archive) {
  std::vector<std::string> out;
  const std::uint32_t offset = static_cast<std::uint32_t>(testing::Int32At(archive, 8));
  const std::int32_t count = testing::Int32At(archive, 12);
  for (std::int32_t i = 0; i < count; ++i) {
    const std::size_t at = offset + static_cast<std::size_t>(i) * kDirEntrySize;
    if (at + kDirEntrySize > archive.size()) break;
    VpDirEntry e = DecodeDirEntry(archive.data() + at);
    switch (ClassifyEntry(e)) {
      case EntryKind::kFolder:
        out.push_back(std::string(EntryName(e)) + "/@" + std::to_string(e.offset));
        break;
      case EntryKind::kUp:
        out.push_back("..@" + std::to_string(e.offset));
        break;
      case EntryKind::kFile:
        out.push_back(std::string(EntryName(e)) + "@" + std::to_string(e.offset) + "+" +
                      std::to_string(e.size));
        break;
    }
  }
  return out;
}

TEST(WriterTest, WritesTheExampleArchiveByteForByte) {
  TempDir dir;
  BuildList list;
  list.files = {DiskRecord(dir, "data\\tables", "a.tbl", 10, 'a', 101),
                DiskRecord(dir, "data\\models", "x.pof", 20, 'x', 102),
                DiskRecord(dir, "data\\models", "y.pof", 30, 'y', 103),
                DiskRecord(dir, "data", "z.wav", 40, 'z', 104)};
  Status why;
  std::string console;
  ASSERT_TRUE(Build(list, dir.Join("out.vp"), &why, &console)) << why.message;

  std::string expected = "VPVP" + I32(2) + I32(116) + I32(8);
  expected +=
      std::string(40, 'z') + std::string(20, 'x') + std::string(30, 'y') + std::string(10, 'a');
  expected += FolderEntry(56, "data");
  expected += FileEntry(16, 40, "z.wav", 104);
  expected += FolderEntry(76, "models");
  expected += FileEntry(56, 20, "x.pof", 102);
  expected += FileEntry(76, 30, "y.pof", 103);
  expected += UpEntry(116);
  expected += FolderEntry(116, "tables");
  expected += FileEntry(106, 10, "a.tbl", 101);
  EXPECT_EQ(testing::ReadFile(dir.Join("out.vp")), expected);
  EXPECT_EQ(console, "data\ndata\\models\ndata\\tables\n\n");
}

TEST(WriterTest, WritesTheOneFileArchiveAndNothingForAnEmptyList) {
  TempDir dir;
  BuildList list;
  list.files = {DiskRecord(dir, "data", "hello.txt", 5, 'h', 77)};
  Status why;
  ASSERT_TRUE(Build(list, dir.Join("one.vp"), &why)) << why.message;
  const std::string archive = testing::ReadFile(dir.Join("one.vp"));
  EXPECT_EQ(archive, "VPVP" + I32(2) + I32(21) + I32(2) + "hhhhh" + FolderEntry(21, "data") +
                         FileEntry(16, 5, "hello.txt", 77));
  EXPECT_EQ(archive.size(), 16u + 5u + 88u);

  BuildList empty;
  std::string console;
  ASSERT_TRUE(Build(empty, dir.Join("empty.vp"), &why, &console));
  EXPECT_TRUE(testing::FileExists(dir.Join("empty.vp")));
  EXPECT_EQ(testing::ReadFile(dir.Join("empty.vp")), "");
  EXPECT_EQ(console, "");
}

TEST(WriterTest, OpensAndClosesFoldersAtEveryChange) {
  TempDir dir;
  BuildList list;
  list.files = {
      DiskRecord(dir, "data\\tables", "t", 1, 't'),
      DiskRecord(dir, "data\\maps\\ships", "s", 2, 's'), DiskRecord(dir, "data\\maps", "m", 3, 'm'),
      DiskRecord(dir, "data\\maps", "n", 4, 'n'), DiskRecord(dir, "data\\maps\\x", "c", 5, 'c')};
  Status why;
  std::string console;
  ASSERT_TRUE(Build(list, dir.Join("out.vp"), &why, &console)) << why.message;
  const std::string archive = testing::ReadFile(dir.Join("out.vp"));
  // Folder and up entries carry the end of the data of the file after them.
  EXPECT_EQ(Directory(archive),
            (std::vector<std::string>{"data/@19", "maps/@19", "m@16+3", "n@19+4",
                                      // data\maps -> data\maps\ships: no up entry
                                      "ships/@25", "s@23+2",
                                      // data\maps\ships -> data\maps\x
                                      "..@30", "x/@30", "c@25+5",
                                      // data\maps\x -> data\tables: two up, one folder
                                      "..@31", "..@31", "tables/@31", "t@30+1"}));
  EXPECT_EQ(testing::Int32At(archive, 8), 31);
  EXPECT_EQ(testing::Int32At(archive, 12), 13);
  EXPECT_EQ(archive.size(), 31u + 13u * 44u);
  EXPECT_EQ(console, "data\\maps\ndata\\maps\\ships\ndata\\maps\\x\ndata\\tables\n\n");

  // The blank sorts before the backslash: data\maps x comes between
  // data\maps and data\maps\x, which opens maps a second time.
  BuildList blank;
  blank.files = {DiskRecord(dir, "data\\maps\\x", "c", 5, 'c'),
                 DiskRecord(dir, "data\\maps x", "b", 4, 'b'),
                 DiskRecord(dir, "data\\maps", "m", 3, 'm')};
  ASSERT_TRUE(Build(blank, dir.Join("blank.vp"), &why, &console)) << why.message;
  EXPECT_EQ(Directory(testing::ReadFile(dir.Join("blank.vp"))),
            (std::vector<std::string>{"data/@19", "maps/@19", "m@16+3", "..@23", "maps x/@23",
                                      "b@19+4", "..@28", "maps/@28", "x/@28", "c@23+5"}));
  EXPECT_EQ(console, "data\\maps\ndata\\maps x\ndata\\maps\\x\n\n");
}

TEST(WriterTest, NamesSortCaseSensitivelyAndRootFilesComeFirst) {
  TempDir dir;
  BuildList list;
  list.files = {DiskRecord(dir, "data\\maps", "a", 1, '1'),
                DiskRecord(dir, "data\\maps", "B", 2, '2'), DiskRecord(dir, "", "readme", 3, '3'),
                DiskRecord(dir, "data\\maps", "C", 4, '4'), DiskRecord(dir, "", "Zeta", 5, '5')};
  Status why;
  std::string console;
  ASSERT_TRUE(Build(list, dir.Join("out.vp"), &why, &console)) << why.message;
  const std::string archive = testing::ReadFile(dir.Join("out.vp"));
  EXPECT_EQ(Directory(archive),
            (std::vector<std::string>{"Zeta@16+5", "readme@21+3", "data/@26", "maps/@26", "B@24+2",
                                      "C@26+4", "a@30+1"}));
  EXPECT_EQ(testing::Int32At(archive, 12), 7);
  EXPECT_EQ(archive.substr(16, 15), "555553332244441");
  // Root records print no folder line.
  EXPECT_EQ(console, "data\\maps\n\n");
}

TEST(WriterTest, RefusedListLeavesTheTargetAlone) {
  TempDir dir;
  const std::string target = dir.Join("out.vp");
  testing::WriteFile(target, "old archive");
  BuildList list;
  list.files = {DiskRecord(dir, "data", "a", 1, 'a'),
                DiskRecord(dir, "data\\" + std::string(32, 'x'), "b", 1, 'b')};
  Status why;
  std::string console;
  EXPECT_FALSE(Build(list, target, &why, &console));
  EXPECT_EQ(why.code, Code::kNameTooLong);
  EXPECT_EQ(testing::ReadFile(target), "old archive");
  EXPECT_EQ(console, "");
}

TEST(WriterTest, SourceThatChangedOrVanishedFailsTheWholeWrite) {
  struct Case {
    std::string contents;  // what the file holds at write time; "-" for none
    Code code;
  };
  for (const Case& c :
       {Case{"abc", Code::kChanged}, Case{"abcdefg", Code::kChanged}, Case{"-", Code::kNotFound}}) {
    TempDir dir;
    const std::string target = dir.Join("out.vp");
    testing::WriteFile(target, "old archive");
    BuildList list;
    list.files = {DiskRecord(dir, "data", "first", 3, 'f'),
                  DiskRecord(dir, "data", "second", 5, 's')};
    const std::string path = list.files[1].path;
    if (c.contents == "-") {
      std::remove(path.c_str());
    } else {
      testing::WriteFile(path, c.contents);
    }
    Status why;
    EXPECT_FALSE(Build(list, target, &why)) << c.contents;
    EXPECT_EQ(why.code, c.code) << c.contents;
    EXPECT_NE(why.message.find(path), std::string::npos) << why.message;
    EXPECT_EQ(testing::ReadFile(target), "old archive");
    // No temporary file is left beside the target.
    std::vector<std::string> tree = {"out.vp", "src", "src/data", "src/data/first"};
    if (c.contents != "-") tree.push_back("src/data/second");
    EXPECT_EQ(testing::ListTree(dir.path()), tree);
  }
}

// Writes a source archive holding ship.pof twice (first in data\a) and a
// file of its own, and returns its path.
std::string MakeSourceArchive(const TempDir& dir) {
  BuildList list;
  list.files = {DiskRecord(dir, "data\\a", "ship.pof", 5, '1', 501),
                DiskRecord(dir, "data\\b", "ship.pof", 7, '2', 502),
                DiskRecord(dir, "data\\b", "other.tbl", 3, 'o', 503)};
  Status why;
  const std::string path = dir.Join("source.vp");
  EXPECT_TRUE(Build(list, path, &why)) << why.message;
  return path;
}

TEST(WriterTest, CopiesFromSourceArchivesEvenOverTheSourceItself) {
  TempDir dir;
  const std::string source = MakeSourceArchive(dir);
  // The name is looked up without regard to case; the first entry wins.
  BuildList list;
  list.files = {Record(source + ":Ship.POF", "data\\copied", "Ship.POF", 5, 501),
                Record(source + ":other.tbl", "data", "other.tbl", 3, 503),
                DiskRecord(dir, "data", "zz", 2, 'z')};
  Status why;
  SourceArchives archives;
  ASSERT_TRUE(Build(list, dir.Join("copy.vp"), &why, nullptr, &archives)) << why.message;
  const std::string copy = testing::ReadFile(dir.Join("copy.vp"));
  EXPECT_EQ(copy.substr(16, 10), "ooozz11111");
  EXPECT_EQ(Directory(copy), (std::vector<std::string>{"data/@19", "other.tbl@16+3", "zz@19+2",
                                                       "copied/@26", "Ship.POF@21+5"}));

  // Rebuilt over its own source, the archive still gets the old bytes.
  BuildList again;
  again.files = {Record(source + ":other.tbl", "data", "other.tbl", 3, 503),
                 Record(source + ":ship.pof", "data", "ship.pof", 5, 501)};
  ASSERT_TRUE(Build(again, source, &why, nullptr, &archives)) << why.message;
  const std::string rebuilt = testing::ReadFile(source);
  EXPECT_EQ(rebuilt.substr(16, 8), "ooo11111");
  EXPECT_EQ(Directory(rebuilt),
            (std::vector<std::string>{"data/@19", "other.tbl@16+3", "ship.pof@19+5"}));
}

TEST(WriterTest, SourceArchiveThatCannotServeFailsNamingIt) {
  TempDir dir;
  const std::string source = MakeSourceArchive(dir);
  testing::WriteFile(dir.Join("plain.vp"), "not an archive at all");
  // One entry whose data would run from byte 10 to byte 110 of a 60-byte file.
  testing::WriteFile(dir.Join("cut.vp"),
                     "VPVP" + I32(2) + I32(16) + I32(1) + FileEntry(10, 100, "big.pof", 5));
  struct Case {
    std::string path;
    std::string name;
    std::int32_t size;
    Code code;
  };
  const std::vector<Case> cases = {
      {dir.Join("missing.vp:ship.pof"), "ship.pof", 5, Code::kNotFound},
      {dir.Join("plain.vp:ship.pof"), "ship.pof", 5, Code::kNotVpArchive},
      {source + ":nothere.pof", "nothere.pof", 5, Code::kNoSuchEntry},
      {source + ":ship.pof", "ship.pof", 6, Code::kChanged},
      {dir.Join("cut.vp:big.pof"), "big.pof", 100, Code::kOutOfRange},
  };
  const std::string target = dir.Join("out.vp");
  testing::WriteFile(target, "old archive");
  for (const Case& c : cases) {
    BuildList list;
    list.files = {DiskRecord(dir, "data", "fine", 4, 'f'), Record(c.path, "data", c.name, c.size)};
    Status why;
    EXPECT_FALSE(Build(list, target, &why)) << c.path;
    EXPECT_EQ(why.code, c.code) << c.path;
    const std::string archivePath = c.path.substr(0, c.path.rfind(':'));
    EXPECT_NE(why.message.find(archivePath), std::string::npos) << why.message;
    EXPECT_EQ(testing::ReadFile(target), "old archive");
  }
  EXPECT_EQ(
      testing::ListTree(dir.path()),
      (std::vector<std::string>{"cut.vp", "out.vp", "plain.vp", "source.vp", "src", "src/data",
                                "src/data/a", "src/data/a/ship.pof", "src/data/b",
                                "src/data/b/other.tbl", "src/data/b/ship.pof", "src/data/fine"}));
}

#if !defined(_WIN32)
// A file-size limit makes the output fail part-way, as a full disk would.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    ::getrlimit(RLIMIT_FSIZE, &old_);
    struct rlimit lower = old_;
    lower.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &lower);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &old_);
    std::signal(SIGXFSZ, oldHandler_);
  }

 private:
  struct rlimit old_ {};
  void (*oldHandler_)(int) = SIG_DFL;
};

TEST(WriterTest, FullDiskFailsAndKeepsTheOldArchive) {
  TempDir dir;
  const std::string target = dir.Join("out.vp");
  testing::WriteFile(target, "old archive");
  BuildList many;
  for (int i = 0; i < 200; ++i) {
    many.files.push_back(DiskRecord(dir, "data\\many", "f" + std::to_string(i), 1, 'm'));
  }
  // The limit strikes once while a large file is copied, once while the
  // directory (200 entries, 8 KiB) is written.
  struct Case {
    std::int32_t bigSize;
    rlim_t limit;
  };
  for (const Case& c : {Case{300000, 64 * 1024}, Case{0, 4096}}) {
    BuildList list = many;
    list.files.push_back(DiskRecord(dir, "data", "big", c.bigSize, 'b'));
    Status why;
    {
      FileSizeLimit limit(c.limit);
      EXPECT_FALSE(Build(list, target, &why)) << c.bigSize;
    }
    EXPECT_EQ(why.code, Code::kIoError) << why.message;
    EXPECT_NE(why.message.find(target), std::string::npos) << why.message;
    EXPECT_EQ(testing::ReadFile(target), "old archive");
    for (const std::string& entry : testing::ListTree(dir.path())) {
      EXPECT_EQ(entry.find("out.vp."), std::string::npos) << entry;
    }
  }
}
#endif

}  // namespace
}  // namespace quarrion
