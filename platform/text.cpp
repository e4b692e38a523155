// UTF-16 helpers shared by both builds. The UTF-8 decoder differs per platform (win32/utf8_win32.cpp,
// posix/utf8_posix.cpp); everything here is portable.
#include "platform/text.h"

namespace korva {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsHighSurrogate(char32_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool IsLowSurrogate(char32_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

// Bytes of the UTF-8 form of `cp`.
size_t Utf8Length(char32_t cp) {
    return cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
}

// Writes the UTF-8 form of `cp` at `out`; returns the position after it.
char* PutUtf8(char* out, char32_t cp) {
    if (cp < 0x80) {
        *out++ = static_cast<char>(cp);
    } else if (cp < 0x800) {
        *out++ = static_cast<char>(0xC0 | (cp >> 6));
        *out++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        *out++ = static_cast<char>(0xE0 | (cp >> 12));
        *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        *out++ = static_cast<char>(0xF0 | (cp >> 18));
        *out++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (cp & 0x3F));
    }
    return out;
}

// Calls `emit` with each code point of `utf16`: a surrogate pair is one code point, an unpaired surrogate is
// U+FFFD.
template <typename Emit>
void ForEachCodePoint(WStringView utf16, Emit emit) {
    const size_t n = utf16.size();
    for (size_t i = 0; i < n; ++i) {
        const char32_t unit = static_cast<char16_t>(utf16[i]);
        if (unit < 0xD800 || unit > 0xDFFF) {
            emit(unit);
        } else if (IsHighSurrogate(unit) && i + 1 < n &&
                   IsLowSurrogate(static_cast<char16_t>(utf16[i + 1]))) {
            const char32_t low = static_cast<char16_t>(utf16[i + 1]);
            emit(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
            ++i;
        } else {
            emit(kReplacement);
        }
    }
}

}  // namespace

size_t WLen(const WChar* text) {
    if (text == nullptr) {
        return 0;
    }
    size_t length = 0;
    while (text[length] != 0) {
        ++length;
    }
    return length;
}

WString AsciiLower(WStringView text) {
    WString lower(text);
    for (WChar& c : lower) {
        c = AsciiLower(c);
    }
    return lower;
}

bool EqualsNoCaseAscii(WStringView a, WStringView b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) {
            return false;
        }
    }
    return true;
}

std::string Utf16ToUtf8(WStringView utf16) {
    // Measured first, then written through a pointer: a policy document of a megabyte passes through here,
    // and appending byte by byte costs several times the conversion itself.
    size_t length = 0;
    ForEachCodePoint(utf16, [&](char32_t cp) { length += Utf8Length(cp); });
    std::string out(length, '\0');
    char* w = out.data();
    ForEachCodePoint(utf16, [&](char32_t cp) {
        if (cp < 0x80) {
            *w++ = static_cast<char>(cp);
        } else {
            w = PutUtf8(w, cp);
        }
    });
    return out;
}

WString AsciiToWide(std::string_view ascii) {
    WString wide;
    wide.reserve(ascii.size());
    for (char c : ascii) {
        auto byte = static_cast<unsigned char>(c);
        wide.push_back(byte < 0x80 ? static_cast<WChar>(byte) : static_cast<WChar>(u'?'));
    }
    return wide;
}

void SecureZero(void* data, size_t size) {
    if (data == nullptr) {
        return;
    }
    // Writes through a volatile pointer may not be elided; the empty asm statement that "uses" the memory
    // keeps the compiler from proving the buffer dead after the loop as well.
    volatile unsigned char* bytes = static_cast<volatile unsigned char*>(data);
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = 0;
    }
    __asm__ __volatile__("" : : "r"(data) : "memory");
}

}  // namespace korva
