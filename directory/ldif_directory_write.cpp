// The offline directory's writes: the session's Add and Modify, with the checks a domain controller makes
// (parents, duplicate values, attributes the directory maintains itself).
#include <algorithm>

#include "directory/ldif_directory_internal.h"
#include "platform/result_codes.h"

namespace korva::ldifdir {

int32_t LdifSession::Add(WStringView dnText, const std::vector<LdapAttribute>& attributes) {
    platform::LockGuard guard(store_->lock);
    if (const int32_t status = Start(); status != 0) {
        return status;
    }
    StoredEntry entry;
    entry.dn = Utf16ToUtf8(dnText);
    if (!dn::Normalize(entry.dn, &entry.key) || entry.key.empty() || !dn::Parse(entry.dn, &entry.rdns)) {
        return Fail(kLdapInvalidDnSyntax, "not a valid DN: " + entry.dn);
    }
    if (store_->Lookup(entry.key) != nullptr) {
        return Fail(kLdapAlreadyExists, "the entry exists already: " + entry.dn);
    }
    entry.parent = dn::ParentKey(entry.key);
    const bool domainHead = std::all_of(entry.rdns.begin(), entry.rdns.end(), [](const dn::Rdn& rdn) {
        return rdn.size() == 1 && EqualsNoCase(rdn[0].type, "dc");
    });
    if (!entry.parent.empty() && store_->Lookup(entry.parent) == nullptr && !domainHead) {
        return Fail(kLdapNoSuchObject, "the parent of " + entry.dn + " does not exist");
    }
    for (const LdapAttribute& attribute : attributes) {
        StoredAttribute stored;
        stored.name = Utf16ToUtf8(attribute.name);
        stored.lower = LowerAscii(stored.name);
        if (stored.name.empty() || attribute.values.empty()) {
            return Fail(kLdapParamError, "an attribute without a name or without values");
        }
        if (IsMaintained(stored.lower)) {
            return Fail(kLdapUnwillingToPerform, stored.name + " is maintained by the directory");
        }
        for (const LdapValue& v : attribute.values) {
            stored.values.emplace_back(v.begin(), v.end());
        }
        StoredAttribute* existing = FindAttribute(&entry.attributes, stored.lower);
        if (existing == nullptr) {
            existing = &entry.attributes.emplace_back(StoredAttribute{stored.name, stored.lower, {}});
        }
        const int32_t status = AddValues(existing, stored.values);
        if (status != 0) {
            return status;
        }
    }
    if (FindAttribute(&entry.attributes, "objectclass") == nullptr) {
        return Fail(kLdapObjectClassViolation, "an entry needs an objectClass");
    }
    entry.line = 0;
    store_->entries.push_back(std::move(entry));
    store_->Rebuild();
    return 0;
}

int32_t LdifSession::Modify(WStringView dnText, const std::vector<LdapModification>& changes) {
    platform::LockGuard guard(store_->lock);
    if (const int32_t status = Start(); status != 0) {
        return status;
    }
    const std::string text = Utf16ToUtf8(dnText);
    std::string key;
    if (!dn::Normalize(text, &key)) {
        return Fail(kLdapInvalidDnSyntax, "not a valid DN: " + text);
    }
    const auto it = store_->byKey.find(key);
    if (it == store_->byKey.end() || key.empty()) {
        return Fail(kLdapNoSuchObject, "no such object: " + text);
    }
    std::vector<StoredAttribute> attributes = store_->entries[it->second].attributes;
    for (const LdapModification& change : changes) {
        const std::string name = Utf16ToUtf8(change.attribute);
        const std::string lower = LowerAscii(name);
        if (name.empty()) {
            return Fail(kLdapParamError, "a change without an attribute name");
        }
        if (IsMaintained(lower)) {
            return Fail(kLdapUnwillingToPerform, name + " is maintained by the directory");
        }
        std::vector<std::string> values;
        for (const LdapValue& v : change.values) {
            values.emplace_back(v.begin(), v.end());
        }
        StoredAttribute* existing = FindAttribute(&attributes, lower);
        const int32_t status = Apply(change.op, name, lower, values, existing, &attributes);
        if (status != 0) {
            return status;
        }
    }
    if (FindAttribute(&attributes, "objectclass") == nullptr) {
        return Fail(kLdapObjectClassViolation, "an entry needs an objectClass");
    }
    store_->entries[it->second].attributes = std::move(attributes);
    store_->Rebuild();
    return 0;
}

bool LdifSession::IsMaintained(std::string_view lower) {
    return lower == "memberof" || lower == "distinguishedname" || lower == "canonicalname" ||
           lower == "tokengroups";
}

int32_t LdifSession::AddValues(StoredAttribute* attribute, const std::vector<std::string>& values) {
    const Syntax syntax = SyntaxOf(attribute->lower);
    for (const std::string& v : values) {
        const bool present = std::any_of(attribute->values.begin(), attribute->values.end(),
                                         [&](const std::string& old) { return ValuesEqual(syntax, old, v); });
        if (present) {
            return Fail(kLdapAttributeOrValueExists, attribute->name + " has that value already");
        }
        attribute->values.push_back(v);
    }
    return 0;
}

int32_t LdifSession::Apply(LdapModOp op, const std::string& name, const std::string& lower,
                           const std::vector<std::string>& values, StoredAttribute* existing,
                           std::vector<StoredAttribute>* attributes) {
    auto remove = [&] {
        attributes->erase(std::remove_if(attributes->begin(), attributes->end(),
                                         [&](const StoredAttribute& a) { return a.lower == lower; }),
                          attributes->end());
    };
    switch (op) {
        case LdapModOp::Add:
            if (values.empty()) {
                return Fail(kLdapParamError, "adding no values to " + name);
            }
            if (existing == nullptr) {
                existing = &attributes->emplace_back(StoredAttribute{name, lower, {}});
            }
            return AddValues(existing, values);
        case LdapModOp::Replace:
            remove();
            if (!values.empty()) {
                StoredAttribute replacement{name, lower, {}};
                const int32_t status = AddValues(&replacement, values);
                if (status != 0) {
                    return status;
                }
                attributes->push_back(std::move(replacement));
            }
            return 0;
        case LdapModOp::Delete: {
            if (existing == nullptr) {
                return Fail(kLdapNoSuchAttribute, "the entry has no " + name);
            }
            if (values.empty()) {
                remove();
                return 0;
            }
            const Syntax syntax = SyntaxOf(lower);
            for (const std::string& v : values) {
                const auto found =
                    std::find_if(existing->values.begin(), existing->values.end(),
                                 [&](const std::string& old) { return ValuesEqual(syntax, old, v); });
                if (found == existing->values.end()) {
                    return Fail(kLdapNoSuchAttribute, name + " does not have that value");
                }
                existing->values.erase(found);
            }
            if (existing->values.empty()) {
                remove();
            }
            return 0;
        }
    }
    return Fail(kLdapParamError, "unknown modification");
}

}  // namespace korva::ldifdir
