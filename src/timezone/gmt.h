// Time services of the setup: the installation's GMT offset in whole hours,
// the current GMT date-time text, local dates, and local-to-GMT conversion.
//
// The local zone is the process's (TZ, else /etc/localtime) through the C
// library; the rules in force at the clock's current instant decide the
// offset and the zone name.
#pragma once

#include <cstdint>
#include <string>

#include "timezone/clock.h"

namespace qv::timezone {

// A calendar date with time of day, in no particular zone.
struct CivilTime {
  int year = 1899;
  int month = 12;
  int day = 30;
  int hour = 0;
  int minute = 0;
  int second = 0;

  bool operator==(const CivilTime& o) const {
    return year == o.year && month == o.month && day == o.day && hour == o.hour &&
           minute == o.minute && second == o.second;
  }
};

// The zero date (30 December 1899, 00:00:00) that ToGMT returns for a value
// that is not a date.
inline constexpr CivilTime kZeroDate{};

// Offset of local time from GMT in whole hours, east positive, halves rounded
// to even (+5:30 gives 6, +4:30 gives 4, -3:30 gives -4). Stores the name of
// the zone part in force (at most 32 characters) into `zoneName`; on failure
// returns 0 and an empty name.
int32_t GetGMTOffset(const Clock& clock, std::string& zoneName);

class LocalTZone {
 public:
  explicit LocalTZone(const Clock& clock) : clock_(clock) {}

  // Same result as GetGMTOffset; also sets strTimeZoneName and blnDLT.
  int32_t GetLocalTZ(std::string& zoneName);

  std::string strTimeZoneName;
  int32_t lngTZoneOffset = 0;  // never set by the program
  bool blnDLT = false;
  std::string strTZName;  // never set by the program

 private:
  const Clock& clock_;
};

// The current GMT date-time as "year/month/day hour:minute:second" without
// leading zeros, for example "1999/3/5 14:7:9".
std::string GmtNowText(const Clock& clock);

// The local date and time now.
CivilTime LocalNow(const Clock& clock);

// `t` moved by whole calendar days, or by hours (across days and months).
CivilTime AddDays(const CivilTime& t, int days);
CivilTime AddHours(const CivilTime& t, int hours);

// The system's short date form of this platform, "yyyy/m/d" (no leading
// zeros), which ToGMT reads back.
std::string ShortDateText(const CivilTime& t);

// Reads a local date-time text ("yyyy/m/d h:m:s", "yyyy-mm-dd hh:mm:ss", or a
// date alone) and moves it to GMT by the current offset (GetGMTOffset):
// local 14:00 with offset 9 gives 05:00. Text that is not a date gives
// kZeroDate.
CivilTime ToGMT(const std::string& localText, const Clock& clock);
CivilTime ToGMT(const CivilTime& local, const Clock& clock);

}  // namespace qv::timezone
