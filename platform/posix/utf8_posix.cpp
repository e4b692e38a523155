// UTF-8 to UTF-16 on Linux, replacing invalid input as Windows' MultiByteToWideChar(CP_UTF8, 0) does: with
// U+FFFD, never dropping it. Windows' observed results (one U+FFFD per stray continuation byte, per byte that
// starts no sequence and per truncated sequence) agree with Unicode's recommended practice, which this
// follows throughout: every maximal subpart of an ill-formed sequence becomes one U+FFFD. A maximal subpart
// is the longest prefix of a well-formed sequence that the input starts with; the byte that breaks it is
// decoded afresh, so a valid character after a broken one is never lost. Overlong forms, encoded surrogates
// (ED A0..BF) and values above U+10FFFF are ill-formed because their second byte is outside the range the
// lead byte allows; C0, C1 and F5..FF never start a sequence.
#include "platform/text.h"

namespace korva {

namespace {

struct LeadByte {
    int continuations;  // bytes that must follow
    unsigned char low;  // allowed range of the first continuation byte
    unsigned char high;
    unsigned char mask;  // payload bits of the lead byte
};

// Well-formed UTF-8 byte sequences (Unicode table 3-7); continuations = 0 marks a byte that starts nothing.
LeadByte Classify(unsigned char b) {
    if (b >= 0xC2 && b <= 0xDF)
        return {1, 0x80, 0xBF, 0x1F};
    if (b == 0xE0)
        return {2, 0xA0, 0xBF, 0x0F};
    if ((b >= 0xE1 && b <= 0xEC) || b == 0xEE || b == 0xEF)
        return {2, 0x80, 0xBF, 0x0F};
    if (b == 0xED)
        return {2, 0x80, 0x9F, 0x0F};
    if (b == 0xF0)
        return {3, 0x90, 0xBF, 0x07};
    if (b >= 0xF1 && b <= 0xF3)
        return {3, 0x80, 0xBF, 0x07};
    if (b == 0xF4)
        return {3, 0x80, 0x8F, 0x07};
    return {0, 0, 0, 0};
}

// Writes one code point at `out`; returns the position after it.
WChar* PutCodePoint(WChar* out, char32_t cp) {
    if (cp < 0x10000) {
        *out++ = static_cast<WChar>(cp);
    } else {
        cp -= 0x10000;
        *out++ = static_cast<WChar>(0xD800 + (cp >> 10));
        *out++ = static_cast<WChar>(0xDC00 + (cp & 0x3FF));
    }
    return out;
}

}  // namespace

WString Utf8ToUtf16(std::string_view utf8) {
    // Every input byte yields at most one code unit (a four-byte sequence yields two), so the result fits in
    // as many units as there are bytes. Writing through a pointer into that room, rather than appending unit
    // by unit, matters for a policy document of a megabyte.
    const size_t n = utf8.size();
    WString out(n, WChar(0));
    WChar* const begin = out.data();
    WChar* w = begin;
    size_t i = 0;
    const auto* const bytes = reinterpret_cast<const unsigned char*>(utf8.data());
    while (i < n) {
        // Markup and most text are ASCII: copy such runs without classifying each byte.
        while (i < n && bytes[i] < 0x80) {
            *w++ = static_cast<WChar>(bytes[i++]);
        }
        if (i == n) {
            break;
        }
        const unsigned char lead = bytes[i];
        const LeadByte kind = Classify(lead);
        if (kind.continuations == 0) {
            *w++ = static_cast<WChar>(0xFFFD);
            ++i;
            continue;
        }
        char32_t cp = lead & kind.mask;
        size_t next = i + 1;
        bool complete = true;
        for (int k = 0; k < kind.continuations; ++k) {
            const unsigned char low = k == 0 ? kind.low : 0x80;
            const unsigned char high = k == 0 ? kind.high : 0xBF;
            if (next >= n) {
                complete = false;
                break;
            }
            const auto b = static_cast<unsigned char>(utf8[next]);
            if (b < low || b > high) {
                complete = false;
                break;
            }
            cp = (cp << 6) | (b & 0x3F);
            ++next;
        }
        if (complete) {
            w = PutCodePoint(w, cp);
        } else {
            *w++ = static_cast<WChar>(0xFFFD);
        }
        i = next;
    }
    out.resize(static_cast<size_t>(w - begin));
    return out;
}

}  // namespace korva
