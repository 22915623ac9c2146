// Expects `statement` to raise a DbError of `expectedNumber` whose text
// holds `expectedText` (number 0: to raise nothing).
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "db/db_error.h"

#define EXPECT_DB_ERROR(statement, expectedNumber, expectedText)       \
  do {                                                                 \
    std::string raised;                                                \
    int32_t raisedNumber = 0;                                          \
    try {                                                              \
      statement;                                                       \
    } catch (const ::qv::db::DbError& e) {                             \
      raisedNumber = e.number();                                       \
      raised = e.description();                                        \
    }                                                                  \
    EXPECT_EQ(raisedNumber, expectedNumber) << raised;                 \
    EXPECT_NE(raised.find(expectedText), std::string::npos) << raised; \
  } while (false)
