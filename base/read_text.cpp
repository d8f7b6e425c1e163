#include "base/read_text.h"

namespace quarrion {

void ReadLine(std::istream& in, std::string& line) {
  line.clear();
  if (!std::getline(in, line)) return;  // nothing left: failed, line empty
  if (!line.empty() && line.back() == '\r') line.pop_back();
}

std::istream& ReadWord(std::istream& in, std::string& word) {
  word.clear();
  in >> word;
  return in;
}

}  // namespace quarrion
