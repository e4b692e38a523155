#include "tools/policy_lint.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/win_errors.h"
#include "tests/tools/json_check.h"

namespace korva::tools {
namespace {

using platform::Files;
using testing::JsonReader;
using testing::JsonValue;

const std::string kGoodPolicy =
    "<Policy name=\"p\"><Rule type=\"2\"><Enabled>1</Enabled><MinimumLength>8</MinimumLength></Rule>"
    "<Scope type=\"3\"><SID>a.b</SID></Scope></Policy>";

std::string Doc(const std::string& children, const std::string& attributes = "") {
    return "<PolicyList" + attributes + ">" + children + "</PolicyList>";
}

// Concatenation by appending (gcc 12 warns falsely about the inserting forms of operator+ in optimised
// builds).
std::string Cat(std::initializer_list<std::string_view> parts) {
    std::string joined;
    for (const std::string_view part : parts) {
        joined.append(part);
    }
    return joined;
}

std::string Nested(int depth, const std::string& inner = "x") {
    std::string open;
    std::string close;
    for (int i = 0; i < depth; ++i) {
        open += "<n>";
        close += "</n>";
    }
    return open + inner + close;
}

LintResult Lint(std::string_view bytes, bool json = true, uint32_t mask = kLogAll) {
    LintOptions options;
    options.json = json;
    options.levelMask = mask;
    return LintDocumentBytes(bytes, KW("test.xml"), options);
}

JsonValue ParseJson(const std::string& text) {
    JsonValue value;
    std::string error;
    EXPECT_TRUE(JsonReader::Parse(text, &value, &error)) << error << "\n" << text.substr(0, 2000);
    return value;
}

const JsonValue& Member(const JsonValue& object, const char* name) {
    static const JsonValue kMissing;
    const JsonValue* found = object.Find(name);
    EXPECT_NE(found, nullptr) << "no member " << name;
    return found != nullptr ? *found : kMissing;
}

std::string Utf8Of(const JsonValue& value) {
    return Utf16ToUtf8(value.text);
}

// ---------------------------------------------------------------------------------------------------------------

struct ExitCase {
    const char* what;
    std::string bytes;
    int exitCode;
    const char* errFragment;  // expected in standard error; "" for nothing
    size_t loaded;            // policies in the output
};

TEST(PolicyLintTest, ExitCodeMessageAndPoliciesFollowTheLoad) {
    const ExitCase cases[] = {
        {"one policy", Doc(kGoodPolicy), 0, "", 1},
        {"comment and processing instruction beside a policy", Doc("<!-- c --><?pi x?>" + kGoodPolicy), 0, "",
         1},
        {"stray text beside a policy is no policy element", Doc("oops" + kGoodPolicy), 0, "", 1},
        {"time suffix cut off", Doc(kGoodPolicy) + "#1764979200#", 0, "", 1},
        {"a '#' in an expression and no suffix",
         Doc("<Policy name=\"r\"><Rule type=\"5\"><Enabled>1</Enabled><Regex "
             "Type=\"0\">#</Regex></Rule></Policy>"),
         0, "", 1},
        {"nesting of 200 levels inside an ignored child",
         Doc(Cat({"<Policy name=\"d\"><Extra>", Nested(200),
                  "</Extra><Rule type=\"2\"><Enabled>1</Enabled></Rule></Policy>"})),
         0, "", 1},
        {"policy without a name left out",
         Doc(kGoodPolicy + "<Policy><Rule type=\"2\"><Enabled>1</Enabled></Rule></Policy>"), 1,
         "1 of 2 policy elements left out", 1},
        {"unknown rule type fails its policy",
         Doc("<Policy name=\"u\"><Rule type=\"9\"><Enabled>1</Enabled></Rule></Policy>" + kGoodPolicy), 1,
         "1 of 2 policy elements left out", 1},
        {"scope without a type fails its policy",
         Doc(kGoodPolicy + "<Policy name=\"s\"><Scope><SID>a</SID></Scope></Policy>"), 1, "left out", 1},
        {"every policy left out", Doc("<Policy name=\"empty\"/>"), 1, "1 of 1 policy element left out", 0},
        {"text after a NUL byte ignored", Cat({Doc(kGoodPolicy), std::string_view("\0<garbage", 9)}), 0,
         "ends at the NUL byte at offset 163;", 1},
        {"no bytes", "", 2, "the document is empty", 0},
        {"NUL first", Cat({std::string_view("\0", 1), Doc(kGoodPolicy)}), 2, "no text", 0},
        {"only a time suffix", "#1764979200#", 2, "no text", 0},
        {"not XML", "hello", 2, "not well-formed XML", 0},
        {"truncated", Doc(kGoodPolicy).substr(0, Doc(kGoodPolicy).size() - 5), 2, "not well-formed XML", 0},
        {"mismatched end tag", "<PolicyList>" + kGoodPolicy + "</Policylist>", 2, "not well-formed XML", 0},
        {"unclosed comment", Doc("<!-- " + kGoodPolicy), 2, "not well-formed XML", 0},
        {"attribute written twice",
         "<PolicyList version=\"1\" version=\"2\">" + kGoodPolicy + "</PolicyList>", 2, "not well-formed XML",
         0},
        {"suffix without its second '#'", Doc(kGoodPolicy) + "#77", 2, "not well-formed XML", 0},
        {"DOCTYPE refused", Cat({"<!DOCTYPE PolicyList [<!ENTITY e \"x\">]>", Doc(kGoodPolicy)}), 2,
         "not well-formed XML", 0},
        {"nesting of 300 levels refused", Doc(Cat({"<Policy name=\"d\">", Nested(300), "</Policy>"})), 2,
         "nested deeper than 256", 0},
        {"no PolicyList", "<Policies>" + kGoodPolicy + "</Policies>", 2,
         "exactly one PolicyList element; this one has 0", 0},
        {"PolicyList inside PolicyList", Doc(Doc(kGoodPolicy)), 2, "this one has 2", 0},
        {"empty PolicyList", "<PolicyList/>", 2, "the PolicyList element has no children", 0},
        {"PolicyList with white space only", "<PolicyList>\n  \n</PolicyList>", 2, "has no children", 0},
        {"PolicyList with comments only", Doc("<!-- nothing yet -->"), 2, "holds no policy element", 0},
    };
    for (const ExitCase& c : cases) {
        SCOPED_TRACE(c.what);
        const LintResult json = Lint(c.bytes);
        EXPECT_EQ(json.exitCode, c.exitCode) << json.err;
        if (*c.errFragment != '\0') {
            EXPECT_NE(json.err.find(c.errFragment), std::string::npos) << json.err;
            EXPECT_EQ(json.err.rfind("korva-policy: test.xml: ", 0), 0u) << json.err;
        } else {
            EXPECT_EQ(json.err, "");
        }
        const JsonValue root = ParseJson(json.out);
        EXPECT_EQ(Member(root, "policies").items.size(), c.loaded);
        // "result" is the load path's own result: 0 whenever the document itself loaded.
        const bool documentLoaded =
            c.exitCode != 2 || std::string(c.errFragment) == "holds no policy element";
        EXPECT_EQ(Member(root, "result").number == 0, documentLoaded);
        // The engine logs every outcome; a document that did not load says so at Error level, except for
        // the empty text, which the provider reports as "no policy" at Information level.
        EXPECT_FALSE(Member(root, "log").items.empty());

        const LintResult text = Lint(c.bytes, false);
        EXPECT_EQ(text.exitCode, c.exitCode);
        EXPECT_EQ(text.err, json.err);
        EXPECT_EQ(text.out.rfind("Document: test.xml\nResult: ", 0), 0u) << text.out;
    }
}

TEST(PolicyLintTest, MutatedDocumentsNeverCrashAndAlwaysGiveValidJson) {
    const std::string base =
        Doc("<!-- c -->" + kGoodPolicy +
                "<Policy name=\"all\"><Configuration>2</Configuration>"
                "<Rule type=\"4\"><Enabled>1</Enabled><UsernameRatio Enabled=\"1\">0.5</UsernameRatio>"
                "<PasswordRatio Enabled=\"0\">.9</PasswordRatio><Description "
                "languageid=\"7\">\xC3\xA4</Description></Rule>"
                "<Rule type=\"8\"><Blacklist Interpretation=\"1\"><Item>^a</Item><Item/></Blacklist></Rule>"
                "<Scope type=\"1\"><Groups><Group>CN=g</Group></Groups></Scope></Policy>",
            " version=\"1.8.0.1037\"") +
        "#42#";
    std::mt19937 random(20251205);
    const char kBytes[] = "<>/=\"'#&;!?- \0\xC3\xFF\xED\xA0x";
    for (int round = 0; round < 400; ++round) {
        std::string bytes = base;
        const int edits = 1 + static_cast<int>(random() % 4);
        for (int e = 0; e < edits; ++e) {
            const size_t at = random() % bytes.size();
            switch (random() % 3) {
                case 0:
                    bytes[at] = kBytes[random() % (sizeof(kBytes) - 1)];
                    break;
                case 1:
                    bytes.erase(at, 1 + random() % 8);
                    break;
                default:
                    bytes.resize(at);
                    break;
            }
            if (bytes.empty()) {
                break;
            }
        }
        const LintResult result = Lint(bytes);
        ASSERT_TRUE(result.exitCode == 0 || result.exitCode == 1 || result.exitCode == 2) << bytes;
        JsonValue root;
        std::string error;
        ASSERT_TRUE(JsonReader::Parse(result.out, &root, &error)) << error << "\n" << bytes;
        // Exit 2 always comes with its reason.
        EXPECT_EQ(result.exitCode == 2, result.err.find("not loaded") != std::string::npos) << result.err;
    }
}

TEST(PolicyLintTest, InvalidUtf8IsReadAsThePlatformConversionReadsIt) {
    const char* const sequences[] = {
        "\xFF",              // starts nothing
        "\xC3",              // truncated two-byte sequence
        "\xE2\x82",          // truncated three-byte sequence
        "\xC0\xAF",          // overlong
        "\xED\xA0\x80",      // an encoded surrogate
        "\xF4\x90\x80\x80",  // beyond U+10FFFF
        "\x80\x80",          // stray continuation bytes
    };
    for (const char* sequence : sequences) {
        SCOPED_TRACE(sequence);
        const std::string description = std::string("a") + sequence + "b";
        const std::string bytes =
            Doc("<Policy name=\"p\"><Rule type=\"2\"><Enabled>1</Enabled><Description>" + description +
                "</Description></Rule></Policy>");
        const LintResult result = Lint(bytes);
        // Invalid bytes do not stop the load; the linter points at the first of them.
        EXPECT_EQ(result.exitCode, 0);
        const size_t offset = bytes.find(sequence);
        EXPECT_NE(result.err.find("not valid UTF-8 from offset " + std::to_string(offset) + ";"),
                  std::string::npos)
            << result.err;
        const JsonValue root = ParseJson(result.out);
        const JsonValue& text =
            Member(Member(Member(root, "policies").items.at(0), "rules").items.at(0), "descriptions");
        ASSERT_EQ(text.members.size(), 1u);
        EXPECT_TRUE(text.members[0].second.text == Utf8ToUtf16(description));
        EXPECT_NE(text.members[0].second.text.find(WChar(0xFFFD)), WString::npos);
    }
    // Valid UTF-8 raises no note.
    EXPECT_EQ(Lint(Doc("<Policy name=\"\xE5\xAF\x86\"/>")).err.find("UTF-8"), std::string::npos);
}

struct SuffixCase {
    std::string tail;
    const char* time;  // null: none
    int exitCode;
};

TEST(PolicyLintTest, TimeIsWhatTheSuffixCutRemoved) {
    const SuffixCase cases[] = {
        {"", nullptr, 0},
        {"#1764979200#", "1764979200", 0},
        {"#77#", "77", 0},
        // The "#" just before the final one is not searched: with no other "#" the text stays as it is.
        {"##", nullptr, 2},
        {"#7", nullptr, 2},
    };
    for (const SuffixCase& c : cases) {
        SCOPED_TRACE(c.tail);
        const LintResult result = Lint(Doc(kGoodPolicy) + c.tail);
        EXPECT_EQ(result.exitCode, c.exitCode);
        const JsonValue root = ParseJson(result.out);
        const JsonValue& time = Member(root, "time");
        if (c.time == nullptr) {
            EXPECT_TRUE(time.IsNull());
        } else {
            EXPECT_EQ(Utf8Of(time), c.time);
        }
    }
    // A "#" inside the document ends the search: the cut falls there, and the rest is the time.
    const LintResult cut = Lint("<PolicyList><Policy name=\"a#b\"/></PolicyList>##");
    EXPECT_EQ(Utf8Of(Member(ParseJson(cut.out), "time")), "b\"/></PolicyList>#");
}

struct VersionCase {
    std::string attribute;
    const char* minimumAge;
    int64_t minutes;
    const char* version;  // null: none
};

TEST(PolicyLintTest, VersionIsPassedOnToTheRulesAsTheEngineReadsIt) {
    const VersionCase cases[] = {
        {"", "2", 2880, nullptr},  // no version: days
        {" version=\"1.8.0.1036\"", "2", 2880, "1.8.0.1036"},
        {" version=\"1.8.0.1037\"", "60", 60, "1.8.0.1037"},
        {" VERSION=\"2.0\"", "5", 5, "2.0"},  // the name is matched without regard to case
        {" version=\"\"", "1", 1440, nullptr},
        {" version=\"1.8.0.1037\"", "one", 1440, "1.8.0.1037"},  // not a number: one day
    };
    for (const VersionCase& c : cases) {
        SCOPED_TRACE(c.attribute);
        const std::string bytes = Doc("<Policy name=\"p\"><Rule type=\"1\"><Enabled>1</Enabled><MinimumAge>" +
                                          std::string(c.minimumAge) + "</MinimumAge></Rule></Policy>",
                                      c.attribute);
        const JsonValue root = ParseJson(Lint(bytes).out);
        const JsonValue& version = Member(root, "version");
        if (c.version == nullptr) {
            EXPECT_TRUE(version.IsNull());
        } else {
            EXPECT_EQ(Utf8Of(version), c.version);
        }
        const JsonValue& rule = Member(Member(root, "policies").items.at(0), "rules").items.at(0);
        EXPECT_EQ(Member(rule, "minimumAge").number, c.minutes);
    }
}

TEST(PolicyLintTest, JsonCarriesEveryRuleSettingAndScopeField) {
    const std::string bytes =
        Doc("<Policy name=\"settings\"><Configuration>3</Configuration>"
            "<Rule type=\"2\"><Enabled>1</Enabled><MinimumLength>eight</MinimumLength></Rule>"
            "<Rule type=\"3\"><Enabled>0</Enabled><MaximumLength>-5</MaximumLength></Rule>"
            "<Rule type=\"5\"><Enabled>1</Enabled><Regex Type=\"1\">(.)\\1{3,}</Regex><Data>3</Data>"
            "<ExpressionValidatesPassword>0</ExpressionValidatesPassword></Rule>"
            "<Rule type=\"5\"><Enabled>1</Enabled></Rule>"
            "<Rule type=\"4\"><Enabled>1</Enabled><UsernameRatio Enabled=\"1\">0.1</UsernameRatio>"
            "<FullnameRatio Enabled=\"0\">.5</FullnameRatio><PasswordRatio Enabled=\"1\">1</PasswordRatio>"
            "<Description languageid=\"19\">nl</Description><Description>en\t\"q\"</Description></Rule>"
            "<Rule type=\"8\"><Enabled>1</Enabled><Blacklist Interpretation=\"0\"><Item>a</Item><Item></Item>"
            "<Item>b</Item></Blacklist></Rule>"
            "<Scope "
            "type=\"1\"><SID>S-1-5-21-1</SID><Groups><Group>CN=b</Group><Group>CN=a</Group></Groups></Scope>"
            "<Scope type=\"7\"><Name>n</Name></Scope>"
            "</Policy>");
    const LintResult result = Lint(bytes);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const JsonValue root = ParseJson(result.out);
    const JsonValue& policy = Member(root, "policies").items.at(0);
    EXPECT_EQ(Utf8Of(Member(policy, "name")), "settings");
    EXPECT_EQ(Member(policy, "configuration").number, 3);
    EXPECT_FALSE(Member(policy, "enabled").boolean);  // bit 0 set

    const std::vector<JsonValue>& rules = Member(policy, "rules").items;
    ASSERT_EQ(rules.size(), 7u);  // type 4 made two
    const int64_t types[] = {2, 3, 5, 5, 6, 7, 8};
    for (size_t i = 0; i < rules.size(); ++i) {
        EXPECT_EQ(Member(rules[i], "type").number, types[i]) << i;
    }
    EXPECT_EQ(Member(rules[0], "minimumLength").number, 6);  // "eight" is no number: the default
    EXPECT_EQ(Member(rules[0], "name").text, KW("Minimum Password Length"));
    EXPECT_EQ(Member(rules[1], "maximumLength").number, -5);
    EXPECT_FALSE(Member(rules[1], "enabled").boolean);

    EXPECT_EQ(Utf8Of(Member(rules[2], "name")), "Repeating characters");
    EXPECT_EQ(Member(rules[2], "kind").number, 1);
    EXPECT_EQ(Utf8Of(Member(rules[2], "expression")), "(.)\\1{3,}");
    EXPECT_EQ(Utf8Of(Member(rules[2], "data")), "3");
    EXPECT_FALSE(Member(rules[2], "expressionValidatesPassword").boolean);
    // A regular-expression rule without "Regex": no expression, no data, kind 0.
    EXPECT_EQ(Utf8Of(Member(rules[3], "name")), "Regular Expression");
    EXPECT_TRUE(Member(rules[3], "expression").IsNull());
    EXPECT_TRUE(Member(rules[3], "data").IsNull());
    EXPECT_EQ(Member(rules[3], "descriptions").members.size(), 0u);

    EXPECT_TRUE(Member(rules[4], "checkUsername").boolean);
    EXPECT_FALSE(Member(rules[4], "checkFullname").boolean);
    EXPECT_EQ(Member(rules[4], "usernameRatio").numberText, "0.1");
    EXPECT_EQ(Member(rules[4], "fullnameRatio").numberText, "0.8");  // ".5" is no ratio: the default
    EXPECT_TRUE(Member(rules[5], "checkPassword").boolean);
    EXPECT_EQ(Member(rules[5], "passwordRatio").numberText, "1");
    // Both rules of type 4 carry the element's descriptions, keyed by language.
    for (const JsonValue* rule : {&rules[4], &rules[5]}) {
        const JsonValue& descriptions = Member(*rule, "descriptions");
        ASSERT_EQ(descriptions.members.size(), 2u);
        EXPECT_EQ(descriptions.members[0].first, "9");
        EXPECT_EQ(Utf8Of(descriptions.members[0].second), "en\t\"q\"");
        EXPECT_EQ(descriptions.members[1].first, "19");
    }

    EXPECT_EQ(Member(rules[6], "interpretation").number, 0);
    const std::vector<JsonValue>& items = Member(rules[6], "items").items;
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(Utf8Of(items[0]), "a");
    EXPECT_TRUE(items[1].IsNull());  // the empty item is kept, without text
    EXPECT_EQ(Utf8Of(items[2]), "b");

    const std::vector<JsonValue>& scopes = Member(policy, "scopes").items;
    ASSERT_EQ(scopes.size(), 2u);
    EXPECT_EQ(Member(scopes[0], "type").number, 1);
    EXPECT_EQ(Utf8Of(Member(scopes[0], "sid")), "S-1-5-21-1");
    EXPECT_TRUE(Member(scopes[0], "canonicalName").IsNull());
    const std::vector<JsonValue>& groups = Member(scopes[0], "groups").items;
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(Utf8Of(groups[0]), "CN=a");            // the group set is ordered
    EXPECT_EQ(Member(scopes[1], "type").number, 7);  // kept, though it matches nobody
    EXPECT_TRUE(Member(scopes[1], "sid").IsNull());
    EXPECT_EQ(Utf8Of(Member(scopes[1], "name")), "n");
    EXPECT_EQ(Member(scopes[1], "groups").items.size(), 0u);

    // The text form shows the same settings.
    const std::string text = Lint(bytes, false).out;
    for (const char* fragment :
         {"Policy 1: \"settings\", configuration 3, disabled", "minimumLength: 6", "usernameRatio: 0.1",
          "items: 3 items", "  - (empty)", "description 9: \"en\\u0009\\\"q\\\"\"",
          "Scope 2: type 7 unknown type", "group: \"CN=a\""}) {
        EXPECT_NE(text.find(fragment), std::string::npos) << fragment << "\n" << text;
    }
}

struct LevelCase {
    uint32_t mask;
    std::set<std::string> levels;  // the levels that must appear, and the only ones
};

TEST(PolicyLintTest, LevelMaskSelectsTheLogRecordsByTheLogsOwnRule) {
    // Stray text logs a Warning, the unnamed policy an Error, the load Information and Debug lines.
    const std::string bytes = Doc("stray<Policy><Rule type=\"2\"/></Policy>" + kGoodPolicy);
    const LevelCase cases[] = {
        {kLogAll, {"Error", "Warning", "Information", "Debug"}},
        {1, {"Error"}},
        {16, {"Warning"}},
        {17, {"Error", "Warning"}},
        {2, {"Information", "Warning"}},  // Warning is 22: it passes 2 and 4 too
        {4, {"Debug", "Warning"}},
        {0, {}},
    };
    for (const LevelCase& c : cases) {
        SCOPED_TRACE(c.mask);
        const LintResult result = Lint(bytes, true, c.mask);
        EXPECT_EQ(result.exitCode, 1);  // the mask never changes the verdict
        std::set<std::string> seen;
        const JsonValue root = ParseJson(result.out);
        for (const JsonValue& record : Member(root, "log").items) {
            seen.insert(Utf8Of(Member(record, "level")));
            if (Utf8Of(Member(record, "message")).find("An error occurred loading policy from XML.") !=
                std::string::npos) {
                EXPECT_EQ(Member(record, "code").number, -12);
            }
        }
        EXPECT_EQ(seen, c.levels);
    }
}

struct MaskCase {
    const char* text;
    bool ok;
    uint32_t mask;
};

TEST(PolicyLintTest, LevelMaskTexts) {
    const MaskCase cases[] = {
        {"1", true, 1},
        {"0x16", true, 22},
        {"4294967295", true, kLogAll},
        {"error,WARNING", true, 17},
        {"Debug+Information", true, 6},
        {"All", true, kLogAll},
        {"None", true, 0},
        {"4294967296", false, 0},
        {"", false, 0},
        {"-1", false, 0},
        {"0x", false, 0},
        {"Error,", false, 0},
        {"Errors", false, 0},
    };
    for (const MaskCase& c : cases) {
        uint32_t mask = 12345;
        EXPECT_EQ(ParseLevelMask(c.text, &mask), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(mask, c.mask) << c.text;
        }
    }
}

// ---------------------------------------------------------------------------------------------------------------
// Files and the command line

class PolicyToolTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(Files().MakeTempDirectory(&folder_), winerr::kSuccess); }
    void TearDown() override { EXPECT_EQ(Files().RemoveDirectoryTree(folder_.c_str()), winerr::kSuccess); }

    std::string Write(const char* name, const std::string& bytes) {
        const WString path = platform::JoinPath(folder_, AsciiToWide(name));
        EXPECT_EQ(platform::WriteWholeFile(path.c_str(), bytes.data(), bytes.size()), winerr::kSuccess);
        return Utf16ToUtf8(path);
    }
    std::string Path(const char* name) const {
        return Utf16ToUtf8(platform::JoinPath(folder_, AsciiToWide(name)));
    }

    WString folder_;
};

struct CommandCase {
    std::vector<std::string> args;
    int exitCode;
    const char* outFragment;
    const char* errFragment;
};

TEST_F(PolicyToolTest, CommandLines) {
    const std::string good = Write("good.xml", Doc(kGoodPolicy));
    const std::string dashed = Write("-dashed.xml", Doc(kGoodPolicy));
    const std::string missing = Path("missing.xml");
    const CommandCase cases[] = {
        {{}, 64, "", "a command is required"},
        {{"lint"}, 64, "", "a FILE is required"},
        {{"lint", good, good}, 64, "", "only one FILE"},
        {{"check", good}, 64, "", "unknown command 'check'"},
        {{"lint", "--jsn", good}, 64, "", "unknown option '--jsn'"},
        {{"lint", good, "--level"}, 64, "", "--level needs a mask"},
        {{"lint", "--level", "loud", good}, 64, "", "'loud' is not a level mask"},
        {{"--help"}, 0, "Usage: korva-policy lint [--json] [--level MASK] FILE", ""},
        {{"lint", "--help"}, 0, "Exit codes:", ""},
        {{"lint", good}, 0, "Policy 1: \"p\"", ""},
        {{"lint", good, "--json"}, 0, "\"result\": 0", ""},
        {{"lint", "--level=Error", good}, 0, "Log (0 records, level mask 0x00000001)", ""},
        {{"lint", "--level", "0x10", good}, 0, "level mask 0x00000010", ""},
        {{"lint", "--", dashed}, 0, "Policy 1", ""},
        {{"lint", missing}, 2, "", "cannot read the file"},
        {{"lint", "--json", missing}, 2, "\"result\": 2,", "cannot read the file"},
        {{"lint", Utf16ToUtf8(folder_)}, 2, "", "cannot read the file"},
    };
    for (const CommandCase& c : cases) {
        std::string line;
        for (const std::string& arg : c.args) {
            line += arg + " ";
        }
        SCOPED_TRACE(line);
        const LintResult result = RunPolicyTool(c.args);
        EXPECT_EQ(result.exitCode, c.exitCode) << result.err;
        EXPECT_NE(result.out.find(c.outFragment), std::string::npos) << result.out;
        EXPECT_NE(result.err.find(c.errFragment), std::string::npos) << result.err;
        if (c.exitCode == 64) {
            // A usage error shows the usage, on standard error, and nothing on standard output.
            EXPECT_NE(result.err.find("Usage:"), std::string::npos);
            EXPECT_EQ(result.out, "");
        }
        if (c.exitCode == 2 && result.out.empty()) {
            EXPECT_EQ(result.err.find("Usage:"), std::string::npos);
        }
    }
}

TEST_F(PolicyToolTest, FilesLargerThanTheDirectoryAttributeAreRefused) {
    // Exactly the limit still loads: a good document padded with a comment.
    std::string limit = Doc(kGoodPolicy);
    const std::string padding = Cat({"<!--", std::string(kMaxDocumentBytes - limit.size() - 7, 'x'), "-->"});
    limit.insert(std::string("<PolicyList>").size(), padding);
    ASSERT_EQ(limit.size(), kMaxDocumentBytes);
    const LintResult fits = LintFile(AsciiToWide(Write("limit.xml", limit)), {});
    EXPECT_EQ(fits.exitCode, 0) << fits.err;

    const LintResult tooLarge = LintFile(AsciiToWide(Write("large.xml", limit + " ")), {});
    EXPECT_EQ(tooLarge.exitCode, 2);
    EXPECT_NE(tooLarge.err.find("larger than 1000000 bytes"), std::string::npos) << tooLarge.err;
    EXPECT_EQ(tooLarge.out, "");
}

TEST_F(PolicyToolTest, ADocumentOfManyPoliciesLoadsWhole) {
    std::string policies;
    size_t count = 0;
    while (policies.size() + kGoodPolicy.size() + 64 < kMaxDocumentBytes) {
        policies += kGoodPolicy;
        ++count;
    }
    const std::string path = Write("many.xml", Doc(policies));
    LintOptions options;
    options.json = true;
    options.levelMask = kLogError;
    const LintResult result = LintFile(AsciiToWide(path), options);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(Member(ParseJson(result.out), "policies").items.size(), count);
}

// ---------------------------------------------------------------------------------------------------------------
// The shipped example

TEST(PolicyExampleTest, ShowsEveryRuleTypeAndScopeTypeAndLoadsWhole) {
    std::vector<uint8_t> content;
    // The build copies the example next to this test.
    ASSERT_EQ(platform::ReadWholeFile(KW("policies.xml"), &content), winerr::kSuccess);
    const std::string bytes(content.begin(), content.end());
    // Type 4 leaves no trace in the loaded rules (it makes a 6 and a 7): look for it in the document.
    EXPECT_NE(bytes.find("<Rule type=\"4\">"), std::string::npos);

    const LintResult result = RunPolicyTool({"lint", "--json", "policies.xml"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err, "");  // valid UTF-8, nothing left out
    const JsonValue root = ParseJson(result.out);
    EXPECT_EQ(Utf8Of(Member(root, "time")), "1764979200");
    EXPECT_EQ(Utf8Of(Member(root, "version")), "1.8.0.1037");

    std::set<int> ruleTypes;
    std::set<int> scopeTypes;
    std::set<std::string> languages;
    bool someDisabled = false;
    for (const JsonValue& policy : Member(root, "policies").items) {
        someDisabled |= !Member(policy, "enabled").boolean;
        EXPECT_FALSE(Member(policy, "rules").items.empty());
        for (const JsonValue& rule : Member(policy, "rules").items) {
            ruleTypes.insert(static_cast<int>(Member(rule, "type").number));
            EXPECT_TRUE(Member(rule, "enabled").boolean);
            EXPECT_NE(Member(rule, "descriptions").Find("9"), nullptr);  // English, the fallback, everywhere
            for (const auto& [language, text] : Member(rule, "descriptions").members) {
                languages.insert(language);
            }
        }
        for (const JsonValue& scope : Member(policy, "scopes").items) {
            scopeTypes.insert(static_cast<int>(Member(scope, "type").number));
        }
    }
    EXPECT_EQ(ruleTypes, (std::set<int>{1, 2, 3, 5, 6, 7, 8}));
    EXPECT_EQ(scopeTypes, (std::set<int>{0, 1, 2, 3, 4, 5}));
    EXPECT_GE(languages.size(), 5u);
    EXPECT_TRUE(someDisabled);
    // The engine logged no error and no warning while loading it.
    for (const JsonValue& record : Member(root, "log").items) {
        const std::string level = Utf8Of(Member(record, "level"));
        EXPECT_TRUE(level == "Debug" || level == "Information") << Utf8Of(Member(record, "message"));
    }
}

}  // namespace
}  // namespace korva::tools
