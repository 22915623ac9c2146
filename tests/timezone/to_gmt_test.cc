#include <string>

#include "timezone/gmt.h"
#include "timezone/zone_fixture.h"

namespace qv::timezone {
namespace {

using ToGmtTest = ZoneTest;

// The way the sample data makes its dates: tomorrow's local date in the
// short form, a time of day, then ToGMT.
CivilTime TomorrowAtGmt(const Clock& clock, const std::string& timeOfDay) {
  return ToGMT(ShortDateText(AddDays(LocalNow(clock), 1)) + timeOfDay, clock);
}

TEST_F(ToGmtTest, TomorrowAtTwoPmMovesByMinusTheOffset) {
  UseZone("Asia/Tokyo");  // offset 9; local noon on 10 June
  const FixedClock tokyo(GmtInstant(2024, 6, 10, 3));
  EXPECT_EQ(TomorrowAtGmt(tokyo, " 14:00:00"), Civil(2024, 6, 11, 5, 0, 0));

  UseZone("America/New_York");  // offset -5
  const FixedClock newYork(GmtInstant(2024, 1, 10, 17));
  EXPECT_EQ(TomorrowAtGmt(newYork, " 14:00:00"), Civil(2024, 1, 11, 19, 0, 0));

  UseZone("UTC");
  const FixedClock utc(GmtInstant(2024, 6, 10, 3));
  EXPECT_EQ(TomorrowAtGmt(utc, " 14:00:00"), Civil(2024, 6, 11, 14, 0, 0));
}

TEST_F(ToGmtTest, HalfHourZonesShiftByTheRoundedOffset) {
  UseZone("Asia/Kolkata");  // +5:30 counts as 6
  const FixedClock kolkata(GmtInstant(2024, 6, 10));
  EXPECT_EQ(ToGMT("2024/6/11 14:00:00", kolkata), Civil(2024, 6, 11, 8));

  UseZone("America/St_Johns");  // -2:30 in summer counts as -2
  const FixedClock stJohns(GmtInstant(2024, 7, 10));
  EXPECT_EQ(ToGMT("2024/7/11 14:00:00", stJohns), Civil(2024, 7, 11, 16));
}

// A run at 23:30 local on the last day of a month books the first day of
// the next month.
TEST_F(ToGmtTest, LateRunOnMonthEndLandsOnTheFirstOfNextMonth) {
  UseZone("Asia/Tokyo");
  const FixedClock clock(GmtInstant(2024, 1, 31, 14, 30));  // 23:30 JST
  EXPECT_EQ(LocalNow(clock), Civil(2024, 1, 31, 23, 30));
  EXPECT_EQ(TomorrowAtGmt(clock, " 10:00:00"), Civil(2024, 2, 1, 1, 0, 0));
  EXPECT_EQ(TomorrowAtGmt(clock, " 15:30:00"), Civil(2024, 2, 1, 6, 30, 0));
  // Early morning local time falls back into the previous month in GMT.
  EXPECT_EQ(ToGMT("2024/3/1 05:00:00", clock), Civil(2024, 2, 29, 20));

  UseZone("America/New_York");
  const FixedClock winter(GmtInstant(2024, 12, 31, 12));
  EXPECT_EQ(ToGMT("2024/12/31 20:00:00", winter), Civil(2025, 1, 1, 1));
}

// The offset is the one in force now, not the one of the converted date.
TEST_F(ToGmtTest, ShiftUsesTheCurrentOffsetNotTheDatesOwn) {
  UseZone("America/New_York");
  const FixedClock january(GmtInstant(2024, 1, 15, 12));
  EXPECT_EQ(ToGMT("2024/7/15 14:00:00", january), Civil(2024, 7, 15, 19));
  EXPECT_EQ(ToGMT(Civil(2024, 7, 15, 14), january), Civil(2024, 7, 15, 19));
  const FixedClock july(GmtInstant(2024, 7, 15, 12));
  EXPECT_EQ(ToGMT("2024/1/15 14:00:00", july), Civil(2024, 1, 15, 18));
}

TEST_F(ToGmtTest, ReadsBothDateFormsWithOrWithoutTime) {
  UseZone("UTC");
  const FixedClock clock(GmtInstant(2024, 1, 1));
  EXPECT_EQ(ToGMT("2024/3/5 14:7:9", clock), Civil(2024, 3, 5, 14, 7, 9));
  EXPECT_EQ(ToGMT("2024/03/05 04:07:09", clock), Civil(2024, 3, 5, 4, 7, 9));
  EXPECT_EQ(ToGMT("2024-03-05 14:07:09", clock), Civil(2024, 3, 5, 14, 7, 9));
  EXPECT_EQ(ToGMT("2024-3-5 14:07", clock), Civil(2024, 3, 5, 14, 7, 0));
  EXPECT_EQ(ToGMT("2024/3/5 14:07", clock), Civil(2024, 3, 5, 14, 7, 0));
  EXPECT_EQ(ToGMT("2024/3/5", clock), Civil(2024, 3, 5));
  EXPECT_EQ(ToGMT("2024-02-29", clock), Civil(2024, 2, 29));
  EXPECT_EQ(ToGMT(" 2024/3/5  10:00:00 ", clock), Civil(2024, 3, 5, 10));
}

TEST_F(ToGmtTest, UnreadableTextGivesTheZeroDate) {
  UseZone("Asia/Tokyo");  // a non-zero offset must not touch the zero date
  const FixedClock clock(GmtInstant(2024, 1, 1));
  for (const char* text : {"",
                           "   ",
                           "hello",
                           "tomorrow 14:00",
                           "2024/3",
                           "2024/3/",
                           "24/3/5",
                           "20240/3/5",
                           "2024/3/5x",
                           "2024/3/5 10",
                           "2024/3/5 10:",
                           "2024/3/5 10:00:",
                           "2024/3/5 10:00:00 PM",
                           "2024/3/5 10:00:00:00",
                           "2024-3/5",
                           "2024.3.5",
                           "2024/3/5T10:00:00",
                           "2024/123/5",
                           "2024/13/1",
                           "2024/0/10",
                           "2024/1/0",
                           "2024/2/30",
                           "2023/2/29",
                           "1900/2/29",
                           "2024/4/31",
                           "2024/3/5 24:00:00",
                           "2024/3/5 10:60:00",
                           "2024/3/5 10:00:60",
                           "0000/1/1",
                           "-2024/3/5"}) {
    EXPECT_EQ(ToGMT(text, clock), kZeroDate) << '"' << text << '"';
  }
}

}  // namespace
}  // namespace qv::timezone
