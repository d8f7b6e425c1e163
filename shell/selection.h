// The files -only chooses by their path inside the archive: every pattern
// compiled once before any work, and each noted when it matches, so that a
// pattern that chose nothing is named afterwards.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "buildlist/pattern.h"
#include "buildlist/warnings.h"
#include "host/status.h"

namespace quarrion {

class Selection {
 public:
  // Compiles the patterns (`*` and `?` also match a backslash). Fails,
  // naming the option and the pattern, on a malformed one.
  Status Compile(const std::vector<std::string>& patterns);

  // True when no pattern was given or one matches `path`; every pattern
  // that matches is noted.
  bool Chosen(std::string_view path);

  // A counted warning for each pattern that matched no file.
  void WarnUnmatched(Warnings& warnings) const;

 private:
  std::vector<Pattern> patterns_;
  std::vector<bool> matched_;
};

}  // namespace quarrion
