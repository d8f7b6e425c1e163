// -verify: every problem the checks find in an archive, one line each, then
// the verdict.
#include <cstdint>
#include <string>

#include "base/counted.h"
#include "host/host.h"
#include "shell/modes.h"
#include "vp/check.h"

namespace quarrion {

int RunVerifyArchive(const StartupOptions& options, Console& console) {
  const std::string& path = options.archiveFile;
  host::InputFile file;
  if (Status why = file.Open(path); !why.ok()) {
    console.Error(Failure("cannot open archive", path, why));
    return 1;
  }
  ArchiveFindings findings;
  if (Status why = CheckArchive(file, &findings); !why.ok()) {
    console.Error(Failure("could not read archive", path, why));
    return 1;
  }
  for (const std::string& p : findings.problems) console.Line(p);
  if (findings.problems.empty()) {
    console.Line(path + " is sound: " + Counted(findings.files, "file", "files") + ", " +
                 Counted(findings.bytes, "byte", "bytes"));
    return 0;
  }
  console.Line(path + ": " +
               Counted(static_cast<std::int64_t>(findings.problems.size()), "problem", "problems") +
               " found");
  return 1;
}

}  // namespace quarrion
