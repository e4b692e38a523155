#include "directory/ldap_filter.h"

namespace korva::ldapfilter {

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

bool IsDescriptionChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == ';';
}

class Parser {
  public:
    Parser(std::string_view text, const FilterLimits& limits, std::string* error)
        : text_(text), limits_(limits), error_(error) {}

    bool Run(Node* root) {
        if (!ReadFilter(root, 0)) {
            return false;
        }
        if (pos_ != text_.size()) {
            return Fail("text after the end of the filter");
        }
        return true;
    }

  private:
    bool Fail(const std::string& reason) {
        *error_ = reason + " (at offset " + std::to_string(pos_) + ")";
        return false;
    }
    bool AtEnd() const { return pos_ >= text_.size(); }
    char Peek() const { return text_[pos_]; }

    bool ReadFilter(Node* node, size_t depth) {
        if (depth >= limits_.maxDepth) {
            return Fail("the filter is nested more than " + std::to_string(limits_.maxDepth) + " deep");
        }
        if (++nodes_ > limits_.maxNodes) {
            return Fail("the filter has more than " + std::to_string(limits_.maxNodes) + " parts");
        }
        if (AtEnd() || Peek() != '(') {
            return Fail("expected \"(\"");
        }
        ++pos_;
        if (AtEnd()) {
            return Fail("the filter ends after \"(\"");
        }
        const char c = Peek();
        if (c == '&' || c == '|') {
            ++pos_;
            node->kind = c == '&' ? Kind::And : Kind::Or;
            while (!AtEnd() && Peek() == '(') {
                if (!ReadFilter(&node->children.emplace_back(), depth + 1)) {
                    return false;
                }
            }
        } else if (c == '!') {
            ++pos_;
            node->kind = Kind::Not;
            if (!ReadFilter(&node->children.emplace_back(), depth + 1)) {
                return false;
            }
        } else if (!ReadItem(node)) {
            return false;
        }
        if (AtEnd() || Peek() != ')') {
            return Fail("expected \")\"");
        }
        ++pos_;
        return true;
    }

    // An attribute description; the options after ";" are dropped.
    bool ReadAttribute(std::string* attribute) {
        const size_t start = pos_;
        while (!AtEnd() && IsDescriptionChar(Peek())) {
            ++pos_;
        }
        std::string_view description = text_.substr(start, pos_ - start);
        *attribute = std::string(description.substr(0, description.find(';')));
        return true;
    }

    // An assertion value up to the next unescaped "*" or ")"; `star` says whether "*" ends it.
    bool ReadValue(std::string* value, bool stopAtStar) {
        while (!AtEnd()) {
            const char c = Peek();
            if (c == ')' || (stopAtStar && c == '*')) {
                return true;
            }
            if (c == '(' || c == '\0' || (!stopAtStar && c == '*')) {
                return Fail("an unescaped \"" + std::string(c == '\0' ? "NUL" : std::string(1, c)) +
                            "\" in a value");
            }
            if (c == '\\') {
                if (pos_ + 2 >= text_.size() || HexDigit(text_[pos_ + 1]) < 0 ||
                    HexDigit(text_[pos_ + 2]) < 0) {
                    return Fail("\"\\\" must be followed by two hex digits");
                }
                value->push_back(
                    static_cast<char>(HexDigit(text_[pos_ + 1]) * 16 + HexDigit(text_[pos_ + 2])));
                pos_ += 3;
                continue;
            }
            value->push_back(c);
            ++pos_;
        }
        return Fail("the filter ends inside a value");
    }

    bool ReadItem(Node* node) {
        if (!ReadAttribute(&node->attribute)) {
            return false;
        }
        if (AtEnd()) {
            return Fail("the filter ends after an attribute name");
        }
        if (Peek() == ':') {
            return ReadExtensible(node);
        }
        if (node->attribute.empty()) {
            return Fail("an attribute name is missing");
        }
        const char c = Peek();
        if (c == '~' || c == '>' || c == '<') {
            ++pos_;
            if (AtEnd() || Peek() != '=') {
                return Fail("expected \"=\" after \"" + std::string(1, c) + "\"");
            }
            ++pos_;
            node->kind = c == '~' ? Kind::Approx : (c == '>' ? Kind::GreaterOrEqual : Kind::LessOrEqual);
            return ReadValue(&node->value, false);
        }
        if (c != '=') {
            return Fail("expected \"=\", \"~=\", \">=\", \"<=\" or \":\" after the attribute name");
        }
        ++pos_;
        // Equality, presence or substrings, told apart by the unescaped stars.
        std::vector<std::string> parts(1);
        for (;;) {
            if (!ReadValue(&parts.back(), true)) {
                return false;
            }
            if (Peek() != '*') {
                break;
            }
            ++pos_;
            parts.emplace_back();
        }
        if (parts.size() == 1) {
            node->kind = Kind::Equal;
            node->value = std::move(parts[0]);
        } else if (parts.size() == 2 && parts[0].empty() && parts[1].empty()) {
            node->kind = Kind::Present;
        } else {
            node->kind = Kind::Substrings;
            node->initial = std::move(parts.front());
            node->final = std::move(parts.back());
            for (size_t i = 1; i + 1 < parts.size(); ++i) {
                if (parts[i].empty()) {
                    return Fail("two \"*\" in a row in a substring filter");
                }
                node->any.push_back(std::move(parts[i]));
            }
        }
        return true;
    }

    // attr[:dn][:rule]:=value, or [:dn]:rule:=value.
    bool ReadExtensible(Node* node) {
        node->kind = Kind::Extensible;
        while (!AtEnd() && Peek() == ':') {
            ++pos_;
            if (!AtEnd() && Peek() == '=') {
                ++pos_;
                if (node->attribute.empty() && node->rule.empty()) {
                    return Fail("an extensible match needs an attribute or a matching rule");
                }
                return ReadValue(&node->value, false);
            }
            std::string part;
            const size_t start = pos_;
            while (!AtEnd() && IsDescriptionChar(Peek()) && Peek() != ';') {
                ++pos_;
            }
            part = std::string(text_.substr(start, pos_ - start));
            if (part.empty()) {
                return Fail("an empty part in an extensible match");
            }
            if ((part == "dn" || part == "DN") && node->rule.empty() && !node->dnAttributes) {
                node->dnAttributes = true;
            } else if (node->rule.empty()) {
                node->rule = std::move(part);
            } else {
                return Fail("too many parts in an extensible match");
            }
        }
        return Fail("expected \":=\" in an extensible match");
    }

    std::string_view text_;
    const FilterLimits& limits_;
    std::string* error_;
    size_t pos_ = 0;
    size_t nodes_ = 0;
};

}  // namespace

bool Parse(std::string_view text, const FilterLimits& limits, Node* root, std::string* error) {
    *root = Node{};
    error->clear();
    if (text.size() > limits.maxLength) {
        *error = "the filter is longer than " + std::to_string(limits.maxLength) + " bytes";
        return false;
    }
    std::string wrapped;
    if (text.empty() || text[0] != '(') {
        wrapped = "(" + std::string(text) + ")";
        text = wrapped;
    }
    Parser parser(text, limits, error);
    if (!parser.Run(root)) {
        *root = Node{};
        return false;
    }
    return true;
}

std::string EscapeValue(std::string_view bytes) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    for (char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '*' || c == '(' || c == ')' || c == '\\' || byte < 0x20 || byte >= 0x7F) {
            out += '\\';
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace korva::ldapfilter
