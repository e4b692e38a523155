#include "directory/sid_text.h"

#include <string>
#include <vector>

#include "platform/result_codes.h"

namespace korva {

namespace {

constexpr size_t kMaxSubAuthorities = 15;
constexpr size_t kHeaderBytes = 8;

// A decimal or (after "0x") hexadecimal number of at most `maxBits` bits; false for empty or oversized text.
bool ParseNumber(WStringView text, unsigned maxBits, uint64_t* value) {
    unsigned base = 10;
    if (text.size() > 2 && text[0] == u'0' && (text[1] == u'x' || text[1] == u'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) {
        return false;
    }
    const uint64_t limit = (uint64_t{1} << maxBits) - 1;
    uint64_t result = 0;
    for (WChar c : text) {
        unsigned digit = 0;
        if (c >= u'0' && c <= u'9') {
            digit = static_cast<unsigned>(c - u'0');
        } else if (base == 16 && c >= u'a' && c <= u'f') {
            digit = static_cast<unsigned>(c - u'a' + 10);
        } else if (base == 16 && c >= u'A' && c <= u'F') {
            digit = static_cast<unsigned>(c - u'A' + 10);
        } else {
            return false;
        }
        if (result > (limit - digit) / base) {
            return false;
        }
        result = result * base + digit;
    }
    *value = result;
    return true;
}

}  // namespace

bool IsValidSid(std::string_view bytes) {
    if (bytes.size() < kHeaderBytes || bytes[0] != 1) {
        return false;
    }
    const auto count = static_cast<unsigned char>(bytes[1]);
    return count <= kMaxSubAuthorities && bytes.size() == kHeaderBytes + 4 * size_t{count};
}

int32_t SidToText(const SidBytes& sid, WString* text) {
    text->clear();
    const std::string_view bytes(reinterpret_cast<const char*>(sid.data()), sid.size());
    if (!IsValidSid(bytes)) {
        return winerr::kInvalidSid;
    }
    uint64_t authority = 0;
    for (size_t i = 2; i < kHeaderBytes; ++i) {
        authority = (authority << 8) | sid[i];
    }
    std::string out = "S-1-";
    if (authority > 0xFFFFFFFFu) {
        static constexpr char kHex[] = "0123456789ABCDEF";
        out += "0x";
        for (size_t i = 2; i < kHeaderBytes; ++i) {
            out += kHex[sid[i] >> 4];
            out += kHex[sid[i] & 15];
        }
    } else {
        out += std::to_string(authority);
    }
    for (size_t i = kHeaderBytes; i < sid.size(); i += 4) {
        const uint32_t sub = static_cast<uint32_t>(sid[i]) | (static_cast<uint32_t>(sid[i + 1]) << 8) |
                             (static_cast<uint32_t>(sid[i + 2]) << 16) |
                             (static_cast<uint32_t>(sid[i + 3]) << 24);
        out += "-" + std::to_string(sub);
    }
    *text = AsciiToWide(out);
    return 0;
}

int32_t TextToSid(WStringView text, SidBytes* sid) {
    sid->clear();
    if (text.size() < 4 || (text[0] != u'S' && text[0] != u's') || text.substr(1, 3) != KW("-1-")) {
        return winerr::kInvalidSid;
    }
    text.remove_prefix(4);
    std::vector<WStringView> parts;
    for (;;) {
        const size_t dash = text.find(u'-');
        parts.push_back(text.substr(0, dash));
        if (dash == WStringView::npos) {
            break;
        }
        text.remove_prefix(dash + 1);
        if (parts.size() > kMaxSubAuthorities + 1) {
            return winerr::kInvalidSid;
        }
    }
    uint64_t authority = 0;
    if (parts.size() > kMaxSubAuthorities + 1 || !ParseNumber(parts[0], 48, &authority)) {
        return winerr::kInvalidSid;
    }
    SidBytes bytes = {1, static_cast<uint8_t>(parts.size() - 1)};
    for (int shift = 40; shift >= 0; shift -= 8) {
        bytes.push_back(static_cast<uint8_t>(authority >> shift));
    }
    for (size_t i = 1; i < parts.size(); ++i) {
        uint64_t sub = 0;
        if (!ParseNumber(parts[i], 32, &sub)) {
            return winerr::kInvalidSid;
        }
        for (int shift = 0; shift < 32; shift += 8) {
            bytes.push_back(static_cast<uint8_t>(sub >> shift));
        }
    }
    *sid = std::move(bytes);
    return 0;
}

}  // namespace korva
