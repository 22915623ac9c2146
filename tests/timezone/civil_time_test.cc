#include <string>

#include "timezone/gmt.h"
#include "timezone/zone_fixture.h"

namespace qv::timezone {
namespace {

using CivilTimeTest = ZoneTest;

TEST_F(CivilTimeTest, GmtNowTextHasNoLeadingZeros) {
  EXPECT_EQ(GmtNowText(FixedClock(GmtInstant(2000, 1, 1, 9, 5, 7))), "2000/1/1 9:5:7");
  EXPECT_EQ(GmtNowText(FixedClock(GmtInstant(1999, 3, 5, 14, 7, 9))), "1999/3/5 14:7:9");
  EXPECT_EQ(GmtNowText(FixedClock(GmtInstant(2024, 12, 31, 0, 0, 0))), "2024/12/31 0:0:0");
  EXPECT_EQ(GmtNowText(FixedClock(GmtInstant(2024, 10, 20, 23, 59, 59))), "2024/10/20 23:59:59");
}

TEST_F(CivilTimeTest, GmtNowTextIgnoresTheLocalZone) {
  UseZone("Asia/Tokyo");
  EXPECT_EQ(GmtNowText(FixedClock(GmtInstant(2000, 1, 1, 20, 0, 0))), "2000/1/1 20:0:0");
  UseZone("America/St_Johns");
  EXPECT_EQ(GmtNowText(FixedClock(GmtInstant(2000, 1, 1, 1, 0, 0))), "2000/1/1 1:0:0");
}

TEST_F(CivilTimeTest, LocalNowIsTheCalendarTimeOfTheZone) {
  UseZone("Asia/Tokyo");
  EXPECT_EQ(LocalNow(FixedClock(GmtInstant(1999, 12, 31, 20, 30, 15))),
            Civil(2000, 1, 1, 5, 30, 15));
  UseZone("America/New_York");
  EXPECT_EQ(LocalNow(FixedClock(GmtInstant(2024, 7, 1, 2, 0, 0))), Civil(2024, 6, 30, 22));
  UseZone("Asia/Kolkata");
  EXPECT_EQ(LocalNow(FixedClock(GmtInstant(2024, 1, 1, 0, 0, 0))), Civil(2024, 1, 1, 5, 30));
}

TEST_F(CivilTimeTest, AddDaysRollsOverMonthsYearsAndLeapDays) {
  EXPECT_EQ(AddDays(Civil(2024, 1, 31, 10, 20, 30), 1), Civil(2024, 2, 1, 10, 20, 30));
  EXPECT_EQ(AddDays(Civil(2024, 2, 28), 1), Civil(2024, 2, 29));
  EXPECT_EQ(AddDays(Civil(2023, 2, 28), 1), Civil(2023, 3, 1));
  EXPECT_EQ(AddDays(Civil(1900, 2, 28), 1), Civil(1900, 3, 1));
  EXPECT_EQ(AddDays(Civil(2000, 2, 28), 1), Civil(2000, 2, 29));
  EXPECT_EQ(AddDays(Civil(2024, 12, 31, 23, 59, 59), 1), Civil(2025, 1, 1, 23, 59, 59));
  EXPECT_EQ(AddDays(Civil(2024, 4, 30), 7), Civil(2024, 5, 7));
  EXPECT_EQ(AddDays(Civil(2024, 3, 1, 12), -1), Civil(2024, 2, 29, 12));
  EXPECT_EQ(AddDays(Civil(2024, 1, 1), -2), Civil(2023, 12, 30));
  EXPECT_EQ(AddDays(Civil(2024, 1, 1), 366), Civil(2025, 1, 1));
  EXPECT_EQ(AddDays(kZeroDate, 1), Civil(1899, 12, 31));
}

TEST_F(CivilTimeTest, AddHoursCrossesDaysMonthsAndYears) {
  EXPECT_EQ(AddHours(Civil(2024, 1, 31, 23, 15), 2), Civil(2024, 2, 1, 1, 15));
  EXPECT_EQ(AddHours(Civil(2024, 1, 1, 5, 0, 9), -9), Civil(2023, 12, 31, 20, 0, 9));
  EXPECT_EQ(AddHours(Civil(2024, 2, 28, 12), 48), Civil(2024, 3, 1, 12));
  EXPECT_EQ(AddHours(Civil(2024, 6, 10, 14), 0), Civil(2024, 6, 10, 14));
}

// The calendar is zone-less: a day that a local clock change shortens still
// counts 24 hours here.
TEST_F(CivilTimeTest, ArithmeticIgnoresDaylightSavingChanges) {
  UseZone("America/New_York");
  EXPECT_EQ(AddHours(Civil(2024, 3, 10, 1, 30), 1), Civil(2024, 3, 10, 2, 30));
  EXPECT_EQ(AddDays(Civil(2024, 3, 9, 2, 30), 1), Civil(2024, 3, 10, 2, 30));
}

TEST_F(CivilTimeTest, ShortDateTextIsYearMonthDayWithoutLeadingZeros) {
  EXPECT_EQ(ShortDateText(Civil(2024, 3, 5, 14, 7, 9)), "2024/3/5");
  EXPECT_EQ(ShortDateText(Civil(2024, 12, 31)), "2024/12/31");
  EXPECT_EQ(ShortDateText(kZeroDate), "1899/12/30");
}

}  // namespace
}  // namespace qv::timezone
