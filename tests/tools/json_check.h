// A strict JSON reader for the tools' tests: the whole text must be one value by the JSON grammar, strings
// valid UTF-8 without raw control characters, no member name twice in one object. Strings are read into
// UTF-16 so that an escaped lone surrogate comes back as the code unit it stands for.
#pragma once

#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/text.h"

namespace korva::tools::testing {

struct JsonValue {
    enum class Kind { Null, Bool, Number, String, Array, Object };
    Kind kind = Kind::Null;
    bool boolean = false;
    double number = 0;
    std::string numberText;  // the number as written
    WString text;
    std::vector<JsonValue> items;
    std::vector<std::pair<std::string, JsonValue>> members;

    bool IsNull() const { return kind == Kind::Null; }
    // The member `name`, or null when this is no object or has no such member.
    const JsonValue* Find(std::string_view name) const {
        for (const auto& [key, value] : members) {
            if (key == name) {
                return &value;
            }
        }
        return nullptr;
    }
};

class JsonReader {
  public:
    // True when `text` is exactly one JSON value (white space around it allowed); *error says where not.
    static bool Parse(std::string_view text, JsonValue* out, std::string* error) {
        JsonReader reader(text);
        const bool ok = reader.Value(out, 0) && (reader.SkipSpace(), reader.pos_ == text.size());
        if (!ok && error != nullptr) {
            *error = "invalid JSON at offset " + std::to_string(reader.pos_);
        }
        return ok;
    }

  private:
    explicit JsonReader(std::string_view text) : s_(text) {}

    void SkipSpace() {
        while (pos_ < s_.size() &&
               (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\n' || s_[pos_] == '\r')) {
            ++pos_;
        }
    }
    bool Eat(char c) {
        SkipSpace();
        if (pos_ < s_.size() && s_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }
    bool Literal(std::string_view word) {
        if (s_.substr(pos_, word.size()) != word) {
            return false;
        }
        pos_ += word.size();
        return true;
    }

    bool Value(JsonValue* out, int depth) {
        if (depth > 64) {
            return false;
        }
        SkipSpace();
        if (pos_ >= s_.size()) {
            return false;
        }
        const char c = s_[pos_];
        if (c == '{') {
            ++pos_;
            out->kind = JsonValue::Kind::Object;
            if (Eat('}')) {
                return true;
            }
            do {
                JsonValue key;
                SkipSpace();
                if (!String(&key.text) || !Eat(':')) {
                    return false;
                }
                const std::string name = Utf16ToUtf8(key.text);
                if (out->Find(name) != nullptr) {
                    return false;  // a member twice
                }
                out->members.emplace_back(name, JsonValue());
                if (!Value(&out->members.back().second, depth + 1)) {
                    return false;
                }
            } while (Eat(','));
            return Eat('}');
        }
        if (c == '[') {
            ++pos_;
            out->kind = JsonValue::Kind::Array;
            if (Eat(']')) {
                return true;
            }
            do {
                out->items.emplace_back();
                if (!Value(&out->items.back(), depth + 1)) {
                    return false;
                }
            } while (Eat(','));
            return Eat(']');
        }
        if (c == '"') {
            out->kind = JsonValue::Kind::String;
            return String(&out->text);
        }
        if (c == 't' || c == 'f') {
            out->kind = JsonValue::Kind::Bool;
            out->boolean = c == 't';
            return Literal(c == 't' ? "true" : "false");
        }
        if (c == 'n') {
            out->kind = JsonValue::Kind::Null;
            return Literal("null");
        }
        out->kind = JsonValue::Kind::Number;
        return Number(out);
    }

    bool Digits() {
        const size_t start = pos_;
        while (pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9') {
            ++pos_;
        }
        return pos_ > start;
    }

    bool Number(JsonValue* out) {
        const size_t start = pos_;
        if (pos_ < s_.size() && s_[pos_] == '-') {
            ++pos_;
        }
        if (pos_ < s_.size() && s_[pos_] == '0') {
            ++pos_;
        } else if (!Digits()) {
            return false;
        }
        if (pos_ < s_.size() && s_[pos_] == '.') {
            ++pos_;
            if (!Digits()) {
                return false;
            }
        }
        if (pos_ < s_.size() && (s_[pos_] == 'e' || s_[pos_] == 'E')) {
            ++pos_;
            if (pos_ < s_.size() && (s_[pos_] == '+' || s_[pos_] == '-')) {
                ++pos_;
            }
            if (!Digits()) {
                return false;
            }
        }
        out->numberText = std::string(s_.substr(start, pos_ - start));
        out->number = std::strtod(out->numberText.c_str(), nullptr);
        return true;
    }

    static int Hex(char c) {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    }

    // A string literal into UTF-16; raw bytes must be valid UTF-8 (checked by a round trip of each sequence).
    bool String(WString* out) {
        if (pos_ >= s_.size() || s_[pos_] != '"') {
            return false;
        }
        ++pos_;
        std::string raw;
        auto flush = [&]() {
            if (!raw.empty()) {
                const WString converted = Utf8ToUtf16(raw);
                if (Utf16ToUtf8(converted) != raw) {
                    return false;  // not valid UTF-8: the conversion replaced something
                }
                out->append(converted);
                raw.clear();
            }
            return true;
        };
        while (pos_ < s_.size()) {
            const auto c = static_cast<unsigned char>(s_[pos_++]);
            if (c == '"') {
                return flush();
            }
            if (c < 0x20) {
                return false;
            }
            if (c != '\\') {
                raw += static_cast<char>(c);
                continue;
            }
            if (!flush() || pos_ >= s_.size()) {
                return false;
            }
            const char e = s_[pos_++];
            static constexpr std::string_view kShort = "\"\\/bfnrt";
            static constexpr char16_t kMeaning[] = u"\"\\/\b\f\n\r\t";
            if (const size_t k = kShort.find(e); k != std::string_view::npos) {
                out->push_back(static_cast<WChar>(kMeaning[k]));
                continue;
            }
            if (e != 'u' || pos_ + 4 > s_.size()) {
                return false;
            }
            int unit = 0;
            for (int k = 0; k < 4; ++k) {
                const int digit = Hex(s_[pos_++]);
                if (digit < 0) {
                    return false;
                }
                unit = unit * 16 + digit;
            }
            out->push_back(static_cast<WChar>(unit));
        }
        return false;
    }

    std::string_view s_;
    size_t pos_ = 0;
};

}  // namespace korva::tools::testing
