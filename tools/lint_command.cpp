#include "tools/lint_command.h"

#include <functional>
#include <new>

#include "tools/directory_commands.h"
#include "tools/policy_lint.h"

namespace korva::tools {

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
    "Usage: korva-policy lint [--json] [--strict] [--level MASK] FILE\n"
    "       korva-policy test DIRECTORY --user NAME [--policy FILE] [--language LANGID] [--json]\n"
    "       korva-policy fetch DIRECTORY [-o FILE]\n"
    "       korva-policy publish DIRECTORY [--force] FILE\n"
    "       korva-policy export DIRECTORY [-o FILE]\n"
    "       korva-policy --help\n"
    "\n"
    "lint: checks a password policy document as it is stored in the directory: UTF-8 XML with the root\n"
    "PolicyList, optionally ending in a time suffix #<digits>#. The bytes go through the load path of the\n"
    "credential provider itself (UTF-8 conversion, time suffix, XML load), then the policies that loaded\n"
    "and the log of the load are printed.\n"
    "\n"
    "Options of lint:\n"
    "  --json        print one JSON object: result, version, time, policies (rules with their settings,\n"
    "                scopes), findings and log\n"
    "  --strict      treat findings as failures: exit 1 when there is any\n"
    "  --level MASK  the log records to print, by the log's mask: 1 Error, 2 Information, 4 Debug,\n"
    "                16 Warning (Warning records also pass 2 and 4). A number (decimal or 0x...) or names\n"
    "                joined by ',' (for example Error,Warning). Default: All (0xFFFFFFFF)\n"
    "  --help        print this text\n"
    "\n"
    "Exit codes:\n"
    "  0   every policy element of the document loaded\n"
    "  1   the document loaded, but some policy elements were left out (the log says why), or with\n"
    "      --strict, there are findings\n"
    "  2   the document could not be loaded: missing or unreadable file, more than 1000000 bytes, empty,\n"
    "      not well-formed XML, not exactly one PolicyList, or no policy element in it; the reason is\n"
    "      printed on standard error\n"
    "  64  the command line was not understood\n"
    "\n"
    "Findings: the provider reads numbers literally. A numeric element or attribute whose text is not a\n"
    "plain number (\" 8\", \"+8\", \"eight\", \".5\") is not an error for it: it silently uses a default or "
    "an\n"
    "earlier value instead. Each such value is listed as a finding with its path, its text and what the\n"
    "logon screen uses.\n"
    "\n"
    "Comments and text between policy elements are not policies; they do not change the exit code.\n"
    "Bytes that are not valid UTF-8 read as U+FFFD, as the provider reads them (noted on standard error).\n";

std::string FullUsage() {
    return std::string(kUsage) + "\n" + kDirectoryCommandsHelp + "\n" + kDirectoryOptionsHelp;
}

// A usage error shows the problem and the synopsis only; the whole help would bury the one line that matters.
std::string ShortUsage() {
    const std::string usage(kUsage);
    return usage.substr(0, usage.find("\n\n") + 1) + "Run '" + kProgramName +
           " --help' for the options and exit codes.\n";
}

LintResult Usage(const std::string& problem) {
    LintResult result;
    result.exitCode = kLintUsage;
    result.err = std::string(kProgramName) + ": " + problem + "\n" + ShortUsage();
    return result;
}

LintResult Run(const std::vector<std::string>& args, const InputReader& input) {
    for (const std::string& arg : args) {
        if (arg == "--") {
            break;
        }
        if (arg == "--help" || arg == "-h" || arg == "help") {
            LintResult help;
            help.exitCode = 0;
            help.out = FullUsage();
            return help;
        }
    }
    if (args.empty()) {
        return Usage("a command is required");
    }
    const struct {
        const char* name;
        std::function<LintResult()> run;
    } commands[] = {
        {"test", [&] { return RunTestCommand(args, input); }},
        {"fetch", [&] { return RunFetchCommand(args); }},
        {"publish", [&] { return RunPublishCommand(args); }},
        {"export", [&] { return RunExportCommand(args); }},
    };
    for (const auto& command : commands) {
        if (args.front() == command.name) {
            LintResult result = command.run();
            if (result.exitCode == kLintUsage) {
                result.err += ShortUsage();
            }
            return result;
        }
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
        } else if (arg == "--strict") {
            options.strict = true;
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

LintResult RunPolicyTool(const std::vector<std::string>& args, const InputReader& input) {
    try {
        return Run(args, input);
    } catch (const std::bad_alloc&) {
        LintResult result;
        result.err = std::string(kProgramName) + ": out of memory\n";
        return result;
    } catch (...) {
        LintResult result;
        result.err = std::string(kProgramName) + ": internal error\n";
        return result;
    }
}

}  // namespace korva::tools
