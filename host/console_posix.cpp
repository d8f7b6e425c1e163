// The command line and the standard streams on POSIX: bytes as they come,
// UTF-8 wherever the system's names are.
#include "host/console.h"

namespace quarrion::host {

std::vector<std::string> Arguments(int argc, char** argv) {
  return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

struct Utf8Console::Streams {};

Utf8Console::Utf8Console() = default;
Utf8Console::~Utf8Console() = default;

}  // namespace quarrion::host
