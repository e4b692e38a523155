// korva-policy: command-line tools for password policy documents (lint, test, fetch, publish, export). The
// work is done by RunPolicyTool; this file only turns the command line into UTF-8 strings, hands standard
// input over when a command asks for it, and writes the results.
//
// Linux passes the arguments as bytes, taken as UTF-8. On Windows the program starts at wmain (linked with
// -municode), so file names outside the ANSI code page arrive intact.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/ldap.h"
#include "platform/text.h"
#include "tools/lint_command.h"

namespace {

void Write(std::FILE* stream, const std::string& text) {
    if (!text.empty()) {
        std::fwrite(text.data(), 1, text.size(), stream);
        std::fflush(stream);
    }
}

template <typename Char>
int RunWith(int argc, Char** argv) {
    try {
        std::vector<std::string> args;
        for (int i = 1; i < argc; ++i) {
            if constexpr (sizeof(Char) == 1) {
                args.emplace_back(argv[i]);
            } else {
                args.push_back(korva::Utf16ToUtf8(reinterpret_cast<const korva::WChar*>(argv[i])));
            }
        }
        const korva::tools::LintResult result =
            korva::tools::RunPolicyTool(args, [](korva::platform::SecretBytes* input) {
                return korva::tools::ReadPasswordInput(stdin, input);
            });
        Write(stdout, result.out);
        Write(stderr, result.err);
        return result.exitCode;
    } catch (...) {
        std::fputs("korva-policy: internal error\n", stderr);
        return korva::tools::kLintNotLoaded;
    }
}

}  // namespace

#if defined(_WIN32)
int wmain(int argc, wchar_t** argv) {
    return RunWith(argc, argv);
}
#else
int main(int argc, char** argv) {
    return RunWith(argc, argv);
}
#endif
