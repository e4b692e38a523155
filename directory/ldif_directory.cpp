#include "directory/ldif_directory.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "directory/dn.h"
#include "directory/ldap_filter.h"
#include "directory/sid_text.h"
#include "platform/result_codes.h"
#include "platform/sync.h"

namespace korva {

namespace {

using platform::LdapAttribute;
using platform::LdapEntry;
using platform::LdapModification;
using platform::LdapModOp;
using platform::LdapScope;
using platform::LdapValue;

constexpr char kInChainRule[] = "1.2.840.113556.1.4.1941";
constexpr char kBitAndRule[] = "1.2.840.113556.1.4.803";
constexpr char kBitOrRule[] = "1.2.840.113556.1.4.804";
constexpr uint64_t kSecurityGroupBit = 0x80000000u;
// How many candidates a search looks at between two looks at the clock.
constexpr size_t kDeadlineStride = 256;

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

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

// How values of an attribute compare.
enum class Syntax { Text, Dn, Sid, Bytes, Integer };

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

struct StoredAttribute {
    std::string name;
    std::string lower;
    std::vector<std::string> values;
};

struct StoredEntry {
    std::string dn;
    std::string key;
    std::string parent;
    std::vector<dn::Rdn> rdns;
    std::vector<StoredAttribute> attributes;  // as stored
    std::vector<StoredAttribute>
        effective;  // as searched and returned: with memberOf, distinguishedName, name
    int nc = -1;    // the naming context it belongs to
    size_t line = 0;

    const StoredAttribute* Find(const std::vector<StoredAttribute>& list, std::string_view lower) const {
        for (const StoredAttribute& a : list) {
            if (a.lower == lower) {
                return &a;
            }
        }
        return nullptr;
    }
    const StoredAttribute* Effective(std::string_view lower) const { return Find(effective, lower); }
};

StoredAttribute* FindAttribute(std::vector<StoredAttribute>* list, std::string_view lower) {
    for (StoredAttribute& a : *list) {
        if (a.lower == lower) {
            return &a;
        }
    }
    return nullptr;
}

bool HasObjectClass(const StoredEntry& entry, std::string_view objectClass) {
    const StoredAttribute* classes = entry.Find(entry.attributes, "objectclass");
    return classes != nullptr &&
           std::any_of(classes->values.begin(), classes->values.end(),
                       [&](const std::string& v) { return EqualsNoCase(v, objectClass); });
}

LdapValue ToValue(std::string_view bytes) {
    return LdapValue(bytes.begin(), bytes.end());
}

}  // namespace

struct LdifDirectory::Store {
    platform::RecursiveLock lock;
    std::vector<StoredEntry> entries;
    std::unordered_map<std::string, size_t> byKey;
    std::map<std::string, size_t> bySid;  // first objectSid value -> entry
    std::vector<std::string> ncKeys;
    StoredEntry rootDse;

    const StoredEntry* Lookup(const std::string& key) const {
        const auto it = byKey.find(key);
        return it == byKey.end() ? nullptr : &entries[it->second];
    }

    // Recomputes everything derived from the stored entries: the indexes, memberOf back-links, the naming
    // contexts and the root DSE.
    void Rebuild() {
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

    void FindNamingContexts() {
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
                    root.push_back(
                        StoredAttribute{"schemaNamingContext", "schemanamingcontext", {schema->dn}});
                }
            }
        }
        root.push_back(StoredAttribute{"supportedLDAPVersion", "supportedldapversion", {"3"}});
    }
};

namespace {

using Store = LdifDirectory::Store;

// One search's evaluation of a filter over the store, with the in-chain sets it has computed so far.
class Evaluator {
  public:
    explicit Evaluator(const Store& store) : store_(store) {}

    bool Matches(const ldapfilter::Node& node, const StoredEntry& entry) {
        using ldapfilter::Kind;
        switch (node.kind) {
            case Kind::And:
                return std::all_of(node.children.begin(), node.children.end(),
                                   [&](const ldapfilter::Node& child) { return Matches(child, entry); });
            case Kind::Or:
                return std::any_of(node.children.begin(), node.children.end(),
                                   [&](const ldapfilter::Node& child) { return Matches(child, entry); });
            case Kind::Not:
                return !Matches(node.children[0], entry);
            case Kind::Present: {
                // Every object has a class, so "(objectClass=*)" reads any entry, the root DSE included.
                const std::string lower = LowerAscii(node.attribute);
                const StoredAttribute* a = entry.Effective(lower);
                return lower == "objectclass" || (a != nullptr && !a->values.empty());
            }
            case Kind::Equal:
            case Kind::Approx:
                return AnyValue(node, entry, [&](Syntax syntax, const std::string& v) {
                    return ValuesEqual(syntax, v, node.value);
                });
            case Kind::GreaterOrEqual:
            case Kind::LessOrEqual: {
                const bool greater = node.kind == Kind::GreaterOrEqual;
                return AnyValue(node, entry, [&](Syntax syntax, const std::string& v) {
                    int order = 0;
                    if (syntax == Syntax::Integer) {
                        int64_t a = 0;
                        int64_t b = 0;
                        if (!ParseInteger(v, &a) || !ParseInteger(node.value, &b)) {
                            return false;
                        }
                        order = a < b ? -1 : (a > b ? 1 : 0);
                    } else {
                        order = CompareNoCase(v, node.value);
                    }
                    return greater ? order >= 0 : order <= 0;
                });
            }
            case Kind::Substrings:
                return AnyValue(node, entry,
                                [&](Syntax, const std::string& v) { return SubstringsMatch(node, v); });
            case Kind::Extensible:
                return Extensible(node, entry);
        }
        return false;
    }

  private:
    template <typename Test>
    bool AnyValue(const ldapfilter::Node& node, const StoredEntry& entry, Test test) {
        const std::string lower = LowerAscii(node.attribute);
        const StoredAttribute* a = entry.Effective(lower);
        if (a == nullptr) {
            return false;
        }
        const Syntax syntax = SyntaxOf(lower);
        return std::any_of(a->values.begin(), a->values.end(),
                           [&](const std::string& v) { return test(syntax, v); });
    }

    static bool SubstringsMatch(const ldapfilter::Node& node, std::string_view value) {
        const std::string text = LowerAscii(value);
        const std::string initial = LowerAscii(node.initial);
        const std::string final = LowerAscii(node.final);
        if (text.size() < initial.size() + final.size() || text.compare(0, initial.size(), initial) != 0 ||
            text.compare(text.size() - final.size(), final.size(), final) != 0) {
            return false;
        }
        size_t pos = initial.size();
        const size_t end = text.size() - final.size();
        for (const std::string& part : node.any) {
            const size_t found = text.find(LowerAscii(part), pos);
            if (found == std::string::npos || found + part.size() > end) {
                return false;
            }
            pos = found + part.size();
        }
        return true;
    }

    bool Extensible(const ldapfilter::Node& node, const StoredEntry& entry) {
        if (node.rule == kInChainRule) {
            return InChain(node).count(entry.key) > 0;
        }
        if (node.rule == kBitAndRule || node.rule == kBitOrRule) {
            int64_t mask = 0;
            if (!ParseInteger(node.value, &mask)) {
                return false;
            }
            const bool all = node.rule == kBitAndRule;
            return AnyValue(node, entry, [&](Syntax, const std::string& v) {
                int64_t bits = 0;
                if (!ParseInteger(v, &bits)) {
                    return false;
                }
                const uint64_t common = static_cast<uint64_t>(bits) & static_cast<uint64_t>(mask);
                return all ? common == static_cast<uint64_t>(mask) : common != 0;
            });
        }
        // No rule: the attribute's own equality.
        return AnyValue(node, entry, [&](Syntax syntax, const std::string& v) {
            return ValuesEqual(syntax, v, node.value);
        });
    }

    // The keys of every entry from which the filter's DN is reached by following the attribute's values,
    // directly or through other entries (cycles included once). Walks the reversed links from that DN.
    const std::unordered_set<std::string>& InChain(const ldapfilter::Node& node) {
        const auto cached = chains_.find(&node);
        if (cached != chains_.end()) {
            return cached->second;
        }
        const std::string lower = LowerAscii(node.attribute);
        std::unordered_map<std::string, std::vector<const StoredEntry*>> reverse;
        for (const StoredEntry& e : store_.entries) {
            if (const StoredAttribute* a = e.Effective(lower)) {
                for (const std::string& v : a->values) {
                    reverse[NormalizedOrLower(v)].push_back(&e);
                }
            }
        }
        std::unordered_set<std::string>& reached = chains_[&node];
        std::vector<std::string> pending{NormalizedOrLower(node.value)};
        while (!pending.empty()) {
            const std::string key = std::move(pending.back());
            pending.pop_back();
            const auto it = reverse.find(key);
            if (it == reverse.end()) {
                continue;
            }
            for (const StoredEntry* from : it->second) {
                if (reached.insert(from->key).second) {
                    pending.push_back(from->key);
                }
            }
        }
        return reached;
    }

    const Store& store_;
    std::map<const ldapfilter::Node*, std::unordered_set<std::string>> chains_;
};

// The first extensible match with a rule this directory does not evaluate, or null.
const ldapfilter::Node* UnsupportedRule(const ldapfilter::Node& node) {
    if (node.kind == ldapfilter::Kind::Extensible) {
        const bool known = node.rule.empty() || node.rule == kInChainRule || node.rule == kBitAndRule ||
                           node.rule == kBitOrRule;
        if (!known || node.attribute.empty()) {
            return &node;
        }
    }
    for (const ldapfilter::Node& child : node.children) {
        if (const ldapfilter::Node* found = UnsupportedRule(child)) {
            return found;
        }
    }
    return nullptr;
}

void AppendSid(std::string_view sid, std::vector<std::string>* sids) {
    if (std::find(sids->begin(), sids->end(), sid) == sids->end()) {
        sids->emplace_back(sid);
    }
}

// The SIDs of the security groups `entry` is in, directly, through nesting and through its primary group.
std::vector<std::string> TokenGroups(const Store& store, const StoredEntry& entry) {
    std::vector<std::string> sids;
    std::unordered_set<std::string> visited{entry.key};
    std::vector<const StoredEntry*> pending;
    auto follow = [&](const StoredEntry& from) {
        if (const StoredAttribute* memberOf = from.Effective("memberof")) {
            for (const std::string& group : memberOf->values) {
                const std::string key = NormalizedOrLower(group);
                const StoredEntry* target = store.Lookup(key);
                if (target != nullptr && visited.insert(key).second) {
                    pending.push_back(target);
                }
            }
        }
    };
    const StoredAttribute* sid = entry.Effective("objectsid");
    const StoredAttribute* primary = entry.Effective("primarygroupid");
    int64_t rid = 0;
    if (sid != nullptr && !sid->values.empty() && IsValidSid(sid->values[0]) && sid->values[0].size() > 8 &&
        primary != nullptr && !primary->values.empty() && ParseInteger(primary->values[0], &rid) &&
        rid >= 0 && rid <= 0xFFFFFFFF) {
        // The primary group's SID is the domain's SID (the user's without its last part) and the RID.
        std::string primarySid = sid->values[0].substr(0, sid->values[0].size() - 4);
        for (int shift = 0; shift < 32; shift += 8) {
            primarySid.push_back(static_cast<char>((rid >> shift) & 0xFF));
        }
        AppendSid(primarySid, &sids);
        const auto it = store.bySid.find(primarySid);
        if (it != store.bySid.end() && visited.insert(store.entries[it->second].key).second) {
            pending.push_back(&store.entries[it->second]);
        }
    }
    follow(entry);
    while (!pending.empty()) {
        const StoredEntry* group = pending.back();
        pending.pop_back();
        const StoredAttribute* groupSid = group->Effective("objectsid");
        const StoredAttribute* groupType = group->Effective("grouptype");
        int64_t type = 0;
        const bool security = groupType == nullptr || groupType->values.empty() ||
                              (ParseInteger(groupType->values[0], &type) &&
                               (static_cast<uint64_t>(type) & kSecurityGroupBit) != 0);
        if (security && groupSid != nullptr && !groupSid->values.empty()) {
            AppendSid(groupSid->values[0], &sids);
        }
        follow(*group);
    }
    return sids;
}

// The attributes a search hands back for `entry`.
LdapEntry Select(const Store& store, const StoredEntry& entry, const std::vector<std::string>& requested,
                 bool baseScope) {
    LdapEntry out;
    out.dn = Utf8ToUtf16(entry.dn);
    const bool all =
        requested.empty() || std::find(requested.begin(), requested.end(), "*") != requested.end();
    std::set<std::string> sent;
    auto send = [&](const std::string& name, const std::string& lower,
                    const std::vector<std::string>& values) {
        if (values.empty() || !sent.insert(lower).second) {
            return;
        }
        LdapAttribute& attribute = out.attributes.emplace_back();
        attribute.name = Utf8ToUtf16(name);
        for (const std::string& v : values) {
            attribute.values.push_back(ToValue(v));
        }
    };
    if (all) {
        for (const StoredAttribute& a : entry.effective) {
            send(a.name, a.lower, a.values);
        }
    }
    for (const std::string& lower : requested) {
        if (const StoredAttribute* a = entry.Effective(lower)) {
            send(a->name, a->lower, a->values);
        } else if (lower == "canonicalname" && !entry.key.empty()) {
            std::string canonical;
            if (dn::ToCanonicalName(entry.rdns, &canonical)) {
                send("canonicalName", lower, {canonical});
            }
        } else if (lower == "tokengroups" && baseScope && !entry.key.empty()) {
            send("tokenGroups", lower, TokenGroups(store, entry));
        }
    }
    return out;
}

class LdifSession final : public platform::LdapSession {
  public:
    LdifSession(std::shared_ptr<Store> store, platform::LdapDeadline deadline, uint32_t sizeLimit)
        : store_(std::move(store)), deadline_(deadline), sizeLimit_(sizeLimit) {}

    int32_t Search(WStringView base, LdapScope scope, WStringView filter,
                   const std::vector<WString>& attributes, std::vector<LdapEntry>* out) override {
        out->clear();
        platform::LockGuard guard(store_->lock);
        message_.clear();
        if (Expired()) {
            return Fail(kLdapTimeout, "the time for this session has run out");
        }
        if (scope != LdapScope::Base && scope != LdapScope::OneLevel && scope != LdapScope::Subtree) {
            return Fail(kLdapParamError, "unknown search scope");
        }
        ldapfilter::Node root;
        std::string filterError;
        if (!ldapfilter::Parse(Utf16ToUtf8(filter), ldapfilter::FilterLimits{}, &root, &filterError)) {
            return Fail(kLdapFilterError, "bad search filter: " + filterError);
        }
        if (const ldapfilter::Node* unsupported = UnsupportedRule(root)) {
            return Fail(kLdapUnwillingToPerform, "the matching rule \"" + unsupported->rule +
                                                     "\" is not supported for \"" + unsupported->attribute +
                                                     "\"");
        }
        std::vector<std::string> requested;
        for (const WString& name : attributes) {
            requested.push_back(LowerAscii(Utf16ToUtf8(name)));
        }
        const StoredEntry* baseEntry = nullptr;
        const int32_t status = FindBase(Utf16ToUtf8(base), scope, &baseEntry);
        if (status != 0) {
            return status;
        }
        const size_t limit = sizeLimit_ == 0 ? LdifDirectory::kServerSizeLimit
                                             : std::min<size_t>(sizeLimit_, LdifDirectory::kServerSizeLimit);
        Evaluator evaluator(*store_);
        auto consider = [&](const StoredEntry& e) -> int32_t {
            if (!evaluator.Matches(root, e)) {
                return 0;
            }
            if (out->size() == limit) {
                message_ = "size limit exceeded";
                return kLdapSizeLimitExceeded;
            }
            out->push_back(Select(*store_, e, requested, scope == LdapScope::Base));
            return 0;
        };
        if (scope == LdapScope::Base) {
            return consider(*baseEntry);
        }
        size_t looked = 0;
        for (const StoredEntry& e : store_->entries) {
            if (++looked % kDeadlineStride == 0 && Expired()) {
                out->clear();
                return Fail(kLdapTimeout, "the time for this session has run out");
            }
            if (e.key.empty() || e.nc != baseEntry->nc) {
                continue;
            }
            const bool inScope = scope == LdapScope::OneLevel ? e.parent == baseEntry->key
                                                              : dn::IsSameOrBelow(e.key, baseEntry->key);
            if (inScope) {
                const int32_t result = consider(e);
                if (result != 0) {
                    return result;
                }
            }
        }
        return 0;
    }

    int32_t Add(WStringView dnText, const std::vector<LdapAttribute>& attributes) override {
        platform::LockGuard guard(store_->lock);
        message_.clear();
        if (Expired()) {
            return Fail(kLdapTimeout, "the time for this session has run out");
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

    int32_t Modify(WStringView dnText, const std::vector<LdapModification>& changes) override {
        platform::LockGuard guard(store_->lock);
        message_.clear();
        if (Expired()) {
            return Fail(kLdapTimeout, "the time for this session has run out");
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

    void SetDeadline(platform::LdapDeadline deadline) override { deadline_ = deadline; }
    WString LastServerMessage() const override { return Utf8ToUtf16(message_); }

  private:
    static bool IsMaintained(std::string_view lower) {
        return lower == "memberof" || lower == "distinguishedname" || lower == "canonicalname" ||
               lower == "tokengroups";
    }

    bool Expired() const { return std::chrono::steady_clock::now() >= deadline_; }

    int32_t Fail(int32_t code, std::string message) {
        message_ = std::move(message);
        return code;
    }

    int32_t FindBase(const std::string& base, LdapScope scope, const StoredEntry** found) {
        if (base.size() > 6 && EqualsNoCase(base.substr(0, 5), "<SID=") && base.back() == '>') {
            SidBytes sid;
            if (TextToSid(Utf8ToUtf16(base.substr(5, base.size() - 6)), &sid) != 0) {
                return Fail(kLdapInvalidDnSyntax, "not a valid SID: " + base);
            }
            const auto it = store_->bySid.find(std::string(sid.begin(), sid.end()));
            if (it == store_->bySid.end()) {
                return Fail(kLdapNoSuchObject, "no object with the SID " + base);
            }
            *found = &store_->entries[it->second];
            return 0;
        }
        std::string key;
        if (!dn::Normalize(base, &key)) {
            return Fail(kLdapInvalidDnSyntax, "not a valid DN: " + base);
        }
        if (key.empty()) {
            if (scope != LdapScope::Base) {
                return Fail(kLdapNoSuchObject, "only a base search can read the root DSE");
            }
            *found = &store_->rootDse;
            return 0;
        }
        *found = store_->Lookup(key);
        if (*found == nullptr) {
            return Fail(kLdapNoSuchObject, "no such object: " + base);
        }
        return 0;
    }

    int32_t AddValues(StoredAttribute* attribute, const std::vector<std::string>& values) {
        const Syntax syntax = SyntaxOf(attribute->lower);
        for (const std::string& v : values) {
            const bool present =
                std::any_of(attribute->values.begin(), attribute->values.end(),
                            [&](const std::string& old) { return ValuesEqual(syntax, old, v); });
            if (present) {
                return Fail(kLdapAttributeOrValueExists, attribute->name + " has that value already");
            }
            attribute->values.push_back(v);
        }
        return 0;
    }

    int32_t Apply(LdapModOp op, const std::string& name, const std::string& lower,
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

    std::shared_ptr<Store> store_;
    platform::LdapDeadline deadline_;
    uint32_t sizeLimit_;
    std::string message_;
};

}  // namespace

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
