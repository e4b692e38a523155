// The offline directory: loading an LDIF snapshot into the store, the store's derived indexes (memberOf,
// naming contexts, root DSE), value comparison by attribute syntax, and opening sessions over it.
#include <algorithm>
#include <unordered_set>

#include "directory/ldif_directory_internal.h"
#include "directory/sid_text.h"
#include "platform/result_codes.h"

namespace korva::ldifdir {
namespace {

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

std::string LowerAscii(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(), Lower);
    return lower;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return Lower(x) == Lower(y); });
}

int CompareNoCase(std::string_view a, std::string_view b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const auto x = static_cast<unsigned char>(Lower(a[i]));
        const auto y = static_cast<unsigned char>(Lower(b[i]));
        if (x != y) {
            return x < y ? -1 : 1;
        }
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

Syntax SyntaxOf(std::string_view lowerName) {
    static const std::map<std::string, Syntax, std::less<>> kSyntaxes = {
        {"member", Syntax::Dn},
        {"memberof", Syntax::Dn},
        {"distinguishedname", Syntax::Dn},
        {"objectcategory", Syntax::Dn},
        {"manager", Syntax::Dn},
        {"managedby", Syntax::Dn},
        {"directreports", Syntax::Dn},
        {"ncname", Syntax::Dn},
        {"defaultobjectcategory", Syntax::Dn},
        {"objectsid", Syntax::Sid},
        {"sidhistory", Syntax::Sid},
        {"tokengroups", Syntax::Sid},
        {"securityidentifier", Syntax::Sid},
        {"objectguid", Syntax::Bytes},
        {"msds-bytearray", Syntax::Bytes},
        {"usercertificate", Syntax::Bytes},
        {"jpegphoto", Syntax::Bytes},
        {"thumbnailphoto", Syntax::Bytes},
        {"logonhours", Syntax::Bytes},
        {"pwdlastset", Syntax::Integer},
        {"useraccountcontrol", Syntax::Integer},
        {"grouptype", Syntax::Integer},
        {"primarygroupid", Syntax::Integer},
        {"samaccounttype", Syntax::Integer},
        {"instancetype", Syntax::Integer},
        {"admincount", Syntax::Integer},
        {"accountexpires", Syntax::Integer},
        {"lastlogon", Syntax::Integer},
        {"lastlogontimestamp", Syntax::Integer},
        {"badpwdcount", Syntax::Integer},
        {"badpasswordtime", Syntax::Integer},
        {"lockouttime", Syntax::Integer},
        {"logoncount", Syntax::Integer},
        {"systemflags", Syntax::Integer},
        {"usnchanged", Syntax::Integer},
        {"usncreated", Syntax::Integer},
        {"maxpwdage", Syntax::Integer},
        {"minpwdage", Syntax::Integer},
        {"minpwdlength", Syntax::Integer},
        {"pwdproperties", Syntax::Integer},
        {"pwdhistorylength", Syntax::Integer},
    };
    const auto it = kSyntaxes.find(lowerName);
    return it == kSyntaxes.end() ? Syntax::Text : it->second;
}

// Strict decimal with an optional minus sign, as LDAP carries integers.
bool ParseInteger(std::string_view text, int64_t* value) {
    bool negative = false;
    if (!text.empty() && text[0] == '-') {
        negative = true;
        text.remove_prefix(1);
    }
    if (text.empty() || text.size() > 19) {
        return false;
    }
    uint64_t magnitude = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        magnitude = magnitude * 10 + static_cast<uint64_t>(c - '0');
    }
    const uint64_t limit = negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
    if (magnitude > limit) {
        return false;
    }
    *value = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
    return true;
}

std::string NormalizedOrLower(std::string_view dnText) {
    std::string key;
    return dn::Normalize(dnText, &key) ? key : LowerAscii(dnText);
}

// Whether a stored value equals a filter's assertion value under the attribute's syntax.
bool ValuesEqual(Syntax syntax, std::string_view stored, std::string_view assertion) {
    switch (syntax) {
        case Syntax::Dn:
            // "objectCategory=person" names the category by its class, not by its DN.
            if (assertion.find('=') == std::string_view::npos) {
                std::vector<dn::Rdn> rdns;
                return dn::Parse(stored, &rdns) && !rdns.empty() && EqualsNoCase(rdns[0][0].value, assertion);
            }
            return NormalizedOrLower(stored) == NormalizedOrLower(assertion);
        case Syntax::Sid: {
            if (stored == assertion) {
                return true;
            }
            SidBytes sid;
            return TextToSid(Utf8ToUtf16(assertion), &sid) == 0 &&
                   stored == std::string_view(reinterpret_cast<const char*>(sid.data()), sid.size());
        }
        case Syntax::Bytes:
            return stored == assertion;
        case Syntax::Integer: {
            int64_t a = 0;
            int64_t b = 0;
            return ParseInteger(stored, &a) && ParseInteger(assertion, &b) && a == b;
        }
        case Syntax::Text:
            return EqualsNoCase(stored, assertion);
    }
    return false;
}

}  // namespace korva::ldifdir

namespace korva {

using namespace ldifdir;

const StoredEntry* LdifDirectory::Store::Lookup(const std::string& key) const {
    const auto it = byKey.find(key);
    return it == byKey.end() ? nullptr : &entries[it->second];
}

// Recomputes everything derived from the stored entries: the indexes, memberOf back-links, the naming
// contexts and the root DSE.
void LdifDirectory::Store::Rebuild() {
    byKey.clear();
    bySid.clear();
    for (size_t i = 0; i < entries.size(); ++i) {
        byKey[entries[i].key] = i;
    }
    std::vector<std::vector<std::string>> backLinks(entries.size());
    for (StoredEntry& e : entries) {
        if (const StoredAttribute* members = e.Find(e.attributes, "member")) {
            for (const std::string& member : members->values) {
                const auto it = byKey.find(NormalizedOrLower(member));
                if (it != byKey.end()) {
                    backLinks[it->second].push_back(e.dn);
                }
            }
        }
    }
    for (size_t i = 0; i < entries.size(); ++i) {
        StoredEntry& e = entries[i];
        e.effective = e.attributes;
        if (!backLinks[i].empty()) {
            StoredAttribute* memberOf = FindAttribute(&e.effective, "memberof");
            if (memberOf == nullptr) {
                memberOf = &e.effective.emplace_back(StoredAttribute{"memberOf", "memberof", {}});
            }
            std::unordered_set<std::string> known;
            for (const std::string& v : memberOf->values) {
                known.insert(NormalizedOrLower(v));
            }
            for (const std::string& group : backLinks[i]) {
                if (known.insert(NormalizedOrLower(group)).second) {
                    memberOf->values.push_back(group);
                }
            }
        }
        if (e.key.empty()) {
            continue;
        }
        if (FindAttribute(&e.effective, "distinguishedname") == nullptr) {
            e.effective.push_back(StoredAttribute{"distinguishedName", "distinguishedname", {e.dn}});
        }
        if (FindAttribute(&e.effective, "name") == nullptr && !e.rdns.empty()) {
            e.effective.push_back(StoredAttribute{"name", "name", {e.rdns[0][0].value}});
        }
        if (const StoredAttribute* sid = e.Find(e.attributes, "objectsid");
            sid != nullptr && !sid->values.empty()) {
            bySid.emplace(sid->values[0], i);
        }
    }
    FindNamingContexts();
    for (StoredEntry& e : entries) {
        e.nc = -1;
        size_t best = 0;
        for (size_t n = 0; n < ncKeys.size(); ++n) {
            if (dn::IsSameOrBelow(e.key, ncKeys[n]) && (e.nc < 0 || ncKeys[n].size() > best)) {
                e.nc = static_cast<int>(n);
                best = ncKeys[n].size();
            }
        }
    }
}

void LdifDirectory::Store::FindNamingContexts() {
    ncKeys.clear();
    const StoredEntry* stored = Lookup("");
    if (stored != nullptr) {
        rootDse = *stored;
        if (const StoredAttribute* contexts = stored->Find(stored->attributes, "namingcontexts")) {
            for (const std::string& context : contexts->values) {
                ncKeys.push_back(NormalizedOrLower(context));
            }
        }
        return;
    }
    std::vector<const StoredEntry*> domains;
    for (const StoredEntry& e : entries) {
        if (HasObjectClass(e, "domainDNS")) {
            domains.push_back(&e);
        }
    }
    rootDse = StoredEntry{};
    std::vector<StoredAttribute>& root = rootDse.effective;
    root.push_back(StoredAttribute{"objectClass", "objectclass", {"top"}});
    root.push_back(StoredAttribute{"namingContexts", "namingcontexts", {}});
    for (const StoredEntry* domain : domains) {
        ncKeys.push_back(domain->key);
        root[1].values.push_back(domain->dn);
    }
    if (!domains.empty()) {
        const StoredEntry& first = *domains.front();
        root.push_back(StoredAttribute{"defaultNamingContext", "defaultnamingcontext", {first.dn}});
        root.push_back(StoredAttribute{"rootDomainNamingContext", "rootdomainnamingcontext", {first.dn}});
        const StoredEntry* configuration = Lookup("cn=configuration," + first.key);
        if (configuration != nullptr) {
            ncKeys.push_back(configuration->key);
            root[1].values.push_back(configuration->dn);
            root.push_back(StoredAttribute{
                "configurationNamingContext", "configurationnamingcontext", {configuration->dn}});
            const StoredEntry* schema = Lookup("cn=schema," + configuration->key);
            if (schema != nullptr) {
                ncKeys.push_back(schema->key);
                root[1].values.push_back(schema->dn);
                root.push_back(StoredAttribute{"schemaNamingContext", "schemanamingcontext", {schema->dn}});
            }
        }
    }
    root.push_back(StoredAttribute{"supportedLDAPVersion", "supportedldapversion", {"3"}});
}

int32_t LdifDirectory::Load(std::string_view ldifText, const ldif::Limits& limits,
                            std::unique_ptr<LdifDirectory>* out, ldif::ParseError* error) {
    out->reset();
    std::vector<ldif::Entry> parsed;
    const int32_t status = ldif::Parse(ldifText, limits, &parsed, error);
    if (status != 0) {
        return status;
    }
    auto store = std::make_shared<Store>();
    std::unordered_map<std::string, size_t> lines;
    for (ldif::Entry& source : parsed) {
        StoredEntry entry;
        entry.dn = std::move(source.dn);
        entry.line = source.line;
        if (!dn::Normalize(entry.dn, &entry.key) || !dn::Parse(entry.dn, &entry.rdns)) {
            *error = ldif::ParseError{entry.line, "\"" + entry.dn + "\" is not a valid distinguished name"};
            return winerr::kInvalidData;
        }
        const auto [it, added] = lines.emplace(entry.key, entry.line);
        if (!added) {
            *error = ldif::ParseError{entry.line, "a second entry for \"" + entry.dn +
                                                      "\" (the first is on line " +
                                                      std::to_string(it->second) + ")"};
            return winerr::kInvalidData;
        }
        entry.parent = dn::ParentKey(entry.key);
        for (ldif::Attribute& a : source.attributes) {
            const std::string lower = LowerAscii(a.name);
            entry.attributes.push_back(StoredAttribute{std::move(a.name), lower, std::move(a.values)});
        }
        store->entries.push_back(std::move(entry));
    }
    store->Rebuild();
    out->reset(new LdifDirectory(std::move(store)));
    return 0;
}

int32_t LdifDirectory::Open(const platform::LdapSettings& settings,
                            std::unique_ptr<platform::LdapSession>* out) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(settings.budgetMs);
    *out = std::make_unique<LdifSession>(store_, deadline, settings.sizeLimit);
    return 0;
}

std::vector<ldif::Entry> LdifDirectory::Entries() const {
    platform::LockGuard guard(store_->lock);
    std::vector<ldif::Entry> entries;
    for (const StoredEntry& stored : store_->entries) {
        ldif::Entry& entry = entries.emplace_back();
        entry.dn = stored.dn;
        entry.line = stored.line;
        for (const StoredAttribute& a : stored.attributes) {
            entry.attributes.push_back(ldif::Attribute{a.name, a.values});
        }
    }
    return entries;
}

}  // namespace korva

namespace korva::ldifdir {

int32_t LdifSession::Start() {
    message_.clear();
    return Expired() ? Fail(kLdapTimeout, "the time for this session has run out") : 0;
}

}  // namespace korva::ldifdir
