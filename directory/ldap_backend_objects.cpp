// The LDAP backend's bound objects: ADsGetObject over a base search, with attribute values in the kinds
// ADSI's LDAP provider gives them.
#include "directory/dn.h"
#include "directory/ldap_backend_internal.h"
#include "platform/result_codes.h"

namespace korva {

using namespace ldapbackend;

namespace {

// How ADSI's LDAP provider hands over an attribute: octet strings as byte arrays, Integer8 as large
// integers, everything else as text.
enum class ValueKind { Text, Bytes, LargeInteger };

ValueKind KindOf(WStringView attribute) {
    static const WChar* const kBytes[] = {
        KW("objectSid"),   KW("objectGUID"),          KW("msDS-ByteArray"), KW("sidHistory"),
        KW("tokenGroups"), KW("userCertificate"),     KW("jpegPhoto"),      KW("thumbnailPhoto"),
        KW("logonHours"),  KW("nTSecurityDescriptor")};
    static const WChar* const kLarge[] = {KW("pwdLastSet"),      KW("accountExpires"),
                                          KW("lastLogon"),       KW("lastLogonTimestamp"),
                                          KW("badPasswordTime"), KW("lockoutTime"),
                                          KW("maxPwdAge"),       KW("minPwdAge"),
                                          KW("lockoutDuration"), KW("lockOutObservationWindow"),
                                          KW("uSNChanged"),      KW("uSNCreated"),
                                          KW("creationTime"),    KW("forceLogoff")};
    for (const WChar* name : kBytes) {
        if (EqualsNoCaseAscii(attribute, name)) {
            return ValueKind::Bytes;
        }
    }
    for (const WChar* name : kLarge) {
        if (EqualsNoCaseAscii(attribute, name)) {
            return ValueKind::LargeInteger;
        }
    }
    return ValueKind::Text;
}

class LdapObject final : public DirectoryObject {
  public:
    LdapObject(const LdapDirectoryBackend::Context& context, std::string base, LdapEntry entry, bool asUser)
        : context_(context), base_(std::move(base)), entry_(std::move(entry)), asUser_(asUser) {}

    int32_t QueryInterface(ObjectInterface iface) override {
        if (iface == ObjectInterface::User) {
            if (!IsUserClass(entry_)) {
                return kENoInterface;
            }
            asUser_ = true;
        }
        return kSOk;
    }

    int32_t GetInfo() override {
        Connection connection(context_);
        return HResultFromWin32(LdapResultToWin32(connection.ReadBase(base_, &entry_)));
    }

    int32_t Get(const WChar* attribute, AttributeValue* value) override {
        *value = AttributeValue{};
        const LdapAttribute* a = attribute != nullptr ? entry_.Find(attribute) : nullptr;
        if (a == nullptr || a->values.empty()) {
            return kEAdsPropertyNotFound;
        }
        switch (KindOf(attribute)) {
            case ValueKind::Bytes:
                if (a->values.size() == 1) {
                    value->kind = AttributeValue::Kind::Bytes;
                    value->bytes = std::make_shared<StoredByteArray>(a->values[0]);
                } else {
                    value->kind = AttributeValue::Kind::ByteList;
                }
                return kSOk;
            case ValueKind::LargeInteger: {
                int64_t number = 0;
                if (a->values.size() != 1 || !ParseInt64(Text(a->values[0]), &number)) {
                    return kEAdsCantConvertDatatype;
                }
                value->kind = AttributeValue::Kind::LargeInteger;
                value->largeInteger = number;
                return kSOk;
            }
            case ValueKind::Text:
                break;
        }
        if (a->values.size() == 1) {
            value->kind = AttributeValue::Kind::Text;
            value->text = Wide(Text(a->values[0]));
            return kSOk;
        }
        std::vector<WString> texts;
        for (const std::vector<uint8_t>& v : a->values) {
            texts.push_back(Wide(Text(v)));
        }
        value->kind = AttributeValue::Kind::TextList;
        value->texts = std::make_shared<StoredTextArray>(std::move(texts));
        return kSOk;
    }

    int32_t GetUserProperty(UserProperty property, WString* value) override {
        value->clear();
        if (!asUser_) {
            return kENoInterface;
        }
        const WChar* attribute = property == UserProperty::FirstName  ? KW("givenName")
                                 : property == UserProperty::LastName ? KW("sn")
                                                                      : KW("displayName");
        const LdapAttribute* a = entry_.Find(attribute);
        if (a == nullptr || a->values.empty()) {
            return kEAdsPropertyNotFound;
        }
        *value = Wide(Text(a->values[0]));
        return kSOk;
    }

  private:
    const LdapDirectoryBackend::Context& context_;
    std::string base_;
    LdapEntry entry_;
    bool asUser_;
};

}  // namespace

int32_t LdapDirectoryBackend::BindObject(const WChar* ldapPath, ObjectInterface iface,
                                         std::unique_ptr<DirectoryObject>* object) {
    object->reset();
    const WStringView path = ldapPath != nullptr ? WStringView(ldapPath) : WStringView();
    // The provider's name is matched exactly, as ADSI does.
    if (path.substr(0, 7) != KW("LDAP://") || path.size() == 7) {
        return kEAdsBadPathname;
    }
    std::string rest = U8(path.substr(7));
    // "LDAP://server/DN": a server part has no "=" before its "/". This backend has one controller.
    const size_t slash = rest.find('/');
    if (slash != std::string::npos && rest.substr(0, slash).find('=') == std::string::npos) {
        rest.erase(0, slash + 1);
    }
    std::string base;
    for (size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] == '\\' && i + 1 < rest.size() && rest[i + 1] == '/') {
            continue;  // ADSI writes "/" inside a DN as "\/"
        }
        base += rest[i];
    }
    std::string key;
    if (EqualsNoCaseAscii(Wide(base), KW("rootDSE"))) {
        base.clear();
    } else if (base.empty() || !dn::Normalize(base, &key) || key.empty()) {
        return kEAdsBadPathname;
    }
    LdapEntry entry;
    Connection connection(*context_);
    const int32_t result = connection.ReadBase(base, &entry);
    if (result != 0) {
        return HResultFromWin32(LdapResultToWin32(result));
    }
    if (iface == ObjectInterface::User && !IsUserClass(entry)) {
        return kENoInterface;
    }
    *object = std::make_unique<LdapObject>(*context_, base, std::move(entry), iface == ObjectInterface::User);
    return kSOk;
}

}  // namespace korva
