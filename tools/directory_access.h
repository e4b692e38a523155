// What the directory commands of korva-policy (test, fetch, publish, export) share: their command line and
// their way into a directory, either a domain controller over LDAP or an LDIF snapshot read into memory.
//
// Both ways give the same two things: the directory backend the policy engine reads through (installed as
// the process-wide one while a command runs), and one raw LDAP session for the commands that read or write
// the policy object and export entries themselves. Opening an LDAP directory binds at once, so an unreachable
// server or a refused bind is reported once, in plain words, before any command starts.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "directory/backend.h"
#include "directory/ldif_directory.h"
#include "platform/ldap.h"
#include "platform/text.h"
#include "tools/policy_lint.h"

namespace korva::tools {

enum DirectoryExitCode : int {
    kExitOk = 0,
    kExitNo = 1,      // refused, not found, nothing stored: the answer is no
    kExitFailed = 2,  // the question could not be answered
    kExitUsage = 64,
};

// What one command gives back: the exit code and the bytes for standard output and standard error.
using CommandResult = LintResult;

// Standard input, read whole and held as a secret (it carries passwords). 0 or a Windows error.
using InputReader = std::function<int32_t(platform::SecretBytes* input)>;

// The most standard input may hold before its second line end.
constexpr size_t kMaxPasswordInputBytes = 64 * 1024;

// The passwords from `stream` (standard input): read up to its second line end, so a person typing them is
// not left waiting for the end of input. winerr::kInvalidData when there are more than kMaxPasswordInputBytes
// before it, winerr::kReadFault when reading fails.
[[nodiscard]] int32_t ReadPasswordInput(std::FILE* stream, platform::SecretBytes* input);

// A command line split into options and operands by a table of the options a command knows.
struct OptionSpec {
    const char* name;  // "--ldap"
    bool takesValue;
};
struct ParsedArgs {
    std::map<std::string, std::string> values;  // options with a value ("--opt V" or "--opt=V")
    std::set<std::string> flags;                // options without one
    std::vector<std::string> operands;

    bool Has(const std::string& name) const { return values.count(name) != 0 || flags.count(name) != 0; }
    std::string Value(const std::string& name) const;
};

// Parses args[first...]: every option must be in `commandOptions` or the shared directory options; an
// option given twice, a missing value or an unknown option gives false with `problem` set.
[[nodiscard]] bool ParseArgs(const std::vector<std::string>& args, size_t first,
                             const std::vector<OptionSpec>& commandOptions, ParsedArgs* parsed,
                             std::string* problem);

struct DirectoryOptions {
    std::string ldapUri;
    std::string bindName;  // --bind-user or --bind-dn
    std::string passwordFile;
    std::string caFile;
    bool startTls = false;
    bool insecure = false;
    bool saslGssapi = false;
    std::string snapshot;
    std::string domain;  // --domain: DNS name
};

// The directory options of `parsed`, checked against each other. false with `problem` set for a usage error.
[[nodiscard]] bool ReadDirectoryOptions(const ParsedArgs& parsed, DirectoryOptions* options,
                                        std::string* problem);

// The usage text of the shared directory options.
extern const char* const kDirectoryOptionsHelp;

class DirectoryAccess {
  public:
    DirectoryAccess() = default;
    ~DirectoryAccess();
    DirectoryAccess(const DirectoryAccess&) = delete;
    DirectoryAccess& operator=(const DirectoryAccess&) = delete;

    // Loads the snapshot, or connects and binds. 0, or a Windows/LDAP code with `error` saying in one
    // sentence what went wrong.
    [[nodiscard]] int32_t Open(const DirectoryOptions& options, std::string* error);

    DirectoryBackend& Backend() { return *backend_; }
    // The raw session (bound; its deadline renewed by each call to Session).
    platform::LdapSession& Session();
    // The snapshot's directory when the directory is one (for writing it back after a change).
    LdifDirectory* Snapshot() { return snapshot_; }
    // The domain's DN ("DC=corp,DC=example,DC=test").
    const std::string& DomainDn() const { return domainDn_; }

    // One sentence for an LDAP result of the raw session (with the server's own text when it sent one).
    std::string DescribeLdapError(int32_t code) const;

  private:
    std::string where_;
    std::string domainDn_;
    std::unique_ptr<DirectoryBackend> backend_;
    LdifDirectory* snapshot_ = nullptr;  // owned by backend_
    std::unique_ptr<platform::LdapSession> session_;
};

// The object holding a domain's policy document, and the containers above it, top down.
std::vector<std::string> PolicyObjectPath(const std::string& domainDn);

// UTF-8 <-> the system's text.
inline std::string U8(WStringView text) {
    return Utf16ToUtf8(text);
}
inline WString Wide(std::string_view text) {
    return Utf8ToUtf16(text);
}

// "korva-policy: <message>\n".
std::string ErrorLine(const std::string& message);

}  // namespace korva::tools
