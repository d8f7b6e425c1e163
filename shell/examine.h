// The way -list shows times.
#pragma once

#include <cstdint>
#include <string>

namespace quarrion {

// Seconds since 1970-01-01 UTC as "YYYY-MM-DD HH:MM:SS" (UTC).
std::string UtcTimeText(std::int64_t seconds);

}  // namespace quarrion
