// Arbitrary bytes as two archives for -diff (split at the first "@@NEW@@",
// else both the whole input): the difference lines and totals agree with
// each other and the status; -o prints the same and writes a patch that
// -verify calls sound and whose every file is in the new archive, or fails
// with status 2 and writes nothing.
#include <sys/stat.h>

#include <string>
#include <string_view>
#include <vector>

#include "fuzz_util.h"

namespace {

using namespace quarrion;
using fuzz::Quarrion;
using fuzz::Run;

// The totals line for the difference lines before `end`, counted.
std::string Totals(const std::vector<std::string>& lines, std::size_t end, long unchanged) {
  long added = 0, removed = 0, changed = 0;
  for (std::size_t i = 0; i < end; ++i) {
    const std::string& l = lines[i];
    Check(l.size() >= 2 && l[1] == ' ');  // an empty name gives an empty path
    added += l[0] == '+';
    removed += l[0] == '-';
    changed += l[0] == '~';
    Check(l[0] == '+' || l[0] == '-' || l[0] == '~');
  }
  return std::to_string(added) + " added, " + std::to_string(removed) + " removed, " +
         std::to_string(changed) + " changed, " + std::to_string(unchanged) + " unchanged";
}

// Standard error with the warnings of bytes after an archive's directory
// taken out: -diff names them and compares all the same.
std::string WithoutTrailingBytes(const std::string& err) {
  std::string rest;
  std::size_t at = 0;
  while (at < err.size()) {
    std::size_t end = err.find('\n', at);
    end = end == std::string::npos ? err.size() : end + 1;
    const std::string_view line(err.data() + at, end - at);
    const bool trailing = line.rfind("quarrion: warning: ", 0) == 0 &&
                          line.find(" after the last directory entry") != std::string::npos;
    if (!trailing) rest.append(line);
    at = end;
  }
  return rest;
}

// Checks the output of a -diff that compared; the number of unchanged files.
long CheckComparison(const Run& r, std::size_t end) {
  Check(end >= 1 && end <= r.lines.size());
  const std::string& totals = r.lines[end - 1];
  const std::size_t at = totals.rfind(" changed, ");
  Check(at != std::string::npos);
  const long unchanged = std::strtol(totals.c_str() + at + 10, nullptr, 10);
  Check(totals == Totals(r.lines, end - 1, unchanged));
  Check(r.status == (end == 1 ? 0 : 1));
  return unchanged;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const fuzz::Scratch oldArchive("diff-old", true), newArchive("diff-new", true);
  static const std::string patch = fuzz::ScratchName("diff-patch.vp");
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t marker = input.find("@@NEW@@");
  const std::size_t oldSize = marker == std::string_view::npos ? size : marker;
  const std::size_t newStart = marker == std::string_view::npos ? 0 : marker + 7;
  oldArchive.Hold(data, oldSize);
  newArchive.Hold(data + newStart, size - newStart);

  const Run diff = Quarrion({"-diff", oldArchive.path, newArchive.path});
  Check(diff.status == 0 || diff.status == 1 || diff.status == 2);
  if (diff.status == 2) {
    Check(!diff.err.empty());
    return 0;
  }
  Check(WithoutTrailingBytes(diff.err).empty());
  CheckComparison(diff, diff.lines.size());

  const Run patched = Quarrion({"-diff", oldArchive.path, newArchive.path, "-o", patch});
  struct stat st;
  if (patched.status == 2) {
    Check(WithoutTrailingBytes(patched.err).rfind("quarrion: could not write " + patch, 0) == 0);
    Check(::stat(patch.c_str(), &st) != 0);
    Check(patched.lines == diff.lines);
    return 0;
  }
  Check(patched.status == diff.status);
  Check(patched.lines.size() == diff.lines.size() + 1);
  Check(std::vector<std::string>(patched.lines.begin(), patched.lines.end() - 1) == diff.lines);
  Check(patched.lines.back().rfind("Wrote " + patch + ": ", 0) == 0);

  const Run verify = Quarrion({"-verify", patch});
  Check(verify.status == 0);
  // Every file of the patch is in the new archive with its data.
  const Run back = Quarrion({"-diff", patch, newArchive.path});
  Check(WithoutTrailingBytes(back.err).empty());
  CheckComparison(back, back.lines.size());
  Check(back.lines.back().find(" 0 removed, 0 changed, ") != std::string::npos);
  std::remove(patch.c_str());
  return 0;
}
