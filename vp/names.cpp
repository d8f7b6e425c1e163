#include "vp/names.h"

#include <algorithm>

namespace quarrion {

std::string CaseFolded(std::string_view text) {
  std::string key(text);
  for (char& c : key) c = AsciiLower(c);
  return key;
}

bool EqualCaseFolded(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char p, char q) {
           return AsciiLower(p) == AsciiLower(q);
         });
}

std::string Printable(std::string_view text) {
  std::string shown(text);
  for (char& c : shown) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7f) c = '?';
  }
  return shown;
}

std::string QuotedName(std::string_view name) {
  std::string quoted = "\"";
  quoted += Printable(name);
  quoted += '"';
  return quoted;
}

}  // namespace quarrion
