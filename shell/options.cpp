#include "shell/options.h"

#include <string_view>

#include "base/text.h"
#include "shell/time_text.h"

#ifndef QUARRION_VERSION
#error "QUARRION_VERSION is defined by the build (CMake's project version)"
#endif

namespace quarrion {
namespace {

// The option words in the order they are tried, with the arguments each
// takes, where those go (a repeatable word appends its one argument to
// `repeated` instead) and what a word short of them is said to need.
struct OptionWord {
  std::string_view word;
  int arguments;
  std::uint32_t bit;
  std::string StartupOptions::*first;
  std::string StartupOptions::*second;
  std::vector<std::string> StartupOptions::*repeated;
  std::string_view needs;
};

using S = StartupOptions;
constexpr OptionWord kOptions[] = {
    {"-oldinterface", 0, kGivenOldInterface, nullptr, nullptr, nullptr, ""},
    {"-vppath", 1, kGivenVppath, &S::vpPath, nullptr, nullptr, "a folder"},
    {"-mdlist", 2, kGivenMdlist, &S::configFile, &S::deleteList, nullptr,
     "two file names (the configuration and the delete list)"},
    {"-o", 1, kGivenOutput, &S::outputFile, nullptr, nullptr, "a file name"},
    {"-dir", 1, kGivenDir, &S::directory, nullptr, nullptr, "a folder"},
    {"-mconfig", 1, kGivenMconfig, &S::configFile, nullptr, nullptr, "a file name"},
    {"-rconfig", 1, kGivenRconfig, &S::configFile, nullptr, nullptr, "a file name"},
    {"-list", 1, kGivenList, &S::archiveFile, nullptr, nullptr, "an archive"},
    {"-verify", 1, kGivenVerify, &S::archiveFile, nullptr, nullptr, "an archive"},
    {"-extract", 2, kGivenExtract, &S::archiveFile, &S::extractDir, nullptr,
     "an archive and a folder"},
    {"-version", 0, kGivenVersion, nullptr, nullptr, nullptr, ""},
    {"--version", 0, kGivenVersion, nullptr, nullptr, nullptr, ""},
    {"-mtime", 1, kGivenMtime, &S::mtime, nullptr, nullptr, "a time"},
    {"-exclude", 1, kGivenExclude, nullptr, nullptr, &S::excludes, "a pattern"},
    {"-only", 1, kGivenOnly, nullptr, nullptr, &S::onlyPatterns, "a pattern"},
    {"-diff", 2, kGivenDiff, &S::diffOld, &S::diffNew, nullptr, "two archives"},
};

const OptionWord* FindOption(std::string_view word) {
  for (const OptionWord& o : kOptions) {
    if (word == o.word) return &o;
  }
  return nullptr;
}

// The words that choose a mode; at most one of them runs.
constexpr std::uint32_t kModeWords = kGivenVersion | kGivenOldInterface | kGivenList |
                                     kGivenVerify | kGivenExtract | kGivenDiff | kGivenMdlist |
                                     kGivenRconfig | kGivenMconfig;

// The options whose values `mode` acts on, its own word included.
std::uint32_t OptionsUsed(Mode mode, std::uint32_t given) {
  switch (mode) {
    case Mode::kVersion:
      return kGivenVersion;
    case Mode::kInteractive:  // "im" excludes, "wr" stamps
      return kGivenOldInterface | kGivenExclude | kGivenMtime;
    case Mode::kList:
      return kGivenList | kGivenOnly;
    case Mode::kVerify:
      return kGivenVerify;
    case Mode::kExtract:
      return kGivenExtract | kGivenOnly;
    case Mode::kDiff:  // -mtime stamps the patch, which -o asks for
      return kGivenDiff | kGivenOnly | kGivenOutput | ((given & kGivenOutput) ? kGivenMtime : 0u);
    case Mode::kDeleteList:
      return kGivenMdlist;
    case Mode::kRelationalBuild:
      return kGivenRconfig | kGivenDir | kGivenVppath | kGivenOutput | kGivenMtime;
    case Mode::kMakeConfig:
      return kGivenMconfig | kGivenDir | kGivenExclude;
    case Mode::kDefaultBuild:
      return kGivenDir | kGivenOutput | kGivenMtime | kGivenExclude;
  }
  return 0;
}

bool WritesArchives(Mode mode, std::uint32_t given) {
  return mode == Mode::kDefaultBuild || mode == Mode::kRelationalBuild ||
         mode == Mode::kInteractive || (mode == Mode::kDiff && (given & kGivenOutput));
}

// SOURCE_DATE_EPOCH holds decimal seconds alone (no date forms, no sign).
Status ReadSourceDateEpoch(const std::string& text, EntryTimes* times) {
  std::optional<std::int64_t> seconds;
  if (text.find_first_not_of("0123456789") == std::string::npos) seconds = ParseTimeText(text);
  if (!seconds) {
    return Status::Error(Code::kBadTime, "",
                         "SOURCE_DATE_EPOCH \"" + Printable(text) +
                             "\": not a count of seconds since 1970 (0 to 2147483647)");
  }
  *times = EntryTimes{EntryTimes::Rule::kNoLaterThan, static_cast<std::int32_t>(*seconds)};
  return Status::Ok();
}

}  // namespace

bool ParseCommandLine(const std::vector<std::string>& args, StartupOptions* options) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "-help" || arg == "-?" || arg == "-h" || arg == "--help") return false;
    const OptionWord* option = FindOption(arg);
    if (option == nullptr) {
      options->skipped.push_back(arg);
      continue;
    }
    if (args.size() - 1 - i < static_cast<std::size_t>(option->arguments)) {
      options->shortOf = arg;
      return false;
    }
    if (!(options->given & option->bit)) options->words.push_back(arg);
    // Arguments are taken literally, even when they look like options.
    if (option->first != nullptr) options->*option->first = args[++i];
    if (option->second != nullptr) options->*option->second = args[++i];
    if (option->repeated != nullptr) (options->*option->repeated).push_back(args[++i]);
    options->given |= option->bit;
  }
  return true;
}

std::string MissingArgumentText(const StartupOptions& options) {
  const OptionWord* option = FindOption(options.shortOf);
  if (option == nullptr) return "";
  return std::string(option->word) + " needs " + std::string(option->needs);
}

Mode ChooseMode(const StartupOptions& options) {
  const std::uint32_t given = options.given;
  if (given & kGivenVersion) return Mode::kVersion;
  if (given & kGivenOldInterface) return Mode::kInteractive;
  if (given & kGivenList) return Mode::kList;
  if (given & kGivenVerify) return Mode::kVerify;
  if (given & kGivenExtract) return Mode::kExtract;
  if (given & kGivenDiff) return Mode::kDiff;
  if (given & kGivenMdlist) return Mode::kDeleteList;
  if (given & kGivenRconfig) return Mode::kRelationalBuild;
  if (given & kGivenMconfig) return Mode::kMakeConfig;
  return Mode::kDefaultBuild;
}

std::vector<std::string> UnusedOptionWarnings(const StartupOptions& options, Mode mode) {
  const std::uint32_t used = OptionsUsed(mode, options.given);
  // The mode is named by its word as typed; the default build has none.
  std::string chosen = "the default build";
  const OptionWord* chosenWord = nullptr;
  for (const std::string& word : options.words) {
    if (FindOption(word)->bit & used & kModeWords) {
      chosen = word;
      chosenWord = FindOption(word);
    }
  }
  std::vector<std::string> warnings;
  for (const std::string& word : options.words) {
    const OptionWord* option = FindOption(word);
    if (option->bit & used) continue;
    if (option->bit & kModeWords) {
      std::string text = word + ": not run, " + chosen + " runs instead";
      // Mode words that share their value: the last one given is the
      // file the mode works on.
      if (chosenWord != nullptr && option->first != nullptr && option->first == chosenWord->first) {
        text += " (on " + options.*option->first + ")";
      }
      warnings.push_back(std::move(text));
    } else {
      warnings.push_back(word + ": not used by " + chosen + ", ignored");
    }
  }
  return warnings;
}

Status ReadBuildSettings(Mode mode, const std::optional<std::string>& sourceDateEpoch,
                         StartupOptions* options) {
  BuildSettings& build = options->build;
  // An option the mode ignores (and warns about) is not checked either.
  const std::uint32_t used = OptionsUsed(mode, options->given);
  if (options->given & used & kGivenMtime) {
    const std::optional<std::int64_t> seconds = ParseTimeText(options->mtime);
    if (!seconds) {
      return Status::Error(Code::kBadTime, "",
                           "-mtime \"" + Printable(options->mtime) +
                               "\": not a time from 1970-01-01 to 2038-01-19T03:14:07 (seconds "
                               "since 1970, YYYY-MM-DD or YYYY-MM-DDTHH:MM:SS, in UTC)");
    }
    build.times = EntryTimes{EntryTimes::Rule::kFixed, static_cast<std::int32_t>(*seconds)};
  } else if (sourceDateEpoch && WritesArchives(mode, options->given)) {
    if (Status s = ReadSourceDateEpoch(*sourceDateEpoch, &build.times); !s.ok()) return s;
  }
  build.excluded.clear();
  if (!(used & kGivenExclude)) return Status::Ok();
  for (const std::string& text : options->excludes) {
    Pattern pattern;
    Status s = Pattern::Compile(text, Pattern::Separators::kNotMatched, &pattern);
    if (!s.ok()) return Status::Error(s.code, "", "-exclude: " + s.Message());
    build.excluded.push_back(std::move(pattern));
  }
  return Status::Ok();
}

void PrintUsage(std::ostream& out) {
  // The first line keeps its version number: scripts match the line as it is.
  out << "Quarrion 1.5 - VP archive builder\n"
         "Usage is quarrion [options]\n"
         "-dir <directory>                 Base directory (translates to data dir)\n"
         "-mconfig <config>\t\t\t      Make a configuration file\n"
         "-rconfig <config>\t\t\t      Use a configuration file (relational)\n"
         "-vppath <path>\t\t\t\t\t  Path to VPs for vp to vp copy\n"
         "-o <vpfile>\t\t\t          Output to <vpfile>.vp\n"
         "-mdlist <configfile> <outfile>   Make NSIS Delete list from config\n"
         "-oldinterface\t\t\t\t\t  Use old interface;\n"
         "-? -h or -help\t\t\t\t      Print Help\n"
         "-list <vpfile>                   List the files in <vpfile>\n"
         "-verify <vpfile>                 Check <vpfile> and report every problem\n"
         "-extract <vpfile> <directory>    Extract <vpfile> into <directory>\n"
         "--help                           Print Help\n"
         "-version or --version            Print the version\n"
         "-mtime <when>                    Stamp every file with <when> (UTC)\n"
         "-exclude <pattern>               Leave out files and folders matching <pattern>\n"
         "-only <pattern>                  With -list, -extract and -diff: only the files whose\n"
         "                                 path matches <pattern> (* ? [set]; repeatable)\n"
         "-diff <old.vp> <new.vp>          List the files added, removed and changed\n"
         "                                 (with -o <patch.vp>: write those added and changed)\n"
         "SOURCE_DATE_EPOCH=<seconds>      (Environment) Without -mtime: no file time later\n"
         "                                 than <seconds>\n"
         "QUARRION_IO=portable             (Environment) Read small files one at a time\n"
         "Exit status 0                    Done\n"
         "Exit status 1                    Usage shown, or something failed, skipped or refused\n"
         "Exit status 128+N                Ended by signal N\n"
         "-diff exit status 0, 1, 2        The same files, different files, trouble\n";
  out.flush();
}

void PrintBanner(std::ostream& out, bool longBanner) {
  if (longBanner) {
    out << "Welcome to Quarrion " QUARRION_VERSION
           ", the command-line edition\n"
           "Quarrion packs game data directories into VP archives\n"
           "# VP to VP Copy and oldinterface now available\n"
           "\n"
           "\n";
  } else {
    out << "Quarrion " QUARRION_VERSION
           " - VP archive builder\n"
           "\n";
  }
  out.flush();
}

void PrintVersion(std::ostream& out) {
  out << "quarrion " QUARRION_VERSION "\n";
  out.flush();
}

}  // namespace quarrion
