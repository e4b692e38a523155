// `korva-policy fetch`, `publish` and `export`: the policy object and the entries the engine reads, handled
// through one raw LDAP session (a domain controller's, or the snapshot's).
#include <algorithm>
#include <iterator>
#include <set>

#include "directory/dn.h"
#include "directory/ldap_filter.h"
#include "directory/ldif.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "tools/directory_commands.h"

namespace korva::tools {

namespace {

using platform::LdapEntry;
using platform::LdapScope;
using platform::LdapSession;

const WChar* const kDocumentAttribute = KW("msDS-ByteArray");

// What the engine and the directory services read of users, groups, units and the domain.
const std::vector<WString> kExportedAttributes = {
    KW("objectClass"),    KW("objectSid"), KW("sAMAccountName"), KW("userPrincipalName"), KW("member"),
    KW("primaryGroupID"), KW("groupType"), KW("pwdLastSet"),     KW("givenName"),         KW("sn"),
    KW("displayName")};
constexpr const char* kExportedObjects =
    "(|(objectClass=domainDNS)(objectClass=organizationalUnit)(objectClass=group)"
    "(&(objectClass=user)(!(objectClass=computer))))";

// One command's command line and directory.
struct Prepared {
    ParsedArgs parsed;
    DirectoryOptions options;
    DirectoryAccess access;
    CommandResult failure;
};

// Reads the command line (the command's `own` options and `operands` operands besides the directory's) and,
// when `open`, opens the directory. false with `failure` set when either went wrong.
bool Prepare(const std::vector<std::string>& args, const std::vector<OptionSpec>& own, size_t operands,
             bool open, Prepared* p) {
    std::string problem;
    if (!ParseArgs(args, 1, own, &p->parsed, &problem) ||
        !ReadDirectoryOptions(p->parsed, &p->options, &problem)) {
        p->failure = UsageError(problem);
    } else if (p->parsed.operands.size() != operands) {
        p->failure = UsageError(operands == 0 ? "unexpected '" + p->parsed.operands.front() + "'"
                                : p->parsed.operands.empty() ? "a FILE is required"
                                                             : "only one FILE at a time");
    } else if (open && p->access.Open(p->options, &problem) != 0) {
        p->failure.exitCode = kExitFailed;
        p->failure.err = ErrorLine(problem);
    } else {
        return true;
    }
    return false;
}

CommandResult Failed(int exitCode, const std::string& message) {
    CommandResult result;
    result.exitCode = exitCode;
    result.err = ErrorLine(message);
    return result;
}

// The bytes for standard output, or written to the -o file.
CommandResult Deliver(const ParsedArgs& parsed, const std::string& bytes, const std::string& what) {
    CommandResult result;
    result.exitCode = kExitOk;
    if (!parsed.Has("-o")) {
        result.out = bytes;
        return result;
    }
    const std::string path = parsed.Value("-o");
    const int32_t status = platform::WriteWholeFile(Wide(path).c_str(), bytes.data(), bytes.size());
    if (status != 0) {
        return Failed(kExitFailed, path + ": cannot write the file (error " + std::to_string(status) + ")");
    }
    result.err = ErrorLine(what + " written to " + path + " (" + std::to_string(bytes.size()) + " bytes)");
    return result;
}

// The stored document: 0 with the bytes (present false when the object or its value is missing), or the
// session's LDAP result.
int32_t ReadDocument(LdapSession& session, const std::string& objectDn, bool* present, std::string* bytes) {
    std::vector<LdapEntry> entries;
    *present = false;
    bytes->clear();
    const int32_t result = session.Search(Wide(objectDn), LdapScope::Base, KW("(objectClass=*)"),
                                          {kDocumentAttribute}, &entries);
    if (result == kLdapNoSuchObject) {
        return 0;
    }
    const platform::LdapAttribute* value =
        result == 0 && !entries.empty() ? entries[0].Find(kDocumentAttribute) : nullptr;
    if (value != nullptr && !value->values.empty()) {
        *present = true;
        bytes->assign(value->values[0].begin(), value->values[0].end());
    }
    return result;
}

// Whether the object exists: 0 with *exists, or the LDAP result.
int32_t Exists(LdapSession& session, const std::string& dn, bool* exists) {
    std::vector<LdapEntry> entries;
    const int32_t result =
        session.Search(Wide(dn), LdapScope::Base, KW("(objectClass=*)"), {KW("objectClass")}, &entries);
    *exists = result == 0;
    return result == kLdapNoSuchObject ? 0 : result;
}

// A trailing "#<digits>#" (a document fetched earlier) is replaced, not stacked.
std::string WithoutTimeSuffix(std::string bytes) {
    if (bytes.size() >= 3 && bytes.back() == '#') {
        const size_t open = bytes.find_last_not_of("0123456789", bytes.size() - 2);
        if (open != std::string::npos && open < bytes.size() - 2 && bytes[open] == '#') {
            bytes.resize(open);
        }
    }
    return bytes;
}

platform::LdapValue Value(std::string_view text) {
    return platform::LdapValue(text.begin(), text.end());
}

std::string ParentDn(const std::string& dn) {
    for (size_t i = 0; i < dn.size(); ++i) {
        if (dn[i] == '\\') {
            ++i;
        } else if (dn[i] == ',') {
            return dn.substr(i + 1);
        }
    }
    return std::string();
}

size_t Depth(const std::string& dn) {
    std::vector<dn::Rdn> rdns;
    return dn::Parse(dn, &rdns) ? rdns.size() : 0;
}

std::string Key(const std::string& dn) {
    std::string key;
    return dn::Normalize(dn, &key) ? key : dn;
}

ldif::Entry ToLdif(const LdapEntry& entry) {
    ldif::Entry out;
    out.dn = U8(entry.dn);
    for (const platform::LdapAttribute& attribute : entry.attributes) {
        ldif::Attribute& written = out.attributes.emplace_back();
        written.name = U8(attribute.name);
        for (const platform::LdapValue& value : attribute.values) {
            written.values.emplace_back(value.begin(), value.end());
        }
    }
    return out;
}

}  // namespace

const char* const kDirectoryCommandsHelp =
    "test: what the logon screen would say when USER changes to a password. Standard input's first line\n"
    "is the new password, its second the old one (absent or empty: none), UTF-8; passwords are never taken\n"
    "from the command line and never printed. Builds the user scope, picks the applicable policy (from the\n"
    "directory's document, or FILE with --policy), tests the password and prints the user, the policy and\n"
    "one line per rule (its description in LANGID, a language identifier such as 9 or 0x409; default: the\n"
    "display language). --json: one object {result, accepted, reason, user, policy, rules, feedback, log}.\n"
    "  exit 0 the change would be accepted; 1 it would be refused (rules failed, no applicable policy, user\n"
    "  not found, no policies: the reason is printed); 2 no answer (directory unreachable, document\n"
    "  unloadable, bad input); 64 usage\n"
    "fetch: writes the stored policy document exactly as stored (time suffix included) to standard output\n"
    "or FILE. exit 0; 1 the domain has no policy document; 2 error; 64 usage\n"
    "publish: lints FILE (refused unless the result is 0, unless --force), creates the containers and the\n"
    "policy object when missing, stores FILE with a #<unix time># suffix (replacing one it ends in), reads\n"
    "it back and compares. A snapshot file is rewritten. exit 0 stored; 1 refused (lint, or more than\n"
    "1000000 bytes); 2 error; 64 usage\n"
    "export: writes an LDIF snapshot of what the policy engine reads (the domain, its units, users and\n"
    "groups, the containers between, the policy object, the domain's crossRef) for --snapshot.\n"
    "exit 0; 2 error; 64 usage\n";

CommandResult UsageError(const std::string& problem) {
    CommandResult result;
    result.exitCode = kExitUsage;
    result.err = ErrorLine(problem);
    return result;
}

CommandResult RunFetchCommand(const std::vector<std::string>& args) {
    Prepared p;
    if (!Prepare(args, {{"-o", true}}, 0, true, &p)) {
        return p.failure;
    }
    DirectoryAccess& access = p.access;
    const std::string objectDn = PolicyObjectPath(access.DomainDn()).back();
    bool present = false;
    std::string bytes;
    const int32_t result = ReadDocument(access.Session(), objectDn, &present, &bytes);
    if (result != 0) {
        return Failed(kExitFailed, "reading " + objectDn + ": " + access.DescribeLdapError(result));
    }
    if (!present) {
        return Failed(kExitNo,
                      "the domain has no policy document (" + objectDn + " holds no msDS-ByteArray)");
    }
    return Deliver(p.parsed, bytes, "the policy document");
}

CommandResult RunPublishCommand(const std::vector<std::string>& args) {
    Prepared p;
    if (!Prepare(args, {{"--force", false}}, 1, false, &p)) {
        return p.failure;
    }
    const ParsedArgs& parsed = p.parsed;
    const std::string& file = parsed.operands.front();
    std::string bytes;
    int32_t result = ReadDocumentFile(Wide(file), &bytes);
    if (result == winerr::kFileTooLarge) {
        return Failed(kExitNo, file + ": refused: larger than " + std::to_string(kMaxDocumentBytes) +
                                   " bytes, the most the directory attribute holds");
    }
    if (result != 0) {
        return Failed(kExitFailed, file + ": cannot read the file (error " + std::to_string(result) + ")");
    }
    const LintResult lint = LintDocumentBytes(bytes, Wide(file), LintOptions{});
    if (lint.exitCode != kLintAllLoaded && !parsed.Has("--force")) {
        CommandResult refused = Failed(
            kExitNo, file + ": refused: the linter's result is " + std::to_string(lint.exitCode) +
                         ", not 0 (korva-policy lint " + file + " says why; --force stores it all the same)");
        refused.err = lint.err + refused.err;
        return refused;
    }
    const std::string stored =
        WithoutTimeSuffix(std::move(bytes)) + "#" + std::to_string(platform::NowUnixSeconds()) + "#";
    if (stored.size() > kMaxDocumentBytes) {
        return Failed(kExitNo, file + ": refused: with its time suffix the document has " +
                                   std::to_string(stored.size()) + " bytes, more than " +
                                   std::to_string(kMaxDocumentBytes));
    }

    DirectoryAccess& access = p.access;
    std::string problem;
    if (access.Open(p.options, &problem) != 0) {
        return Failed(kExitFailed, problem);
    }
    LdapSession& session = access.Session();
    const std::vector<std::string> path = PolicyObjectPath(access.DomainDn());
    const auto fail = [&](const std::string& dn, int32_t code) {
        return Failed(kExitFailed, "writing " + dn + ": " + access.DescribeLdapError(code));
    };
    std::string created;
    for (const std::string& dn : path) {
        bool exists = false;
        result = Exists(session, dn, &exists);
        if (result == 0 && !exists) {
            std::vector<platform::LdapAttribute> attributes = {{KW("objectClass"), {Value("container")}}};
            if (&dn == &path.back()) {
                attributes = {{KW("objectClass"), {Value("msDS-App-Configuration")}},
                              {kDocumentAttribute, {Value(stored)}}};
            }
            result = session.Add(Wide(dn), attributes);
            created += result == 0 ? "created " + dn + "\n" : "";
        } else if (result == 0 && &dn == &path.back()) {
            result = session.Modify(Wide(dn),
                                    {{platform::LdapModOp::Replace, kDocumentAttribute, {Value(stored)}}});
        }
        if (result != 0) {
            return fail(dn, result);
        }
    }
    bool present = false;
    std::string back;
    result = ReadDocument(session, path.back(), &present, &back);
    if (result != 0) {
        return fail(path.back(), result);
    }
    if (back != stored) {
        return Failed(kExitFailed, path.back() + ": the value read back differs from the one written (" +
                                       std::to_string(back.size()) + " bytes instead of " +
                                       std::to_string(stored.size()) + ")");
    }
    if (LdifDirectory* snapshot = access.Snapshot()) {
        std::string ldifText;
        result = ldif::Write(snapshot->Entries(), &ldifText);
        if (result == 0) {
            result =
                platform::WriteWholeFile(Wide(p.options.snapshot).c_str(), ldifText.data(), ldifText.size());
        }
        if (result != 0) {
            return Failed(kExitFailed, p.options.snapshot + ": cannot write the snapshot back (error " +
                                           std::to_string(result) + ")");
        }
    }
    CommandResult done;
    done.exitCode = kExitOk;
    done.out = created + "stored " + std::to_string(stored.size()) + " bytes in " + path.back() +
               " and read them back unchanged\n";
    return done;
}

CommandResult RunExportCommand(const std::vector<std::string>& args) {
    Prepared p;
    if (!Prepare(args, {{"-o", true}}, 0, true, &p)) {
        return p.failure;
    }
    DirectoryAccess& access = p.access;
    LdapSession& session = access.Session();
    const std::string& domain = access.DomainDn();
    std::vector<LdapEntry> entries;
    std::vector<LdapEntry> found;
    // Each search: base, scope, filter, attributes; a missing base is no error (an empty domain has no
    // policy object), a cut-off answer is.
    std::vector<LdapEntry> root;
    int32_t result = session.Search(KW(""), LdapScope::Base, KW("(objectClass=*)"),
                                    {KW("configurationNamingContext")}, &root);
    std::string configuration = "CN=Configuration," + domain;
    if (result == 0 && !root.empty()) {
        if (const platform::LdapAttribute* value = root[0].Find(KW("configurationNamingContext"))) {
            configuration.assign(value->values.front().begin(), value->values.front().end());
        }
    }
    const std::string partitions = "CN=Partitions," + configuration;
    const struct {
        std::string base;
        LdapScope scope;
        std::string filter;
        std::vector<WString> attributes;
    } searches[] = {
        {domain, LdapScope::Subtree, kExportedObjects, kExportedAttributes},
        {PolicyObjectPath(domain).back(),
         LdapScope::Base,
         "(objectClass=*)",
         {KW("objectClass"), kDocumentAttribute}},
        {configuration, LdapScope::Base, "(objectClass=*)", {KW("objectClass")}},
        {partitions, LdapScope::Base, "(objectClass=*)", {KW("objectClass")}},
        {partitions,
         LdapScope::OneLevel,
         "(&(objectClass=crossRef)(nCName=" + ldapfilter::EscapeValue(domain) + "))",
         {KW("objectClass"), KW("nETBIOSName"), KW("dnsRoot"), KW("nCName")}},
    };
    for (const auto& search : searches) {
        result =
            session.Search(Wide(search.base), search.scope, Wide(search.filter), search.attributes, &found);
        if (result != 0 && result != kLdapNoSuchObject) {
            return Failed(kExitFailed, "searching " + search.base + ": " +
                                           (result == kLdapSizeLimitExceeded
                                                ? std::string("the server's size limit cut the answer short")
                                                : access.DescribeLdapError(result)));
        }
        std::move(found.begin(), found.end(), std::back_inserter(entries));
    }
    // The containers between the domain and the objects, which the canonical-name look-ups walk through.
    std::set<std::string> have;
    for (const LdapEntry& entry : entries) {
        have.insert(Key(U8(entry.dn)));
    }
    const std::string domainKey = Key(domain);
    for (size_t i = 0; i < entries.size(); ++i) {
        const std::string parent = ParentDn(U8(entries[i].dn));
        const std::string key = Key(parent);
        if (parent.empty() || have.count(key) != 0 || !dn::IsSameOrBelow(key, domainKey)) {
            continue;
        }
        have.insert(key);
        result =
            session.Search(Wide(parent), LdapScope::Base, KW("(objectClass=*)"), {KW("objectClass")}, &found);
        if (result != 0) {
            return Failed(kExitFailed, "reading " + parent + ": " + access.DescribeLdapError(result));
        }
        std::move(found.begin(), found.end(), std::back_inserter(entries));
    }
    std::vector<ldif::Entry> out;
    for (const LdapEntry& entry : entries) {
        out.push_back(ToLdif(entry));
    }
    std::stable_sort(out.begin(), out.end(),
                     [](const ldif::Entry& a, const ldif::Entry& b) { return Depth(a.dn) < Depth(b.dn); });
    std::string text;
    result = ldif::Write(out, &text);
    if (result != 0) {
        return Failed(kExitFailed,
                      "the entries cannot be written as LDIF (error " + std::to_string(result) + ")");
    }
    return Deliver(p.parsed, text, "the snapshot (" + std::to_string(out.size()) + " entries)");
}

}  // namespace korva::tools
