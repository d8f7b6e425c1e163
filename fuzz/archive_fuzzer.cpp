// Arbitrary bytes as an archive for the reader and for -verify, -list and
// -extract. -verify calls it sound with the totals that -list prints and
// -extract writes, or counts the lines of its problems; -list's totals are
// -extract's. Into a fresh folder of a sandbox, -extract writes only folders
// and regular files, no more than it counts, nothing -verify reports, and
// closes every descriptor it opened.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <optional>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "buildlist/add_file.h"
#include "buildlist/build_list.h"
#include "fuzz_util.h"
#include "vp/format.h"
#include "vp/names.h"
#include "vp/reader.h"
#include "vp/source_archives.h"
#include "vp/walk.h"

namespace {

using namespace quarrion;
namespace fs = std::filesystem;

constexpr int kOpenFolder = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// Every file entry is found by its name in any case and by its path (unless
// a folder took the path: then it is reported), at its index or an earlier
// file's, and reads as the input's bytes or is reported for its data.
void CheckLookups(VpReader& reader, const char* input, std::size_t size) {
  const auto& entries = reader.entries();
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (ClassifyEntry(entries[i]) != EntryKind::kFile) continue;
    const std::string name(EntryName(entries[i]));
    std::string upper = name;
    for (char& c : upper) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
    const std::optional<FileMatch> found = reader.FindFile(name), byUpper = reader.FindFile(upper);
    if (name.find('\\') == std::string::npos) {
      Check(found.has_value() && found->entry <= i && found->sameName >= 1);
      Check(ClassifyEntry(entries[found->entry]) == EntryKind::kFile);
      Check(byUpper.has_value() && byUpper->entry == found->entry);
    }
    const std::string path = reader.PathOf(i);
    if (path.find('\\') != std::string::npos && path.front() != '\\') {
      const std::optional<FileMatch> byPath = reader.FindFile(path);
      Check(byPath.has_value() || reader.findings().Refusal(i) != nullptr);
      Check(!byPath || (byPath->entry <= i && reader.PathOf(byPath->entry).size() == path.size()));
    }
    if (!reader.EntryDataInFile(entries[i])) {
      Check(reader.findings().Refusal(i) != nullptr && reader.findings().Refusal(i)->data);
      continue;
    }
    Check(static_cast<std::size_t>(entries[i].offset) + entries[i].size <= size);
    Check(fuzz::DataOf(reader, entries[i]) ==
          std::string_view(input + entries[i].offset, static_cast<std::size_t>(entries[i].size)));
  }
}

// The reader takes only what the file holds; a source reference (to a name
// from the input's tail or the last entry's) adds only a file it does not
// report, with its size.
void CheckReader(VpReader& reader, const Status& opened, const std::string& archive,
                 const char* input, std::size_t size) {
  Check(opened.ok() || (opened.code == Code::kNotVpArchive && reader.entries().empty()));
  const auto& entries = reader.entries();
  Check(reader.header().dirEntries == static_cast<std::int32_t>(entries.size()));
  Check(entries.size() * kDirEntrySize <= size);
  CheckLookups(reader, input, size);
  const std::size_t tail = std::min<std::size_t>(size, kNameFieldSize + 8);
  const std::string probe(input + size - tail, tail);
  const std::optional<FileMatch> probed = reader.FindFile(probe);
  Check(!probed || probed->entry < entries.size());
  SourceArchives archives;
  BuildList list;
  for (const std::string& name :
       {probe, entries.empty() ? std::string() : std::string(EntryName(entries.back()))}) {
    const std::size_t before = list.files.size();
    const Status added =
        AddFile(list, name, FileSource::Archived(archive, name), "data", &archives);
    Check(list.files.size() == before + (added.ok() ? 1 : 0));
    Check(added.ok() || !added.Message().empty());
    if (!added.ok()) continue;
    const std::optional<FileMatch> i = reader.FindFile(name);
    Check(i.has_value() && list.files.back().entry.size == entries[i->entry].size);
    Check(list.files.back().sourceEntry == static_cast<std::int64_t>(i->entry));
    Check(reader.findings().Refusal(i->entry) == nullptr);
  }
}

// Checks that folder `dir` holds only folders and regular files and empties
// it name by name (so depth is no limit); returns the number of files.
std::size_t CheckAndEmpty(int dir) {
  DIR* d = ::fdopendir(dir);
  Check(d != nullptr);
  std::vector<std::string> names;
  while (const dirent* e = ::readdir(d)) names.emplace_back(e->d_name);
  std::size_t files = 0;
  for (const std::string& name : names) {
    if (name == "." || name == "..") continue;
    struct stat st;
    Check(::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0);
    const bool folder = S_ISDIR(st.st_mode);
    Check(folder || S_ISREG(st.st_mode));
    files += folder ? CheckAndEmpty(::openat(dir, name.c_str(), kOpenFolder)) : 1;
    Check(::unlinkat(dir, name.c_str(), folder ? AT_REMOVEDIR : 0) == 0);
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
// sound archive, which -list repeats, or "" when it found problems.
std::string Verified(const std::string& archive) {
  const fuzz::Run verify = fuzz::Quarrion({"-verify", archive});
  // The file is readable: whatever it holds is a finding, not an error.
  Check(verify.err.empty() && !verify.lines.empty());
  if (verify.status == 0) {
    const std::string totals = After(verify.lines, archive + " is sound: ");
    Check(verify.lines.size() == 1 && !totals.empty());
    const fuzz::Run list = fuzz::Quarrion({"-list", archive});
    Check(list.status == 0 && list.err.empty() && !list.lines.empty() &&
          list.lines.back() == totals);
    const std::size_t files = list.lines.size() - 1;
    Check(totals.rfind(std::to_string(files) + (files == 1 ? " file, " : " files, "), 0) == 0);
    return totals;
  }
  const std::size_t problems = verify.lines.size() - 1;
  Check(verify.status == 1 && problems >= 1);
  Check(verify.lines.back() == archive + ": " + std::to_string(problems) +
                                   (problems == 1 ? " problem found" : " problems found"));
  return "";
}

// No file -verify reports is on disk below `target` where its path is plain
// (every name of it) and no sound file has it, case ignored (a later entry of
// a path is reported, the first may be written).
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
  static const std::string archive = fuzz::InputName("archive.vp");
  static const std::string sandbox = fuzz::ScratchName("sandbox");
  static const int made = ::mkdir(sandbox.c_str(), 0700);
  Check(made == 0);
  fuzz::Hold(archive, data, size);
  std::string target = sandbox + "/target-XXXXXX";
  Check(::mkdtemp(target.data()) != nullptr);

  const std::string sound = Verified(archive);
  std::error_code ec;  // no /proc: no descriptors to compare
  const auto descriptors = [&ec] {
    return std::distance(fs::directory_iterator("/proc/self/fd", ec), {});
  };
  const auto before = descriptors();
  const fuzz::Run run = fuzz::Quarrion({"-extract", archive, target});
  Check(descriptors() == before && (run.status == 1 || (run.status == 0 && run.err.empty())));
  // "Extracted <n> files (<b> bytes) into <target>" as "<n> files, <b> bytes".
  std::string extracted = After(run.lines, "Extracted ");
  if (const std::size_t open = extracted.find(" ("); open != std::string::npos) {
    extracted.replace(open, 2, ", ").resize(extracted.find(')'));
  }
  Check(sound.empty() || (run.status == 0 && extracted == sound));

  VpReader reader;
  const Status opened = reader.Open(archive);
  CheckReader(reader, opened, archive, reinterpret_cast<const char*>(data), size);
  if (opened.ok()) {
    // -list refuses exactly the archives -verify reports as a whole (bytes
    // after the directory it warns of), and -extract then writes nothing.
    const fuzz::Run list = fuzz::Quarrion({"-list", archive});
    if (!reader.findings().DirectoryWhole()) {
      Check(list.status == 1 && list.lines.empty() && !list.err.empty());
      Check(run.status == 1 && run.lines.empty());
    } else {
      Check(!list.lines.empty() && (run.err.find("could not extract") != std::string::npos ||
                                    extracted == list.lines.back()));
    }
    CheckNothingReportedWritten(reader, target);
  }

  const std::vector<fs::path> inSandbox{fs::directory_iterator(sandbox), {}};
  Check(inSandbox.size() == 1 && inSandbox[0] == target);
  Check(CheckAndEmpty(::open(target.c_str(), kOpenFolder)) <=
        std::strtoull(extracted.c_str(), nullptr, 10));
  Check(::rmdir(target.c_str()) == 0);
  return 0;
}
