// DocumentLoadReport: what loading a policy document learnt beyond the policies themselves, for tools that
// check a document before it is stored (korva-policy lint). The logon screen asks for none.
//
// A finding is a value the engine read but could not use as written and replaced silently: a numeric
// element or attribute whose text is not a number the engine accepts ("eight", " 8", "+8", ".5"), so the
// logon screen uses a default or an earlier value instead. The engine's reading stays literal on purpose
// (the administrator sees the finding and fixes the text; the logon screen never guesses).
//
// The report reaches the rule loaders without changing their shared signature: the load that wants one
// installs it for its own thread with LoadReportScope; every loader on that thread adds its findings to it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "platform/result_codes.h"
#include "platform/text.h"

namespace korva {

namespace xml {
class Node;
}

struct ValueFinding {
    WString path;  // the element, "/PolicyList/Policy/Rule[2]/MinimumLength", or "/@Name" after it
    WString text;  // as written
    WString used;  // what the logon screen uses instead, "6 (the default)"
};

struct DocumentLoadReport {
    std::optional<WString> time;     // the time suffix, without its "#" marks
    std::optional<WString> version;  // the PolicyList's "version"; none when absent or empty
    int32_t parseStatus = kSFalse;   // of the XML parse; S_FALSE also when the parse never ran
    WString parseError;              // why the text is not well-formed XML
    size_t policyLists = 0;          // "PolicyList" elements in the document
    size_t policyElements = 0;       // element children of the PolicyList element
    size_t otherNodes = 0;           // its comments, processing instructions and text
    std::vector<ValueFinding> findings;
};

// Installs `report` (borrowed; null: none) as the report of the loads on this thread for the scope's
// lifetime; scopes nest.
class LoadReportScope {
  public:
    explicit LoadReportScope(DocumentLoadReport* report);
    ~LoadReportScope();
    LoadReportScope(const LoadReportScope&) = delete;
    LoadReportScope& operator=(const LoadReportScope&) = delete;

  private:
    DocumentLoadReport* previous_;
};

// The report of the load on this thread, or null.
DocumentLoadReport* CurrentLoadReport();

// Adds a finding for the text of `element` (or of its attribute `attribute`, when not null) that was not a
// number. `used` says what is used instead; it is only called when a report is being kept.
void ReportNotANumber(const xml::Node& element, const WChar* attribute, WStringView text,
                      const std::function<WString()>& used);

}  // namespace korva
