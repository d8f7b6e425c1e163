// The four batch modes: the default build, make configuration (-mconfig),
// the relational build (-rconfig, -vppath) and the NSIS delete list (-mdlist).
// Each runs once and returns the exit status. Every file is written through
// an atomic output file, so a failure never leaves a half-written file behind
// and an existing file of that name keeps its contents.
#include <cstdint>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
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
#include "vp/counted.h"
#include "vp/source_archives.h"

namespace quarrion {
namespace {

constexpr char kDataDirectoryPrompt[] =
    "Enter Data Directory Location (ie c:\\games\\starhold\\data)";
constexpr char kArchiveNamePrompt[] = "VP output Filename (no whitespace): ";

// `text` written so that the installer compiler reads it as it stands inside
// a double-quoted string: there a `$` starts a variable or constant, `$$`
// stands for one dollar sign and `$\"` for a double quote.
std::string InstallerLiteral(const std::string& text) {
  std::string literal;
  literal.reserve(text.size());
  for (char c : text) {
    if (c == '"') {
      literal += "$\\\"";
      continue;
    }
    literal += c;
    if (c == '$') literal += '$';
  }
  return literal;
}

// Why an installer line cannot delete the entry's file, naming the entry as
// "<folder>\<name>": the name and every folder component must be names the
// installer takes as they stand. An empty folder is the installation's top.
Status CheckDeleteEntry(const ListEntry& entry) {
  const std::string shown = entry.folder.empty() ? entry.name : entry.folder + "\\" + entry.name;
  if (Status why = CheckName(entry.name, NameUse::kInstaller); !why.ok()) {
    return Status::Error(why.code, shown, "the name \"" + entry.name + "\" " + why.reason);
  }
  if (entry.folder.empty()) return Status::Ok();
  std::vector<std::string> parts;
  SplitPath(entry.folder, '\\', &parts);
  for (const std::string& part : parts) {
    if (Status why = CheckName(part, NameUse::kInstaller); !why.ok()) {
      return Status::Error(why.code, shown,
                           part.empty()
                               ? "the folder \"" + entry.folder + "\" has an empty component"
                               : "the folder component \"" + part + "\" " + why.reason);
    }
  }
  return Status::Ok();
}

// Asks for the data directory (blanks allowed). Fails when input ended
// before an answer came.
Status AskDataDirectory(Console& console, std::string* directory) {
  console.Line(kDataDirectoryPrompt);
  console.Prompt("#:");
  console.Lines(*directory);
  if (console.in.fail() && directory->empty()) {
    return Status::Error(Code::kEndOfInput, "", "no data directory given (end of input)");
  }
  return Status::Ok();
}

// The archive name: -o when given, otherwise one word typed at the prompt.
Status ChooseArchiveName(const StartupOptions& options, Console& console, std::string* name) {
  if (options.given & kGivenOutput) {
    *name = options.outputFile;
    return Status::Ok();
  }
  console.Prompt(kArchiveNamePrompt);
  if (!console.Word(*name)) {
    return Status::Error(Code::kEndOfInput, "", "no archive name given (end of input)");
  }
  return Status::Ok();
}

// Prints the error that ends a run; the run's exit status.
int Failed(Console& console, std::string_view message) {
  console.Error(message);
  return 1;
}

// The error of a configuration file that cannot be read (nothing is ever
// created in its place).
int ConfigurationFailed(Console& console, const StartupOptions& options, const Status& why) {
  return Failed(console, Failure("cannot read configuration file", options.configFile, why));
}

// Imports the data directory named by -dir, or asks for it. Fails when no
// directory was given or it cannot be listed.
Status ImportForBuild(const StartupOptions& options, BuildList& list, Console& console,
                      Warnings& warnings) {
  const bool typed = !(options.given & kGivenDir);
  std::string directory = options.directory;
  if (typed) {
    if (Status why = AskDataDirectory(console, &directory); !why.ok()) return why;
    console.Line();
    console.Line("Importing Directory: \"" + directory + "\"");
  }
  ImportDisplay display(console);
  if (Status why =
          ImportDataDirectory(list, directory, display, warnings, nullptr, options.build.excluded);
      !why.ok()) {
    return why;
  }
  if (typed) {
    console.Line();
    console.Line();
  }
  return Status::Ok();
}

// Writes the list as an archive named `target`, its file entries with the
// times the options set, with a progress line on a terminal (erased again
// before this returns).
Status WriteBuild(const StartupOptions& options, BuildList& list, const std::string& target,
                  Console& console, Warnings& warnings, SourceArchives* archives) {
  WriteDisplay display(console, /*folders=*/true, /*progress=*/true);
  return WriteArchive(list, target, warnings, &display, archives, options.build.times);
}

// Where a relational configuration entry's bytes come from: the archive
// entry its path line names (the archive moved to the -vppath folder when
// given, before it is looked for), otherwise the file at the base
// directory, the folder and the name joined as they stand.
FileSource RelationalSource(const StartupOptions& options, const ListEntry& entry,
                            const std::string& directory, SourceArchives& archives) {
  const std::string* moveTo = (options.given & kGivenVppath) ? &options.vpPath : nullptr;
  if (std::optional<FileSource> archived = ArchiveSourceOf(entry.path, archives, moveTo)) {
    return *std::move(archived);
  }
  return FileSource::Disk(directory + "\\" + entry.folder + "\\" + entry.name);
}

// What follows the source in the "Add Failed!" line: the words for a file
// that does not exist, or the reason it could not be added.
std::string AddFailureText(const Status& why) {
  switch (why.code) {
    case Code::kNotFound:
      return " Does Not Exist!";
    case Code::kNotRegular:
      return " Is Not A Regular File!";
    case Code::kTooLarge:
      return " Is Too Large (2 GiB Or More)!";
    case Code::kNameTooLong:
      return " Has A Name Longer Than 31 Characters!";
    case Code::kNotPlainName:
      return " Has A Name That Is Not A Plain Name!";
    case Code::kNotVpArchive:
      return " Is Not In A VP Archive!";
    case Code::kNoSuchEntry:
      return " Is Not In Its VP Archive!";
    case Code::kBrokenEntry:
      return " Is Broken In Its VP Archive!";
    case Code::kOutOfRange:
      return " Lies Outside Its VP Archive!";
    default:
      return " Could Not Be Read!";
  }
}

}  // namespace

// The default build, -mconfig and -rconfig exit with 1 after a counted
// warning: a file skipped, or two paths that differ only in letter case.
int RunDefaultBuild(const StartupOptions& options, BuildList& list, Console& console) {
  ConsoleWarnings warnings(console);
  if (Status why = ImportForBuild(options, list, console, warnings); !why.ok()) {
    return Failed(console, why.Message());
  }
  console.Line("Writing VP ->");
  std::string target;
  if (Status why = ChooseArchiveName(options, console, &target); !why.ok()) {
    return Failed(console, why.Message());
  }
  // The writer looks for paths that differ only in letter case.
  if (Status why = WriteBuild(options, list, target, console, warnings, nullptr); !why.ok()) {
    return Failed(console, Failure("could not write", target, why));
  }
  return warnings.count() > 0 ? 1 : 0;
}

int RunMakeConfig(const StartupOptions& options, BuildList& list, Console& console) {
  ConsoleWarnings warnings(console);
  if (Status why = ImportForBuild(options, list, console, warnings); !why.ok()) {
    return Failed(console, why.Message());
  }
  // The configuration holds what a build of it can write.
  SkipFilesAtFolderPaths(list, warnings);
  WarnOfCaseClashes(list, warnings);
  if (Status why = WriteListFile(list, options.configFile); !why.ok()) {
    return Failed(console, Failure("could not write", options.configFile, why));
  }
  return warnings.count() > 0 ? 1 : 0;
}

int RunRelationalBuild(const StartupOptions& options, BuildList& list, Console& console) {
  console.Line("Relational Config Mode");
  std::string directory = options.directory;
  if (!(options.given & kGivenDir)) {
    if (Status why = AskDataDirectory(console, &directory); !why.ok()) {
      return Failed(console, why.Message());
    }
  }
  std::ifstream config;
  if (Status why = OpenListFile(options.configFile, &config); !why.ok()) {
    return ConfigurationFailed(console, options, why);
  }
  console.Line("Importing Relational Config with base directory: " + directory);

  // One directory read per source archive for the adds and the write alike.
  SourceArchives archives;
  ConsoleWarnings warnings(console);
  SourceWarnings sourceWarnings(warnings);
  ListReader reader(config);
  ListEntry entry;
  while (reader.Next(&entry)) {
    const FileSource source = RelationalSource(options, entry, directory, archives);
    SourceNotes notes;
    if (Status why = AddFile(list, entry.name, source, entry.folder, &archives, &notes);
        !why.ok()) {
      console.Prompt("Add Failed! File \"" + source.Text() + "\"" + AddFailureText(why));
      return 1;
    }
    sourceWarnings.Note(source, notes);
  }
  if (config.bad()) {
    console.Error("could not read configuration file " + options.configFile);
    return 1;
  }
  config.close();
  if (reader.incomplete() > 0) {
    warnings.Add(IncompleteEntryText(options.configFile, reader.line(), reader.incomplete()));
  }

  std::string target;
  if (Status why = ChooseArchiveName(options, console, &target); !why.ok()) {
    return Failed(console, why.Message());
  }
  archives.Recheck();  // the archive name may have been typed meanwhile
  if (Status why = WriteBuild(options, list, target, console, warnings, &archives); !why.ok()) {
    return Failed(console, Failure("could not write", target, why));
  }
  return warnings.count() > 0 ? 1 : 0;
}

// Every entry is checked before anything is written: one that cannot be
// deleted as it stands fails the whole list.
int RunDeleteList(const StartupOptions& options, Console& console) {
  console.Line("Making NSIS Delete List (" + options.deleteList + ") from config file (" +
               options.configFile + ")");
  std::ifstream config;
  if (Status why = OpenListFile(options.configFile, &config); !why.ok()) {
    return ConfigurationFailed(console, options, why);
  }
  ConsoleWarnings warnings(console);
  std::string text;
  std::int64_t refused = 0;
  ListReader reader(config);
  ListEntry entry;
  while (reader.Next(&entry)) {
    if (Status why = CheckDeleteEntry(entry); !why.ok()) {
      console.Error(options.configFile + ", line " + std::to_string(reader.line()) + ": " +
                    why.Message());
      ++refused;
      continue;
    }
    // $INSTDIR stays a variable; a `$` in the folder or name is the file's own.
    text += "  delete \"$INSTDIR\\" + InstallerLiteral(entry.folder) + "\\" +
            InstallerLiteral(entry.name) + "\"\r\n";
  }
  if (config.bad()) {
    console.Error("could not read configuration file " + options.configFile);
    return 1;
  }
  if (reader.incomplete() > 0) {
    warnings.Add(IncompleteEntryText(options.configFile, reader.line(), reader.incomplete()));
  }
  if (refused > 0) {
    console.Error(options.deleteList +
                  " not written: " + Counted(refused, "entry was", "entries were") + " refused");
    return 1;
  }
  host::AtomicOutputFile out;
  Status why = out.Create(options.deleteList);
  if (why.ok()) why = out.Write(text);
  if (why.ok()) why = out.Commit();
  if (!why.ok()) {
    console.Error(Failure("could not write", options.deleteList, why));
    return 1;
  }
  return warnings.count() > 0 ? 1 : 0;
}

std::string IncompleteEntryText(const std::string& file, std::int64_t line, int lines) {
  return file + ", line " + std::to_string(line) + ": the file ends within the entry that " +
         "begins there (" + std::to_string(lines) + " of its 3 lines), which is not used";
}

}  // namespace quarrion
