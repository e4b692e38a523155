// Result-code assertions whose failures print the code in hex and decimal with its text.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>

namespace korva::testing {

::testing::AssertionResult ResultIs(const char* expectedExpression, const char* actualExpression,
                                    int32_t expected, int32_t actual);

}  // namespace korva::testing

#define EXPECT_OK(expr) EXPECT_PRED_FORMAT2(::korva::testing::ResultIs, 0, (expr))
#define ASSERT_OK(expr) ASSERT_PRED_FORMAT2(::korva::testing::ResultIs, 0, (expr))
#define EXPECT_RESULT(expected, expr) EXPECT_PRED_FORMAT2(::korva::testing::ResultIs, (expected), (expr))
