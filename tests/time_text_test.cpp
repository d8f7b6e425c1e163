#include "shell/time_text.h"

#include <gtest/gtest.h>

namespace quarrion {
namespace {

TEST(TimeTextTest, SecondsDatesAndDateTimesInUtc) {
  EXPECT_EQ(ParseTimeText("0"), 0);
  EXPECT_EQ(ParseTimeText("1700000000"), 1700000000);
  EXPECT_EQ(ParseTimeText("2147483647"), 2147483647);
  EXPECT_EQ(ParseTimeText("1970-01-01"), 0);
  EXPECT_EQ(ParseTimeText("2024-02-29"), 1709164800);
  EXPECT_EQ(ParseTimeText("2026-12-07T10:30:05"), 1796639405);
  EXPECT_EQ(ParseTimeText("2038-01-19T03:14:07"), 2147483647);
  // Listings show what -mtime reads.
  EXPECT_EQ(UtcTimeText(*ParseTimeText("2024-02-29T23:59:58")), "2024-02-29 23:59:58");
}

TEST(TimeTextTest, MalformedOrOutOfRangeTimesAreRefused) {
  for (const char* bad : {"", "-1", "12x", "2147483648", "99999999999", "2023-02-29", "2026-13-01",
                          "2026-12-7", "2026-12-07 10:30:00", "2026-12-07T24:00:00",
                          "2026-12-07T10:30", "1969-12-31", "2038-01-19T03:14:08"}) {
    EXPECT_FALSE(ParseTimeText(bad).has_value()) << bad;
  }
}

}  // namespace
}  // namespace quarrion
