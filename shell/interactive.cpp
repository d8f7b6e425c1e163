#include "shell/modes.h"

namespace quarrion {

// Placeholder body: the command loop is built in its own change.
void InteractiveLoop(BuildList&, Console& console) {
  NotAvailable(console, "The interactive mode (-oldinterface)");
}

}  // namespace quarrion
