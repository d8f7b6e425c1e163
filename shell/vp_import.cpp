#include "shell/modes.h"

namespace quarrion {

// Placeholder body: importing from an archive is built in its own change.
void ImportFromVp(BuildList&, Console& console) {
  NotAvailable(console, "Importing from an archive");
}

}  // namespace quarrion
