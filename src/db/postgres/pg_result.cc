#include "db/postgres/pg_result.h"

#include <cstdlib>

namespace qv::db::postgres {
namespace {

// Type numbers of the server's built-in types (pg_type.oid), fixed for
// every server version.
constexpr Oid kBool = 16, kInt8 = 20, kInt2 = 21, kInt4 = 23, kOid = 26, kFloat4 = 700,
              kFloat8 = 701, kNumeric = 1700;

}  // namespace

Value Result::Get(int row, int column) const {
  if (IsNull(row, column)) return Value();
  const char* text = PQgetvalue(get(), row, column);
  switch (ColumnType(column)) {
    case kInt2:
    case kInt4:
    case kInt8:
    case kOid:
      return Value(static_cast<int64_t>(std::strtoll(text, nullptr, 10)));
    case kBool:
      return Value(text[0] == 't' ? 1 : 0);
    case kFloat4:
    case kFloat8:
      return Value(std::strtod(text, nullptr));
    case kNumeric: {
      // A whole numeric (a sum of integers) reads as a whole number.
      char* end = nullptr;
      long long whole = std::strtoll(text, &end, 10);
      if (*end == '\0') return Value(static_cast<int64_t>(whole));
      return Value(std::strtod(text, nullptr));
    }
    default:
      return Value(std::string(text));
  }
}

}  // namespace qv::db::postgres
