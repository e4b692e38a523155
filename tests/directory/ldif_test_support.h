// Loads an LDIF file next to the test executable as an offline directory and opens a session on it; values.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "directory/ldif_directory.h"
#include "directory/sid_text.h"
#include "platform/files.h"

namespace korva::testing {

inline void LoadDirectory(const char* name, std::unique_ptr<LdifDirectory>* directory,
                          std::unique_ptr<platform::LdapSession>* session) {
    std::vector<uint8_t> content;
    ASSERT_EQ(platform::ReadWholeFile(Utf8ToUtf16(name).c_str(), 1 << 24, &content), 0) << name;
    ldif::ParseError error;
    ASSERT_EQ(
        LdifDirectory::Load(std::string(content.begin(), content.end()), ldif::Limits{}, directory, &error),
        0)
        << error.ToString();
    ASSERT_EQ((*directory)->Open(platform::LdapSettings{}, session), 0);
}

inline platform::LdapValue Value(std::string_view text) {
    return platform::LdapValue(text.begin(), text.end());
}

// A SID's text as the bytes objectSid holds.
inline std::string SidValue(const char* text) {
    SidBytes sid;
    EXPECT_EQ(TextToSid(Utf8ToUtf16(text), &sid), 0) << text;
    return std::string(sid.begin(), sid.end());
}

}  // namespace korva::testing
