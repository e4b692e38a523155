// The system's one printf-style formatter. It follows the Windows wide printf dialect (%s is a wide string,
// %S a narrow one, %ld is 32 bits) and is implemented here rather than on top of the C library's vswprintf so
// that both builds produce the same text: glibc's wide printf reads %s as a narrow string, wchar_t is 32 bits
// on Linux, and null strings, zero padding of strings and exponent digits differ between C libraries. Only
// the digits of floating-point numbers come from the narrow snprintf.
#include "platform/format.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

namespace korva {

namespace {

constexpr WChar kNullText[] = {u'(', u'n', u'u', u'l', u'l', u')', 0};

enum class Size { kDefault, kChar, kShort, kLong, kLongLong, kPointerSized, kWide };

struct Directive {
    bool left = false;       // '-'
    bool plus = false;       // '+'
    bool space = false;      // ' '
    bool alternate = false;  // '#'
    bool zero = false;       // '0'
    int width = 0;
    int precision = -1;  // -1: none given
    Size size = Size::kDefault;
};

bool IsDigit(WChar c) {
    return c >= u'0' && c <= u'9';
}

// Reads a decimal number, saturating instead of overflowing.
int ReadNumber(const WChar*& p) {
    int value = 0;
    while (IsDigit(*p)) {
        const int digit = *p - u'0';
        value = value > (INT32_MAX - digit) / 10 ? INT32_MAX : value * 10 + digit;
        ++p;
    }
    return value;
}

class Formatter {
  public:
    Formatter(WString& out, va_list args) : out_(out) { va_copy(args_, args); }
    ~Formatter() { va_end(args_); }
    Formatter(const Formatter&) = delete;
    Formatter& operator=(const Formatter&) = delete;

    void Run(const WChar* format) {
        const WChar* p = format;
        while (*p != 0) {
            if (*p != u'%') {
                const WChar* run = p;
                while (*p != 0 && *p != u'%') {
                    ++p;
                }
                out_.append(run, static_cast<size_t>(p - run));
                continue;
            }
            p = Conversion(p);
        }
    }

  private:
    // Handles the conversion that starts at the '%' in `start`; returns where the text after it begins.
    const WChar* Conversion(const WChar* start) {
        const WChar* p = start + 1;
        Directive directive;
        for (;; ++p) {
            if (*p == u'-') {
                directive.left = true;
            } else if (*p == u'+') {
                directive.plus = true;
            } else if (*p == u' ') {
                directive.space = true;
            } else if (*p == u'#') {
                directive.alternate = true;
            } else if (*p == u'0') {
                directive.zero = true;
            } else {
                break;
            }
        }
        if (*p == u'*') {
            const int width = va_arg(args_, int);
            if (width < 0) {
                directive.left = true;
                directive.width = width == INT32_MIN ? INT32_MAX : -width;
            } else {
                directive.width = width;
            }
            ++p;
        } else {
            directive.width = ReadNumber(p);
        }
        if (*p == u'.') {
            ++p;
            if (*p == u'*') {
                const int precision = va_arg(args_, int);
                directive.precision = precision < 0 ? -1 : precision;
                ++p;
            } else {
                directive.precision = ReadNumber(p);
            }
        }
        p = ReadSize(p, directive);

        const WChar conversion = *p;
        switch (conversion) {
            case u'd':
            case u'i':
                Signed(directive);
                break;
            case u'u':
                Unsigned(directive, 10, false);
                break;
            case u'o':
                Unsigned(directive, 8, false);
                break;
            case u'x':
                Unsigned(directive, 16, false);
                break;
            case u'X':
                Unsigned(directive, 16, true);
                break;
            case u'p':
                Pointer(directive);
                break;
            case u'c':
                Character(directive, directive.size != Size::kShort);
                break;
            case u'C':
                Character(directive, directive.size == Size::kLong || directive.size == Size::kWide);
                break;
            case u's':
                String(directive, directive.size != Size::kShort);
                break;
            case u'S':
                String(directive, directive.size == Size::kLong || directive.size == Size::kWide);
                break;
            case u'f':
            case u'e':
            case u'E':
            case u'g':
            case u'G':
                Floating(directive, static_cast<char>(conversion));
                break;
            case u'%':
                out_.push_back(u'%');
                break;
            default:
                // Unknown or cut short by the end of the format: copy what was written, consume no argument.
                if (conversion == 0) {
                    out_.append(start, static_cast<size_t>(p - start));
                    return p;
                }
                out_.append(start, static_cast<size_t>(p - start) + 1);
                break;
        }
        return p + 1;
    }

    static const WChar* ReadSize(const WChar* p, Directive& directive) {
        switch (*p) {
            case u'h':
                ++p;
                directive.size = Size::kShort;
                if (*p == u'h') {
                    ++p;
                    directive.size = Size::kChar;
                }
                return p;
            case u'l':
                ++p;
                directive.size = Size::kLong;
                if (*p == u'l') {
                    ++p;
                    directive.size = Size::kLongLong;
                }
                return p;
            case u'L':
                // Windows' long double is a double; it changes nothing.
                return p + 1;
            case u'w':
                directive.size = Size::kWide;
                return p + 1;
            case u'z':
                directive.size = Size::kPointerSized;
                return p + 1;
            case u'I':
                if (p[1] == u'6' && p[2] == u'4') {
                    directive.size = Size::kLongLong;
                    return p + 3;
                }
                if (p[1] == u'3' && p[2] == u'2') {
                    directive.size = Size::kDefault;
                    return p + 3;
                }
                directive.size = Size::kPointerSized;
                return p + 1;
            default:
                return p;
        }
    }

    uint64_t UnsignedArgument(Size size) {
        switch (size) {
            case Size::kLongLong:
                return va_arg(args_, unsigned long long);
            case Size::kPointerSized:
                return va_arg(args_, size_t);
            case Size::kShort:
                return static_cast<unsigned short>(va_arg(args_, unsigned int));
            case Size::kChar:
                return static_cast<unsigned char>(va_arg(args_, unsigned int));
            default:
                // %lu is Windows' 32-bit unsigned long on both builds.
                return va_arg(args_, unsigned int);
        }
    }

    int64_t SignedArgument(Size size) {
        switch (size) {
            case Size::kLongLong:
                return va_arg(args_, long long);
            case Size::kPointerSized:
                return static_cast<int64_t>(va_arg(args_, size_t));
            case Size::kShort:
                return static_cast<short>(va_arg(args_, int));
            case Size::kChar:
                return static_cast<signed char>(va_arg(args_, int));
            default:
                return va_arg(args_, int);
        }
    }

    void Signed(const Directive& directive) {
        const int64_t value = SignedArgument(directive.size);
        const uint64_t magnitude =
            value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
        const char* sign = value < 0 ? "-" : directive.plus ? "+" : directive.space ? " " : "";
        Integer(directive, magnitude, 10, false, sign);
    }

    void Unsigned(const Directive& directive, unsigned base, bool upper) {
        const uint64_t value = UnsignedArgument(directive.size);
        Integer(directive, value, base, upper, "");
    }

    void Pointer(const Directive& directive) {
        const auto value = reinterpret_cast<uintptr_t>(va_arg(args_, void*));
        // Windows prints every digit of the pointer, in upper case.
        Directive digits = directive;
        digits.precision = static_cast<int>(sizeof(void*) * 2);
        digits.zero = false;
        Integer(digits, value, 16, true, "");
    }

    // Digits with C's rules for precision and the '#' flag, then the sign or prefix and the padding.
    void Integer(const Directive& directive, uint64_t value, unsigned base, bool upper, const char* sign) {
        const char* digitSet = upper ? "0123456789ABCDEF" : "0123456789abcdef";
        char digits[24];
        int count = 0;
        for (uint64_t v = value; v != 0; v /= base) {
            digits[count++] = digitSet[v % base];
        }
        int precision = directive.precision < 0 ? 1 : directive.precision;
        if (base == 8 && directive.alternate && precision <= count) {
            precision = count + 1;  // octal '#' makes the first digit a 0
        }
        std::string prefix = sign;
        if (base == 16 && directive.alternate && value != 0) {
            prefix += upper ? "0X" : "0x";
        }
        const size_t zeros = precision > count ? static_cast<size_t>(precision - count) : 0;
        std::string body;
        body.reserve(zeros + static_cast<size_t>(count));
        body.append(zeros, '0');
        for (int i = count - 1; i >= 0; --i) {
            body.push_back(digits[i]);
        }
        // C ignores the '0' flag when a precision is given.
        Emit(directive, prefix, body, directive.zero && directive.precision < 0 && !directive.left);
    }

    void Floating(const Directive& directive, char conversion) {
        const double value = va_arg(args_, double);
        const bool upper = conversion == 'E' || conversion == 'G';
        std::string sign = std::signbit(value) ? "-" : directive.plus ? "+" : directive.space ? " " : "";
        if (!std::isfinite(value)) {
            // C libraries disagree on these (Windows' older runtime prints "1.#INF00"); both builds print
            // this.
            const char* text = std::isnan(value) ? (upper ? "NAN" : "nan") : (upper ? "INF" : "inf");
            Emit(directive, sign, text, false);
            return;
        }
        const int precision = directive.precision < 0 ? 6 : directive.precision;
        const double magnitude = std::fabs(value);
        std::string body(64, '\0');
        const int length = PrintDouble(body, conversion, directive.alternate, precision, magnitude);
        if (length < 0) {
            return;
        }
        if (static_cast<size_t>(length) >= body.size()) {
            body.assign(static_cast<size_t>(length) + 1, '\0');
            PrintDouble(body, conversion, directive.alternate, precision, magnitude);
        }
        body.resize(static_cast<size_t>(length));
        NormalizeExponent(body);
        Emit(directive, sign, body, directive.zero && !directive.left);
    }

    // The narrow C library's digits for one number; the formats are literals so that they can be checked.
    static int PrintDouble(std::string& buffer, char conversion, bool alternate, int precision,
                           double value) {
        char* b = buffer.data();
        const size_t n = buffer.size();
        switch (conversion) {
            case 'e':
                return alternate ? std::snprintf(b, n, "%#.*e", precision, value)
                                 : std::snprintf(b, n, "%.*e", precision, value);
            case 'E':
                return alternate ? std::snprintf(b, n, "%#.*E", precision, value)
                                 : std::snprintf(b, n, "%.*E", precision, value);
            case 'g':
                return alternate ? std::snprintf(b, n, "%#.*g", precision, value)
                                 : std::snprintf(b, n, "%.*g", precision, value);
            case 'G':
                return alternate ? std::snprintf(b, n, "%#.*G", precision, value)
                                 : std::snprintf(b, n, "%.*G", precision, value);
            default:
                return alternate ? std::snprintf(b, n, "%#.*f", precision, value)
                                 : std::snprintf(b, n, "%.*f", precision, value);
        }
    }

    // An exponent has at least two digits and no more leading zeros than that, whatever the C library prints.
    static void NormalizeExponent(std::string& text) {
        const size_t e = text.find_first_of("eE");
        if (e == std::string::npos || e + 1 >= text.size()) {
            return;
        }
        size_t firstDigit = e + 1;
        if (text[firstDigit] == '+' || text[firstDigit] == '-') {
            ++firstDigit;
        }
        while (text.size() - firstDigit > 2 && text[firstDigit] == '0') {
            text.erase(firstDigit, 1);
        }
    }

    void Character(const Directive& directive, bool wide) {
        const unsigned int value = va_arg(args_, unsigned int);
        const WChar c = wide ? static_cast<WChar>(value & 0xFFFF) : static_cast<WChar>(value & 0xFF);
        EmitText(directive, &c, 1);
    }

    void String(const Directive& directive, bool wide) {
        const size_t limit = directive.precision < 0 ? SIZE_MAX : static_cast<size_t>(directive.precision);
        if (wide) {
            const WChar* text = va_arg(args_, const WChar*);
            if (text == nullptr) {
                text = kNullText;
            }
            size_t length = 0;
            while (length < limit && text[length] != 0) {
                ++length;
            }
            EmitText(directive, text, length);
            return;
        }
        const char* narrow = va_arg(args_, const char*);
        if (narrow == nullptr) {
            narrow = "(null)";
        }
        // A narrow byte becomes the code unit of the same value, as the C locale maps it.
        WString text;
        for (size_t i = 0; i < limit && narrow[i] != 0; ++i) {
            text.push_back(static_cast<WChar>(static_cast<unsigned char>(narrow[i])));
        }
        EmitText(directive, text.data(), text.size());
    }

    // Text and characters: Windows pads them with zeros, too, when the '0' flag is given.
    void EmitText(const Directive& directive, const WChar* text, size_t length) {
        const size_t width = static_cast<size_t>(directive.width);
        const size_t pad = width > length ? width - length : 0;
        if (!directive.left) {
            out_.append(pad, directive.zero ? u'0' : u' ');
        }
        out_.append(text, length);
        if (directive.left) {
            out_.append(pad, u' ');
        }
    }

    // Numbers: sign or prefix, then zeros (zeroPad) or spaces up to the width, then the digits.
    void Emit(const Directive& directive, const std::string& prefix, const std::string& body, bool zeroPad) {
        const size_t width = static_cast<size_t>(directive.width);
        const size_t length = prefix.size() + body.size();
        const size_t pad = width > length ? width - length : 0;
        if (!directive.left && !zeroPad) {
            out_.append(pad, u' ');
        }
        AppendAscii(prefix);
        if (!directive.left && zeroPad) {
            out_.append(pad, u'0');
        }
        AppendAscii(body);
        if (directive.left) {
            out_.append(pad, u' ');
        }
    }

    void AppendAscii(const std::string& text) {
        for (char c : text) {
            out_.push_back(static_cast<WChar>(static_cast<unsigned char>(c)));
        }
    }

    WString& out_;
    va_list args_;
};

}  // namespace

WString FormatV(const WChar* format, va_list args) {
    WString out;
    if (format == nullptr) {
        return out;
    }
    Formatter formatter(out, args);
    formatter.Run(format);
    return out;
}

WString Format(const WChar* format, ...) {
    va_list args;
    va_start(args, format);
    WString out = FormatV(format, args);
    va_end(args);
    return out;
}

}  // namespace korva
