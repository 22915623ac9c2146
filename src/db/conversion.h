// The conversions of an assignment to a column, decided by the column's
// declared type. Every engine's row sets (SetField) and column copy go
// through here, so a copy gives what a row-by-row walk gives, failures
// included.
#pragma once

#include <string_view>

#include "db/value.h"

namespace qv::db {

enum class ColumnKind {
  kAny,     // no declared type: stored as given
  kInt16,   // SMALLINT, SHORT
  kInt32,   // INT, LONG, COUNTER
  kInt64,   // INTEGER, BIGINT
  kByte,    // BYTE, TINYINT: 0 to 255
  kNumber,  // REAL, DOUBLE, NUMERIC, CURRENCY ...
  kDate,    // DATETIME, DATE, TIMESTAMP
  kYesNo,   // BIT, YESNO, BOOLEAN, LOGICAL
  kText,    // TEXT, CHAR, VARCHAR, MEMO ...
};

// Reads a declared type such as "TEXT(50)", "long" or "UNSIGNED BIG INT".
// Names it does not know fall back to SQLite's affinity rules.
ColumnKind KindOfDeclaredType(std::string_view declaredType);

// The value to store for `value` assigned to a column of `kind`. Raises
// "Type mismatch" (13) for a value that does not convert and "Overflow" (6)
// for a number outside the column's range. Null stays null.
Value ConvertForColumn(const Value& value, ColumnKind kind);

// The value a field of `kind` reads as: stored date text becomes a date.
Value ReadStored(Value stored, ColumnKind kind);

}  // namespace qv::db
