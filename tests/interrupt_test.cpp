// Interruptions of the real program: SIGINT, SIGTERM and SIGHUP in the
// middle of writing an archive or extracting a large file remove the
// temporary file, leave the target as it was, and end the program with 128 +
// the signal number.
#if !defined(_WIN32)

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "test_util.h"

namespace quarrion {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::WriteFile;

// The names in `folder` that begin with `prefix`.
std::vector<std::string> NamesBeginningWith(const std::string& folder, const std::string& prefix) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(folder, ec)) {
    const std::string name = e.path().filename().string();
    if (name.starts_with(prefix)) names.push_back(name);
  }
  return names;
}

// Runs the program and sends it `sig` while a name beginning with `temp`
// exists in `folder`. The program is stopped first and the name looked for
// again, so the signal always lands before the temporary file was renamed
// into place, never after the write was done. Its exit status, or -2 when
// the run ended before its temporary file was seen.
int Interrupt(const std::vector<std::string>& args, const std::string& folder,
              const std::string& temp, int sig, const testing::TempDir& io) {
  const int pid = testing::StartQuarrionBinary(args, io.Join("out"), io.Join("err"));
  for (int status = 0; ::waitpid(pid, &status, WNOHANG) != pid; ::usleep(100)) {
    if (NamesBeginningWith(folder, temp).empty()) continue;
    ::kill(pid, SIGSTOP);
    // Stopped: a name still there now was not renamed yet.
    const bool there = !NamesBeginningWith(folder, temp).empty();
    if (there) ::kill(pid, sig);
    ::kill(pid, SIGCONT);
    const int exit = testing::WaitQuarrionBinary(pid);
    return there ? exit : -2;
  }
  return -2;
}

// A file of `size` bytes that takes no room on the disk.
void SparseFile(const std::string& path, const std::string& head, std::int64_t size,
                const std::string& tail = "") {
  WriteFile(path, head);
  fs::resize_file(path, static_cast<std::uintmax_t>(size));
  std::ofstream(path, std::ios::binary | std::ios::app) << tail;
}

TEST(InterruptTest, ASignalDuringAWriteRemovesTheTemporaryFileAndKeepsTheTarget) {
  testing::TempDir dir;
  const std::string archive = dir.Join("out.vp");
  const std::string target = dir.Join("x");
  const std::string oldArchive = testing::ArchiveBuilder().File("old", "old").Bytes();
  // A run that ends before its temporary file was seen runs again with more data.
  const std::int64_t kSizes[] = {256 << 20, 1 << 30, 2000ll << 20};
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    for (bool extract : {false, true}) {
      const std::string what = (extract ? "extract, signal " : "pack, signal ") + std::to_string(sig);
      int status = -2;
      for (std::size_t attempt = 0; status == -2; ++attempt) {
        ASSERT_LT(attempt, std::size(kSizes)) << what << ": every run ended before the signal";
        const std::int64_t size = kSizes[attempt];
        WriteFile(archive, oldArchive);
        WriteFile(target + "/big", "old big");
        testing::TempDir io;
        if (extract) {
          // One file whose data are all zeros: the header, a hole, the directory.
          const std::string bytes =
              testing::ArchiveBuilder()
                  .Add(testing::Entry(16, static_cast<std::int32_t>(size), "big"))
                  .Bytes(2, static_cast<std::int32_t>(16 + size), 1);
          SparseFile(dir.Join("big.vp"), bytes.substr(0, 16), 16 + size, bytes.substr(16));
          status = Interrupt({"-extract", dir.Join("big.vp"), target}, target, ".big.tmp-", sig, io);
        } else {
          SparseFile(dir.Join("data/big.bin"), "", size);
          status = Interrupt({"-dir", dir.Join("data"), "-o", archive}, dir.path(), "out.vp.tmp-",
                             sig, io);
        }
      }
      EXPECT_EQ(status, 128 + sig) << what;
      EXPECT_EQ(NamesBeginningWith(dir.path(), "out.vp.tmp-"), std::vector<std::string>{}) << what;
      EXPECT_EQ(testing::ListTree(target), std::vector<std::string>{"big"}) << what;
      EXPECT_TRUE(ReadFile(archive) == oldArchive) << what << ": the archive changed";
      EXPECT_EQ(ReadFile(target + "/big"), "old big") << what;
    }
  }
}

}  // namespace
}  // namespace quarrion

#endif
