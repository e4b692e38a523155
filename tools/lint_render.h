// The linter's two outputs of one report: text for people, one JSON object for programs. Rule settings come
// from each rule's DescribeSettings, so both outputs show the same names and values.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/policy_lint.h"

namespace korva::tools {

class JsonWriter;

// One JSON object: result, version, time, policies (rules with their settings, scopes), findings, log.
std::string RenderJson(const LintReport& report);

// The same for people; `mask` is the level mask the log records were kept by (shown in the log's heading).
std::string RenderText(const LintReport& report, uint32_t mask);

// The member "log": an array of {level, code, message}; shared by every command that prints a log.
void WriteLogJson(JsonWriter& json, const std::vector<LogRecord>& log);
// The same for people: one line per record, "  Level (code): message", continuation lines indented.
void AppendLogText(std::string& out, const std::vector<LogRecord>& log);

}  // namespace korva::tools
