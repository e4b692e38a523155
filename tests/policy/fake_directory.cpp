#include "tests/policy/fake_directory.h"

#include "platform/format.h"

namespace korva::testing {

namespace {

WString Lower(WStringView text) {
    return AsciiLower(text);
}

bool Contains(WStringView text, WStringView part) {
    return part.empty() || AsciiLower(text).find(AsciiLower(part)) != WString::npos;
}

WString Text(const WChar* text) {
    return text != nullptr ? WString(text) : WString();
}

class FakeByteArray final : public StoredByteArray {
  public:
    FakeByteArray(FakeDirectory& owner, std::vector<uint8_t> bytes)
        : StoredByteArray(std::move(bytes)), owner_(owner) {}
    int32_t GetLowerBound(int32_t* lower) const override {
        *lower = 0;
        const int32_t fault = owner_.TakeFault(FakeDirectory::Op::ArrayLowerBound, {});
        return fault != 0 ? fault : StoredByteArray::GetLowerBound(lower);
    }
    int32_t GetUpperBound(int32_t* upper) const override {
        *upper = 0;
        const int32_t fault = owner_.TakeFault(FakeDirectory::Op::ArrayUpperBound, {});
        return fault != 0 ? fault : StoredByteArray::GetUpperBound(upper);
    }
    int32_t AccessData(const uint8_t** data) override {
        *data = nullptr;
        const int32_t fault = owner_.TakeFault(FakeDirectory::Op::ArrayAccess, {});
        if (fault != 0) {
            return fault;
        }
        owner_.ArrayAccessed(+1);
        return StoredByteArray::AccessData(data);
    }
    int32_t Unaccess() override {
        // A failed release still releases: the count tells whether the caller tried.
        owner_.ArrayAccessed(-1);
        return owner_.TakeFault(FakeDirectory::Op::ArrayUnaccess, {});
    }

  private:
    FakeDirectory& owner_;
};

class FakeTextArray final : public StoredTextArray {
  public:
    FakeTextArray(FakeDirectory& owner, std::vector<WString> values)
        : StoredTextArray(std::move(values)), owner_(owner) {}
    int32_t AccessData(const std::vector<WString>** values) override {
        *values = nullptr;
        const int32_t fault = owner_.TakeFault(FakeDirectory::Op::ArrayAccess, {});
        if (fault != 0) {
            return fault;
        }
        owner_.ArrayAccessed(+1);
        return StoredTextArray::AccessData(values);
    }
    int32_t Unaccess() override {
        owner_.ArrayAccessed(-1);
        return owner_.TakeFault(FakeDirectory::Op::ArrayUnaccess, {});
    }

  private:
    FakeDirectory& owner_;
};

// Values are stored without their array objects; each Get hands out fresh arrays bound to the fake.
struct StoredValue {
    AttributeValue value;
    std::vector<uint8_t> bytes;
    std::vector<WString> texts;
};

class FakeObject final : public DirectoryObject {
  public:
    FakeObject(FakeDirectory& owner, const FakeDirectory::Object& object, bool boundAsUser)
        : owner_(owner), object_(object), boundAsUser_(boundAsUser) {
        owner_.ObjectOpened(+1);
    }
    ~FakeObject() override { owner_.ObjectOpened(-1); }

    int32_t GetInfo() override {
        owner_.Record(KW("GetInfo"));
        return owner_.TakeFault(FakeDirectory::Op::GetInfo, {});
    }

    int32_t Get(const WChar* attribute, AttributeValue* value) override {
        *value = AttributeValue{};
        const WString name = Text(attribute);
        owner_.Record(KW("Get ") + name);
        if (const int32_t fault = owner_.TakeFault(FakeDirectory::Op::Get, name); fault != 0) {
            return fault;
        }
        const auto found = object_.attributes.find(name);
        if (found == object_.attributes.end()) {
            return kEAdsPropertyNotFound;
        }
        *value = found->second;
        // The stored arrays are templates: hand out arrays that report to the fake.
        if (found->second.bytes != nullptr) {
            const auto& stored = static_cast<const StoredByteArray&>(*found->second.bytes);
            value->bytes = std::make_shared<FakeByteArray>(owner_, stored.Bytes());
        }
        if (found->second.texts != nullptr) {
            const std::vector<WString>* texts = nullptr;
            found->second.texts->AccessData(&texts);
            value->texts = std::make_shared<FakeTextArray>(owner_, *texts);
        }
        return 0;
    }

    int32_t GetUserProperty(UserProperty property, WString* value) override {
        value->clear();
        owner_.Record(Format(KW("GetUserProperty %d"), static_cast<int32_t>(property)));
        if (const int32_t fault = owner_.TakeFault(FakeDirectory::Op::GetUserProperty, {}); fault != 0) {
            return fault;
        }
        if (!boundAsUser_) {
            return kENoInterface;
        }
        const auto found = object_.userProperties.find(property);
        if (found == object_.userProperties.end()) {
            return kEAdsPropertyNotFound;
        }
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
    FakeBinding(FakeDirectory& owner, WString domain) : owner_(owner), domain_(std::move(domain)) {
        owner_.BindingOpened(+1);
    }
    ~FakeBinding() override { owner_.BindingOpened(-1); }

    int32_t CrackName(uint32_t flags, uint32_t offeredFormat, uint32_t desiredFormat, const WChar* name,
                      CrackedName* out) override {
        *out = CrackedName{};
        const WString given = Text(name);
        owner_.Record(Format(KW("CrackName %s %u %u %u %s"), domain_.c_str(), flags, offeredFormat,
                             desiredFormat, given.c_str()));
        if (const int32_t fault = owner_.TakeFault(FakeDirectory::Op::CrackName, given); fault != 0) {
            return fault;
        }
        if (const CrackedName* answer = owner_.FindCrack(desiredFormat, given); answer != nullptr) {
            *out = *answer;
        } else {
            out->hasItem = true;
            out->status = FakeDirectory::kDsNameErrorNotFound;
        }
        return 0;
    }

  private:
    FakeDirectory& owner_;
    WString domain_;
};

}  // namespace

FakeDirectory::Object& FakeDirectory::Object::SetText(WStringView attribute, WStringView text) {
    AttributeValue value;
    value.kind = AttributeValue::Kind::Text;
    value.text = WString(text);
    attributes[WString(attribute)] = value;
    return *this;
}

FakeDirectory::Object& FakeDirectory::Object::SetTexts(WStringView attribute, std::vector<WString> texts) {
    AttributeValue value;
    value.kind = AttributeValue::Kind::TextList;
    value.texts = std::make_shared<StoredTextArray>(std::move(texts));
    attributes[WString(attribute)] = value;
    return *this;
}

FakeDirectory::Object& FakeDirectory::Object::SetBytes(WStringView attribute, std::string_view bytes) {
    AttributeValue value;
    value.kind = AttributeValue::Kind::Bytes;
    value.bytes = std::make_shared<StoredByteArray>(std::vector<uint8_t>(bytes.begin(), bytes.end()));
    attributes[WString(attribute)] = value;
    return *this;
}

FakeDirectory::Object& FakeDirectory::Object::SetLargeInteger(WStringView attribute, int64_t largeInteger) {
    AttributeValue value;
    value.kind = AttributeValue::Kind::LargeInteger;
    value.largeInteger = largeInteger;
    attributes[WString(attribute)] = value;
    return *this;
}

FakeDirectory::Object& FakeDirectory::Object::SetOtherObject(WStringView attribute) {
    AttributeValue value;
    value.kind = AttributeValue::Kind::Object;
    attributes[WString(attribute)] = value;
    return *this;
}

FakeDirectory::Object& FakeDirectory::Object::SetUserProperty(UserProperty property, WStringView value) {
    userProperties[property] = WString(value);
    return *this;
}

FakeDirectory::FakeDirectory() : override_(this) {}

FakeDirectory::~FakeDirectory() = default;

FakeDirectory::Object& FakeDirectory::AddObject(WStringView distinguishedName, bool isUser) {
    Object& object = objects_[Lower(distinguishedName)];
    object.isUser = isUser;
    return object;
}

FakeDirectory::Object& FakeDirectory::SetPolicyDocument(WStringView dnsDomain, std::string_view bytes) {
    const WString dn = KW("CN=QmhPasswordPolicy,CN=Valexor,CN=Quillmarsh,CN=Program Data,") +
                       DnsDomainToDistinguishedName(dnsDomain);
    return AddObject(dn, false).SetBytes(KW("msDS-ByteArray"), bytes);
}

void FakeDirectory::AddCanonicalName(WStringView canonicalName, WStringView distinguishedName) {
    canonicalToDn_[Lower(canonicalName)] = WString(distinguishedName);
}

void FakeDirectory::AddUserSid(WStringView dnsDomain, WStringView userName, WStringView sidText) {
    userSids_[Lower(WString(dnsDomain) + KW("\\") + WString(userName))] = WString(sidText);
}

void FakeDirectory::AddAccount(WStringView sidText, WStringView accountName, WStringView domainName,
                               uint32_t use) {
    accounts_[WString(sidText)] = Account{WString(accountName), WString(domainName), use};
}

void FakeDirectory::AddFlatDomain(WStringView flatName, WStringView dnsName) {
    flatToDns_[Lower(flatName)] = WString(dnsName);
}

void FakeDirectory::AddDomainController(WStringView domain) {
    controllers_.push_back(Lower(domain));
}

void FakeDirectory::AddCrackAnswer(uint32_t desiredFormat, WStringView name, CrackedName answer) {
    cracks_[{desiredFormat, WString(name)}] = std::move(answer);
}

void FakeDirectory::AddCrackedName(uint32_t desiredFormat, WStringView name, WStringView result) {
    CrackedName answer;
    answer.hasItem = true;
    answer.status = kDsNameNoError;
    answer.name = WString(result);
    AddCrackAnswer(desiredFormat, name, answer);
}

const CrackedName* FakeDirectory::FindCrack(uint32_t desiredFormat, WStringView name) const {
    const auto found = cracks_.find({desiredFormat, WString(name)});
    return found == cracks_.end() ? nullptr : &found->second;
}

void FakeDirectory::FailNext(Op op, int32_t code, WStringView match) {
    faults_.push_back(Fault{op, code, WString(match)});
}

int32_t FakeDirectory::TakeFault(Op op, WStringView name) {
    for (auto it = faults_.begin(); it != faults_.end(); ++it) {
        if (it->op == op && Contains(name, it->match)) {
            const int32_t code = it->code;
            faults_.erase(it);
            return code;
        }
    }
    return 0;
}

size_t FakeDirectory::CountCalls(WStringView prefix) const {
    size_t count = 0;
    for (const WString& call : calls_) {
        if (WStringView(call).substr(0, prefix.size()) == prefix) {
            ++count;
        }
    }
    return count;
}

int32_t FakeDirectory::GetJoinedDomain(cGjLog&, WString* flatName) {
    flatName->clear();
    Record(KW("GetJoinedDomain"));
    if (const int32_t fault = TakeFault(Op::GetJoinedDomain, {}); fault != 0) {
        return fault;
    }
    *flatName = joinedDomain_;
    return 0;
}

int32_t FakeDirectory::FlatToDnsDomain(cGjLog&, const WChar* flatName, WString* dnsName) {
    dnsName->clear();
    const WString flat = Text(flatName);
    Record(KW("FlatToDnsDomain ") + flat);
    if (const int32_t fault = TakeFault(Op::FlatToDnsDomain, flat); fault != 0) {
        return fault;
    }
    const auto found = flatToDns_.find(Lower(flat));
    if (found == flatToDns_.end()) {
        return kNoSuchDomain;
    }
    *dnsName = found->second;
    return 0;
}

int32_t FakeDirectory::GetUserSid(cGjLog&, const WChar* dnsDomain, const WChar* userName, WString* sid) {
    sid->clear();
    const WString key = Text(dnsDomain) + KW("\\") + Text(userName);
    Record(KW("GetUserSid ") + key);
    if (const int32_t fault = TakeFault(Op::GetUserSid, key); fault != 0) {
        return fault;
    }
    const auto found = userSids_.find(Lower(key));
    if (found == userSids_.end()) {
        return kNoneMapped;
    }
    *sid = found->second;
    return 0;
}

int32_t FakeDirectory::LookupAccountBySid(cGjLog&, const SidBytes& sid, WString* accountName,
                                          WString* domainName, uint32_t* use) {
    accountName->clear();
    domainName->clear();
    *use = 0;
    const WString text = FormatSid(sid);
    Record(KW("LookupAccountBySid ") + text);
    if (const int32_t fault = TakeFault(Op::LookupAccountBySid, text); fault != 0) {
        return fault;
    }
    const auto found = accounts_.find(text);
    if (found == accounts_.end()) {
        return kNoneMapped;
    }
    *accountName = found->second.accountName;
    *domainName = found->second.domainName;
    *use = found->second.use;
    return 0;
}

int32_t FakeDirectory::CanonicalToDistinguishedName(cGjLog&, const WChar* canonicalName,
                                                    WString* distinguishedName) {
    distinguishedName->clear();
    const WString canonical = Text(canonicalName);
    Record(KW("CanonicalToDistinguishedName ") + canonical);
    if (const int32_t fault = TakeFault(Op::CanonicalToDistinguishedName, canonical); fault != 0) {
        return fault;
    }
    const auto found = canonicalToDn_.find(Lower(canonical));
    if (found == canonicalToDn_.end()) {
        return kCrackFailed;
    }
    *distinguishedName = found->second;
    return 0;
}

int32_t FakeDirectory::BindObject(const WChar* ldapPath, ObjectInterface iface,
                                  std::unique_ptr<DirectoryObject>* object) {
    object->reset();
    const WString path = Text(ldapPath);
    Record(KW("BindObject ") + path);
    if (const int32_t fault = TakeFault(Op::BindObject, path); fault != 0) {
        return fault;
    }
    const WStringView prefix = KW("LDAP://");
    if (WStringView(path).substr(0, prefix.size()) != prefix) {
        return kEInvalidArg;
    }
    const auto found = objects_.find(Lower(WStringView(path).substr(prefix.size())));
    if (found == objects_.end()) {
        return kNoSuchObject;
    }
    if (iface == ObjectInterface::User && !found->second.isUser) {
        return kENoInterface;
    }
    *object = std::make_unique<FakeObject>(*this, found->second, iface == ObjectInterface::User);
    return 0;
}

int32_t FakeDirectory::StringToSid(const WChar* sidText, SidBytes* sid) {
    sid->clear();
    const WString text = Text(sidText);
    Record(KW("StringToSid ") + text);
    if (const int32_t fault = TakeFault(Op::StringToSid, text); fault != 0) {
        return fault;
    }
    return ParseSidText(text, sid) ? 0 : kInvalidSid;
}

int32_t FakeDirectory::SidToString(const SidBytes& sid, WString* sidText) {
    sidText->clear();
    const WString text = FormatSid(sid);
    Record(KW("SidToString ") + text);
    if (const int32_t fault = TakeFault(Op::SidToString, text); fault != 0) {
        return fault;
    }
    if (text.empty()) {
        return kInvalidSid;
    }
    *sidText = text;
    return 0;
}

int32_t FakeDirectory::BindDomainController(const WChar* domainName,
                                            std::unique_ptr<DomainControllerBinding>* binding) {
    binding->reset();
    const WString domain = Text(domainName);
    Record(KW("BindDomainController ") + domain);
    if (const int32_t fault = TakeFault(Op::BindDomainController, domain); fault != 0) {
        return fault;
    }
    bool known = false;
    for (const WString& controller : controllers_) {
        known = known || controller == Lower(domain);
    }
    if (!known) {
        return kNoSuchDomain;
    }
    *binding = std::make_unique<FakeBinding>(*this, domain);
    return 0;
}

bool ParseSidText(WStringView text, SidBytes* sid) {
    sid->clear();
    if (text.size() < 4 || (text[0] != u'S' && text[0] != u's') || text[1] != u'-') {
        return false;
    }
    std::vector<uint64_t> numbers;
    size_t position = 2;
    while (position <= text.size()) {
        const size_t end = std::min(text.find(u'-', position), text.size());
        if (end == position) {
            return false;
        }
        uint64_t number = 0;
        for (size_t i = position; i < end; ++i) {
            if (text[i] < u'0' || text[i] > u'9' || number > 0xFFFFFFFFFFFFull / 10) {
                return false;
            }
            number = number * 10 + static_cast<uint64_t>(text[i] - u'0');
        }
        numbers.push_back(number);
        position = end + 1;
    }
    // Revision 1, an authority, and 1 to 15 sub-authorities of 32 bits.
    if (numbers.size() < 3 || numbers.size() > 17 || numbers[0] != 1) {
        return false;
    }
    sid->push_back(1);
    sid->push_back(static_cast<uint8_t>(numbers.size() - 2));
    for (int shift = 40; shift >= 0; shift -= 8) {
        sid->push_back(static_cast<uint8_t>(numbers[1] >> shift));
    }
    for (size_t i = 2; i < numbers.size(); ++i) {
        if (numbers[i] > 0xFFFFFFFFull) {
            sid->clear();
            return false;
        }
        for (int shift = 0; shift < 32; shift += 8) {
            sid->push_back(static_cast<uint8_t>(numbers[i] >> shift));
        }
    }
    return true;
}

WString FormatSid(const SidBytes& sid) {
    if (sid.size() < 8 || sid[0] != 1 || sid.size() != 8u + 4u * sid[1]) {
        return WString();
    }
    uint64_t authority = 0;
    for (size_t i = 2; i < 8; ++i) {
        authority = (authority << 8) | sid[i];
    }
    WString text = Format(KW("S-1-%llu"), static_cast<unsigned long long>(authority));
    for (size_t i = 8; i < sid.size(); i += 4) {
        const uint32_t part = static_cast<uint32_t>(sid[i]) | (static_cast<uint32_t>(sid[i + 1]) << 8) |
                              (static_cast<uint32_t>(sid[i + 2]) << 16) |
                              (static_cast<uint32_t>(sid[i + 3]) << 24);
        text += Format(KW("-%u"), part);
    }
    return text;
}

}  // namespace korva::testing
