// The directory commands against the shipped example domain (corp.ldif, copied next to the test).
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "tests/tools/tool_test_support.h"

namespace korva::tools {
namespace {

LintResult Tool(std::vector<std::string> args, const std::string& stdinText = "",
                const std::string& snapshot = "corp.ldif", const std::string& domain = "corp.example.com") {
    return RunTool(std::move(args), {"--snapshot", snapshot, "--domain", domain}, stdinText);
}

TEST(DirectoryCommandsTest, TestAnswersWhatTheLogonScreenWouldSay) {
    // User, standard input (new password, old password), exit code, policy ("" none), failed rules, reason (with
    // exit code 2: standard error). Lena's policy allows 128 characters: a '\r' kept would make 129.
    const std::string full(kMaxPasswordInputBytes, 'a');
    const std::tuple<const char*, std::string, int, const char*, const char*, std::string> cases[] = {
        {"alex.berg", "Zq7#mountain-Harbor\nOld-Pass-1\n", 0, "Administrators", "", ""},
        {"alex.berg", "Short-1a\r\n", 1, "Administrators", "2", "1 of 8 rules failed"},
        {"maria.lopez", "Summer2024-ab\nSummer2023-ab", 1, "Staff", "7,8", "2 of 5 rules failed"},
        {"lena.wolff", "Lena-Wolff-77", 0, "Domain default", "", ""},
        {"nobody", "Anything-at-all-9\n", 1, "", "",
         "user 'nobody' was not found in domain 'corp.example.com'"},
        {"alex.berg", "\xFF\xFE-not-text\n", 2, "", "",
         "korva-policy: the passwords on standard input are not UTF-8\n"},
        {"lena.wolff", std::string(127, 'x') + "7\r\nOld-Pass\r\n", 0, "Domain default", "", ""},
        {"lena.wolff", "Lena-Wolff-77\nOld-Pass\n" + full, 0, "Domain default", "",
         ""},  // reading stops there
        {"lena.wolff", full, 1, "Domain default", "3,5", "2 of 3 rules failed"},
        {"lena.wolff", full + "a", 2, "", "",
         "korva-policy: standard input holds more than 65536 bytes of passwords\n"},
    };
    for (const auto& [user, input, exitCode, policy, failedRules, reason] : cases) {
        SCOPED_TRACE(std::string(user) + " " + input.substr(0, 20));
        const LintResult json = Tool({"test", "--user", user, "--json", "--language", "9"}, input);
        const LintResult text = Tool({"test", "--user", user}, input);
        ASSERT_EQ(json.exitCode, exitCode) << json.err;
        EXPECT_EQ(text.exitCode, exitCode);
        const std::string outputs = json.out + json.err + text.out + text.err;
        for (const char* secret : {"Zq7#mountain", "Old-Pass", "Short-1a", "Summer202", "Lena-Wolff-77",
                                   "Anything-at", "not-text"}) {
            EXPECT_EQ(outputs.find(secret), std::string::npos) << secret << " in " << outputs;
        }
        if (exitCode == 2) {
            EXPECT_EQ(json.err, reason);
            continue;
        }
        const Json answer = Answer(json);
        EXPECT_EQ(answer.value("accepted", false), exitCode == 0);
        EXPECT_EQ(answer.value("reason", Json()), reason.empty() ? Json() : Json(reason));
        EXPECT_EQ(answer["policy"].is_null() ? "" : answer["policy"].value("name", "?"), policy);
        EXPECT_EQ(answer["user"]["sid"].is_string(), *policy != '\0');
        std::string failed;
        for (const Json& rule : answer["rules"]) {
            ASSERT_EQ(rule.size(), 5u) << rule;  // type, name, enabled, passed, description
            failed += rule["passed"] == false ? (failed.empty() ? "" : ",") + rule["type"].dump() : "";
            EXPECT_EQ(rule["passed"].is_null(), !rule["enabled"].get<bool>());
        }
        EXPECT_EQ(failed, failedRules);
        EXPECT_EQ(answer["feedback"].get<std::string>().rfind("Your new password did not satisfy", 0) == 0,
                  *policy != '\0');
        // The text form: a cross where a rule failed, and the verdict.
        EXPECT_NE(text.out.find(exitCode == 0 ? "Verdict: accepted" : "Verdict: refused: "),
                  std::string::npos);
        EXPECT_EQ(text.out.find("\xE2\x9C\x98") != std::string::npos, *failedRules != '\0') << text.out;
    }
    // Maria's groups: nested (Sales in All Staff) and the distribution list, but not her primary group.
    const Json maria = Answer(Tool({"test", "--user", "maria.lopez", "--json"}, "x"));
    EXPECT_EQ(maria["user"]["groups"].size(), 3u) << maria["user"];
    EXPECT_EQ(maria["user"]["canonicalName"], "corp.example.com/Staff/Sales/Maria L\xC3\xB3pez");
    // The description follows --language, with English where the rule has none in it.
    const Json german = Answer(Tool({"test", "--user", "alex.berg", "--json", "--language", "0x407"}, "x"));
    EXPECT_EQ(german["rules"][0]["description"], "Das Passwort muss mindestens 14 Zeichen lang sein.");
    EXPECT_EQ(german["rules"][4]["description"].get<std::string>().rfind("The password may not", 0), 0u);
}

TEST(DirectoryCommandsTest, PublishFetchAndExportKeepTheDocumentAndTheAnswers) {
    WriteFile("publish.ldif", ReadFile("corp.ldif"));
    WriteFile("bare.ldif", "version: 1\n\ndn: DC=x,DC=test\nobjectClass: domainDNS\n");
    const std::string document = ReadFile("policies.xml");
    EXPECT_EQ(Tool({"fetch"}).out, document);  // byte for byte, time suffix included
    EXPECT_EQ(Tool({"fetch"}, "", "bare.ldif", "x.test").exitCode, 1);
    // Published into a domain without the containers: created, stored with a fresh suffix, read back.
    const LintResult published = Tool({"publish", "policies.xml"}, "", "bare.ldif", "x.test");
    ASSERT_EQ(published.exitCode, 0) << published.err;
    EXPECT_NE(published.out.find("created CN=Valexor,CN=Quillmarsh,CN=Program Data,DC=x,DC=test"),
              std::string::npos);
    const std::string stored = Tool({"fetch"}, "", "bare.ldif", "x.test").out;
    const std::string body = document.substr(0, document.rfind('#', document.size() - 2));
    ASSERT_GT(stored.size(), body.size() + 2);
    EXPECT_EQ(stored.substr(0, body.size()), body);
    EXPECT_NE(stored.substr(body.size()), "#1764979200#");
    EXPECT_EQ(stored.find_first_not_of("0123456789", body.size() + 1), stored.size() - 1);
    // An existing object takes the new value; a document the linter does not pass only with --force.
    WriteFile("bad.xml", "<PolicyList/>");
    EXPECT_EQ(Tool({"publish", "policies.xml"}, "", "publish.ldif").exitCode, 0);
    EXPECT_EQ(Tool({"fetch"}, "", "publish.ldif").out.substr(0, body.size()), body);
    EXPECT_EQ(Tool({"publish", "bad.xml"}, "", "publish.ldif").exitCode, 1);
    EXPECT_EQ(Tool({"publish", "--force", "bad.xml"}, "", "publish.ldif").exitCode, 0);
    EXPECT_EQ(Tool({"fetch"}, "", "publish.ldif").out.rfind("<PolicyList/>#", 0), 0u);

    // Export holds what the engine reads: the same answers come from the exported file.
    ASSERT_EQ(Tool({"export", "-o", "exported.ldif"}).exitCode, 0);
    for (const char* user : {"alex.berg", "jonas.keller", "maria.lopez", "sam.novak", "chris.vance"}) {
        for (const char* input : {"Zq7#mountain-Harbor\n", "short\n"}) {
            SCOPED_TRACE(std::string(user) + " " + input);
            EXPECT_EQ(Answer(Tool({"test", "--user", user, "--json"}, input, "exported.ldif")),
                      Answer(Tool({"test", "--user", user, "--json"}, input)));
        }
    }
    EXPECT_EQ(Tool({"fetch"}, "", "exported.ldif").out, document);
}

}  // namespace
}  // namespace korva::tools
