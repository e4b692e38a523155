#include "directory/dn.h"

#include <algorithm>

namespace korva::dn {

namespace {

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string LowerAscii(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(), Lower);
    return lower;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    c = Lower(c);
    return (c >= 'a' && c <= 'f') ? c - 'a' + 10 : -1;
}

bool IsTypeChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

class Parser {
  public:
    explicit Parser(std::string_view text) : text_(text) {}

    bool Run(std::vector<Rdn>* rdns) {
        SkipSpaces();
        if (AtEnd()) {
            return true;
        }
        Rdn rdn;
        for (;;) {
            Ava ava;
            if (!ReadType(&ava.type) || !ReadValue(&ava)) {
                return false;
            }
            rdn.push_back(std::move(ava));
            if (AtEnd()) {
                rdns->push_back(std::move(rdn));
                return true;
            }
            const char separator = text_[pos_++];
            if (separator != '+') {
                rdns->push_back(std::move(rdn));
                rdn.clear();
            }
            SkipSpaces();
        }
    }

  private:
    bool AtEnd() const { return pos_ >= text_.size(); }
    void SkipSpaces() {
        while (!AtEnd() && text_[pos_] == ' ') {
            ++pos_;
        }
    }

    bool ReadType(std::string* type) {
        SkipSpaces();
        const size_t start = pos_;
        while (!AtEnd() && IsTypeChar(text_[pos_])) {
            ++pos_;
        }
        *type = std::string(text_.substr(start, pos_ - start));
        SkipSpaces();
        if (type->empty() || AtEnd() || text_[pos_] != '=') {
            return false;
        }
        ++pos_;
        SkipSpaces();
        return true;
    }

    // After a backslash: one of the special characters, or two hex digits for one byte.
    bool ReadEscape(std::string* value) {
        if (AtEnd()) {
            return false;
        }
        const int high = HexDigit(text_[pos_]);
        if (high >= 0) {
            if (pos_ + 1 >= text_.size() || HexDigit(text_[pos_ + 1]) < 0) {
                return false;
            }
            value->push_back(static_cast<char>(high * 16 + HexDigit(text_[pos_ + 1])));
            pos_ += 2;
            return true;
        }
        value->push_back(text_[pos_++]);
        return true;
    }

    bool ReadValue(Ava* ava) {
        std::string* value = &ava->value;
        if (!AtEnd() && text_[pos_] == '#') {
            ava->hex = true;
            // A BER-encoded value in hex: kept as written, compared without case.
            const size_t start = pos_++;
            while (!AtEnd() && HexDigit(text_[pos_]) >= 0) {
                ++pos_;
            }
            if ((pos_ - start - 1) % 2 != 0 || pos_ - start == 1) {
                return false;
            }
            *value = LowerAscii(text_.substr(start, pos_ - start));
            return EndOfValue();
        }
        if (!AtEnd() && text_[pos_] == '"') {
            ++pos_;
            for (;;) {
                if (AtEnd()) {
                    return false;
                }
                const char c = text_[pos_++];
                if (c == '"') {
                    break;
                }
                if (c == '\\') {
                    if (!ReadEscape(value)) {
                        return false;
                    }
                } else {
                    value->push_back(c);
                }
            }
            return EndOfValue();
        }
        size_t keep = 0;  // length of the value without unescaped trailing spaces
        while (!AtEnd()) {
            const char c = text_[pos_];
            if (c == ',' || c == ';' || c == '+') {
                break;
            }
            ++pos_;
            if (c == '\\') {
                if (!ReadEscape(value)) {
                    return false;
                }
                keep = value->size();
            } else {
                value->push_back(c);
                if (c != ' ') {
                    keep = value->size();
                }
            }
        }
        value->resize(keep);
        return EndOfValue();
    }

    // A value ends at the end of the text or at a separator that has something after it.
    bool EndOfValue() {
        SkipSpaces();
        if (AtEnd()) {
            return true;
        }
        const char c = text_[pos_];
        if (c != ',' && c != ';' && c != '+') {
            return false;
        }
        size_t next = pos_ + 1;
        while (next < text_.size() && text_[next] == ' ') {
            ++next;
        }
        return next < text_.size();
    }

    std::string_view text_;
    size_t pos_ = 0;
};

// Position of the first "," that is not escaped, or npos.
size_t FirstSeparator(std::string_view key) {
    for (size_t i = 0; i < key.size(); ++i) {
        if (key[i] == '\\') {
            ++i;
        } else if (key[i] == ',') {
            return i;
        }
    }
    return std::string_view::npos;
}

}  // namespace

bool Parse(std::string_view text, std::vector<Rdn>* rdns) {
    rdns->clear();
    Parser parser(text);
    if (!parser.Run(rdns)) {
        rdns->clear();
        return false;
    }
    return true;
}

std::string EscapeValue(std::string_view value) {
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (c == '\0') {
            out += "\\00";
            continue;
        }
        const bool special = c == ',' || c == '+' || c == '"' || c == '\\' || c == '<' || c == '>' ||
                             c == ';' || c == '=' || (i == 0 && (c == '#' || c == ' ')) ||
                             (i + 1 == value.size() && c == ' ');
        if (special) {
            out += '\\';
        }
        out += c;
    }
    return out;
}

bool Normalize(std::string_view text, std::string* key) {
    key->clear();
    std::vector<Rdn> rdns;
    if (!Parse(text, &rdns)) {
        return false;
    }
    for (const Rdn& rdn : rdns) {
        std::vector<std::string> pairs;
        for (const Ava& ava : rdn) {
            // A hex value is already lower-case and keeps its leading "#" unescaped.
            pairs.push_back(LowerAscii(ava.type) + "=" +
                            (ava.hex ? ava.value : EscapeValue(LowerAscii(ava.value))));
        }
        std::sort(pairs.begin(), pairs.end());
        if (!key->empty()) {
            key->push_back(',');
        }
        for (size_t i = 0; i < pairs.size(); ++i) {
            if (i > 0) {
                key->push_back('+');
            }
            key->append(pairs[i]);
        }
    }
    return true;
}

std::string ParentKey(std::string_view key) {
    const size_t comma = FirstSeparator(key);
    return comma == std::string_view::npos ? std::string() : std::string(key.substr(comma + 1));
}

bool IsSameOrBelow(std::string_view key, std::string_view ancestor) {
    if (ancestor.empty() || key == ancestor) {
        return true;
    }
    if (key.size() <= ancestor.size() || key.substr(key.size() - ancestor.size()) != ancestor) {
        return false;
    }
    // The character before the ancestor must be a separator, not an escaped comma.
    size_t comma = key.size() - ancestor.size() - 1;
    if (key[comma] != ',') {
        return false;
    }
    size_t backslashes = 0;
    while (comma > 0 && key[comma - 1] == '\\') {
        ++backslashes;
        --comma;
    }
    return backslashes % 2 == 0;
}

bool ToCanonicalName(const std::vector<Rdn>& rdns, std::string* canonical) {
    canonical->clear();
    size_t domainStart = rdns.size();
    while (domainStart > 0 && rdns[domainStart - 1].size() == 1 &&
           LowerAscii(rdns[domainStart - 1][0].type) == "dc") {
        --domainStart;
    }
    if (domainStart == rdns.size()) {
        return false;
    }
    for (size_t i = domainStart; i < rdns.size(); ++i) {
        if (i > domainStart) {
            canonical->push_back('.');
        }
        canonical->append(rdns[i][0].value);
    }
    if (domainStart == 0) {
        canonical->push_back('/');
        return true;
    }
    for (size_t i = domainStart; i-- > 0;) {
        canonical->push_back('/');
        for (char c : rdns[i][0].value) {
            if (c == '/') {
                canonical->push_back('\\');
            }
            canonical->push_back(c);
        }
    }
    return true;
}

}  // namespace korva::dn
