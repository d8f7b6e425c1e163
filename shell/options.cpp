#include "shell/options.h"

#include <string_view>

#include "shell/time_text.h"
#include "vp/names.h"

#ifndef QUARRION_VERSION
#error "QUARRION_VERSION is defined by the build (CMake's project version)"
#endif

namespace quarrion {
namespace {

// The option words in the order they are tried, with the arguments each
// takes and where those go; a repeatable word appends its one argument to
// `repeated` instead.
struct OptionWord {
  std::string_view word;
  int arguments;
  std::uint32_t bit;
  std::string StartupOptions::*first;
  std::string StartupOptions::*second;
  std::vector<std::string> StartupOptions::*repeated = nullptr;
};

constexpr OptionWord kOptions[] = {
    {"-oldinterface", 0, kGivenOldInterface, nullptr, nullptr},
    {"-vppath", 1, kGivenVppath, &StartupOptions::vpPath, nullptr},
    {"-mdlist", 2, kGivenMdlist, &StartupOptions::configFile, &StartupOptions::outputFile},
    {"-o", 1, kGivenOutput, &StartupOptions::outputFile, nullptr},
    {"-dir", 1, kGivenDir, &StartupOptions::directory, nullptr},
    {"-mconfig", 1, kGivenMconfig, &StartupOptions::configFile, nullptr},
    {"-rconfig", 1, kGivenRconfig, &StartupOptions::configFile, nullptr},
    {"-list", 1, kGivenList, &StartupOptions::archiveFile, nullptr},
    {"-verify", 1, kGivenVerify, &StartupOptions::archiveFile, nullptr},
    {"-extract", 2, kGivenExtract, &StartupOptions::archiveFile, &StartupOptions::extractDir},
    {"-version", 0, kGivenVersion, nullptr, nullptr},
    {"--version", 0, kGivenVersion, nullptr, nullptr},
    {"-mtime", 1, kGivenMtime, &StartupOptions::mtime, nullptr},
    {"-exclude", 1, kGivenExclude, nullptr, nullptr, &StartupOptions::excludes},
    {"-only", 1, kGivenOnly, nullptr, nullptr, &StartupOptions::onlyPatterns},
    {"-diff", 2, kGivenDiff, &StartupOptions::diffOld, &StartupOptions::diffNew},
};

bool WritesArchives(Mode mode) {
  return mode == Mode::kDefaultBuild || mode == Mode::kRelationalBuild ||
         mode == Mode::kInteractive;
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
    const OptionWord* option = nullptr;
    for (const OptionWord& o : kOptions) {
      if (arg == o.word) {
        option = &o;
        break;
      }
    }
    if (option == nullptr) {
      options->skipped.push_back(arg);
      continue;
    }
    if (args.size() - 1 - i < static_cast<std::size_t>(option->arguments)) return false;
    // Arguments are taken literally, even when they look like options.
    if (option->first != nullptr) options->*option->first = args[++i];
    if (option->second != nullptr) options->*option->second = args[++i];
    if (option->repeated != nullptr) (options->*option->repeated).push_back(args[++i]);
    options->given |= option->bit;
  }
  return true;
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

Status ReadBuildSettings(Mode mode, const std::optional<std::string>& sourceDateEpoch,
                         StartupOptions* options) {
  BuildSettings& build = options->build;
  if (options->given & kGivenMtime) {
    const std::optional<std::int64_t> seconds = ParseTimeText(options->mtime);
    if (!seconds) {
      return Status::Error(Code::kBadTime, "",
                           "-mtime \"" + Printable(options->mtime) +
                               "\": not a time from 1970-01-01 to 2038-01-19T03:14:07 (seconds "
                               "since 1970, YYYY-MM-DD or YYYY-MM-DDTHH:MM:SS, in UTC)");
    }
    build.times = EntryTimes{EntryTimes::Rule::kFixed, static_cast<std::int32_t>(*seconds)};
  } else if (sourceDateEpoch && WritesArchives(mode)) {
    if (Status s = ReadSourceDateEpoch(*sourceDateEpoch, &build.times); !s.ok()) return s;
  }
  build.excluded.clear();
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
         "-only <pattern>                  With -list and -extract: only the files whose path\n"
         "                                 matches <pattern> (* ? [set]; repeatable)\n"
         "-diff <old.vp> <new.vp>          List the files added, removed and changed\n"
         "                                 (with -o <patch.vp>: write those added and changed)\n";
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
