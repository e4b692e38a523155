#include "tools/directory_access.h"

#include <algorithm>

#include "directory/directory.h"
#include "directory/ldap_backend.h"
#include "infra/error_texts.h"
#include "platform/files.h"
#include "platform/result_codes.h"
#include "tools/policy_lint.h"

namespace korva::tools {

namespace {

// The tool waits longer than the logon screen: an export reads the whole domain in one session.
constexpr uint32_t kConnectTimeoutMs = 5000;
constexpr uint32_t kOperationTimeLimitMs = 10000;
constexpr uint32_t kBudgetMs = 30000;
// A password file holds one line; anything much larger is not one.
constexpr uint64_t kMaxPasswordFileBytes = 64 * 1024;

const std::vector<OptionSpec> kDirectoryOptions = {
    {"--ldap", true},      {"--bind-user", true}, {"--bind-dn", true},   {"--password-file", true},
    {"--starttls", false}, {"--ca-file", true},   {"--insecure", false}, {"--sasl-gssapi", false},
    {"--snapshot", true},  {"--domain", true},
};

std::string FileError(const std::string& path, int32_t code) {
    if (code == winerr::kFileTooLarge) {
        return path + ": the file is too large";
    }
    const WString text = SystemErrorText(static_cast<uint32_t>(code));
    return path + ": cannot read the file: " + (text.empty() ? "error" : U8(text)) + " (" +
           std::to_string(code) + ")";
}

}  // namespace

const char* const kDirectoryOptionsHelp =
    "Directory (one of):\n"
    "  --ldap URI            a domain controller: ldap://HOST[:PORT] or ldaps://HOST[:PORT]\n"
    "    --bind-user NAME    bind as NAME (user@domain or DOMAIN\\user); or\n"
    "    --bind-dn DN        bind as the distinguished name DN; neither: anonymous\n"
    "    --password-file F   the bind password is the first line of F (never on the command line)\n"
    "    --sasl-gssapi       bind with the caller's Kerberos ticket instead\n"
    "    --starttls          upgrade ldap:// with StartTLS before binding\n"
    "    --ca-file FILE      trust the certificates in FILE (PEM) instead of the system's\n"
    "    --insecure          do not verify the server's certificate\n"
    "  --snapshot FILE       an LDIF snapshot of the domain (as written by export or ldapsearch -LLL)\n"
    "  --domain DNSNAME      the domain (required), e.g. corp.example.com\n";

std::string ErrorLine(const std::string& message) {
    return std::string(kProgramName) + ": " + message + "\n";
}

std::string ParsedArgs::Value(const std::string& name) const {
    const auto found = values.find(name);
    return found == values.end() ? std::string() : found->second;
}

bool ParseArgs(const std::vector<std::string>& args, size_t first,
               const std::vector<OptionSpec>& commandOptions, ParsedArgs* parsed, std::string* problem) {
    bool optionsEnded = false;
    for (size_t i = first; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            parsed->operands.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        const size_t equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        const OptionSpec* option = nullptr;
        for (const auto* table : {&commandOptions, &kDirectoryOptions}) {
            for (const OptionSpec& candidate : *table) {
                option = name == candidate.name ? &candidate : option;
            }
        }
        if (option == nullptr || (!option->takesValue && equals != std::string::npos)) {
            *problem = "unknown option '" + arg + "'";
            return false;
        }
        if (parsed->Has(name)) {
            *problem = name + " given twice";
            return false;
        }
        if (!option->takesValue) {
            parsed->flags.insert(name);
        } else if (equals != std::string::npos) {
            parsed->values[name] = arg.substr(equals + 1);
        } else if (i + 1 < args.size()) {
            parsed->values[name] = args[++i];
        } else {
            *problem = name + " needs a value";
            return false;
        }
    }
    return true;
}

bool ReadDirectoryOptions(const ParsedArgs& parsed, DirectoryOptions* options, std::string* problem) {
    DirectoryOptions& o = *options;
    o.ldapUri = parsed.Value("--ldap");
    o.snapshot = parsed.Value("--snapshot");
    o.domain = parsed.Value("--domain");
    o.passwordFile = parsed.Value("--password-file");
    o.caFile = parsed.Value("--ca-file");
    o.startTls = parsed.Has("--starttls");
    o.insecure = parsed.Has("--insecure");
    o.saslGssapi = parsed.Has("--sasl-gssapi");
    o.bindName = parsed.Has("--bind-user") ? parsed.Value("--bind-user") : parsed.Value("--bind-dn");
    const bool ldap = parsed.Has("--ldap");
    const bool bindName = parsed.Has("--bind-user") || parsed.Has("--bind-dn");
    const struct {
        bool wrong;
        const char* problem;
    } checks[] = {
        {ldap == parsed.Has("--snapshot"), "give either --ldap URI or --snapshot FILE"},
        {ldap ? o.ldapUri.empty() : o.snapshot.empty(), "the directory's URI or file is empty"},
        {!parsed.Has("--domain") || o.domain.empty(), "--domain DNSNAME is required"},
        {parsed.Has("--bind-user") && parsed.Has("--bind-dn"), "give --bind-user or --bind-dn, not both"},
        {!ldap && (bindName || o.startTls || o.insecure || o.saslGssapi || parsed.Has("--password-file") ||
                   parsed.Has("--ca-file")),
         "the bind and TLS options go with --ldap only"},
        {o.saslGssapi && (bindName || parsed.Has("--password-file")),
         "--sasl-gssapi takes neither a bind name nor a password file"},
        {bindName && !parsed.Has("--password-file"), "a bind name needs --password-file FILE"},
        {o.startTls && EqualsNoCaseAscii(Wide(o.ldapUri.substr(0, 6)), KW("ldaps:")),
         "--starttls goes with ldap://, not ldaps://"},
        {parsed.Has("--password-file") && !bindName, "--password-file needs --bind-user or --bind-dn"},
    };
    for (const auto& check : checks) {
        if (check.wrong) {
            *problem = check.problem;
            return false;
        }
    }
    return true;
}

DirectoryAccess::~DirectoryAccess() {
    session_.reset();  // before the snapshot it may belong to
}

int32_t DirectoryAccess::Open(const DirectoryOptions& options, std::string* error) {
    domainDn_ = U8(DnsDomainToDistinguishedName(Wide(options.domain)));
    LdapBackendSettings backend;
    backend.dnsDomain = Wide(options.domain);
    platform::LdapSettings& c = backend.connection;
    c.connectTimeoutMs = kConnectTimeoutMs;
    c.operationTimeLimitMs = kOperationTimeLimitMs;
    c.budgetMs = kBudgetMs;
    int32_t result = 0;
    if (!options.snapshot.empty()) {
        where_ = options.snapshot;
        std::vector<uint8_t> content;
        result =
            platform::ReadWholeFile(Wide(options.snapshot).c_str(), ldif::Limits{}.maxInputBytes, &content);
        if (result != 0) {
            *error = FileError(options.snapshot, result);
            return result;
        }
        std::unique_ptr<LdifDirectory> snapshot;
        ldif::ParseError parseError;
        result = LdifDirectory::Load(
            std::string_view(reinterpret_cast<const char*>(content.data()), content.size()), ldif::Limits{},
            &snapshot, &parseError);
        if (result != 0) {
            *error = options.snapshot + ": not a usable LDIF snapshot: " + parseError.ToString();
            return result;
        }
        snapshot_ = snapshot.get();
        result = snapshot_->Open(c, &session_);
        backend_ = std::make_unique<LdapDirectoryBackend>(std::move(backend), std::move(snapshot));
    } else {
        where_ = options.ldapUri;
        c.uri = Wide(options.ldapUri);
        c.transport = EqualsNoCaseAscii(c.uri.substr(0, 6), KW("ldaps:")) ? platform::LdapTransport::Ldaps
                      : options.startTls                                  ? platform::LdapTransport::StartTls
                                                                          : platform::LdapTransport::Plain;
        c.verifyCertificate = !options.insecure;
        c.caFile = Wide(options.caFile);
        c.bindName = Wide(options.bindName);
        c.bind = options.saslGssapi         ? platform::LdapBind::SaslGssapi
                 : options.bindName.empty() ? platform::LdapBind::Anonymous
                                            : platform::LdapBind::Simple;
        if (!options.passwordFile.empty()) {
            std::vector<uint8_t> content;
            result =
                platform::ReadWholeFile(Wide(options.passwordFile).c_str(), kMaxPasswordFileBytes, &content);
            if (result != 0) {
                *error = FileError(options.passwordFile, result);
                return result;
            }
            const auto end = std::find_if(content.begin(), content.end(),
                                          [](uint8_t b) { return b == '\r' || b == '\n'; });
            c.password = platform::SecretBytes(std::string_view(reinterpret_cast<const char*>(content.data()),
                                                                static_cast<size_t>(end - content.begin())));
            SecureZero(content.data(), content.size());
        }
        platform::LdapSettings raw = c.Copy();
        result = platform::OpenLdapSession(raw, &session_);
        backend_ = std::make_unique<LdapDirectoryBackend>(std::move(backend));
    }
    if (result != 0) {
        *error = DescribeLdapError(result);
    }
    return result;
}

platform::LdapSession& DirectoryAccess::Session() {
    session_->SetDeadline(std::chrono::steady_clock::now() + std::chrono::milliseconds(kBudgetMs));
    return *session_;
}

std::string DirectoryAccess::DescribeLdapError(int32_t code) const {
    std::string text;
    switch (code) {
        case kLdapServerDown:
        case kLdapConnectError:
            text = "cannot connect to " + where_ + " (no server answers there, or TLS could not be set up)";
            break;
        case kLdapTimeout:
            text = where_ + " did not answer in time";
            break;
        case kLdapInvalidCredentials:
            text = where_ + " refused the bind: wrong bind name or password";
            break;
        case kLdapStrongAuthRequired:
        case kLdapAuthMethodNotSupported:
            text = where_ + " refuses this bind without TLS (try --starttls or ldaps://)";
            break;
        case kLdapParamError:
            text = "'" + where_ + "' is not a usable LDAP address";
            break;
        case kLdapInsufficientRights:
            text = where_ + ": the bind account may not do this";
            break;
        default:
            text = where_ + ": LDAP error " + std::to_string(code);
            break;
    }
    const std::string server = session_ != nullptr ? U8(session_->LastServerMessage()) : std::string();
    return server.empty() ? text : text + " [" + server + "]";
}

std::vector<std::string> PolicyObjectPath(const std::string& domainDn) {
    std::vector<std::string> path;
    std::string dn = domainDn;
    for (const char* rdn : {"CN=Program Data", "CN=Quillmarsh", "CN=Valexor", "CN=QmhPasswordPolicy"}) {
        dn = std::string(rdn) + "," + dn;
        path.push_back(dn);
    }
    return path;
}

}  // namespace korva::tools
