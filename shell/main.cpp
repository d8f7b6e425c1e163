#include <cstdlib>
#include <exception>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "base/text.h"
#include "host/console.h"
#include "interrupt/interrupt.h"
#include "shell/run.h"

namespace {

// The last word of a run that an exception (out of memory, say) ended:
// everything on the way out was unwound, so no temporary file stays behind.
int Failed(const char* what) {
  std::cout.flush();
  std::cerr << "quarrion: " << quarrion::Printable(what) << '\n';
  std::cerr.flush();
  return 1;
}

template <typename Char>
int Main(int argc, Char** argv) {
  try {
    // An interruption removes the temporary file being written and leaves
    // every target as it was.
    quarrion::interrupt::InstallInterruptHandlers();
    std::ios::sync_with_stdio(false);
    std::cin.tie(&std::cout);
    const quarrion::host::Utf8Console console;
    const std::vector<std::string> args = quarrion::host::Arguments(argc, argv);
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

}  // namespace

// Windows hands the arguments over in UTF-16 only to wmain.
#if defined(_WIN32)
int wmain(int argc, wchar_t** argv) { return Main(argc, argv); }
#else
int main(int argc, char** argv) { return Main(argc, argv); }
#endif
