#include "tests/support/result_assert.h"

#include <cstdio>
#include <string>

#include "infra/error_texts.h"
#include "platform/text.h"

namespace korva::testing {
namespace {

// HRESULT failures have the severity bit and a facility; the system's own codes are small negatives.
std::string DescribeResult(int32_t code) {
    char number[40];
    std::snprintf(number, sizeof(number), "0x%08X (%d): ", static_cast<unsigned>(code),
                  static_cast<int>(code));
    const WString text = code > 0         ? SystemErrorText(static_cast<uint32_t>(code))
                         : code < -0xFFFF ? HResultText(code)
                         : code < 0       ? WString(KW("the system's own code"))
                                          : WString(KW("success"));
    return number + Utf16ToUtf8(text);
}

}  // namespace

::testing::AssertionResult ResultIs(const char* expectedExpression, const char* actualExpression,
                                    int32_t expected, int32_t actual) {
    if (expected == actual)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << actualExpression << " gave " << DescribeResult(actual) << "\n  expected " << expectedExpression
           << ": " << DescribeResult(expected);
}

}  // namespace korva::testing
