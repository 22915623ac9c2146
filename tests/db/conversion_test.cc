#include "db/sqlite/conversion.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "db_test_util.h"

namespace qv::db::sqlite {
namespace {

using qv::db::testing::ExpectDbError;

TEST(ConversionTest, DeclaredTypesDecideTheKind) {
  const std::pair<ColumnKind, std::vector<const char*>> groups[] = {
      {ColumnKind::kInt16, {"SMALLINT", "short"}},
      {ColumnKind::kInt32, {"LONG", "INT", "counter"}},
      {ColumnKind::kInt64, {"INTEGER", "BIGINT"}},
      {ColumnKind::kByte, {"BYTE"}},
      {ColumnKind::kYesNo, {"BIT", "YesNo", "BOOLEAN", "LOGICAL"}},
      {ColumnKind::kDate, {"DATETIME", "date", "TIMESTAMP"}},
      {ColumnKind::kText, {"TEXT(50)", "VARCHAR (255)", "MEMO"}},
      {ColumnKind::kNumber, {"DOUBLE", "CURRENCY"}},
      {ColumnKind::kAny, {"", "BLOB"}},
  };
  for (const auto& [kind, types] : groups) {
    for (const char* type : types) EXPECT_EQ(KindOfDeclaredType(type), kind) << type;
  }
}

TEST(ConversionTest, IntegerColumnsTakeNumbersAndNumericTextWithinTheirRange) {
  EXPECT_EQ(ConvertForColumn(Value("42"), ColumnKind::kInt16), Value(42));
  EXPECT_EQ(ConvertForColumn(Value(" -7 "), ColumnKind::kInt32), Value(-7));
  EXPECT_EQ(ConvertForColumn(Value(2.5), ColumnKind::kInt64), Value(2));  // half to even
  EXPECT_EQ(ConvertForColumn(Value(32767), ColumnKind::kInt16), Value(32767));
  ExpectDbError([] { ConvertForColumn(Value(32768), ColumnKind::kInt16); }, kErrOverflow,
                "Overflow");
  ExpectDbError([] { ConvertForColumn(Value("2147483648"), ColumnKind::kInt32); }, kErrOverflow);
  ExpectDbError([] { ConvertForColumn(Value(256), ColumnKind::kByte); }, kErrOverflow);
  ExpectDbError([] { ConvertForColumn(Value("12abc"), ColumnKind::kInt64); }, kErrTypeMismatch,
                "Type mismatch");
  ExpectDbError([] { ConvertForColumn(Value(DateTime{}), ColumnKind::kInt32); }, kErrTypeMismatch);
}

TEST(ConversionTest, DateColumnsStoreTheStorageFormOrFail) {
  EXPECT_EQ(ConvertForColumn(Value("1999/3/5 14:7:9"), ColumnKind::kDate),
            Value("1999-03-05 14:07:09"));
  EXPECT_EQ(ConvertForColumn(Value(DateTime{2024, 2, 29, 8, 0, 0}), ColumnKind::kDate),
            Value("2024-02-29 08:00:00"));
  ExpectDbError([] { ConvertForColumn(Value("next Monday"), ColumnKind::kDate); },
                kErrTypeMismatch);
  ExpectDbError([] { ConvertForColumn(Value("2023/2/29"), ColumnKind::kDate); }, kErrTypeMismatch);
  ExpectDbError(
      [] {
        ConvertForColumn(Value(DateTime{2023, 13, 1}), ColumnKind::kDate);
      },
      kErrTypeMismatch);
  // Read back, a stored date is a date value; other text stays text.
  EXPECT_EQ(ReadStored(Value("1999-03-05 14:07:09"), ColumnKind::kDate),
            Value(DateTime{1999, 3, 5, 14, 7, 9}));
  EXPECT_EQ(ReadStored(Value("garbage"), ColumnKind::kDate), Value("garbage"));
  EXPECT_EQ(ReadStored(Value("1999-03-05"), ColumnKind::kText), Value("1999-03-05"));
}

TEST(ConversionTest, YesNoColumnsStoreOneOrZero) {
  EXPECT_EQ(ConvertForColumn(Value(-1), ColumnKind::kYesNo), Value(1));
  EXPECT_EQ(ConvertForColumn(Value(0.0), ColumnKind::kYesNo), Value(0));
  EXPECT_EQ(ConvertForColumn(Value("True"), ColumnKind::kYesNo), Value(1));
  EXPECT_EQ(ConvertForColumn(Value("0"), ColumnKind::kYesNo), Value(0));
  ExpectDbError([] { ConvertForColumn(Value("maybe"), ColumnKind::kYesNo); }, kErrTypeMismatch);
}

TEST(ConversionTest, TextColumnsStoreTextAndNullStaysNull) {
  EXPECT_EQ(ConvertForColumn(Value(1), ColumnKind::kText), Value("1"));
  EXPECT_EQ(ConvertForColumn(Value(DateTime{2001, 1, 2}), ColumnKind::kText),
            Value("2001-01-02 00:00:00"));
  EXPECT_EQ(ConvertForColumn(Value("5"), ColumnKind::kNumber), Value(5));
  EXPECT_EQ(ConvertForColumn(Value(7), ColumnKind::kAny), Value(7));
  for (ColumnKind kind :
       {ColumnKind::kInt16, ColumnKind::kDate, ColumnKind::kYesNo, ColumnKind::kText}) {
    EXPECT_TRUE(ConvertForColumn(Value(), kind).IsNull());
  }
}

}  // namespace
}  // namespace qv::db::sqlite
