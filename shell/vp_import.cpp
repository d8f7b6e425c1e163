// The "vp" command: walks an existing archive's directory in stored order,
// follows its folder and up entries, and asks about each file whether to
// take it. A taken file enters the build list as a reference into that
// archive (archive:name); its bytes are copied when an archive is written.
//
// The walk only ever looks at entries the reader loaded and reads at least
// one character of input per question, so it ends whatever the archive
// holds and whatever is typed.
#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "buildlist/add_file.h"
#include "shell/modes.h"
#include "vp/format.h"
#include "vp/source_archives.h"

namespace quarrion {
namespace {

// The folders open at the current entry, from the archive's root, joined
// with a backslash: the folder a file really lies in (data\maps), as a
// record carries it. An up entry with nothing open leaves it empty.
class OpenFolders {
 public:
  void Enter(std::string_view name) {
    starts_.push_back(path_.size());
    if (starts_.size() > 1) path_ += '\\';
    path_ += name;
  }
  void Leave() {
    if (starts_.empty()) return;
    path_.resize(starts_.back());
    starts_.pop_back();
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::vector<std::size_t> starts_;  // where each open folder's part begins
};

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

}  // namespace

void ImportFromVp(BuildList& list, Console& console) {
  console.Prompt("Enter name of vp file (ie c:\\games\\starhold\\stockpack.vp): ");
  std::string archiveName;
  if (!console.Word(archiveName)) {
    console.Error("no archive name given (end of input)");
    return;
  }

  // One set for the whole command: the directory is read once, here, and
  // AddFile finds it again for every file taken.
  SourceArchives archives;
  VpReader* reader = nullptr;
  if (Status why = archives.Get(archiveName, &reader); !why.ok()) {
    console.Error("cannot import from " + why.Message());
    return;
  }
  // A copy, because AddFile reads the archive again (replacing this reader)
  // if it changes on disk while a question waits.
  const std::vector<VpDirEntry> entries = reader->entries();
  // A reference names a file by its name alone and is served by the first
  // entry of that name (ASCII case ignored), wherever it lies. A later file
  // of the same name cannot be referred to: its reference would copy the
  // other file's bytes.
  std::vector<std::optional<std::size_t>> servedBy(entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i)
    servedBy[i] = reader->Find(EntryName(entries[i]));

  // The path as the messages show it: below the data folder, with a leading
  // backslash (\maps), empty at the level of data.
  std::string shown;
  OpenFolders open;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const VpDirEntry& entry = entries[i];
    const std::string name(EntryName(entry));
    switch (ClassifyEntry(entry)) {
      case EntryKind::kUp: {
        const std::size_t cut = shown.rfind('\\');
        shown.erase(cut == std::string::npos ? 0 : cut);
        open.Leave();
        console.Line("Stepping up directory (" + shown + ").");
        break;
      }
      case EntryKind::kFolder:
        open.Enter(name);
        if (name == "data") break;  // shown as the level the path starts from
        shown += "\\" + name;
        console.Line("Stepping into directory: " + shown);
        break;
      case EntryKind::kFile:
        switch (AskAboutFile(console,
                             "Do you wish to import file " + shown + "\\" + name + " [y/n]: ")) {
          case Reply::kTake: {
            archives.Recheck();  // the archive may have changed while the question waited
            console.Line("Importing File");
            const std::string reference = archiveName + ":" + name;
            if (servedBy[i] != i) {
              console.Error("could not add " + reference + ": an earlier entry of " + archiveName +
                            " has the same name, and its bytes would be copied instead");
            } else if (Status why = AddFile(list, name, reference, open.path(), &archives);
                       !why.ok()) {
              console.Error("could not add " + why.Message());
            }
            break;
          }
          case Reply::kSkip:
            console.Line("Skipping file;");
            break;
          case Reply::kEndOfInput:
            console.Error("end of input: the files of " + archiveName +
                          " not yet answered were not imported");
            return;
        }
        break;
    }
  }
}

}  // namespace quarrion
