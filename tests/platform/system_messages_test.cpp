#include "platform/system_messages.h"

#include <gtest/gtest.h>

namespace korva::platform {
namespace {

class FixedMessages final : public SystemMessages {
  public:
    WString Text(uint32_t) override { return KW("fixed"); }
};

TEST(SystemMessagesTest, CommonCodesHaveText) {
    // The wording differs between Windows, Wine and the Linux table; only its presence is portable.
    for (uint32_t code : {2u, 5u, 87u}) {
        SCOPED_TRACE(code);
        EXPECT_FALSE(Messages().Text(code).empty());
    }
}

TEST(SystemMessagesTest, OverrideReplacesAndRestores) {
    SystemMessages* const before = &Messages();
    {
        FixedMessages fixed;
        ScopedSystemMessagesOverride guard(&fixed);
        EXPECT_EQ(Messages().Text(2), KW("fixed"));
    }
    EXPECT_EQ(&Messages(), before);
}

#if !defined(_WIN32)
TEST(SystemMessagesTest, LinuxTextsAreOneLineEndingLikeWindows) {
    const uint32_t kCodes[] = {0,   1,   2,   3,    4,    5,    6,    8,    13,   14,   32,
                               38,  50,  53,  67,   80,   87,   112,  120,  122,  123,  161,
                               183, 234, 259, 1113, 1168, 1326, 1355, 1722, 1908, 2221, 8453};
    for (uint32_t code : kCodes) {
        SCOPED_TRACE(code);
        const WString text = Messages().Text(code);
        ASSERT_GE(text.size(), 3u);
        // FormatMessageW leaves CR LF at the end of a system message; callers strip it.
        EXPECT_EQ(text.substr(text.size() - 2), KW("\r\n"));
        EXPECT_EQ(text.find_first_of(KW("\r\n")), text.size() - 2);
        EXPECT_EQ(text[text.size() - 3], u'.');
    }
    EXPECT_EQ(Messages().Text(32),
              KW("The process cannot access the file because it is being used by another process.\r\n"));
}

TEST(SystemMessagesTest, LinuxHasNoTextForUnknownCodes) {
    for (uint32_t code : {7u, 999u, 0x80004005u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(code);
        EXPECT_TRUE(Messages().Text(code).empty());
    }
}
#endif

}  // namespace
}  // namespace korva::platform
