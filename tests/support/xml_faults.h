// Makes chosen DOM operations fail, installed on one document (or as the hook for Parse) for its lifetime.
// FailNext(op, hresult, nodeName): the next call of `op` on a node of that local name (any when empty) fails
// with `hresult`; faults wait in order and each is used once.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/text.h"
#include "xml/xml_dom.h"

namespace korva::testing {

class XmlFaults final : public xml::FaultHook {
  public:
    // Faults for the operations on `document` and its nodes.
    explicit XmlFaults(const xml::Document& document) : document_(&document) { document.SetFaultHook(this); }
    // Faults for Document::Parse.
    struct ForParse {};
    explicit XmlFaults(ForParse) { xml::Document::SetParseFaultHook(this); }
    ~XmlFaults() override {
        if (document_ != nullptr) {
            document_->SetFaultHook(nullptr);
        } else {
            xml::Document::SetParseFaultHook(nullptr);
        }
    }
    XmlFaults(const XmlFaults&) = delete;
    XmlFaults& operator=(const XmlFaults&) = delete;

    void FailNext(xml::Op op, int32_t hresult, WStringView nodeName = {}) {
        faults_.push_back(Fault{op, hresult, WString(nodeName)});
    }

    [[nodiscard]] int32_t Take(xml::Op op, const WString& nodeName) override {
        for (auto it = faults_.begin(); it != faults_.end(); ++it) {
            if (it->op == op && (it->nodeName.empty() || it->nodeName == nodeName)) {
                const int32_t hresult = it->hresult;
                faults_.erase(it);
                return hresult;
            }
        }
        return kSOk;
    }
    [[nodiscard]] bool Armed() const override { return !faults_.empty(); }

  private:
    struct Fault {
        xml::Op op;
        int32_t hresult;
        WString nodeName;
    };
    const xml::Document* document_ = nullptr;
    std::vector<Fault> faults_;
};

}  // namespace korva::testing
