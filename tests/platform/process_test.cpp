// Command-line splitting, row by row; on Windows each row is also checked against CommandLineToArgvW.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/process.h"

#if defined(_WIN32)
#include <windows.h>
#include <shellapi.h>
#endif

namespace korva::platform {
namespace {

std::vector<std::string> Split(const WChar* line) {
    std::vector<std::string> result;
    for (const WString& arg : SplitCommandLine(line))
        result.push_back(Utf16ToUtf8(arg));
    return result;
}

TEST(SplitCommandLineTest, WindowsRules) {
    // clang-format off
    const std::pair<const WChar*, std::vector<std::string>> rows[] = {
        {KW("prog a b"), {"prog", "a", "b"}},
        {KW("\"C:\\Program Files\\w.exe\" a"), {"C:\\Program Files\\w.exe", "a"}},
        {KW("C:\\dir\\\"x a"), {"C:\\dir\\\"x", "a"}},
        {KW("\"unterminated program"), {"unterminated program"}}, {KW("p  a\t\tb   "), {"p", "a", "b"}},
        {KW("p \"a b\" \"\" \"\""), {"p", "a b", "", ""}}, {KW("p a\"b c\"d"), {"p", "ab cd"}},
        {KW("p a\\b c\\\\d"), {"p", "a\\b", "c\\\\d"}}, {KW("p a\\\\\"b c\""), {"p", "a\\b c"}},
        {KW("p a\\\"b"), {"p", "a\"b"}}, {KW("p a\\\\\\\"b"), {"p", "a\\\"b"}},
        {KW("p \"CORP\" \"jsmith\\\""), {"p", "CORP", "jsmith\""}}, {KW("p \"a\"\"b\""), {"p", "a\"b"}},
        {KW("p \"\"\"a\"\"\""), {"p", "\"a\""}}, {KW("p a\"\"\"\"b"), {"p", "a\"b"}},
        {KW("p \"\"\"\" x"), {"p", "\" x"}},
    };
    // clang-format on
    for (const auto& [line, args] : rows) {
        SCOPED_TRACE(Utf16ToUtf8(line));
        EXPECT_EQ(Split(line), args);
#if defined(_WIN32)
        int count = 0;
        LPWSTR* system = CommandLineToArgvW(line, &count);
        ASSERT_NE(system, nullptr);
        std::vector<std::string> expected;
        for (int i = 0; i < count; ++i)
            expected.push_back(Utf16ToUtf8(system[i]));
        LocalFree(system);
        EXPECT_EQ(Split(line), expected) << "differs from CommandLineToArgvW";
#endif
    }
    EXPECT_TRUE(SplitCommandLine(KW("")).empty());
}

}  // namespace
}  // namespace korva::platform
