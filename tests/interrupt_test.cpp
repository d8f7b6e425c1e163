// Interruptions of the real program: SIGINT, SIGTERM and SIGHUP in the
// middle of writing an archive or extracting a large file remove the
// temporary file (or the new file made at its name), leave the target as it
// was, and end the program with 128 + the signal number.
#if !defined(_WIN32)

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
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
  std::error_code ec;  // a folder that is not there holds none
  for (const auto& e : fs::directory_iterator(folder, ec)) {
    const std::string name = e.path().filename().string();
    if (name.rfind(prefix, 0) == 0) names.push_back(name);
  }
  return names;
}

struct Interruption {
  bool sent = false;  // false: the run ended before its temporary file was seen
  int status = -1;    // the exit status; -1 when a signal ended it
};

// Runs the program and sends it `sig` while a name beginning with `temp`
// exists in `folder`. The program is stopped first and the name looked for
// again, so the signal always lands before the temporary file was renamed
// into place, never after the write was done.
Interruption Interrupt(const std::vector<std::string>& args, const std::string& folder,
                       const std::string& temp, int sig, const testing::TempDir& io) {
  const int pid = testing::StartQuarrionBinary(args, io.Join("out"), io.Join("err"));
  Interruption result;
  for (;;) {
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid) {
      result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      return result;
    }
    if (!NamesBeginningWith(folder, temp).empty()) {
      ::kill(pid, SIGSTOP);
      // Stopped: a name still there now was not renamed yet.
      if (!NamesBeginningWith(folder, temp).empty()) {
        ::kill(pid, sig);
        result.sent = true;
      }
      ::kill(pid, SIGCONT);
      break;
    }
    ::usleep(100);
  }
  result.status = testing::WaitQuarrionBinary(pid);
  return result;
}

// A file of `size` bytes that takes no room on the disk.
void SparseFile(const std::string& path, const std::string& head, std::int64_t size,
                const std::string& tail = "") {
  WriteFile(path, head);
  fs::resize_file(path, static_cast<std::uintmax_t>(size));
  std::ofstream(path, std::ios::binary | std::ios::app) << tail;
}

// Packing, extracting over an existing file (through a temporary file) and
// extracting a new file (made at its name).
TEST(InterruptTest, ASignalDuringAWriteRemovesTheFileBeingWrittenAndKeepsTheTarget) {
  testing::TempDir dir;
  const std::string archive = dir.Join("out.vp");
  const std::string target = dir.Join("x");
  const std::string oldArchive = testing::ArchiveBuilder().File("old", "old").Bytes();
  // Each run is stopped soon after its temporary file appears; one that ends
  // before that is run again with more data.
  const std::int64_t kSizes[] = {256 << 20, 1 << 30, 2000ll << 20};

  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    for (const char* mode : {"pack", "extract", "extract new"}) {
      const bool extract = mode != std::string("pack");
      const bool fresh = mode == std::string("extract new");
      const std::string what = std::string(mode) + ", signal " + std::to_string(sig);
      for (std::size_t attempt = 0;; ++attempt) {
        ASSERT_LT(attempt, std::size(kSizes)) << what << ": every run ended before the signal";
        const std::int64_t size = kSizes[attempt];
        WriteFile(archive, oldArchive);
        WriteFile(target + "/big", "old big");
        if (fresh) fs::remove(target + "/big");
        Interruption r;
        testing::TempDir io;
        if (extract) {
          // One file whose data are all zeros: the header, a hole, the directory.
          const std::string bytes =
              testing::ArchiveBuilder()
                  .Add(testing::Entry(16, static_cast<std::int32_t>(size), "big"))
                  .Bytes(2, static_cast<std::int32_t>(16 + size), 1);
          SparseFile(dir.Join("big.vp"), bytes.substr(0, 16), 16 + size, bytes.substr(16));
          r = Interrupt({"-extract", dir.Join("big.vp"), target}, target,
                        fresh ? "big" : ".big.tmp-", sig, io);
        } else {
          SparseFile(dir.Join("data/big.bin"), "", size);
          r = Interrupt({"-dir", dir.Join("data"), "-o", archive}, dir.path(), "out.vp.tmp-", sig,
                        io);
        }
        if (!r.sent) {
          ASSERT_EQ(r.status, 0) << what << ": " << ReadFile(io.Join("err"));
          continue;
        }
        EXPECT_EQ(r.status, 128 + sig) << what << ": " << ReadFile(io.Join("err"));
        EXPECT_EQ(NamesBeginningWith(dir.path(), "out.vp.tmp-"), std::vector<std::string>{})
            << what;
        EXPECT_TRUE(ReadFile(archive) == oldArchive) << what << ": the archive changed";
        if (fresh) {
          // Gone, unless the signal came after the whole file was written.
          const std::vector<std::string> left = testing::ListTree(target);
          EXPECT_TRUE(left.empty() ||
                      (left == std::vector<std::string>{"big"} &&
                       static_cast<std::int64_t>(fs::file_size(target + "/big")) == size))
              << what << ": a part-written file is left";
        } else {
          EXPECT_EQ(testing::ListTree(target), std::vector<std::string>{"big"}) << what;
          EXPECT_EQ(ReadFile(target + "/big"), "old big") << what;
        }
        break;
      }
    }
  }
}

}  // namespace
}  // namespace quarrion

#endif
