// A fixture base for tests that pin the process's time zone: UseZone sets TZ
// and re-reads it; the previous TZ (or its absence) comes back afterwards,
// even when an assertion failed.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <ostream>
#include <string>

#include "timezone/gmt.h"

namespace qv::timezone {

class ZoneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* tz = std::getenv("TZ")) saved_tz_ = tz;
  }

  void TearDown() override {
    if (saved_tz_) {
      setenv("TZ", saved_tz_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

  static void UseZone(const std::string& zone) {
    setenv("TZ", zone.c_str(), 1);
    tzset();
  }

  // The instant of a GMT calendar time.
  static std::time_t GmtInstant(int year, int month, int day, int hour = 0, int minute = 0,
                                int second = 0) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    return timegm(&tm);
  }

  static CivilTime Civil(int year, int month, int day, int hour = 0, int minute = 0,
                         int second = 0) {
    return CivilTime{year, month, day, hour, minute, second};
  }

 private:
  std::optional<std::string> saved_tz_;
};

// Readable failure output for CivilTime comparisons.
inline void PrintTo(const CivilTime& t, std::ostream* os) {
  *os << t.year << "-" << t.month << "-" << t.day << " " << t.hour << ":" << t.minute << ":"
      << t.second;
}

}  // namespace qv::timezone
