// UTF-8 <-> UTF-16: our decoder on Linux, MultiByteToWideChar in pieces on Windows, one table.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "platform/text.h"
#if defined(_WIN32)
#include "platform/win32/utf8_win32.h"
#endif

namespace korva {
namespace {

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
        {std::string("a\0b", 3), WString{'a', 0, 'b'}},
        {"\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF", WString{0x0800, 0xD7FF, 0xE000, 0xFFFF}},
        {"\xC2\x80\xDF\xBF\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF",
         WString{0x80, 0x7FF, 0xD83D, 0xDE00, 0xDBFF, 0xDFFF}},
        {"\x80", WString{R}}, {"a\xBF\x80z", WString{'a', R, R, 'z'}}, {"\xC3", WString{R}},
        {"\xF0\x9F\x98", WString{R}}, {"\xE2\x82\x41", WString{R, 'A'}},
        {"\xE2\x41", WString{R, 'A'}, WString{R}}, {"\xF0\x9F\xF0\x9F\x98\x80", WString{R, 0xD83D, 0xDE00}},
        {std::string("\xC3\0", 2), WString{R, 0}}, {"\xC0\x80", WString{R, R}},
        {"\xE0\x9F\xBF", WString{R, R, R}, WString{R, R}}, {"\xED\xA0\x80", WString{R, R, R}, WString{R, R}},
        {"\xF0\x80\x80\x80", WString{R, R, R, R}, WString{R, R, R}},
        {"\xED\xA0\xBD\xED\xB8\x80", WString{R, R, R, R, R, R}, WString{R, R, R, R}},
        {"\xF4\x90\x80\x80", WString{R, R, R, R}, WString{R, R, R}},
        {"\xF5\x80\x80\x80", WString{R, R, R, R}}, {"\xFE\xFF", WString{R, R}},
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
    const std::pair<WString, std::string> kCases[] = {
        {WString{'a', 0, 0x07FF, 0xFFFF}, std::string("a\0\xDF\xBF\xEF\xBF\xBF", 7)},
        {WString{0xD83D, 0xDE00, 0xDBFF, 0xDFFF}, "\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF"},
        {WString{'a', 0xD83D}, "a\xEF\xBF\xBD"},
        {WString{0xDE00, 0xD83D, 'a'}, "\xEF\xBF\xBD\xEF\xBF\xBD\x61"},
        {WString{0xD83D, 0xD83D, 0xDE00}, "\xEF\xBF\xBD\xF0\x9F\x98\x80"},
    };
    for (const auto& [utf16, expected] : kCases)
        EXPECT_EQ(Utf16ToUtf8(utf16), expected);
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
