// Helpers of the directory tests: LDIF files next to the test executable and an offline directory loaded from
// one, with a session open on it.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "directory/ldif_directory.h"
#include "platform/files.h"

namespace korva::testing {

inline std::string ReadTestFile(const char* name) {
    std::vector<uint8_t> content;
    return platform::ReadWholeFile(Utf8ToUtf16(name).c_str(), 1 << 24, &content) == 0
               ? std::string(content.begin(), content.end())
               : std::string();
}

// Loads `name` (asserting that it loads) and opens a session with `settings`.
inline void LoadDirectory(const char* name, std::unique_ptr<LdifDirectory>* directory,
                          std::unique_ptr<platform::LdapSession>* session,
                          const platform::LdapSettings& settings = platform::LdapSettings{}) {
    const std::string text = ReadTestFile(name);
    ASSERT_FALSE(text.empty()) << name << " is missing or empty";
    ldif::ParseError error;
    ASSERT_EQ(LdifDirectory::Load(text, ldif::Limits{}, directory, &error), 0) << error.ToString();
    ASSERT_EQ((*directory)->Open(settings, session), 0);
}

}  // namespace korva::testing
