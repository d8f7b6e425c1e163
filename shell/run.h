// The program's entry: read the command line, print the usage or a banner,
// run exactly one mode and return its exit status.
#pragma once

#include <istream>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace quarrion {

// `args` are the arguments after the program name; `sourceDateEpoch` is the
// environment's SOURCE_DATE_EPOCH when it is set. The exit status:
//   0  the mode ran to its end (the interactive loop: no command failed);
//   1  the usage text was shown; the mode failed (-verify: the archive has
//      a problem; the interactive loop: a command of the session failed);
//      or it skipped or refused something with a counted warning;
//   -diff: 0 the archives hold the same files, 1 they differ, 2 trouble (an
//      archive cannot be read, the patch cannot be written, or an -only
//      pattern matched no file).
// A run whose standard output could not be written (its reader went away,
// with SIGPIPE ignored) ends with 1, or -diff's 2.
// And 128 + N when signal N interrupted the run: the handler that main
// installs ends it so (interrupt/interrupt.h).
int RunQuarrion(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                std::ostream& err, const std::optional<std::string>& sourceDateEpoch = {});

}  // namespace quarrion
