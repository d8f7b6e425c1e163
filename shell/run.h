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
// environment's SOURCE_DATE_EPOCH when it is set. Exit status: 0 when the
// mode ran to its end, 1 after the usage text or when a mode failed.
int RunQuarrion(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                std::ostream& err, const std::optional<std::string>& sourceDateEpoch = {});

}  // namespace quarrion
