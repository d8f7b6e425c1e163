#include "shell/run.h"

#include "buildlist/build_list.h"
#include "buildlist/warnings.h"
#include "shell/console.h"
#include "shell/modes.h"
#include "shell/options.h"

namespace quarrion {
namespace {

// Runs the chosen mode and returns its exit status.
int RunMode(Mode mode, const StartupOptions& options, Console& console) {
  BuildList list;
  switch (mode) {
    case Mode::kVersion:
      PrintVersion(console.out);
      return 0;
    case Mode::kInteractive:
      return InteractiveLoop(list, console, options.build);
    case Mode::kList:
      return RunListArchive(options, console);
    case Mode::kVerify:
      return RunVerifyArchive(options, console);
    case Mode::kExtract:
      return RunExtractArchive(options, console);
    case Mode::kDiff:
      return RunDiffArchives(options, console);
    case Mode::kDeleteList:
      return RunDeleteList(options, console);
    case Mode::kRelationalBuild:
      return RunRelationalBuild(options, list, console);
    case Mode::kMakeConfig:
      return RunMakeConfig(options, list, console);
    case Mode::kDefaultBuild:
      return RunDefaultBuild(options, list, console);
  }
  return 1;
}

}  // namespace

int RunQuarrion(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                std::ostream& err, const std::optional<std::string>& sourceDateEpoch) {
  StartupOptions options;
  const bool parsed = ParseCommandLine(args, &options);
  Console console{in, out, err};
  // Warnings about the words; none of them changes the exit status.
  ConsoleWarnings warnings(out, err);
  for (const std::string& word : options.skipped) warnings.Note(word + ": not an option, skipped");
  if (!parsed) {
    if (!options.shortOf.empty()) console.Error(MissingArgumentText(options));
    PrintUsage(out);
    return 1;
  }
  const Mode mode = ChooseMode(options);
  for (const std::string& text : UnusedOptionWarnings(options, mode)) warnings.Note(text);
  if (mode != Mode::kVersion) {
    if (Status why = ReadBuildSettings(mode, sourceDateEpoch, &options); !why.ok()) {
      console.Error(why.Message());
      return 1;
    }
  }
  // The version is the whole output; every other mode starts with a banner.
  if (mode != Mode::kVersion) PrintBanner(out, options.given == 0);
  const int status = RunMode(mode, options, console);
  // A reader of standard output that went away ends the program by SIGPIPE
  // (host/interrupt.h). Where that signal is ignored (some wrappers leave it
  // so), the writes fail instead, and a run whose output was lost does not
  // end as a success: status 1, or -diff's 2 (trouble).
  if (out.flush()) return status;
  console.Error("could not write to standard output");
  return mode == Mode::kDiff ? 2 : 1;
}

}  // namespace quarrion
