// The channel for warnings: things a run reports and goes on with (a file
// skipped, two paths that readers cannot tell apart, an archive written
// empty). The layers below the shell report them here instead of writing
// to an error stream themselves.
#pragma once

#include <ostream>
#include <string_view>

#include "base/text.h"

namespace quarrion {

struct Warnings {
  std::ostream& out;  // the messages, flushed first so both streams stay in order
  std::ostream& err;  // where the warnings go
  int count = 0;      // warnings that make the run's exit status 1

  // "quarrion: warning: <text>" on its own line, in its printable form
  // (vp/names.h); counted.
  void Add(std::string_view text) {
    Print(text);
    ++count;
  }
  // The same line for a warning that does not make the run fail.
  void Note(std::string_view text) { Print(text); }

 private:
  void Print(std::string_view text) {
    out.flush();
    err << "quarrion: warning: " << Printable(text) << '\n';
    err.flush();
  }
};

}  // namespace quarrion
