#include "host/host.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "host/extract.h"
#include "test_util.h"

#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace quarrion {
namespace {

TEST(HostTest, InputFileReadsRegularFilesOnlyAndListingsReadEveryStatus) {
  testing::TempDir dir;
  testing::WriteFile(dir.Join("maps/c.pof"), "hello world");
  host::InputFile f;
  Status why;
  ASSERT_TRUE((why = f.Open(dir.path() + "\\maps\\c.pof")).ok());  // a backslash separates folders
  EXPECT_EQ(f.size(), 11);
  host::FileInfo info;
  ASSERT_TRUE(host::StatPath(dir.path() + "\\maps", &info).ok());
  EXPECT_EQ(info.kind, host::FileKind::kFolder);

  host::InputFile other;
  EXPECT_FALSE((why = other.Open(dir.path())).ok());
  EXPECT_EQ(why.code, Code::kNotRegular);
  EXPECT_FALSE((why = other.Open(dir.Join("none"))).ok());
  EXPECT_EQ(why.code, Code::kNotFound);
#if !defined(_WIN32)
  // A FIFO is refused without blocking on it.
  ASSERT_EQ(::mkfifo(dir.Join("fifo").c_str(), 0600), 0);
  EXPECT_FALSE((why = other.Open(dir.Join("fifo"))).ok());
  EXPECT_EQ(why.code, Code::kNotRegular);
  ASSERT_EQ(::symlink("maps/c.pof", dir.Join("link").c_str()), 0);
#endif
  testing::WriteFile(dir.Join("top.bin"), "t");

  // A listing reads the status of every entry, through links.
  std::vector<host::FolderEntry> entries;
  host::FolderLister lister;
  ASSERT_TRUE((why = lister.List(dir.path(), &entries)).ok());
  std::vector<std::string> seen;
  for (const host::FolderEntry& e : entries) {
    seen.push_back(e.name + ":" + std::to_string(static_cast<int>(e.info.kind)) + ":" +
                   std::to_string(e.info.size));
  }
  std::sort(seen.begin(), seen.end());
  std::vector<std::string> want{"maps:2:", "top.bin:1:1"};
#if !defined(_WIN32)
  want = {"fifo:3:0", "link:1:11", "maps:2:", "top.bin:1:1"};
#endif
  ASSERT_EQ(seen.size(), want.size());
  for (std::size_t i = 0; i < want.size(); ++i) EXPECT_EQ(seen[i].rfind(want[i], 0), 0u) << seen[i];
}

#if defined(_WIN32)
TEST(HostTest, DriveLetterPathsAndDeviceNamesOnWindows) {
  testing::TempDir dir;
  testing::WriteFile(dir.Join("maps/c.pof"), "12345");
  std::string top = dir.path();  // "C:/...": the drive letter first
  std::replace(top.begin(), top.end(), '/', '\\');
  ASSERT_EQ(top[1], ':');

  host::FileInfo info;
  ASSERT_TRUE(host::StatPath(top + "\\maps\\c.pof", &info).ok());
  EXPECT_EQ(info.size, 5);
  std::vector<host::FolderEntry> entries;
  host::FolderLister lister;
  ASSERT_TRUE(lister.List(top + "\\", &entries).ok());  // a separator at the end
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, "maps");
  Status why;
  EXPECT_FALSE((why = lister.List(top + "\\maps\\c.pof", &entries)).ok());
  EXPECT_EQ(why.file, top + "\\maps\\c.pof");

  // A device name looks like a file in any folder; it is never read.
  host::InputFile device;
  for (const std::string& name : {std::string("NUL"), top + "\\NUL"}) {
    EXPECT_FALSE((why = device.Open(name)).ok()) << name;
    EXPECT_EQ(why.code, Code::kNotRegular) << name;
    EXPECT_NE(host::StatPath(name, &info).ok() ? info.kind : host::FileKind::kMissing,
              host::FileKind::kFolder)
        << name;
  }
}
#endif

// The writer's tests see a committed file replace the target and a failed
// write leave it alone; here a target the host cannot replace.
TEST(AtomicOutputFileTest, DiscardedWithoutCommitAndNoFolderAsTarget) {
  testing::TempDir dir;
  const std::string target = dir.Join("out.vp");
  testing::WriteFile(target, "old contents");
  {
    host::AtomicOutputFile out;
    ASSERT_TRUE(out.Create(target).ok());
    ASSERT_TRUE(out.Write("abc").ok());
  }
  EXPECT_EQ(testing::ReadFile(target), "old contents");
  EXPECT_EQ(testing::ListTree(dir.path()), std::vector<std::string>{"out.vp"});
  host::AtomicOutputFile bad;
  EXPECT_FALSE(bad.Create(dir.path()).ok());
}

// Inside an open folder: a source that ends early fails naming the source
// and leaves the old file and no temporary, or no file where there was none
// (made at its name on POSIX); a whole copy replaces the file or makes it,
// with its bytes and time; a name that is not one plain name is refused.
TEST(AtomicOutputFileTest, InAFolderReplacesOnlyWhatWasWrittenWhole) {
  testing::TempDir dir;
  testing::WriteFile(dir.Join("out/a.bin"), "old");
  testing::WriteFile(dir.Join("src.bin"), "0123456789");
  host::InputFile src;
  ASSERT_TRUE(src.Open(dir.Join("src.bin")).ok());
  host::ExtractFolder folder;
  ASSERT_TRUE(folder.OpenRoot(dir.Join("out")).ok());

  host::AtomicOutputFile out;
  ASSERT_TRUE(out.Create(folder, "a.bin").ok());
  Status why = out.CopyFrom(src, 4, 10);
  EXPECT_EQ(why.code, Code::kChanged);
  EXPECT_EQ(why.file, dir.Join("src.bin"));
  out.Discard();
  EXPECT_EQ(testing::ReadFile(dir.Join("out/a.bin")), "old");
  EXPECT_EQ(folder.WriteFile("new.bin", src, 4, 10, 1).code, Code::kChanged);
  EXPECT_EQ(testing::ListTree(dir.Join("out")), std::vector<std::string>{"a.bin"});

  for (const char* name : {"a.bin", "new.bin"}) {
    ASSERT_TRUE(folder.WriteFile(name, src, 2, 5, 1000000000).ok());
    EXPECT_EQ(testing::ReadFile(dir.Join("out/") + name), "23456");
    host::FileInfo info;
    ASSERT_TRUE(host::StatPath(dir.Join("out/") + name, &info).ok());
    EXPECT_EQ(info.mtime, 1000000000);
  }

  EXPECT_EQ(out.Create(folder, "..").code, Code::kBadFolder);
  EXPECT_EQ(testing::ListTree(dir.Join("out")), (std::vector<std::string>{"a.bin", "new.bin"}));
}

}  // namespace
}  // namespace quarrion
