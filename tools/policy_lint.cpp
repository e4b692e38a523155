#include "tools/policy_lint.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <new>
#include <optional>

#include "infra/error_texts.h"
#include "platform/files.h"
#include "platform/result_codes.h"
#include "policy/policy_list.h"
#include "policy/rule_blacklist.h"
#include "policy/rule_length.h"
#include "policy/rule_min_age.h"
#include "policy/rule_regex.h"
#include "policy/rule_similarity.h"
#include "policy/scope.h"
#include "policy/xml_dom.h"
#include "tools/json_writer.h"

namespace korva::tools {

namespace {

// ERROR_FILE_TOO_LARGE: the result reported for a file above kMaxDocumentBytes.
constexpr int32_t kFileTooLarge = 223;
constexpr const char* kProgram = "korva-policy";

std::string Utf8(WStringView text) {
    return Utf16ToUtf8(text);
}

// What the linter learnt about one document.
struct Report {
    WString source;
    int32_t result = 0;
    std::optional<WString> version;
    std::optional<WString> time;
    CPolicylist policies;
    size_t policyElements = 0;  // element children of the PolicyList element
    size_t otherNodes = 0;      // its comments, processing instructions and text
    std::vector<LogRecord> log;
};

// ---------------------------------------------------------------------------------------------------------------
// Rule settings, written once for both outputs.

class SettingSink {
  public:
    virtual ~SettingSink() = default;
    virtual void Int(const char* name, int64_t value) = 0;
    virtual void Bool(const char* name, bool value) = 0;
    virtual void Float(const char* name, float value) = 0;
    virtual void Text(const char* name, const WChar* value) = 0;  // null: none
    // An empty item is written as null: the engine keeps it as an item without text.
    virtual void TextList(const char* name, const std::vector<WString>& values) = 0;
};

void VisitSettings(const CRuleBase& rule, SettingSink& sink) {
    if (const auto* age = dynamic_cast<const CRuleHistoryMinimumAge*>(&rule)) {
        sink.Int("minimumAge", age->GetMinimumMinutes());
    } else if (const auto* minimum = dynamic_cast<const CRuleLengthMinimum*>(&rule)) {
        sink.Int("minimumLength", minimum->GetMinimum());
    } else if (const auto* maximum = dynamic_cast<const CRuleLengthMaximum*>(&rule)) {
        sink.Int("maximumLength", maximum->GetMaximum());
    } else if (const auto* regex = dynamic_cast<const CRuleRegex*>(&rule)) {
        sink.Int("kind", regex->GetKind());
        sink.Text("expression", regex->GetExpression());
        sink.Text("data", regex->GetData());
        sink.Bool("expressionValidatesPassword", regex->GetExpressionValidatesPassword());
    } else if (const auto* names = dynamic_cast<const CRuleNameSimilarity*>(&rule)) {
        sink.Bool("checkUsername", names->GetCheckUsername());
        sink.Bool("checkFullname", names->GetCheckFullname());
        sink.Float("usernameRatio", names->GetUsernameRatio());
        sink.Float("fullnameRatio", names->GetFullnameRatio());
    } else if (const auto* password = dynamic_cast<const CRulePasswordSimilarity*>(&rule)) {
        sink.Bool("checkPassword", password->GetCheckPassword());
        sink.Float("passwordRatio", password->GetPasswordRatio());
    } else if (const auto* blacklist = dynamic_cast<const CRuleBlackList*>(&rule)) {
        sink.Int("interpretation", blacklist->GetInterpretation());
        sink.TextList("items", blacklist->GetItems());
    }
}

class JsonSettingSink : public SettingSink {
  public:
    explicit JsonSettingSink(JsonWriter& json) : json_(json) {}
    void Int(const char* name, int64_t value) override {
        json_.Key(name);
        json_.Int(value);
    }
    void Bool(const char* name, bool value) override {
        json_.Key(name);
        json_.Bool(value);
    }
    void Float(const char* name, float value) override {
        json_.Key(name);
        json_.Float(value);
    }
    void Text(const char* name, const WChar* value) override {
        json_.Key(name);
        json_.StringOrNull(value);
    }
    void TextList(const char* name, const std::vector<WString>& values) override {
        json_.Key(name);
        json_.BeginArray();
        for (const WString& value : values) {
            json_.StringOrNull(value.empty() ? nullptr : value.c_str());
        }
        json_.EndArray();
    }

  private:
    JsonWriter& json_;
};

// "    name: value" lines; texts quoted (and escaped) as in JSON so that blanks and control characters show.
class TextSettingSink : public SettingSink {
  public:
    TextSettingSink(std::string& out, const char* indent) : out_(out), indent_(indent) {}
    void Int(const char* name, int64_t value) override { Line(name, std::to_string(value)); }
    void Bool(const char* name, bool value) override { Line(name, value ? "true" : "false"); }
    void Float(const char* name, float value) override {
        JsonWriter number;
        number.Float(value);
        Line(name, number.Text());
    }
    void Text(const char* name, const WChar* value) override {
        Line(name, value != nullptr ? JsonQuote(value) : "none");
    }
    void TextList(const char* name, const std::vector<WString>& values) override {
        Line(name, std::to_string(values.size()) + (values.size() == 1 ? " item" : " items"));
        for (const WString& value : values) {
            out_ += indent_;
            out_ += "  - ";
            out_ += value.empty() ? "(empty)" : JsonQuote(value);
            out_ += '\n';
        }
    }

  private:
    void Line(const char* name, const std::string& value) {
        out_ += indent_;
        out_ += name;
        out_ += ": ";
        out_ += value;
        out_ += '\n';
    }
    std::string& out_;
    const char* indent_;
};

const char* ScopeTypeName(int32_t type) {
    switch (type) {
        case ST_USERS:
            return "ST_USERS";
        case ST_GROUPS:
            return "ST_GROUPS";
        case ST_OU:
            return "ST_OU";
        case ST_DOMAIN:
            return "ST_DOMAIN";
        case ST_SINGLEOU:
            return "ST_SINGLEOU";
        case ST_NONE:
            return "ST_NONE";
        default:
            return "unknown type, matches nobody";
    }
}

// ---------------------------------------------------------------------------------------------------------------
// Rendering

std::string RenderJson(const Report& report) {
    JsonWriter json;
    json.BeginObject();
    json.Key("result");
    json.Int(report.result);
    json.Key("version");
    json.StringOrNull(report.version ? report.version->c_str() : nullptr);
    json.Key("time");
    json.StringOrNull(report.time ? report.time->c_str() : nullptr);

    json.Key("policies");
    json.BeginArray();
    for (const auto& policy : report.policies) {
        json.BeginObject();
        json.Key("name");
        json.StringOrNull(policy->GetName());
        json.Key("configuration");
        json.Int(policy->GetConfiguration());
        json.Key("enabled");
        json.Bool(policy->IsEnabled());
        json.Key("rules");
        json.BeginArray();
        for (const auto& rule : policy->GetRules()) {
            json.BeginObject();
            json.Key("type");
            json.Int(rule->GetType());
            json.Key("name");
            json.String(GetRuleName(rule.get()));
            json.Key("enabled");
            json.Bool(rule->IsEnabled());
            json.Key("descriptions");
            json.BeginObject();
            for (const auto& [language, text] : rule->GetDescriptions()) {
                json.Key(std::to_string(language));
                json.String(text);
            }
            json.EndObject();
            JsonSettingSink sink(json);
            VisitSettings(*rule, sink);
            json.EndObject();
        }
        json.EndArray();
        json.Key("scopes");
        json.BeginArray();
        for (const auto& scope : policy->GetScopes()) {
            json.BeginObject();
            json.Key("type");
            json.Int(scope->GetType());
            json.Key("sid");
            json.StringOrNull(scope->GetSID());
            json.Key("canonicalName");
            json.StringOrNull(scope->GetCanonicalName());
            json.Key("name");
            json.StringOrNull(scope->GetName());
            json.Key("groups");
            json.BeginArray();
            for (const WString& group : scope->GetGroups()) {
                json.String(group);
            }
            json.EndArray();
            json.EndObject();
        }
        json.EndArray();
        json.EndObject();
    }
    json.EndArray();

    json.Key("log");
    json.BeginArray();
    for (const LogRecord& record : report.log) {
        json.BeginObject();
        json.Key("level");
        json.String(LogLevelName(record.level));
        json.Key("code");
        json.Int(static_cast<int32_t>(record.code));
        json.Key("message");
        json.String(record.message);
        json.EndObject();
    }
    json.EndArray();
    json.EndObject();
    return json.Text();
}

// A log message on one line per line of its text; the continuation lines are indented under the first.
void AppendLogMessage(std::string& out, WStringView message) {
    const std::string text = Utf8(message);
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
            if (i + 1 < text.size()) {
                out += "\n      ";
            }
        } else {
            out += c;
        }
    }
    out += '\n';
}

std::string Count(size_t n, const char* singular, const char* plural) {
    return std::to_string(n) + " " + (n == 1 ? singular : plural);
}

std::string RenderText(const Report& report, uint32_t mask) {
    std::string out;
    out += "Document: " + Utf8(report.source) + "\n";
    out += "Result: " + std::to_string(report.result);
    if (report.result == 0) {
        out += ", " + std::to_string(report.policies.size()) + " of " +
               Count(report.policyElements, "policy element", "policy elements") + " loaded";
        if (report.otherNodes != 0) {
            out += " (" + Count(report.otherNodes, "other node", "other nodes") + " skipped)";
        }
    }
    out += "\n";
    out += "Version: " + (report.version ? Utf8(*report.version) : std::string("none")) + "\n";
    out += "Time: " + (report.time ? Utf8(*report.time) : std::string("none")) + "\n";

    size_t index = 0;
    for (const auto& policy : report.policies) {
        ++index;
        out += "\nPolicy " + std::to_string(index) + ": ";
        out += policy->GetName() != nullptr ? JsonQuote(policy->GetName()) : std::string("(no name)");
        out += ", configuration " + std::to_string(policy->GetConfiguration());
        out += policy->IsEnabled() ? ", enabled\n" : ", disabled\n";
        size_t ruleIndex = 0;
        for (const auto& rule : policy->GetRules()) {
            ++ruleIndex;
            out += "  Rule " + std::to_string(ruleIndex) + ": type " + std::to_string(rule->GetType()) + " " +
                   Utf8(GetRuleName(rule.get())) + (rule->IsEnabled() ? ", enabled\n" : ", disabled\n");
            TextSettingSink sink(out, "    ");
            VisitSettings(*rule, sink);
            for (const auto& [language, text] : rule->GetDescriptions()) {
                out += "    description " + std::to_string(language) + ": " + JsonQuote(text) + "\n";
            }
        }
        if (policy->GetRules().empty()) {
            out += "  No rules.\n";
        }
        size_t scopeIndex = 0;
        for (const auto& scope : policy->GetScopes()) {
            ++scopeIndex;
            out += "  Scope " + std::to_string(scopeIndex) + ": type " + std::to_string(scope->GetType()) +
                   " " + ScopeTypeName(scope->GetType()) + "\n";
            TextSettingSink sink(out, "    ");
            sink.Text("sid", scope->GetSID());
            sink.Text("canonicalName", scope->GetCanonicalName());
            sink.Text("name", scope->GetName());
            for (const WString& group : scope->GetGroups()) {
                out += "    group: " + JsonQuote(group) + "\n";
            }
        }
        if (policy->GetScopes().empty()) {
            out += "  No scopes: the policy applies to nobody.\n";
        }
    }

    char maskText[16];
    std::snprintf(maskText, sizeof(maskText), "0x%08X", static_cast<unsigned>(mask));
    out += "\nLog (" + Count(report.log.size(), "record", "records") + ", level mask " + maskText + "):\n";
    for (const LogRecord& record : report.log) {
        out += "  " + Utf8(LogLevelName(record.level));
        if (record.code != 0) {
            out += " (" + std::to_string(static_cast<int32_t>(record.code)) + ")";
        }
        out += ": ";
        AppendLogMessage(out, record.message);
    }
    return out;
}

// ---------------------------------------------------------------------------------------------------------------
// Analysis

// Facts the load path does not return: the time text, the version text and the policy-element count. They
// are read with the engine's own pieces (DecodePolicyDocument, the DOM, ReadAttribute) on a silent log.
struct DocumentFacts {
    std::optional<WString> time;
    std::optional<WString> version;
    int32_t parseStatus = kSFalse;
    WString parseError;
    size_t policyLists = 0;
    size_t policyElements = 0;
    size_t otherNodes = 0;
};

DocumentFacts InspectDocument(std::string_view bytes) {
    DocumentFacts facts;
    cGjLog silent;
    WString text;
    if (CPolicylist::DecodePolicyDocument(silent, bytes, &text) != 0) {
        return facts;
    }
    // The suffix is whatever the cut removed: "#", the time, and the final "#".
    WString whole = Utf8ToUtf16(bytes);
    whole.resize(std::min(whole.size(), whole.find(WChar(0))));
    if (text.size() + 2 <= whole.size()) {
        facts.time = whole.substr(text.size() + 1, whole.size() - text.size() - 2);
    }

    std::unique_ptr<xml::Document> document;
    facts.parseStatus = xml::Document::Parse(text, &document, &facts.parseError);
    if (facts.parseStatus != kSOk || document == nullptr) {
        return facts;
    }
    std::vector<xml::Node> lists;
    if (document->GetElementsByTagName(KW("PolicyList"), &lists) != kSOk) {
        return facts;
    }
    facts.policyLists = lists.size();
    if (lists.size() != 1) {
        return facts;
    }
    WString version;
    // The engine reads the version the same way and treats an empty one as none.
    if (ReadAttribute(silent, lists.front(), KW("version"), &version) == kSOk && !version.empty()) {
        facts.version = std::move(version);
    }
    std::vector<xml::Node> children;
    if (lists.front().GetChildNodes(&children) == kSOk) {
        for (const xml::Node& child : children) {
            ++(child.IsElement() ? facts.policyElements : facts.otherNodes);
        }
    }
    return facts;
}

// Where the bytes stop being valid UTF-8 (the conversion turns what follows into U+FFFD), or npos. Bytes
// that are valid UTF-8 survive the round trip through UTF-16 unchanged; the first difference is where the
// first invalid sequence starts.
size_t FirstInvalidUtf8Offset(std::string_view bytes) {
    const std::string back = Utf16ToUtf8(Utf8ToUtf16(bytes));
    const size_t common = std::min(back.size(), bytes.size());
    for (size_t i = 0; i < common; ++i) {
        if (back[i] != bytes[i]) {
            return i;
        }
    }
    return back.size() == bytes.size() ? std::string_view::npos : common;
}

std::string NotLoadedReason(const Report& report, const DocumentFacts& facts) {
    switch (report.result) {
        case winerr::kInvalidParameter:
            return "the document is empty (0 bytes)";
        case kResultNoPolicyDocument:
            return "the document has no text before its time suffix or first NUL byte";
        case kSFalse:
            return "not well-formed XML: " + Utf8(facts.parseError);
        case kEOutOfMemory:
            return "out of memory while parsing the document";
        case kResultEmpty:
            if (facts.policyLists != 1) {
                return "a policy document needs exactly one PolicyList element; this one has " +
                       std::to_string(facts.policyLists);
            }
            return "the PolicyList element has no children";
        default:
            return "the policy list could not be loaded (result " + std::to_string(report.result) + ")";
    }
}

LintResult Finish(const Report& report, const LintOptions& options) {
    LintResult lint;
    lint.out = options.json ? RenderJson(report) : RenderText(report, options.levelMask);
    return lint;
}

std::string Prefix(WStringView source) {
    return std::string(kProgram) + ": " + Utf8(source) + ": ";
}

}  // namespace

void RecordingLogHandler::Log(LogRecord record) {
    if (LevelPassesMask(record.level, mask_)) {
        records_.push_back(std::move(record));
    }
}

LintResult LintDocumentBytes(std::string_view bytes, WStringView source, const LintOptions& options) {
    Report report;
    report.source = WString(source);
    RecordingLogHandler handler(options.levelMask);
    cGjLog log;
    log.AddHandler(&handler);
    report.result = report.policies.LoadFromDocumentBytes(log, bytes, report.source.c_str());
    report.log = handler.Records();

    const DocumentFacts facts = InspectDocument(bytes);
    report.time = facts.time;
    if (report.result == 0) {
        report.version = facts.version;
        report.policyElements = facts.policyElements;
        report.otherNodes = facts.otherNodes;
    }

    LintResult lint = Finish(report, options);
    const std::string prefix = Prefix(source);
    const size_t invalid = FirstInvalidUtf8Offset(bytes);
    if (invalid != std::string_view::npos) {
        lint.err += prefix + "note: the bytes are not valid UTF-8 from offset " + std::to_string(invalid) +
                    "; each invalid sequence reads as U+FFFD\n";
    }
    const size_t nul = bytes.find('\0');
    if (nul != std::string_view::npos) {
        lint.err += prefix + "note: the text ends at the NUL byte at offset " + std::to_string(nul) +
                    "; the bytes after it are ignored\n";
    }

    if (report.result != 0) {
        lint.exitCode = kLintNotLoaded;
        lint.err += prefix + "not loaded: " + NotLoadedReason(report, facts) + "\n";
    } else if (report.policyElements == 0) {
        // Only comments or text inside PolicyList: the engine loads nothing, and no user would get a policy.
        lint.exitCode = kLintNotLoaded;
        lint.err += prefix + "not loaded: the PolicyList element holds no policy element\n";
    } else if (report.policies.size() < report.policyElements) {
        lint.exitCode = kLintPoliciesLeftOut;
        lint.err += prefix + std::to_string(report.policyElements - report.policies.size()) + " of " +
                    Count(report.policyElements, "policy element", "policy elements") +
                    " left out; the log says why\n";
    } else {
        lint.exitCode = kLintAllLoaded;
    }
    return lint;
}

namespace {

// The bytes of a file, refusing one above the limit before reading it whole. The read goes on to the end
// rather than trusting the size, so a file that grows meanwhile, or one that has no size (a pipe), is still
// held to the limit.
int32_t ReadDocumentFile(const WString& path, std::string* bytes) {
    bytes->clear();
    std::unique_ptr<platform::File> file;
    int32_t status = platform::Files().Open(path.c_str(), platform::kGenericRead,
                                            platform::kShareRead | platform::kShareWrite,
                                            platform::Disposition::OpenExisting, &file);
    if (status != winerr::kSuccess) {
        return status;
    }
    uint64_t size = 0;
    if (file->GetSize(&size) == winerr::kSuccess && size > kMaxDocumentBytes) {
        return kFileTooLarge;
    }
    char buffer[65536];
    for (;;) {
        uint32_t got = 0;
        status = file->Read(buffer, sizeof(buffer), &got);
        if (status != winerr::kSuccess) {
            return status;
        }
        if (got == 0) {
            break;
        }
        bytes->append(buffer, got);
        if (bytes->size() > kMaxDocumentBytes) {
            return kFileTooLarge;
        }
    }
    // A read handle that will not close is as suspect as a failed read.
    return file->Close();
}

}  // namespace

LintResult LintFile(WStringView path, const LintOptions& options) {
    const WString name(path);
    std::string bytes;
    const int32_t status = ReadDocumentFile(name, &bytes);
    if (status == winerr::kSuccess) {
        return LintDocumentBytes(bytes, name, options);
    }
    // The load path never ran: JSON readers still get their one object (with the file's error as the
    // result); the text form has nothing to show but the message.
    LintResult lint;
    if (options.json) {
        Report report;
        report.source = name;
        report.result = status;
        lint = Finish(report, options);
    }
    lint.exitCode = kLintNotLoaded;
    if (status == kFileTooLarge) {
        lint.err = Prefix(name) + "not loaded: the file is larger than " + std::to_string(kMaxDocumentBytes) +
                   " bytes, the most the directory attribute holds\n";
    } else {
        const WString text = SystemErrorText(static_cast<uint32_t>(status));
        lint.err = Prefix(name) + "cannot read the file: " + (text.empty() ? "error" : Utf8(text)) + " (" +
                   std::to_string(status) + ")\n";
    }
    return lint;
}

bool ParseLevelMask(std::string_view text, uint32_t* mask) {
    if (text.empty()) {
        return false;
    }
    const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    if (isDigit(text.front())) {
        uint64_t value = 0;
        const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
        for (size_t i = hex ? 2 : 0; i < text.size(); ++i) {
            const char c = text[i];
            int digit = -1;
            if (isDigit(c)) {
                digit = c - '0';
            } else if (hex && c >= 'a' && c <= 'f') {
                digit = c - 'a' + 10;
            } else if (hex && c >= 'A' && c <= 'F') {
                digit = c - 'A' + 10;
            }
            if (digit < 0) {
                return false;
            }
            value = value * (hex ? 16 : 10) + static_cast<uint64_t>(digit);
            if (value > 0xFFFFFFFFu) {
                return false;
            }
        }
        *mask = static_cast<uint32_t>(value);
        return true;
    }
    struct Named {
        const char* name;
        uint32_t bits;
    };
    static constexpr Named kNames[] = {{"error", 1},    {"information", 2}, {"debug", 4},
                                       {"warning", 16}, {"all", kLogAll},   {"none", 0}};
    uint32_t bits = 0;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find_first_of(",+", start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        const std::string_view word = text.substr(start, end - start);
        bool known = false;
        for (const Named& named : kNames) {
            const std::string_view candidate(named.name);
            if (candidate.size() == word.size() &&
                EqualsNoCaseAscii(AsciiToWide(candidate), AsciiToWide(word))) {
                bits |= named.bits;
                known = true;
            }
        }
        if (!known) {
            return false;
        }
        start = end + 1;
    }
    *mask = bits;
    return true;
}

namespace {

constexpr const char* kUsage =
    "Usage: korva-policy lint [--json] [--level MASK] FILE\n"
    "       korva-policy --help\n"
    "\n"
    "Checks a password policy document as it is stored in the directory: UTF-8 XML with the root\n"
    "PolicyList, optionally ending in a time suffix #<digits>#. The bytes go through the load path of the\n"
    "credential provider itself (UTF-8 conversion, time suffix, XML load), then the policies that loaded\n"
    "and the log of the load are printed.\n"
    "\n"
    "Options:\n"
    "  --json        print one JSON object: result, version, time, policies (rules with their settings,\n"
    "                scopes) and log\n"
    "  --level MASK  the log records to print, by the log's mask: 1 Error, 2 Information, 4 Debug,\n"
    "                16 Warning (Warning records also pass 2 and 4). A number (decimal or 0x...) or names\n"
    "                joined by ',' (for example Error,Warning). Default: All (0xFFFFFFFF)\n"
    "  --help        print this text\n"
    "\n"
    "Exit codes:\n"
    "  0   every policy element of the document loaded\n"
    "  1   the document loaded, but some policy elements were left out (the log says why)\n"
    "  2   the document could not be loaded: missing or unreadable file, more than 1000000 bytes, empty,\n"
    "      not well-formed XML, not exactly one PolicyList, or no policy element in it; the reason is\n"
    "      printed on standard error\n"
    "  64  the command line was not understood\n"
    "\n"
    "Comments and text between policy elements are not policies; they do not change the exit code.\n"
    "Bytes that are not valid UTF-8 read as U+FFFD, as the provider reads them (noted on standard error).\n";

LintResult Usage(const std::string& problem) {
    LintResult result;
    result.exitCode = kLintUsage;
    result.err = std::string(kProgram) + ": " + problem + "\n" + kUsage;
    return result;
}

LintResult Run(const std::vector<std::string>& args) {
    for (const std::string& arg : args) {
        if (arg == "--") {
            break;
        }
        if (arg == "--help" || arg == "-h" || arg == "help") {
            LintResult help;
            help.exitCode = 0;
            help.out = kUsage;
            return help;
        }
    }
    if (args.empty()) {
        return Usage("a command is required");
    }
    if (args.front() != "lint") {
        return Usage("unknown command '" + args.front() + "'");
    }
    LintOptions options;
    std::vector<std::string> files;
    bool optionsEnded = false;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
            files.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--json") {
            options.json = true;
        } else if (arg == "--level" || arg.rfind("--level=", 0) == 0) {
            std::string value;
            if (arg == "--level") {
                if (i + 1 >= args.size()) {
                    return Usage("--level needs a mask");
                }
                value = args[++i];
            } else {
                value = arg.substr(8);
            }
            if (!ParseLevelMask(value, &options.levelMask)) {
                return Usage("'" + value + "' is not a level mask");
            }
        } else {
            return Usage("unknown option '" + arg + "'");
        }
    }
    if (files.size() != 1) {
        return Usage(files.empty() ? "a FILE is required" : "only one FILE at a time");
    }
    return LintFile(Utf8ToUtf16(files.front()), options);
}

}  // namespace

LintResult RunPolicyTool(const std::vector<std::string>& args) {
    try {
        return Run(args);
    } catch (const std::bad_alloc&) {
        LintResult result;
        result.err = std::string(kProgram) + ": out of memory\n";
        return result;
    } catch (...) {
        LintResult result;
        result.err = std::string(kProgram) + ": internal error\n";
        return result;
    }
}

}  // namespace korva::tools
