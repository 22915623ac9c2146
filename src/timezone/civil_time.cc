// Calendar arithmetic and the date texts of the setup. Everything here but
// the final shift of ToGMT is pure: no zone, no clock.
#include <cstdint>
#include <string>

#include "timezone/gmt.h"

namespace qv::timezone {
namespace {

constexpr int64_t kSecondsPerDay = 86400;

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's
// days_from_civil); valid for any year the CivilTime fields can hold.
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, CivilTime& t) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const int64_t m = mp < 10 ? mp + 3 : mp - 9;
  t.year = static_cast<int>(yoe + era * 400 + (m <= 2));
  t.month = static_cast<int>(m);
  t.day = static_cast<int>(d);
}

int64_t FloorDiv(int64_t a, int64_t b) {
  return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

// `t` as seconds from 1970-01-01 00:00:00 on its own (zone-less) calendar.
int64_t ToSeconds(const CivilTime& t) {
  return DaysFromCivil(t.year, t.month, t.day) * kSecondsPerDay + t.hour * 3600LL +
         t.minute * 60LL + t.second;
}

CivilTime FromSeconds(int64_t s) {
  CivilTime t;
  const int64_t days = FloorDiv(s, kSecondsPerDay);
  const int64_t rest = s - days * kSecondsPerDay;
  CivilFromDays(days, t);
  t.hour = static_cast<int>(rest / 3600);
  t.minute = static_cast<int>(rest / 60 % 60);
  t.second = static_cast<int>(rest % 60);
  return t;
}

bool IsLeapYear(int y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysInMonth(int y, int m) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeapYear(y) ? 29 : kDays[m - 1];
}

// Reads between `min_digits` and `max_digits` decimal digits at `pos`.
bool ReadNumber(const std::string& s, size_t& pos, size_t min_digits, size_t max_digits, int& out) {
  size_t n = 0;
  int value = 0;
  while (pos + n < s.size() && n < max_digits && s[pos + n] >= '0' && s[pos + n] <= '9') {
    value = value * 10 + (s[pos + n] - '0');
    ++n;
  }
  if (n < min_digits) return false;
  // More digits than allowed is not a shorter number followed by text.
  if (pos + n < s.size() && s[pos + n] >= '0' && s[pos + n] <= '9') return false;
  pos += n;
  out = value;
  return true;
}

bool Expect(const std::string& s, size_t& pos, char c) {
  if (pos >= s.size() || s[pos] != c) return false;
  ++pos;
  return true;
}

void SkipBlanks(const std::string& s, size_t& pos) {
  while (pos < s.size() && s[pos] == ' ') ++pos;
}

// Reads "yyyy/m/d[ h:m[:s]]" or "yyyy-mm-dd[ hh:mm[:ss]]" (leading zeros
// optional, blanks around the text allowed) and checks that the date exists.
bool ParseLocalDateText(const std::string& text, CivilTime& out) {
  CivilTime t;
  t.hour = t.minute = t.second = 0;
  size_t pos = 0;
  SkipBlanks(text, pos);
  if (!ReadNumber(text, pos, 4, 4, t.year)) return false;
  if (pos >= text.size() || (text[pos] != '/' && text[pos] != '-')) return false;
  const char separator = text[pos++];
  if (!ReadNumber(text, pos, 1, 2, t.month) || !Expect(text, pos, separator) ||
      !ReadNumber(text, pos, 1, 2, t.day)) {
    return false;
  }
  const size_t after_date = pos;
  SkipBlanks(text, pos);
  if (pos < text.size() && pos > after_date) {  // a time of day follows
    if (!ReadNumber(text, pos, 1, 2, t.hour) || !Expect(text, pos, ':') ||
        !ReadNumber(text, pos, 1, 2, t.minute)) {
      return false;
    }
    if (pos < text.size() && text[pos] == ':') {
      ++pos;
      if (!ReadNumber(text, pos, 1, 2, t.second)) return false;
    }
    SkipBlanks(text, pos);
  }
  if (pos != text.size()) return false;
  if (t.year < 1 || t.month < 1 || t.month > 12 || t.day < 1 ||
      t.day > DaysInMonth(t.year, t.month) || t.hour > 23 || t.minute > 59 || t.second > 59) {
    return false;
  }
  out = t;
  return true;
}

}  // namespace

CivilTime AddDays(const CivilTime& t, int days) {
  return FromSeconds(ToSeconds(t) + static_cast<int64_t>(days) * kSecondsPerDay);
}

CivilTime AddHours(const CivilTime& t, int hours) {
  return FromSeconds(ToSeconds(t) + static_cast<int64_t>(hours) * 3600);
}

std::string ShortDateText(const CivilTime& t) {
  return std::to_string(t.year) + "/" + std::to_string(t.month) + "/" + std::to_string(t.day);
}

CivilTime ToGMT(const std::string& localText, const Clock& clock) {
  CivilTime local;
  if (!ParseLocalDateText(localText, local)) return kZeroDate;
  return ToGMT(local, clock);
}

}  // namespace qv::timezone
