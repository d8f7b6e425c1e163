#include <gtest/gtest.h>

#include <algorithm>

#include "host/host.h"
#include "test_util.h"

#if !defined(_WIN32)
#include <sys/stat.h>
#include <sys/types.h>
#endif

namespace quarrion {
namespace {

using testing::TempDir;

TEST(HostTest, BackslashPathsMeetTheFileSystem) {
  TempDir dir;
  testing::WriteFile(dir.Join("maps/c.pof"), "12345");
  const std::string recorded = dir.path() + "\\maps\\c.pof";
  host::FileInfo info;
  ASSERT_TRUE(host::StatPath(recorded, &info, nullptr));
  EXPECT_EQ(info.kind, host::FileKind::kRegular);
  EXPECT_EQ(info.size, 5);
  EXPECT_TRUE(host::IsFolder(dir.path() + "\\maps"));
  EXPECT_FALSE(host::IsFolder(recorded));

  std::vector<std::string> names;
  testing::WriteFile(dir.Join(".hidden"), "");
  ASSERT_TRUE(host::ListFolder(dir.path(), &names, nullptr));
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{".hidden", "maps"}));

  Status why;
  EXPECT_FALSE(host::ListFolder(dir.Join("missing"), &names, &why));
  EXPECT_EQ(why.code, Code::kNotFound);
  EXPECT_NE(why.message.find("missing"), std::string::npos);
}

TEST(HostTest, InputFileReadsRegularFilesOnly) {
  TempDir dir;
  testing::WriteFile(dir.Join("a.bin"), "hello world");
  host::InputFile f;
  Status why;
  ASSERT_TRUE(f.Open(dir.Join("a.bin"), &why));
  EXPECT_EQ(f.size(), 11);
  char buf[32];
  std::size_t got = 0;
  ASSERT_TRUE(f.ReadAt(6, buf, sizeof buf, &got, &why));
  EXPECT_EQ(std::string(buf, got), "world");

  host::InputFile folder;
  EXPECT_FALSE(folder.Open(dir.path(), &why));
  EXPECT_EQ(why.code, Code::kNotRegular);
  EXPECT_FALSE(folder.Open(dir.Join("none"), &why));
  EXPECT_EQ(why.code, Code::kNotFound);
#if !defined(_WIN32)
  // A FIFO is refused without blocking on it.
  ASSERT_EQ(::mkfifo(dir.Join("fifo").c_str(), 0600), 0);
  host::InputFile fifo;
  EXPECT_FALSE(fifo.Open(dir.Join("fifo"), &why));
  EXPECT_EQ(why.code, Code::kNotRegular);
#endif
}

TEST(HostTest, TimesAreClampedToThirtyTwoBits) {
  EXPECT_EQ(host::ClampTime(-5), 0);
  EXPECT_EQ(host::ClampTime(0x80000000LL), 0x7fffffff);
  EXPECT_EQ(host::ClampTime(1234), 1234);
}

TEST(AtomicOutputFileTest, ReplacesTheTargetOnlyOnCommit) {
  TempDir dir;
  const std::string target = dir.Join("out.vp");
  testing::WriteFile(target, "old contents");
  testing::WriteFile(dir.Join("src"), std::string(300000, 's'));
  {
    host::AtomicOutputFile out;
    ASSERT_TRUE(out.Create(target, nullptr));
    ASSERT_TRUE(out.Write("abc", nullptr));
    // Nothing committed yet: the target still holds what it held.
    EXPECT_EQ(testing::ReadFile(target), "old contents");
  }  // discarded
  EXPECT_EQ(testing::ReadFile(target), "old contents");
  EXPECT_EQ(testing::ListTree(dir.path()), (std::vector<std::string>{"out.vp", "src"}));

  host::AtomicOutputFile out;
  ASSERT_TRUE(out.Create(target, nullptr));
  ASSERT_TRUE(out.Write("HEAD", nullptr));
  host::InputFile src;
  ASSERT_TRUE(src.Open(dir.Join("src"), nullptr));
  ASSERT_TRUE(out.CopyFrom(src, 10, 200000, nullptr));
  ASSERT_TRUE(out.Write("tail", nullptr));
  ASSERT_TRUE(out.WriteAt(0, "head", 4, nullptr));
  EXPECT_EQ(out.position(), 4 + 200000 + 4);
  ASSERT_TRUE(out.Commit(nullptr));
  EXPECT_EQ(testing::ReadFile(target), "head" + std::string(200000, 's') + "tail");
  EXPECT_EQ(testing::ListTree(dir.path()), (std::vector<std::string>{"out.vp", "src"}));
}

TEST(AtomicOutputFileTest, ShortSourceIsAnErrorNamingIt) {
  TempDir dir;
  testing::WriteFile(dir.Join("src"), "12345");
  host::AtomicOutputFile out;
  ASSERT_TRUE(out.Create(dir.Join("out"), nullptr));
  host::InputFile src;
  ASSERT_TRUE(src.Open(dir.Join("src"), nullptr));
  Status why;
  EXPECT_FALSE(out.CopyFrom(src, 0, 10, &why));
  EXPECT_EQ(why.code, Code::kChanged);
  EXPECT_NE(why.message.find(dir.Join("src")), std::string::npos);

  host::AtomicOutputFile bad;
  EXPECT_FALSE(bad.Create(dir.Join("no/such/folder/out"), &why));
  EXPECT_FALSE(bad.Create(dir.path(), &why));  // a folder is no target
}

}  // namespace
}  // namespace quarrion
