// The offline directory's parts shared by its files: the stored entries, the store with its indexes, value
// comparison by attribute syntax, and the LDAP session over the store. Not for use outside
// directory/ldif_directory*.cpp.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "directory/dn.h"
#include "directory/ldif_directory.h"
#include "platform/sync.h"

namespace korva::ldifdir {

using platform::LdapAttribute;
using platform::LdapEntry;
using platform::LdapModification;
using platform::LdapModOp;
using platform::LdapScope;
using platform::LdapValue;

std::string LowerAscii(std::string_view text);
bool EqualsNoCase(std::string_view a, std::string_view b);
int CompareNoCase(std::string_view a, std::string_view b);

// How values of an attribute compare.
enum class Syntax { Text, Dn, Sid, Bytes, Integer };
Syntax SyntaxOf(std::string_view lowerName);
// Strict decimal with an optional minus sign, as LDAP carries integers.
bool ParseInteger(std::string_view text, int64_t* value);
// A DN's normalised key, or the text in lower case when it is no DN.
std::string NormalizedOrLower(std::string_view dnText);
// Whether a stored value equals a filter's assertion value under the attribute's syntax.
bool ValuesEqual(Syntax syntax, std::string_view stored, std::string_view assertion);

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

inline StoredAttribute* FindAttribute(std::vector<StoredAttribute>* list, std::string_view lower) {
    for (StoredAttribute& a : *list) {
        if (a.lower == lower) {
            return &a;
        }
    }
    return nullptr;
}

inline bool HasObjectClass(const StoredEntry& entry, std::string_view objectClass) {
    const StoredAttribute* classes = entry.Find(entry.attributes, "objectclass");
    return classes != nullptr &&
           std::any_of(classes->values.begin(), classes->values.end(),
                       [&](const std::string& v) { return EqualsNoCase(v, objectClass); });
}

inline LdapValue ToValue(std::string_view bytes) {
    return LdapValue(bytes.begin(), bytes.end());
}

}  // namespace korva::ldifdir

namespace korva {

struct LdifDirectory::Store {
    platform::RecursiveLock lock;
    std::vector<ldifdir::StoredEntry> entries;
    std::unordered_map<std::string, size_t> byKey;
    std::map<std::string, size_t> bySid;  // first objectSid value -> entry
    std::vector<std::string> ncKeys;
    ldifdir::StoredEntry rootDse;

    const ldifdir::StoredEntry* Lookup(const std::string& key) const;
    // Recomputes everything derived from the stored entries: the indexes, memberOf back-links, the naming
    // contexts and the root DSE.
    void Rebuild();

  private:
    void FindNamingContexts();
};

}  // namespace korva

namespace korva::ldifdir {

using Store = LdifDirectory::Store;

// A session over the store: searches (ldif_directory_search.cpp) and writes (ldif_directory_write.cpp).
class LdifSession final : public platform::LdapSession {
  public:
    LdifSession(std::shared_ptr<Store> store, platform::LdapDeadline deadline, uint32_t sizeLimit)
        : store_(std::move(store)), deadline_(deadline), sizeLimit_(sizeLimit) {}

    [[nodiscard]] int32_t Search(WStringView base, LdapScope scope, WStringView filter,
                                 const std::vector<WString>& attributes,
                                 std::vector<LdapEntry>* out) override;
    [[nodiscard]] int32_t Add(WStringView dnText, const std::vector<LdapAttribute>& attributes) override;
    [[nodiscard]] int32_t Modify(WStringView dnText, const std::vector<LdapModification>& changes) override;
    void SetDeadline(platform::LdapDeadline deadline) override { deadline_ = deadline; }
    WString LastServerMessage() const override { return Utf8ToUtf16(message_); }

  private:
    bool Expired() const { return std::chrono::steady_clock::now() >= deadline_; }
    // Clears the last message and fails a session whose time has run out; the caller holds the lock.
    [[nodiscard]] int32_t Start();
    [[nodiscard]] int32_t Fail(int32_t code, std::string message) {
        message_ = std::move(message);
        return code;
    }
    [[nodiscard]] int32_t FindBase(const std::string& base, LdapScope scope, const StoredEntry** found);
    static bool IsMaintained(std::string_view lower);
    [[nodiscard]] int32_t AddValues(StoredAttribute* attribute, const std::vector<std::string>& values);
    [[nodiscard]] int32_t Apply(LdapModOp op, const std::string& name, const std::string& lower,
                                const std::vector<std::string>& values, StoredAttribute* existing,
                                std::vector<StoredAttribute>* attributes);

    std::shared_ptr<Store> store_;
    platform::LdapDeadline deadline_;
    uint32_t sizeLimit_;
    std::string message_;
};

}  // namespace korva::ldifdir
