// The LDAP client on Linux: OpenLDAP's libldap.
//
// Every exchange is asynchronous plus ldap_result with a timeout, so that no call waits longer than the
// per-operation limit or the session's deadline; an exchange that runs out of time is abandoned. The
// connection itself is bounded by LDAP_OPT_NETWORK_TIMEOUT, and LDAP_OPT_TIMEOUT bounds the few synchronous
// calls libldap makes on its own (StartTLS, the SASL exchange).
#include <ldap.h>
#include <sys/time.h>

#include <algorithm>
#include <cstring>

#include "platform/ldap_client.h"
#include "platform/os_defaults.h"
#include "platform/unique_handle.h"

namespace korva::platform::os {
namespace {

struct LdapHandlePolicy {
    using Type = LDAP*;
    static constexpr Type Invalid() { return nullptr; }
    static void Close(Type ld) noexcept { ldap_unbind_ext_s(ld, nullptr, nullptr); }
};
using LdapHandle = UniqueHandle<LdapHandlePolicy>;
using LdapMessageHandle = UniqueHandle<ClosedBy<ldap_msgfree>>;

// libldap's client-side codes are negative (-1 server down ... -17 referral limit); Windows numbers the same
// conditions 0x51 ... 0x61 in the same order.
int32_t Normalise(int code) {
    if (code >= 0) {
        return code;
    }
    if (code >= LDAP_REFERRAL_LIMIT_EXCEEDED) {
        return 0x50 - code;
    }
    return kLdapLocalError;
}

timeval ToTimeval(uint32_t ms) {
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(ms / 1000);
    tv.tv_usec = static_cast<suseconds_t>((ms % 1000) * 1000);
    return tv;
}

// Server-side time limit in whole seconds, at least one (0 would mean none).
int ServerSeconds(uint32_t ms) {
    return static_cast<int>(std::max<uint32_t>(1, (ms + 999) / 1000));
}

std::string HostForUri(const std::string& host) {
    return host.find(':') != std::string::npos ? "[" + host + "]" : host;
}

// Keeps the UTF-8 texts and the pointer arrays that libldap's C interface wants alive for one call.
class CStrings {
  public:
    explicit CStrings(const std::vector<WString>& texts) {
        storage_.reserve(texts.size());
        for (const WString& text : texts) {
            storage_.push_back(Utf16ToUtf8(text));
        }
        for (std::string& text : storage_) {
            pointers_.push_back(text.data());
        }
        pointers_.push_back(nullptr);
    }
    // Null for an empty list (libldap then returns every ordinary attribute).
    char** get() { return storage_.empty() ? nullptr : pointers_.data(); }

  private:
    std::vector<std::string> storage_;
    std::vector<char*> pointers_;
};

// SASL prompts: GSSAPI needs none (the ticket cache names the user), so every prompt keeps its default.
int NoPrompts(LDAP*, unsigned, void*, void*) {
    return LDAP_SUCCESS;
}

class PosixLdapSession final : public ClientSession {
  public:
    PosixLdapSession(LdapHandle ld, uint32_t operationLimitMs, uint32_t sizeLimit, LdapDeadline deadline)
        : ClientSession(operationLimitMs, sizeLimit, deadline), ld_(std::move(ld)) {}

    // Connects, upgrades and binds; the session is usable only when this returns 0.
    int32_t Establish(const LdapSettings& settings) {
        if (settings.transport == LdapTransport::StartTls) {
            const uint32_t ms = TimeLeft();
            if (ms == 0) {
                return kLdapTimeout;
            }
            SetApiTimeout(ms);
            const int rc = ldap_start_tls_s(ld_.get(), nullptr, nullptr);
            if (rc != LDAP_SUCCESS) {
                ReadSessionMessage();
                return Normalise(rc);
            }
        }
        switch (settings.bind) {
            case LdapBind::Anonymous:
                // Nothing to send: connect now, so that an unreachable server fails here and not in a search.
                if (const int rc = ldap_connect(ld_.get()); rc != LDAP_SUCCESS) {
                    ReadSessionMessage();
                    return Normalise(rc);
                }
                return kLdapSuccess;
            case LdapBind::Simple:
                return SimpleBind(settings);
            case LdapBind::SaslGssapi:
                return GssapiBind();
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
        const std::string base8 = Utf16ToUtf8(base);
        const std::string filter8 = Utf16ToUtf8(filter);
        CStrings attrs(attributes);
        timeval limit = ToTimeval(static_cast<uint32_t>(ServerSeconds(ms)) * 1000);
        int msgid = 0;
        const int rc =
            ldap_search_ext(ld_.get(), base8.c_str(), static_cast<int>(scope), filter8.c_str(), attrs.get(),
                            0, nullptr, nullptr, &limit, static_cast<int>(sizeLimit_), &msgid);
        if (rc != LDAP_SUCCESS) {
            return Normalise(rc);
        }
        LdapMessageHandle result;
        const int32_t waited = Wait(msgid, result.put());
        if (waited != kLdapSuccess) {
            return waited;
        }
        std::vector<LdapEntry> entries;
        int32_t code = kLdapDecodingError;
        for (LDAPMessage* message = ldap_first_message(ld_.get(), result.get()); message != nullptr;
             message = ldap_next_message(ld_.get(), message)) {
            const int type = ldap_msgtype(message);
            if (type == LDAP_RES_SEARCH_ENTRY) {
                entries.push_back(ReadEntry(message));
            } else if (type == LDAP_RES_SEARCH_RESULT) {
                code = ParseResult(message);
            }
            // Search references are dropped: referrals are never chased.
        }
        return FinishSearch(code, &entries, out);
    }

  private:
    int32_t Write(WStringView dn, const std::vector<LdapModification>& changes, bool add) override {
        LdapModList<LDAPMod> mods(changes, LDAP_MOD_BVALUES);
        const std::string dn8 = Utf16ToUtf8(dn);
        int msgid = 0;
        const int rc = add ? ldap_add_ext(ld_.get(), dn8.c_str(), mods.get(), nullptr, nullptr, &msgid)
                           : ldap_modify_ext(ld_.get(), dn8.c_str(), mods.get(), nullptr, nullptr, &msgid);
        return rc != LDAP_SUCCESS ? Normalise(rc) : WaitAndParse(msgid);
    }

    void SetApiTimeout(uint32_t ms) {
        timeval tv = ToTimeval(ms);
        (void)ldap_set_option(ld_.get(), LDAP_OPT_TIMEOUT, &tv);
    }

    int32_t SimpleBind(const LdapSettings& settings) {
        const uint32_t ms = TimeLeft();
        if (ms == 0) {
            return kLdapTimeout;
        }
        const std::string name = Utf16ToUtf8(settings.bindName);
        berval credential{};
        credential.bv_len = settings.password.view().size();
        credential.bv_val = const_cast<char*>(settings.password.view().data());
        int msgid = 0;
        const int rc =
            ldap_sasl_bind(ld_.get(), name.c_str(), LDAP_SASL_SIMPLE, &credential, nullptr, nullptr, &msgid);
        if (rc != LDAP_SUCCESS) {
            ReadSessionMessage();
            return Normalise(rc);
        }
        return WaitAndParse(msgid);
    }

    int32_t GssapiBind() {
        const uint32_t ms = TimeLeft();
        if (ms == 0) {
            return kLdapTimeout;
        }
        SetApiTimeout(ms);
        // The service ticket is for the name the caller connected to, not for whatever a reverse look-up of
        // the address says (127.0.0.1 becomes the local host's name).
        (void)ldap_set_option(ld_.get(), LDAP_OPT_X_SASL_NOCANON, LDAP_OPT_ON);
        const int rc = ldap_sasl_interactive_bind_s(ld_.get(), nullptr, "GSSAPI", nullptr, nullptr,
                                                    LDAP_SASL_QUIET, NoPrompts, nullptr);
        if (rc != LDAP_SUCCESS) {
            ReadSessionMessage();
        }
        return Normalise(rc);
    }

    // Waits for the whole answer to msgid; abandons it when the time runs out. The time left is taken after
    // sending, since sending may have had to connect first.
    int32_t Wait(int msgid, LDAPMessage** result) {
        const uint32_t ms = TimeLeft();
        if (ms == 0) {
            (void)ldap_abandon_ext(ld_.get(), msgid, nullptr, nullptr);
            return kLdapTimeout;
        }
        timeval tv = ToTimeval(ms);
        const int type = ldap_result(ld_.get(), msgid, LDAP_MSG_ALL, &tv, result);
        if (type == 0) {
            (void)ldap_abandon_ext(ld_.get(), msgid, nullptr, nullptr);
            return kLdapTimeout;
        }
        if (type < 0) {
            int code = LDAP_OTHER;
            (void)ldap_get_option(ld_.get(), LDAP_OPT_RESULT_CODE, &code);
            ReadSessionMessage();
            return code == LDAP_SUCCESS ? kLdapServerDown : Normalise(code);
        }
        return kLdapSuccess;
    }

    int32_t WaitAndParse(int msgid) {
        LdapMessageHandle result;
        const int32_t waited = Wait(msgid, result.put());
        if (waited != kLdapSuccess) {
            return waited;
        }
        return ParseResult(result.get());
    }

    // The result code and the server's text of a result message (not freed here).
    int32_t ParseResult(LDAPMessage* message) {
        int code = LDAP_OTHER;
        char* text = nullptr;
        const int rc = ldap_parse_result(ld_.get(), message, &code, nullptr, &text, nullptr, nullptr, 0);
        if (text != nullptr) {
            message_ = Utf8ToUtf16(text);
            ldap_memfree(text);
        }
        return rc != LDAP_SUCCESS ? Normalise(rc) : Normalise(code);
    }

    void ReadSessionMessage() {
        char* text = nullptr;
        if (ldap_get_option(ld_.get(), LDAP_OPT_DIAGNOSTIC_MESSAGE, &text) == LDAP_OPT_SUCCESS && text) {
            message_ = Utf8ToUtf16(text);
            ldap_memfree(text);
        }
    }

    LdapEntry ReadEntry(LDAPMessage* message) {
        LdapEntry entry;
        if (char* dn = ldap_get_dn(ld_.get(), message); dn != nullptr) {
            entry.dn = Utf8ToUtf16(dn);
            ldap_memfree(dn);
        }
        BerElement* ber = nullptr;
        for (char* name = ldap_first_attribute(ld_.get(), message, &ber); name != nullptr;
             name = ldap_next_attribute(ld_.get(), message, ber)) {
            berval** values = ldap_get_values_len(ld_.get(), message, name);
            if (values != nullptr && values[0] != nullptr) {
                LdapAttribute& attribute = entry.attributes.emplace_back();
                attribute.name = Utf8ToUtf16(name);
                for (berval** value = values; *value != nullptr; ++value) {
                    const auto* bytes = reinterpret_cast<const uint8_t*>((*value)->bv_val);
                    attribute.values.emplace_back(bytes, bytes + (*value)->bv_len);
                }
            }
            ldap_value_free_len(values);
            ldap_memfree(name);
        }
        if (ber != nullptr) {
            ber_free(ber, 0);
        }
        return entry;
    }

    LdapHandle ld_;
};

class PosixLdapConnector final : public LdapConnector {
  public:
    int32_t Open(const LdapSettings& settings, std::unique_ptr<LdapSession>* out) override {
        out->reset();
        const LdapDeadline deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(settings.budgetMs);
        LdapAddress address;
        if (const int32_t rc = ResolveLdapAddress(settings, &address); rc != kLdapSuccess) {
            return rc;
        }
        const std::string uri = (address.tls ? "ldaps://" : "ldap://") + HostForUri(address.host) + ":" +
                                std::to_string(address.port);
        LdapHandle ld;
        if (const int rc = ldap_initialize(ld.put(), uri.c_str()); rc != LDAP_SUCCESS) {
            return Normalise(rc);
        }
        if (const int32_t rc = Configure(ld.get(), settings, deadline); rc != kLdapSuccess) {
            return rc;
        }
        auto session = std::make_unique<PosixLdapSession>(std::move(ld), settings.operationTimeLimitMs,
                                                          settings.sizeLimit, deadline);
        if (const int32_t rc = session->Establish(settings); rc != kLdapSuccess) {
            return rc;
        }
        *out = std::move(session);
        return kLdapSuccess;
    }

  private:
    static int32_t Configure(LDAP* ld, const LdapSettings& settings, LdapDeadline deadline) {
        int version = LDAP_VERSION3;
        if (const int rc = ldap_set_option(ld, LDAP_OPT_PROTOCOL_VERSION, &version); rc != LDAP_OPT_SUCCESS) {
            return Normalise(rc);
        }
        if (const int rc = ldap_set_option(ld, LDAP_OPT_REFERRALS, LDAP_OPT_OFF); rc != LDAP_OPT_SUCCESS) {
            return Normalise(rc);
        }
        const uint32_t connectMs = RemainingMs(deadline, settings.connectTimeoutMs);
        if (connectMs == 0) {
            return kLdapTimeout;
        }
        timeval connectLimit = ToTimeval(connectMs);
        if (const int rc = ldap_set_option(ld, LDAP_OPT_NETWORK_TIMEOUT, &connectLimit);
            rc != LDAP_OPT_SUCCESS) {
            return Normalise(rc);
        }
        timeval apiLimit = ToTimeval(RemainingMs(deadline, settings.operationTimeLimitMs));
        if (const int rc = ldap_set_option(ld, LDAP_OPT_TIMEOUT, &apiLimit); rc != LDAP_OPT_SUCCESS) {
            return Normalise(rc);
        }
        if (settings.transport == LdapTransport::Plain) {
            return kLdapSuccess;
        }
        int require = settings.verifyCertificate ? LDAP_OPT_X_TLS_DEMAND : LDAP_OPT_X_TLS_NEVER;
        if (const int rc = ldap_set_option(ld, LDAP_OPT_X_TLS_REQUIRE_CERT, &require);
            rc != LDAP_OPT_SUCCESS) {
            return kLdapNotSupported;
        }
        if (!settings.caFile.empty()) {
            const std::string caFile = Utf16ToUtf8(settings.caFile);
            if (const int rc = ldap_set_option(ld, LDAP_OPT_X_TLS_CACERTFILE, caFile.c_str());
                rc != LDAP_OPT_SUCCESS) {
                return kLdapParamError;
            }
        }
        // The options above belong to this handle only once it has a TLS context of its own.
        int isServer = 0;
        if (const int rc = ldap_set_option(ld, LDAP_OPT_X_TLS_NEWCTX, &isServer); rc != LDAP_OPT_SUCCESS) {
            return kLdapConnectError;
        }
        return kLdapSuccess;
    }
};

}  // namespace

LdapConnector& DefaultLdapConnector() {
    static PosixLdapConnector connector;
    return connector;
}

}  // namespace korva::platform::os
