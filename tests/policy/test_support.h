// Helpers shared by the policy engine's tests: a log that keeps its records, and XML fragments parsed into
// elements.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "infra/log.h"
#include "platform/text.h"
#include "policy/xml_dom.h"

namespace korva::testing {

inline std::string U8(WStringView text) {
    return Utf16ToUtf8(text);
}
inline std::string U8(const WChar* text) {
    return text != nullptr ? Utf16ToUtf8(text) : std::string("(null)");
}

// A cGjLog whose records are kept for inspection.
class CapturedLog : public cGjLogHandler {
  public:
    CapturedLog() { log.AddHandler(this); }
    void Log(LogRecord record) override { records.push_back(std::move(record)); }

    // Index of the first record at or after `from` whose message contains `text` (and has `level` when not
    // 0); -1 when there is none.
    int Find(WStringView text, uint32_t level = 0, size_t from = 0) const {
        for (size_t i = from; i < records.size(); ++i) {
            if (records[i].message.find(text) != WString::npos && (level == 0 || records[i].level == level)) {
                return static_cast<int>(i);
            }
        }
        return -1;
    }
    bool Has(WStringView text, uint32_t level = 0) const { return Find(text, level) >= 0; }
    // The record containing `text`; fails the test when there is none.
    const LogRecord& Get(WStringView text) const {
        const int index = Find(text);
        EXPECT_GE(index, 0) << "no log line contains \"" << U8(text) << "\"\n" << Dump();
        static const LogRecord kNone;
        return index >= 0 ? records[static_cast<size_t>(index)] : kNone;
    }
    // Expects a record containing `text` with this level and code.
    void ExpectLine(WStringView text, uint32_t level, int32_t code = 0) const {
        const int index = Find(text);
        ASSERT_GE(index, 0) << "no log line contains \"" << U8(text) << "\"\n" << Dump();
        EXPECT_EQ(records[static_cast<size_t>(index)].level, level) << U8(text);
        EXPECT_EQ(static_cast<int32_t>(records[static_cast<size_t>(index)].code), code) << U8(text);
    }
    // True when `first` is logged, and `second` after it.
    bool InOrder(WStringView first, WStringView second) const {
        const int a = Find(first);
        return a >= 0 && Find(second, 0, static_cast<size_t>(a) + 1) >= 0;
    }
    size_t CountErrors() const {
        size_t count = 0;
        for (const LogRecord& record : records) {
            count += record.level == kLogError ? 1 : 0;
        }
        return count;
    }
    std::string Dump() const {
        std::string text;
        for (const LogRecord& record : records) {
            text += "  [" + std::to_string(record.level) + "] " + U8(record.message) + "\n";
        }
        return text;
    }
    void Clear() { records.clear(); }

    cGjLog log;
    std::vector<LogRecord> records;
};

// A parsed XML fragment and its root element.
struct ParsedElement {
    std::unique_ptr<xml::Document> document;
    xml::Node element;
};

inline ParsedElement ParseElement(WStringView text) {
    ParsedElement parsed;
    WString error;
    const int32_t status = xml::Document::Parse(text, &parsed.document, &error);
    EXPECT_EQ(status, 0) << U8(error) << "\n" << U8(text);
    if (status != 0 || parsed.document == nullptr) {
        return parsed;
    }
    std::vector<xml::Node> children;
    parsed.document->Root().GetChildNodes(&children);
    for (const xml::Node& child : children) {
        if (child.IsElement()) {
            parsed.element = child;
            break;
        }
    }
    return parsed;
}

}  // namespace korva::testing
