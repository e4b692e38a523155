#include "directory/ldif.h"

#include <array>
#include <unordered_map>

#include "platform/result_codes.h"

namespace korva::ldif {

namespace {

constexpr char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr size_t kFoldColumn = 76;

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string LowerAscii(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        c = LowerAscii(c);
    }
    return lower;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) {
            return false;
        }
    }
    return true;
}

bool IsAlpha(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// AttributeType (a name, or a numeric OID) followed by any number of ";option".
bool IsAttributeDescription(std::string_view text) {
    size_t semicolon = text.find(';');
    const std::string_view type = text.substr(0, semicolon);
    if (type.empty()) {
        return false;
    }
    if (IsDigit(type[0])) {
        bool lastWasDot = true;
        for (char c : type) {
            if (c == '.') {
                if (lastWasDot) {
                    return false;
                }
                lastWasDot = true;
            } else if (IsDigit(c)) {
                lastWasDot = false;
            } else {
                return false;
            }
        }
        if (lastWasDot) {
            return false;
        }
    } else {
        if (!IsAlpha(type[0])) {
            return false;
        }
        for (char c : type) {
            if (!IsAlpha(c) && !IsDigit(c) && c != '-') {
                return false;
            }
        }
    }
    while (semicolon != std::string_view::npos) {
        const size_t next = text.find(';', semicolon + 1);
        const std::string_view option = text.substr(
            semicolon + 1, next == std::string_view::npos ? std::string_view::npos : next - semicolon - 1);
        if (option.empty()) {
            return false;
        }
        for (char c : option) {
            if (!IsAlpha(c) && !IsDigit(c) && c != '-') {
                return false;
            }
        }
        semicolon = next;
    }
    return true;
}

// A value that may be written after "name: " as it stands and read back unchanged.
bool IsSafeString(std::string_view value) {
    if (value.empty()) {
        return true;
    }
    const char first = value.front();
    if (first == ' ' || first == ':' || first == '<' || value.back() == ' ') {
        return false;
    }
    for (char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == 0 || byte == '\n' || byte == '\r' || byte > 0x7F) {
            return false;
        }
    }
    return true;
}

std::string Describe(std::string_view text, size_t max = 40) {
    std::string shown;
    for (char c : text.substr(0, max)) {
        const auto byte = static_cast<unsigned char>(c);
        shown += (byte >= 0x20 && byte < 0x7F) ? c : '?';
    }
    if (text.size() > max) {
        shown += "...";
    }
    return shown;
}

class Reader {
  public:
    Reader(std::string_view text, const Limits& limits, ParseError* error)
        : text_(text), limits_(limits), error_(error) {}

    int32_t Run(std::vector<Entry>* entries) {
        if (text_.size() > limits_.maxInputBytes) {
            return Fail(winerr::kFileTooLarge, 0,
                        "the input is " + std::to_string(text_.size()) + " bytes, more than the limit of " +
                            std::to_string(limits_.maxInputBytes));
        }
        if (text_.substr(0, 3) == "\xEF\xBB\xBF") {
            pos_ = 3;
        }
        bool versionAllowed = true;
        Entry* current = nullptr;
        std::unordered_map<std::string, size_t> index;  // lower-case name -> position in current->attributes
        std::string line;
        size_t lineNo = 0;
        for (;;) {
            bool blank = false;
            bool more = false;
            int32_t status = NextLogicalLine(&line, &lineNo, &blank, &more);
            if (status != 0) {
                return status;
            }
            if (!more) {
                break;
            }
            if (blank) {
                current = nullptr;
                continue;
            }
            if (line[0] == '#') {
                continue;
            }
            const size_t colon = line.find(':');
            if (colon == std::string::npos) {
                return Fail(winerr::kInvalidData, lineNo,
                            "expected \"attribute: value\", found \"" + Describe(line) + "\"");
            }
            const std::string_view name = std::string_view(line).substr(0, colon);
            std::string value;
            status = ReadValue(std::string_view(line).substr(colon + 1), name, lineNo, &value);
            if (status != 0) {
                return status;
            }
            if (current == nullptr) {
                if (versionAllowed && EqualsNoCase(name, "version")) {
                    versionAllowed = false;
                    if (value != "1") {
                        return Fail(winerr::kInvalidData, lineNo,
                                    "unsupported LDIF version \"" + Describe(value) + "\" (only 1 is known)");
                    }
                    continue;
                }
                if (!EqualsNoCase(name, "dn")) {
                    return Fail(winerr::kInvalidData, lineNo,
                                "a record must start with a \"dn:\" line, found \"" + Describe(name) + ":\"");
                }
                if (entries->size() >= limits_.maxEntries) {
                    return Fail(winerr::kFileTooLarge, lineNo,
                                "more than " + std::to_string(limits_.maxEntries) + " entries");
                }
                versionAllowed = false;
                current = &entries->emplace_back();
                current->dn = std::move(value);
                current->line = lineNo;
                index.clear();
                continue;
            }
            if (EqualsNoCase(name, "changetype") || EqualsNoCase(name, "control")) {
                return Fail(winerr::kInvalidData, lineNo,
                            "change records are not supported (\"" + Describe(name) +
                                ":\"): only directory content can be read");
            }
            if (EqualsNoCase(name, "dn")) {
                return Fail(winerr::kInvalidData, lineNo,
                            "a second \"dn:\" line in one record (records are separated by a blank line)");
            }
            if (!IsAttributeDescription(name)) {
                return Fail(winerr::kInvalidData, lineNo,
                            "\"" + Describe(name) + "\" is not a valid attribute name");
            }
            if (++valueCount_ > limits_.maxValues) {
                return Fail(winerr::kFileTooLarge, lineNo,
                            "more than " + std::to_string(limits_.maxValues) + " values");
            }
            const auto [it, added] = index.try_emplace(LowerAscii(name), current->attributes.size());
            if (added) {
                current->attributes.push_back(Attribute{std::string(name), {}});
            }
            current->attributes[it->second].values.push_back(std::move(value));
        }
        return 0;
    }

  private:
    int32_t Fail(int32_t code, size_t line, std::string message) {
        error_->line = line;
        error_->message = std::move(message);
        return code;
    }

    // The next physical line without its line end; false at the end of the input.
    bool NextPhysicalLine(std::string_view* line) {
        if (pos_ >= text_.size()) {
            return false;
        }
        const size_t end = text_.find('\n', pos_);
        const size_t stop = end == std::string_view::npos ? text_.size() : end;
        *line = text_.substr(pos_, stop - pos_);
        if (!line->empty() && line->back() == '\r') {
            line->remove_suffix(1);
        }
        pos_ = end == std::string_view::npos ? text_.size() : end + 1;
        ++physicalLine_;
        return true;
    }

    // The next logical line: a physical line with every following line that starts with a space appended
    // (without that space). `blank` is set for an empty line, which ends a record.
    int32_t NextLogicalLine(std::string* line, size_t* lineNo, bool* blank, bool* more) {
        std::string_view physical;
        *more = NextPhysicalLine(&physical);
        if (!*more) {
            return 0;
        }
        *lineNo = physicalLine_;
        *blank = physical.empty();
        if (*blank) {
            return 0;
        }
        if (physical[0] == ' ') {
            return Fail(winerr::kInvalidData, *lineNo,
                        "a continuation line (starting with a space) follows no line it could continue");
        }
        line->assign(physical);
        while (pos_ < text_.size() && text_[pos_] == ' ') {
            NextPhysicalLine(&physical);
            physical.remove_prefix(1);
            if (line->size() + physical.size() > limits_.maxLineBytes) {
                return Fail(winerr::kFileTooLarge, *lineNo,
                            "a line longer than " + std::to_string(limits_.maxLineBytes) + " bytes");
            }
            line->append(physical);
        }
        if (line->size() > limits_.maxLineBytes) {
            return Fail(winerr::kFileTooLarge, *lineNo,
                        "a line longer than " + std::to_string(limits_.maxLineBytes) + " bytes");
        }
        return 0;
    }

    // The value part after "name:": ": text", ":: base64" or ":< url" (refused).
    int32_t ReadValue(std::string_view rest, std::string_view name, size_t lineNo, std::string* value) {
        if (!rest.empty() && rest[0] == '<') {
            return Fail(winerr::kInvalidData, lineNo,
                        "the value of \"" + Describe(name) +
                            "\" is given by URL (\":<\"); values must be in the file");
        }
        const bool base64 = !rest.empty() && rest[0] == ':';
        if (base64) {
            rest.remove_prefix(1);
        }
        while (!rest.empty() && rest[0] == ' ') {
            rest.remove_prefix(1);
        }
        if (base64) {
            if (!Base64Decode(rest, value)) {
                return Fail(winerr::kInvalidData, lineNo,
                            "the value of \"" + Describe(name) + "\" is not valid base64");
            }
            return 0;
        }
        for (char c : rest) {
            if (c == '\0' || c == '\r') {
                return Fail(winerr::kInvalidData, lineNo,
                            "the value of \"" + Describe(name) +
                                "\" holds a NUL or carriage-return byte (such values must be base64)");
            }
        }
        if (!rest.empty() && (rest[0] == ':' || rest[0] == '<')) {
            return Fail(winerr::kInvalidData, lineNo,
                        "the value of \"" + Describe(name) +
                            "\" starts with \":\" or \"<\" (such values must be base64)");
        }
        value->assign(rest);
        return 0;
    }

    std::string_view text_;
    const Limits& limits_;
    ParseError* error_;
    size_t pos_ = 0;
    size_t physicalLine_ = 0;
    size_t valueCount_ = 0;
};

// Appends "name: value" or "name:: base64" and its line end, folded at kFoldColumn.
void AppendLine(std::string_view name, std::string_view value, std::string* out) {
    std::string line(name);
    if (IsSafeString(value)) {
        line += value.empty() ? ":" : ": ";
        line += value;
    } else {
        line += ":: ";
        line += Base64Encode(value);
    }
    size_t pos = 0;
    size_t width = kFoldColumn;
    while (line.size() - pos > width) {
        out->append(line, pos, width);
        out->append("\n ");
        pos += width;
        width = kFoldColumn - 1;
    }
    out->append(line, pos, std::string::npos);
    out->push_back('\n');
}

}  // namespace

const Attribute* Entry::Find(std::string_view name) const {
    for (const Attribute& attribute : attributes) {
        if (EqualsNoCase(attribute.name, name)) {
            return &attribute;
        }
    }
    return nullptr;
}

std::string ParseError::ToString() const {
    return line == 0 ? message : "line " + std::to_string(line) + ": " + message;
}

int32_t Parse(std::string_view text, const Limits& limits, std::vector<Entry>* entries, ParseError* error) {
    entries->clear();
    *error = ParseError{};
    Reader reader(text, limits, error);
    const int32_t status = reader.Run(entries);
    if (status != 0) {
        entries->clear();
    }
    return status;
}

int32_t Write(const std::vector<Entry>& entries, std::string* out) {
    out->clear();
    for (const Entry& entry : entries) {
        for (const Attribute& attribute : entry.attributes) {
            if (!IsAttributeDescription(attribute.name) || EqualsNoCase(attribute.name, "dn") ||
                EqualsNoCase(attribute.name, "changetype") || EqualsNoCase(attribute.name, "control")) {
                return winerr::kInvalidParameter;
            }
        }
    }
    out->append("version: 1\n");
    for (const Entry& entry : entries) {
        out->push_back('\n');
        AppendLine("dn", entry.dn, out);
        for (const Attribute& attribute : entry.attributes) {
            for (const std::string& value : attribute.values) {
                AppendLine(attribute.name, value, out);
            }
        }
    }
    return 0;
}

std::string Base64Encode(std::string_view bytes) {
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const uint32_t group = (static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) << 16) |
                               (static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8) |
                               static_cast<unsigned char>(bytes[i + 2]);
        text += kBase64Alphabet[(group >> 18) & 63];
        text += kBase64Alphabet[(group >> 12) & 63];
        text += kBase64Alphabet[(group >> 6) & 63];
        text += kBase64Alphabet[group & 63];
    }
    const size_t left = bytes.size() - i;
    if (left > 0) {
        uint32_t group = static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) << 16;
        if (left == 2) {
            group |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
        }
        text += kBase64Alphabet[(group >> 18) & 63];
        text += kBase64Alphabet[(group >> 12) & 63];
        text += left == 2 ? kBase64Alphabet[(group >> 6) & 63] : '=';
        text += '=';
    }
    return text;
}

bool Base64Decode(std::string_view text, std::string* bytes) {
    static const std::array<int8_t, 256> kValues = [] {
        std::array<int8_t, 256> values{};
        values.fill(-1);
        for (int8_t v = 0; v < 64; ++v) {
            values[static_cast<unsigned char>(kBase64Alphabet[v])] = v;
        }
        return values;
    }();
    bytes->clear();
    if (text.size() % 4 != 0) {
        return false;
    }
    bytes->reserve(text.size() / 4 * 3);
    for (size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        int padding = 0;
        uint32_t group = 0;
        for (size_t k = 0; k < 4; ++k) {
            const char c = text[i + k];
            int8_t v = kValues[static_cast<unsigned char>(c)];
            if (c == '=' && last && k >= 2) {
                ++padding;
                v = 0;
            } else if (v < 0 || padding > 0) {
                bytes->clear();
                return false;
            }
            group = (group << 6) | static_cast<uint32_t>(v);
        }
        // Canonical form only: the bits the padding leaves over must be zero.
        if ((padding == 1 && (group & 0xFF) != 0) || (padding == 2 && (group & 0xFFFF) != 0)) {
            bytes->clear();
            return false;
        }
        bytes->push_back(static_cast<char>((group >> 16) & 0xFF));
        if (padding < 2) {
            bytes->push_back(static_cast<char>((group >> 8) & 0xFF));
        }
        if (padding < 1) {
            bytes->push_back(static_cast<char>(group & 0xFF));
        }
    }
    return true;
}

}  // namespace korva::ldif
