// The "vp" command: walks an existing archive's directory in stored order,
// follows its folder and up entries, and asks about each file whether to
// take it. A taken file enters the build list as a reference to its exact
// path in that archive (archive:data\maps\a.pof), so files of one name in
// different folders each bring their own bytes; they are copied when an
// archive is written. What -verify reports about an entry is refused when
// it is taken, and an archive cut short is warned of and walked as far as
// it goes.
//
// The walk only ever looks at entries the reader loaded and reads at least
// one character of input per question, so it ends whatever the archive
// holds and whatever is typed.
#include <istream>
#include <string>
#include <utility>
#include <vector>

#include "buildlist/add_file.h"
#include "shell/modes.h"
#include "shell/open_archive.h"
#include "vp/format.h"
#include "vp/source_archives.h"
#include "vp/walk.h"

namespace quarrion {
namespace {

enum class Reply { kTake, kSkip, kEndOfInput };

// Asks until y, Y, n or N comes, reading one non-blank character at a time;
// every other character asks again.
Reply AskAboutFile(Console& console, const std::string& question) {
  for (;;) {
    console.Prompt(question);
    console.in >> std::ws;
    const int c = console.in.get();
    if (c == std::char_traits<char>::eof()) return Reply::kEndOfInput;
    if (c == 'y' || c == 'Y') return Reply::kTake;
    if (c == 'n' || c == 'N') return Reply::kSkip;
  }
}

// The command's walk over the directory, one entry at a time.
class ImportWalk {
 public:
  ImportWalk(BuildList& list, Console& console, const std::string& archiveName,
             SourceArchives& archives, SourceWarnings& sources, ArchiveFindings findings)
      : list_(list),
        console_(console),
        archiveName_(archiveName),
        archives_(archives),
        sources_(sources),
        findings_(std::move(findings)) {}

  // Whether a file taken could not be added.
  bool failed() const { return failed_; }

  // Shows the entry and, for a file, asks whether to take it. False when
  // the input ended before an answer came.
  bool Entry(std::size_t i, const VpDirEntry& entry) {
    const std::string name(EntryName(entry));
    switch (walk_.Next(entry)) {
      case FolderWalk::Step::kClose:
      case FolderWalk::Step::kStrayUp: {
        const std::size_t cut = shown_.rfind('\\');
        shown_.erase(cut == std::string::npos ? 0 : cut);
        console_.Line("Stepping up directory (" + shown_ + ").");
        return true;
      }
      case FolderWalk::Step::kOpen:
        if (name == "data") return true;  // shown as the level the path starts from
        shown_ += "\\" + name;
        console_.Line("Stepping into directory: " + shown_);
        return true;
      case FolderWalk::Step::kFile:
        break;
    }
    switch (
        AskAboutFile(console_, "Do you wish to import file " + shown_ + "\\" + name + " [y/n]: ")) {
      case Reply::kTake:
        Take(i, name);
        return true;
      case Reply::kSkip:
        console_.Line("Skipping file;");
        return true;
      case Reply::kEndOfInput:
        console_.Error("end of input: the files of " + archiveName_ +
                       " not yet answered were not imported");
        return false;
    }
    return true;
  }

 private:
  // Adds the file as a reference to its path in the archive (a file at the
  // root as \name), in the folder it really lies in.
  void Take(std::size_t i, const std::string& name) {
    archives_.Recheck();  // the archive may have changed while the question waited
    console_.Line("Importing File");
    const std::string inner = walk_.folders().empty() ? "\\" + name : walk_.PathOf(name);
    const FileSource source = FileSource::Archived(archiveName_, inner);
    // A path an earlier file already has would bring that file's bytes.
    if (const std::string refusal = RefusalOf(findings_, i, walk_.PathOf(name)); !refusal.empty()) {
      console_.Error("could not add " + source.Text() + ": archive " + archiveName_ + ": " +
                     refusal);
      failed_ = true;
      return;
    }
    SourceNotes notes;
    if (Status why = AddFile(list_, name, source, walk_.Current(), &archives_, &notes); !why.ok()) {
      console_.Error("could not add " + why.Message());
      failed_ = true;
    }
    sources_.Note(source, notes);
  }

  BuildList& list_;
  Console& console_;
  const std::string& archiveName_;
  SourceArchives& archives_;
  SourceWarnings& sources_;
  const ArchiveFindings findings_;  // of the archive as the walk read it
  FolderWalk walk_;
  // The path as the messages show it: below the data folder, with a leading
  // backslash (\maps), empty at the level of data.
  std::string shown_;
  bool failed_ = false;
};

}  // namespace

bool ImportFromVp(BuildList& list, Console& console) {
  console.Prompt("Enter name of vp file (ie c:\\games\\starhold\\stockpack.vp): ");
  std::string archiveName;
  if (!console.Word(archiveName)) {
    console.Error("no archive name given (end of input)");
    return false;
  }

  // One set for the whole command: the directory is read once, here, and
  // AddFile finds it again for every file taken.
  SourceArchives archives;
  VpReader* reader = nullptr;
  if (Status why = archives.Get(archiveName, &reader); !why.ok()) {
    console.Error("cannot import from " + why.Message());
    return false;
  }
  // A source cut short, or one whose files share names, is warned of.
  ConsoleWarnings warnings(console);
  SourceWarnings sources(warnings);
  sources.Archive(archiveName, reader->findings().WholeFileProblems());
  // A copy, because AddFile reads the archive again (replacing this reader)
  // if it changes on disk while a question waits.
  const std::vector<VpDirEntry> entries = reader->entries();
  ImportWalk walk(list, console, archiveName, archives, sources, reader->findings());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (!walk.Entry(i, entries[i])) return false;
  }
  return !walk.failed() && warnings.count() == 0;
}

}  // namespace quarrion
