// Scopes: loading them from a policy, refreshing their names from the directory, building the user scope of
// the person changing a password, and deciding whether a policy's scope covers that user.
#include "policy/scope.h"

#include <algorithm>
#include <iterator>
#include <utility>
#include <vector>

#include "directory/directory.h"
#include "infra/log.h"
#include "platform/format.h"
#include "platform/result_codes.h"
#include "policy/rule_base.h"
#include "xml/xml_dom.h"

namespace korva {
namespace {

const WChar* Printable(const WString& text) {
    return text.empty() ? nullptr : text.c_str();
}

// The first `count` characters of `text` (all of it when shorter).
WString Left(const WString& text, size_t count) {
    return text.substr(0, std::min(count, text.size()));
}

// Reads the text of a child element into `field`; logs and returns the DOM's status on failure.
int32_t ReadChildText(cGjLog& log, const xml::Node& child, WString* field, const WChar* failure,
                      const WChar* success) {
    WString text;
    const int32_t status = child.GetText(&text);
    if (status != kSOk) {
        log.LogHResult(kLogError, status, failure);
        return status;
    }
    *field = std::move(text);
    log.LogMessage(kLogDebug, success);
    return 0;
}

// Fills `groups` from the distinguished name of `canonicalName` (used for both sides of a group comparison).
int32_t ComputeGroupSet(cGjLog& log, const WString& canonicalName, GroupSet& groups) {
    WString distinguished;
    const int32_t code = Dir().CanonicalToDistinguishedName(log, canonicalName.c_str(), &distinguished);
    if (code != 0) {
        log.LogWithCode(kLogError, code, KW("Failed to convert canonical name '%s' to distinguished name."),
                        Printable(canonicalName));
        return code;
    }
    const int32_t walked = EnumerateGroups(log, distinguished.c_str(), groups);
    if (walked < 0) {
        // What was gathered before the failure is still used.
        log.LogSystemError(kLogError, static_cast<uint32_t>(walked),
                           KW("Failed to enumerate groups for '%s'."), distinguished.c_str());
    }
    return 0;
}

}  // namespace

CScope::~CScope() = default;

int32_t CScope::LoadFromXML(cGjLog& log, const xml::Node& element) {
    bool hasChildren = false;
    int32_t status = element.HasChildNodes(&hasChildren);
    if (status != kSOk) {
        log.LogHResult(kLogError, status, KW("Failed to determine if scope node has children."));
        return status;
    }
    if (!hasChildren) {
        log.LogWithCode(kLogError, kResultEmpty, KW("Scope is empty."));
        return kResultEmpty;
    }

    WString typeText;
    status = element.GetAttribute(KW("type"), &typeText);
    if (status != kSOk && status != kSFalse) {
        log.LogHResult(kLogError, status, KW("Failed to get type attribute."));
        return status;
    }
    if (status == kSFalse)
        return kResultInvalidValue;  // "type" is required

    int32_t result = 0;
    int32_t type = 0;
    if (StringToInt(typeText.c_str(), &type)) {
        type_ = type;
        log.LogMessage(kLogDebug, KW("Successfully determined type."));
    } else {
        log.LogWithCode(kLogError, kResultInvalidValue,
                        KW("Failed to convert value of type attribute to integer."));
        result = kResultInvalidValue;
    }

    std::vector<xml::Node> children;
    status = element.GetChildNodes(&children);
    if (status != kSOk) {
        log.LogHResult(kLogError, status, KW("An error occurred getting scope data."));
        return status;
    }
    log.LogMessage(kLogDebug, KW("Load scope data from XML."));

    const int32_t walked = WalkNamedChildren(
        log, children, [&](const WString& name, const xml::Node& child, int32_t&) -> std::optional<int32_t> {
            int32_t read = 0;
            if (name == KW("SID")) {
                read = ReadChildText(log, child, &sid_, KW("Failed to get value of SID node."),
                                     KW("Successfully set SID."));
            } else if (name == KW("CanonicalName")) {
                read = ReadChildText(log, child, &canonicalName_,
                                     KW("Failed to get value of CanonicalName node."),
                                     KW("Successfully set Canonical Name."));
            } else if (name == KW("Name")) {
                read = ReadChildText(log, child, &name_, KW("Failed to get value of Name node."),
                                     KW("Successfully set Name."));
            } else if (name == KW("Groups")) {
                read = LoadGroupsFromXML(log, child);
                if (read != 0) {
                    log.LogHResult(kLogError, read, KW("Failed to get value of groups node."));
                } else {
                    log.LogMessage(kLogDebug, KW("Successfully added group set data."));
                }
            }
            return read != 0 ? std::optional<int32_t>(read) : std::nullopt;
        });
    // A child's failure outweighs an unreadable type.
    return walked != 0 ? walked : result;
}

int32_t CScope::LoadGroupsFromXML(cGjLog& log, const xml::Node& element) {
    groups_.clear();
    bool hasChildren = false;
    int32_t status = element.HasChildNodes(&hasChildren);
    if (status != kSOk) {
        log.LogHResult(kLogError, status, KW("Failed to determine if groups node has children."));
        return status;
    }
    if (!hasChildren) {
        // An empty group list is allowed: the set is then computed from the directory when first needed.
        log.LogWithCode(kLogError, kResultEmpty, KW("Group is empty."));
        return 0;
    }
    std::vector<xml::Node> children;
    status = element.GetChildNodes(&children);
    if (status != kSOk) {
        log.LogHResult(kLogError, status, KW("An error occurred getting group set data."));
        return status;
    }
    log.LogMessage(kLogDebug, KW("Load group set data from XML."));

    return WalkNamedChildren(log, children,
                             TextsOf(log, KW("Group"), KW("Failed to get value of group node."),
                                     KW("Successfully added name to group set."),
                                     [this](WString&& text) { groups_.insert(std::move(text)); }));
}

int32_t CScope::Update(cGjLog& log) {
    switch (type_) {
        case ST_OU:
        case ST_DOMAIN:
        case ST_SINGLEOU:
            // Units and domains are named by their canonical name in the "SID" text.
            canonicalName_ = sid_;
            name_ = sid_;
            return 0;
        case ST_USERS:
            name_.clear();
            break;
        case ST_GROUPS:
            break;
        default:
            return 0;
    }

    Directory& directory = Dir();
    SidBytes sid;
    // A scope without a usable SID keeps the names it was loaded with.
    if (directory.StringToSid(sid_.c_str(), &sid) != 0)
        return 0;

    WString account;
    WString domain;
    uint32_t use = 0;
    int32_t code = directory.LookupAccountBySid(log, sid, &account, &domain, &use);
    if (code != 0) {
        log.LogWithCode(kLogError, code, KW("Error looking up account name by SID '%s'"), Printable(sid_));
        return code;
    }
    name_ = std::move(account);

    std::unique_ptr<DomainControllerBinding> binding;
    code = directory.BindDomainController(domain.c_str(), &binding);
    if (code != 0 || binding == nullptr) {
        if (code == 0)
            code = winerr::kInvalidHandle;
        log.LogSystemError(kLogError, static_cast<uint32_t>(code),
                           KW("Failed to bind a domain controller for domain '%s'."), domain.c_str());
        return code;
    }

    CrackedName cracked;
    code =
        binding->CrackName(kDsNameNoFlags, kDsSidOrSidHistoryName, kDsCanonicalName, sid_.c_str(), &cracked);
    if (code != 0) {
        log.LogWithCode(kLogError, code, KW("Error cracking name '%s', unable to get canonical name."),
                        Printable(sid_));
    } else if (cracked.hasItem && !cracked.name.empty()) {
        canonicalName_ = std::move(cracked.name);
    }

    if (type_ != ST_USERS) {
        name_ = canonicalName_;
    } else {
        CrackedName principal;
        code = binding->CrackName(kDsNameNoFlags, kDsSidOrSidHistoryName, kDsUserPrincipalName, sid_.c_str(),
                                  &principal);
        if (code != 0) {
            log.LogWithCode(kLogError, code,
                            KW("Error cracking name '%s', unable to get user principal name."),
                            Printable(sid_));
        } else if (principal.hasItem && !principal.name.empty()) {
            name_ = std::move(principal.name);
        }
    }
    return code;
}

int32_t CScope::CreateUserScope(cGjLog& log, const WChar* userName, const WChar* domainName) {
    log.LogMessage(kLogDebug, KW("Create user scope for '%s'."), userName);
    sid_.clear();
    canonicalName_.clear();
    name_.clear();

    Directory& directory = Dir();
    WString domain;
    if (domainName == nullptr) {
        WString flat;
        int32_t code = directory.GetJoinedDomain(log, &flat);
        if (code != 0) {
            log.LogWithCode(kLogError, code,
                            KW("No domain name provided and call to retrieve domain name failed."));
            return code;
        }
        code = directory.FlatToDnsDomain(log, flat.c_str(), &domain);
        if (code != 0) {
            log.LogWithCode(kLogError, code, KW("Failed to convert flat name '%s' to DNS name."),
                            Printable(flat));
            return code;
        }
    } else {
        domain = domainName;
    }
    log.LogMessage(kLogDebug, KW("User '%s' should be in domain '%s'."), userName, Printable(domain));

    if (!domain.empty()) {
        WString sid;
        const int32_t code =
            directory.GetUserSid(log, domain.c_str(), userName != nullptr ? userName : KW(""), &sid);
        if (code != 0) {
            log.LogWithCode(kLogError, code, KW("Failed to get user SID for '%s' in domain (DNS name) '%s'."),
                            userName, domain.c_str());
            return code;
        }
        type_ = ST_USERS;
        sid_ = std::move(sid);
        // A user whose names cannot be cracked simply matches fewer scopes.
        (void)Update(log);
    }
    log.LogMessage(kLogDebug, KW("Successfully created user scope for '%s'."), userName);
    return 0;
}

int32_t CScope::Match(cGjLog& log, CScope& userScope, bool* matched) {
    *matched = false;
    if (userScope.type_ != ST_USERS)
        return 0;

    const WString& s = canonicalName_;
    const WString& u = userScope.canonicalName_;
    log.LogMessage(kLogDebug,
                   KW("Try to find match for type '%d' for current scope ('%s') with user scope ('%s')."),
                   type_, Printable(s), Printable(u));

    if (s.empty() && (type_ == ST_OU || type_ == ST_DOMAIN || type_ == ST_SINGLEOU)) {
        // A unit or domain without a name would otherwise cover every user; it covers none.
        log.LogMessage(kLogWarning, KW("Scope of type '%d' has no canonical name; it matches no user."),
                       type_);
        return 0;
    }

    switch (type_) {
        case ST_USERS:
            if (EqualsNoCaseAscii(s, u)) {
                *matched = true;
                log.LogMessage(kLogDebug,
                               KW("Found match as ST_USERS to find match for current scope ('%s') ."),
                               Printable(s));
            }
            break;
        case ST_GROUPS: {
            GroupSet common;
            const int32_t code = IntersectGroups(userScope, log, Printable(s), groups_, &common);
            if (code != 0) {
                log.LogMessage(
                    kLogWarning,
                    KW("An error occurred while trying to intersect 2 groups for current scope ('%s')."),
                    Printable(s));
                return code;
            }
            if (!common.empty()) {
                *matched = true;
                log.LogMessage(kLogDebug, KW("Found match as ST_GROUPS for current scope ('%s')."),
                               Printable(s));
            }
            break;
        }
        case ST_OU: {
            const WString left = Left(u, s.size());
            log.LogMessage(kLogDebug, KW("Comparing left side '%s' of '%s' with '%s'."), Printable(left),
                           Printable(u), Printable(s));
            if (EqualsNoCaseAscii(left, s)) {
                log.LogMessage(kLogDebug,
                               KW("Left side '%s' matches with '%s', now checking last character of '%s'."),
                               Printable(left), Printable(s), Printable(u));
                if (u.size() > s.size() && u[s.size()] == u'/') {
                    *matched = true;
                    log.LogMessage(kLogDebug,
                                   KW("Found match as ST_OU to find match for current scope ('%s')."),
                                   Printable(s));
                }
            }
            break;
        }
        case ST_DOMAIN:
            log.LogMessage(kLogDebug, KW("Comparing domain of '%s' with '%s'."), Printable(u), Printable(s));
            // A prefix, with no separator required after it: "a.b" also covers "a.b.c/...".
            if (EqualsNoCaseAscii(Left(u, s.size()), s)) {
                *matched = true;
                log.LogMessage(kLogDebug,
                               KW("Found match as ST_DOMAIN to find match for current scope ('%s')."),
                               Printable(s));
            }
            break;
        case ST_SINGLEOU: {
            const WString left = Left(u, s.size());
            log.LogMessage(kLogDebug, KW("Comparing left side '%s' of '%s' with '%s'."), Printable(left),
                           Printable(u), Printable(s));
            if (!EqualsNoCaseAscii(left, s))
                break;
            log.LogMessage(kLogDebug,
                           KW("Left side '%s' matches with '%s', now checking the right side of '%s'."),
                           Printable(left), Printable(s), Printable(u));
            const int64_t remaining = static_cast<int64_t>(u.size()) - static_cast<int64_t>(s.size()) - 1;
            log.LogMessage(kLogDebug, KW("Remaining number of characters: %d."),
                           static_cast<int32_t>(remaining));
            if (remaining <= 0)
                break;
            log.LogMessage(kLogDebug, KW("Check the right side of '%s' starting at index %d."), Printable(u),
                           static_cast<int32_t>(remaining));
            // The last `remaining` characters: everything after the unit's name and one more character, which
            // is the separator for a real child (and is not checked).
            const WStringView right = WStringView(u).substr(u.size() - static_cast<size_t>(remaining));
            const size_t slash = right.find(u'/');
            const bool deeper = slash != WStringView::npos && static_cast<int64_t>(slash + 1) < remaining - 1;
            if (!deeper) {
                *matched = true;
                log.LogMessage(kLogDebug, KW("Found match of type ST_SINGLEOU for '%s'."), Printable(u));
            }
            break;
        }
        default:
            break;
    }
    return 0;
}

int32_t IntersectGroups(CScope& userScope, cGjLog& log, const WChar* scopeCanonicalName,
                        GroupSet& scopeGroupSet, GroupSet* result) {
    result->clear();
    if (userScope.groups_.empty()) {
        const int32_t code = ComputeGroupSet(log, userScope.canonicalName_, userScope.groups_);
        if (code != 0)
            return code;
    }
    if (scopeGroupSet.empty()) {
        const WString scopeName = scopeCanonicalName != nullptr ? WString(scopeCanonicalName) : WString();
        const int32_t code = ComputeGroupSet(log, scopeName, scopeGroupSet);
        if (code != 0)
            return code;
    }
    std::set_intersection(userScope.groups_.begin(), userScope.groups_.end(), scopeGroupSet.begin(),
                          scopeGroupSet.end(), std::inserter(*result, result->end()));
    return 0;
}

int32_t EnumerateGroups(cGjLog& log, const WChar* distinguishedName, GroupSet& groups) {
    if (distinguishedName == nullptr || distinguishedName[0] == 0)
        return 0;
    // Names already in the set end the walk there: this is what stops membership cycles.
    if (!groups.insert(WString(distinguishedName)).second)
        return 0;

    const WString path = Format(KW("LDAP://%s"), distinguishedName);
    log.LogMessage(kLogDebug, KW("Created LDAP query: %s"), path.c_str());
    std::unique_ptr<DirectoryObject> object;
    int32_t hr = Dir().BindObject(path.c_str(), ObjectInterface::Object, &object);
    if (hr != 0 || object == nullptr) {
        if (hr == 0)
            hr = kEFail;
        log.LogHResult(kLogError, hr, KW("Failed to bind user object in Active Directoy."));
        return hr;
    }
    log.LogMessage(kLogError, KW("Trying to extract information from bound object."));
    hr = object->GetInfo();
    if (hr != 0) {
        log.LogHResult(kLogError, hr, KW("Failed to load property cache of bound object."));
        return hr;
    }
    AttributeValue memberOf;
    hr = object->Get(KW("memberOf"), &memberOf);
    if (hr != 0) {
        // Also the answer for an object that belongs to no group.
        log.LogHResult(kLogError, hr, KW("Failed to get memberOf attribute of bound object."));
        return hr;
    }

    switch (memberOf.kind) {
        case AttributeValue::Kind::Text: {
            const int32_t walked = EnumerateGroups(log, memberOf.text.c_str(), groups);
            if (walked != 0) {
                log.LogHResult(kLogError, walked, KW("Error occurred enumerating groups for '%s'."),
                               memberOf.text.c_str());
            }
            return walked;
        }
        case AttributeValue::Kind::TextList: {
            if (memberOf.texts == nullptr)
                return 0;
            const std::vector<WString>* values = nullptr;
            hr = memberOf.texts->AccessData(&values);
            if (hr != 0 || values == nullptr) {
                if (hr == 0)
                    hr = kEFail;
                log.LogHResult(kLogError, hr,
                               KW("Error occurred while accessing the result array with the memberOf data."));
                return hr;
            }
            for (const WString& value : *values) {
                const int32_t walked = EnumerateGroups(log, value.c_str(), groups);
                if (walked != 0) {
                    log.LogHResult(kLogError, walked, KW("Error occurred enumerating groups for '%s'."),
                                   value.c_str());
                }
            }
            hr = memberOf.texts->Unaccess();
            if (hr != 0) {
                log.LogHResult(kLogError, hr,
                               KW("Error occurred while freeing the result array with the memberOf data."));
            }
            return hr;
        }
        default:
            log.LogMessage(kLogDebug, KW("Unknown data type stored in result object for memberOf data."));
            return 0;
    }
}

}  // namespace korva
