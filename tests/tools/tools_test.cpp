#include "tools/policy_lint.h"

#include <algorithm>
#include <limits>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <tuple>

#include "tests/tools/tool_test_support.h"
#include "tools/json_writer.h"
#include "tools/lint_render.h"

namespace korva::tools {
namespace {

const std::string kGoodPolicy =
    "<Policy name=\"p\"><Rule type=\"2\"><Enabled>1</Enabled><MinimumLength>8</MinimumLength></Rule>"
    "<Scope type=\"3\"><SID>a.b</SID></Scope></Policy>";

std::string Doc(const std::string& children, const std::string& attributes = "") {
    return "<PolicyList" + attributes + ">" + children + "</PolicyList>";
}

std::string Nested(int depth) {
    return depth == 0 ? "x" : "<n>" + Nested(depth - 1) + "</n>";
}

LintResult Lint(std::string_view bytes, bool json = true, uint32_t mask = kLogAll) {
    return LintDocumentBytes(bytes, KW("test.xml"), LintOptions{json, mask});
}

// JSON output, which must be valid; a discarded value when it is not.
Json Parse(const std::string& text) {
    EXPECT_TRUE(Json::accept(text)) << text.substr(0, 2000);
    return Json::parse(text, nullptr, false);
}

// The value at `path` ("policies/0/rules/1/type"): a string's text, other values as JSON; "" when absent.
std::string At(const Json& root, const std::string& path) {
    const Json::json_pointer pointer("/" + path);
    if (!root.is_object() || !root.contains(pointer)) {
        return "";
    }
    const Json& value = root.at(pointer);
    return value.is_string() ? value.get<std::string>() : value.dump();
}

// Strings escape what JSON reserves and stay UTF-8; floats are shortest, and JSON has no NaN or infinity.
TEST(JsonWriterTest, StringsAndFloats) {
    const std::pair<WString, std::string> cases[] = {
        {KW("a\"b\\c/\x7F"), "\"a\\\"b\\\\c/\x7F\""},  // DEL and the slash need no escape
        {KW("a\r\n\tb"), "\"a\\u000D\\u000A\\u0009b\""},
        {WString(KW("x")) + WChar(0) + WChar(0x1F), "\"x\\u0000\\u001F\""},
        {WString{WChar(0x80), WChar(0x5BC6)}, "\"\xC2\x80\xE5\xAF\x86\""},  // the smallest two-byte form
        {WString{WChar(0xD83D), WChar(0xDE42)}, "\"\xF0\x9F\x99\x82\""},
        // Half a pair has no UTF-8 form: it stays visible as an escape and the output stays valid JSON.
        {WString{WChar('a'), WChar(0xD800), WChar('b')}, "\"a\\uD800b\""},
        {WString{WChar(0xD800), WChar(0xD83D), WChar(0xDE00)}, "\"\\uD800\xF0\x9F\x98\x80\""},
    };
    for (const auto& [input, expected] : cases) {
        EXPECT_EQ(JsonQuote(input), expected);
    }
    using Limits = std::numeric_limits<float>;
    for (const auto& [value, text] : {std::pair<float, std::string>{0.8f, "0.8"},
                                      {Limits::quiet_NaN(), "null"},
                                      {-Limits::infinity(), "null"}}) {
        JsonWriter json;
        json.Float(value);
        EXPECT_EQ(json.Text(), text);
    }
}

TEST(PolicyLintTest, ExitCodeMessageAndPoliciesFollowTheLoad) {
    // Document, exit code, what standard error says ("" for nothing), policies loaded.
    const std::tuple<std::string, int, std::string, size_t> cases[] = {
        {Doc("<!-- c --><?pi x?>stray" + kGoodPolicy), 0, "", 1},
        {Doc("<Policy name=\"d\"><Extra>" + Nested(200) + "</Extra>" + kGoodPolicy.substr(17)), 0, "", 1},
        {Doc(kGoodPolicy) + std::string("\0<x", 3), 0, "ends at the NUL byte at offset 163;", 1},
        // Invalid UTF-8 does not stop the load; the linter points at the first invalid sequence.
        {Doc("<!--a\xFF\xC0\xAF-->" + kGoodPolicy), 0, "not valid UTF-8 from offset 17;", 1},
        {Doc("<!--\xE5\xAF\x86-->" + kGoodPolicy), 0, "", 1},
        {Doc(kGoodPolicy + "<Policy><Rule type=\"2\"><Enabled>1</Enabled></Rule></Policy>"), 1,
         "1 of 2 policy elements left out", 1},
        {"hello", 2, "not well-formed XML", 0},
        {Doc("<Policy name=\"d\">" + Nested(300) + "</Policy>"), 2, "nested deeper than 256", 0},
        {"<Policies>" + kGoodPolicy + "</Policies>", 2, "exactly one PolicyList element; this one has 0", 0},
        {Doc(Doc(kGoodPolicy)), 2, "this one has 2", 0},
        {"<PolicyList>\n</PolicyList>", 2, "the PolicyList element has no children", 0},
        {Doc("<!-- nothing yet -->"), 2, "holds no policy element", 0},
    };
    for (const auto& [bytes, exitCode, err, loaded] : cases) {
        SCOPED_TRACE(bytes.substr(0, 80));
        const LintResult json = Lint(bytes);
        EXPECT_EQ(json.exitCode, exitCode) << json.err;
        EXPECT_NE(json.err.find(err), std::string::npos) << json.err;
        EXPECT_EQ(json.err.rfind("korva-policy: test.xml: ", 0) == 0, !err.empty()) << json.err;
        const Json root = Parse(json.out);
        EXPECT_EQ(root.value("policies", Json::array()).size(), loaded);
        // "result" is the load path's own: 0 whenever the document itself loaded.
        EXPECT_EQ(At(root, "result") == "0", exitCode != 2 || err == "holds no policy element");
        EXPECT_NE(At(root, "log/0/message"), "");  // the engine logs every outcome

        const LintResult text = Lint(bytes, false);
        EXPECT_EQ(text.exitCode, exitCode);
        EXPECT_EQ(text.err, json.err);
        EXPECT_EQ(text.out.rfind("Document: test.xml\nResult: ", 0), 0u) << text.out;
    }
    const std::string text = Lint(Doc("<!-- c -->" + kGoodPolicy), false).out;
    EXPECT_NE(text.find("Result: 0, 1 of 1 policy element loaded (1 other node skipped)\n"),
              std::string::npos);
}

TEST(PolicyLintTest, LogTextBreaksOnceAtEachLineEnd) {
    std::string crlf, lf;
    AppendLogText(crlf, {LogRecord{0, KW("a\r\nb\r\n"), kLogError, 5}});
    AppendLogText(lf, {LogRecord{0, KW("a\nb\n"), kLogError, 5}});
    EXPECT_EQ(crlf, lf);
    EXPECT_EQ(lf.substr(lf.find('a')), "a\n      b\n");
}

// The engine's reading of the time suffix and of the version that decides the minimum age's unit.
TEST(PolicyLintTest, TimeSuffixAndVersionAsTheEngineReadsThem) {
    // suffix, version attribute, minimum age; then the JSON time, version and minimum age in minutes
    const char* const cases[][4] = {
        {"", "", "2", "null null 2880"},  // no version: days
        {"#1764979200#", " version=\"1.8.0.1036\"", "2", "1764979200 1.8.0.1036 2880"},
        {"#77#", " version=\"1.8.0.1037\"", "60", "77 1.8.0.1037 60"},
        {"", " VERSION=\"2.0\"", "5", "null 2.0 5"},                     // the name's case does not matter
        {"", " version=\"1.8.0.1037\"", "one", "null 1.8.0.1037 1440"},  // no number: one day
        {"##", "", "1", "null null "},  // no "#" but the last two: the text stays whole, not XML
    };
    for (const auto& c : cases) {
        const std::string rule =
            std::string("<Rule type=\"1\"><Enabled>1</Enabled><MinimumAge>") + c[2] + "</MinimumAge></Rule>";
        const Json root = Parse(Lint(Doc("<Policy name=\"p\">" + rule + "</Policy>", c[1]) + c[0]).out);
        EXPECT_EQ(
            At(root, "time") + " " + At(root, "version") + " " + At(root, "policies/0/rules/0/minimumAge"),
            c[3]);
    }
    // A "#" inside the document ends the search: the cut falls there, and the rest is the time.
    EXPECT_EQ(At(Parse(Lint("<PolicyList><Policy name=\"a#b\"/></PolicyList>##").out), "time"),
              "b\"/></PolicyList>#");
}

// Every kind of rule and scope field, and values the engine replaces by defaults.
const std::string kSettings = Doc(
    "<Policy name=\"settings\"><Configuration>3</Configuration>"
    "<Rule type=\"2\"><Enabled>1</Enabled><MinimumLength>eight</MinimumLength></Rule>"
    "<Rule type=\"5\"><Enabled>0</Enabled><Regex Type=\"1\">(.)\\1{3,}</Regex><Data>3</Data></Rule>"
    "<Rule type=\"4\"><Enabled>1</Enabled><UsernameRatio Enabled=\"1\">0.1</UsernameRatio>"
    "<FullnameRatio Enabled=\"0\">.5</FullnameRatio><Description languageid=\"19\">n\xC3\xA4</Description>"
    "<Description>en\t\"q\"</Description></Rule>"
    "<Rule type=\"8\"><Enabled>1</Enabled><Blacklist Interpretation=\"0\"><Item>a</Item><Item></Item>"
    "</Blacklist></Rule><Scope type=\"1\"><SID>S-1</SID><Groups><Group>CN=b</Group><Group>CN=a</Group>"
    "</Groups></Scope><Scope type=\"7\"><Name>n</Name></Scope></Policy><!-- c -->",
    " version=\"1.8.0.1037\"");

TEST(PolicyLintTest, JsonCarriesEveryRuleSettingAndScopeField) {
    const LintResult result = Lint(kSettings);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const Json root = Parse(result.out);
    const std::pair<const char*, const char*> expected[] = {
        {"time", "null"},                           // no time suffix
        {"policies/0/enabled", "false"},            // configuration bit 0 set
        {"policies/0/rules/0/minimumLength", "6"},  // "eight" is no number: the default
        {"policies/0/rules/1/expression", "(.)\\1{3,}"},
        {"policies/0/rules/2/type", "6"},  // type 4 makes a 6 and a 7
        {"policies/0/rules/2/usernameRatio", "0.1"},
        {"policies/0/rules/2/fullnameRatio", "0.8"},  // ".5" is no ratio: the default
        {"policies/0/rules/2/descriptions/9", "en\t\"q\""},
        {"policies/0/rules/3/type", "7"},
        {"policies/0/rules/3/descriptions/19", "n\xC3\xA4"},
        {"policies/0/rules/4/items/1", "null"},  // the empty item is kept, without text
        {"policies/0/scopes/0/sid", "S-1"},
        {"policies/0/scopes/0/groups/0", "CN=a"},  // the group set is ordered
        {"policies/0/scopes/1/type", "7"},         // kept, though it matches nobody
    };
    for (const auto& [path, value] : expected) {
        EXPECT_EQ(At(root, path), value) << path;
    }
}

// The engine silently replaces numbers it cannot read; the linter names each once, and --strict fails for it.
TEST(PolicyLintTest, ValuesThatAreNotNumbersAreFindings) {
    // The policy's children, then each finding as "path|text|used" (paths below "/PolicyList/Policy/").
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {"<Rule type=\"2\"><Enabled>1</Enabled><MinimumLength> 8</MinimumLength></Rule>",
         {"Rule/MinimumLength| 8|6 (the default)"}},
        {"<Configuration>x</Configuration><Rule type=\"3\"><MaximumLength>9 </MaximumLength></Rule>",
         {"Configuration|x|0 (the policy is on)", "Rule/MaximumLength|9 |18 (the default)"}},
        // Type 4 makes two rules that both read "Enabled": one finding.
        {"<Rule type=\"4\"><Enabled>on</Enabled><PasswordRatio Enabled=\"1\">0,8</PasswordRatio></Rule>",
         {"Rule/Enabled|on|0 (the rule is off)", "Rule/PasswordRatio|0,8|0.8 (the default)"}},
        {"<Rule type=\"1\"><MinimumAge>+1</MinimumAge><Description languageid=\"nl\">d</Description></Rule>"
         "<Rule type=\"7\"><PasswordRatio Enabled=\"yes\">0.5</PasswordRatio></Rule>",
         {"Rule[1]/MinimumAge|+1|1440 minutes (the default)",
          "Rule[1]/Description/@languageid|nl|9 (English)",
          "Rule[2]/PasswordRatio/@Enabled|yes|0 (unchanged)"}},
        {"<Rule type=\"5\"><Regex Type=\"2x\">a</Regex><ExpressionValidatesPassword>1 "
         "</ExpressionValidatesPassword></Rule><Rule type=\"8\"><Blacklist Interpretation=\"\"/></Rule>",
         {"Rule[1]/Regex/@Type|2x|0 (unchanged)", "Rule[1]/ExpressionValidatesPassword|1 |0 (unchanged)",
          "Rule[2]/Blacklist/@Interpretation||0 (unchanged)"}},
        {"<Rule type=\"2\"><Enabled>1</Enabled><MinimumLength>-</MinimumLength></Rule>", {}},
    };
    for (const auto& [children, expected] : cases) {
        SCOPED_TRACE(children);
        const std::string bytes =
            Doc("<Policy name=\"p\">" + children + "<Scope type=\"3\"><SID>a.b</SID></Scope></Policy>");
        const LintResult json = Lint(bytes);
        std::vector<std::string> found;
        const Json root = Parse(json.out);
        for (const Json& finding : root.value("findings", Json::array())) {
            const std::string path = At(finding, "path");
            EXPECT_EQ(path.rfind("/PolicyList/Policy/", 0), 0u) << path;
            found.push_back(path.substr(19) + "|" + At(finding, "text") + "|" + At(finding, "used"));
        }
        EXPECT_EQ(found, expected);
        // Findings never change the verdict by themselves; --strict makes any of them exit 1.
        EXPECT_EQ(json.exitCode, 0) << json.err;
        const LintResult strict = LintDocumentBytes(bytes, KW("test.xml"), LintOptions{false, kLogAll, true});
        EXPECT_EQ(strict.exitCode, expected.empty() ? 0 : 1) << strict.err;
        EXPECT_EQ(strict.err.find("see the findings") != std::string::npos, !expected.empty()) << strict.err;
        EXPECT_EQ(strict.out.find("\nFindings (") != std::string::npos, !expected.empty());
        if (!expected.empty()) {
            const std::string line =
                "/PolicyList/Policy/" + expected.front().substr(0, expected.front().find('|')) + ": ";
            EXPECT_NE(strict.out.find(line), std::string::npos) << strict.out;
        }
    }
}

TEST(PolicyToolTest, CommandLinesAndFiles) {
    // Exactly the size of the directory attribute still loads: a good document padded with a comment.
    const std::string padded =
        Doc("<!--" + std::string(kMaxDocumentBytes - Doc(kGoodPolicy).size() - 7, 'x') + "-->" + kGoodPolicy);
    const std::pair<const char*, std::string> files[] = {
        {"good.xml", Doc(kGoodPolicy)},
        {"finding.xml",
         Doc("<Policy name=\"p\"><Rule type=\"2\"><MinimumLength>8 </MinimumLength></Rule></Policy>")},
        {"limit.xml", padded},
        {"large.xml", padded + " "},
        {"empty.xml", ""},
        {"bad.ldif", "dn: CN=x\nchangetype: add\n"},
    };
    for (const auto& [name, bytes] : files) {
        WriteFile(name, bytes);
    }
    // Arguments (missing.xml is not there), exit code, standard output, error.
    const std::tuple<const char*, int, const char*, const char*> cases[] = {
        {"", 64, "", "a command is required"},
        {"lint good.xml --level", 64, "", "--level needs a mask"},
        {"lint --help", 0, "Exit codes:", ""},
        {"lint --strict finding.xml", 1, "MinimumLength: \"8 \" is not a number; the logon screen uses 6",
         "see the findings"},
        {"lint good.xml", 0, "Policy 1: \"p\"", ""},
        {"lint --level=0X01 good.xml", 0, "Log (0 records, level mask 0x00000001)", ""},
        {"lint --level error,WARNING good.xml", 0, "level mask 0x00000011", ""},
        {"lint --level=0x16 --level Errors good.xml", 64, "", "'Errors' is not a level mask"},
        {"lint limit.xml --json", 0, "\"result\": 0", ""},
        {"lint large.xml", 2, "", "larger than 1000000 bytes"},
        {"lint --json missing.xml", 2, "\"result\": 2,", "cannot read the file"},
        {"lint empty.xml", 2, "Result: ", "the document is empty"},
        // The directory commands: the shared options, then files and servers that cannot be used.
        {"test --user x", 64, "", "give either --ldap URI or --snapshot FILE"},
        {"test --snapshot a --ldap ldap://h --domain d --user x", 64, "", "either"},
        {"fetch --snapshot a", 64, "", "--domain DNSNAME is required"},
        {"test --snapshot a --domain d", 64, "", "--user NAME is required"},
        {"test --snapshot a --domain d --user x --language 0x10000", 64, "", "--language"},
        {"fetch --ldap ldap://h --domain d --bind-user u", 64, "", "needs --password-file"},
        {"fetch --ldap ldap://h --domain d --password-file p", 64, "", "needs --bind-user"},
        {"fetch --ldap ldap://h --domain d --sasl-gssapi --bind-dn CN=u --password-file p", 64, "",
         "--sasl-gssapi takes neither"},
        {"fetch --snapshot a --domain d --starttls", 64, "", "go with --ldap only"},
        {"fetch --snapshot a --domain d extra", 64, "", "unexpected 'extra'"},
        {"publish --snapshot a --domain d", 64, "", "a FILE is required"},
        {"export --snapshot a --domain d --domain=e", 64, "", "--domain given twice"},
        {"export --domain d --snapshot", 64, "", "--snapshot needs a value"},
        {"fetch --snapshot missing.xml --domain d", 2, "", "cannot read the file"},
        {"export --snapshot bad.ldif --domain d", 2, "", "not a usable LDIF snapshot: line 2"},
        {"test --snapshot corp.ldif --domain corp.example.com --user alex.berg --policy missing.xml", 2,
         "the policy file cannot be read\nLog, errors and warnings", "the policy file cannot be read"},
        {"test --snapshot corp.ldif --domain corp.example.com --user alex.berg --policy empty.xml", 2,
         "(--json shows all of it):\n  Error (87): Unable to determine size of XML.", "could not be loaded"},
        {"fetch --ldap ldap://127.0.0.1:1 --domain d", 2, "", "cannot connect to ldap://127.0.0.1:1"},
        {"publish --snapshot corp.ldif --domain corp.example.com missing.xml", 2, "", "cannot read"},
        {"publish --snapshot corp.ldif --domain corp.example.com large.xml", 1, "",
         "refused: larger than 1000000 bytes"},
        {"publish --snapshot corp.ldif --domain corp.example.com empty.xml", 1, "",
         "the linter's result is 2"},
    };
    for (const auto& [line, exitCode, out, err] : cases) {
        SCOPED_TRACE(line);
        std::vector<std::string> args;
        std::istringstream words(line);
        for (std::string word; words >> word;) {
            args.push_back(word);
        }
        const LintResult result = RunPolicyTool(args);
        EXPECT_EQ(result.exitCode, exitCode) << result.err;
        EXPECT_NE(result.out.find(out), std::string::npos) << result.out;
        EXPECT_NE(result.err.find(err), std::string::npos) << result.err;
        // Usage errors show the usage on standard error and nothing on standard output; others no usage.
        EXPECT_EQ(result.err.find("Usage:") != std::string::npos, exitCode == 64);
        EXPECT_EQ(result.out.empty(), exitCode == 64 || *out == '\0') << result.out;
        if (exitCode == 2) {  // one clear message
            EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
        }
    }
}

TEST(PolicyExampleTest, ShowsEveryRuleTypeAndScopeTypeAndLoadsWhole) {
    // The build copies the shipped example next to this test.
    const LintResult result = RunPolicyTool({"lint", "--json", "policies.xml"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err, "");  // valid UTF-8, nothing left out
    const Json root = Parse(result.out);
    EXPECT_EQ(At(root, "time") + " " + At(root, "version"), "1764979200 1.8.0.1037");
    std::map<std::string, std::set<std::string>> values;  // by path without indexes
    const Json flat = root.flatten();
    for (const auto& [path, value] : flat.items()) {
        values[std::regex_replace(path, std::regex("/[0-9]+"), "")].insert(value.dump());
    }
    // Type 4 leaves no trace in the loaded rules (it makes a 6 and a 7).
    EXPECT_EQ(values["/policies/rules/type"], (std::set<std::string>{"1", "2", "3", "5", "6", "7", "8"}));
    EXPECT_EQ(values["/policies/scopes/type"], (std::set<std::string>{"0", "1", "2", "3", "4", "5"}));
    // The engine logged no error and no warning while loading it.
    EXPECT_EQ(values["/log/level"], (std::set<std::string>{"\"Debug\"", "\"Information\""}));
}

}  // namespace
}  // namespace korva::tools
