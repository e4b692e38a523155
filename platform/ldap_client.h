// What the two LDAP clients (libldap on Linux, wldap32 on Windows) share over their alike C interfaces: the
// changes an add sends, and LDAPMod arrays with binary values. Only platform/posix/ldap_posix.cpp and
// platform/win32/ldap_win32.cpp include it, after their client's header.
#pragma once

#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/ldap.h"
#include "platform/unique_handle.h"

namespace korva::platform::os {

// An add is a modification that adds every value of every attribute.
std::vector<LdapModification> AsAdditions(const std::vector<LdapAttribute>& attributes);

// What both clients' sessions share: the time limits, the server's last message, and add and modify as one
// write that the client sends.
class ClientSession : public LdapSession {
  public:
    ClientSession(uint32_t operationLimitMs, uint32_t sizeLimit, LdapDeadline deadline)
        : operationLimitMs_(operationLimitMs), sizeLimit_(sizeLimit), deadline_(deadline) {}
    [[nodiscard]] int32_t Add(WStringView dn, const std::vector<LdapAttribute>& attributes) override {
        return Send(dn, AsAdditions(attributes), true);
    }
    [[nodiscard]] int32_t Modify(WStringView dn, const std::vector<LdapModification>& changes) override {
        return Send(dn, changes, false);
    }
    void SetDeadline(LdapDeadline deadline) override { deadline_ = deadline; }
    [[nodiscard]] WString LastServerMessage() const override { return message_; }

  protected:
    // Sends one add or modify (the time left is not 0) and waits for its result.
    [[nodiscard]] virtual int32_t Write(WStringView dn, const std::vector<LdapModification>& changes,
                                        bool add) = 0;
    // The time left for one exchange; 0 when it has run out.
    [[nodiscard]] uint32_t TimeLeft() const { return RemainingMs(deadline_, operationLimitMs_); }
    // A search's entries are handed over with its result only when the result allows.
    [[nodiscard]] static int32_t FinishSearch(int32_t code, std::vector<LdapEntry>* entries,
                                              std::vector<LdapEntry>* out) {
        if (code == kLdapSuccess || code == kLdapSizeLimitExceeded) {
            *out = std::move(*entries);
        }
        return code;
    }

    uint32_t operationLimitMs_;
    uint32_t sizeLimit_;
    LdapDeadline deadline_;
    WString message_;

  private:
    [[nodiscard]] int32_t Send(WStringView dn, const std::vector<LdapModification>& changes, bool add) {
        message_.clear();
        return TimeLeft() == 0 ? kLdapTimeout : Write(dn, changes, add);
    }
};

// The LDAPMod (LDAPModW) array of a list of changes, valid while this lives. LdapModOp numbers its operations
// as LDAP_MOD_ADD, LDAP_MOD_DELETE and LDAP_MOD_REPLACE do; `bvaluesFlag` is the client's LDAP_MOD_BVALUES.
template <typename Mod>
class LdapModList {
  public:
    using Char = std::remove_pointer_t<decltype(std::declval<Mod&>().mod_type)>;
    using Op = decltype(std::declval<Mod&>().mod_op);
    using Berval =
        std::remove_pointer_t<std::remove_pointer_t<decltype(std::declval<Mod&>().mod_vals.modv_bvals)>>;

    LdapModList(const std::vector<LdapModification>& changes, Op bvaluesFlag) : items_(changes.size()) {
        for (size_t i = 0; i < changes.size(); ++i) {
            Item& item = items_[i];
            const WString& attribute = changes[i].attribute;
            if constexpr (sizeof(Char) == 1) {
                item.name = Utf16ToUtf8(attribute);
            } else {
                item.name.assign(attribute.begin(), attribute.end());
            }
            for (const LdapValue& value : changes[i].values) {
                Berval bv{};
                bv.bv_len = static_cast<decltype(bv.bv_len)>(value.size());
                // The clients only read the values; their interfaces are not const-correct.
                bv.bv_val = const_cast<char*>(reinterpret_cast<const char*>(value.data()));
                item.values.push_back(bv);
            }
            for (Berval& bv : item.values) {
                item.valuePointers.push_back(&bv);
            }
            item.valuePointers.push_back(nullptr);
            Mod& mod = item.mod;
            mod.mod_op = static_cast<Op>(static_cast<Op>(changes[i].op) | bvaluesFlag);
            mod.mod_type = item.name.data();
            mod.mod_vals.modv_bvals = item.valuePointers.data();
        }
        for (Item& item : items_) {
            pointers_.push_back(&item.mod);
        }
        pointers_.push_back(nullptr);
    }
    LdapModList(const LdapModList&) = delete;
    LdapModList& operator=(const LdapModList&) = delete;

    Mod** get() { return pointers_.data(); }

  private:
    struct Item {
        std::basic_string<Char> name;
        std::vector<Berval> values;
        std::vector<Berval*> valuePointers;
        Mod mod{};
    };
    std::vector<Item> items_;  // sized once: the pointers into it stay valid
    std::vector<Mod*> pointers_;
};

}  // namespace korva::platform::os
