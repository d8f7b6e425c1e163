// Names as readers compare them and messages show them. Readers look names
// up with ASCII letters in either case equal and every other byte as it
// stands; a name from an archive may hold any byte, so a message shows it
// with its control characters replaced.
#pragma once

#include <string>
#include <string_view>

namespace quarrion {

inline char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// `text` with its ASCII letters lower-cased: the key under which two names
// or paths are equal exactly when readers cannot tell them apart.
std::string CaseFolded(std::string_view text);

// True when `a` and `b` are equal with ASCII case ignored.
bool EqualCaseFolded(std::string_view a, std::string_view b);

// `text` with every control character shown as '?', so that no name (from
// an archive, a folder on disk or a file the user names) can drive the
// terminal or break a message line: the bytes below 0x20 (tab and line feed
// included), DEL (0x7f) and the C1 controls written as UTF-8 (U+0080 to
// U+009F), each one '?'. Every other byte stays as it is, so UTF-8 names
// print as they are. Every console line and warning goes through it.
std::string Printable(std::string_view text);

// `name` quoted for a message, control characters shown as '?'.
std::string QuotedName(std::string_view name);

}  // namespace quarrion
