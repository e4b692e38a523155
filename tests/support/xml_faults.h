// Makes chosen DOM operations fail, for its lifetime: those on one document and its nodes, or (ForParse) those
// of Document::Parse. FailNext(op, hresult, nodeName): the next call of `op` on a node of that local name (any
// when empty) fails with `hresult`; faults wait in order and each is used once.
#pragma once

#include <algorithm>
#include <cstdint>
#include <tuple>
#include <vector>

#include "platform/text.h"
#include "xml/xml_dom.h"

namespace korva::testing {

class XmlFaults final : public xml::FaultHook {
  public:
    explicit XmlFaults(const xml::Document& document) : document_(&document) { document.SetFaultHook(this); }
    struct ForParse {};
    explicit XmlFaults(ForParse) { xml::Document::SetParseFaultHook(this); }
    ~XmlFaults() override {
        document_ != nullptr ? document_->SetFaultHook(nullptr) : xml::Document::SetParseFaultHook(nullptr);
    }
    XmlFaults(const XmlFaults&) = delete;
    XmlFaults& operator=(const XmlFaults&) = delete;

    void FailNext(xml::Op op, int32_t hresult, WStringView nodeName = {}) {
        faults_.push_back({op, hresult, WString(nodeName)});
    }

    [[nodiscard]] int32_t Take(xml::Op op, const WString& nodeName) override {
        const auto it = std::find_if(faults_.begin(), faults_.end(), [&](const auto& fault) {
            return std::get<0>(fault) == op && (std::get<2>(fault).empty() || std::get<2>(fault) == nodeName);
        });
        if (it == faults_.end())
            return kSOk;
        const int32_t hresult = std::get<1>(*it);
        faults_.erase(it);
        return hresult;
    }
    [[nodiscard]] bool Armed() const override { return !faults_.empty(); }

  private:
    const xml::Document* document_ = nullptr;
    std::vector<std::tuple<xml::Op, int32_t, WString>> faults_;  // operation, HRESULT, node name
};

}  // namespace korva::testing
