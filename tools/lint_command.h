// korva-policy's command line: "lint [--json] [--strict] [--level MASK] FILE", the directory commands
// (tools/directory_commands.h) and "--help".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tools/directory_access.h"
#include "tools/policy_lint.h"

namespace korva::tools {

// The whole command line after the program name, as UTF-8; `input` reads standard input (only `test` does).
// Never throws.
LintResult RunPolicyTool(const std::vector<std::string>& args, const InputReader& input = {});

// A level mask: a number (decimal or 0x hexadecimal) or level names joined by "," or "+" (Error,
// Information, Debug, Warning, All, None; case ignored; Warning stands for 16, the bit that selects warnings
// alone). False when the text is neither.
bool ParseLevelMask(std::string_view text, uint32_t* mask);

}  // namespace korva::tools
