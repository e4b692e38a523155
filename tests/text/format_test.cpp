// The printf-style formatter: Windows' wide dialect, identical on both builds.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <initializer_list>
#include <limits>
#include <memory>
#include <string>
#include <utility>

#include "platform/format.h"

namespace korva {
namespace {

TEST(Format, EveryConversionWithFlagsWidthAndPrecision) {
    const WChar* none = nullptr;
    const char* narrowNone = nullptr;
    const WChar pair[] = {0xD83D, 0xDE00, 0};
    const double inf = std::numeric_limits<double>::infinity();
    const auto ptr = [](unsigned long long value) { return reinterpret_cast<void*>(value); };
    const std::pair<WString, WString> kCases[] = {
        {KW("-7|123456789012|77|-1|5|255"),
         Format(KW("%I32d|%zu|%Iu|%hd|%hu|%hhu"), -7, size_t{123456789012}, size_t{77}, 65535, 65541, 0x1FF)},
        // A negative '*' width means left alignment, a negative '*' precision none.
        {KW("[    42]|[42    ]|[0007]|[0]"),
         Format(KW("[%*d]|[%*d]|[%.*d]|[%.*d]"), 6, 42, -6, 42, 4, 7, -1, 0)},
        // Windows' dialect: sixteen upper-case pointer digits, zero-padded strings, substituted nulls.
        {KW("0000000000000039|ABCDEF0123456789|[    0000000000000001]"),
         Format(KW("%p|%p|[%20p]"), ptr(0x39), ptr(0xABCDEF0123456789ull), ptr(1))},
        {KW("<   abc>|<abc   >|<000abc>|<ab>|<abc>|<a>|<abc  >|<    a>"),
         Format(KW("<%6s>|<%-6s>|<%06s>|<%.2s>|<%.10s>|<%.*s>|<%*s>|<%5.1s>"), KW("abc"), KW("abc"),
                KW("abc"), KW("abc"), KW("abc"), 1, KW("abc"), -5, KW("abc"), KW("abc"))},
        {KW("<(null)>|<  (null)>|<(nu>|(null)"),
         Format(KW("<%s>|<%8s>|<%.3s>|%S"), none, none, none, narrowNone)},
        {KW("narrow|narrow|wide|wide|wide|nar|caf\u00E9"),
         Format(KW("%S|%hs|%ls|%ws|%lS|%.3S|%S"), "narrow", "narrow", KW("wide"), KW("wide"), KW("wide"),
                "narrow", "caf\xE9")},
        {WString(pair) + KW("|") + pair[0] + KW("|%d%%"), Format(KW("%s|%.1s|%s"), pair, pair, KW("%d%%"))},
        {WString(KW("<  A>|<A  >|<00A>|x|\u20AC|\u00E9|\u00FC|")) + WChar{0},
         Format(KW("<%3c>|<%-3c>|<%03c>|%C|%c|%hc|%c|%c"), 'A', 'A', 'A', 'x', 0x20AC, 0x1E9, WChar{0xFC},
                0)},
        {KW("2.250000|2.250000|[    2.50]|inf|-inf|INF|nan|[   inf]|[-inf  ]"),
         Format(KW("%Lf|%lf|[%*.*f]|%f|%e|%E|%g|[%06f]|[%-6f]"), 2.25, 2.25, 8, 2, 2.5, inf, -inf, inf,
                std::numeric_limits<double>::quiet_NaN(), inf, -inf)},
        // Unknown conversions (%n, %F and %a among them) are copied as written and consume no argument.
        {KW("100%|%d|%k|[%-5.2k]|%k 7|a%nb|%F|%a"), Format(KW("100%%|%%d|%k|[%-5.2k]|%k %d|a%nb|%F|%a"), 7)},
    };
    for (const auto& [expected, actual] : kCases) {
        EXPECT_TRUE(actual == expected) << Utf16ToUtf8(actual) << " instead of " << Utf16ToUtf8(expected);
    }
}

TEST(Format, FormatEndingInsideAConversionOrMissingAndOutputWithoutLimit) {
    // Copied as written; each format in a heap block of its exact size, for the sanitizer build.
    for (const WChar* format : {KW("abc%"), KW("abc%-0"), KW("abc%12"), KW("abc%ll"), KW("abc%I6"),
                                KW("abc%I"), KW("abc%I64"), KW("abc%."), KW("abc%5.3"), KW("abc%h")}) {
        std::unique_ptr<WChar[]> exact(new WChar[WLen(format) + 1]);
        std::copy(format, format + WLen(format) + 1, exact.get());
        EXPECT_TRUE(Format(exact.get()) == WString(format)) << Utf16ToUtf8(format);
    }
    EXPECT_TRUE(Format(nullptr, 1, 2, 3).empty());
    // Past the 128- and 4096-character steps a growing buffer would take.
    EXPECT_TRUE(Format(KW("%5000d|"), 7) == WString(4999, u' ') + KW("7|"));
    const WString big = WString(99999, u'x') + KW("y");
    EXPECT_TRUE(Format(KW("<%s>"), big.c_str()) == KW("<") + big + KW(">"));
    EXPECT_TRUE(Format((big + KW("%d") + big).c_str(), 12) == big + KW("12") + big);
}

// mingw-w64's snprintf departs from C for '+'/' ' with %u, %#.0o of 0 and %.17g of 1e15/1e16: Linux only.
bool ReferenceDeparts([[maybe_unused]] const std::string& directive, [[maybe_unused]] char conversion,
                      [[maybe_unused]] double value) {
#if defined(_WIN32)
    const auto has = [&directive](const char* part) { return directive.find(part) != std::string::npos; };
    return (conversion == 'u' && (has("+") || has(" "))) ||
           (conversion == 'o' && has("#") && has(".0") && !value) ||
           ((conversion == 'g' || conversion == 'G') && has(".17") && (value == 1e15 || value == 1e16));
#else
    return false;
#endif
}

// For numbers the C library's snprintf is the reference, over every combination of flags, width, precision.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
template <typename T>
void CompareWithSnprintf(const std::string& conversions, const char* narrowLength,
                         std::initializer_list<const char*> wideLengths, std::initializer_list<T> values,
                         std::initializer_list<const char*> precisions = {"", ".0", ".1", ".5", ".22"}) {
    for (const char conversion : conversions) {
        for (int mask = 0; mask < 32; ++mask) {
            std::string flags;
            for (int bit = 0; bit < 5; ++bit)
                flags += (mask & (1 << bit)) != 0 ? std::string(1, "-+ #0"[bit]) : "";
            if ((mask & 8) != 0 && std::string("diu").find(conversion) != std::string::npos)
                continue;
            for (const char* width : {"", "1", "8", "25"}) {
                for (const char* precision : precisions) {
                    const std::string directive = "[%" + flags + width + precision;
                    for (const T value : values) {
                        if (ReferenceDeparts(directive, conversion, static_cast<double>(value)))
                            continue;
                        char expected[512];
                        std::snprintf(expected, sizeof expected,
                                      (directive + narrowLength + conversion + "]").c_str(), value);
                        for (const char* length : wideLengths) {
                            const std::string format = directive + length + conversion + "]";
                            ASSERT_EQ(Utf16ToUtf8(Format(AsciiToWide(format).c_str(), value)), expected)
                                << format << " of " << value;
                        }
                    }
                }
            }
        }
    }
}
#pragma GCC diagnostic pop

TEST(Format, NumbersAsSnprintfPrintsThem) {
    CompareWithSnprintf<int32_t>("diuxXo", "", {"", "l"},
                                 {0, 1, -1, 7, 42, 255, 4096, -65536, 123456789, INT32_MAX, INT32_MIN});
    CompareWithSnprintf<long long>("diuxXo", "ll", {"ll", "I64"},
                                   {0, -1, 1000000000000LL, INT64_MAX, INT64_MIN, LLONG_MIN + 1});
    CompareWithSnprintf<int>("diuxXo", "h", {"h"}, {0, -1, 32767, -32768, 65535, 70000});
    CompareWithSnprintf<double>("feEgG", "", {""},
                                {0.0, -0.0, 1.0, 0.5, 1.5, 2.5, 0.1, 123.456, -9.99e-5, 99999.95, 6.02e23,
                                 1e-300, 4.9e-324, 1e15, 1e16, -1e21, 1.7976931348623157e308},
                                {"", ".0", ".3", ".17"});
}

}  // namespace
}  // namespace korva
