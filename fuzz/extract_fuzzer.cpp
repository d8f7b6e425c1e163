// Arbitrary bytes as an archive for -extract into a fresh folder in a
// sandbox: whatever the entries say, the sandbox holds only the target, the
// target only folders and regular files, no more than the run counts (no
// temporary left), and every descriptor opened is closed. The tree is then
// removed name by name relative to its folder, so depth is no limit.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "fuzz_util.h"

namespace {

using namespace quarrion;

std::size_t OpenDescriptors() {
  std::size_t n = 0;
  DIR* d = ::opendir("/proc/self/fd");
  if (d == nullptr) return 0;  // no /proc: nothing to compare
  while (::readdir(d) != nullptr) ++n;
  ::closedir(d);
  return n;
}

std::vector<std::string> Names(DIR* d) {
  std::vector<std::string> names;
  while (const dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  return names;
}

// Checks that the open folder `dir` holds only folders and regular files,
// removes everything in it and closes it; returns the number of files.
std::size_t CheckAndEmpty(int dir) {
  DIR* d = ::fdopendir(dir);
  Check(d != nullptr);
  std::size_t files = 0;
  for (const std::string& name : Names(d)) {
    struct stat st;
    Check(::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0);
    if (S_ISDIR(st.st_mode)) {
      const int sub = ::openat(dir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      Check(sub >= 0);
      files += CheckAndEmpty(sub);
      Check(::unlinkat(dir, name.c_str(), AT_REMOVEDIR) == 0);
    } else {
      Check(S_ISREG(st.st_mode));
      ++files;
      Check(::unlinkat(dir, name.c_str(), 0) == 0);
    }
  }
  ::closedir(d);
  return files;
}

// The number in "Extracted <n> file(s)", or 0 when the run never got there.
std::size_t ExtractedCount(const std::vector<std::string>& lines) {
  const bool done = !lines.empty() && lines.back().rfind("Extracted ", 0) == 0;
  return done ? std::strtoull(lines.back().c_str() + 10, nullptr, 10) : 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const fuzz::Scratch archive("extract");
  static const std::string sandbox = [] {
    std::string made = fuzz::ScratchName("sandbox-XXXXXX", false);
    if (::mkdtemp(made.data()) == nullptr) std::abort();
    fuzz::RemoveAtExit(made);
    return made;
  }();
  archive.Hold(data, size);
  std::string target = sandbox + "/target-XXXXXX";
  Check(::mkdtemp(target.data()) != nullptr);
  const std::string targetName = target.substr(sandbox.size() + 1);

  const std::size_t before = OpenDescriptors();
  const fuzz::Run run = fuzz::Quarrion({"-extract", archive.path, target});
  Check(OpenDescriptors() == before);
  Check(run.status == 0 || run.status == 1);
  if (run.status == 0) Check(run.err.empty());

  DIR* listing = ::opendir(sandbox.c_str());
  Check(listing != nullptr);
  const std::vector<std::string> inSandbox = Names(listing);
  ::closedir(listing);
  Check(inSandbox.size() == 1 && inSandbox[0] == targetName);

  const int top = ::open(target.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  Check(top >= 0);
  Check(CheckAndEmpty(top) <= ExtractedCount(run.lines));
  Check(::rmdir(target.c_str()) == 0);
  return 0;
}
