// Small text helpers: lengths, ASCII case folding, ASCII widening and wiping.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/text.h"

namespace korva {
namespace {

TEST(WLen, CountsUpToTheTerminator) {
    const WChar embedded[] = {u'a', u'b', 0, u'c', 0};
    EXPECT_EQ(WLen(nullptr), 0u);
    EXPECT_EQ(WLen(KW("")), 0u);
    EXPECT_EQ(WLen(KW("abc")), 3u);
    EXPECT_EQ(WLen(embedded), 2u);
}

struct CaseFoldCase {
    WString a;
    WString b;
    bool equal;
};

// Only A-Z fold; the characters next to them in ASCII and every non-ASCII letter stay as they are.
TEST(EqualsNoCaseAscii, FoldsOnlyAsciiLetters) {
    const CaseFoldCase cases[] = {
        {KW(""), KW(""), true},
        {KW("Administrator"), KW("aDMINISTRATOR"), true},
        {KW("AZaz"), KW("azAZ"), true},
        {KW("@"), KW("`"), false},  // 0x40 and 0x60 lie just outside A-Z and a-z
        {KW("["), KW("{"), false},  // 0x5B and 0x7B likewise
        {WString(1, static_cast<WChar>(0x00C4)), WString(1, static_cast<WChar>(0x00E4)), false},  // Ä, ä
        {KW("abc"), KW("abcd"), false},
        {KW("abc"), KW("abd"), false},
    };
    for (const CaseFoldCase& c : cases) {
        EXPECT_EQ(EqualsNoCaseAscii(c.a, c.b), c.equal) << Utf16ToUtf8(c.a) << " vs " << Utf16ToUtf8(c.b);
    }
}

TEST(AsciiLower, LowersOnlyAsciiCapitals) {
    WString text = KW("ABC-xyz@[Z");
    text.push_back(static_cast<WChar>(0x00C4));
    WString expected = KW("abc-xyz@[z");
    expected.push_back(static_cast<WChar>(0x00C4));
    EXPECT_TRUE(AsciiLower(text) == expected);
    EXPECT_EQ(AsciiLower(static_cast<WChar>(u'Q')), static_cast<WChar>(u'q'));
}

TEST(AsciiToWide, ReplacesBytesAboveAscii) {
    EXPECT_TRUE(AsciiToWide("0x1F, ok") == WString(KW("0x1F, ok")));
    EXPECT_TRUE(AsciiToWide(std::string("a\0b", 3)) == WString(KW("a\0b"), 3));
    EXPECT_TRUE(AsciiToWide("caf\xC3\xA9\x7F") == WString(KW("caf??\x7F")));
}

TEST(SecureZero, ClearsEveryByteAndAcceptsNothing) {
    std::vector<unsigned char> secret(37, 0xA5);
    SecureZero(secret.data() + 1, 35);
    EXPECT_EQ(secret.front(), 0xA5);  // only the given range is touched
    EXPECT_EQ(secret.back(), 0xA5);
    for (size_t i = 1; i < 36; ++i) {
        EXPECT_EQ(secret[i], 0) << i;
    }
    SecureZero(nullptr, 10);
    SecureZero(secret.data(), 0);
    EXPECT_EQ(secret.front(), 0xA5);
}

}  // namespace
}  // namespace korva
