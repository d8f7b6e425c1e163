// Counts as messages say them: "1 file", "2 files".
#pragma once

#include <cstdint>
#include <string>

namespace quarrion {

inline std::string Counted(std::int64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace quarrion
