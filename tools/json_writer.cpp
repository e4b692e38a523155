#include "tools/json_writer.h"

#include <charconv>
#include <cmath>

namespace korva::tools {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

void AppendEscape(std::string& out, uint32_t unit) {
    out += "\\u";
    out += kHexDigits[(unit >> 12) & 0xF];
    out += kHexDigits[(unit >> 8) & 0xF];
    out += kHexDigits[(unit >> 4) & 0xF];
    out += kHexDigits[unit & 0xF];
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

void AppendEscapedAscii(std::string& out, char32_t cp) {
    if (cp == u'"') {
        out += "\\\"";
    } else if (cp == u'\\') {
        out += "\\\\";
    } else if (cp < 0x20) {
        AppendEscape(out, cp);
    } else {
        AppendUtf8(out, cp);
    }
}

bool IsHighSurrogate(uint32_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool IsLowSurrogate(uint32_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

}  // namespace

std::string JsonQuote(WStringView text) {
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    for (size_t i = 0; i < text.size(); ++i) {
        const uint32_t unit = static_cast<uint16_t>(text[i]);
        if (IsHighSurrogate(unit) && i + 1 < text.size() &&
            IsLowSurrogate(static_cast<uint16_t>(text[i + 1]))) {
            const uint32_t low = static_cast<uint16_t>(text[i + 1]);
            AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
            ++i;
        } else if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
            AppendEscape(out, unit);  // no UTF-8 form exists for half a pair
        } else {
            AppendEscapedAscii(out, unit);
        }
    }
    out += '"';
    return out;
}

void JsonWriter::NewLine() {
    out_ += '\n';
    out_.append(levels_.size() * 2, ' ');
}

void JsonWriter::BeforeValue() {
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (levels_.empty()) {
        return;
    }
    Level& level = levels_.back();
    if (!level.empty) {
        out_ += ',';
    }
    level.empty = false;
    NewLine();
}

void JsonWriter::Close(char bracket) {
    const bool wasEmpty = levels_.empty() || levels_.back().empty;
    if (!levels_.empty()) {
        levels_.pop_back();
    }
    if (!wasEmpty) {
        NewLine();
    }
    out_ += bracket;
    if (levels_.empty()) {
        out_ += '\n';
    }
}

void JsonWriter::BeginObject() {
    BeforeValue();
    out_ += '{';
    levels_.push_back({true, true});
}

void JsonWriter::EndObject() {
    Close('}');
}

void JsonWriter::BeginArray() {
    BeforeValue();
    out_ += '[';
    levels_.push_back({false, true});
}

void JsonWriter::EndArray() {
    Close(']');
}

void JsonWriter::Key(std::string_view utf8Name) {
    BeforeValue();
    AppendQuotedUtf8(utf8Name);
    out_ += ": ";
    afterKey_ = true;
}

void JsonWriter::String(WStringView text) {
    BeforeValue();
    out_ += JsonQuote(text);
}

void JsonWriter::StringUtf8(std::string_view text) {
    BeforeValue();
    AppendQuotedUtf8(text);
}

void JsonWriter::AppendQuotedUtf8(std::string_view text) {
    // Keys and fixed texts of the tools: UTF-8 already, so only the characters JSON reserves need escapes.
    out_ += '"';
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            AppendEscapedAscii(out_, byte);
        } else {
            out_ += c;
        }
    }
    out_ += '"';
}

void JsonWriter::StringOrNull(const WChar* text) {
    if (text == nullptr) {
        Null();
    } else {
        String(text);
    }
}

void JsonWriter::Int(int64_t value) {
    BeforeValue();
    out_ += std::to_string(value);
}

void JsonWriter::Bool(bool value) {
    BeforeValue();
    out_ += value ? "true" : "false";
}

void JsonWriter::Float(float value) {
    if (!std::isfinite(value)) {
        Null();
        return;
    }
    BeforeValue();
    char buffer[32];
    // Without a format or precision, to_chars writes the shortest text that reads back to the same float.
    const auto result = std::to_chars(buffer, buffer + sizeof(buffer), value);
    out_.append(buffer, result.ptr);
}

void JsonWriter::Null() {
    BeforeValue();
    out_ += "null";
}

}  // namespace korva::tools
