// Interruptions of the real program: SIGINT, SIGTERM, SIGHUP and SIGPIPE in
// the middle of writing an archive or extracting a large file remove the
// temporary file (or the new file made at its name), leave the target as it
// was, and end the program with 128 + the signal number; a write beyond the
// limit on file sizes fails and removes what it wrote.
#if !defined(_WIN32)

#include "interrupt/interrupt.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/coverage.h"
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
// into place, never after the write was done. SIGPIPE comes as it does in
// `quarrion ... | head`: standard output is a pipe whose reader goes away,
// and the program's next line raises it.
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
      // Stopped: a name still there now was not renamed yet.
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

// A file of `size` bytes that takes no room on the disk.
void SparseFile(const std::string& path, const std::string& head, std::int64_t size,
                const std::string& tail = "") {
  WriteFile(path, head);
  fs::resize_file(path, static_cast<std::uintmax_t>(size));
  std::ofstream(path, std::ios::binary | std::ios::app) << tail;
}

// An archive of one file "big" of `size` zero bytes: the header, a hole, the
// directory.
void SparseArchive(const std::string& path, std::int64_t size) {
  const std::string bytes = testing::ArchiveBuilder()
                                .Add(testing::Entry(16, static_cast<std::int32_t>(size), "big"))
                                .Bytes(2, static_cast<std::int32_t>(16 + size), 1);
  SparseFile(path, bytes.substr(0, 16), 16 + size, bytes.substr(16));
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

  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
    for (const char* mode : {"pack", "extract", "extract new"}) {
      const bool extract = mode != std::string("pack");
      // Extraction prints nothing while it writes a file, so a closed
      // output shows only after the file is done.
      if (extract && sig == SIGPIPE) continue;
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
          SparseArchive(dir.Join("big.vp"), size);
          r = Interrupt({"-extract", dir.Join("big.vp"), target}, target,
                        fresh ? "big" : ".big.tmp-", sig, io);
        } else {
          SparseFile(dir.Join("data/big.bin"), "", size);
          r = Interrupt({"-dir", dir.Join("data"), "-o", archive}, dir.path(), "out.vp.tmp-", sig,
                        io);
        }
        // Not sent, or (SIGPIPE) sent after the last line was printed.
        if (!r.sent || (sig == SIGPIPE && r.status == 0)) {
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

// A write past the limit on file sizes (ulimit -f), with SIGXFSZ at its
// default, fails naming the file and removes what it wrote: a temporary file,
// or a file made at its name. With SIGPIPE ignored, output that no one reads
// fails the run without leaving anything behind.
TEST(InterruptTest, AFileSizeLimitOrALostOutputFailsTheRunAndLeavesNoPartWrittenFile) {
  testing::TempDir dir;
  const std::string archive = dir.Join("out.vp");
  const std::string target = dir.Join("x");
  // Far past the limit, which leaves room for what else the program writes
  // (a coverage build's profile).
  constexpr std::int64_t kLimit = 16 << 20;
  SparseFile(dir.Join("data/big.bin"), "", 2 * kLimit);
  SparseArchive(dir.Join("big.vp"), 2 * kLimit);
  const std::string oldArchive = testing::ArchiveBuilder().File("old", "old").Bytes();
  const std::vector<std::string> pack = {"-dir", dir.Join("data"), "-o", archive};
  const std::vector<std::string> extract = {"-extract", dir.Join("big.vp"), target};
  const std::vector<std::string> diff = {"-diff", archive, archive};
  struct Case {
    const char* what;
    std::vector<std::string> args;
    std::int64_t fileBytes;
    bool pipeIgnored;
    const char* oldBig;   // what x/big holds before ("" none, and none after)
    std::string said;     // on standard error
    bool archiveWritten;  // out.vp replaced
    int status = 1;
  };
  const std::string tooLarge = ": file too large for the file system or the file size limit";
  const Case cases[] = {
      {"pack past the limit", pack, kLimit, false, "", "could not write " + archive + tooLarge,
       false},
      {"extract a new file past the limit", extract, kLimit, false, "",
       "could not extract big: " + target + "/big" + tooLarge, false},
      {"extract over a file past the limit", extract, kLimit, false, "old big",
       "could not extract big: " + target + "/big" + tooLarge, false},
      {"pack with SIGPIPE ignored and no reader", pack, 0, true, "",
       "quarrion: could not write to standard output\n", true},
      {"-diff with SIGPIPE ignored and no reader", diff, 0, true, "",
       "quarrion: could not write to standard output\n", false, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFile(archive, oldArchive);
    fs::remove_all(target);
    fs::create_directory(target);
    if (*c.oldBig != '\0') WriteFile(target + "/big", c.oldBig);
    testing::TempDir io;
    const int pid = testing::StartQuarrionBinary(c.args, c.pipeIgnored ? "" : io.Join("out"),
                                                 io.Join("err"), 0, c.fileBytes, c.pipeIgnored);
    EXPECT_EQ(testing::WaitQuarrionBinary(pid), c.status);
    EXPECT_NE(ReadFile(io.Join("err")).find(c.said), std::string::npos) << ReadFile(io.Join("err"));
    EXPECT_EQ(ReadFile(archive) != oldArchive, c.archiveWritten);
    EXPECT_EQ(NamesBeginningWith(dir.path(), "out.vp."), std::vector<std::string>{});
    EXPECT_EQ(testing::ListTree(target),
              *c.oldBig == '\0' ? std::vector<std::string>{} : std::vector<std::string>{"big"});
    EXPECT_EQ(ReadFile(target + "/big"), c.oldBig);
  }
}

// A name registered by a thread that holds interruptions back, as
// extraction registers a name before it learns that the name is taken, and
// an interruption that another thread takes meanwhile: the handler waits
// for the holder to let go, so the file that held the name stays.
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

}  // namespace
}  // namespace quarrion

#endif
