// Command-line splitting by the Windows rules, row by row.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/process.h"

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
    for (const auto& [line, args] : rows)
        EXPECT_EQ(Split(line), args) << Utf16ToUtf8(line);
    EXPECT_TRUE(SplitCommandLine(KW("")).empty());
}

}  // namespace
}  // namespace korva::platform
