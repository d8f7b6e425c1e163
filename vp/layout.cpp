#include "vp/layout.h"

namespace quarrion {

// Placeholder bodies: the layout is built in its own change.

std::int32_t SplitPath(std::string text, char separator, std::vector<std::string>* parts) {
  parts->assign(1, std::string());
  for (char c : text) {
    if (c == separator) {
      parts->emplace_back();
    } else {
      parts->back().push_back(c);
    }
  }
  return static_cast<std::int32_t>(parts->size());
}

void SortFiles(BuildList&) {}

void LayoutTree(BuildList&) {}

bool CheckLayout(const BuildList&, Status* why) {
  if (why != nullptr) *why = Status::Error(Code::kIoError, "writing archives is not available in this build");
  return false;
}

}  // namespace quarrion
