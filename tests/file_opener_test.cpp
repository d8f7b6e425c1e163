// FileOpener: files opened ahead on a thread of their own arrive right, in
// the planned order or out of it, and the thread never holds more
// descriptors than its bound, even under a low limit on open files.
#if !defined(_WIN32)

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "host/host.h"
#include "test_util.h"

namespace quarrion {
namespace {

// `count` files in folders of 40 each, every file holding its own path.
std::vector<std::string> MakeFiles(const testing::TempDir& dir, int count) {
  std::vector<std::string> paths;
  for (int i = 0; i < count; ++i) {
    paths.push_back(dir.Join("f" + std::to_string(i / 40) + "/file" + std::to_string(i) + ".bin"));
    testing::WriteFile(paths.back(), paths.back());
  }
  return paths;
}

std::vector<const std::string*> Plan(const std::vector<std::string>& paths) {
  std::vector<const std::string*> plan;
  for (const std::string& p : paths) plan.push_back(&p);
  return plan;
}

// Opens `path` through `opener` and reads it whole; "" when it fails.
std::string OpenAndRead(host::FileOpener& opener, const std::string& path) {
  host::InputFile file;
  if (!opener.Open(path, &file).ok()) return "";
  std::string bytes(path.size() + 1, '\0');
  std::size_t got = 0;
  const bool read = file.ReadAt(0, bytes.data(), bytes.size(), &got).ok();
  opener.Close(&file);
  if (!read) return "";
  bytes.resize(got);
  return bytes;
}

// The open descriptors below `limit`.
int OpenDescriptors(int limit) {
  int open = 0;
  for (int fd = 0; fd < limit; ++fd) open += ::fcntl(fd, F_GETFD) != -1 ? 1 : 0;
  return open;
}

TEST(FileOpenerTest, APathOutOfThePlannedOrderEndsThePlanAndStillOpensTheRightFile) {
  testing::TempDir dir;
  const std::vector<std::string> paths = MakeFiles(dir, 200);
  host::FileOpener opener;
  opener.Expect(Plan(paths));
  for (int i = 0; i < 10; ++i) EXPECT_EQ(OpenAndRead(opener, paths[i]), paths[i]);
  EXPECT_EQ(OpenAndRead(opener, paths[150]), paths[150]);
  EXPECT_EQ(OpenAndRead(opener, paths[10]), paths[10]);
  EXPECT_EQ(OpenAndRead(opener, paths[151]), paths[151]);
  host::InputFile missing;
  const Status why = opener.Open(dir.Join("f0/none.bin"), &missing);
  EXPECT_EQ(why.code, Code::kNotFound);
  EXPECT_EQ(why.file, dir.Join("f0/none.bin"));
}

// In a child process limited to 64 open files: 500 planned files, each read
// right, and never more descriptors open than the bound allows beside the
// opener's own folder.
TEST(FileOpenerTest, ALowLimitOnOpenFilesKeepsTheThreadWithinItsBound) {
  testing::TempDir dir;
  const std::vector<std::string> paths = MakeFiles(dir, 500);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    constexpr int kLimit = 64;
    struct rlimit limit = {kLimit, kLimit};
    if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) ::_exit(10);
    const std::size_t bound = host::FileOpener::MostOpenAhead();
    if (bound == 0 || bound > kLimit / 2) ::_exit(11);
    const int before = OpenDescriptors(kLimit);
    int most = 0;
    {
      host::FileOpener opener;
      opener.Expect(Plan(paths));
      for (const std::string& path : paths) {
        if (OpenAndRead(opener, path) != path) ::_exit(12);
        most = std::max(most, OpenDescriptors(kLimit) - before);
      }
    }
    if (most > static_cast<int>(bound) + 1) ::_exit(13);
    if (OpenDescriptors(kLimit) != before) ::_exit(14);
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  // 11: no bound to test, 12: a file read wrong, 13: the bound passed,
  // 14: a descriptor left open.
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace quarrion

#endif
