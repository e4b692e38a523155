// The LDAP session seam: one small client interface over OpenLDAP's libldap (Linux) and wldap32 (Windows), and
// the contract any other implementation (an in-memory directory built from LDIF, a test fake) must keep.
//
// What an implementation must do
//
// Open(settings, out):
//  - Connects, negotiates TLS when asked, and binds; hands out a session only when all three worked. On
//    failure *out stays empty and the result says why (see "Results"). A wrong password is the server's 49.
//  - Never waits longer than settings.connectTimeoutMs for the connection, settings.operationTimeLimitMs for
//    any one exchange, and settings.budgetMs in total (the budget starts when Open is called and carries over
//    to the session's later calls; SetDeadline replaces it).
//  - Version 3 protocol; referrals are never chased (a reference in a search result is dropped, a referral
//    result is returned as its code 10).
//
// Search(base, scope, filter, attributes, out):
//  - `base` is a distinguished name (or a form the server accepts as one, such as "<SID=S-1-5-...>"); `filter`
//    is an RFC 4515 filter; `attributes` names the attributes to return, an empty list meaning all ordinary
//    ones (constructed attributes such as canonicalName come back only when named).
//  - *out is cleared first, then receives every entry in the order the server sent them: the DN as UTF-16
//    and each attribute with all its values as raw bytes, exactly as sent (no terminator added, binary values
//    byte-exact, text values in UTF-8). Attribute names keep the server's spelling; callers look them up
//    with LdapEntry::Find, which ignores ASCII case. An attribute the server sent without values is omitted.
//  - No entry is a success with an empty list. A missing base object is 32. A filter the client or server
//    cannot parse is kLdapFilterError or the server's code. When the size limit cuts the answer short the
//    result is 4 and *out holds the entries received up to then; for every other failure *out is empty.
//
// Add(dn, attributes): creates one entry with those attributes (each with at least one value). An existing
// entry is 68, a missing parent 32.
// Modify(dn, changes): applies the changes in order as one operation (all or none). Replacing with no values
// removes the attribute; deleting with no values removes all of it.
//
// Results: 0 on success. A server's result code is returned as the server sent it (1..80: 32 no such object,
// 49 invalid credentials, 50 insufficient access, ...). Failures on the client side are normalised to the
// kLdap... codes of platform/result_codes.h (the numbers Windows' LDAP client uses), whatever the library
// reports: no connection or a dropped one kLdapServerDown, a limit or the budget ran out kLdapTimeout, a
// connection that could not be made kLdapConnectError, bad arguments kLdapParamError, and so on. Every
// call made after the budget has run out fails with kLdapTimeout without touching the network.
//
// LastServerMessage(): the server's diagnostic text for the last call that reached the server (e.g.
// "80090308: LdapErr: DSID-0C09041C, comment: AcceptSecurityContext error, data 52e, v1db1"), empty when it
// sent none. Meant for logs only; never parsed.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/result_codes.h"
#include "platform/seam.h"
#include "platform/text.h"

namespace korva::platform {

// A password or other secret in memory we own: wiped when it is replaced or destroyed. Move-only, so that no
// stray copy outlives the owner.
class SecretBytes {
  public:
    SecretBytes() = default;
    explicit SecretBytes(std::string_view bytes) : bytes_(bytes) {}
    ~SecretBytes() { Wipe(); }
    SecretBytes(SecretBytes&& other) noexcept : bytes_(std::move(other.bytes_)) { other.Wipe(); }
    SecretBytes& operator=(SecretBytes&& other) noexcept {
        if (this != &other) {
            Wipe();
            bytes_ = std::move(other.bytes_);
            other.Wipe();
        }
        return *this;
    }
    SecretBytes(const SecretBytes&) = delete;
    SecretBytes& operator=(const SecretBytes&) = delete;

    // The secret as bytes (a password in UTF-8).
    [[nodiscard]] std::string_view view() const { return bytes_; }
    [[nodiscard]] bool empty() const { return bytes_.empty(); }
    void Wipe() noexcept {
        SecureZero(bytes_.data(), bytes_.size());
        bytes_.clear();
    }

  private:
    std::string bytes_;
};

enum class LdapTransport {
    Plain,     // ldap:// without encryption
    StartTls,  // ldap:// upgraded with the StartTLS extended operation before binding
    Ldaps,     // TLS from the first byte (ldaps://, port 636 by default)
};

enum class LdapBind {
    Anonymous,   // no bind at all
    Simple,      // bind name (a DN, a UPN or DOMAIN\user) and password
    SaslGssapi,  // Kerberos with the caller's ticket cache; only where the platform supports it
};

enum class LdapScope { Base = 0, OneLevel = 1, Subtree = 2 };

struct LdapSettings {
    // Either a URI ("ldap://127.0.0.1:389", "ldaps://dc1.corp.example.test") or host and port. The URI wins
    // when both are set; port 0 means the transport's default (389, or 636 for Ldaps).
    WString uri;
    WString host;
    uint16_t port = 0;

    LdapTransport transport = LdapTransport::Plain;
    // Checking the server's certificate is on unless a caller turns it off on purpose (and logs that it did).
    bool verifyCertificate = true;
    WString caFile;  // PEM file of trusted authorities; empty = the system's store

    LdapBind bind = LdapBind::Simple;
    WString bindName;
    SecretBytes password;

    uint32_t connectTimeoutMs = 2000;
    uint32_t operationTimeLimitMs = 2000;  // one exchange with the server
    uint32_t budgetMs = 3000;              // everything from Open on, until SetDeadline sets another
    uint32_t sizeLimit = 0;                // entries per search; 0 = the server's own limit

    // Settings are copied only on purpose, so the password is never duplicated by accident.
    [[nodiscard]] LdapSettings Copy() const {
        LdapSettings copy;
        copy.uri = uri;
        copy.host = host;
        copy.port = port;
        copy.transport = transport;
        copy.verifyCertificate = verifyCertificate;
        copy.caFile = caFile;
        copy.bind = bind;
        copy.bindName = bindName;
        copy.password = SecretBytes(password.view());
        copy.connectTimeoutMs = connectTimeoutMs;
        copy.operationTimeLimitMs = operationTimeLimitMs;
        copy.budgetMs = budgetMs;
        copy.sizeLimit = sizeLimit;
        return copy;
    }
};

using LdapValue = std::vector<uint8_t>;

struct LdapAttribute {
    WString name;
    std::vector<LdapValue> values;
};

struct LdapEntry {
    WString dn;
    std::vector<LdapAttribute> attributes;

    // The attribute of that name, ignoring ASCII case; null when the entry does not have it.
    [[nodiscard]] const LdapAttribute* Find(WStringView name) const;
};

enum class LdapModOp { Add = 0, Delete = 1, Replace = 2 };

struct LdapModification {
    LdapModOp op = LdapModOp::Replace;
    WString attribute;
    std::vector<LdapValue> values;
};

using LdapDeadline = std::chrono::steady_clock::time_point;

class LdapSession {
  public:
    virtual ~LdapSession() = default;

    [[nodiscard]] virtual int32_t Search(WStringView base, LdapScope scope, WStringView filter,
                                         const std::vector<WString>& attributes,
                                         std::vector<LdapEntry>* out) = 0;
    [[nodiscard]] virtual int32_t Add(WStringView dn, const std::vector<LdapAttribute>& attributes) = 0;
    [[nodiscard]] virtual int32_t Modify(WStringView dn, const std::vector<LdapModification>& changes) = 0;

    // Every later call ends by this point in time (kLdapTimeout once it has passed).
    virtual void SetDeadline(LdapDeadline deadline) = 0;
    [[nodiscard]] virtual WString LastServerMessage() const = 0;
};

// Opens sessions. The process-wide instance is the platform's client; tests and the offline snapshot install
// their own.
class LdapConnector {
  public:
    virtual ~LdapConnector() = default;
    [[nodiscard]] virtual int32_t Open(const LdapSettings& settings, std::unique_ptr<LdapSession>* out) = 0;
};

LdapConnector& Ldap();

// Shorthand for Ldap().Open.
[[nodiscard]] int32_t OpenLdapSession(const LdapSettings& settings, std::unique_ptr<LdapSession>* out);

// Replaces the process-wide connector until the guard is destroyed.
using ScopedLdapOverride = ScopedOverride<LdapConnector>;

// Where to connect, worked out from the settings the same way on both builds.
struct LdapAddress {
    std::string host;  // a name or an address; an IPv6 address without brackets
    uint16_t port = 0;
    bool tls = false;  // TLS from the first byte (ldaps)
};

// Reads settings.uri ("ldap://host[:port][/]" or "ldaps://...", scheme case-insensitive, an IPv6 host in
// brackets) or else settings.host and settings.port. kLdapParamError for an empty or malformed address, a
// port outside 1-65535, or an ldaps:// URI with another transport than Ldaps (or the reverse).
[[nodiscard]] int32_t ResolveLdapAddress(const LdapSettings& settings, LdapAddress* out);

// The remaining time until `deadline`, capped at `limitMs`; 0 when it has passed.
[[nodiscard]] uint32_t RemainingMs(LdapDeadline deadline, uint32_t limitMs);

}  // namespace korva::platform
