#include "db/conversion.h"

#include <cctype>
#include <cmath>
#include <string>

#include "db/db_error.h"

namespace qv::db {
namespace {

// Upper case, the part before any "(", blanks collapsed and trimmed.
std::string NormalizeType(std::string_view declared) {
  std::string out;
  bool blank = false;
  for (char c : declared) {
    if (c == '(') break;
    if (std::isspace(static_cast<unsigned char>(c))) {
      blank = !out.empty();
      continue;
    }
    if (blank) out += ' ';
    blank = false;
    out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return out;
}

bool OneOf(const std::string& type, std::initializer_list<const char*> names) {
  for (const char* name : names) {
    if (type == name) return true;
  }
  return false;
}

bool Contains(const std::string& type, const char* part) {
  return type.find(part) != std::string::npos;
}

bool IsTrueWord(const std::string& text, bool* truth) {
  std::string upper;
  for (char c : text) {
    if (!std::isspace(static_cast<unsigned char>(c))) {
      upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
  }
  if (upper == "TRUE" || upper == "YES") {
    *truth = true;
    return true;
  }
  if (upper == "FALSE" || upper == "NO") {
    *truth = false;
    return true;
  }
  return false;
}

int64_t InRange(int64_t v, int64_t low, int64_t high) {
  if (v < low || v > high) throw DbError::Overflow();
  return v;
}

}  // namespace

ColumnKind KindOfDeclaredType(std::string_view declaredType) {
  std::string type = NormalizeType(declaredType);
  if (type.empty()) return ColumnKind::kAny;
  if (OneOf(type, {"SMALLINT", "SHORT", "INT2", "INTEGER2"})) return ColumnKind::kInt16;
  if (OneOf(type, {"INT", "INT4", "INTEGER4", "LONG", "LONG INTEGER", "COUNTER", "AUTOINCREMENT",
                   "MEDIUMINT"})) {
    return ColumnKind::kInt32;
  }
  if (OneOf(type, {"BYTE", "TINYINT", "INTEGER1"})) return ColumnKind::kByte;
  if (OneOf(type, {"BIT", "YESNO", "BOOLEAN", "BOOL", "LOGICAL", "LOGICAL1"})) {
    return ColumnKind::kYesNo;
  }
  if (OneOf(type, {"DATETIME", "DATE", "TIMESTAMP"})) return ColumnKind::kDate;
  if (OneOf(type, {"MEMO", "NOTE", "STRING", "LONGTEXT", "ALPHANUMERIC", "HYPERLINK"})) {
    return ColumnKind::kText;
  }
  if (OneOf(type, {"SINGLE", "CURRENCY", "MONEY", "NUMBER", "NUMERIC", "DECIMAL", "IEEESINGLE",
                   "IEEEDOUBLE"})) {
    return ColumnKind::kNumber;
  }
  // SQLite's affinity rules, in its order.
  if (Contains(type, "INT")) return ColumnKind::kInt64;
  if (Contains(type, "CHAR") || Contains(type, "CLOB") || Contains(type, "TEXT")) {
    return ColumnKind::kText;
  }
  if (Contains(type, "BLOB")) return ColumnKind::kAny;
  if (Contains(type, "REAL") || Contains(type, "FLOA") || Contains(type, "DOUB")) {
    return ColumnKind::kNumber;
  }
  return ColumnKind::kAny;
}

Value ConvertForColumn(const Value& value, ColumnKind kind) {
  if (value.IsNull()) return Value();
  switch (kind) {
    case ColumnKind::kAny:
      return value.kind() == Value::Kind::kDate ? Value(value.AsText()) : value;
    case ColumnKind::kText:
      return Value(value.AsText());
    case ColumnKind::kInt16:
      return Value(static_cast<int64_t>(value.AsInt16()));
    case ColumnKind::kInt32:
      return Value(static_cast<int64_t>(value.AsInt32()));
    case ColumnKind::kInt64:
      return Value(value.AsInteger());
    case ColumnKind::kByte:
      return Value(InRange(value.AsInteger(), 0, 255));
    case ColumnKind::kNumber: {
      if (value.kind() == Value::Kind::kInteger) return value;
      double real = value.AsReal();
      if (value.kind() == Value::Kind::kText && std::nearbyint(real) == real &&
          std::fabs(real) < 9007199254740992.0) {
        return Value(static_cast<int64_t>(real));
      }
      return Value(real);
    }
    case ColumnKind::kDate: {
      // AsDate takes a date or date text; a date value is checked as well.
      DateTime date = value.AsDate();
      DateTime checked;
      if (!ParseDateTimeText(date.ToStorageText(), &checked)) throw DbError::TypeMismatch();
      return Value(checked.ToStorageText());
    }
    case ColumnKind::kYesNo: {
      bool truth = false;
      if (value.kind() == Value::Kind::kText && IsTrueWord(value.AsText(), &truth)) {
        return Value(truth ? 1 : 0);
      }
      return Value(value.AsReal() != 0 ? 1 : 0);
    }
  }
  throw DbError::TypeMismatch();
}

Value ReadStored(Value stored, ColumnKind kind) {
  if (kind == ColumnKind::kDate && stored.kind() == Value::Kind::kText) {
    DateTime date;
    if (ParseDateTimeText(stored.AsText(), &date)) return Value(date);
  }
  return stored;
}

}  // namespace qv::db
