// -diff: two archives compared by path (letter case ignored) and data (times
// do not count), one line per difference in the order of the paths, then the
// totals; with -o, the patch archive: the files added and changed, with their
// data and times from the new archive (or those -mtime and SOURCE_DATE_EPOCH
// set), laid out as any build of them is. With -only, all of it counts only
// the files whose paths a pattern chooses.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <unordered_set>
#include <vector>

#include "host/host.h"
#include "pack/writer.h"
#include "shell/modes.h"
#include "shell/open_archive.h"
#include "shell/progress.h"
#include "shell/selection.h"
#include "vp/counted.h"
#include "vp/format.h"
#include "vp/names.h"
#include "vp/reader.h"
#include "vp/walk.h"

namespace quarrion {
namespace {

// Exit statuses, as diff has them.
constexpr int kNoDifference = 0;
constexpr int kDifferent = 1;
constexpr int kTrouble = 2;

// Bytes compared at a time.
constexpr std::size_t kCompareBlock = 64 * 1024;

// A file of an archive as -diff sees it: the first file entry of its path,
// as readers find it.
struct ArchivedFile {
  std::string path;    // as the directory spells it
  std::string folder;  // the folders above it, joined with backslashes
  std::size_t entry = 0;
  // Why the file cannot go into a patch: a name or folder that no build
  // would write, the refusal of CheckName naming it (ok when it can).
  Status unpackable;
};

// Case-folded path -> the file, so that the files come in the order of
// their paths.
using ArchiveFiles = std::map<std::string, ArchivedFile>;

// Why `name` cannot be a name a build writes for `use`, naming it.
Status CheckPackedName(std::string_view name, NameUse use) {
  Status why = CheckName(name, use);
  if (!why.ok()) why.file = std::string(name);
  return why;
}

// Reads the files of `reader` that `selection` chooses into `files`. An
// entry whose data -verify reports (outside the data area, over another
// file's) is an error naming it in -verify's words: nothing of such an
// archive is trusted.
Status CollectFiles(const VpReader& reader, const std::string& archive, Selection& selection,
                    ArchiveFiles* files) {
  const ArchiveFindings& findings = reader.findings();
  FolderWalk walk;
  for (std::size_t i = 0; i < reader.entries().size(); ++i) {
    const VpDirEntry& e = reader.entries()[i];
    if (walk.Next(e) != FolderWalk::Step::kFile) continue;
    const std::string path = walk.PathOf(EntryName(e));
    if (const EntryRefusal* refused = findings.Refusal(i); refused != nullptr && refused->data) {
      return Status::Error(Code::kBrokenEntry, archive, findings.problems[refused->problem]);
    }
    // Patterns ignore letter case, so every entry of one path is chosen alike.
    if (!selection.Chosen(path)) continue;
    auto [it, fresh] = files->try_emplace(CaseFolded(path));
    if (!fresh) continue;
    ArchivedFile& f = it->second;
    f.path = path;
    f.folder = walk.Current();
    f.entry = i;
    for (const std::string& folder : walk.folders()) {
      if (f.unpackable.ok()) f.unpackable = CheckPackedName(folder, NameUse::kFolder);
    }
    if (f.unpackable.ok()) f.unpackable = CheckPackedName(EntryName(e), NameUse::kFile);
  }
  return Status::Ok();
}

// Reads `n` bytes of the data of entry `e` of `reader`, from `done` on.
// Fails when the archive ends before them (it changed since it was opened).
Status ReadData(VpReader& reader, const VpDirEntry& e, std::int64_t done, std::size_t n,
                char* buffer) {
  std::size_t got = 0;
  if (Status s = reader.file().ReadAt(e.offset + done, buffer, n, &got); !s.ok()) return s;
  if (got == n) return Status::Ok();
  return Status::Error(Code::kChanged, reader.archivePath(),
                       "ended before the data of " + QuotedName(EntryName(e)));
}

// Whether the data of entry `a` of `left` equal those of entry `b` of
// `right`, compared a block at a time.
Status SameData(VpReader& left, const VpDirEntry& a, VpReader& right, const VpDirEntry& b,
                bool* same) {
  *same = a.size == b.size;
  std::vector<char> x(kCompareBlock), y(kCompareBlock);
  for (std::int64_t done = 0; *same && done < a.size;) {
    const auto n = static_cast<std::size_t>(
        std::min<std::int64_t>(a.size - done, static_cast<std::int64_t>(kCompareBlock)));
    if (Status s = ReadData(left, a, done, n, x.data()); !s.ok()) return s;
    if (Status s = ReadData(right, b, done, n, y.data()); !s.ok()) return s;
    *same = std::equal(x.begin(), x.begin() + static_cast<std::ptrdiff_t>(n), y.begin());
    done += static_cast<std::int64_t>(n);
  }
  return Status::Ok();
}

// What the comparison found: the counts, and the files of the new archive
// that a patch holds.
struct Differences {
  std::int64_t added = 0;
  std::int64_t removed = 0;
  std::int64_t changed = 0;
  std::int64_t unchanged = 0;
  std::vector<const ArchivedFile*> patch;
};

// Walks both lists of files in the order of their paths and prints a line
// for each difference. Fails when the data cannot be read.
Status Compare(VpReader& oldReader, const ArchiveFiles& oldFiles, VpReader& newReader,
               const ArchiveFiles& newFiles, Console& console, Differences* d) {
  auto o = oldFiles.begin();
  auto n = newFiles.begin();
  while (o != oldFiles.end() || n != newFiles.end()) {
    if (n == newFiles.end() || (o != oldFiles.end() && o->first < n->first)) {
      console.Line("- " + Printable(o->second.path));
      ++d->removed;
      ++o;
      continue;
    }
    if (o == oldFiles.end() || n->first < o->first) {
      console.Line("+ " + Printable(n->second.path));
      ++d->added;
      d->patch.push_back(&n->second);
      ++n;
      continue;
    }
    bool same = false;
    if (Status s = SameData(oldReader, oldReader.entries()[o->second.entry], newReader,
                            newReader.entries()[n->second.entry], &same);
        !s.ok()) {
      return s;
    }
    if (same) {
      ++d->unchanged;
    } else {
      console.Line("~ " + Printable(n->second.path));
      ++d->changed;
      d->patch.push_back(&n->second);
    }
    ++o;
    ++n;
  }
  return Status::Ok();
}

// The patch's build list: each file a reference to its exact entry of the
// new archive. Refuses, naming the entry, a file no build could write: a
// name or folder that is not a plain name, or a path that is also the
// folder of another file of the patch.
Status PatchList(const VpReader& newReader, const std::vector<const ArchivedFile*>& files,
                 BuildList* list) {
  const std::string& archive = newReader.archivePath();
  std::unordered_set<std::string> folders;
  for (const ArchivedFile* f : files) {
    std::string folder = CaseFolded(f->folder);
    while (!folder.empty() && folders.insert(folder).second) {
      const std::size_t cut = folder.rfind('\\');
      folder.resize(cut == std::string::npos ? 0 : cut);
    }
  }
  for (const ArchivedFile* f : files) {
    const std::string entry = "entry " + std::to_string(f->entry) + " (" + Printable(f->path) + ")";
    if (const Status& why = f->unpackable; !why.ok()) {
      return Status::Error(Code::kNotPlainName, archive,
                           entry + ": " + QuotedName(why.file) + " " + why.reason);
    }
    if (folders.count(CaseFolded(f->path)) > 0) {
      return Status::Error(Code::kBadFolder, archive,
                           entry + ": a file and a folder of the same path");
    }
    FileRecord r;
    r.entry = newReader.entries()[f->entry];
    r.source = FileRecord::Source::kArchive;
    r.path = archive + ":" + f->path;
    r.folder = f->folder;
    r.sourceArchive = archive;
    r.sourceEntry = static_cast<std::int64_t>(f->entry);
    list->files.push_back(std::move(r));
  }
  return Status::Ok();
}

// Writes the patch to `target`, its file entries with `times`, with a
// progress line on a terminal; the folders the writer names are not shown,
// the diff is the output.
Status WritePatch(BuildList& list, const std::string& target, const EntryTimes& times,
                  Console& console) {
  WriteDisplay display(console, /*folders=*/false, /*progress=*/true);
  ConsoleWarnings warnings(console);
  return WriteArchive(list, target, warnings, &display, nullptr, times);
}

// "Wrote <file>: <n> files (<m> bytes)" for the patch written to `file`.
std::string WrittenText(const BuildList& patch, const std::string& file) {
  std::int64_t bytes = 0;
  for (const FileRecord& r : patch.files) bytes += r.entry.size;
  return "Wrote " + file + ": " +
         Counted(static_cast<std::int64_t>(patch.size()), "file", "files") + " (" +
         Counted(bytes, "byte", "bytes") + ")";
}

}  // namespace

int RunDiffArchives(const StartupOptions& options, Console& console) {
  Selection selection;
  if (Status why = selection.Compile(options.onlyPatterns); !why.ok()) {
    console.Error(why.Message());
    return kTrouble;
  }
  BuildList patch;
  Differences d;
  {
    // Both archives are closed again before the patch may replace one.
    VpReader oldReader, newReader;
    ArchiveFiles oldFiles, newFiles;
    // Bytes after a directory are told, but do not change what the
    // comparison finds: its status says whether the files differ.
    ConsoleWarnings told(console);
    if (!OpenArchive(options.diffOld, &oldReader, console, told) ||
        !OpenArchive(options.diffNew, &newReader, console, told)) {
      return kTrouble;
    }
    Status collected = CollectFiles(oldReader, options.diffOld, selection, &oldFiles);
    if (collected.ok()) collected = CollectFiles(newReader, options.diffNew, selection, &newFiles);
    if (!collected.ok()) {
      console.Error(collected.Message());
      return kTrouble;
    }
    if (Status why = Compare(oldReader, oldFiles, newReader, newFiles, console, &d); !why.ok()) {
      console.Error(Failure("cannot compare", why.file, why));
      return kTrouble;
    }
    console.Line(std::to_string(d.added) + " added, " + std::to_string(d.removed) + " removed, " +
                 std::to_string(d.changed) + " changed, " + std::to_string(d.unchanged) +
                 " unchanged");
    if (options.given & kGivenOutput) {
      if (Status why = PatchList(newReader, d.patch, &patch); !why.ok()) {
        console.Error(Failure("could not write", options.outputFile, why));
        return kTrouble;
      }
    }
  }
  if (options.given & kGivenOutput) {
    if (Status why = WritePatch(patch, options.outputFile, options.build.times, console);
        !why.ok()) {
      console.Error(Failure("could not write", options.outputFile, why));
      return kTrouble;
    }
    console.Line(WrittenText(patch, options.outputFile));
  }
  // A pattern that chose nothing in either archive is most likely a slip:
  // the comparison of what it meant to choose did not take place.
  ConsoleWarnings warnings(console);
  selection.WarnUnmatched(warnings);
  if (warnings.count() > 0) return kTrouble;
  return d.added + d.removed + d.changed > 0 ? kDifferent : kNoDifference;
}

}  // namespace quarrion
