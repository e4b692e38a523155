// Result-code assertions for tests: a failure prints the code in hex and decimal with its text, so a log of a
// failed run says "0x00000005 (5): Access is denied." instead of "5 vs 0".
//
//   EXPECT_OK(registry.OpenKey(...));              the result is 0
//   ASSERT_OK(file->Close());
//   EXPECT_RESULT(winerr::kFileNotFound, Read());  the result is exactly this code
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace korva::testing {

// "0x80070005 (-2147024891): General access denied error.": the code with its text.
std::string DescribeResult(int32_t code);

::testing::AssertionResult ResultIsOk(const char* expression, int32_t code);
::testing::AssertionResult ResultIs(const char* expectedExpression, const char* actualExpression,
                                    int32_t expected, int32_t actual);

}  // namespace korva::testing

#define EXPECT_OK(expr) EXPECT_PRED_FORMAT1(::korva::testing::ResultIsOk, (expr))
#define ASSERT_OK(expr) ASSERT_PRED_FORMAT1(::korva::testing::ResultIsOk, (expr))
#define EXPECT_RESULT(expected, expr) EXPECT_PRED_FORMAT2(::korva::testing::ResultIs, (expected), (expr))
#define ASSERT_RESULT(expected, expr) ASSERT_PRED_FORMAT2(::korva::testing::ResultIs, (expected), (expr))
