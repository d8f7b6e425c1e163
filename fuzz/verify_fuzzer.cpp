// Arbitrary bytes as an archive for -verify, run as the program runs it:
// the check must end without a fault and its verdict must agree with
// itself and with -list. It prints one line per problem and then a count of
// exactly those lines, or calls the archive sound with totals that -list,
// reading the same bytes through the reader, prints too and without error.
#include "fuzz_util.h"

using namespace quarrion;
using fuzz::Quarrion;
using fuzz::Run;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const fuzz::Scratch backing("verify");
  backing.Hold(data, size);

  // The file is there and readable: whatever it holds is a finding, never
  // an error of the run.
  const Run verify = Quarrion({"-verify", backing.path});
  Check(verify.err.empty());
  Check(!verify.lines.empty());
  const std::string& verdict = verify.lines.back();
  const std::string sound = backing.path + " is sound: ";
  if (verify.status == 0) {
    Check(verify.lines.size() == 1);
    Check(verdict.compare(0, sound.size(), sound) == 0);
    const std::string totals = verdict.substr(sound.size());
    // Listed, the same files with the same totals, and no error.
    const Run list = Quarrion({"-list", backing.path});
    Check(list.status == 0);
    Check(list.err.empty());
    Check(!list.lines.empty() && list.lines.back() == totals);
    const std::size_t files = list.lines.size() - 1;
    Check(totals.rfind(std::to_string(files) + (files == 1 ? " file, " : " files, "), 0) == 0);
    return 0;
  }
  Check(verify.status == 1);
  const std::size_t problems = verify.lines.size() - 1;
  Check(problems >= 1);
  Check(verdict == backing.path + ": " + std::to_string(problems) +
                       (problems == 1 ? " problem found" : " problems found"));
  return 0;
}
