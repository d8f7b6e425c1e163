#include "vp/names.h"

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

}  // namespace quarrion
