// What the tests of the directory commands share: files, the command with its standard input, its answer.
#pragma once

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/files.h"
#include "tools/lint_command.h"

namespace korva::tools {

using Json = nlohmann::json;

inline std::string ReadFile(const std::string& path) {
    std::vector<uint8_t> bytes;
    EXPECT_EQ(platform::ReadWholeFile(Utf8ToUtf16(path).c_str(), 1 << 24, &bytes), 0) << path;
    return std::string(bytes.begin(), bytes.end());
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
    ASSERT_EQ(platform::WriteWholeFile(Utf8ToUtf16(path).c_str(), bytes.data(), bytes.size()), 0) << path;
}

// The tool with `directory` (options) inserted after the command name, reading `stdinText` from a file as its
// standard input.
inline LintResult RunTool(std::vector<std::string> args, const std::vector<std::string>& directory,
                          const std::string& stdinText) {
    args.insert(args.begin() + 1, directory.begin(), directory.end());
    WriteFile("stdin.txt", stdinText);
    std::FILE* stdinFile = std::fopen("stdin.txt", "rb");
    EXPECT_NE(stdinFile, nullptr);
    const LintResult result = RunPolicyTool(
        args, [&](platform::SecretBytes* input) { return ReadPasswordInput(stdinFile, input); });
    std::fclose(stdinFile);
    return result;
}

// The answer of `test --json` without its log (whose look-up lines differ between directories).
inline Json Answer(const LintResult& result) {
    Json answer = Json::parse(result.out, nullptr, false);
    EXPECT_TRUE(answer.is_object()) << result.out << result.err;
    if (answer.is_object()) {
        answer.erase("log");
    }
    return answer;
}

}  // namespace korva::tools
