// The offline directory's searches: filter evaluation (in-chain and bitwise rules included), tokenGroups, the
// attributes handed back, and the session's Search over the store.
#include <algorithm>
#include <set>
#include <unordered_set>

#include "directory/ldap_filter.h"
#include "directory/ldif_directory_internal.h"
#include "directory/sid_text.h"
#include "platform/result_codes.h"

namespace korva::ldifdir {
namespace {

constexpr char kInChainRule[] = "1.2.840.113556.1.4.1941";
constexpr char kBitAndRule[] = "1.2.840.113556.1.4.803";
constexpr char kBitOrRule[] = "1.2.840.113556.1.4.804";
constexpr uint64_t kSecurityGroupBit = 0x80000000u;
// How many candidates a search looks at between two looks at the clock.
constexpr size_t kDeadlineStride = 256;

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

}  // namespace

int32_t LdifSession::Search(WStringView base, LdapScope scope, WStringView filter,
                            const std::vector<WString>& attributes, std::vector<LdapEntry>* out) {
    out->clear();
    platform::LockGuard guard(store_->lock);
    if (const int32_t status = Start(); status != 0) {
        return status;
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

int32_t LdifSession::FindBase(const std::string& base, LdapScope scope, const StoredEntry** found) {
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

}  // namespace korva::ldifdir
