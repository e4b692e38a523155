#include "directory/directory.h"

#include "platform/result_codes.h"

namespace korva {

namespace {

// The directory before a real one is installed: nothing can be reached.
class UnavailableDirectory final : public Directory {
  public:
    int32_t GetJoinedDomain(cGjLog&, WString* flatName) override {
        flatName->clear();
        return winerr::kCallNotImplemented;
    }
    int32_t FlatToDnsDomain(cGjLog&, const WChar*, WString* dnsName) override {
        dnsName->clear();
        return winerr::kCallNotImplemented;
    }
    int32_t GetUserSid(cGjLog&, const WChar*, const WChar*, WString* sid) override {
        sid->clear();
        return winerr::kCallNotImplemented;
    }
    int32_t LookupAccountBySid(cGjLog&, const SidBytes&, WString* accountName, WString* domainName,
                               uint32_t* use) override {
        accountName->clear();
        domainName->clear();
        *use = 0;
        return winerr::kCallNotImplemented;
    }
    int32_t CanonicalToDistinguishedName(cGjLog&, const WChar*, WString* distinguishedName) override {
        distinguishedName->clear();
        return winerr::kCallNotImplemented;
    }
    int32_t BindObject(const WChar*, ObjectInterface, std::unique_ptr<DirectoryObject>* object) override {
        object->reset();
        return kENotImpl;
    }
    int32_t StringToSid(const WChar*, SidBytes* sid) override {
        sid->clear();
        return winerr::kCallNotImplemented;
    }
    int32_t SidToString(const SidBytes&, WString* sidText) override {
        sidText->clear();
        return winerr::kCallNotImplemented;
    }
    int32_t BindDomainController(const WChar*, std::unique_ptr<DomainControllerBinding>* binding) override {
        binding->reset();
        return winerr::kCallNotImplemented;
    }
};

Directory*& Current() {
    static UnavailableDirectory unavailable;
    static Directory* current = &unavailable;
    return current;
}

}  // namespace

Directory& Dir() {
    return *Current();
}

ScopedDirectoryOverride::ScopedDirectoryOverride(Directory* replacement) : previous_(Current()) {
    Current() = replacement;
}

ScopedDirectoryOverride::~ScopedDirectoryOverride() {
    Current() = previous_;
}

WString DnsDomainToDistinguishedName(WStringView dnsName) {
    WString result = KW("DC=");
    for (WChar c : dnsName) {
        if (c == u'.') {
            result += KW(",DC=");
        } else {
            result += c;
        }
    }
    return result;
}

}  // namespace korva
