#include "tools/lint_render.h"

#include <cstdio>
#include <string>
#include <type_traits>
#include <variant>

#include "policy/scope.h"
#include "tools/json_writer.h"

namespace korva::tools {

namespace {

std::string Utf8(WStringView text) {
    return Utf16ToUtf8(text);
}

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
    for (const RuleSetting& setting : rule.DescribeSettings()) {
        std::visit(
            [&](const auto& value) {
                using T = std::decay_t<decltype(value)>;
                if constexpr (std::is_same_v<T, int64_t>) {
                    sink.Int(setting.name, value);
                } else if constexpr (std::is_same_v<T, bool>) {
                    sink.Bool(setting.name, value);
                } else if constexpr (std::is_same_v<T, float>) {
                    sink.Float(setting.name, value);
                } else if constexpr (std::is_same_v<T, const WChar*>) {
                    sink.Text(setting.name, value);
                } else {
                    sink.TextList(setting.name, *value);
                }
            },
            setting.value);
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

}  // namespace

std::string RenderJson(const LintReport& report) {
    JsonWriter json;
    json.BeginObject();
    json.Key("result");
    json.Int(report.result);
    json.Key("version");
    json.StringOrNull(report.load.version ? report.load.version->c_str() : nullptr);
    json.Key("time");
    json.StringOrNull(report.load.time ? report.load.time->c_str() : nullptr);

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

    json.Key("findings");
    json.BeginArray();
    for (const ValueFinding& finding : report.load.findings) {
        json.BeginObject();
        json.Key("path");
        json.String(finding.path);
        json.Key("text");
        json.String(finding.text);
        json.Key("used");
        json.String(finding.used);
        json.EndObject();
    }
    json.EndArray();

    WriteLogJson(json, report.log);
    json.EndObject();
    return json.Text();
}

std::string RenderText(const LintReport& report, uint32_t mask) {
    std::string out;
    out += "Document: " + Utf8(report.source) + "\n";
    out += "Result: " + std::to_string(report.result);
    if (report.result == 0) {
        out += ", " + std::to_string(report.policies.size()) + " of " +
               Count(report.load.policyElements, "policy element", "policy elements") + " loaded";
        if (report.load.otherNodes != 0) {
            out += " (" + Count(report.load.otherNodes, "other node", "other nodes") + " skipped)";
        }
    }
    out += "\n";
    out += "Version: " + (report.load.version ? Utf8(*report.load.version) : std::string("none")) + "\n";
    out += "Time: " + (report.load.time ? Utf8(*report.load.time) : std::string("none")) + "\n";

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

    if (!report.load.findings.empty()) {
        out += "\nFindings (" + std::to_string(report.load.findings.size()) + "):\n";
        for (const ValueFinding& finding : report.load.findings) {
            out += "  " + Utf8(finding.path) + ": " + JsonQuote(finding.text) +
                   " is not a number; the logon screen uses " + Utf8(finding.used) + "\n";
        }
    }

    char maskText[16];
    std::snprintf(maskText, sizeof(maskText), "0x%08X", static_cast<unsigned>(mask));
    out += "\nLog (" + Count(report.log.size(), "record", "records") + ", level mask " + maskText + "):\n";
    AppendLogText(out, report.log);
    return out;
}

void WriteLogJson(JsonWriter& json, const std::vector<LogRecord>& log) {
    json.Key("log");
    json.BeginArray();
    for (const LogRecord& record : log) {
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
}

void AppendLogText(std::string& out, const std::vector<LogRecord>& log) {
    for (const LogRecord& record : log) {
        out += "  " + Utf8(LogLevelName(record.level));
        if (record.code != 0) {
            out += " (" + std::to_string(static_cast<int32_t>(record.code)) + ")";
        }
        out += ": ";
        AppendLogMessage(out, record.message);
    }
}

}  // namespace korva::tools
