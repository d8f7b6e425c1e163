#include "shell/selection.h"

#include "vp/names.h"

namespace quarrion {

Status Selection::Compile(const std::vector<std::string>& patterns) {
  for (const std::string& text : patterns) {
    Pattern p;
    if (Status why = Pattern::Compile(text, Pattern::Separators::kMatched, &p); !why.ok()) {
      return Status::Error(why.code, "", "-only: " + why.Message());
    }
    patterns_.push_back(std::move(p));
  }
  matched_.assign(patterns_.size(), false);
  return Status::Ok();
}

bool Selection::Chosen(std::string_view path) {
  bool chosen = patterns_.empty();
  for (std::size_t i = 0; i < patterns_.size(); ++i) {
    if (patterns_[i].Matches(path)) {
      matched_[i] = true;
      chosen = true;
    }
  }
  return chosen;
}

void Selection::WarnUnmatched(Warnings& warnings) const {
  for (std::size_t i = 0; i < patterns_.size(); ++i) {
    if (!matched_[i])
      warnings.Add("-only " + QuotedName(patterns_[i].text()) + ": no file matches");
  }
}

}  // namespace quarrion
