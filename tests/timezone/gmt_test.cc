#include "timezone/gmt.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <tuple>

#include "support/scoped_temp_dir.h"

namespace qv::timezone {
namespace {

// The instant of a GMT time written "YYYY-MM-DD HH:MM:SS".
std::time_t Gmt(const std::string& text) {
  std::tm tm{};
  strptime(text.c_str(), "%Y-%m-%d %H:%M:%S", &tm);
  return timegm(&tm);
}

TEST(GmtTest, OffsetAndNameFollowTheZoneRulesInForce) {
  const std::tuple<const char*, const char*, int32_t, const char*> cases[] = {
      {"Asia/Tokyo", "2024-01-15 12:00:00", 9, "JST"},
      {"America/New_York", "2024-03-10 06:59:59", -5, "EST"},
      {"America/New_York", "2024-03-10 07:00:00", -4, "EDT"},  // the spring change
      // Halves round to the even neighbour, quarters to the nearer hour.
      {"Asia/Kolkata", "2024-01-15 12:00:00", 6, "IST"},       // +5:30
      {"Asia/Kabul", "2024-01-15 12:00:00", 4, "+0430"},       // +4:30
      {"America/St_Johns", "2024-01-15 12:00:00", -4, "NST"},  // -3:30
      {"Asia/Kathmandu", "2024-01-15 12:00:00", 6, "+0545"},   // +5:45
  };
  for (const auto& [zone, instant, offset, zoneName] : cases) {
    SCOPED_TRACE(std::string(zone) + " " + instant);
    const testing::ScopedTimeZone tz(zone);
    const FixedClock clock(Gmt(instant));
    std::string name = "stale", other = "stale";
    EXPECT_EQ(GetGMTOffset(clock, name), offset);
    EXPECT_EQ(LocalTZone(clock).GetLocalTZ(other), offset);
    EXPECT_EQ(name + "|" + other, std::string(zoneName) + "|" + zoneName);
  }
}

// ToGMT moves a local time by the offset in force now, not by the one of the
// date converted.
TEST(GmtTest, ToGmtShiftsByTheCurrentOffsetAndGivesTheZeroDateForNonDates) {
  const std::tuple<const char*, const char*, const char*, CivilTime> cases[] = {
      {"Asia/Tokyo", "2024-06-10 03:00:00", "2024/6/11 14:00:00", CivilTime{2024, 6, 11, 5}},
      {"Asia/Tokyo", "2024-01-01 00:00:00", "2024/3/1 05:00:00", CivilTime{2024, 2, 29, 20}},
      {"Asia/Tokyo", "2024-01-01 00:00:00", "1900/3/1 05:00:00", CivilTime{1900, 2, 28, 20}},
      // A local time that the spring change skips is shifted all the same.
      {"America/New_York", "2024-03-10 12:00:00", "2024/3/10 02:30:00",
       CivilTime{2024, 3, 10, 6, 30}},
      {"America/New_York", "2024-01-15 12:00:00", "2024-07-15 14:00", CivilTime{2024, 7, 15, 19}},
      {"America/New_York", "2024-07-15 12:00:00", "2024/1/15 14:00:00", CivilTime{2024, 1, 15, 18}},
      {"America/New_York", "2024-01-15 12:00:00", "2024/12/31 20:00:00", CivilTime{2025, 1, 1, 1}},
      {"UTC", "2024-01-01 00:00:00", "2024/3/5 14:7:9", CivilTime{2024, 3, 5, 14, 7, 9}},
      {"UTC", "2024-01-01 00:00:00", " 2024/3/5  10:00:00 ", CivilTime{2024, 3, 5, 10}},
  };
  for (const auto& [zone, now, text, expected] : cases) {
    const testing::ScopedTimeZone tz(zone);
    EXPECT_EQ(ToGMT(text, FixedClock(Gmt(now))), expected) << zone << " " << text;
  }
  const testing::ScopedTimeZone tokyo("Asia/Tokyo");
  const FixedClock now(Gmt("2024-01-01 04:07:05"));
  EXPECT_EQ(GmtNowText(now), "2024/1/1 4:7:5");
  // clang-format off
  const char* const unreadable[] = {
      "", "   ", "hello", "2024/3", "2024/3/", "24/3/5", "20240/3/5", "2024/3/5x", "2024/3/5 10",
      "2024/3/5 10:", "2024/3/5 10:00:00 PM", "2024/3/5 10:00:00:00", "2024-3/5", "2024.3.5",
      "2024/3/5T10:00:00", "2024/13/1", "2024/0/10", "2024/1/0", "2024/2/30", "2023/2/29",
      "1900/2/29", "2024/4/31", "2024/3/5 24:00:00", "2024/3/5 10:60:00", "0000/1/1"};
  // clang-format on
  for (const char* text : unreadable) {  // a non-zero offset must not move the zero date
    EXPECT_EQ(ToGMT(text, now), kZeroDate) << '"' << text << '"';
  }
}

}  // namespace
}  // namespace qv::timezone
