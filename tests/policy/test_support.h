// Helpers of the policy engine's tests: a log that keeps its records, and XML text parsed into an element.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "infra/log.h"
#include "platform/text.h"
#include "xml/xml_dom.h"

namespace korva::testing {

constexpr int32_t kInjected = static_cast<int32_t>(0x80070005u);  // E_ACCESSDENIED, as an injected failure

inline std::string U8(WStringView text) {
    return Utf16ToUtf8(text);
}
inline std::string U8(const WChar* text) {
    return text != nullptr ? Utf16ToUtf8(text) : std::string("(null)");
}

class CapturedLog : public cGjLogHandler {
  public:
    CapturedLog() { log.AddHandler(this); }
    void Log(LogRecord record) override { records.push_back(std::move(record)); }

    // True when a record contains `text`, at `level` unless 0, with `code` when given.
    bool Has(WStringView text, uint32_t level = 0, std::optional<int32_t> code = std::nullopt) const {
        return std::any_of(records.begin(), records.end(), [&](const LogRecord& r) {
            return r.message.find(text) != WString::npos && (level == 0 || r.level == level) &&
                   (!code || r.code == static_cast<uint32_t>(*code));
        });
    }
    size_t Errors() const {
        return static_cast<size_t>(std::count_if(records.begin(), records.end(),
                                                 [](const LogRecord& r) { return r.level == kLogError; }));
    }
    std::string Dump() const {
        std::string text;
        for (const LogRecord& r : records)
            text += "  [" + std::to_string(r.level) + "/" + std::to_string(static_cast<int32_t>(r.code)) +
                    "] " + U8(r.message) + "\n";
        return text;
    }

    cGjLog log;
    std::vector<LogRecord> records;
};

// A parsed XML text and its root element.
struct ParsedElement {
    std::unique_ptr<xml::Document> document;
    xml::Node element;
};

inline ParsedElement ParseElement(WStringView text) {
    ParsedElement parsed;
    std::vector<xml::Node> children;
    EXPECT_EQ(xml::Document::Parse(text, &parsed.document), 0) << U8(text);
    if (parsed.document != nullptr && parsed.document->Root().GetChildNodes(&children) == 0 &&
        !children.empty())
        parsed.element = children.front();
    return parsed;
}

}  // namespace korva::testing
