// The LDAP client on Windows: wldap32, through its wide (W) functions with our own UTF-8 <-> UTF-16
// conversion (the narrow functions use the ANSI code page, not UTF-8).
//
// Bounding the waits: wldap32's synchronous calls can block for minutes on a host that does not answer, and
// ldap_connect does not bound the connection everywhere (Wine's returns at once and connects later, inside
// the first request). So the connection is first tried with a non-blocking Winsock connect under the
// connect timeout, and every exchange after that is asynchronous plus ldap_result with a timeout; an
// exchange that runs out of time is abandoned. StartTLS and the Negotiate bind exist only as synchronous
// calls; they are bounded by the system alone.
#include <winsock2.h>
#include <ws2tcpip.h>
// winsock2.h must come before windows.h.
#include <windows.h>
#include <winldap.h>
// winber.h needs the types winldap.h declares.
#include <winber.h>

#include <algorithm>
#include <string>

#include "platform/ldap_client.h"
#include "platform/os_defaults.h"
#include "platform/unique_handle.h"

namespace korva::platform::os {
namespace {

constexpr ULONG kMessageFailed = static_cast<ULONG>(-1);

using LdapHandle = UniqueHandle<ClosedBy<ldap_unbind>>;
using LdapMessageHandle = UniqueHandle<ClosedBy<ldap_msgfree>>;

struct SocketPolicy {
    using Type = SOCKET;
    static constexpr Type Invalid() { return INVALID_SOCKET; }
    static void Close(Type s) noexcept { closesocket(s); }
};
using SocketHandle = UniqueHandle<SocketPolicy>;

using AddrInfoHandle = UniqueHandle<ClosedBy<FreeAddrInfoW>>;

// wldap32 already uses the client-side numbers the system uses; anything it reports as a negative number
// (a failed message id) is a lost connection.
int32_t Normalise(ULONG code) {
    const auto value = static_cast<int32_t>(code);
    return value < 0 ? kLdapServerDown : value;
}

l_timeval ToLTimeval(uint32_t ms) {
    l_timeval tv{};
    tv.tv_sec = static_cast<LONG>(ms / 1000);
    tv.tv_usec = static_cast<LONG>((ms % 1000) * 1000);
    return tv;
}

ULONG ServerSeconds(uint32_t ms) {
    return std::max<ULONG>(1, (ms + 999) / 1000);
}

// wldap32 takes non-const PWCHAR for text it only reads.
PWCHAR Mutable(const WString& text) {
    return const_cast<PWCHAR>(text.c_str());
}

// A non-blocking TCP connect under a timeout: 0 when the port accepts, kLdapServerDown when it refuses,
// cannot be reached or stays silent until the time is up.
int32_t ProbeConnect(const std::string& host, uint16_t port, uint32_t ms) {
    WSADATA data{};
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
        return kLdapLocalError;
    }
    const ScopeExit cleanup([] { WSACleanup(); });
    const WString wideHost = Utf8ToUtf16(host);
    const WString service = AsciiToWide(std::to_string(port));
    ADDRINFOW hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    AddrInfoHandle addresses;
    if (GetAddrInfoW(wideHost.c_str(), service.c_str(), &hints, addresses.put()) != 0) {
        return kLdapServerDown;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (ADDRINFOW* address = addresses.get(); address != nullptr; address = address->ai_next) {
        SocketHandle s(socket(address->ai_family, address->ai_socktype, address->ai_protocol));
        if (!s.valid()) {
            continue;
        }
        u_long nonBlocking = 1;
        if (ioctlsocket(s.get(), FIONBIO, &nonBlocking) != 0) {
            continue;
        }
        if (connect(s.get(), address->ai_addr, static_cast<int>(address->ai_addrlen)) == 0) {
            return kLdapSuccess;
        }
        if (WSAGetLastError() != WSAEWOULDBLOCK) {
            continue;
        }
        const uint32_t left = RemainingMs(deadline, ms);
        if (left == 0) {
            break;
        }
        fd_set writable;
        fd_set failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(s.get(), &writable);
        FD_SET(s.get(), &failed);
        timeval tv{};
        tv.tv_sec = static_cast<long>(left / 1000);
        tv.tv_usec = static_cast<long>((left % 1000) * 1000);
        if (select(0, nullptr, &writable, &failed, &tv) <= 0) {
            continue;
        }
        int error = 0;
        int length = sizeof(error);
        if (FD_ISSET(s.get(), &writable) &&
            getsockopt(s.get(), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) == 0 &&
            error == 0) {
            return kLdapSuccess;
        }
    }
    return kLdapServerDown;
}

// With checking turned off on purpose, every server certificate is accepted.
BOOLEAN LDAPAPI AcceptAnyCertificate(PLDAP, PCCERT_CONTEXT) {
    return TRUE;
}

class Win32LdapSession final : public ClientSession {
  public:
    Win32LdapSession(LdapHandle ld, uint32_t operationLimitMs, uint32_t sizeLimit, LdapDeadline deadline)
        : ClientSession(operationLimitMs, sizeLimit, deadline), ld_(std::move(ld)) {}

    int32_t Establish(const LdapSettings& settings) {
        if (settings.transport == LdapTransport::StartTls) {
            ULONG serverCode = 0;
            LDAPMessage* result = nullptr;
            const ULONG rc = ldap_start_tls_sW(ld_.get(), &serverCode, &result, nullptr, nullptr);
            if (result != nullptr) {
                ldap_msgfree(result);
            }
            if (rc != LDAP_SUCCESS) {
                return serverCode != 0 ? static_cast<int32_t>(serverCode) : Normalise(rc);
            }
        }
        switch (settings.bind) {
            case LdapBind::Anonymous:
                return kLdapSuccess;
            case LdapBind::Simple:
                return SimpleBind(settings);
            case LdapBind::SaslGssapi:
                // Windows' counterpart: Kerberos (or NTLM) with the credentials of the calling thread.
                return Normalise(ldap_bind_sW(ld_.get(), nullptr, nullptr, LDAP_AUTH_NEGOTIATE));
        }
        return kLdapParamError;
    }

    int32_t Search(WStringView base, LdapScope scope, WStringView filter,
                   const std::vector<WString>& attributes, std::vector<LdapEntry>* out) override {
        out->clear();
        message_.clear();
        const uint32_t ms = TimeLeft();
        if (ms == 0) {
            return kLdapTimeout;
        }
        const WString base16(base);
        const WString filter16(filter);
        std::vector<PWCHAR> attrs;
        for (const WString& attribute : attributes) {
            attrs.push_back(Mutable(attribute));
        }
        attrs.push_back(nullptr);
        ULONG msgid = 0;
        const ULONG rc = ldap_search_extW(ld_.get(), Mutable(base16), static_cast<ULONG>(scope),
                                          Mutable(filter16), attributes.empty() ? nullptr : attrs.data(), 0,
                                          nullptr, nullptr, ServerSeconds(ms), sizeLimit_, &msgid);
        if (rc != LDAP_SUCCESS) {
            return Normalise(rc);
        }
        LdapMessageHandle result;
        if (const int32_t waited = Wait(msgid, result.put()); waited != kLdapSuccess) {
            return waited;
        }
        std::vector<LdapEntry> entries;
        for (LDAPMessage* entry = ldap_first_entry(ld_.get(), result.get()); entry != nullptr;
             entry = ldap_next_entry(ld_.get(), entry)) {
            entries.push_back(ReadEntry(entry));
        }
        const int32_t code = ParseResult(result.get());
        return FinishSearch(code, &entries, out);
    }

  private:
    int32_t Write(WStringView dn, const std::vector<LdapModification>& changes, bool add) override {
        LdapModList<LDAPModW> mods(changes, LDAP_MOD_BVALUES);
        const WString dn16(dn);
        ULONG msgid = 0;
        const ULONG rc =
            add ? ldap_add_extW(ld_.get(), Mutable(dn16), mods.get(), nullptr, nullptr, &msgid)
                : ldap_modify_extW(ld_.get(), Mutable(dn16), mods.get(), nullptr, nullptr, &msgid);
        return rc != LDAP_SUCCESS ? Normalise(rc) : WaitAndParse(msgid);
    }

    int32_t SimpleBind(const LdapSettings& settings) {
        const uint32_t ms = TimeLeft();
        if (ms == 0) {
            return kLdapTimeout;
        }
        const WString name = settings.bindName;
        WString password = Utf8ToUtf16(settings.password.view());
        const ScopeExit wipe([&password] { SecureZero(password.data(), password.size() * sizeof(WChar)); });
        const ULONG msgid = ldap_simple_bindW(ld_.get(), Mutable(name), password.data());
        if (msgid == kMessageFailed) {
            const ULONG last = LdapGetLastError();
            return last != LDAP_SUCCESS ? Normalise(last) : kLdapServerDown;
        }
        return WaitAndParse(msgid);
    }

    // Waits for the whole answer to msgid; abandons it when the time runs out. The time left is taken after
    // sending, since sending may have had to connect first.
    int32_t Wait(ULONG msgid, LDAPMessage** result) {
        const uint32_t ms = TimeLeft();
        if (ms == 0) {
            (void)ldap_abandon(ld_.get(), msgid);
            return kLdapTimeout;
        }
        l_timeval tv = ToLTimeval(ms);
        const ULONG type = ldap_result(ld_.get(), msgid, LDAP_MSG_ALL, &tv, result);
        if (type == 0) {
            (void)ldap_abandon(ld_.get(), msgid);
            return kLdapTimeout;
        }
        if (type == kMessageFailed) {
            const ULONG last = LdapGetLastError();
            return last != LDAP_SUCCESS ? Normalise(last) : kLdapServerDown;
        }
        return kLdapSuccess;
    }

    int32_t WaitAndParse(ULONG msgid) {
        LdapMessageHandle result;
        if (const int32_t waited = Wait(msgid, result.put()); waited != kLdapSuccess) {
            return waited;
        }
        return ParseResult(result.get());
    }

    int32_t ParseResult(LDAPMessage* message) {
        ULONG code = LDAP_OTHER;
        PWCHAR text = nullptr;
        const ULONG rc =
            ldap_parse_resultW(ld_.get(), message, &code, nullptr, &text, nullptr, nullptr, FALSE);
        if (text != nullptr) {
            message_ = text;
            ldap_memfreeW(text);
        }
        return rc != LDAP_SUCCESS ? Normalise(rc) : Normalise(code);
    }

    LdapEntry ReadEntry(LDAPMessage* message) {
        LdapEntry entry;
        if (PWCHAR dn = ldap_get_dnW(ld_.get(), message); dn != nullptr) {
            entry.dn = dn;
            ldap_memfreeW(dn);
        }
        BerElement* ber = nullptr;
        for (PWCHAR name = ldap_first_attributeW(ld_.get(), message, &ber); name != nullptr;
             name = ldap_next_attributeW(ld_.get(), message, ber)) {
            berval** values = ldap_get_values_lenW(ld_.get(), message, name);
            if (values != nullptr && values[0] != nullptr) {
                LdapAttribute& attribute = entry.attributes.emplace_back();
                attribute.name = name;
                for (berval** value = values; *value != nullptr; ++value) {
                    const auto* bytes = reinterpret_cast<const uint8_t*>((*value)->bv_val);
                    attribute.values.emplace_back(bytes, bytes + (*value)->bv_len);
                }
            }
            if (values != nullptr) {
                ldap_value_free_len(values);
            }
            ldap_memfreeW(name);
        }
        if (ber != nullptr) {
            ber_free(ber, 0);
        }
        return entry;
    }

    LdapHandle ld_;
};

// Options that only some wldap32 versions know (Wine's lacks several) are best effort.
bool OptionMissing(ULONG rc) {
    return rc == LDAP_NOT_SUPPORTED || rc == LDAP_LOCAL_ERROR || rc == LDAP_PARAM_ERROR;
}

class Win32LdapConnector final : public LdapConnector {
  public:
    int32_t Open(const LdapSettings& settings, std::unique_ptr<LdapSession>* out) override {
        out->reset();
        const LdapDeadline deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(settings.budgetMs);
        LdapAddress address;
        if (const int32_t rc = ResolveLdapAddress(settings, &address); rc != kLdapSuccess) {
            return rc;
        }
        // Windows trusts the machine's certificate store; it has no per-connection authority file.
        if (!settings.caFile.empty()) {
            return kLdapNotSupported;
        }
        const uint32_t connectMs = RemainingMs(deadline, settings.connectTimeoutMs);
        if (connectMs == 0) {
            return kLdapTimeout;
        }
        if (const int32_t rc = ProbeConnect(address.host, address.port, connectMs); rc != kLdapSuccess) {
            return rc;
        }
        const WString host = Utf8ToUtf16(address.host);
        LdapHandle ld(address.tls ? ldap_sslinitW(Mutable(host), address.port, 1)
                                  : ldap_initW(Mutable(host), address.port));
        if (!ld.valid()) {
            const ULONG last = LdapGetLastError();
            return last != LDAP_SUCCESS ? Normalise(last) : kLdapLocalError;
        }
        ULONG version = LDAP_VERSION3;
        if (const ULONG rc = ldap_set_optionW(ld.get(), LDAP_OPT_PROTOCOL_VERSION, &version);
            rc != LDAP_SUCCESS) {
            return Normalise(rc);
        }
        // LDAP_OPT_OFF itself, not a pointer to a zero: the latter turns chasing on.
        if (const ULONG rc = ldap_set_optionW(ld.get(), LDAP_OPT_REFERRALS, LDAP_OPT_OFF);
            rc != LDAP_SUCCESS) {
            return Normalise(rc);
        }
        if (settings.transport != LdapTransport::Plain && !settings.verifyCertificate) {
            const ULONG rc = ldap_set_optionW(ld.get(), LDAP_OPT_SERVER_CERTIFICATE,
                                              reinterpret_cast<const void*>(&AcceptAnyCertificate));
            if (rc != LDAP_SUCCESS && !OptionMissing(rc)) {
                return Normalise(rc);
            }
        }
        const uint32_t stillMs = RemainingMs(deadline, settings.connectTimeoutMs);
        if (stillMs == 0) {
            return kLdapTimeout;
        }
        l_timeval connectLimit = ToLTimeval(stillMs);
        if (const ULONG rc = ldap_connect(ld.get(), &connectLimit);
            rc != LDAP_SUCCESS && !OptionMissing(rc)) {
            return Normalise(rc);
        }
        auto session = std::make_unique<Win32LdapSession>(std::move(ld), settings.operationTimeLimitMs,
                                                          settings.sizeLimit, deadline);
        if (const int32_t rc = session->Establish(settings); rc != kLdapSuccess) {
            return rc;
        }
        *out = std::move(session);
        return kLdapSuccess;
    }
};

}  // namespace

LdapConnector& DefaultLdapConnector() {
    static Win32LdapConnector connector;
    return connector;
}

}  // namespace korva::platform::os
