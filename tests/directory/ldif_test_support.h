// An offline directory loaded from a file next to the test, values, and a connector with faults.
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

// A connector over another with faults: opening fails, every search does, or one session was dropped.
struct FaultyConnector final : platform::LdapConnector {
    struct Session final : platform::LdapSession {
        Session(FaultyConnector& o, std::unique_ptr<platform::LdapSession> s)
            : owner(o), inner(std::move(s)) {}
        int32_t Search(WStringView base, platform::LdapScope scope, WStringView filter,
                       const std::vector<WString>& attributes,
                       std::vector<platform::LdapEntry>* out) override {
            out->clear();
            const int32_t failure = dropped ? kLdapServerDown : owner.searchFailure;
            return failure != 0 ? failure : inner->Search(base, scope, filter, attributes, out);
        }
        // The backend only reads.
        int32_t Add(WStringView, const std::vector<platform::LdapAttribute>&) override { return kLdapOther; }
        int32_t Modify(WStringView, const std::vector<platform::LdapModification>&) override {
            return kLdapOther;
        }
        void SetDeadline(platform::LdapDeadline deadline) override { inner->SetDeadline(deadline); }
        WString LastServerMessage() const override { return inner->LastServerMessage(); }
        FaultyConnector& owner;
        std::unique_ptr<platform::LdapSession> inner;
        bool dropped = false;
    };
    int32_t Open(const platform::LdapSettings& settings,
                 std::unique_ptr<platform::LdapSession>* out) override {
        opened = settings.Copy();
        std::unique_ptr<platform::LdapSession> session;
        const int32_t result = openFailure != 0 ? openFailure : inner->Open(settings, &session);
        last = result == 0 ? new Session(*this, std::move(session)) : nullptr;
        out->reset(last);
        ++opens;
        return result;
    }
    platform::LdapConnector* inner = nullptr;
    platform::LdapSettings opened;  // the settings of the last session asked for
    Session* last = nullptr;
    int opens = 0;
    int32_t openFailure = 0;
    int32_t searchFailure = 0;
};

}  // namespace korva::testing
