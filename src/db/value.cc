#include "db/value.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "db/db_error.h"

namespace qv::db {
namespace {

bool IsLeap(int y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysInMonth(int y, int m) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

// Reads 1 to `maxDigits` decimal digits at text[*pos].
bool ReadNumber(const std::string& text, size_t* pos, int maxDigits, int* out) {
  int digits = 0;
  int value = 0;
  while (*pos < text.size() && text[*pos] >= '0' && text[*pos] <= '9' && digits < maxDigits) {
    value = value * 10 + (text[*pos] - '0');
    ++*pos;
    ++digits;
  }
  if (digits == 0) return false;
  *out = value;
  return true;
}

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

// Text that reads as a number, as a classic variant conversion would take it.
bool ParseNumberText(const std::string& raw, double* real, bool* isWhole, int64_t* whole) {
  std::string text = Trim(raw);
  if (text.empty()) return false;
  const char* begin = text.c_str();
  char* end = nullptr;
  errno = 0;
  long long ll = std::strtoll(begin, &end, 10);
  if (errno == 0 && end == begin + text.size()) {
    *isWhole = true;
    *whole = ll;
    *real = static_cast<double>(ll);
    return true;
  }
  errno = 0;
  double d = std::strtod(begin, &end);
  if (end != begin + text.size() || !std::isfinite(d)) return false;
  // strtod also takes hex and "inf"/"nan"; a plain decimal number only.
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E')) {
      return false;
    }
  }
  *isWhole = false;
  *real = d;
  return true;
}

int64_t RoundHalfEven(double d) {
  if (!std::isfinite(d) || d >= 9.2233720368547758e18 || d < -9.2233720368547758e18) {
    throw DbError::Overflow();
  }
  return static_cast<int64_t>(std::nearbyint(d));  // default rounding mode: to even
}

}  // namespace

std::string DateTime::ToStorageText() const {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", year, month, day, hour, minute,
                second);
  return buf;
}

bool ParseDateTimeText(const std::string& raw, DateTime* out) {
  std::string text = Trim(raw);
  size_t pos = 0;
  DateTime dt;
  if (!ReadNumber(text, &pos, 4, &dt.year) || pos != 4) return false;
  if (pos >= text.size() || (text[pos] != '-' && text[pos] != '/')) return false;
  char sep = text[pos++];
  if (!ReadNumber(text, &pos, 2, &dt.month)) return false;
  if (pos >= text.size() || text[pos++] != sep) return false;
  if (!ReadNumber(text, &pos, 2, &dt.day)) return false;
  dt.hour = dt.minute = dt.second = 0;
  if (pos < text.size()) {
    if (text[pos] != ' ') return false;
    while (pos < text.size() && text[pos] == ' ') ++pos;
    if (!ReadNumber(text, &pos, 2, &dt.hour)) return false;
    if (pos >= text.size() || text[pos++] != ':') return false;
    if (!ReadNumber(text, &pos, 2, &dt.minute)) return false;
    if (pos < text.size()) {
      if (text[pos++] != ':') return false;
      if (!ReadNumber(text, &pos, 2, &dt.second)) return false;
    }
    if (pos != text.size()) return false;
  }
  if (dt.year < 100 || dt.month < 1 || dt.month > 12 || dt.day < 1 ||
      dt.day > DaysInMonth(dt.year, dt.month) || dt.hour > 23 || dt.minute > 59 || dt.second > 59) {
    return false;
  }
  *out = dt;
  return true;
}

int64_t Value::AsInteger() const {
  switch (kind()) {
    case Kind::kNull:
      throw DbError::InvalidUseOfNull();
    case Kind::kInteger:
      return std::get<int64_t>(data_);
    case Kind::kReal:
      return RoundHalfEven(std::get<double>(data_));
    case Kind::kText: {
      double real = 0;
      bool isWhole = false;
      int64_t whole = 0;
      if (!ParseNumberText(std::get<std::string>(data_), &real, &isWhole, &whole)) {
        throw DbError::TypeMismatch();
      }
      return isWhole ? whole : RoundHalfEven(real);
    }
    case Kind::kDate:
      break;
  }
  throw DbError::TypeMismatch();
}

int16_t Value::AsInt16() const {
  int64_t v = AsInteger();
  if (v < std::numeric_limits<int16_t>::min() || v > std::numeric_limits<int16_t>::max()) {
    throw DbError::Overflow();
  }
  return static_cast<int16_t>(v);
}

int32_t Value::AsInt32() const {
  int64_t v = AsInteger();
  if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max()) {
    throw DbError::Overflow();
  }
  return static_cast<int32_t>(v);
}

double Value::AsReal() const {
  switch (kind()) {
    case Kind::kNull:
      throw DbError::InvalidUseOfNull();
    case Kind::kInteger:
      return static_cast<double>(std::get<int64_t>(data_));
    case Kind::kReal:
      return std::get<double>(data_);
    case Kind::kText: {
      double real = 0;
      bool isWhole = false;
      int64_t whole = 0;
      if (!ParseNumberText(std::get<std::string>(data_), &real, &isWhole, &whole)) {
        throw DbError::TypeMismatch();
      }
      return real;
    }
    case Kind::kDate:
      break;
  }
  throw DbError::TypeMismatch();
}

std::string Value::AsText() const {
  switch (kind()) {
    case Kind::kNull:
      throw DbError::InvalidUseOfNull();
    case Kind::kInteger:
      return std::to_string(std::get<int64_t>(data_));
    case Kind::kReal: {
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.15g", std::get<double>(data_));
      return buf;
    }
    case Kind::kText:
      return std::get<std::string>(data_);
    case Kind::kDate:
      return std::get<DateTime>(data_).ToStorageText();
  }
  throw DbError::TypeMismatch();
}

std::string Value::Describe() const {
  switch (kind()) {
    case Kind::kNull:
      return "Null";
    case Kind::kText:
      return "'" + std::get<std::string>(data_) + "'";
    default:
      return AsText();
  }
}

DateTime Value::AsDate() const {
  switch (kind()) {
    case Kind::kNull:
      throw DbError::InvalidUseOfNull();
    case Kind::kDate:
      return std::get<DateTime>(data_);
    case Kind::kText: {
      DateTime dt;
      if (ParseDateTimeText(std::get<std::string>(data_), &dt)) return dt;
      break;
    }
    default:
      break;
  }
  throw DbError::TypeMismatch();
}

}  // namespace qv::db
