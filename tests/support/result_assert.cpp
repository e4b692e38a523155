#include "tests/support/result_assert.h"

#include <cstdio>
#include <string>

#include "infra/error_texts.h"
#include "platform/text.h"

namespace korva::testing {
namespace {

std::string DescribeResult(int32_t code) {
    char number[40];
    std::snprintf(number, sizeof(number), "0x%08X (%d): ", static_cast<unsigned>(code),
                  static_cast<int>(code));
    std::string text(number);
    if (code >= 0) {
        const WString message = SystemErrorText(static_cast<uint32_t>(code));
        return text + (code == 0 ? "success" : message.empty() ? "no system text" : Utf16ToUtf8(message));
    }
    // HRESULT failures have the severity bit and a facility; the system's own codes are small negatives.
    return text + (code < -0xFFFF ? Utf16ToUtf8(HResultText(code)) : std::string("the system's own code"));
}

}  // namespace

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
