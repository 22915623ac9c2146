#include <limits>
#include <string>

#include "timezone/gmt.h"
#include "timezone/zone_fixture.h"

namespace qv::timezone {
namespace {

struct ZoneCase {
  const char* zone;
  int month;  // of 2024, at 12:00 GMT
  int32_t offset;
  const char* name;
  bool daylight;
};

void PrintTo(const ZoneCase& c, std::ostream* os) {
  *os << c.zone << " month " << c.month;
}

class GmtOffsetTest : public ZoneTest, public ::testing::WithParamInterface<ZoneCase> {};

TEST_P(GmtOffsetTest, OffsetNameAndDaylightFollowTheZoneRulesInForce) {
  const ZoneCase& c = GetParam();
  UseZone(c.zone);
  const FixedClock clock(GmtInstant(2024, c.month, 15, 12));

  std::string name = "stale";
  EXPECT_EQ(GetGMTOffset(clock, name), c.offset);
  EXPECT_EQ(name, c.name);

  LocalTZone tz(clock);
  std::string tzName;
  EXPECT_EQ(tz.GetLocalTZ(tzName), c.offset);
  EXPECT_EQ(tzName, c.name);
  EXPECT_EQ(tz.strTimeZoneName, c.name);
  EXPECT_EQ(tz.blnDLT, c.daylight);
}

INSTANTIATE_TEST_SUITE_P(
    RealZones, GmtOffsetTest,
    ::testing::Values(ZoneCase{"Asia/Tokyo", 1, 9, "JST", false},
                      ZoneCase{"America/New_York", 1, -5, "EST", false},
                      ZoneCase{"America/New_York", 7, -4, "EDT", true},
                      ZoneCase{"UTC", 7, 0, "UTC", false},
                      // Half hours round to the even neighbour.
                      ZoneCase{"Asia/Kolkata", 1, 6, "IST", false},          // +5:30
                      ZoneCase{"Asia/Kabul", 1, 4, "+0430", false},          // +4:30
                      ZoneCase{"America/St_Johns", 1, -4, "NST", false},     // -3:30
                      ZoneCase{"America/St_Johns", 7, -2, "NDT", true},      // -2:30
                      ZoneCase{"Australia/Adelaide", 1, 10, "ACDT", true},   // +10:30
                      ZoneCase{"Australia/Adelaide", 7, 10, "ACST", false},  // +9:30
                      // Quarter hours go to the nearer hour.
                      ZoneCase{"Asia/Kathmandu", 1, 6, "+0545", false},      // +5:45
                      ZoneCase{"Pacific/Chatham", 7, 13, "+1245", false}));  // +12:45

TEST_F(ZoneTest, ClockInstantDecidesBetweenStandardAndDaylightTime) {
  UseZone("America/New_York");
  // The 2024 spring change: 07:00 GMT on 10 March.
  FixedClock clock(GmtInstant(2024, 3, 10, 6, 59, 59));
  std::string name;
  EXPECT_EQ(GetGMTOffset(clock, name), -5);
  EXPECT_EQ(name, "EST");
  clock.Set(GmtInstant(2024, 3, 10, 7, 0, 0));
  EXPECT_EQ(GetGMTOffset(clock, name), -4);
  EXPECT_EQ(name, "EDT");
}

TEST_F(ZoneTest, PosixZoneStringIsHonoured) {
  UseZone("XST-7XDT,M3.2.0,M11.1.0");
  const FixedClock clock(GmtInstant(2024, 7, 1));
  LocalTZone tz(clock);
  std::string name;
  EXPECT_EQ(tz.GetLocalTZ(name), 8);
  EXPECT_EQ(name, "XDT");
  EXPECT_TRUE(tz.blnDLT);
}

TEST_F(ZoneTest, ZoneNameIsCutAtThirtyTwoCharacters) {
  UseZone("<ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789>-3");
  const FixedClock clock(GmtInstant(2024, 1, 1));
  std::string name;
  EXPECT_EQ(GetGMTOffset(clock, name), 3);
  EXPECT_EQ(name, "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345");
}

TEST_F(ZoneTest, LocalTZoneLeavesTheUnusedMembersAlone) {
  UseZone("Asia/Tokyo");
  const FixedClock clock(GmtInstant(2024, 1, 1));
  LocalTZone tz(clock);
  tz.lngTZoneOffset = 77;
  tz.strTZName = "kept";
  tz.blnDLT = true;
  std::string name;
  EXPECT_EQ(tz.GetLocalTZ(name), 9);
  EXPECT_FALSE(tz.blnDLT);
  EXPECT_EQ(tz.lngTZoneOffset, 77);
  EXPECT_EQ(tz.strTZName, "kept");
}

// An instant the C library cannot turn into a calendar date stands for a
// failing system call: offset 0, empty name, daylight flag unchanged.
TEST_F(ZoneTest, UnrepresentableInstantGivesZeroOffsetAndEmptyName) {
  UseZone("America/New_York");
  const FixedClock clock(std::numeric_limits<std::time_t>::max());

  std::string name = "stale";
  EXPECT_EQ(GetGMTOffset(clock, name), 0);
  EXPECT_EQ(name, "");

  LocalTZone tz(clock);
  tz.blnDLT = true;
  tz.strTimeZoneName = "stale";
  std::string tzName = "stale";
  EXPECT_EQ(tz.GetLocalTZ(tzName), 0);
  EXPECT_EQ(tzName, "");
  EXPECT_EQ(tz.strTimeZoneName, "");
  EXPECT_TRUE(tz.blnDLT);
}

}  // namespace
}  // namespace qv::timezone
