// The one error type of the database layer.
//
// Every failing database operation raises a DbError carrying a number and a
// description: the engine's result code and message for engine failures, and
// the classic run-time numbers for conversions that fail at run time.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace qv::db {

// Classic run-time error numbers used for conversion failures.
inline constexpr int32_t kErrOverflow = 6;
inline constexpr int32_t kErrSubscriptOutOfRange = 9;
inline constexpr int32_t kErrTypeMismatch = 13;
inline constexpr int32_t kErrInvalidUseOfNull = 94;
// A field name that the row set does not have.
inline constexpr int32_t kErrItemNotFound = 3265;
// An operation on a row set or connection that is not open.
inline constexpr int32_t kErrObjectClosed = 3704;
// No current row (before the first row, after the last, or an empty set).
inline constexpr int32_t kErrNoCurrentRecord = 3021;
// Failures that the engines' row sets and statement runners raise
// themselves; they keep the access layer's classic numbers.
inline constexpr int32_t kErrCharactersAfterStatement = 3142;
inline constexpr int32_t kErrNotUpdatable = 3251;
inline constexpr int32_t kErrRowNotFoundForUpdate = -2147217864;
// A failure with no number of its own: a data source that the lookup
// refuses (missing, incomplete, of an unsupported driver, wrong
// credentials), a server that cannot be reached, a dump that fails. A
// database file that the embedded engine cannot open carries its own code.
inline constexpr int32_t kErrUnspecified = -2147467259;

class DbError : public std::runtime_error {
 public:
  DbError(int32_t number, std::string description)
      : std::runtime_error(description), number_(number), description_(std::move(description)) {}

  int32_t number() const { return number_; }
  const std::string& description() const { return description_; }

  static DbError Overflow() { return DbError(kErrOverflow, "Overflow"); }
  static DbError TypeMismatch() { return DbError(kErrTypeMismatch, "Type mismatch"); }
  static DbError SubscriptOutOfRange() {
    return DbError(kErrSubscriptOutOfRange, "Subscript out of range");
  }
  static DbError InvalidUseOfNull() { return DbError(kErrInvalidUseOfNull, "Invalid use of Null"); }

 private:
  int32_t number_;
  std::string description_;
};

// "Operation is not allowed when the object is closed."
inline DbError ObjectClosed() {
  return DbError(kErrObjectClosed, "Operation is not allowed when the object is closed.");
}

}  // namespace qv::db
