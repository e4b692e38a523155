// The LDAP seam's plumbing: the process-wide connector, its test override and the helpers every
// implementation shares.
#include "platform/ldap.h"

#include "platform/ldap_client.h"
#include "platform/os_defaults.h"

namespace korva::platform {
const LdapAttribute* LdapEntry::Find(WStringView name) const {
    for (const LdapAttribute& attribute : attributes) {
        if (EqualsNoCaseAscii(attribute.name, name)) {
            return &attribute;
        }
    }
    return nullptr;
}

LdapConnector& Ldap() {
    LdapConnector* replacement = ScopedLdapOverride::Installed();
    return replacement != nullptr ? *replacement : os::DefaultLdapConnector();
}

int32_t OpenLdapSession(const LdapSettings& settings, std::unique_ptr<LdapSession>* out) {
    return Ldap().Open(settings, out);
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

namespace korva::platform {
namespace {

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) {
        return false;
    }
    for (size_t i = 0; i < prefix.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
        if (c != prefix[i]) {
            return false;
        }
    }
    return true;
}

// A host name or address: printable ASCII without the characters that end or delimit a URI's host part.
bool IsPlainHost(std::string_view host) {
    if (host.empty()) {
        return false;
    }
    for (const char c : host) {
        if (c <= ' ' || c > '~' || c == '/' || c == '?' || c == '#' || c == '@' || c == '[' || c == ']') {
            return false;
        }
    }
    return true;
}

bool ParsePort(std::string_view text, uint16_t* port) {
    if (text.empty() || text.size() > 5) {
        return false;
    }
    uint32_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    if (value == 0 || value > 65535) {
        return false;
    }
    *port = static_cast<uint16_t>(value);
    return true;
}

}  // namespace

int32_t ResolveLdapAddress(const LdapSettings& settings, LdapAddress* out) {
    *out = LdapAddress{};
    const bool wantTls = settings.transport == LdapTransport::Ldaps;
    LdapAddress address;
    if (settings.uri.empty()) {
        address.host = Utf16ToUtf8(settings.host);
        // A bracketed IPv6 address is accepted here too, and stored without its brackets.
        if (address.host.size() > 2 && address.host.front() == '[' && address.host.back() == ']') {
            address.host = address.host.substr(1, address.host.size() - 2);
            if (address.host.find(':') == std::string::npos) {
                return kLdapParamError;
            }
        }
        if (!IsPlainHost(address.host)) {
            return kLdapParamError;
        }
        address.port = settings.port;
        address.tls = wantTls;
    } else {
        const std::string uri = Utf16ToUtf8(settings.uri);
        std::string_view rest(uri);
        if (StartsWithNoCase(rest, "ldaps://")) {
            address.tls = true;
            rest.remove_prefix(8);
        } else if (StartsWithNoCase(rest, "ldap://")) {
            rest.remove_prefix(7);
        } else {
            return kLdapParamError;
        }
        if (address.tls != wantTls) {
            return kLdapParamError;
        }
        // Nothing may follow the authority but one closing slash.
        if (!rest.empty() && rest.back() == '/') {
            rest.remove_suffix(1);
        }
        std::string_view portText;
        bool hasPort = false;
        if (!rest.empty() && rest.front() == '[') {
            const size_t close = rest.find(']');
            if (close == std::string_view::npos) {
                return kLdapParamError;
            }
            address.host = std::string(rest.substr(1, close - 1));
            if (address.host.find(':') == std::string::npos) {
                return kLdapParamError;
            }
            rest.remove_prefix(close + 1);
            if (!rest.empty()) {
                if (rest.front() != ':') {
                    return kLdapParamError;
                }
                hasPort = true;
                portText = rest.substr(1);
            }
        } else {
            const size_t colon = rest.find(':');
            address.host = std::string(rest.substr(0, colon));
            if (colon != std::string_view::npos) {
                hasPort = true;
                portText = rest.substr(colon + 1);
            }
        }
        if (!IsPlainHost(address.host)) {
            return kLdapParamError;
        }
        if (hasPort && !ParsePort(portText, &address.port)) {
            return kLdapParamError;
        }
    }
    if (address.port == 0) {
        address.port = address.tls ? 636 : 389;
    }
    *out = std::move(address);
    return kLdapSuccess;
}

}  // namespace korva::platform

namespace korva::platform::os {

std::vector<LdapModification> AsAdditions(const std::vector<LdapAttribute>& attributes) {
    std::vector<LdapModification> changes;
    for (const LdapAttribute& attribute : attributes) {
        changes.push_back(LdapModification{LdapModOp::Add, attribute.name, attribute.values});
    }
    return changes;
}

}  // namespace korva::platform::os
