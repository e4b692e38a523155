// Command-line splitting, row by row; on Windows each row is also checked against CommandLineToArgvW.
#include <gtest/gtest.h>

#include <string>
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
    for (const WString& arg : SplitCommandLine(line)) {
        result.push_back(Utf16ToUtf8(arg));
    }
    return result;
}

TEST(SplitCommandLineTest, WindowsRules) {
    struct Row {
        const WChar* line;
        std::vector<std::string> args;
    };
    // clang-format off
    const Row rows[] = {
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
        {KW("\"C:\\W\\wizard.exe\" \"CORP\" \"jsmith\""), {"C:\\W\\wizard.exe", "CORP", "jsmith"}},
        {KW("\"C:\\W\\wizard.exe\" \"\" \"\""), {"C:\\W\\wizard.exe", "", ""}},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(Utf16ToUtf8(row.line));
        EXPECT_EQ(Split(row.line), row.args);
#if defined(_WIN32)
        int count = 0;
        LPWSTR* system = CommandLineToArgvW(row.line, &count);
        ASSERT_NE(system, nullptr);
        std::vector<std::string> expected;
        for (int i = 0; i < count; ++i) {
            expected.push_back(Utf16ToUtf8(system[i]));
        }
        LocalFree(system);
        EXPECT_EQ(Split(row.line), expected) << "differs from CommandLineToArgvW";
#endif
    }
    EXPECT_TRUE(SplitCommandLine(KW("")).empty());
}

}  // namespace
}  // namespace korva::platform
