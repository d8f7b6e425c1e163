// Arbitrary bytes as an archive for -verify, -list and -extract, run as the
// program runs them. -verify prints one line per problem and then a count of
// exactly those lines, or calls the archive sound; then -list prints the same
// totals without error and -extract writes every file, as many bytes. An
// archive whose header or directory -verify reports is refused by -list and
// -extract, which write nothing; otherwise -list's totals are those of
// -extract, and no file -verify reports is written. Into a fresh folder in a
// sandbox, whatever the entries say, -extract leaves only the target, the
// target only folders and regular files, no more than it counts (no
// temporary left), and every descriptor it opened closed. The tree is then
// removed name by name relative to its folder, so depth is no limit.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "fuzz_util.h"
#include "vp/format.h"
#include "vp/names.h"
#include "vp/reader.h"
#include "vp/walk.h"

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

// What follows "<prefix>" in the last line, or "" when it does not start so.
std::string After(const std::vector<std::string>& lines, const std::string& prefix) {
  const bool there = !lines.empty() && lines.back().rfind(prefix, 0) == 0;
  return there ? lines.back().substr(prefix.size()) : "";
}

// The verdict of -verify on `archive`: the totals "<n> files, <b> bytes" of a
// sound archive, or "" when it found problems.
std::string Verified(const std::string& archive) {
  const fuzz::Run verify = fuzz::Quarrion({"-verify", archive});
  // The file is there and readable: whatever it holds is a finding, never
  // an error of the run.
  Check(verify.err.empty() && !verify.lines.empty());
  if (verify.status == 0) {
    Check(verify.lines.size() == 1);
    const std::string totals = After(verify.lines, archive + " is sound: ");
    Check(!totals.empty());
    const fuzz::Run list = fuzz::Quarrion({"-list", archive});
    Check(list.status == 0 && list.err.empty());
    Check(!list.lines.empty() && list.lines.back() == totals);
    const std::size_t files = list.lines.size() - 1;
    Check(totals.rfind(std::to_string(files) + (files == 1 ? " file, " : " files, "), 0) == 0);
    return totals;
  }
  Check(verify.status == 1);
  const std::size_t problems = verify.lines.size() - 1;
  Check(problems >= 1);
  Check(verify.lines.back() == archive + ": " + std::to_string(problems) +
                                   (problems == 1 ? " problem found" : " problems found"));
  return "";
}

// The totals of -list on `archive` ("<n> files, <b> bytes"), "" when it
// refused the archive; it refuses exactly those -verify reports as a whole,
// but for bytes after the directory, which it warns of.
std::string Listed(const std::string& archive, const VpReader& reader) {
  const fuzz::Run list = fuzz::Quarrion({"-list", archive});
  if (!reader.findings().DirectoryWhole()) {
    Check(list.status == 1 && list.lines.empty() && !list.err.empty());
    return "";
  }
  Check(!list.lines.empty());
  return list.lines.back();
}

// No file entry -verify reports is on disk below `target`, where its path
// could be told apart (every folder and name of it plain) and no file it
// calls sound has that path, letter case ignored (a later entry of a path
// is reported; the first may be written).
void CheckNothingReportedWritten(const VpReader& reader, const std::string& target) {
  std::unordered_set<std::string> sound;
  std::vector<std::pair<std::string, std::string>> reported;  // folded path, path on disk
  FolderWalk walk;
  for (std::size_t i = 0; i < reader.entries().size(); ++i) {
    const VpDirEntry& e = reader.entries()[i];
    if (walk.Next(e) != FolderWalk::Step::kFile) continue;
    const std::string folded = CaseFolded(walk.PathOf(EntryName(e)));
    if (reader.findings().Refusal(i) == nullptr) {
      sound.insert(folded);
      continue;
    }
    std::string path = target;
    bool plain = CheckName(EntryName(e), NameUse::kFile).ok();
    for (const std::string& folder : walk.folders()) {
      plain = plain && CheckName(folder, NameUse::kFolder).ok();
      path += "/" + folder;
    }
    if (plain) reported.emplace_back(folded, path + "/" + std::string(EntryName(e)));
  }
  for (const auto& [folded, path] : reported) {
    struct stat st;
    Check(sound.count(folded) > 0 || ::lstat(path.c_str(), &st) != 0);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const fuzz::Scratch archive("archive");
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

  const std::string sound = Verified(archive.path);
  const std::size_t before = OpenDescriptors();
  const fuzz::Run run = fuzz::Quarrion({"-extract", archive.path, target});
  Check(OpenDescriptors() == before);
  Check(run.status == 0 || run.status == 1);
  if (run.status == 0) Check(run.err.empty());
  // "Extracted <n> files (<b> bytes) into <target>" as "<n> files, <b> bytes".
  std::string extracted = After(run.lines, "Extracted ");
  if (const std::size_t open = extracted.find(" ("); open != std::string::npos) {
    extracted.replace(open, 2, ", ").resize(extracted.find(')'));
  }
  Check(sound.empty() || (run.status == 0 && extracted == sound));

  VpReader reader;
  if (reader.Open(archive.path).ok()) {
    const std::string listed = Listed(archive.path, reader);
    if (listed.empty()) {
      Check(run.status == 1 && run.lines.empty());  // refused: not even a count
    } else if (run.err.find("could not extract") == std::string::npos) {
      Check(extracted == listed);  // -list shows what -extract writes
    }
    CheckNothingReportedWritten(reader, target);
  }

  DIR* listing = ::opendir(sandbox.c_str());
  Check(listing != nullptr);
  const std::vector<std::string> inSandbox = Names(listing);
  ::closedir(listing);
  Check(inSandbox.size() == 1 && inSandbox[0] == targetName);

  const int top = ::open(target.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  Check(top >= 0);
  Check(CheckAndEmpty(top) <= std::strtoull(extracted.c_str(), nullptr, 10));
  Check(::rmdir(target.c_str()) == 0);
  return 0;
}
