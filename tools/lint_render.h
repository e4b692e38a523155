// The linter's two outputs of one report: text for people, one JSON object for programs. Rule settings come
// from each rule's DescribeSettings, so both outputs show the same names and values.
#pragma once

#include <cstdint>
#include <string>

#include "tools/policy_lint.h"

namespace korva::tools {

// One JSON object: result, version, time, policies (rules with their settings, scopes), findings, log.
std::string RenderJson(const LintReport& report);

// The same for people; `mask` is the level mask the log records were kept by (shown in the log's heading).
std::string RenderText(const LintReport& report, uint32_t mask);

}  // namespace korva::tools
