#include "platform/language.h"

#include <gtest/gtest.h>

#include <utility>

namespace korva::platform {
namespace {

TEST(LanguageTest, LocaleNamesMapToWindowsIdentifiers) {
    // The parsing, not the table: case, separators, code sets and modifiers, countries the table lacks.
    // clang-format off
    const std::pair<const char*, uint16_t> kCases[] = {
        {"de_DE.UTF-8", 0x0407}, {"de_CH.UTF-8@euro", 0x0807}, {"de_BE", 0x0407}, {"EN_gb", 0x0809},
        {"fr-CA", 0x0C0C}, {"pt", 0x0816}, {"fi_FI@euro", 0x040B}, {"C", 0x0409}, {"POSIX", 0x0409},
        {"", 0x0409}, {"xx_YY", 0x0409}, {"_DE", 0x0409}, {nullptr, 0x0409}};
    // clang-format on
    for (const auto& [locale, langId] : kCases)
        EXPECT_EQ(LangIdFromLocaleName(locale), langId) << (locale ? locale : "null");
}

}  // namespace
}  // namespace korva::platform
