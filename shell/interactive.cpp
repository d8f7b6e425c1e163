// The interactive command loop (-oldinterface): the user builds the list by
// hand with two-letter commands and writes it as an archive or a list file.
// Each file command opens its file on the name just typed and is done with
// it before the next prompt; archives and list files are written through an
// atomic output file, so a failed write keeps an existing file as it was.
// A session in which any command failed ends with exit status 1, so that a
// script feeding the commands can tell.
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "buildlist/add_file.h"
#include "buildlist/dir_import.h"
#include "buildlist/list_file.h"
#include "host/host.h"
#include "pack/layout.h"
#include "pack/writer.h"
#include "shell/modes.h"
#include "shell/open_archive.h"
#include "shell/progress.h"
#include "vp/source_archives.h"

namespace quarrion {
namespace {

constexpr std::string_view kMenu[] = {
    "Enter Command: [qu]it, [ad]d file, [re]move file, [im]port directory structure",
    "[wr]ite vp, [re]set internal list",
    "[lo]ad list from file, write [li]st to file",
    "import files from [vp]",
};
constexpr char kListNamePrompt[] = "Enter List Filename: ";
constexpr char kFileNamePrompt[] = "Enter name of file (like example.txt): ";

// Reads the one-word answer to a prompt. At the end of input the command
// cannot go on: says so (naming what was missing) and returns false.
bool Answer(Console& console, std::string* word, std::string_view what) {
  if (console.Word(*word)) return true;
  console.Error("no " + std::string(what) + " given (end of input)");
  return false;
}

// "im": a data directory tree, filed under the archive folder data. The path
// is the rest of the line, blanks and all. Then the files at the path of a
// folder leave the list, and a warning for each pair of paths in the list
// that differ only in letter case. False when the directory could not be
// imported or anything was skipped or warned of.
bool ImportDirectoryCommand(BuildList& list, Console& console,
                            const std::vector<Pattern>& excluded) {
  console.Prompt("Enter data directory location (ie j:\\games\\tidewater\\data): ");
  std::string directory;
  console.Lines(directory);
  if (console.in.fail() && directory.empty()) {
    console.Error("no data directory given (end of input)");
    return false;
  }
  console.Line();
  console.Line("Importing Directory: \"" + directory + "\"");
  ConsoleWarnings warnings(console);
  ImportDisplay display(console);
  Status why = ImportDataDirectory(list, directory, display, warnings, nullptr, excluded);
  if (why.ok()) {
    SkipFilesAtFolderPaths(list, warnings);
    WarnOfCaseClashes(list, warnings);
  } else {
    console.Error(why.Message());
  }
  console.Line();
  console.Line();
  return why.ok() && warnings.count() == 0;
}

// "li": the list as a list file, one "#" per record once it is written.
bool WriteListCommand(const BuildList& list, Console& console) {
  console.Prompt(kListNamePrompt);
  std::string name;
  if (!Answer(console, &name, "list file name")) return false;
  if (Status why = WriteListFile(list, name); !why.ok()) {
    console.Line();
    console.Error(Failure("could not write", name, why));
    return false;
  }
  console.Line(std::string(list.size(), '#'));
  console.Line();
  return true;
}

// "lo": adds every entry of a list file. A rejected entry is announced and
// waits for any word before the load goes on; a path line is read as the
// relational build reads it. False when the file could not be read, an
// entry was not added or a source archive was warned of.
bool LoadListCommand(BuildList& list, Console& console) {
  console.Prompt(kListNamePrompt);
  std::string name;
  if (!Answer(console, &name, "list file name")) return false;
  std::ifstream file;
  if (Status why = OpenListFile(name, &file); !why.ok()) {
    console.Error(Failure("cannot read list file", name, why));
    console.Line();
    return false;
  }
  bool loaded = true;
  SourceArchives archives;  // each source archive's directory is read once
  ConsoleWarnings warnings(console);
  SourceWarnings sources(warnings);
  ListReader reader(file);
  ListEntry entry;
  while (reader.Next(&entry)) {
    const FileSource source =
        ArchiveSourceOf(entry.path, archives).value_or(FileSource::Disk(entry.path));
    SourceNotes notes;
    Status why = AddFile(list, entry.name, source, entry.folder, &archives, &notes);
    sources.Note(source, notes);
    if (why.ok()) {
      console.Line("Added: " + entry.name + " to " + entry.folder);
      continue;
    }
    loaded = false;
    console.Line("An Unkown error has occured while attempting to add " + entry.name + " to " +
                 entry.folder);
    console.Error("could not add " + why.Message());
    std::string pause;
    if (!console.Word(pause)) {
      console.Error("end of input: the rest of " + name + " was not loaded");
      break;
    }
    archives.Recheck();  // sources may have changed during the pause
  }
  if (file.bad()) {
    console.Error("could not read list file " + name);
    loaded = false;
  } else if (reader.incomplete() > 0) {
    console.Error(IncompleteEntryText(name, reader.line(), reader.incomplete()));
    loaded = false;
  }
  file.close();
  console.Line();
  return loaded && warnings.count() == 0;
}

// "wr": the list as an archive, laid out first. False when it was not
// written or the writer warned of paths readers cannot tell apart.
bool WriteArchiveCommand(BuildList& list, Console& console, const EntryTimes& times) {
  console.Prompt("VP output Filename: ");
  std::string name;
  if (!Answer(console, &name, "archive name")) return false;
  ConsoleWarnings warnings(console);
  WriteDisplay display(console, /*folders=*/true, /*progress=*/false);
  if (Status why = WriteArchive(list, name, warnings, &display, nullptr, times); !why.ok()) {
    console.Error(Failure("could not write", name, why));
    return false;
  }
  console.Line("VP Written!");
  return warnings.count() == 0;
}

// "ad": one file from its three typed values; the path is read as a list
// file's path line is. A refusal is reported on the error stream only; the
// dialogue itself prints nothing more.
bool AddFileCommand(BuildList& list, Console& console) {
  std::string name, path, folder;
  console.Line(kFileNamePrompt);
  if (!Answer(console, &name, "file name")) return false;
  console.Line("Enter aboslutely location of on disc (c:\\example.txt):");
  if (!Answer(console, &path, "source path")) return false;
  console.Line("Enter files directory under data\\ (ie voice\\special):");
  if (!Answer(console, &folder, "folder")) return false;
  SourceArchives archives;
  const FileSource source = ArchiveSourceOf(path, archives).value_or(FileSource::Disk(path));
  SourceNotes notes;
  if (Status why = AddFile(list, name, source, folder, &archives, &notes); !why.ok()) {
    console.Error("could not add " + why.Message());
    return false;
  }
  ConsoleWarnings warnings(console);
  SourceWarnings(warnings).Note(source, notes);
  return warnings.count() == 0;
}

// "rm": removes the record of that name and folder.
bool RemoveFileCommand(BuildList& list, Console& console) {
  std::string name, folder;
  console.Prompt(kFileNamePrompt);
  if (!Answer(console, &name, "file name")) return false;
  console.Prompt("Enter files directory under data\\ (ie voice\\special)");
  if (!Answer(console, &folder, "folder")) return false;
  if (!RemoveFile(list, name, folder)) {
    console.Line("Couldn't remove file, either it isn't in the list or check your capitalization.");
    return false;
  }
  return true;
}

}  // namespace

int InteractiveLoop(BuildList& list, Console& console, const BuildSettings& build) {
  std::string command;
  bool failed = false;  // by any command of the session
  while (command != "qu") {
    for (std::string_view line : kMenu) console.Line(line);
    console.Prompt("Cmd: ");
    // The end of input ends the session as "qu" would.
    if (!console.Word(command)) break;
    // One character after the word is dropped: the line end, or the blank
    // before answers typed ahead on the same line.
    console.in.get();

    // Whole, case-sensitive words only.
    bool ok = true;
    if (command == "im") {
      ok = ImportDirectoryCommand(list, console, build.excluded);
    } else if (command == "so") {
      SortFiles(list);
    } else if (command == "li") {
      ok = WriteListCommand(list, console);
    } else if (command == "lo") {
      ok = LoadListCommand(list, console);
    } else if (command == "wr") {
      ok = WriteArchiveCommand(list, console, build.times);
    } else if (command == "re") {
      list.Reset();
    } else if (command == "ad") {
      ok = AddFileCommand(list, console);
    } else if (command == "vp") {
      ok = ImportFromVp(list, console);
    } else if (command == "rm") {
      ok = RemoveFileCommand(list, console);
    }
    failed = failed || !ok;
  }
  return failed ? 1 : 0;
}

}  // namespace quarrion
