#include "base/text.h"

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
  std::string shown;
  shown.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto u = static_cast<unsigned char>(text[i]);
    // C1 controls as UTF-8 (0xc2 0x80 to 0xc2 0x9f): a terminal may read
    // them as the escapes they stand for. One '?' for the two bytes.
    const bool c1 = u == 0xc2 && i + 1 < text.size() &&
                    static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                    static_cast<unsigned char>(text[i + 1]) <= 0x9f;
    if (c1) ++i;
    shown += u < 0x20 || u == 0x7f || c1 ? '?' : text[i];
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
