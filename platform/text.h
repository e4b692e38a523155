// UTF-16 text, the same on both builds.
//
// Windows' wide characters are 16 bits; Linux's wchar_t is 32. The system's text is UTF-16 everywhere, so it
// uses WChar: wchar_t on Windows (so strings pass to Win32 unconverted) and char16_t elsewhere. KW("...")
// makes a literal of that type.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace korva {

#if defined(_WIN32)
using WChar = wchar_t;
#define KW(s) L##s
#else
using WChar = char16_t;
#define KW(s) u##s
#endif
static_assert(sizeof(WChar) == 2, "the system's text is UTF-16");

using WString = std::basic_string<WChar>;
using WStringView = std::basic_string_view<WChar>;

// Length of a zero-terminated text; 0 for null.
size_t WLen(const WChar* text);

// A-Z folded to a-z; every other code unit unchanged (the system's case-insensitive comparisons are
// ASCII-only).
inline WChar AsciiLower(WChar c) {
    return (c >= u'A' && c <= u'Z') ? static_cast<WChar>(c + (u'a' - u'A')) : c;
}
WString AsciiLower(WStringView text);
bool EqualsNoCaseAscii(WStringView a, WStringView b);

// UTF-8 to UTF-16 exactly as Windows' MultiByteToWideChar(CP_UTF8, 0, ...) converts: each invalid or
// truncated sequence becomes U+FFFD (one per maximal invalid subpart), NUL bytes are kept.
WString Utf8ToUtf16(std::string_view utf8);
// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(WStringView utf16);

// Wide <-> narrow for ASCII-only text such as numbers and fixed identifiers (code units above 0x7F become
// '?').
WString AsciiToWide(std::string_view ascii);

// Overwrites memory so that the compiler cannot elide the writes (used for passwords before memory is freed).
void SecureZero(void* data, size_t size);

}  // namespace korva
