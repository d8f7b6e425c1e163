#include <iostream>
#include <string>
#include <vector>

#include "host/interrupt.h"
#include "shell/run.h"

int main(int argc, char** argv) {
  // An interruption removes the temporary file being written and leaves
  // every target as it was.
  quarrion::host::InstallInterruptHandlers();
  std::ios::sync_with_stdio(false);
  std::cin.tie(&std::cout);
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  return quarrion::RunQuarrion(args, std::cin, std::cout, std::cerr);
}
