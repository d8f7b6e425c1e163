#include "shell/modes.h"

namespace quarrion {

// Placeholder bodies: listing, verifying and extracting archives are built
// in their own change.

int RunListArchive(const StartupOptions&, Console& console) {
  return NotAvailable(console, "Listing an archive (-list)");
}

int RunVerifyArchive(const StartupOptions&, Console& console) {
  return NotAvailable(console, "Verifying an archive (-verify)");
}

int RunExtractArchive(const StartupOptions&, Console& console) {
  return NotAvailable(console, "Extracting an archive (-extract)");
}

}  // namespace quarrion
