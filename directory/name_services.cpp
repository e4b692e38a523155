// The name and identity services, over whichever backend is installed. Each step logs its own failure with
// the backend's code; callers add a summary line and pass the code on.
#include <new>

#include "directory/directory.h"
#include "infra/error_texts.h"
#include "infra/log.h"
#include "platform/format.h"
#include "platform/unique_handle.h"

namespace korva {

namespace {

const WChar* OrEmpty(const WChar* text) {
    return text != nullptr ? text : KW("");
}

constexpr WStringView kBuiltinDomain = KW("BUILTIN");

// Copies an octet-string attribute value out of its array (bounds, lock, copy, unlock; each step can fail).
int32_t CopyBytes(const AttributeValue& value, SidBytes* bytes) {
    bytes->clear();
    if (value.kind != AttributeValue::Kind::Bytes || value.bytes == nullptr)
        return kEInvalidArg;
    ByteArray& array = *value.bytes;
    int32_t lower = 0;
    int32_t upper = 0;
    int32_t hr = array.GetLowerBound(&lower);
    if (hr == 0)
        hr = array.GetUpperBound(&upper);
    const uint8_t* data = nullptr;
    if (hr == 0)
        hr = array.AccessData(&data);
    if (hr != 0)
        return hr;
    const int64_t count = static_cast<int64_t>(upper) - lower + 1;
    try {
        if (count > 0 && data != nullptr)
            bytes->assign(data, data + count);
    } catch (const std::bad_alloc&) {
        hr = kEOutOfMemory;
    }
    const int32_t unlocked = array.Unaccess();
    if (hr == 0)
        hr = unlocked;
    if (hr != 0)
        bytes->clear();
    return hr;
}

}  // namespace

int32_t Directory::GetJoinedDomain(cGjLog& log, WString* flatName) {
    flatName->clear();
    WString name;
    uint32_t status = kNetSetupUnknownStatus;
    const int32_t result = backend_.GetJoinInformation(&name, &status);
    if (result != 0) {
        log.LogWithCode(kLogError, result,
                        KW("Failed to get join status information for the local computer."));
        status = kNetSetupUnknownStatus;  // whatever the failed call left there says nothing
    }
    if (status == kNetSetupDomainName) {
        *flatName = std::move(name);
        log.LogMessage(kLogDebug, KW("Local computer is joined to domain '%s'."), flatName->c_str());
    } else {
        log.LogMessage(kLogError, KW("Local computer is not joined to a domain."));
    }
    return result;
}

int32_t Directory::FlatToDnsDomain(cGjLog& log, const WChar* flatName, WString* dnsName) {
    dnsName->clear();
    DomainControllerInfo info;
    const int32_t result = backend_.GetDcName(flatName, kDsIsFlatName | kDsReturnDnsName, &info);
    if (result != 0) {
        log.LogSystemError(kLogError, static_cast<uint32_t>(result),
                           KW("Failed to get DNS name of domain controller with flat name '%s'."), flatName);
        return result;
    }
    *dnsName = std::move(info.domainName);
    log.LogMessage(kLogDebug, KW("Converting Flat name '%s' to DNS name '%s'."), flatName, dnsName->c_str());
    return 0;
}

int32_t Directory::GetUserSid(cGjLog& log, const WChar* dnsDomain, const WChar* userName, WString* sid) {
    sid->clear();
    const WChar* domain = OrEmpty(dnsDomain);
    const WChar* user = OrEmpty(userName);

    // The user name is offered as it is: this finds users whose logon name already is their UPN. The
    // composed UPN names the attempt in the log.
    const WString upn = Format(KW("%s@%s"), user, domain);
    int32_t result = CrackName(log, domain, kDsUserPrincipalName, user, kDsSidOrSidHistoryName, false, sid);
    if (result == 0) {
        log.LogMessage(kLogDebug, KW("Successfully retrieved SID using DS Crackname '%s'."), sid->c_str());
        return 0;
    }
    log.LogWithCode(kLogDebug, result, KW("Unable to translate UPN name '%s' to to SID."), upn.c_str());

    result = GetUserSidViaAdsi(log, domain, user, sid);
    if (result == 0) {
        log.LogMessage(kLogDebug, KW("Successfully retrieved SID using ADSI '%s'."), sid->c_str());
        return 0;
    }
    log.LogWithCode(kLogError, result, KW("Unable to look up SID for lookupname '%s'."), user);
    log.LogWithCode(kLogDebug, result,
                    KW("Failed to get user SID using ADSI for '%s' in domain (DNS name) '%s'."), user,
                    domain);

    const WString account = Format(KW("%s\\%s"), domain, user);
    result = GetSidStringByLookupName(log, account.c_str(), sid);
    if (result == 0) {
        log.LogMessage(kLogDebug, KW("Successfully retrieved SID using LookupAccountName '%s'."),
                       sid->c_str());
        return 0;
    }
    log.LogWithCode(kLogDebug, result,
                    KW("Failed to get user SID using LookupAccountName for '%s' in domain (DNS name) '%s'."),
                    user, domain);
    log.LogWithCode(kLogError, result, KW("Failed to get SID for user '%s' in '%s'."), user, domain);
    return result;
}

int32_t Directory::CrackName(cGjLog& log, const WChar* domain, uint32_t offeredFormat, const WChar* name,
                             uint32_t desiredFormat, bool followReferral, WString* result) {
    result->clear();
    log.LogMessage(kLogDebug, KW("Translating name using Crack Names."));
    log.LogMessage(kLogDebug, KW("Binding to a domain controller in domain '%s'."), domain);

    std::unique_ptr<DomainControllerBinding> binding;
    int32_t code = backend_.BindDomainController(domain, &binding);
    if (code == 0 && binding == nullptr)
        code = winerr::kInvalidHandle;  // a backend that claims success without a binding
    if (code != 0) {
        log.LogWithCode(kLogError, code, KW("Failed to bind a domain controller for domain '%s'."), domain);
        return code;
    }

    CrackedName item;
    code = binding->CrackName(kDsNameFlagTrustReferral, offeredFormat, desiredFormat, name, &item);
    if (code != 0) {
        log.LogWithCode(kLogError, code, KW("Error cracking name '%s'."), name);
        return code;
    }
    if (!item.hasItem)
        return 0;
    if (item.status == kDsNameNoError) {
        *result = std::move(item.name);
        log.LogMessage(kLogDebug, KW("Name translated to '%s'."), result->c_str());
        return 0;
    }
    if (item.status == kDsNameErrorDomainOnly) {
        log.LogMessage(kLogDebug, KW("Failed to crack name. New domain '%s' found. Retrying..."),
                       item.domain.c_str());
        if (followReferral) {
            code = CrackName(log, item.domain.c_str(), offeredFormat, name, desiredFormat, false, result);
            if (code != 0) {
                log.LogWithCode(kLogError, code,
                                KW("An error has occurred while translating a name for domain '%s'."),
                                item.domain.c_str());
            }
            return code;
        }
    }
    log.LogWithCode(kLogError, kResultNameNotCracked, KW("Error cracking name. %s"),
                    CrackNameStatusText(item.status));
    return kResultNameNotCracked;
}

int32_t Directory::TranslateUpnToDistinguishedName(cGjLog& log, const WChar* dnsDomain, const WChar* userName,
                                                   WString* distinguishedName) {
    distinguishedName->clear();
    const WString upn = Format(KW("%s@%s"), OrEmpty(userName), OrEmpty(dnsDomain));
    const int32_t initialized = backend_.InitializeCom();
    if (initialized < 0)
        return initialized;
    // Declared before the translator, so the object is released before COM is left.
    const ScopeExit leaveCom([this] { backend_.UninitializeCom(); });

    std::unique_ptr<NameTranslator> translator;
    int32_t hr = backend_.CreateNameTranslate(&translator);
    if (hr == 0 && translator == nullptr)
        hr = kEPointer;
    if (hr != 0) {
        log.LogHResult(kLogError, hr, KW("An error creating instance of IADS Nametranslation object."));
        return hr;
    }
    hr = translator->Init(kAdsNameInitTypeDomain, dnsDomain);
    if (hr != 0) {
        log.LogHResult(kLogError, hr, KW("An error initializing instance of IADS Nametranslation object."));
        return hr;
    }
    hr = translator->Set(kAdsNameTypeUserPrincipalName, upn.c_str());
    if (hr != 0) {
        log.LogHResult(kLogError, hr, KW("An error setting UPN username '%s'."), upn.c_str());
        return hr;
    }
    hr = translator->Get(kAdsNameType1779, distinguishedName);
    if (hr != 0)
        distinguishedName->clear();
    return hr;
}

int32_t Directory::GetUserSidViaAdsi(cGjLog& log, const WChar* dnsDomain, const WChar* userName,
                                     WString* sid) {
    sid->clear();
    WString distinguishedName;
    int32_t hr = TranslateUpnToDistinguishedName(log, dnsDomain, userName, &distinguishedName);
    if (hr != 0) {
        log.LogHResult(kLogError, hr, KW("Error translating name '%s'\\'%s' to distinguished name."),
                       dnsDomain, userName);
        return hr;
    }
    const WString path = Format(KW("LDAP://%s"), distinguishedName.c_str());
    std::unique_ptr<DirectoryObject> user;
    hr = backend_.BindObject(path.c_str(), ObjectInterface::User, &user);
    if (hr == 0 && user == nullptr)
        hr = kEPointer;
    if (hr != 0) {
        log.LogHResult(kLogError, hr, KW("Error getting object for '%s'."), path.c_str());
        return hr;
    }
    hr = user->QueryInterface(ObjectInterface::User);
    if (hr != 0) {
        log.LogHResult(kLogError, hr, KW("Error getting query interface object for '%s'."), path.c_str());
        return hr;
    }
    AttributeValue value;
    hr = user->Get(KW("ObjectSID"), &value);
    if (hr != 0) {
        log.LogHResult(kLogError, hr, KW("Error getting SID from object with WinNt path: '%s'."),
                       path.c_str());
        return hr;
    }
    SidBytes bytes;
    hr = CopyBytes(value, &bytes);
    if (hr != 0) {
        log.LogHResult(kLogDebug, hr, KW("Error getting converting binary SID to bytes."));
        return hr;
    }
    int32_t released = 0;
    const int32_t converted = backend_.SidToString(bytes, sid, &released);
    if (converted != 0) {
        sid->clear();
        log.LogSystemError(kLogError, static_cast<uint32_t>(converted),
                           KW("Failed to convert SID object to string."));
        return converted;
    }
    if (released != 0) {
        log.LogSystemError(kLogWarning, static_cast<uint32_t>(released),
                           KW("Failed to free SID string for '%s'."), distinguishedName.c_str());
    }
    return 0;
}

int32_t Directory::GetSidStringByLookupName(cGjLog& log, const WChar* accountName, WString* sid) {
    sid->clear();
    SidBytes bytes;
    int32_t result = LookupSidByName(log, accountName, &bytes);
    if (result != 0) {
        log.LogWithCode(kLogError, result, KW("Unable to look up SID for lookupname '%s'."), accountName);
        return result;
    }
    int32_t released = 0;
    result = backend_.SidToString(bytes, sid, &released);
    if (result != 0) {
        sid->clear();
        log.LogSystemError(kLogError, static_cast<uint32_t>(result),
                           KW("Failed to convert SID object to string."));
        return result;
    }
    log.LogMessage(kLogDebug, KW("Found SID '%s'."), sid->c_str());
    if (released != 0) {
        log.LogSystemError(kLogWarning, static_cast<uint32_t>(released),
                           KW("Failed to free SID string '%s'."), accountName);
    }
    return 0;
}

int32_t Directory::LookupSidByName(cGjLog& log, const WChar* accountName, SidBytes* sid) {
    sid->clear();
    auto [domainPart, userPart] = SplitAccountName(OrEmpty(accountName));
    WString computer;  // empty: the local computer
    WString name = OrEmpty(accountName);
    bool onController = false;
    AccountSidBuffers buffers;  // both buffers start empty: the first call reports the sizes
    int retries = 0;
    for (;;) {
        const int32_t result =
            backend_.LookupAccountName(computer.empty() ? nullptr : computer.c_str(), name.c_str(), &buffers);
        if (result == 0) {
            *sid = std::move(buffers.sid);
            return 0;
        }
        if (result == winerr::kInsufficientBuffer && retries < kMaxBufferRetries) {
            ++retries;
            log.LogSystemError(
                kLogDebug, static_cast<uint32_t>(result),
                KW("Buffer was too small to lookup SID for '%s', try again with correct buffer size."),
                name.c_str());
            continue;  // the call wrote the sizes it needs into `buffers`
        }
        if (!onController && result != winerr::kInsufficientBuffer) {
            // The local computer does not know the name: ask a controller of its domain for the user part.
            onController = true;
            computer = GetDomainControllerName(log, domainPart.c_str());
            name = userPart;
            log.LogMessage(kLogDebug,
                           KW("Looking up sid for account '%s' in domain '%s' (Using computer '%s')."),
                           userPart.c_str(), domainPart.c_str(), computer.c_str());
            continue;
        }
        log.LogSystemError(kLogError, static_cast<uint32_t>(result), KW("Failed to lookup SID for '%s'."),
                           name.c_str());
        return result;
    }
}

WString Directory::GetDomainControllerName(cGjLog& log, const WChar* domain) {
    const WStringView name = OrEmpty(domain);
    if (name.empty())
        return WString();
    if (name.substr(0, 2) == KW("\\\\"))
        return WString(name);
    // BUILTIN, or a leading part of it, is an account database of its own with no controller to ask.
    if (name.size() <= kBuiltinDomain.size() && kBuiltinDomain.substr(0, name.size()) == name)
        return WString();
    DomainControllerInfo info;
    const int32_t result = backend_.GetDcName(domain, kDsReturnFlatName, &info);
    if (result != 0) {
        log.LogSystemError(kLogError, static_cast<uint32_t>(result),
                           KW("Error retrieving domain controller for domain '%s'."), domain);
        return WString();
    }
    return MakeUncServerName(info.domainControllerName);
}

int32_t Directory::LookupAccountBySid(cGjLog& log, const SidBytes& sid, WString* accountName,
                                      WString* domainName, uint32_t* use) {
    accountName->clear();
    domainName->clear();
    *use = 0;
    AccountNameBuffers buffers;  // empty: the first call reports the sizes
    int32_t result = backend_.LookupAccountSid(nullptr, sid, &buffers);
    for (int retries = 0; result == winerr::kInsufficientBuffer && retries < kMaxBufferRetries; ++retries)
        result = backend_.LookupAccountSid(nullptr, sid, &buffers);
    if (result != 0) {
        log.LogSystemError(kLogError, static_cast<uint32_t>(result),
                           KW("Error looking up account name using a SID."));
        return result;
    }
    *accountName = std::move(buffers.name);
    *domainName = std::move(buffers.domain);
    *use = buffers.use;
    return 0;
}

int32_t Directory::CanonicalToDistinguishedName(cGjLog& log, const WChar* canonicalName,
                                                WString* distinguishedName) {
    distinguishedName->clear();
    const WStringView canonical = OrEmpty(canonicalName);
    const size_t slash = canonical.find(u'/');
    WString domain;
    if (slash == WStringView::npos || slash == 0) {
        log.LogMessage(kLogDebug, KW("Unable to extract domain name from canonical name '%s'."),
                       canonicalName);
    } else {
        domain = WString(canonical.substr(0, slash));
    }
    const int32_t result = CrackName(log, domain.empty() ? nullptr : domain.c_str(), kDsCanonicalName,
                                     canonicalName, kDsFqdn1779Name, false, distinguishedName);
    if (result != 0) {
        log.LogMessage(kLogDebug, KW("Unable to translate canonical name '%s' to to distinguished name ."),
                       canonicalName);
    }
    return result;
}

}  // namespace korva
