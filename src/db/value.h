// A field value as the database interface hands it in and out: null, a whole
// number, a real number, a text or a date-time.
//
// The As* accessors convert the way the setup logic expects of a classic
// variant: text that reads as a number converts to a number, anything else
// fails with "Type mismatch"; a number outside the target range fails with
// "Overflow"; a null read as a number or a text fails with "Invalid use of
// Null".
#pragma once

#include <cstdint>
#include <string>
#include <variant>

namespace qv::db {

struct DateTime {
  int year = 1899;
  int month = 12;
  int day = 30;
  int hour = 0;
  int minute = 0;
  int second = 0;

  bool operator==(const DateTime& o) const {
    return year == o.year && month == o.month && day == o.day && hour == o.hour &&
           minute == o.minute && second == o.second;
  }
  // "YYYY-MM-DD HH:MM:SS", the form a date-time column stores.
  std::string ToStorageText() const;
};

// Reads "YYYY-MM-DD[ HH:MM[:SS]]" or "YYYY/M/D[ H:M[:S]]" (leading zeros
// optional) and checks that the date exists. Returns false for anything else.
bool ParseDateTimeText(const std::string& text, DateTime* out);

class Value {
 public:
  enum class Kind { kNull, kInteger, kReal, kText, kDate };

  Value() = default;
  Value(int v) : data_(static_cast<int64_t>(v)) {}
  Value(int64_t v) : data_(v) {}
  Value(double v) : data_(v) {}
  Value(std::string v) : data_(std::move(v)) {}
  Value(const char* v) : data_(std::string(v)) {}
  Value(DateTime v) : data_(v) {}

  Kind kind() const { return static_cast<Kind>(data_.index()); }
  bool IsNull() const { return kind() == Kind::kNull; }

  int64_t AsInteger() const;  // whole number of any size; reals round half to even
  int16_t AsInt16() const;    // "Overflow" outside -32768..32767
  int32_t AsInt32() const;    // "Overflow" outside the 32-bit range
  double AsReal() const;
  std::string AsText() const;  // numbers in plain decimal, dates as storage text
  DateTime AsDate() const;     // date text or date; else "Type mismatch"
  // The value as a reader of a diagnostic wants it: Null, a number, a
  // date-time, or a text in single quotes. Never raises.
  std::string Describe() const;

  bool operator==(const Value& o) const { return data_ == o.data_; }

 private:
  std::variant<std::monostate, int64_t, double, std::string, DateTime> data_;
};

}  // namespace qv::db
