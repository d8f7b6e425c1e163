#include "shell/time_text.h"

#include <cstdio>

namespace quarrion {
namespace {

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(std::int64_t y, std::int64_t m, std::int64_t d) {
  y -= m <= 2 ? 1 : 0;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

bool IsLeap(std::int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

// Reads exactly `width` digits at `*pos`.
std::optional<std::int64_t> Digits(std::string_view text, std::size_t* pos, std::size_t width) {
  if (*pos + width > text.size()) return std::nullopt;
  std::int64_t value = 0;
  for (std::size_t i = 0; i < width; ++i) {
    const char c = text[*pos + i];
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  *pos += width;
  return value;
}

bool Expect(std::string_view text, std::size_t* pos, char c) {
  if (*pos >= text.size() || text[*pos] != c) return false;
  ++*pos;
  return true;
}

}  // namespace

std::optional<std::int64_t> ParseTimeText(std::string_view text) {
  constexpr std::int64_t kMax = 0x7fffffff;
  if (text.empty()) return std::nullopt;
  if (text.find('-') == std::string_view::npos) {
    // Seconds: at most 10 digits, so the value cannot overflow.
    std::size_t pos = 0;
    if (text.size() > 10) return std::nullopt;
    auto seconds = Digits(text, &pos, text.size());
    if (!seconds || *seconds > kMax) return std::nullopt;
    return seconds;
  }
  std::size_t pos = 0;
  auto year = Digits(text, &pos, 4);
  if (!year || !Expect(text, &pos, '-')) return std::nullopt;
  auto month = Digits(text, &pos, 2);
  if (!month || !Expect(text, &pos, '-')) return std::nullopt;
  auto day = Digits(text, &pos, 2);
  if (!day) return std::nullopt;
  std::int64_t hour = 0, minute = 0, second = 0;
  if (pos < text.size()) {
    if (!Expect(text, &pos, 'T')) return std::nullopt;
    auto h = Digits(text, &pos, 2);
    if (!h || !Expect(text, &pos, ':')) return std::nullopt;
    auto mi = Digits(text, &pos, 2);
    if (!mi || !Expect(text, &pos, ':')) return std::nullopt;
    auto s = Digits(text, &pos, 2);
    if (!s || pos != text.size()) return std::nullopt;
    hour = *h;
    minute = *mi;
    second = *s;
  }
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (*month < 1 || *month > 12 || *day < 1) return std::nullopt;
  const std::int64_t monthDays = kDays[*month - 1] + (*month == 2 && IsLeap(*year) ? 1 : 0);
  if (*day > monthDays || hour > 23 || minute > 59 || second > 59) return std::nullopt;
  const std::int64_t seconds =
      DaysFromCivil(*year, *month, *day) * 86400 + hour * 3600 + minute * 60 + second;
  if (seconds < 0 || seconds > kMax) return std::nullopt;
  return seconds;
}

std::string UtcTimeText(std::int64_t seconds) {
  // Days and seconds of the day, then the civil date of the day count
  // (the proleptic Gregorian calendar, valid far beyond the int32 range).
  std::int64_t days = seconds / 86400;
  std::int64_t rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  const std::int64_t z = days + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const std::int64_t day = doy - (153 * mp + 2) / 5 + 1;
  const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
  char text[64];
  std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld",
                static_cast<long long>(year), static_cast<long long>(month),
                static_cast<long long>(day), static_cast<long long>(rest / 3600),
                static_cast<long long>(rest / 60 % 60), static_cast<long long>(rest % 60));
  return text;
}

}  // namespace quarrion
