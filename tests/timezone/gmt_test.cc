#include "timezone/gmt.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <limits>
#include <string>
#include <tuple>

namespace qv::timezone {

void PrintTo(const CivilTime& t, std::ostream* os) {
  *os << t.year << "-" << t.month << "-" << t.day << " " << t.hour << ":" << t.minute << ":"
      << t.second;
}

namespace {

CivilTime Civil(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
  return CivilTime{y, mo, d, h, mi, s};
}

// The instant of a GMT time written "YYYY-MM-DD HH:MM:SS".
std::time_t Gmt(const std::string& text) {
  std::tm tm{};
  strptime(text.c_str(), "%Y-%m-%d %H:%M:%S", &tm);
  return timegm(&tm);
}

// Pins the process's zone with TZ for one test.
class GmtTest : public ::testing::Test {
 protected:
  ~GmtTest() override { unsetenv("TZ"); }
  static void UseZone(const char* zone) { setenv("TZ", zone, 1); }
};

TEST_F(GmtTest, OffsetNameAndDaylightFollowTheZoneRulesInForce) {
  // Zone, month of 2024 (the 15th, 12:00 GMT), offset, name, daylight.
  const std::tuple<const char*, int, int32_t, const char*, bool> cases[] = {
      {"Asia/Tokyo", 1, 9, "JST", false},
      {"America/New_York", 1, -5, "EST", false},
      {"America/New_York", 7, -4, "EDT", true},
      // Halves round to the even neighbour, quarters to the nearer hour.
      {"Asia/Kolkata", 1, 6, "IST", false},       // +5:30
      {"Asia/Kabul", 1, 4, "+0430", false},       // +4:30
      {"America/St_Johns", 1, -4, "NST", false},  // -3:30
      {"America/St_Johns", 7, -2, "NDT", true},   // -2:30
      {"Asia/Kathmandu", 1, 6, "+0545", false},   // +5:45
      {"XST-7XDT,M3.2.0,M11.1.0", 7, 8, "XDT", true},
      {"<ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789>-3", 1, 3, "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345", false},
  };
  for (const auto& [zone, month, offset, zoneName, daylight] : cases) {
    SCOPED_TRACE(std::string(zone) + " month " + std::to_string(month));
    UseZone(zone);
    const FixedClock clock(Gmt("2024-" + std::to_string(month) + "-15 12:00:00"));
    std::string name = "stale";
    EXPECT_EQ(GetGMTOffset(clock, name), offset);
    EXPECT_EQ(name, zoneName);
    LocalTZone tz(clock);
    tz.blnDLT = !daylight;
    EXPECT_EQ(tz.GetLocalTZ(name = "stale"), offset);
    EXPECT_EQ(name + "|" + tz.strTimeZoneName, std::string(zoneName) + "|" + zoneName);
    EXPECT_EQ(tz.blnDLT, daylight);
    EXPECT_EQ(tz.lngTZoneOffset, 0);  // these two are never set by the program
    EXPECT_EQ(tz.strTZName, "");
  }
}

TEST_F(GmtTest, TheClockInstantDecidesAndAFailedZoneReadGivesZero) {
  UseZone("Asia/Tokyo");
  EXPECT_EQ(GmtNowText(FixedClock(Gmt("2000-01-01 09:05:07"))), "2000/1/1 9:5:7");
  EXPECT_EQ(GmtNowText(FixedClock(Gmt("2024-10-20 23:59:59"))), "2024/10/20 23:59:59");
  UseZone("America/New_York");
  FixedClock clock(Gmt("2024-03-10 06:59:59"));  // the spring change is at 07:00 GMT
  std::string name;
  EXPECT_EQ(GetGMTOffset(clock, name), -5);
  clock.Set(Gmt("2024-03-10 07:00:00"));
  EXPECT_EQ(GetGMTOffset(clock, name), -4);

  // An instant the C library cannot express stands for a failing system
  // call: offset 0, empty name, daylight flag unchanged.
  clock.Set(std::numeric_limits<std::time_t>::max());
  EXPECT_EQ(GetGMTOffset(clock, name), 0);
  EXPECT_EQ(name, "");
  LocalTZone tz(clock);
  tz.blnDLT = true;
  tz.strTimeZoneName = name = "stale";
  EXPECT_EQ(tz.GetLocalTZ(name), 0);
  EXPECT_EQ(name + tz.strTimeZoneName, "");
  EXPECT_TRUE(tz.blnDLT);
}

TEST_F(GmtTest, CalendarArithmeticRollsOverAndIgnoresDaylightChanges) {
  UseZone("America/New_York");  // 10 March 2024 has 23 hours there, not here
  // From, days to add, hours to add, result.
  const std::tuple<CivilTime, int, int, CivilTime> cases[] = {
      {Civil(2024, 2, 28), 1, 0, Civil(2024, 2, 29)},
      {Civil(2023, 2, 28), 1, 0, Civil(2023, 3, 1)},
      {Civil(1900, 2, 28), 1, 0, Civil(1900, 3, 1)},
      {Civil(2000, 2, 28), 1, 0, Civil(2000, 2, 29)},
      {Civil(2024, 12, 31, 23, 59, 59), 1, 0, Civil(2025, 1, 1, 23, 59, 59)},
      {Civil(2024, 3, 1, 12), -1, 0, Civil(2024, 2, 29, 12)},
      {kZeroDate, 1, 0, Civil(1899, 12, 31)},
      {Civil(2024, 3, 9, 2, 30), 1, 0, Civil(2024, 3, 10, 2, 30)},
      {Civil(2024, 1, 31, 23, 15), 0, 2, Civil(2024, 2, 1, 1, 15)},
      {Civil(2024, 1, 1, 5, 0, 9), 0, -9, Civil(2023, 12, 31, 20, 0, 9)},
      {Civil(2024, 3, 10, 1, 30), 0, 1, Civil(2024, 3, 10, 2, 30)},
  };
  for (const auto& [from, days, hours, to] : cases) {
    EXPECT_EQ(hours ? AddHours(from, hours) : AddDays(from, days), to) << days << "d " << hours;
  }
}

// The way the sample data makes its dates: tomorrow's local short date, a
// time of day, then ToGMT with the offset in force now.
TEST_F(GmtTest, ToGmtShiftsTomorrowsLocalTimeByTheCurrentOffset) {
  auto tomorrowAt = [](std::time_t now, const char* time) {
    const FixedClock clock(now);
    return ToGMT(ShortDateText(AddDays(LocalNow(clock), 1)) + time, clock);
  };
  UseZone("Asia/Tokyo");
  EXPECT_EQ(tomorrowAt(Gmt("2024-06-10 03:00:00"), " 14:00:00"), Civil(2024, 6, 11, 5));
  // A run at 23:30 local on the last day of a month books the first.
  EXPECT_EQ(tomorrowAt(Gmt("2024-01-31 14:30:00"), " 15:30:00"), Civil(2024, 2, 1, 6, 30));
  EXPECT_EQ(ToGMT("2024/3/1 05:00:00", FixedClock(0)), Civil(2024, 2, 29, 20));
  UseZone("UTC");
  EXPECT_EQ(tomorrowAt(Gmt("2024-06-10 03:00:00"), " 14:00:00"), Civil(2024, 6, 11, 14));
  UseZone("Asia/Kolkata");  // +5:30 counts as 6
  EXPECT_EQ(ToGMT("2024/6/11 14:00:00", FixedClock(0)), Civil(2024, 6, 11, 8));
  UseZone("America/St_Johns");  // -2:30 in summer counts as -2
  EXPECT_EQ(ToGMT("2024/7/11 14:00:00", FixedClock(Gmt("2024-07-10 00:00:00"))),
            Civil(2024, 7, 11, 16));
  UseZone("America/New_York");  // the offset of now, not of the date converted
  const FixedClock january(Gmt("2024-01-15 12:00:00")), july(Gmt("2024-07-15 12:00:00"));
  EXPECT_EQ(tomorrowAt(Gmt("2024-01-10 17:00:00"), " 14:00:00"), Civil(2024, 1, 11, 19));
  EXPECT_EQ(ToGMT(Civil(2024, 7, 15, 14), january), Civil(2024, 7, 15, 19));
  EXPECT_EQ(ToGMT("2024/1/15 14:00:00", july), Civil(2024, 1, 15, 18));
  EXPECT_EQ(ToGMT("2024/12/31 20:00:00", january), Civil(2025, 1, 1, 1));
}

TEST_F(GmtTest, ToGmtReadsBothDateFormsAndGivesTheZeroDateForAnythingElse) {
  UseZone("UTC");
  const FixedClock clock(Gmt("2024-01-01 00:00:00"));
  const std::pair<const char*, CivilTime> readable[] = {
      {"2024/3/5 14:7:9", Civil(2024, 3, 5, 14, 7, 9)},
      {"2024-03-05 04:07:09", Civil(2024, 3, 5, 4, 7, 9)},
      {"2024-3-5 14:07", Civil(2024, 3, 5, 14, 7)},
      {"2024-02-29", Civil(2024, 2, 29)},
      {" 2024/3/5  10:00:00 ", Civil(2024, 3, 5, 10)}};
  for (const auto& [text, expected] : readable) EXPECT_EQ(ToGMT(text, clock), expected) << text;
  // clang-format off
  const char* const unreadable[] = {
      "", "   ", "hello", "2024/3", "2024/3/", "24/3/5", "20240/3/5", "2024/3/5x", "2024/3/5 10",
      "2024/3/5 10:", "2024/3/5 10:00:", "2024/3/5 10:00:00 PM", "2024/3/5 10:00:00:00",
      "2024-3/5", "2024.3.5", "2024/3/5T10:00:00", "2024/123/5", "2024/13/1", "2024/0/10",
      "2024/1/0", "2024/2/30", "2023/2/29", "1900/2/29", "2024/4/31", "2024/3/5 24:00:00",
      "2024/3/5 10:60:00", "2024/3/5 10:00:60", "0000/1/1", "-2024/3/5"};
  // clang-format on
  UseZone("Asia/Tokyo");  // a non-zero offset must not move the zero date
  for (const char* text : unreadable) {
    EXPECT_EQ(ToGMT(text, clock), kZeroDate) << '"' << text << '"';
  }
}

}  // namespace
}  // namespace qv::timezone
