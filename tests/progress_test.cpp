// The progress line of a long write: what it draws and when, how the
// writer drives it around its console lines, and that the real program
// shows it on a terminal and nowhere else.
#include "shell/progress.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "buildlist/add_file.h"
#include "test_util.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#endif

namespace quarrion {
namespace {

using testing::TempDir;

constexpr std::int64_t kMiB = 1024 * 1024;

std::string Erase(std::size_t width) { return "\r" + std::string(width, ' ') + "\r"; }

TEST(ProgressLineTest, DrawsAtOnceThenAFewTimesASecondAndErasesAtTheEnd) {
  double now = 100;
  std::ostringstream err;
  std::size_t seen = 0;
  auto fresh = [&] {
    std::string s = err.str().substr(seen);
    seen = err.str().size();
    return s;
  };
  {
    ProgressLine line(err, [&] { return now; });
    line.Begin(40 * kMiB, 40);
    const std::string first = "0 B of 40.0 MiB, 0 of 40 files";
    EXPECT_EQ(fresh(), "\r" + first);

    now += 0.1;
    line.Advance(kMiB, 1);
    EXPECT_EQ(fresh(), "") << "too soon after the last redraw";

    now = 101;
    line.Advance(20 * kMiB, 20);
    const std::string second = "20.0 MiB of 40.0 MiB, 20 of 40 files, 20.0 MiB/s, 0:01 left";
    EXPECT_EQ(fresh(), "\r" + second);

    // Hidden for a console line, and back at the next step without waiting.
    line.Hide();
    EXPECT_EQ(fresh(), Erase(second.size()));
    line.Hide();
    EXPECT_EQ(fresh(), "");
    now += 0.01;
    line.Advance(21 * kMiB, 21);
    EXPECT_EQ(fresh(), "\r21.0 MiB of 40.0 MiB, 21 of 40 files, 20.8 MiB/s, 0:01 left");

    // A shorter text covers what the longer one left.
    now = 110;
    line.Advance(30 * kMiB, 30);
    EXPECT_EQ(fresh(), "\r30.0 MiB of 40.0 MiB, 30 of 40 files, 3.0 MiB/s, 0:03 left ");

    line.Finish();
    EXPECT_EQ(fresh(), Erase(second.size()));
    line.Advance(4 * kMiB, 4);
    EXPECT_EQ(fresh(), "") << "nothing after the end";
  }
  EXPECT_EQ(fresh(), "") << "erased once only";

  // Destroyed while shown (a failed write): erased.
  {
    ProgressLine line(err, [&] { return now; });
    line.Begin(10, 1);
  }
  const std::string only = "0 B of 10 B, 0 of 1 files";
  EXPECT_EQ(fresh(), "\r" + only + Erase(only.size()));
}

TEST(ProgressLineTest, SizesAndDurations) {
  EXPECT_EQ(ByteText(1023), "1023 B");
  EXPECT_EQ(ByteText(1536), "1.5 KiB");
  EXPECT_EQ(ByteText(150 * 1024), "150 KiB");
  EXPECT_EQ(DurationText(3725), "1:02:05");
  EXPECT_EQ(DurationText(std::nan("")), "0:00");  // no rate yet
  EXPECT_EQ(DurationText(1e12), "99:59:59");
  // The widest line still fits a console of 80 columns.
  EXPECT_LE(ProgressLine::Text(2047 * kMiB, 2047 * kMiB, 48000000, 48000000, 1).size(), 79u);
}

// Records the writer's calls in the same stream as its console lines.
class RecordingProgress : public WriteProgress {
 public:
  explicit RecordingProgress(std::ostream& log) : log_(log) {}
  void Begin(std::int64_t totalBytes, std::int64_t totalFiles) override {
    log_ << "[begin " << totalBytes << " " << totalFiles << "]";
  }
  void Advance(std::int64_t doneBytes, std::int64_t doneFiles) override {
    log_ << "[" << doneBytes << " " << doneFiles << "]";
  }
  void Hide() override { log_ << "[hide]"; }

 private:
  std::ostream& log_;
};

TEST(ProgressLineTest, WriterReportsEachFileAndHidesTheLineForItsConsoleLines) {
  TempDir dir;
  BuildList list;
  for (auto [folder, name, bytes] :
       {std::tuple<const char*, const char*, const char*>{"data", "a.tbl", "12345"},
        {"data", "b.tbl", "678"},
        {"data\\maps", "c.map", "9"}}) {
    const std::string path = dir.Join(name);
    testing::WriteFile(path, bytes);
    ASSERT_TRUE(AddFile(list, name, path, folder));
  }
  host::AtomicOutputFile out;
  ASSERT_TRUE(out.Create(dir.Join("out.vp"), nullptr));
  std::ostringstream console;
  RecordingProgress progress(console);
  Status why;
  ASSERT_TRUE(WriteVp(list, out, console, &why, nullptr, &progress)) << why.message;
  EXPECT_EQ(console.str(), "[begin 9 3][hide]data\n[5 1][8 2][hide]data\\maps\n[9 3][hide]\n");
}

#if !defined(_WIN32)

// Runs the program with standard error on a pseudo-terminal and standard
// output into `outFile`. Returns what the terminal received.
std::string RunWithTerminalStderr(const std::vector<std::string>& args, const std::string& outFile,
                                  int* status) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return "no pty";
  const std::string slaveName = ::ptsname(master);
  // Held open here too, so the terminal keeps what the program wrote after
  // it has exited.
  const int slave = ::open(slaveName.c_str(), O_RDWR | O_NOCTTY);
  std::vector<std::string> argvStrings = {QUARRION_BINARY};
  argvStrings.insert(argvStrings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argvStrings) argv.push_back(a.data());
  argv.push_back(nullptr);

  const pid_t pid = ::fork();
  if (pid == 0) {
    const int in = ::open("/dev/null", O_RDONLY);
    const int out = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(slave, 2);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  int raw = 0;
  ::waitpid(pid, &raw, 0);
  *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;

  std::string got;
  ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
  char buf[4096];
  for (;;) {
    const ssize_t n = ::read(master, buf, sizeof buf);
    if (n > 0) {
      got.append(buf, static_cast<std::size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      break;
    }
  }
  ::close(slave);
  ::close(master);
  return got;
}

TEST(ProgressProgramTest, LineShownOnATerminalAndAbsentWhenStderrIsAFile) {
  TempDir dir;
  const std::string data = dir.Join("data");
  for (int i = 0; i < 20; ++i) {
    testing::WriteFile(data + "/f" + std::to_string(i) + "/x.tbl", std::string(1000, 'x'));
  }

  int status = -1;
  const std::string onTerminal =
      RunWithTerminalStderr({"-dir", data, "-o", dir.Join("a.vp")}, dir.Join("stdout"), &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(onTerminal.rfind("\r0 B of 19.5 KiB, 0 of 20 files", 0), 0u) << onTerminal;
  EXPECT_NE(onTerminal.find(" of 20 files"), std::string::npos);
  EXPECT_EQ(onTerminal.find('\n'), std::string::npos) << "one line, redrawn in place";
  // Erased at the end: blanks over the line, the cursor back at its start.
  ASSERT_GE(onTerminal.size(), 2u);
  EXPECT_EQ(onTerminal.back(), '\r');
  EXPECT_EQ(onTerminal[onTerminal.size() - 2], ' ');

  testing::RunResult plain = testing::RunQuarrionBinary({"-dir", data, "-o", dir.Join("b.vp")});
  EXPECT_EQ(plain.status, 0);
  EXPECT_EQ(plain.err, "") << "nothing when standard error is a file";
  // Standard output is the same either way, and so is the archive.
  std::string expectedOut = plain.out;
  EXPECT_EQ(testing::ReadFile(dir.Join("stdout")), expectedOut);
  EXPECT_EQ(testing::ReadFile(dir.Join("a.vp")), testing::ReadFile(dir.Join("b.vp")));
}

#endif

}  // namespace
}  // namespace quarrion
