#include "shell/modes.h"

namespace quarrion {

// Placeholder bodies: the batch modes are built in their own change.

int RunDeleteList(const StartupOptions&, Console& console) {
  return NotAvailable(console, "The NSIS delete list mode (-mdlist)");
}

int RunRelationalBuild(const StartupOptions&, BuildList&, Console& console) {
  return NotAvailable(console, "The relational build (-rconfig)");
}

int RunMakeConfig(const StartupOptions&, BuildList&, Console& console) {
  return NotAvailable(console, "Making a configuration file (-mconfig)");
}

int RunDefaultBuild(const StartupOptions&, BuildList&, Console& console) {
  return NotAvailable(console, "The default build (-dir, -o)");
}

}  // namespace quarrion
