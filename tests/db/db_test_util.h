// An assertion on the number and text of a DbError.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "db/db_error.h"

namespace qv::db::testing {

// The number of the DbError that `action` raises, 0 for none; its text in `text`.
inline int32_t Raised(const std::function<void()>& action, std::string* text = nullptr) {
  try {
    action();
  } catch (const DbError& e) {
    if (text) *text = e.description();
    return e.number();
  }
  return 0;
}

#define EXPECT_DB_ERROR(statement, number, text)                                         \
  do {                                                                                   \
    std::string raised;                                                                  \
    EXPECT_EQ(::qv::db::testing::Raised([&] { statement; }, &raised), number) << raised; \
    EXPECT_NE(raised.find(text), std::string::npos) << raised;                           \
  } while (false)

}  // namespace qv::db::testing
