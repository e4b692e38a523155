// The regedit "Windows Registry Editor Version 5.00" format of the in-memory registry: writing a key tree as
// text, parsing text into actions applied whole or not at all, and the file encodings (UTF-16LE with a
// byte-order mark when saved; UTF-8 or UTF-16LE when loaded).
#include <cstring>

#include "platform/files.h"
#include "platform/memory_registry.h"
#include "platform/memory_registry_tree.h"
#include "platform/result_codes.h"

namespace korva::platform {
namespace regtree {

// Splits "A\B\C" into components. A trailing backslash is allowed; a leading one or an empty component is
// not.
bool SplitKeyPath(WStringView path, std::vector<WString>* parts) {
    parts->clear();
    if (path.empty()) {
        return true;
    }
    if (path.back() == KW('\\')) {
        path.remove_suffix(1);
    }
    size_t start = 0;
    while (true) {
        const size_t end = path.find(KW('\\'), start);
        const WStringView part =
            path.substr(start, end == WStringView::npos ? WStringView::npos : end - start);
        if (part.empty() || part.size() > kMaxKeyComponent) {
            return false;
        }
        parts->emplace_back(part);
        if (end == WStringView::npos) {
            return true;
        }
        start = end + 1;
    }
}

std::optional<size_t> RootIndexByName(WStringView name) {
    for (size_t i = 0; i < kRootCount; ++i) {
        if (EqualsNoCaseAscii(name, kRoots[i].name) || EqualsNoCaseAscii(name, kRoots[i].shortName)) {
            return i;
        }
    }
    return std::nullopt;
}

// "HKEY_LOCAL_MACHINE\A\B" -> root index and components.
bool ParseFullPath(WStringView fullPath, size_t* root, std::vector<WString>* parts) {
    const size_t slash = fullPath.find(KW('\\'));
    const std::optional<size_t> index = RootIndexByName(fullPath.substr(0, slash));
    if (!index) {
        return false;
    }
    *root = *index;
    if (slash == WStringView::npos) {
        parts->clear();
        return true;
    }
    return SplitKeyPath(fullPath.substr(slash + 1), parts) && !parts->empty();
}

// ---- regedit text, writing ----

void AppendHexByte(WString* out, uint8_t byte) {
    static constexpr char kDigits[] = "0123456789abcdef";
    *out += static_cast<WChar>(kDigits[byte >> 4]);
    *out += static_cast<WChar>(kDigits[byte & 0xF]);
}

void AppendQuoted(WString* out, WStringView text) {
    *out += KW('"');
    for (WChar c : text) {
        if (c == KW('\\') || c == KW('"')) {
            *out += KW('\\');
        }
        *out += c;
    }
    *out += KW('"');
}

// The text of a REG_SZ value when it can be written as "..." (one terminating zero, no other zero, no line
// break); otherwise it is written as hex(1): so that it loads back byte for byte.
std::optional<WString> QuotableString(const std::vector<uint8_t>& data) {
    if (data.size() < 2 || data.size() % 2 != 0) {
        return std::nullopt;
    }
    WString text(data.size() / 2, KW('\0'));
    std::memcpy(text.data(), data.data(), data.size());
    if (text.back() != KW('\0')) {
        return std::nullopt;
    }
    text.pop_back();
    if (text.find_first_of(WStringView(KW("\r\n\0"), 3)) != WString::npos) {
        return std::nullopt;
    }
    return text;
}

void AppendValueLine(WString* out, const Value& value) {
    if (value.name.empty()) {
        *out += KW('@');
    } else {
        AppendQuoted(out, value.name);
    }
    *out += KW('=');
    if (value.type == kRegSz) {
        if (const std::optional<WString> text = QuotableString(value.data)) {
            AppendQuoted(out, *text);
            *out += KW("\r\n");
            return;
        }
    }
    if (value.type == kRegDword && value.data.size() == 4) {
        uint32_t number = 0;
        std::memcpy(&number, value.data.data(), 4);
        *out += KW("dword:");
        for (int shift = 24; shift >= 0; shift -= 8) {
            AppendHexByte(out, static_cast<uint8_t>(number >> shift));
        }
        *out += KW("\r\n");
        return;
    }
    size_t lineLength = value.name.size() + 3;
    if (value.type == kRegBinary) {
        *out += KW("hex:");
        lineLength += 4;
    } else {
        static constexpr char kDigits[] = "0123456789abcdef";
        WString typeText;
        uint32_t type = value.type;
        do {
            typeText.insert(typeText.begin(), static_cast<WChar>(kDigits[type & 0xF]));
            type >>= 4;
        } while (type != 0);
        *out += KW("hex(") + typeText + KW("):");
        lineLength += 6 + typeText.size();
    }
    // regedit's layout: lines of about 80 characters, continued with a backslash and two blanks.
    for (size_t i = 0; i < value.data.size(); ++i) {
        AppendHexByte(out, value.data[i]);
        lineLength += 2;
        if (i + 1 < value.data.size()) {
            *out += KW(',');
            ++lineLength;
            if (lineLength >= 76) {
                *out += KW("\\\r\n  ");
                lineLength = 2;
            }
        }
    }
    *out += KW("\r\n");
}

void AppendKey(WString* out, const Node& node, const WString& path, bool isRoot) {
    if (!isRoot || !node.values.empty()) {
        *out += KW('[') + path + KW("]\r\n");
        // The default value first, as regedit writes it.
        const auto defaultValue = node.values.find(WString());
        if (defaultValue != node.values.end()) {
            AppendValueLine(out, defaultValue->second);
        }
        for (const auto& [key, value] : node.values) {
            if (!key.empty()) {
                AppendValueLine(out, value);
            }
        }
        *out += KW("\r\n");
    }
    for (const auto& [key, child] : node.children) {
        AppendKey(out, *child, path + KW('\\') + child->name, false);
    }
}

// ---- regedit text, reading ----

WStringView Trim(WStringView text) {
    while (!text.empty() && (text.front() == KW(' ') || text.front() == KW('\t'))) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == KW(' ') || text.back() == KW('\t'))) {
        text.remove_suffix(1);
    }
    return text;
}

bool StartsWith(WStringView text, WStringView prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

bool StartsWithNoCase(WStringView text, WStringView prefix) {
    return text.size() >= prefix.size() && EqualsNoCaseAscii(text.substr(0, prefix.size()), prefix);
}

int HexDigit(WChar c) {
    if (c >= KW('0') && c <= KW('9')) {
        return c - KW('0');
    }
    if (c >= KW('a') && c <= KW('f')) {
        return c - KW('a') + 10;
    }
    if (c >= KW('A') && c <= KW('F')) {
        return c - KW('A') + 10;
    }
    return -1;
}

// 1 to 8 hex digits and nothing else.
bool ParseHex32(WStringView text, uint32_t* number) {
    if (text.empty() || text.size() > 8) {
        return false;
    }
    uint32_t result = 0;
    for (WChar c : text) {
        const int digit = HexDigit(c);
        if (digit < 0) {
            return false;
        }
        result = (result << 4) | static_cast<uint32_t>(digit);
    }
    *number = result;
    return true;
}

// A quoted text at the start of `text` (which begins with '"'); \\ and \" are escapes, any other backslash is
// kept. On success `text` is left after the closing quote.
bool ParseQuoted(WStringView* text, WString* out) {
    out->clear();
    size_t i = 1;
    while (i < text->size()) {
        const WChar c = (*text)[i];
        if (c == KW('"')) {
            text->remove_prefix(i + 1);
            return true;
        }
        if (c == KW('\\') && i + 1 < text->size() &&
            ((*text)[i + 1] == KW('\\') || (*text)[i + 1] == KW('"'))) {
            *out += (*text)[i + 1];
            i += 2;
            continue;
        }
        *out += c;
        ++i;
    }
    return false;
}

// "01,ff,0a" (blanks allowed around items, one trailing comma allowed; an empty list is no data).
bool ParseHexList(WStringView text, std::vector<uint8_t>* data) {
    data->clear();
    text = Trim(text);
    if (text.empty()) {
        return true;
    }
    size_t start = 0;
    while (start <= text.size()) {
        const size_t comma = text.find(KW(','), start);
        const WStringView item =
            Trim(text.substr(start, comma == WStringView::npos ? WStringView::npos : comma - start));
        if (item.empty()) {
            // Only the item after a final comma may be empty.
            return comma == WStringView::npos && start > 0;
        }
        if (item.size() > 2) {
            return false;
        }
        uint32_t byte = 0;
        if (!ParseHex32(item, &byte)) {
            return false;
        }
        data->push_back(static_cast<uint8_t>(byte));
        if (comma == WStringView::npos) {
            return true;
        }
        start = comma + 1;
    }
    return true;
}

std::vector<uint8_t> StringData(WStringView text) {
    std::vector<uint8_t> data((text.size() + 1) * sizeof(WChar), 0);
    std::memcpy(data.data(), text.data(), text.size() * sizeof(WChar));
    return data;
}

std::vector<WStringView> SplitLines(WStringView text) {
    std::vector<WStringView> lines;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == KW('\r') || text[i] == KW('\n')) {
            lines.push_back(text.substr(start, i - start));
            if (text[i] == KW('\r') && i + 1 < text.size() && text[i + 1] == KW('\n')) {
                ++i;
            }
            start = i + 1;
        }
    }
    if (start < text.size()) {
        lines.push_back(text.substr(start));
    }
    return lines;
}

// Parses a whole regedit text into actions; ERROR_BADDB for anything it does not understand.
int32_t ParseRegText(WStringView text, std::vector<RegAction>* actions) {
    if (!text.empty() && text.front() == 0xFEFF) {
        text.remove_prefix(1);
    }
    const std::vector<WStringView> lines = SplitLines(text);
    size_t index = 0;
    while (index < lines.size() && Trim(lines[index]).empty()) {
        ++index;
    }
    if (index == lines.size() ||
        (Trim(lines[index]) != kRegeditHeader && Trim(lines[index]) != kRegedit4Header)) {
        return winerr::kBadDbFile;
    }
    ++index;
    bool haveKey = false;
    size_t root = 0;
    std::vector<WString> path;
    for (; index < lines.size(); ++index) {
        WStringView line = Trim(lines[index]);
        if (line.empty() || line.front() == KW(';')) {
            continue;
        }
        if (line.front() == KW('[')) {
            if (line.back() != KW(']') || line.size() < 3) {
                return winerr::kBadDbFile;
            }
            WStringView inner = line.substr(1, line.size() - 2);
            const bool remove = inner.front() == KW('-');
            if (remove) {
                inner.remove_prefix(1);
            }
            if (!ParseFullPath(inner, &root, &path)) {
                return winerr::kBadDbFile;
            }
            if (remove) {
                actions->push_back({RegAction::Kind::DeleteTree, root, path, {}, kRegNone, {}});
                haveKey = false;
            } else {
                actions->push_back({RegAction::Kind::CreateKey, root, path, {}, kRegNone, {}});
                haveKey = true;
            }
            continue;
        }
        if (!haveKey) {
            return winerr::kBadDbFile;
        }
        RegAction action{RegAction::Kind::SetValue, root, path, {}, kRegNone, {}};
        if (line.front() == KW('@')) {
            line.remove_prefix(1);
        } else if (line.front() == KW('"')) {
            if (!ParseQuoted(&line, &action.name) || action.name.empty()) {
                return winerr::kBadDbFile;
            }
        } else {
            return winerr::kBadDbFile;
        }
        line = Trim(line);
        if (line.empty() || line.front() != KW('=')) {
            return winerr::kBadDbFile;
        }
        line = Trim(line.substr(1));
        if (line == KW("-")) {
            action.kind = RegAction::Kind::DeleteValue;
        } else if (!line.empty() && line.front() == KW('"')) {
            WString textValue;
            if (!ParseQuoted(&line, &textValue) || !Trim(line).empty()) {
                return winerr::kBadDbFile;
            }
            action.type = kRegSz;
            action.data = StringData(textValue);
        } else if (StartsWithNoCase(line, KW("dword:"))) {
            uint32_t number = 0;
            if (!ParseHex32(line.substr(6), &number)) {
                return winerr::kBadDbFile;
            }
            action.type = kRegDword;
            action.data.resize(4);
            std::memcpy(action.data.data(), &number, 4);
        } else if (StartsWithNoCase(line, KW("hex"))) {
            line.remove_prefix(3);
            action.type = kRegBinary;
            if (StartsWith(line, KW("("))) {
                const size_t close = line.find(KW(')'));
                if (close == WStringView::npos || !ParseHex32(line.substr(1, close - 1), &action.type)) {
                    return winerr::kBadDbFile;
                }
                line.remove_prefix(close + 1);
            }
            if (!StartsWith(line, KW(":"))) {
                return winerr::kBadDbFile;
            }
            line.remove_prefix(1);
            // A list that ends with a backslash continues on the next line.
            WString list(line);
            while (!list.empty() && list.back() == KW('\\')) {
                list.pop_back();
                if (++index == lines.size()) {
                    return winerr::kBadDbFile;
                }
                list += Trim(lines[index]);
            }
            if (!ParseHexList(list, &action.data)) {
                return winerr::kBadDbFile;
            }
        } else {
            return winerr::kBadDbFile;
        }
        actions->push_back(std::move(action));
    }
    return winerr::kSuccess;
}

}  // namespace regtree

namespace {

// Far beyond any settings file this registry stands in for; a larger file is refused unread.
constexpr uint64_t kMaxRegFileBytes = 64u * 1024u * 1024u;

}  // namespace

int32_t MemoryRegistry::LoadRegFile(const WChar* path) {
    std::vector<uint8_t> bytes;
    const int32_t result = ReadWholeFile(path, kMaxRegFileBytes, &bytes);
    if (result != winerr::kSuccess) {
        return result;
    }
    if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        if (bytes.size() % 2 != 0) {
            return winerr::kBadDbFile;
        }
        WString text((bytes.size() - 2) / 2, KW('\0'));
        for (size_t i = 0; i < text.size(); ++i) {
            text[i] = static_cast<WChar>(bytes[2 + 2 * i] | (bytes[3 + 2 * i] << 8));
        }
        return LoadRegText(text);
    }
    if (bytes.size() >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) {
        return winerr::kBadDbFile;  // big-endian UTF-16 is not a format regedit writes
    }
    std::string_view utf8(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (utf8.substr(0, 3) == "\xEF\xBB\xBF") {
        utf8.remove_prefix(3);
    }
    return LoadRegText(Utf8ToUtf16(utf8));
}

int32_t MemoryRegistry::SaveRegFile(const WChar* path) const {
    const WString text = SaveRegText();
    std::vector<uint8_t> bytes;
    bytes.reserve(2 + text.size() * 2);
    bytes.push_back(0xFF);
    bytes.push_back(0xFE);
    for (WChar c : text) {
        bytes.push_back(static_cast<uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<uint8_t>((c >> 8) & 0xFF));
    }
    return WriteWholeFile(path, bytes.data(), bytes.size());
}

}  // namespace korva::platform
