#include <cstdlib>
#include <exception>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "host/interrupt.h"
#include "shell/run.h"
#include "vp/names.h"

namespace {

// The last word of a run that an exception (out of memory, say) ended:
// everything on the way out was unwound, so no temporary file stays behind.
int Failed(const char* what) {
  std::cout.flush();
  std::cerr << "quarrion: " << quarrion::Printable(what) << '\n';
  std::cerr.flush();
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    // An interruption removes the temporary file being written and leaves
    // every target as it was.
    quarrion::host::InstallInterruptHandlers();
    std::ios::sync_with_stdio(false);
    std::cin.tie(&std::cout);
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    // The environment is read here, once: the rest of the program sees it
    // as an argument.
    std::optional<std::string> sourceDateEpoch;
    if (const char* value = std::getenv("SOURCE_DATE_EPOCH")) sourceDateEpoch = value;
    return quarrion::RunQuarrion(args, std::cin, std::cout, std::cerr, sourceDateEpoch);
  } catch (const std::exception& e) {
    return Failed(e.what());
  } catch (...) {
    return Failed("an unknown exception ended the run");
  }
}
