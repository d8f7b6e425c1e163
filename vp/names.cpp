#include "vp/names.h"

#include <algorithm>

#include "host/extract.h"
#include "vp/format.h"

namespace quarrion {

Status CheckName(std::string_view name, NameUse use) {
  const Code code = use == NameUse::kFolder ? Code::kBadFolder : Code::kNotPlainName;
  auto refuse = [code](const char* reason) { return Status::Error(code, "", reason); };
  if (name.empty()) return refuse("is empty");
  if (name == ".") return refuse("names the current folder");
  if (name == "..") return refuse("names the parent folder");
  for (char c : name) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (c == '/') return refuse("holds a slash");
    if (c == '\\') return refuse("holds a backslash");
    if (c == ':') return refuse("holds a colon");
    if (u < 0x20 || u == 0x7f) return refuse("holds a control character");
    if (use == NameUse::kInstaller && (c == '*' || c == '?')) {
      return refuse(c == '*' ? "holds \"*\", which the installer reads as a wildcard"
                             : "holds \"?\", which the installer reads as a wildcard");
    }
  }
  switch (use) {
    case NameUse::kExtraction:
      return host::CheckHostName(name);
    case NameUse::kFolder:
      // A reader takes any entry of size 0 and time 0 whose name begins with
      // ".." for an up entry.
      if (name.starts_with("..")) return refuse("begins with \"..\"");
      break;
    case NameUse::kFile:
    case NameUse::kInstaller:
      break;
  }
  if (name.size() > kMaxNameLength) {
    return Status::Error(Code::kNameTooLong, "", "is longer than 31 bytes");
  }
  return Status::Ok();
}

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
