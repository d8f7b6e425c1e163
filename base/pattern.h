// Name patterns for choosing files: `*` any run of characters, `?` any one
// character, `[...]` one character of a set (`[a-z0-9]`, `[!~]` or `[^~]` for
// any other), every other character itself. ASCII letters match without
// regard to case, as the engine looks names up. The backslash is the folder
// separator of archive paths, never an escape; a slash stands for it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"

namespace quarrion {

class Pattern {
 public:
  // Whether `*`, `?` and sets also match a backslash: a pattern over whole
  // archive paths crosses folders, one over the path below a data directory
  // matches folder by folder.
  enum class Separators { kMatched, kNotMatched };

  // Compiles `text`; kBadPattern naming the pattern when a set is not closed
  // or the pattern is empty.
  static Status Compile(std::string_view text, Separators separators, Pattern* out);

  bool Matches(std::string_view subject) const;
  // True when the pattern holds a backslash or slash, so that it names a path.
  bool HasSeparator() const { return hasSeparator_; }
  const std::string& text() const { return text_; }

 private:
  struct Token {
    enum class Kind { kLiteral, kAnyOne, kAnyRun, kSet } kind = Kind::kLiteral;
    char literal = 0;                           // lower-cased
    std::vector<std::pair<char, char>> ranges;  // for kSet, inclusive
    bool negated = false;
  };
  bool MatchOne(const Token& token, char c) const;

  std::string text_;
  std::vector<Token> tokens_;
  bool crossesSeparators_ = false;
  bool hasSeparator_ = false;
};

}  // namespace quarrion
