// The directory commands against the "samba" fixture's domain controller, as an administrator meets them.
#include <string>
#include <tuple>
#include <vector>

#include "platform/ldap.h"
#include "platform/unique_handle.h"
#include "tests/ldap/samba_support.h"
#include "tests/tools/tool_test_support.h"

namespace korva::tools {
namespace {

const std::string kPolicyDn =
    "CN=QmhPasswordPolicy,CN=Valexor,CN=Quillmarsh,CN=Program Data,DC=corp,DC=example,DC=test";

// The tool against the domain controller, bound as the administrator unless `directory` says otherwise.
LintResult Dc(std::vector<std::string> args, const std::string& stdinText = "",
              std::vector<std::string> directory = {},
              const std::string& passwordFile = testing::StatePath("admin-password")) {
    if (directory.empty()) {
        directory = {"--ldap",          "ldap://127.0.0.1", "--bind-user", "Administrator@corp.example.test",
                     "--password-file", passwordFile};
    }
    directory.insert(directory.end(), {"--domain", "corp.example.test"});
    return RunTool(std::move(args), directory, stdinText);
}

// The other directory tests read the fixture's document: it is put back exactly as it was.
void StoreDocument(const std::string& bytes) {
    std::unique_ptr<platform::LdapSession> session;
    ASSERT_EQ(platform::OpenLdapSession(testing::AdminSettings(), &session), 0);
    EXPECT_EQ(session->Modify(Utf8ToUtf16(kPolicyDn), {{platform::LdapModOp::Replace,
                                                        KW("msDS-ByteArray"),
                                                        {platform::LdapValue(bytes.begin(), bytes.end())}}}),
              0);
}

TEST(ToolAgainstSambaTest, FetchExportTestAndPublishAsAnAdministratorWould) {
    const LintResult fetched = Dc({"fetch"});
    ASSERT_EQ(fetched.exitCode, 0) << fetched.err;
    EXPECT_EQ(fetched.out, ReadFile(KORVA_FIXTURE_DATA_DIR "/policy-document.xml"));
    const ScopeExit restore([&] { StoreDocument(fetched.out); });

    // The export answers every test as the server does.
    ASSERT_EQ(Dc({"export", "-o", "samba-export.ldif"}).exitCode, 0);
    EXPECT_EQ(Dc({"test", "--user", "alice"}, "Correct-Horse-Battery-9\n").exitCode, 0);
    // Not erin ("CN=Erin/Ops"): Samba's canonicalName leaves her "/" unescaped, unlike AD and the snapshot.
    for (const char* user : {"alice", "bob", "carol", "dave", "nobody"}) {
        for (const char* input : {"Correct-Horse-Battery-9\n", "short\nshort\n"}) {
            SCOPED_TRACE(std::string(user) + " " + input);
            const LintResult live = Dc({"test", "--user", user, "--json"}, input);
            const LintResult offline =
                Dc({"test", "--user", user, "--json"}, input, {"--snapshot", "samba-export.ldif"});
            EXPECT_EQ(live.exitCode, offline.exitCode);
            EXPECT_EQ(Answer(live), Answer(offline));
        }
    }

    // Publish: stored with a fresh time suffix and read back; refused when too large or not linted clean.
    const std::string body = fetched.out.substr(0, fetched.out.rfind('#', fetched.out.size() - 2));
    WriteFile("samba-publish.xml", fetched.out);
    WriteFile("samba-large.xml", body + std::string(kMaxDocumentBytes - body.size() - 5, ' '));
    WriteFile("samba-bad.xml", "<PolicyList><Policy/>");
    const std::tuple<const char*, int, const char*> publishes[] = {
        {"samba-large.xml", 1, "with its time suffix the document has 1000007 bytes"},
        {"samba-bad.xml", 1, "the linter's result is 2"},
        {"samba-publish.xml", 0, ""}};
    for (const auto& [file, exitCode, err] : publishes) {
        const LintResult published = Dc({"publish", file});
        EXPECT_EQ(published.exitCode, exitCode) << published.err;
        EXPECT_NE(published.err.find(err), std::string::npos) << published.err;
    }
    const std::string stored = Dc({"fetch"}).out;
    EXPECT_EQ(stored.substr(0, body.size() + 1), body + "#");
    EXPECT_NE(stored, fetched.out);
}

TEST(ToolAgainstSambaTest, AWrongBindPasswordGivesOneClearMessage) {
    WriteFile("wrong-password", "Not-The-Password\n");
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"test", "--user", "alice"}, {"fetch"}, {"export"}}) {
        const LintResult refused = Dc(args, "x", {}, "wrong-password");
        EXPECT_EQ(refused.exitCode, 2) << args[0];
        EXPECT_EQ(refused.err,
                  "korva-policy: ldap://127.0.0.1 refused the bind: wrong bind name or password\n");
    }
}

}  // namespace
}  // namespace korva::tools
