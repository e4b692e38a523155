// The directory commands against the Samba domain controller of the "samba" test fixture (run inside its
// network namespace): the tool as an administrator meets it.
#include <algorithm>
#include <string>
#include <vector>

#include "platform/ldap.h"
#include "platform/unique_handle.h"
#include "tests/tools/tool_test_support.h"

namespace korva::tools {
namespace {

const std::string kState = KORVA_SAMBA_STATE_DIR;
const std::string kPolicyDn =
    "CN=QmhPasswordPolicy,CN=Valexor,CN=Quillmarsh,CN=Program Data,DC=corp,DC=example,DC=test";

LintResult Dc(std::vector<std::string> args, const std::vector<std::string>& directory,
              const std::string& stdinText = "") {
    std::vector<std::string> options = directory;
    options.insert(options.end(), {"--domain", "corp.example.test"});
    return RunTool(std::move(args), options, stdinText);
}

std::vector<std::string> Server(const std::string& passwordFile = kState + "/admin-password",
                                const std::string& uri = "ldap://127.0.0.1") {
    return {"--ldap", uri, "--bind-user", "Administrator@corp.example.test", "--password-file", passwordFile};
}

// The other directory tests read the fixture's document: it is put back exactly as it was.
void StoreDocument(const std::string& bytes) {
    platform::LdapSettings settings;
    settings.uri = KW("ldap://127.0.0.1");
    settings.bindName = KW("Administrator@corp.example.test");
    settings.password = platform::SecretBytes(ReadFile(kState + "/admin-password"));
    std::unique_ptr<platform::LdapSession> session;
    ASSERT_EQ(platform::OpenLdapSession(settings, &session), 0);
    EXPECT_EQ(session->Modify(Utf8ToUtf16(kPolicyDn), {{platform::LdapModOp::Replace,
                                                        KW("msDS-ByteArray"),
                                                        {platform::LdapValue(bytes.begin(), bytes.end())}}}),
              0);
}

TEST(ToolAgainstSambaTest, FetchExportTestAndPublishAsAnAdministratorWould) {
    const LintResult fetched = Dc({"fetch"}, Server());
    ASSERT_EQ(fetched.exitCode, 0) << fetched.err;
    EXPECT_EQ(fetched.out, ReadFile(KORVA_FIXTURE_DATA_DIR "/policy-document.xml"));
    const ScopeExit restore([&] { StoreDocument(fetched.out); });

    // The export answers every test as the server does.
    const LintResult exported = Dc({"export", "-o", "samba-export.ldif"}, Server());
    ASSERT_EQ(exported.exitCode, 0) << exported.err;
    EXPECT_EQ(Dc({"test", "--user", "alice"}, Server(), "Correct-Horse-Battery-9\n").exitCode, 0);
    // Not erin ("CN=Erin/Ops"): Samba's canonicalName leaves her "/" unescaped, unlike AD and the snapshot.
    for (const char* user : {"alice", "bob", "carol", "dave", "nobody"}) {
        for (const char* input : {"Correct-Horse-Battery-9\n", "short\nshort\n"}) {
            SCOPED_TRACE(std::string(user) + " " + input);
            const LintResult live = Dc({"test", "--user", user, "--json"}, Server(), input);
            const LintResult offline =
                Dc({"test", "--user", user, "--json"}, {"--snapshot", "samba-export.ldif"}, input);
            EXPECT_EQ(live.exitCode, offline.exitCode);
            EXPECT_EQ(Answer(live), Answer(offline));
        }
    }

    // Publish: stored with a fresh time suffix and read back; refused when too large or not linted clean.
    const std::string body = fetched.out.substr(0, fetched.out.rfind('#', fetched.out.size() - 2));
    WriteFile("samba-publish.xml", fetched.out);
    WriteFile("samba-large.xml", body + std::string(kMaxDocumentBytes - body.size() - 5, ' '));
    WriteFile("samba-bad.xml", "<PolicyList><Policy/>");
    const struct {
        const char* file;
        int exitCode;
        const char* err;
    } publishes[] = {{"samba-large.xml", 1, "with its time suffix the document has 1000007 bytes"},
                     {"samba-bad.xml", 1, "the linter's result is 2"},
                     {"samba-publish.xml", 0, ""}};
    for (const auto& p : publishes) {
        const LintResult published = Dc({"publish", p.file}, Server());
        EXPECT_EQ(published.exitCode, p.exitCode) << published.err;
        EXPECT_NE(published.err.find(p.err), std::string::npos) << published.err;
    }
    const std::string stored = Dc({"fetch"}, Server()).out;
    EXPECT_EQ(stored.substr(0, body.size() + 1), body + "#");
    EXPECT_NE(stored, fetched.out);
    EXPECT_EQ(stored.find_first_not_of("0123456789", body.size() + 1), stored.size() - 1);
}

TEST(ToolAgainstSambaTest, AnUnreachableServerOrAWrongBindPasswordGivesOneClearMessage) {
    WriteFile("wrong-password", "Not-The-Password\n");
    const struct {
        std::vector<std::string> directory;
        const char* message;
    } cases[] = {
        {Server(kState + "/admin-password", "ldap://127.0.0.1:1"), "cannot connect to ldap://127.0.0.1:1"},
        {Server("wrong-password"), "refused the bind: wrong bind name or password"},
    };
    for (const auto& c : cases) {
        for (const std::vector<std::string>& args :
             {std::vector<std::string>{"test", "--user", "alice"}, {"fetch"}, {"export"}}) {
            const LintResult result = Dc(args, c.directory, "x");
            EXPECT_EQ(result.exitCode, 2) << args[0];
            EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
            EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
        }
    }
}

}  // namespace
}  // namespace korva::tools
