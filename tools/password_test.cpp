// `korva-policy test`: the logon screen's validation of a password change, run from the command line. The
// steps are the validation controller's own (policies loaded, user scope built, applicable policy chosen,
// password tested with the feedback text), through the same engine; what the logon screen would only log
// is printed: the user as the directory knows it, the policy chosen and every rule's verdict.
#include <algorithm>
#include <cstdio>
#include <iterator>
#include <optional>
#include <string>

#include "directory/directory.h"
#include "infra/locale.h"
#include "platform/language.h"
#include "platform/result_codes.h"
#include "policy/policy_list.h"
#include "policy/scope.h"
#include "tools/directory_commands.h"
#include "tools/json_writer.h"
#include "tools/lint_command.h"
#include "tools/lint_render.h"

namespace korva::tools {

namespace {

// The passwords, held only as long as the test runs and wiped when it ends.
struct Passwords {
    WString newPassword;
    WString oldPassword;
    ~Passwords() {
        SecureZero(newPassword.data(), newPassword.size() * sizeof(WChar));
        SecureZero(oldPassword.data(), oldPassword.size() * sizeof(WChar));
    }
};

// One line of standard input (without its CR LF) as text; false when it is not UTF-8.
bool TakeLine(std::string_view* input, WString* line) {
    const size_t end = input->find('\n');
    std::string_view bytes = input->substr(0, end);
    *input = end == std::string_view::npos ? std::string_view() : input->substr(end + 1);
    if (!bytes.empty() && bytes.back() == '\r') {
        bytes.remove_suffix(1);
    }
    *line = Utf8ToUtf16(bytes);
    std::string back = Utf16ToUtf8(*line);
    const bool same = back == bytes;
    SecureZero(back.data(), back.size());
    return same;
}

struct RuleLine {
    int32_t type = 0;
    WString name;
    bool enabled = false;
    std::optional<bool> passed;  // enabled rules that were tested
    WString description;
};

struct TestReport {
    int exitCode = kExitFailed;
    int32_t result = 0;
    std::string reason;  // why the change is refused or could not be judged; empty when accepted
    WString user, domain, sid, canonicalName, distinguishedName;
    std::vector<WString> groups;
    WString policyName;
    std::optional<size_t> policyIndex;  // 0-based, in document order
    std::vector<RuleLine> rules;
    WString feedback;
    std::vector<LogRecord> log;
};

bool ParseLanguage(const std::string& text, uint32_t* language) {
    uint32_t value = 0;
    // The level-mask reader takes the same numbers (decimal or 0x...); a word is no language.
    if (text.empty() || text[0] < '0' || text[0] > '9' || !ParseLevelMask(text, &value) || value > 0xFFFF) {
        return false;
    }
    *language = value & kPrimaryLanguageMask;  // 0x0407 and 7 are both German
    return true;
}

// The user's DN and the groups the engine walks from it; looked up after the test, with a log of their own,
// so the log shown stays that of the validation.
void DescribeUser(CScope& user, TestReport* report) {
    cGjLog quiet;
    report->sid = user.GetSID() != nullptr ? user.GetSID() : KW("");
    report->canonicalName = user.GetCanonicalName() != nullptr ? user.GetCanonicalName() : KW("");
    if (report->canonicalName.empty() ||
        Dir().CanonicalToDistinguishedName(quiet, report->canonicalName.c_str(),
                                           &report->distinguishedName) != 0) {
        return;
    }
    GroupSet groups = user.GetGroups();
    if (groups.empty()) {
        (void)EnumerateGroups(quiet, report->distinguishedName.c_str(), groups);
    }
    for (const WString& group : groups) {
        if (group != report->distinguishedName) {
            report->groups.push_back(group);
        }
    }
}

void Validate(DirectoryAccess& access, const std::optional<std::string>& policyFile, uint32_t language,
              const Passwords& passwords, TestReport* report) {
    RecordingLogHandler handler(kLogAll);
    cGjLog log;
    log.AddHandler(&handler);
    ScopedDirectoryBackend directory(&access.Backend());
    const auto finish = [&](int exitCode, int32_t result, std::string reason) {
        report->exitCode = exitCode;
        report->result = result;
        report->reason = std::move(reason);
        report->log = handler.Records();
    };

    CPolicylist policies;
    int32_t result = 0;
    if (policyFile) {
        std::string bytes;
        result = ReadDocumentFile(Wide(*policyFile), &bytes);
        if (result != 0) {
            return finish(kExitFailed, result, *policyFile + ": the policy file cannot be read");
        }
        result = policies.LoadFromDocumentBytes(log, bytes, Wide(*policyFile).c_str());
    } else {
        result = policies.LoadFromDirectory(log, report->domain.c_str());
    }
    if (result != 0 && result != kResultNoPolicyDocument) {
        return finish(kExitFailed, result, "the policy document could not be loaded (the log says why)");
    }
    const bool noDocument = result == kResultNoPolicyDocument;

    CScope user;
    result = user.CreateUserScope(log, report->user.c_str(), report->domain.c_str());
    if (result != 0) {
        const bool notFound = result == winerr::kNoneMapped || result == kResultNameNotCracked;
        return finish(
            notFound ? kExitNo : kExitFailed, result,
            notFound ? "user '" + U8(report->user) + "' was not found in domain '" + U8(report->domain) + "'"
                     : "the user could not be looked up (the log says why)");
    }
    CPolicy* policy = nullptr;
    result = policies.GetApplicablePolicy(log, user, &policy);
    DescribeUser(user, report);
    if (result == kResultPolicyListEmpty || result == kResultNoApplicablePolicy) {
        return finish(kExitNo, result,
                      noDocument                         ? "the domain has no policy document"
                      : result == kResultPolicyListEmpty ? "the policy list is empty"
                                                         : "no enabled policy applies to this user");
    }
    if (result != 0 || policy == nullptr) {
        return finish(kExitFailed, result,
                      "the applicable policy could not be determined (the log says why)");
    }
    report->policyName = policy->GetName() != nullptr ? policy->GetName() : KW("");
    for (size_t i = 0; i < policies.size(); ++i) {
        report->policyIndex = policies[i].get() == policy ? std::optional<size_t>(i) : report->policyIndex;
    }

    bool verdict = false;
    std::vector<bool> results;
    report->feedback = LocaleTexts().GetText(texts::kChangePasswordFeedbackDialogText);
    result = policy->TestPassword(log, &verdict, &user, passwords.newPassword.c_str(),
                                  passwords.oldPassword.empty() ? nullptr : passwords.oldPassword.c_str(),
                                  &report->feedback, &results, language);
    size_t tested = 0;
    size_t failed = 0;
    for (const auto& rule : policy->GetRules()) {
        RuleLine line{rule->GetType(), rule->GetDisplayName(), rule->IsEnabled(), std::nullopt, {}};
        const WChar* description = rule->GetDescription(language);
        line.description = description != nullptr ? description : KW("");
        if (line.enabled && tested < results.size()) {
            line.passed = results[tested++];
            failed += *line.passed ? 0 : 1;
        }
        report->rules.push_back(std::move(line));
    }
    if (result != 0) {
        return finish(kExitFailed, result, "a rule could not be evaluated (the log says why)");
    }
    finish(
        verdict ? kExitOk : kExitNo, 0,
        verdict ? std::string() : std::to_string(failed) + " of " + std::to_string(tested) + " rules failed");
}

std::string RenderJson(const TestReport& r) {
    JsonWriter json;
    json.BeginObject();
    json.Key("result");
    json.Int(r.result);
    json.Key("accepted");
    json.Bool(r.exitCode == kExitOk);
    json.Key("reason");
    if (r.reason.empty()) {
        json.Null();
    } else {
        json.StringUtf8(r.reason);
    }
    json.Key("user");
    json.BeginObject();
    json.Key("sid");
    json.StringOrNull(r.sid.empty() ? nullptr : r.sid.c_str());
    json.Key("canonicalName");
    json.StringOrNull(r.canonicalName.empty() ? nullptr : r.canonicalName.c_str());
    json.Key("distinguishedName");
    json.StringOrNull(r.distinguishedName.empty() ? nullptr : r.distinguishedName.c_str());
    json.Key("groups");
    json.BeginArray();
    for (const WString& group : r.groups) {
        json.String(group);
    }
    json.EndArray();
    json.EndObject();
    json.Key("policy");
    if (r.policyIndex) {
        json.BeginObject();
        json.Key("name");
        json.String(r.policyName);
        json.Key("index");
        json.Int(static_cast<int64_t>(*r.policyIndex));
        json.EndObject();
    } else {
        json.Null();
    }
    json.Key("rules");
    json.BeginArray();
    for (const RuleLine& rule : r.rules) {
        json.BeginObject();
        json.Key("type");
        json.Int(rule.type);
        json.Key("name");
        json.String(rule.name);
        json.Key("enabled");
        json.Bool(rule.enabled);
        json.Key("passed");
        if (rule.passed) {
            json.Bool(*rule.passed);
        } else {
            json.Null();
        }
        json.Key("description");
        json.String(rule.description);
        json.EndObject();
    }
    json.EndArray();
    json.Key("feedback");
    json.String(r.feedback);
    WriteLogJson(json, r.log);
    json.EndObject();
    return json.Text() + "\n";
}

std::string RenderText(const TestReport& r) {
    const auto orNone = [](const WString& text) { return text.empty() ? std::string("(none)") : U8(text); };
    std::string out = "User: " + U8(r.user) + " in " + U8(r.domain) + "\n";
    out += "  SID:                " + orNone(r.sid) + "\n";
    out += "  Canonical name:     " + orNone(r.canonicalName) + "\n";
    out += "  Distinguished name: " + orNone(r.distinguishedName) + "\n";
    out +=
        "  Groups walked:      " + (r.groups.empty() ? std::string("(none)") : U8(r.groups.front())) + "\n";
    for (size_t i = 1; i < r.groups.size(); ++i) {
        out += "                      " + U8(r.groups[i]) + "\n";
    }
    out += "Policy: " +
           (r.policyIndex ? U8(r.policyName) + " (policy " + std::to_string(*r.policyIndex + 1) + ")"
                          : std::string("(none)")) +
           "\n";
    for (const RuleLine& rule : r.rules) {
        if (rule.passed) {
            out += std::string(*rule.passed ? "  \xE2\x9C\x94 " : "  \xE2\x9C\x98 ") + U8(rule.description) +
                   "\n";
        }
    }
    out += r.exitCode == kExitOk   ? std::string("Verdict: accepted\n")
           : r.exitCode == kExitNo ? "Verdict: refused: " + r.reason + "\n"
                                   : "Verdict: no answer: " + r.reason + "\n";
    if (r.exitCode != kExitFailed) {
        return out + "Log: " + std::to_string(r.log.size()) + " records (--json shows them)\n";
    }
    // No answer: the errors and warnings say why.
    std::vector<LogRecord> problems;
    std::copy_if(r.log.begin(), r.log.end(), std::back_inserter(problems), [](const LogRecord& record) {
        return record.level == kLogError || record.level == kLogWarning;
    });
    out += "Log, errors and warnings (--json shows all of it):\n";
    AppendLogText(out, problems);
    return out;
}

}  // namespace

// Read into one buffer reserved up front, so that growing it leaves no copy behind, and handed over as a
// secret, which wipes it.
int32_t ReadPasswordInput(std::FILE* stream, platform::SecretBytes* input) {
    std::string buffer;
    buffer.reserve(kMaxPasswordInputBytes + 1);
    int lineEnds = 0;
    int c = 0;
    while (lineEnds < 2 && buffer.size() <= kMaxPasswordInputBytes && (c = std::fgetc(stream)) != EOF) {
        buffer.push_back(static_cast<char>(c));
        lineEnds += c == '\n' ? 1 : 0;
    }
    const int32_t result = std::ferror(stream) != 0                 ? winerr::kReadFault
                           : buffer.size() > kMaxPasswordInputBytes ? winerr::kInvalidData
                                                                    : 0;
    if (result == 0) {
        *input = platform::SecretBytes(buffer);
    }
    SecureZero(buffer.data(), buffer.size());
    return result;
}

CommandResult RunTestCommand(const std::vector<std::string>& args, const InputReader& input) {
    ParsedArgs parsed;
    std::string problem;
    DirectoryOptions options;
    if (!ParseArgs(args, 1, {{"--user", true}, {"--policy", true}, {"--language", true}, {"--json", false}},
                   &parsed, &problem) ||
        !ReadDirectoryOptions(parsed, &options, &problem)) {
        return UsageError(problem);
    }
    uint32_t language = platform::Languages().UserDefaultUiLanguage() & kPrimaryLanguageMask;
    if (!parsed.operands.empty() || parsed.Value("--user").empty() ||
        (parsed.Has("--language") && !ParseLanguage(parsed.Value("--language"), &language))) {
        return UsageError(!parsed.operands.empty() ? "unexpected '" + parsed.operands.front() + "'"
                          : parsed.Value("--user").empty()
                              ? "--user NAME is required"
                              : "--language takes a language identifier (9, 0x409)");
    }
    CommandResult command;
    Passwords passwords;
    {
        platform::SecretBytes secret;
        std::string_view rest;
        const int32_t read = input ? input(&secret) : 0;
        if (read != 0) {
            command.err = ErrorLine(read == winerr::kInvalidData
                                        ? "standard input holds more than " +
                                              std::to_string(kMaxPasswordInputBytes) + " bytes of passwords"
                                        : "cannot read the passwords from standard input");
            return command;
        }
        rest = secret.view();
        if (!TakeLine(&rest, &passwords.newPassword) || !TakeLine(&rest, &passwords.oldPassword)) {
            command.err = ErrorLine("the passwords on standard input are not UTF-8");
            return command;
        }
    }
    DirectoryAccess access;
    if (access.Open(options, &problem) != 0) {
        command.err = ErrorLine(problem);
        return command;
    }
    TestReport report;
    report.user = Wide(parsed.Value("--user"));
    report.domain = Wide(options.domain);
    std::optional<std::string> policyFile;
    if (parsed.Has("--policy")) {
        policyFile = parsed.Value("--policy");
    }
    Validate(access, policyFile, language, passwords, &report);
    command.exitCode = report.exitCode;
    command.out = parsed.Has("--json") ? RenderJson(report) : RenderText(report);
    if (report.exitCode == kExitFailed) {
        command.err = ErrorLine(report.reason);
    }
    return command;
}

}  // namespace korva::tools
