// A diagnostic log whose lines the test can read back: each line keeps its level, code and text, and the
// three coded forms (with a code, with an HRESULT, with a Windows code) can be told apart by their text.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "infra/log.h"
#include "platform/format.h"
#include "platform/text.h"
#include "policy/xml_dom.h"

namespace korva::testing {

struct CapturedLine {
    uint32_t level = 0;
    uint32_t code = 0;
    WString message;
};

class LogCapture : public cGjLogHandler {
  public:
    LogCapture() { log.AddHandler(this); }
    void Log(LogRecord record) override {
        lines.push_back({record.level, record.code, std::move(record.message)});
    }

    // A line written with LogMessage.
    bool HasMessage(uint32_t level, WStringView text) const {
        for (const CapturedLine& line : lines) {
            if (line.level == level && line.code == 0 && line.message == text)
                return true;
        }
        return false;
    }
    // A line written with LogWithCode.
    bool HasWithCode(uint32_t level, int32_t code, WStringView text) const {
        const WString expected = Format(KW("Error code (%d) - "), code) + WString(text);
        for (const CapturedLine& line : lines) {
            if (line.level == level && line.code == static_cast<uint32_t>(code) && line.message == expected) {
                return true;
            }
        }
        return false;
    }
    // A line written with LogHResult.
    bool HasHResult(uint32_t level, int32_t hresult, WStringView text) const {
        const WString expected =
            WString(text) + Format(KW(" Error code 0x%X. "), static_cast<uint32_t>(hresult));
        for (const CapturedLine& line : lines) {
            if (line.level == level && line.code == static_cast<uint32_t>(hresult) &&
                line.message.compare(0, expected.size(), expected) == 0) {
                return true;
            }
        }
        return false;
    }
    // A line written with LogSystemError.
    bool HasSystemError(uint32_t level, uint32_t code, WStringView text) const {
        const WString expected = WString(text) + Format(KW(" Error code (%d): "), static_cast<int32_t>(code));
        for (const CapturedLine& line : lines) {
            if (line.level == level && line.code == code &&
                line.message.compare(0, expected.size(), expected) == 0) {
                return true;
            }
        }
        return false;
    }
    // Lines whose text contains `part`.
    size_t Count(WStringView part) const {
        size_t count = 0;
        for (const CapturedLine& line : lines) {
            if (line.message.find(part) != WString::npos)
                ++count;
        }
        return count;
    }
    size_t CountAtLevel(uint32_t level) const {
        size_t count = 0;
        for (const CapturedLine& line : lines)
            count += line.level == level ? 1 : 0;
        return count;
    }
    // Every line, for failure messages.
    std::string Dump() const {
        std::string all;
        for (const CapturedLine& line : lines) {
            all += std::to_string(line.level) + " [" + std::to_string(static_cast<int32_t>(line.code)) +
                   "] " + Utf16ToUtf8(line.message) + "\n";
        }
        return all;
    }

    cGjLog log;
    std::vector<CapturedLine> lines;
};

// A parsed document and its first element with the given local name.
struct ParsedElement {
    std::unique_ptr<xml::Document> document;
    xml::Node element;
};

inline ParsedElement ParseElement(WStringView xmlText, WStringView localName) {
    ParsedElement parsed;
    WString error;
    if (xml::Document::Parse(xmlText, &parsed.document, &error) != 0 || parsed.document == nullptr)
        return parsed;
    std::vector<xml::Node> found;
    if (parsed.document->GetElementsByTagName(localName, &found) == 0 && !found.empty())
        parsed.element = found[0];
    return parsed;
}

inline std::string Narrow(WStringView text) {
    return Utf16ToUtf8(text);
}
inline std::string Narrow(const WChar* text) {
    return text != nullptr ? Utf16ToUtf8(text) : std::string("(null)");
}

}  // namespace korva::testing
