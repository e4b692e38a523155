// The printf-style formatter: Windows' wide dialect, identical on both builds.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <memory>
#include <algorithm>
#include <string>
#include <vector>

#include "platform/format.h"

namespace korva {
namespace {

struct FormatCase {
    const char* name;
    WString actual;
    WString expected;
};

void ExpectAll(const std::vector<FormatCase>& cases) {
    for (const FormatCase& c : cases) {
        EXPECT_TRUE(c.actual == c.expected) << c.name << ": got \"" << Utf16ToUtf8(c.actual)
                                            << "\", expected \"" << Utf16ToUtf8(c.expected) << "\"";
    }
}

WString Wide(const std::string& ascii) {
    return AsciiToWide(ascii);
}

template <typename T>
WString FormatOne(const WString& format, T value) {
    return Format(format.c_str(), value);
}

TEST(Format, Integers) {
    const int32_t minus100 = -100;
    ExpectAll({
        {"plain", Format(KW("%d|%i"), 42, -42), KW("42|-42")},
        // %ld is Windows' 32-bit long on both builds; callers pass int32_t.
        {"%ld minimum", Format(KW("%ld"), int32_t{INT32_MIN}), KW("-2147483648")},
        {"%lu maximum", Format(KW("%lu"), uint32_t{UINT32_MAX}), KW("4294967295")},
        {"%lx", Format(KW("%lx"), uint32_t{0xDEADBEEF}), KW("deadbeef")},
        {"%X of an HRESULT", Format(KW("0x%X"), int32_t{static_cast<int32_t>(0x80004005u)}),
         KW("0x80004005")},
        {"%08X", Format(KW("%08X"), uint32_t{0xBEEF}), KW("0000BEEF")},
        {"%o", Format(KW("%o"), 8), KW("10")},
        {"%u of a negative int", Format(KW("%u"), -1), KW("4294967295")},
        {"%lld minimum", Format(KW("%lld"), static_cast<long long>(INT64_MIN)), KW("-9223372036854775808")},
        {"%I64d", Format(KW("%I64d"), static_cast<long long>(1) << 40), KW("1099511627776")},
        {"%I64u maximum", Format(KW("%I64u"), static_cast<unsigned long long>(UINT64_MAX)),
         KW("18446744073709551615")},
        {"%llx", Format(KW("%llx"), 0x123456789ABCDEFull), KW("123456789abcdef")},
        {"%I64X", Format(KW("%I64X"), 0xFEDCBA9876543210ull), KW("FEDCBA9876543210")},
        {"%I32d", Format(KW("%I32d"), -7), KW("-7")},
        {"%zu", Format(KW("%zu"), size_t{123456789012}), KW("123456789012")},
        {"%Iu", Format(KW("%Iu"), size_t{77}), KW("77")},
        {"%hd truncates to short", Format(KW("%hd"), 65535), KW("-1")},
        {"%hu truncates to unsigned short", Format(KW("%hu"), 65541), KW("5")},
        {"%hhu truncates to a byte", Format(KW("%hhu"), 0x1FF), KW("255")},
        {"width", Format(KW("[%5d]"), 42), KW("[   42]")},
        {"width smaller than the digits", Format(KW("[%3d]"), 1234), KW("[1234]")},
        {"left", Format(KW("[%-5d]"), 42), KW("[42   ]")},
        {"zero padding after the sign", Format(KW("[%05d]"), -42), KW("[-0042]")},
        {"precision", Format(KW("[%.5d]"), -42), KW("[-00042]")},
        {"precision ignores the 0 flag", Format(KW("[%08.5d]"), 42), KW("[   00042]")},
        {"precision 0 of zero prints no digit", Format(KW("[%.0d]"), 0), KW("[]")},
        {"plus", Format(KW("%+d %+d"), 5, -5), KW("+5 -5")},
        {"space", Format(KW("% d % d"), 5, -5), KW(" 5 -5")},
        {"plus wins over space", Format(KW("%+ d"), 1), KW("+1")},
        {"alternate hex", Format(KW("%#x %#X %#x"), 255, 255, 0), KW("0xff 0XFF 0")},
        {"alternate octal", Format(KW("%#o %#o"), 8, 0), KW("010 0")},
        {"star width", Format(KW("[%*d]"), 6, 42), KW("[    42]")},
        {"negative star width means left", Format(KW("[%*d]"), -6, 42), KW("[42    ]")},
        {"star precision", Format(KW("[%.*d]"), 4, 7), KW("[0007]")},
        {"negative star precision is none", Format(KW("[%.*d]"), -1, 0), KW("[0]")},
        // Windows' own results for these, as its C runtime prints them.
        {"alternate hex, sign and precision", Format(KW("%#+21.18I64x"), static_cast<long long>(minus100)),
         KW(" 0x00ffffffffffffff9c")},
        {"octal with a long precision", Format(KW("%#.25I64o"), static_cast<long long>(minus100)),
         KW("0001777777777777777777634")},
        {"every flag", Format(KW("%#-+ 08.5I64d"), 100ll), KW("+00100  ")},
        {"zero with precision 0", Format(KW("[%.0I64d]"), 0ll), KW("[]")},
    });
}

TEST(Format, Pointers) {
    // Windows prints all sixteen digits of a 64-bit pointer in upper case.
    ExpectAll({
        {"pointer", Format(KW("%p"), reinterpret_cast<void*>(0x39)), KW("0000000000000039")},
        {"null pointer", Format(KW("%p"), static_cast<void*>(nullptr)), KW("0000000000000000")},
        {"large pointer", Format(KW("%p"), reinterpret_cast<void*>(0xABCDEF0123456789ull)),
         KW("ABCDEF0123456789")},
        {"width", Format(KW("[%20p]"), reinterpret_cast<void*>(0x1)), KW("[    0000000000000001]")},
    });
}

TEST(Format, Strings) {
    const WChar* none = nullptr;
    const char* narrowNone = nullptr;
    const WChar pair[] = {0xD83D, 0xDE00, 0};
    ExpectAll({
        {"wide", Format(KW("<%s>"), KW("abc")), KW("<abc>")},
        {"width", Format(KW("<%6s>"), KW("abc")), KW("<   abc>")},
        {"left", Format(KW("<%-6s>"), KW("abc")), KW("<abc   >")},
        {"Windows pads strings with zeros", Format(KW("<%06s>"), KW("abc")), KW("<000abc>")},
        {"precision cuts", Format(KW("<%.2s>"), KW("abc")), KW("<ab>")},
        {"precision longer than the text", Format(KW("<%.10s>"), KW("abc")), KW("<abc>")},
        {"star precision", Format(KW("<%.*s>"), 1, KW("abc")), KW("<a>")},
        {"negative star width", Format(KW("<%*s>"), -5, KW("abc")), KW("<abc  >")},
        {"width and precision", Format(KW("<%5.1s>"), KW("abc")), KW("<    a>")},
        {"null", Format(KW("<%s>"), none), KW("<(null)>")},
        {"null with width", Format(KW("<%8s>"), none), KW("<  (null)>")},
        // Windows substitutes the text first and then applies the precision (glibc would print nothing).
        {"null with precision", Format(KW("<%.3s>"), none), KW("<(nu>")},
        {"narrow %S", Format(KW("<%S>"), "narrow"), KW("<narrow>")},
        {"narrow %hs", Format(KW("<%hs>"), "narrow"), KW("<narrow>")},
        {"wide %ls", Format(KW("<%ls>"), KW("wide")), KW("<wide>")},
        {"wide %ws", Format(KW("<%ws>"), KW("wide")), KW("<wide>")},
        {"wide %lS", Format(KW("<%lS>"), KW("wide")), KW("<wide>")},
        {"narrow null", Format(KW("<%S>"), narrowNone), KW("<(null)>")},
        {"narrow precision", Format(KW("<%.3S>"), "narrow"), KW("<nar>")},
        {"narrow bytes keep their value", Format(KW("%S"), "caf\xE9"), WString(KW("caf")) + WChar(0x00E9)},
        {"code units pass unchanged", Format(KW("%s"), pair), WString(pair)},
        {"precision counts code units", Format(KW("%.1s"), pair), WString(1, pair[0])},
        {"percent signs in an argument", Format(KW("%s"), KW("%d%%")), KW("%d%%")},
    });
}

TEST(Format, Characters) {
    ExpectAll({
        {"character", Format(KW("<%c>"), 'A'), KW("<A>")},
        {"width", Format(KW("<%3c>"), 'A'), KW("<  A>")},
        {"left", Format(KW("<%-3c>"), 'A'), KW("<A  >")},
        {"Windows pads characters with zeros", Format(KW("<%03c>"), 'A'), KW("<00A>")},
        {"wide character", Format(KW("%c"), 0x20AC), WString(1, static_cast<WChar>(0x20AC))},
        {"a WChar argument", Format(KW("%c"), static_cast<WChar>(0x00FC)),
         WString(1, static_cast<WChar>(0x00FC))},
        {"narrow %hc", Format(KW("%hc"), 0x1E9), WString(1, static_cast<WChar>(0x00E9))},
        {"narrow %C", Format(KW("%C"), 'x'), KW("x")},
        {"NUL is written", Format(KW("a%cb"), 0), WString(KW("a\0b"), 3)},
    });
}

TEST(Format, FloatingPoint) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    ExpectAll({
        {"%f", Format(KW("%f"), 1.5), KW("1.500000")},
        {"%.0f rounds", Format(KW("%.0f"), 0.6), KW("1")},
        {"%.2f", Format(KW("%.2f"), 3.14159), KW("3.14")},
        {"width", Format(KW("[%10.3f]"), 3.14159), KW("[     3.142]")},
        {"left", Format(KW("[%-10.3f]"), 3.14159), KW("[3.142     ]")},
        {"zero padding after the sign", Format(KW("[%010.3f]"), -3.14159), KW("[-00003.142]")},
        {"plus", Format(KW("%+f"), 1.0), KW("+1.000000")},
        {"space", Format(KW("% .1f"), 1.0), KW(" 1.0")},
        {"alternate keeps the point", Format(KW("%#.0f"), 1.0), KW("1.")},
        {"negative zero", Format(KW("%.1f"), -0.0), KW("-0.0")},
        // Exponents have at least two digits on both builds (Windows' older runtime printed three).
        {"%e", Format(KW("%e"), 123456.0), KW("1.234560e+05")},
        {"%E", Format(KW("%E"), 0.000123), KW("1.230000E-04")},
        {"three-digit exponent", Format(KW("%e"), 1e100), KW("1.000000e+100")},
        {"%g", Format(KW("%g"), 0.00001), KW("1e-05")},
        {"%g plain", Format(KW("%g"), 8.6), KW("8.6")},
        {"%G", Format(KW("%G"), 1e-20), KW("1E-20")},
        {"%#g keeps zeros", Format(KW("%#g"), 1.0), KW("1.00000")},
        {"%Lf reads a double, as Windows does", Format(KW("%Lf"), 2.25), KW("2.250000")},
        {"%lf", Format(KW("%lf"), 2.25), KW("2.250000")},
        {"star width and precision", Format(KW("[%*.*f]"), 8, 2, 2.5), KW("[    2.50]")},
        {"infinity", Format(KW("%f"), inf), KW("inf")},
        {"negative infinity", Format(KW("%e"), -inf), KW("-inf")},
        {"infinity in capitals", Format(KW("%E"), inf), KW("INF")},
        {"not a number", Format(KW("%g"), nan), KW("nan")},
        {"infinity is padded with spaces", Format(KW("[%06f]"), inf), KW("[   inf]")},
        {"left infinity", Format(KW("[%-6f]"), -inf), KW("[-inf  ]")},
        {"largest double", Format(KW("%.0f"), 1e308).substr(0, 5), KW("10000")},
    });
    EXPECT_EQ(Format(KW("%.0f"), 1e308).size(), 309u);
}

TEST(Format, PercentAndUnknownConversions) {
    ExpectAll({
        {"percent", Format(KW("100%%")), KW("100%")},
        {"percent then letter", Format(KW("%%d")), KW("%d")},
        {"unknown conversion", Format(KW("%k")), KW("%k")},
        {"unknown with flags", Format(KW("[%-5.2k]")), KW("[%-5.2k]")},
        {"unknown consumes no argument", Format(KW("%k %d"), 7), KW("%k 7")},
        {"%n writes nothing", Format(KW("a%nb")), KW("a%nb")},
        {"%F is not a conversion here", Format(KW("%F")), KW("%F")},
        {"%a is not a conversion here", Format(KW("%a")), KW("%a")},
    });
}

// A format that ends inside a conversion is copied as written. The formats sit in heap blocks of exactly
// their size, so that the sanitizer build catches any read past the terminator.
TEST(Format, FormatEndingInsideAConversion) {
    const WChar* const formats[] = {KW("abc%"),  KW("abc%-0"),  KW("abc%12"), KW("abc%ll"),  KW("abc%I6"),
                                    KW("abc%I"), KW("abc%I64"), KW("abc%."),  KW("abc%5.3"), KW("abc%h")};
    for (const WChar* format : formats) {
        const size_t length = WLen(format);
        std::unique_ptr<WChar[]> exact(new WChar[length + 1]);
        std::copy(format, format + length + 1, exact.get());
        EXPECT_TRUE(Format(exact.get()) == WString(format)) << Utf16ToUtf8(format);
    }
}

TEST(Format, NullFormatGivesEmptyText) {
    EXPECT_TRUE(Format(nullptr).empty());
    EXPECT_TRUE(Format(nullptr, 1, 2, 3).empty());
}

TEST(Format, MixedArgumentsAreTakenInOrder) {
    ExpectAll({
        {"log line", Format(KW("cGbCredentialProvider::GetCredentialAt - Index: %ld"), int32_t{3}),
         KW("cGbCredentialProvider::GetCredentialAt - Index: 3")},
        {"every kind",
         Format(KW("%s: %d, %lld, 0x%08X, %c, %.2f, %S, %u, %p, %%, %ls"), KW("name"), int32_t{-5},
                static_cast<long long>(1) << 40, uint32_t{0xBEEF}, static_cast<int>(u'Z'), 3.14159, "narrow",
                4000000000u, reinterpret_cast<void*>(0x10), KW("end")),
         KW("name: -5, 1099511627776, 0x0000BEEF, Z, 3.14, narrow, 4000000000, 0000000000000010, %, end")},
        {"64-bit then 32-bit", Format(KW("%I64x %d"), 0x100000000ull, 9), KW("100000000 9")},
        {"double between ints", Format(KW("%d %g %d"), 1, 0.5, 2), KW("1 0.5 2")},
    });
}

TEST(Format, HasNoLengthLimit) {
    // Past the 128- and 4096-character steps a growing buffer would take.
    const WString longWidth = Format(KW("%5000d|"), 7);
    ASSERT_EQ(longWidth.size(), 5001u);
    EXPECT_TRUE(longWidth.substr(4999) == WString(KW("7|")));
    EXPECT_TRUE(longWidth.substr(0, 4999) == WString(4999, u' '));

    const WString piece(200, u'x');
    const WString joined = Format(KW("%s-%s-%s"), piece.c_str(), piece.c_str(), piece.c_str());
    EXPECT_EQ(joined.size(), 602u);

    WString big;
    for (int i = 0; i < 100000; ++i) {
        big.push_back(static_cast<WChar>(u'a' + i % 26));
    }
    const WString wrapped = Format(KW("<%s>"), big.c_str());
    ASSERT_EQ(wrapped.size(), big.size() + 2);
    EXPECT_TRUE(wrapped == WString(KW("<")) + big + WString(KW(">")));

    // Long literal text around a conversion.
    const WString text(10000, u'.');
    const WString around = Format((text + KW("%d") + text).c_str(), 12);
    EXPECT_EQ(around.size(), 20002u);
    EXPECT_TRUE(around.substr(10000, 2) == WString(KW("12")));
}

// The narrow C library's snprintf is the reference for numbers: for a generated set of values and every
// combination of flags, widths and precisions, the wide formatter must print the same characters.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
template <typename... Args>
std::string Narrow(const std::string& format, Args... args) {
    const int length = std::snprintf(nullptr, 0, format.c_str(), args...);
    std::string out(static_cast<size_t>(length) + 1, '\0');
    std::snprintf(out.data(), out.size(), format.c_str(), args...);
    out.resize(static_cast<size_t>(length));
    return out;
}
#pragma GCC diagnostic pop

std::vector<std::string> FlagSets(bool alternate) {
    std::vector<std::string> sets;
    const char flags[] = "-+ #0";
    for (int mask = 0; mask < 32; ++mask) {
        std::string set;
        for (int bit = 0; bit < 5; ++bit) {
            if ((mask & (1 << bit)) != 0) {
                set += flags[bit];
            }
        }
        if (!alternate && set.find('#') != std::string::npos) {
            continue;
        }
        sets.push_back(set);
    }
    return sets;
}

// The Windows build's reference is mingw-w64's snprintf, which departs from C (and from glibc, the Linux
// build's reference) in three places: it prints '+' and ' ' for %u, nothing for %#.0o of zero, and no
// padding for %<width>.17g of 1e15 and 1e16. Those comparisons are made on Linux only.
bool ReferenceDeparts(const std::string& flags, const std::string& precision, char conversion, double value) {
#if defined(_WIN32)
    const bool sign = flags.find_first_of("+ ") != std::string::npos;
    const bool alternate = flags.find('#') != std::string::npos;
    return (conversion == 'u' && sign) ||
           (conversion == 'o' && alternate && precision == ".0" && value == 0) ||
           ((conversion == 'g' || conversion == 'G') && precision == ".17" &&
            (value == 1e15 || value == 1e16));
#else
    (void)flags;
    (void)precision;
    (void)conversion;
    (void)value;
    return false;
#endif
}

const char* const kWidths[] = {"", "1", "8", "25"};
const char* const kIntegerPrecisions[] = {"", ".0", ".1", ".5", ".22"};

TEST(FormatAgainstSnprintf, Int32) {
    const int32_t values[] = {0, 1, -1, 7, -7, 42, 255, 4096, -65536, 123456789, INT32_MAX, INT32_MIN};
    int compared = 0;
    for (const char conversion : std::string("diuxXo")) {
        // '#' means nothing for decimal conversions.
        const bool alternate = conversion == 'x' || conversion == 'X' || conversion == 'o';
        for (const std::string& flags : FlagSets(alternate)) {
            for (const char* width : kWidths) {
                for (const char* precision : kIntegerPrecisions) {
                    const std::string directive = "%" + flags + width + precision;
                    for (const int32_t value : values) {
                        if (ReferenceDeparts(flags, precision, conversion, value)) {
                            continue;
                        }
                        const std::string expected = Narrow("[" + directive + conversion + "]", value);
                        const WString plain = FormatOne(Wide("[" + directive + conversion + "]"), value);
                        const WString withL =
                            FormatOne(Wide("[" + directive + "l" + conversion + "]"), value);
                        ASSERT_TRUE(plain == Wide(expected))
                            << directive << conversion << " of " << value << ": " << Utf16ToUtf8(plain)
                            << " vs " << expected;
                        ASSERT_TRUE(withL == Wide(expected))
                            << directive << "l" << conversion << " of " << value;
                        compared += 2;
                    }
                }
            }
        }
    }
    EXPECT_GT(compared, 10000);
}

TEST(FormatAgainstSnprintf, Int64AndShort) {
    const long long values[] = {0,
                                1,
                                -1,
                                1000000000000LL,
                                -1000000000000LL,
                                INT64_MAX,
                                INT64_MIN,
                                static_cast<long long>(0x8000000000000001ull)};
    const int shorts[] = {0, 1, -1, 32767, -32768, 65535, 70000};
    for (const char conversion : std::string("diuxXo")) {
        const bool alternate = conversion == 'x' || conversion == 'X' || conversion == 'o';
        for (const std::string& flags : FlagSets(alternate)) {
            for (const char* width : kWidths) {
                for (const char* precision : kIntegerPrecisions) {
                    const std::string directive = "%" + flags + width + precision;
                    for (const long long value : values) {
                        if (ReferenceDeparts(flags, precision, conversion, static_cast<double>(value))) {
                            continue;
                        }
                        const std::string expected = Narrow("[" + directive + "ll" + conversion + "]", value);
                        const WString ll = FormatOne(Wide("[" + directive + "ll" + conversion + "]"), value);
                        const WString i64 =
                            FormatOne(Wide("[" + directive + "I64" + conversion + "]"), value);
                        ASSERT_TRUE(ll == Wide(expected))
                            << directive << "ll" << conversion << " of " << value;
                        ASSERT_TRUE(i64 == Wide(expected))
                            << directive << "I64" << conversion << " of " << value;
                    }
                    for (const int value : shorts) {
                        if (ReferenceDeparts(flags, precision, conversion, value)) {
                            continue;
                        }
                        const std::string expected = Narrow("[" + directive + "h" + conversion + "]", value);
                        const WString h = FormatOne(Wide("[" + directive + "h" + conversion + "]"), value);
                        ASSERT_TRUE(h == Wide(expected)) << directive << "h" << conversion << " of " << value;
                    }
                }
            }
        }
    }
}

TEST(FormatAgainstSnprintf, Double) {
    const double values[] = {0.0,    -0.0,     1.0,     -1.0,     0.5,      1.5,
                             2.5,    0.1,      123.456, -9.99e-5, 99999.95, 6.02e23,
                             1e-300, 4.9e-324, 1e15,    1e16,     -1e21,    1.7976931348623157e308};
    const char* const widths[] = {"", "1", "12", "30"};
    const char* const precisions[] = {"", ".0", ".3", ".17"};
    for (const char conversion : std::string("feEgG")) {
        for (const std::string& flags : FlagSets(true)) {
            for (const char* width : widths) {
                for (const char* precision : precisions) {
                    const std::string format = "[%" + flags + width + precision + conversion + "]";
                    for (const double value : values) {
                        if (ReferenceDeparts(flags, precision, conversion, value)) {
                            continue;
                        }
                        const std::string expected = Narrow(format, value);
                        const WString actual = FormatOne(Wide(format), value);
                        ASSERT_TRUE(actual == Wide(expected))
                            << format << " of " << value << ": " << Utf16ToUtf8(actual) << " vs " << expected;
                    }
                }
            }
        }
    }
}

}  // namespace
}  // namespace korva
