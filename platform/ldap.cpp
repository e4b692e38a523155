// The LDAP seam's plumbing: the process-wide connector, its test override and the helpers every
// implementation shares.
#include "platform/ldap.h"

#include <atomic>

#include "platform/os_defaults.h"

namespace korva::platform {
namespace {

std::atomic<LdapConnector*> g_ldapOverride{nullptr};

}  // namespace

const LdapAttribute* LdapEntry::Find(WStringView name) const {
    for (const LdapAttribute& attribute : attributes) {
        if (EqualsNoCaseAscii(attribute.name, name)) {
            return &attribute;
        }
    }
    return nullptr;
}

LdapConnector& Ldap() {
    LdapConnector* replacement = g_ldapOverride.load();
    return replacement != nullptr ? *replacement : os::DefaultLdapConnector();
}

int32_t OpenLdapSession(const LdapSettings& settings, std::unique_ptr<LdapSession>* out) {
    return Ldap().Open(settings, out);
}

ScopedLdapOverride::ScopedLdapOverride(LdapConnector* replacement)
    : previous_(g_ldapOverride.exchange(replacement)) {}

ScopedLdapOverride::~ScopedLdapOverride() {
    g_ldapOverride.store(previous_);
}

uint32_t RemainingMs(LdapDeadline deadline, uint32_t limitMs) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) {
        return 0;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
    // A deadline less than a millisecond away still allows a last, very short wait.
    const int64_t rounded = left < 1 ? 1 : left;
    return rounded < static_cast<int64_t>(limitMs) ? static_cast<uint32_t>(rounded) : limitMs;
}

}  // namespace korva::platform
