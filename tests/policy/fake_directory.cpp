#include "tests/policy/fake_directory.h"

#include "platform/format.h"

namespace korva::testing {
namespace {

using Op = FakeDirectory::Op;

WString Text(const WChar* text) {
    return text != nullptr ? WString(text) : WString();
}

// An attribute's array value, whose steps can fail. A failed release still releases: the count tells whether
// the caller tried.
template <class Stored, class Element>
class FakeArray final : public Stored {
  public:
    template <class Values>
    FakeArray(FakeDirectory& owner, Values values) : Stored(std::move(values)), owner_(owner) {}
    int32_t AccessData(const Element** data) override {
        const int32_t fault = owner_.TakeFault(Op::ArrayAccess);
        owner_.openArrayAccesses_ += fault == 0 ? 1 : 0;
        return fault != 0 ? fault : Stored::AccessData(data);
    }
    int32_t Unaccess() override {
        --owner_.openArrayAccesses_;
        return owner_.TakeFault(Op::ArrayUnaccess);
    }

  private:
    FakeDirectory& owner_;
};

class FakeObject final : public DirectoryObject {
  public:
    FakeObject(FakeDirectory& owner, const FakeDirectory::Object& object, bool boundAsUser)
        : owner_(owner), object_(object), boundAsUser_(boundAsUser) {
        ++owner_.openObjects_;
    }
    ~FakeObject() override { --owner_.openObjects_; }

    int32_t QueryInterface(ObjectInterface iface) override {
        return iface == ObjectInterface::User && !object_.isUser ? kENoInterface : 0;
    }
    int32_t GetInfo() override { return owner_.TakeFault(Op::GetInfo); }

    int32_t Get(const WChar* attribute, AttributeValue* value) override {
        const auto found = object_.attributes.find(Text(attribute));
        if (const int32_t fault = owner_.TakeFault(Op::Get, Text(attribute)))
            return fault;
        if (found == object_.attributes.end())
            return kEAdsPropertyNotFound;
        *value = found->second;
        return 0;
    }

    int32_t GetUserProperty(UserProperty property, WString* value) override {
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
    explicit FakeBinding(FakeDirectory& owner) : owner_(owner) { ++owner_.openBindings_; }
    ~FakeBinding() override { --owner_.openBindings_; }

    int32_t CrackName(uint32_t, uint32_t, uint32_t format, const WChar* name, CrackedName* out) override {
        constexpr int32_t kNotFound = 2;  // DS_NAME_ERROR_NOT_FOUND
        const int32_t status =
            owner_.Lookup(Op::CrackName, Format(KW("crack%u:"), format), Text(name), &out->name, kNotFound);
        out->hasItem = status == 0 || status == kNotFound;
        out->status = static_cast<uint32_t>(status);
        return out->hasItem ? 0 : status;
    }

  private:
    FakeDirectory& owner_;
};

}  // namespace

AttributeValue& FakeDirectory::Object::Set(WStringView attribute, AttributeValue::Kind kind) {
    AttributeValue& value = attributes[WString(attribute)] = AttributeValue{};
    value.kind = kind;
    return value;
}

FakeDirectory::Object& FakeDirectory::Object::SetText(WStringView attribute, WStringView text) {
    Set(attribute, AttributeValue::Kind::Text).text = WString(text);
    return *this;
}

FakeDirectory::Object& FakeDirectory::Object::SetTexts(WStringView attribute, std::vector<WString> texts) {
    Set(attribute, AttributeValue::Kind::TextList).texts =
        std::make_shared<FakeArray<StoredTextArray, std::vector<WString>>>(*owner, std::move(texts));
    return *this;
}

FakeDirectory::Object& FakeDirectory::Object::SetBytes(WStringView attribute, std::string_view bytes) {
    Set(attribute, AttributeValue::Kind::Bytes).bytes = std::make_shared<FakeArray<StoredByteArray, uint8_t>>(
        *owner, std::vector<uint8_t>(bytes.begin(), bytes.end()));
    return *this;
}

FakeDirectory::Object& FakeDirectory::Object::SetLargeInteger(WStringView attribute, int64_t value) {
    Set(attribute, AttributeValue::Kind::LargeInteger).largeInteger = value;
    return *this;
}

FakeDirectory::Object& FakeDirectory::Object::SetUserProperty(UserProperty property, WStringView value) {
    userProperties[property] = WString(value);
    return *this;
}

FakeDirectory::Object& FakeDirectory::AddObject(WStringView distinguishedName, bool isUser) {
    Object& object = objects_[AsciiLower(distinguishedName)];
    object.owner = this;
    object.isUser = isUser;
    return object;
}

void FakeDirectory::AddUserSid(WStringView dnsDomain, WStringView user, WStringView sid) {
    Put(KW("sid:"), WString(dnsDomain) + KW("\\") + WString(user), sid);
}

void FakeDirectory::AddAccount(WStringView sid, WStringView account, WStringView domain, uint32_t use) {
    accounts_[WString(sid)] = {WString(account), WString(domain), use};
}

void FakeDirectory::AddCrackedName(uint32_t desiredFormat, WStringView name, WStringView result) {
    Put(Format(KW("crack%u:"), desiredFormat), name, result);
}

void FakeDirectory::Put(WStringView kind, WStringView key, WStringView value) {
    names_[WString(kind) + AsciiLower(key)] = WString(value);
}

int32_t FakeDirectory::Lookup(Op op, WStringView kind, WStringView key, WString* out, int32_t missing) {
    const auto found = names_.find(WString(kind) + AsciiLower(key));
    if (const int32_t fault = TakeFault(op, key))
        return fault;
    *out = found != names_.end() ? found->second : WString();
    return found != names_.end() ? 0 : missing;
}

void FakeDirectory::FailNext(Op op, int32_t code, WStringView match) {
    faults_.emplace_back(op, code, AsciiLower(match));
}

int32_t FakeDirectory::TakeFault(Op op, WStringView name) {
    for (auto it = faults_.begin(); it != faults_.end(); ++it) {
        if (std::get<0>(*it) == op && AsciiLower(name).find(std::get<2>(*it)) != WString::npos) {
            const int32_t code = std::get<1>(*it);
            faults_.erase(it);
            return code;
        }
    }
    return 0;
}

int32_t FakeDirectory::GetJoinedDomain(cGjLog&, WString* flatName) {
    *flatName = joinedDomain_;
    return TakeFault(Op::GetJoinedDomain);
}

int32_t FakeDirectory::FlatToDnsDomain(cGjLog&, const WChar* flatName, WString* dnsName) {
    return Lookup(Op::FlatToDnsDomain, KW("dns:"), Text(flatName), dnsName, kNoSuchDomain);
}

int32_t FakeDirectory::GetUserSid(cGjLog&, const WChar* dnsDomain, const WChar* userName, WString* sid) {
    return Lookup(Op::GetUserSid, KW("sid:"), Text(dnsDomain) + KW("\\") + Text(userName), sid, kNoneMapped);
}

int32_t FakeDirectory::LookupAccountBySid(cGjLog&, const SidBytes& sid, WString* accountName,
                                          WString* domainName, uint32_t* use) {
    const WString text(sid.begin(), sid.end());
    const auto found = accounts_.find(text);
    if (const int32_t fault = TakeFault(Op::LookupAccountBySid, text))
        return fault;
    if (found == accounts_.end())
        return kNoneMapped;
    std::tie(*accountName, *domainName, *use) = found->second;
    return 0;
}

int32_t FakeDirectory::CanonicalToDistinguishedName(cGjLog&, const WChar* canonicalName, WString* dn) {
    return Lookup(Op::CanonicalToDistinguishedName, KW("dn:"), Text(canonicalName), dn, kCrackFailed);
}

int32_t FakeDirectory::BindObject(const WChar* ldapPath, ObjectInterface iface,
                                  std::unique_ptr<DirectoryObject>* object) {
    const WString path = Text(ldapPath);
    const auto found = objects_.find(AsciiLower(WStringView(path).substr(std::min<size_t>(path.size(), 7))));
    if (const int32_t fault = TakeFault(Op::BindObject, path))
        return fault;
    if (path.compare(0, 7, KW("LDAP://")) != 0 || found == objects_.end())
        return static_cast<int32_t>(0x80072030u);  // LDAP: no such object
    if (iface == ObjectInterface::User && !found->second.isUser)
        return kENoInterface;
    *object = std::make_unique<FakeObject>(*this, found->second, iface == ObjectInterface::User);
    return 0;
}

// A SID's text here is anything that begins with "S-".
int32_t FakeDirectory::StringToSid(const WChar* sidText, SidBytes* sid) {
    const WString text = Text(sidText);
    sid->assign(text.begin(), text.end());
    return text.compare(0, 2, KW("S-")) == 0 ? 0 : 1337;  // ERROR_INVALID_SID
}

int32_t FakeDirectory::SidToString(const SidBytes& sid, WString* sidText) {
    sidText->assign(sid.begin(), sid.end());
    return 0;
}

int32_t FakeDirectory::BindDomainController(const WChar* domainName,
                                            std::unique_ptr<DomainControllerBinding>* binding) {
    WString known;
    const int32_t status =
        Lookup(Op::BindDomainController, KW("dc:"), Text(domainName), &known, kNoSuchDomain);
    if (status == 0)
        *binding = std::make_unique<FakeBinding>(*this);
    return status;
}

}  // namespace korva::testing
