// The channel for warnings: things a run reports and goes on with (a file
// skipped, two paths that readers cannot tell apart, an archive written
// empty). The layers below the shell report them here; the shell decides
// how they are shown (ConsoleWarnings, shell/console.h).
#pragma once

#include <string_view>

namespace quarrion {

class Warnings {
 public:
  virtual ~Warnings() = default;

  // A warning that makes the run's exit status 1.
  void Add(std::string_view text) {
    Tell(text);
    ++count_;
  }
  // A warning that does not make the run fail.
  void Note(std::string_view text) { Tell(text); }

  // The warnings added so far (notes not counted).
  int count() const { return count_; }

 protected:
  // Shows one warning.
  virtual void Tell(std::string_view text) = 0;

 private:
  int count_ = 0;
};

}  // namespace quarrion
