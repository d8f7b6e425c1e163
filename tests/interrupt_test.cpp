// Interruptions of the real program (SIGINT, SIGTERM, SIGHUP, SIGPIPE) and the
// limit on file sizes: whatever was being written is removed, the target kept.
#include "interrupt/interrupt.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "test_util.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace quarrion {
namespace {

#if !defined(_WIN32)

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::WriteFile;

// The names in `folder` (none when it is missing) that begin with `prefix`.
std::vector<std::string> NamesBeginningWith(const std::string& folder, const std::string& prefix) {
  std::vector<std::string> names;
  std::error_code ec;
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

// Runs the program and sends it `sig` while a name beginning with `temp` is in
// `folder`, checked again with the program stopped, so the signal lands before
// the rename. SIGPIPE comes as in `quarrion ... | head`: the reader goes away.
Interruption Interrupt(const std::vector<std::string>& args, const std::string& folder,
                       const std::string& temp, int sig, const testing::TempDir& io) {
  int reader = -1;
  if (sig == SIGPIPE) {
    EXPECT_EQ(::mkfifo(io.Join("out").c_str(), 0600), 0);
    reader = ::open(io.Join("out").c_str(), O_RDONLY | O_NONBLOCK);
  }
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
      if (!NamesBeginningWith(folder, temp).empty()) {
        sig == SIGPIPE ? ::close(std::exchange(reader, -1)) : ::kill(pid, sig);
        result.sent = true;
      }
      ::kill(pid, SIGCONT);
      break;
    }
    ::usleep(100);
  }
  result.status = testing::WaitQuarrionBinary(pid);
  if (reader >= 0) ::close(reader);
  return result;
}

// Sparse files taking no room on the disk: data/big.bin of `size` bytes, and
// big.vp, an archive of one file "big" of `size` zero bytes.
void SparseFiles(const testing::TempDir& dir, std::int64_t size) {
  WriteFile(dir.Join("data/big.bin"), "");
  fs::resize_file(dir.Join("data/big.bin"), static_cast<std::uintmax_t>(size));
  const std::string bytes = testing::ArchiveBuilder()
                                .Add(testing::Entry(16, static_cast<std::int32_t>(size), "big"))
                                .Bytes(2, static_cast<std::int32_t>(16 + size), 1);
  WriteFile(dir.Join("big.vp"), bytes.substr(0, 16));
  fs::resize_file(dir.Join("big.vp"), static_cast<std::uintmax_t>(16 + size));
  std::ofstream(dir.Join("big.vp"), std::ios::binary | std::ios::app) << bytes.substr(16);
}

// Packing, extracting over a file (through a temporary file) and extracting a
// new file (made at its name) end with 128 + the signal and leave the target.
TEST(InterruptTest, ASignalDuringAWriteRemovesTheFileBeingWrittenAndKeepsTheTarget) {
  testing::TempDir dir;
  const std::string archive = dir.Join("out.vp");
  const std::string target = dir.Join("x");
  const std::string oldArchive = testing::ArchiveBuilder().File("old", "old").Bytes();
  // A run that ends before its temporary file is seen is run again with more data.
  const std::int64_t kSizes[] = {256 << 20, 1 << 30, 2000ll << 20};
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
    for (const std::string mode : {"pack", "extract", "extract new"}) {
      // Extraction prints nothing while it writes: a closed output shows only after.
      if (mode != "pack" && sig == SIGPIPE) continue;
      const bool fresh = mode == "extract new";
      SCOPED_TRACE(mode + ", signal " + std::to_string(sig));
      for (std::size_t attempt = 0;; ++attempt) {
        ASSERT_LT(attempt, std::size(kSizes)) << "every run ended before the signal";
        const std::int64_t size = kSizes[attempt];
        WriteFile(archive, oldArchive);
        fs::remove(target + "/big");
        if (!fresh) WriteFile(target + "/big", "old big");
        SparseFiles(dir, size);
        testing::TempDir io;
        const Interruption r = mode == "pack"
                                   ? Interrupt({"-dir", dir.Join("data"), "-o", archive},
                                               dir.path(), "out.vp.tmp-", sig, io)
                                   : Interrupt({"-extract", dir.Join("big.vp"), target}, target,
                                               fresh ? "big" : ".big.tmp-", sig, io);
        // Not sent, or (SIGPIPE) sent after the last line was printed.
        if (!r.sent || (sig == SIGPIPE && r.status == 0)) {
          ASSERT_EQ(r.status, 0) << ReadFile(io.Join("err"));
          continue;
        }
        EXPECT_EQ(r.status, 128 + sig) << ReadFile(io.Join("err"));
        EXPECT_EQ(NamesBeginningWith(dir.path(), "out.vp.tmp-"), std::vector<std::string>{});
        EXPECT_TRUE(ReadFile(archive) == oldArchive) << "the archive changed";
        // A new file is gone, or whole when the signal came after it was written.
        const std::vector<std::string> left = testing::ListTree(target);
        EXPECT_EQ(left, fresh && left.empty() ? left : std::vector<std::string>{"big"});
        if (!fresh) {
          EXPECT_EQ(ReadFile(target + "/big"), "old big");
        } else if (!left.empty()) {
          EXPECT_EQ(fs::file_size(target + "/big"), static_cast<std::uintmax_t>(size));
        }
        break;
      }
    }
  }
}

// A write past ulimit -f (SIGXFSZ at its default) fails naming the file and
// removes what it wrote; with SIGPIPE ignored, output no one reads fails the run.
TEST(InterruptTest, AFileSizeLimitOrALostOutputFailsTheRunAndLeavesNoPartWrittenFile) {
  testing::TempDir dir;
  const std::string archive = dir.Join("out.vp");
  const std::string target = dir.Join("x");
  // The files are twice the limit, which leaves room for what else is written
  // (a coverage profile).
  constexpr std::int64_t kLimit = 16 << 20;
  SparseFiles(dir, 2 * kLimit);
  const std::string oldArchive = testing::ArchiveBuilder().File("old", "old").Bytes();
  const std::vector<std::string> pack = {"-dir", dir.Join("data"), "-o", archive};
  const std::vector<std::string> extract = {"-extract", dir.Join("big.vp"), target};
  const std::string tooLarge = ": file too large for the file system or the file size limit";
  const std::string bigTooLarge = "could not extract big: " + target + "/big" + tooLarge;
  const std::string lost = "quarrion: could not write to standard output\n";
  struct Case {
    const char* what;
    std::vector<std::string> args;
    bool pipeIgnored;     // else files are limited to kLimit bytes
    const char* oldBig;   // what x/big holds before and after ("" none)
    std::string said;     // on standard error
    bool archiveWritten;  // out.vp replaced
    int status;
  } const cases[] = {
      {"pack past the limit", pack, false, "", "could not write " + archive + tooLarge, false, 1},
      {"extract a new file past the limit", extract, false, "", bigTooLarge, false, 1},
      {"extract over a file past the limit", extract, false, "old big", bigTooLarge, false, 1},
      {"pack, SIGPIPE ignored, no reader", pack, true, "", lost, true, 1},
      {"-diff, SIGPIPE ignored, no reader", {"-diff", archive, archive}, true, "", lost, false, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFile(archive, oldArchive);
    fs::remove_all(target);
    fs::create_directory(target);
    if (*c.oldBig != '\0') WriteFile(target + "/big", c.oldBig);
    testing::TempDir io;
    const int pid =
        testing::StartQuarrionBinary(c.args, c.pipeIgnored ? "" : io.Join("out"), io.Join("err"), 0,
                                     c.pipeIgnored ? 0 : kLimit, c.pipeIgnored);
    EXPECT_EQ(testing::WaitQuarrionBinary(pid), c.status);
    EXPECT_NE(ReadFile(io.Join("err")).find(c.said), std::string::npos) << ReadFile(io.Join("err"));
    EXPECT_EQ(ReadFile(archive) != oldArchive, c.archiveWritten);
    EXPECT_EQ(NamesBeginningWith(dir.path(), "out.vp."), std::vector<std::string>{});
    EXPECT_EQ(testing::ListTree(target),
              *c.oldBig == '\0' ? std::vector<std::string>{} : std::vector<std::string>{"big"});
    EXPECT_EQ(ReadFile(target + "/big"), c.oldBig);
  }
}

// A thread holding interruptions back registers a name (as extraction does
// before it learns the name is taken) while another takes SIGTERM: the handler
// waits for the holder to let go, so the file that held the name stays.
TEST(InterruptTest, AnInterruptionWaitsForTheThreadsThatHoldThemBack) {
  testing::TempDir dir;
  WriteFile(dir.Join("taken"), "kept");
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    interrupt::InstallInterruptHandlers();
    std::atomic<bool> holding{false};
    std::thread holder([&] {
      interrupt::InterruptsHeld held;
      interrupt::RemoveOnInterrupt name;
      if (!name.Set(interrupt::RemoveOnInterrupt::kNoFolder, dir.Join("taken")).ok()) ::_exit(10);
      holding = true;
      ::usleep(200000);
    });
    while (!holding) ::usleep(1000);
    ::pthread_kill(::pthread_self(), SIGTERM);
    holder.join();
    ::_exit(11);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + SIGTERM) << status;
  EXPECT_EQ(ReadFile(dir.Join("taken")), "kept");
}

#else  // Windows: the console handler removes what was registered

// A name is registered in UTF-8, a path past MAX_PATH in its \\?\ form, as
// the output file registers its temporary file; the handler removes it.
TEST(InterruptTest, TheHandlerRemovesRegisteredFilesOfAnyName) {
  testing::TempDir dir;
  const std::string path = dir.Join("\xE6\x97\xA5\xE6\x9C\xAC " + std::string(240, 'x') + ".tmp");
  testing::WriteFile(path, "x");
  ASSERT_TRUE(testing::FileExists(path));
  std::string registered = "\\\\?\\" + path;
  std::replace(registered.begin(), registered.end(), '/', '\\');
  interrupt::RemoveOnInterrupt name;
  ASSERT_TRUE(name.Set(interrupt::RemoveOnInterrupt::kNoFolder, registered).ok());
  interrupt::RemoveRegisteredFiles();
  EXPECT_FALSE(testing::FileExists(path));
}

#endif

}  // namespace
}  // namespace quarrion
