// Times as users type them and as listings show them, always in UTC.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quarrion {

// Seconds since 1970-01-01 00:00:00 UTC from "1700000000", "2026-12-07" or
// "2026-12-07T10:30:00"; nothing when the text is none of these or the time
// lies outside what an archive stores (0 .. 2^31-1).
std::optional<std::int64_t> ParseTimeText(std::string_view text);

// Seconds since 1970-01-01 00:00:00 UTC as "YYYY-MM-DD HH:MM:SS"; any
// int64 second count, before 1970 too.
std::string UtcTimeText(std::int64_t seconds);

}  // namespace quarrion
