#include "platform/language.h"

#include <gtest/gtest.h>

namespace korva::platform {
namespace {

TEST(LanguageTest, LocaleNamesMapToWindowsIdentifiers) {
    // A country the table does not list (de_BE) gives the language's main identifier.
    // clang-format off
    const struct {
        const char* locale;
        uint16_t langId;
    } kCases[] = {
        {"de_DE.UTF-8", 0x0407}, {"de_AT", 0x0C07}, {"de_CH.UTF-8@euro", 0x0807}, {"de_BE", 0x0407},
        {"EN_gb", 0x0809}, {"fr-CA", 0x0C0C}, {"pt", 0x0816}, {"pt_BR.UTF-8", 0x0416}, {"zh_CN.GB18030", 0x0804},
        {"zh_TW", 0x0404}, {"es_ES", 0x0C0A}, {"fi_FI@euro", 0x040B}, {"sv_FI", 0x081D}, {"nl_BE", 0x0813},
        {"C", 0x0409}, {"POSIX", 0x0409}, {"", 0x0409}, {"xx_YY", 0x0409}, {"_DE", 0x0409}};
    // clang-format on
    for (const auto& c : kCases) {
        EXPECT_EQ(LangIdFromLocaleName(c.locale), c.langId) << c.locale;
    }
    EXPECT_EQ(LangIdFromLocaleName(nullptr), 0x0409);
}

}  // namespace
}  // namespace korva::platform
