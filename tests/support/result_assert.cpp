#include "tests/support/result_assert.h"

#include <cstdio>

#include "infra/error_texts.h"
#include "platform/text.h"

namespace korva::testing {

std::string DescribeResult(int32_t code) {
    char number[40];
    std::snprintf(number, sizeof(number), "0x%08X (%d): ", static_cast<unsigned>(code),
                  static_cast<int>(code));
    std::string text(number);
    if (code == 0) {
        return text + "success";
    }
    if (code > 0) {
        const WString message = SystemErrorText(static_cast<uint32_t>(code));
        return text + (message.empty() ? std::string("no system text") : Utf16ToUtf8(message));
    }
    // HRESULT failures have the severity bit and a facility; the system's own codes are small negatives.
    if (code < -0xFFFF) {
        return text + Utf16ToUtf8(HResultText(code));
    }
    return text + "the system's own code";
}

::testing::AssertionResult ResultIsOk(const char* expression, int32_t code) {
    if (code == 0) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << expression << " failed with " << DescribeResult(code);
}

::testing::AssertionResult ResultIs(const char* expectedExpression, const char* actualExpression,
                                    int32_t expected, int32_t actual) {
    if (expected == actual) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << actualExpression << " gave " << DescribeResult(actual) << "\n  expected " << expectedExpression
           << ": " << DescribeResult(expected);
}

}  // namespace korva::testing
