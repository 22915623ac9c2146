// The zone-dependent time services: the GMT offset in force, the GMT text of
// the current instant, the local date and time, and the shift to GMT. All of
// them read the C library's zone rules for the process (TZ, else
// /etc/localtime) at the injected clock's instant.
#include <ctime>
#include <string>

#include "timezone/gmt.h"

namespace qv::timezone {
namespace {

constexpr size_t kMaxZoneNameLength = 32;

// What the zone rules say about one instant.
struct ZoneState {
  long offset_minutes = 0;  // local time minus GMT
  std::string name;
  bool daylight = false;
};

// False when the C library cannot express the instant in local time.
bool ReadZone(const Clock& clock, ZoneState& out) {
  const std::time_t now = clock.Now();
  // localtime_r need not notice a changed TZ by itself; tzset makes it.
  tzset();
  std::tm local{};
  if (localtime_r(&now, &local) == nullptr) return false;
  // Whole minutes, as the desktop platform's bias is kept.
  out.offset_minutes = local.tm_gmtoff / 60;
  out.name = local.tm_zone != nullptr ? local.tm_zone : "";
  if (out.name.size() > kMaxZoneNameLength) out.name.resize(kMaxZoneNameLength);
  out.daylight = local.tm_isdst > 0;
  return true;
}

// minutes / 60 rounded to the nearest whole number, halves to the even one:
// +5:30 gives 6, +4:30 gives 4, -3:30 gives -4, -2:30 gives -2.
int32_t HoursRoundedHalfEven(long minutes) {
  long hours = minutes / 60;
  long rest = minutes % 60;
  if (rest < 0) {  // floor division, so that rest lies in 0..59
    hours -= 1;
    rest += 60;
  }
  if (rest > 30 || (rest == 30 && hours % 2 != 0)) hours += 1;
  return static_cast<int32_t>(hours);
}

CivilTime FromTm(const std::tm& tm) {
  CivilTime t;
  t.year = tm.tm_year + 1900;
  t.month = tm.tm_mon + 1;
  t.day = tm.tm_mday;
  t.hour = tm.tm_hour;
  t.minute = tm.tm_min;
  t.second = tm.tm_sec;
  return t;
}

}  // namespace

int32_t GetGMTOffset(const Clock& clock, std::string& zoneName) {
  ZoneState zone;
  if (!ReadZone(clock, zone)) {
    zoneName.clear();
    return 0;
  }
  zoneName = zone.name;
  return HoursRoundedHalfEven(zone.offset_minutes);
}

int32_t LocalTZone::GetLocalTZ(std::string& zoneName) {
  ZoneState zone;
  if (!ReadZone(clock_, zone)) {  // blnDLT keeps its value on failure
    zoneName.clear();
    strTimeZoneName.clear();
    return 0;
  }
  blnDLT = zone.daylight;
  zoneName = zone.name;
  strTimeZoneName = zone.name;
  return HoursRoundedHalfEven(zone.offset_minutes);
}

std::string GmtNowText(const Clock& clock) {
  const std::time_t now = clock.Now();
  std::tm gmt{};
  if (gmtime_r(&now, &gmt) == nullptr) return ShortDateText(kZeroDate) + " 0:0:0";
  const CivilTime t = FromTm(gmt);
  return ShortDateText(t) + " " + std::to_string(t.hour) + ":" + std::to_string(t.minute) + ":" +
         std::to_string(t.second);
}

CivilTime LocalNow(const Clock& clock) {
  const std::time_t now = clock.Now();
  tzset();
  std::tm local{};
  if (localtime_r(&now, &local) == nullptr) return kZeroDate;
  return FromTm(local);
}

CivilTime ToGMT(const CivilTime& local, const Clock& clock) {
  std::string ignored;
  return AddHours(local, -GetGMTOffset(clock, ignored));
}

}  // namespace qv::timezone
