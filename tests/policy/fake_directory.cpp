#include "tests/policy/fake_directory.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "platform/format.h"

namespace korva::testing {
namespace {

using Op = FakeDirectory::Op;

WString Text(const WChar* text) {
    return text != nullptr ? WString(text) : WString();
}

bool IsSidText(WStringView text) {
    return text.substr(0, 2) == KW("S-");
}

// An attribute's array value, whose steps can fail. A failed release still releases (the caller tried).
template <class Stored, class Element>
class FakeArray : public Stored {
  public:
    template <class Values>
    FakeArray(FakeDirectory& owner, Values values) : Stored(std::move(values)), owner_(owner) {}
    int32_t AccessData(const Element** data) override {
        *data = nullptr;
        const int32_t fault = owner_.TakeFault(Op::ArrayAccess);
        owner_.openArrayAccesses_ += fault == 0 ? 1 : 0;
        return fault != 0 ? fault : Stored::AccessData(data);
    }
    int32_t Unaccess() override {
        --owner_.openArrayAccesses_;
        return owner_.TakeFault(Op::ArrayUnaccess);
    }

  protected:
    FakeDirectory& owner_;
};

class FakeBytes final : public FakeArray<StoredByteArray, uint8_t> {
  public:
    using FakeArray::FakeArray;
    int32_t GetLowerBound(int32_t* lower) const override {
        *lower = 0;
        const int32_t fault = owner_.TakeFault(Op::ArrayBounds);
        return fault != 0 ? fault : StoredByteArray::GetLowerBound(lower);
    }
};

class FakeObject final : public DirectoryObject {
  public:
    FakeObject(FakeDirectory& owner, const FakeDirectory::Object& object, bool boundAsUser)
        : owner_(owner), object_(object), boundAsUser_(boundAsUser) {
        ++owner_.openObjects_;
    }
    ~FakeObject() override { --owner_.openObjects_; }

    int32_t QueryInterface(ObjectInterface iface) override {
        if (const int32_t fault = owner_.TakeFault(Op::QueryInterface))
            return fault;
        return iface == ObjectInterface::User && !object_.isUser ? kENoInterface : 0;
    }

    int32_t GetInfo() override { return owner_.TakeFault(Op::GetInfo); }

    int32_t Get(const WChar* attribute, AttributeValue* value) override {
        *value = AttributeValue{};
        if (const int32_t fault = owner_.TakeFault(Op::Get, Text(attribute)))
            return fault;
        const auto found = object_.attributes.find(AsciiLower(Text(attribute)));  // names ignore case
        if (found == object_.attributes.end())
            return kEAdsPropertyNotFound;
        *value = found->second;
        return 0;
    }

    int32_t GetUserProperty(UserProperty property, WString* value) override {
        value->clear();
        const auto found = object_.userProperties.find(property);
        if (const int32_t fault = owner_.TakeFault(Op::GetUserProperty))
            return fault;
        if (!boundAsUser_ || found == object_.userProperties.end())
            return boundAsUser_ ? kEAdsPropertyNotFound : kENoInterface;
        *value = found->second;
        return 0;
    }

  private:
    FakeDirectory& owner_;
    const FakeDirectory::Object& object_;
    bool boundAsUser_;
};

class FakeBinding final : public DomainControllerBinding {
  public:
    FakeBinding(FakeDirectory& owner, WStringView domain) : owner_(owner), domain_(AsciiLower(domain)) {
        ++owner_.openBindings_;
    }
    ~FakeBinding() override { --owner_.openBindings_; }

    int32_t CrackName(uint32_t, uint32_t, uint32_t format, const WChar* name, CrackedName* out) override {
        *out = CrackedName{};
        if (const int32_t fault = owner_.TakeFault(Op::CrackName, Text(name)))
            return fault;
        out->hasItem = true;
        if (const int32_t status = owner_.TakeFault(Op::CrackStatus, Text(name))) {
            out->status = static_cast<uint32_t>(status);
            return 0;
        }
        const auto found = owner_.cracked_.find(FakeDirectory::CrackKey(format, Text(name)));
        if (found == owner_.cracked_.end()) {
            out->status = kDsNameErrorNotFound;
        } else if (const WString& home = found->second.second; !home.empty() && AsciiLower(home) != domain_) {
            out->status = kDsNameErrorDomainOnly;
            out->domain = home;
        } else {
            out->domain = domain_;
            out->name = found->second.first;
        }
        return 0;
    }

  private:
    FakeDirectory& owner_;
    WString domain_;
};

class FakeTranslator final : public NameTranslator {
  public:
    explicit FakeTranslator(FakeDirectory& owner) : owner_(owner) { ++owner_.openTranslators_; }
    ~FakeTranslator() override { --owner_.openTranslators_; }

    int32_t Init(uint32_t, const WChar* domain) override {
        return owner_.TakeFault(Op::TranslateInit, Text(domain));
    }
    int32_t Set(uint32_t type, const WChar* name) override {
        dn_.clear();
        if (const int32_t fault = owner_.TakeFault(Op::TranslateSet, Text(name)))
            return fault;
        // NameTranslate knows the names cracking to distinguished names knows.
        const auto found = owner_.cracked_.find(FakeDirectory::CrackKey(kDsFqdn1779Name, Text(name)));
        if (type != kAdsNameTypeUserPrincipalName || found == owner_.cracked_.end())
            return kEDsNameNotFound;
        dn_ = found->second.first;
        return 0;
    }
    int32_t Get(uint32_t type, WString* name) override {
        name->clear();
        if (const int32_t fault = owner_.TakeFault(Op::TranslateGet))
            return fault;
        if (dn_.empty() || type != kAdsNameType1779)
            return kEUnexpected;
        *name = dn_;
        return 0;
    }

  private:
    FakeDirectory& owner_;
    WString dn_;
};

}  // namespace

FakeDirectory::~FakeDirectory() {
    if (openObjects_ != 0 || openBindings_ != 0 || openArrayAccesses_ != 0 || openTranslators_ != 0 ||
        comDepth_ != 0) {
        std::fprintf(
            stderr, "FakeDirectory leaked: %d objects, %d bindings, %d array locks, %d translators, %d COM\n",
            openObjects_, openBindings_, openArrayAccesses_, openTranslators_, comDepth_);
        std::abort();
    }
}

FakeDirectory::Object& FakeDirectory::Object::SetTexts(WStringView attribute, std::vector<WString> texts) {
    Set(attribute, AttributeValue::Kind::TextList).texts =
        std::make_shared<FakeArray<StoredTextArray, std::vector<WString>>>(*owner, std::move(texts));
    return *this;
}

FakeDirectory::Object& FakeDirectory::Object::SetBytes(WStringView attribute, std::string_view bytes) {
    Set(attribute, AttributeValue::Kind::Bytes).bytes =
        std::make_shared<FakeBytes>(*owner, std::vector<uint8_t>(bytes.begin(), bytes.end()));
    return *this;
}

void FakeDirectory::AddCanonicalName(WStringView canonical, WStringView dn) {
    AddCrackedName(kDsFqdn1779Name, canonical, dn);
    const size_t slash = canonical.find(u'/');
    if (slash != WStringView::npos && slash > 0)
        AddDomainController(canonical.substr(0, slash));
}

int32_t FakeDirectory::TakeFault(Op op, WStringView name) {
    const auto fault = std::find_if(faults_.begin(), faults_.end(), [&](const auto& f) {
        return std::get<0>(f) == op && AsciiLower(name).find(std::get<2>(f)) != WString::npos;
    });
    if (fault == faults_.end())
        return 0;
    const int32_t code = std::get<1>(*fault);
    faults_.erase(fault);
    return code;
}

bool FakeDirectory::CanBind(WStringView domain) const {
    // No domain name: a controller of the computer's own domain, which the fake always finds.
    return domain.empty() ||
           std::find(controllers_.begin(), controllers_.end(), AsciiLower(domain)) != controllers_.end();
}

int32_t FakeDirectory::GetJoinInformation(WString* name, uint32_t* status) {
    name->clear();
    *status = kNetSetupUnknownStatus;
    if (const int32_t fault = TakeFault(Op::GetJoinInformation))
        return fault;
    std::tie(*name, *status) = joined_;
    return 0;
}

int32_t FakeDirectory::GetDcName(const WChar* domainName, uint32_t flags, DomainControllerInfo* info) {
    *info = DomainControllerInfo{};
    const WString name = Text(domainName);
    if (const int32_t fault = TakeFault(Op::GetDcName, name))
        return fault;
    for (const auto& [flat, dns, controller] : domains_) {
        if (EqualsNoCaseAscii(flat, name) || ((flags & kDsIsFlatName) == 0 && EqualsNoCaseAscii(dns, name))) {
            const bool returnDns = (flags & kDsReturnDnsName) != 0;
            info->domainName = returnDns ? dns : flat;
            info->domainControllerName = KW("\\\\") + controller + (returnDns ? KW(".") + dns : WString());
            return 0;
        }
    }
    return winerr::kNoSuchDomain;
}

int32_t FakeDirectory::BindDomainController(const WChar* domainName,
                                            std::unique_ptr<DomainControllerBinding>* binding) {
    binding->reset();
    const WString domain = Text(domainName);
    if (const int32_t fault = TakeFault(Op::BindDomainController, domain))
        return fault;
    if (!CanBind(domain))
        return winerr::kNoSuchDomain;
    *binding = std::make_unique<FakeBinding>(*this, domain);
    return 0;
}

int32_t FakeDirectory::LookupAccountName(const WChar* systemName, const WChar* accountName,
                                         AccountSidBuffers* buffers) {
    buffers->sid.clear();
    buffers->domain.clear();
    buffers->use = 0;
    if (const int32_t fault = TakeFault(Op::LookupAccountName, Text(accountName)))
        return fault;
    const auto found =
        accountNames_.find(AsciiLower(Text(systemName)) + KW("|") + AsciiLower(Text(accountName)));
    if (found == accountNames_.end())
        return winerr::kNoneMapped;
    const auto& [sid, domain] = found->second;
    return FillAccountSidBuffers(SidBytes(sid.begin(), sid.end()), domain, kSidTypeUser, buffers);
}

int32_t FakeDirectory::LookupAccountSid(const WChar*, const SidBytes& sid, AccountNameBuffers* buffers) {
    buffers->name.clear();
    buffers->domain.clear();
    buffers->use = 0;
    const WString text(sid.begin(), sid.end());
    if (const int32_t fault = TakeFault(Op::LookupAccountSid, text))
        return fault;
    const auto found = accounts_.find(text);
    if (!IsSidText(text) || found == accounts_.end())
        return IsSidText(text) ? winerr::kNoneMapped : winerr::kInvalidSid;
    const auto& [account, domain, use] = found->second;
    return FillAccountNameBuffers(account, domain, use, buffers);
}

int32_t FakeDirectory::SidToString(const SidBytes& sid, WString* text, int32_t* releaseResult) {
    *text = WString(sid.begin(), sid.end());
    *releaseResult = 0;
    const int32_t fault = TakeFault(Op::SidToString, *text);
    if (fault != 0 || !IsSidText(*text)) {
        text->clear();
        return fault != 0 ? fault : winerr::kInvalidSid;
    }
    *releaseResult = TakeFault(Op::FreeSidString, *text);
    return 0;
}

int32_t FakeDirectory::StringToSid(const WChar* sidText, SidBytes* sid) {
    sid->clear();
    const WString text = Text(sidText);
    if (!IsSidText(text))
        return winerr::kInvalidSid;
    sid->assign(text.begin(), text.end());
    return 0;
}

int32_t FakeDirectory::InitializeCom() {
    if (const int32_t fault = TakeFault(Op::InitializeCom); fault < 0)
        return fault;
    return comDepth_++ == 0 ? kSOk : kSFalse;
}

void FakeDirectory::UninitializeCom() {
    --comDepth_;
}

int32_t FakeDirectory::CreateNameTranslate(std::unique_ptr<NameTranslator>* translator) {
    translator->reset();
    if (const int32_t fault = TakeFault(Op::CreateNameTranslate))
        return fault;
    *translator = std::make_unique<FakeTranslator>(*this);
    return 0;
}

int32_t FakeDirectory::BindObject(const WChar* ldapPath, ObjectInterface iface,
                                  std::unique_ptr<DirectoryObject>* object) {
    object->reset();
    const WString path = Text(ldapPath);
    if (const int32_t fault = TakeFault(Op::BindObject, path))
        return fault;
    if (path.compare(0, 7, KW("LDAP://")) != 0)
        return kEAdsBadPathname;
    const auto found = objects_.find(AsciiLower(WStringView(path).substr(7)));
    if (found == objects_.end())
        return kEDsNoSuchObject;
    if (iface == ObjectInterface::User && !found->second.isUser)
        return kENoInterface;
    *object = std::make_unique<FakeObject>(*this, found->second, iface == ObjectInterface::User);
    return 0;
}

}  // namespace korva::testing
