// The directory commands of korva-policy. Each takes the whole command line after the program name (the
// command's name first), never throws and computes everything into a CommandResult, so it can be tested
// without a process.
//
//   test     what the logon screen would say to a user changing to a password (passwords from standard
//            input): 0 accepted, 1 refused, 2 could not answer, 64 usage
//   fetch    the stored policy document, byte for byte: 0, 1 the domain has none, 2 error, 64 usage
//   publish  lint, then store a document with a fresh time suffix and read it back: 0 stored, 1 refused
//            (lint result not 0, or too large), 2 error, 64 usage
//   export   an LDIF snapshot of what the policy engine reads: 0, 2 error, 64 usage
#pragma once

#include <string>
#include <vector>

#include "tools/directory_access.h"

namespace korva::tools {

CommandResult RunTestCommand(const std::vector<std::string>& args, const InputReader& input);
CommandResult RunFetchCommand(const std::vector<std::string>& args);
CommandResult RunPublishCommand(const std::vector<std::string>& args);
CommandResult RunExportCommand(const std::vector<std::string>& args);

// The usage lines and exit codes of the four commands.
extern const char* const kDirectoryCommandsHelp;

// A usage error: exit 64 and the problem (the caller adds the usage text).
CommandResult UsageError(const std::string& problem);

}  // namespace korva::tools
