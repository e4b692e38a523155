// UTF-8 <-> UTF-16: our decoder on Linux, MultiByteToWideChar in pieces on Windows, one table.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "platform/text.h"
#if defined(_WIN32)
#include "platform/win32/utf8_win32.h"
#endif

namespace korva {
namespace {

WString Units(std::initializer_list<uint16_t> units) {
    return WString(units.begin(), units.end());
}

constexpr uint16_t R = 0xFFFD;

TEST(Utf8ToUtf16, ConvertsValidAndReplacesInvalidInput) {
    // `wine`: Wine folds some ill-formed sequences into fewer U+FFFD than Unicode recommends; Windows' own
    // count is not documented, so the Windows build accepts either.
    const struct {
        std::string utf8;
        WString expected;
        WString wine = {};
    } kCases[] = {
        // clang-format off
        {std::string("a\0b", 3), Units({'a', 0, 'b'})},
        {"\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF", Units({0x0800, 0xD7FF, 0xE000, 0xFFFF})},
        {"\xC2\x80\xDF\xBF\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF",
         Units({0x80, 0x7FF, 0xD83D, 0xDE00, 0xDBFF, 0xDFFF})},
        {"\x80", Units({R})}, {"a\xBF\x80z", Units({'a', R, R, 'z'})}, {"\xC3", Units({R})},
        {"\xF0\x9F\x98", Units({R})}, {"\xE2\x82\x41", Units({R, 'A'})},
        {"\xE2\x41", Units({R, 'A'}), Units({R})}, {"\xF0\x9F\xF0\x9F\x98\x80", Units({R, 0xD83D, 0xDE00})},
        {std::string("\xC3\0", 2), Units({R, 0})}, {"\xC0\x80", Units({R, R})},
        {"\xE0\x9F\xBF", Units({R, R, R}), Units({R, R})}, {"\xED\xA0\x80", Units({R, R, R}), Units({R, R})},
        {"\xF0\x80\x80\x80", Units({R, R, R, R}), Units({R, R, R})},
        {"\xED\xA0\xBD\xED\xB8\x80", Units({R, R, R, R, R, R}), Units({R, R, R, R})},
        {"\xF4\x90\x80\x80", Units({R, R, R, R}), Units({R, R, R})},
        {"\xF5\x80\x80\x80", Units({R, R, R, R})}, {"\xFE\xFF", Units({R, R})},
        // clang-format on
    };
    std::string all;
    for (const auto& c : kCases) {
        const WString actual = Utf8ToUtf16(c.utf8);
        all += c.utf8 + "xy";
#if defined(_WIN32)
        for (size_t piece = 4; piece <= 9; ++piece) {
            EXPECT_EQ(platform::Utf8ToUtf16Chunked(c.utf8, piece), actual) << "pieces of " << piece;
            EXPECT_EQ(platform::Utf8ToUtf16Chunked(all, piece), Utf8ToUtf16(all)) << "pieces of " << piece;
        }
        if (!c.wine.empty() && actual == c.wine)
            continue;
#endif
        EXPECT_EQ(actual, c.expected) << "row " << (&c - kCases);
    }
}

TEST(Utf16ToUtf8, EncodesAndReplacesUnpairedSurrogates) {
    const struct {
        WString utf16;
        std::string expected;
    } kCases[] = {
        {Units({'a', 0, 0x07FF, 0xFFFF}), std::string("a\0\xDF\xBF\xEF\xBF\xBF", 7)},
        {Units({0xD83D, 0xDE00, 0xDBFF, 0xDFFF}), "\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF"},
        {Units({'a', 0xD83D}), "a\xEF\xBF\xBD"},
        {Units({0xDE00, 0xD83D, 'a'}), "\xEF\xBF\xBD\xEF\xBF\xBD\x61"},
        {Units({0xD83D, 0xD83D, 0xDE00}), "\xEF\xBF\xBD\xF0\x9F\x98\x80"},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(Utf16ToUtf8(c.utf16), c.expected) << "row " << (&c - kCases);
}

TEST(Utf8RoundTrip, EveryScalarValue) {
    WString all;
    for (char32_t cp = 0; cp <= 0x10FFFF; cp = cp == 0xD7FF ? 0xE000 : cp + 1) {
        if (cp >= 0x10000)
            all.push_back(static_cast<WChar>(0xD800 + ((cp - 0x10000) >> 10)));
        all.push_back(static_cast<WChar>(cp < 0x10000 ? cp : 0xDC00 + ((cp - 0x10000) & 0x3FF)));
    }
    EXPECT_TRUE(Utf8ToUtf16(Utf16ToUtf8(all)) == all);
}

}  // namespace
}  // namespace korva
