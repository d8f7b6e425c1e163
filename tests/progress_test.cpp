#include "shell/progress.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "test_util.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <unistd.h>
#endif

namespace quarrion {
namespace {

constexpr std::int64_t kMiB = 1024 * 1024;

std::string Erase(std::size_t width) { return "\r" + std::string(width, ' ') + "\r"; }

TEST(ProgressLineTest, DrawsAtOnceThenAFewTimesASecondAndErasesAtTheEnd) {
  double now = 100;
  std::ostringstream err;
  auto fresh = [&err] {  // what was written since the last call
    std::string s = err.str();
    err.str("");
    return s;
  };
  const std::string second = "20.0 MiB of 40.0 MiB, 20 of 40 files, 20.0 MiB/s, 0:01 left";
  {
    ProgressLine line(err, [&] { return now; });
    auto at = [&](double seconds, int mib) {  // `mib` MiB and files done at `seconds`
      now = seconds;
      line.Advance(mib * kMiB, mib);
      return fresh();
    };
    line.Begin(40 * kMiB, 40);
    EXPECT_EQ(fresh(), "\r0 B of 40.0 MiB, 0 of 40 files");
    EXPECT_EQ(at(100.1, 1), "") << "too soon after the last redraw";
    EXPECT_EQ(at(101, 20), "\r" + second);
    // Hidden for a console line (once), and back at the next step at once.
    line.Hide();
    line.Hide();
    EXPECT_EQ(fresh(), Erase(second.size()));
    EXPECT_EQ(at(101, 21), "\r21.0 MiB of 40.0 MiB, 21 of 40 files, 21.0 MiB/s, 0:01 left");
    // A shorter text covers what the longer one left.
    EXPECT_EQ(at(110, 30), "\r30.0 MiB of 40.0 MiB, 30 of 40 files, 3.0 MiB/s, 0:03 left ");
    line.Finish();
    line.Advance(4 * kMiB, 4);
  }
  EXPECT_EQ(fresh(), Erase(second.size())) << "erased once, nothing after the end";
  {  // Destroyed while shown (a failed write): erased.
    ProgressLine line(err, [&] { return now; });
    line.Begin(10, 1);
  }
  EXPECT_EQ(fresh(), "\r0 B of 10 B, 0 of 1 files" + Erase(25));
  EXPECT_EQ(DurationText(3725), "1:02:05");
  EXPECT_EQ(DurationText(1e12), "99:59:59");
  // The widest line still fits a console of 80 columns.
  EXPECT_LE(ProgressLine::Text(2047 * kMiB, 2047 * kMiB, 48000000, 48000000, 1).size(), 79u);
}

#if !defined(_WIN32)
// What a pseudo-terminal on standard error got; standard output into `out` (or the terminal).
std::string RunOnTerminal(const std::vector<std::string>& args, const std::string& out,
                          int* status) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return "no pty";
  const std::string terminal = ::ptsname(master);
  const int slave = ::open(terminal.c_str(), O_RDWR | O_NOCTTY);  // keeps what was written
  *status = testing::WaitQuarrionBinary(
      testing::StartQuarrionBinary(args, out.empty() ? terminal : out, terminal));
  std::string got;
  ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
  char buf[4096];
  for (ssize_t n; (n = ::read(master, buf, sizeof buf)) > 0;) got.append(buf, std::size_t(n));
  ::close(slave);
  ::close(master);
  return got;
}

TEST(ProgressProgramTest, LineShownOnATerminalErasedForEveryConsoleLineAndKeptOffOutput) {
  testing::TempDir dir;
  const std::string data = dir.Join("data");
  for (int i = 0; i < 20; ++i) {
    testing::WriteFile(data + "/f" + std::to_string(i) + "/x.tbl", std::string(1000, 'x'));
  }
  const std::vector<std::string> args = {"-dir", data, "-o", dir.Join("a.vp")};
  int status = -1;
  const std::string onTerminal = RunOnTerminal(args, dir.Join("stdout"), &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(onTerminal.rfind("\r0 B of 19.5 KiB, 0 of 20 files", 0), 0u) << onTerminal;
  EXPECT_EQ(onTerminal.find('\n'), std::string::npos) << "one line, redrawn in place";
  EXPECT_EQ(onTerminal.substr(onTerminal.size() - 2), " \r");  // erased at the end
  const std::string output = testing::ReadFile(dir.Join("stdout"));
  EXPECT_EQ(output.find('\r'), std::string::npos);
  // Both streams on the terminal: every console line shows whole (the terminal ends lines CR LF).
  const std::string both = RunOnTerminal(args, "", &status);
  EXPECT_EQ(status, 0);
  std::string lines;  // each as it stays on the screen: what follows its last CR
  for (std::size_t start = 0, end; (end = both.find("\r\n", start)) != std::string::npos;
       start = end + 2) {
    const std::string line = both.substr(start, end - start);
    lines += line.substr(line.rfind('\r') + 1) + "\n";
  }
  EXPECT_EQ(lines, output);
}
#endif

}  // namespace
}  // namespace quarrion
