// A strict JSON checker for the tools' tests: one value by the RFC 8259 grammar, strings in valid UTF-8
// without raw control characters. It also lists every scalar by its path ("policies/0/rules/1/type") with its
// text as written (strings keep their quotes and escapes), so that tests can read values without a DOM.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace korva::tools::testing {

using JsonScalars = std::map<std::string, std::string>;

class JsonCheck {
  public:
    // True when `text` is exactly one JSON value with only white space around it.
    static bool Valid(std::string_view text, JsonScalars* scalars = nullptr) {
        JsonCheck check(text, scalars);
        return check.Value("") && check.Space() && check.pos_ == text.size();
    }

  private:
    JsonCheck(std::string_view text, JsonScalars* scalars) : s_(text), scalars_(scalars) {}
    bool More() const { return pos_ < s_.size(); }
    // Each of these takes the next byte(s) when they fit, else leaves them.
    bool In(std::string_view set) { return More() && set.find(s_[pos_]) != set.npos && (++pos_, true); }
    bool Tail(int bytes, uint8_t low = 0x80, uint8_t high = 0xBF) {
        const auto byte = static_cast<uint8_t>(More() ? s_[pos_] : 0);
        return bytes == 0 || (byte >= low && byte <= high && ++pos_ && Tail(bytes - 1));
    }
    bool Space() { return !In(" \t\r\n") || Space(); }
    bool Eat(char c) { return Space() && In({&c, 1}); }
    bool Word(std::string_view word) { return s_.substr(pos_, word.size()) == word && (pos_ += word.size()); }
    bool Digits() { return In("0123456789") && (Digits() || true); }
    bool Hex() { return In("0123456789abcdefABCDEF"); }
    // No leading zero: "01" stops after the "0", and what follows fails the caller.
    bool Number() {
        return (In("-") || true) && (In("0") || Digits()) && (!In(".") || Digits()) &&
               (!In("eE") || ((In("+-") || true) && Digits()));
    }
    // The rest of a UTF-8 sequence by RFC 3629: the lead byte fixes its length and the range of the first
    // continuation byte, which rules out overlong forms, surrogates and code points past U+10FFFF.
    bool Utf8(uint8_t lead) {
        const uint8_t low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
        const uint8_t high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
        return lead >= 0xC2 && lead <= 0xF4 && Tail(1 + (lead >= 0xE0) + (lead >= 0xF0), low, high);
    }
    bool String() {
        if (!In("\"")) {
            return false;
        }
        while (More()) {
            const auto c = static_cast<uint8_t>(s_[pos_++]);
            if (c == '"') {
                return true;
            }
            if (c < 0x20 || (c == '\\' && !(In("u") ? Hex() && Hex() && Hex() && Hex() : In("\"\\/bfnrt"))) ||
                (c >= 0x80 && !Utf8(c))) {
                return false;
            }
        }
        return false;
    }
    bool Value(const std::string& path) {
        const size_t start = (Space(), pos_);
        if (!In("{[")) {
            const bool ok = String() || Word("true") || Word("false") || Word("null") || Number();
            return ok && (scalars_ == nullptr || ((*scalars_)[path] = s_.substr(start, pos_ - start), true));
        }
        const char close = s_[start] == '{' ? '}' : ']';
        for (size_t i = 0; !(i == 0 && Eat(close)); ++i) {
            const size_t key = (Space(), pos_);
            if (close == '}' && !(String() && Eat(':'))) {
                return false;
            }
            const std::string name = close == '}'
                                         ? std::string(s_.substr(key + 1, s_.rfind('"', pos_) - key - 1))
                                         : std::to_string(i);
            if (!Value(path.empty() ? name : path + "/" + name)) {
                return false;
            }
            if (!Eat(',')) {
                return Eat(close);
            }
        }
        return true;
    }

    std::string_view s_;
    JsonScalars* scalars_;
    size_t pos_ = 0;
};

}  // namespace korva::tools::testing
