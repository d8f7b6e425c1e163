// Arbitrary bytes as two archives for -diff (split at the first "@@NEW@@",
// else both the whole input): the difference lines and totals agree with
// each other and the status; -o prints the same and writes a patch that
// -verify calls sound and whose every file is in the new archive, or fails
// with status 2 and writes nothing.
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_util.h"

namespace {

using namespace quarrion::fuzz;

// Standard error without the warnings of bytes after an archive's
// directory: -diff names them and compares all the same.
std::string WithoutTrailingBytes(const std::string& err) {
  std::istringstream lines(err);
  std::string rest;
  for (std::string l; std::getline(lines, l);) {
    if (l.rfind("quarrion: warning: ", 0) != 0 ||
        l.find(" after the last directory entry") == std::string::npos) {
      rest += l + '\n';
    }
  }
  return rest;
}

// A -diff that compared: no error, every line a difference ("+ ", "- " or
// "~ " and a path, maybe empty) counted in the totals line that ends it,
// and status 1 exactly when there is a difference.
void CheckComparison(const Run& r) {
  Check(WithoutTrailingBytes(r.err).empty() && !r.lines.empty());
  long counts[3] = {};
  for (std::size_t i = 0; i + 1 < r.lines.size(); ++i) {
    const std::string& l = r.lines[i];
    const std::size_t kind = std::string_view("+-~").find(l.empty() ? ' ' : l[0]);
    Check(kind != std::string_view::npos && l.size() >= 2 && l[1] == ' ');
    ++counts[kind];
  }
  const std::string& totals = r.lines.back();
  const std::size_t at = totals.rfind(" changed, ");
  Check(at != std::string::npos);
  Check(totals == std::to_string(counts[0]) + " added, " + std::to_string(counts[1]) +
                      " removed, " + std::to_string(counts[2]) + " changed, " +
                      std::to_string(std::strtol(totals.c_str() + at + 10, nullptr, 10)) +
                      " unchanged");
  Check(r.status == (r.lines.size() == 1 ? 0 : 1));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string oldArchive = InputName("diff-old.vp");
  static const std::string newArchive = InputName("diff-new.vp");
  static const std::string patch = ScratchName("diff-patch.vp");
  const std::size_t marker =
      std::string_view(reinterpret_cast<const char*>(data), size).find("@@NEW@@");
  const std::size_t oldSize = marker == std::string_view::npos ? size : marker;
  const std::size_t newStart = marker == std::string_view::npos ? 0 : marker + 7;
  Hold(oldArchive, data, oldSize);
  Hold(newArchive, data + newStart, size - newStart);

  const Run diff = Quarrion({"-diff", oldArchive, newArchive});
  if (diff.status == 2) {
    Check(!diff.err.empty());
    return 0;
  }
  CheckComparison(diff);

  const Run patched = Quarrion({"-diff", oldArchive, newArchive, "-o", patch});
  if (patched.status == 2) {
    Check(WithoutTrailingBytes(patched.err).rfind("quarrion: could not write " + patch, 0) == 0);
    Check(::access(patch.c_str(), F_OK) != 0 && patched.lines == diff.lines);
    return 0;
  }
  Check(patched.status == diff.status && patched.lines.size() == diff.lines.size() + 1);
  Check(std::vector<std::string>(patched.lines.begin(), patched.lines.end() - 1) == diff.lines);
  Check(patched.lines.back().rfind("Wrote " + patch + ": ", 0) == 0);

  Check(Quarrion({"-verify", patch}).status == 0);
  // Every file of the patch is in the new archive with its data.
  const Run back = Quarrion({"-diff", patch, newArchive});
  CheckComparison(back);
  Check(back.lines.back().find(" 0 removed, 0 changed, ") != std::string::npos);
  std::remove(patch.c_str());
  return 0;
}
