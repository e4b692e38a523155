#include "policy/load_report.h"

#include "xml/xml_dom.h"

namespace korva {

namespace {
thread_local DocumentLoadReport* gCurrentReport = nullptr;
}

LoadReportScope::LoadReportScope(DocumentLoadReport* report) : previous_(gCurrentReport) {
    gCurrentReport = report;
}

LoadReportScope::~LoadReportScope() {
    gCurrentReport = previous_;
}

DocumentLoadReport* CurrentLoadReport() {
    return gCurrentReport;
}

void ReportNotANumber(const xml::Node& element, const WChar* attribute, WStringView text,
                      const std::function<WString()>& used) {
    DocumentLoadReport* report = gCurrentReport;
    if (report == nullptr) {
        return;
    }
    ValueFinding finding;
    finding.path = element.Path();
    if (attribute != nullptr) {
        finding.path += KW("/@");
        finding.path += attribute;
    }
    // The two rules of a type 4 element both read its shared children: one finding per value.
    for (const ValueFinding& earlier : report->findings) {
        if (earlier.path == finding.path) {
            return;
        }
    }
    finding.text = WString(text);
    finding.used = used();
    report->findings.push_back(std::move(finding));
}

}  // namespace korva
