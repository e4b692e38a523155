// LDIF files: what the reader accepts and refuses (and where), and the writer's output read back.
#include "directory/ldif.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "platform/result_codes.h"

namespace korva::ldif {
namespace {

// Entries in a compact form: "[line:dn|name=value|name=value...]", values of one attribute in order.
std::string Flatten(const std::vector<Entry>& entries, bool lines = true) {
    std::string text;
    for (const Entry& e : entries) {
        text += "[" + (lines ? std::to_string(e.line) + ":" : "") + e.dn;
        for (const Attribute& a : e.attributes) {
            for (const std::string& v : a.values) {
                text += "|" + a.name + "=" + v;
            }
        }
        text += "]";
    }
    return text;
}

TEST(LdifReadTest, AcceptedForms) {
    const std::tuple<const char*, std::string, std::string> rows[] = {
        {"plain record", "dn: CN=a,DC=x\ncn: a\n", "[1:CN=a,DC=x|cn=a]"},
        {"version line and CRLF", "version: 1\r\ndn: CN=a\r\ncn: a\r\n", "[2:CN=a|cn=a]"},
        {"UTF-8 byte order mark", "\xEF\xBB\xBFversion: 1\ndn: CN=a\ncn: a\n", "[2:CN=a|cn=a]"},
        {"folded value", "dn: CN=a\ndescription: one\n  two\n three\n", "[1:CN=a|description=one twothree]"},
        {"base64 value", "dn: CN=a\nobjectSid:: AQUAAAAAAAU=\n",
         "[1:CN=a|objectSid=" + std::string("\x01\x05\0\0\0\0\0\x05", 8) + "]"},
        {"empty values", "dn: CN=a\ndescription:\nb::\n", "[1:CN=a|description=|b=]"},
        {"multi-valued, case-insensitive names keep the first spelling",
         "dn: CN=g\nmember: CN=1\nMEMBER: CN=2\ncn: g\nmember: CN=3\n",
         "[1:CN=g|member=CN=1|member=CN=2|member=CN=3|cn=g]"},
        {"comments, also folded and inside records", "# head\n#  folded\n  on\ndn: CN=a\n# inside\ncn: a\n",
         "[4:CN=a|cn=a]"},
        {"several records, several blank lines", "version: 1\n\ndn: CN=a\ncn: a\n\n\n\ndn: CN=b\ncn: b\n\n",
         "[3:CN=a|cn=a][8:CN=b|cn=b]"},
        {"an entry without attributes, the empty DN", "dn:\n\ndn: CN=a\n", "[1:][3:CN=a]"},
        {"only a version line", "version: 1\n", ""},
    };
    for (const auto& [what, input, expected] : rows) {
        std::vector<Entry> entries;
        ParseError error;
        EXPECT_EQ(Parse(input, Limits{}, &entries, &error), 0) << what << ": " << error.ToString();
        EXPECT_EQ(Flatten(entries), expected) << what;
    }
}

TEST(LdifReadTest, RefusalsNameTheLine) {
    const std::tuple<const char*, std::string, size_t, const char*> rows[] = {
        {"change record", "dn: CN=a\nchangetype: modify\nreplace: cn\n", 2, "change records"},
        {"URL value", "dn: CN=a\njpegPhoto:< file:///etc/passwd\n", 2, "URL"},
        {"record without dn", "cn: a\n", 1, "must start with a \"dn:\""},
        {"version after a record", "dn: CN=a\n\nversion: 1\n", 3, "must start with"},
        {"unknown version", "version: 2\ndn: CN=a\n", 1, "version"},
        {"missing blank line", "dn: CN=a\ncn: a\ndn: CN=b\n", 3, "second \"dn:\""},
        {"no colon", "dn: CN=a\nthis is text\n", 2, "expected"},
        {"bad attribute name", "dn: CN=a\nc n: a\n", 2, "not a valid attribute name"},
        {"bad base64 character", "dn: CN=a\nb:: AB!=\n", 2, "base64"},
        {"base64 without padding", "dn: CN=a\nb:: QQ\n", 2, "base64"},
        {"base64 with padding inside", "dn: CN=a\nb:: Zg==Zg==\n", 2, "base64"},
        {"base64 with unused bits set", "dn: CN=a\nb:: QR==\n", 2, "base64"},
        {"NUL in a plain value", std::string("dn: CN=a\ncn: a\0b\n", 17), 2, "NUL"},
        {"bare CR in a plain value", "dn: CN=a\ncn: a\rb\n", 2, "carriage-return"},
        {"plain value starting with a colon after spaces", "dn: CN=a\ncn:  :x\n", 2, "must be base64"},
        {"continuation at the start", " dn: CN=a\n", 1, "continuation"},
        {"the error names the line where a folded line starts", "dn: CN=a\ncn: a\nb:: Q\n Q=\n =x\n", 3,
         "base64"},
    };
    for (const auto& [what, input, line, message] : rows) {
        std::vector<Entry> entries;
        ParseError error;
        EXPECT_EQ(Parse(input, Limits{}, &entries, &error), winerr::kInvalidData) << what;
        EXPECT_TRUE(entries.empty()) << what;
        EXPECT_EQ(error.line, line) << what << ": " << error.ToString();
        EXPECT_NE(error.message.find(message), std::string::npos) << what << ": " << error.message;
    }
}

TEST(LdifReadTest, LimitsAreEnforced) {
    const std::string twoEntries = "dn: CN=a\ncn: a\n\ndn: CN=b\ncn: b\n";
    const std::tuple<const char*, Limits, std::string, int32_t, size_t> rows[] = {
        {"input size", Limits{10, 100, 100, 100}, twoEntries, winerr::kFileTooLarge, 0},
        {"line length", Limits{1000, 12, 100, 100}, "dn: CN=a\ncn: 1234567890\n", winerr::kFileTooLarge, 2},
        {"entry count", Limits{1000, 100, 1, 100}, twoEntries, winerr::kFileTooLarge, 4},
        {"value count", Limits{1000, 100, 100, 1}, twoEntries, winerr::kFileTooLarge, 5},
        {"exactly at the limits", Limits{twoEntries.size(), 8, 2, 2}, twoEntries, 0, 0},
        {"a folded line's parts", Limits{1000, 9, 2, 2}, "dn: CN=a\ncn: 12\n 345\n", 0, 0},
    };
    for (const auto& [what, limits, input, code, line] : rows) {
        std::vector<Entry> entries;
        ParseError error;
        EXPECT_EQ(Parse(input, limits, &entries, &error), code) << what;
        EXPECT_EQ(error.line, line) << what << ": " << error.ToString();
        EXPECT_EQ(entries.empty(), code != 0) << what;
    }
}

TEST(LdifWriteTest, PlainOrBase64AndFolding) {
    const std::tuple<std::string, std::string> rows[] = {
        {"plain", "v: plain\n"},
        {"", "v:\n"},
        {" lead", "v:: IGxlYWQ=\n"},
        {":colon", "v:: OmNvbG9u\n"},
        {std::string("\0", 1), "v:: AA==\n"},
        {"J\xC3\xB6rg", "v:: SsO2cmc=\n"},
        {std::string(73, 'x'), "v: " + std::string(73, 'x') + "\n"},
        {std::string(74, 'x'), "v: " + std::string(73, 'x') + "\n x\n"},
        {std::string(73 + 75 + 1, 'y'),
         "v: " + std::string(73, 'y') + "\n " + std::string(75, 'y') + "\n y\n"},
    };
    for (const auto& [value, line] : rows) {
        std::string out;
        ASSERT_EQ(Write({Entry{"CN=a", {Attribute{"v", {value}}}, 0}}, &out), 0);
        EXPECT_EQ(out, "version: 1\n\ndn: CN=a\n" + line) << value;
    }
}

TEST(LdifWriteTest, RoundTrip) {
    std::string every;
    for (int b = 0; b < 256; ++b) {
        every += static_cast<char>(b);
    }
    const std::vector<Entry> entries = {
        {"", {{"objectClass", {"top"}}}, 0},
        {"CN=M\xC3\xBCller\\, Jo,OU=Staff,DC=corp,DC=example,DC=com",
         {{"objectClass", {"top", "person", "user"}},
          {"objectSid", {std::string("\x01\x05\0\0\0\0\0\x05\x15\0\0\0", 12)}},
          {"description", {"", " ", "  two  ", "#not a comment", std::string(500, 'z')}},
          {"msDS-ByteArray", {every + std::string(3000, '\xFF') + "<PolicyList/>#1764979200#"}},
          {"cn;lang-de", {"x"}}},
         0},
        {" CN=leading space", {}, 0},
    };
    std::string out;
    ASSERT_EQ(Write(entries, &out), 0);
    std::vector<Entry> back;
    ParseError error;
    ASSERT_EQ(Parse(out, Limits{}, &back, &error), 0) << error.ToString();
    EXPECT_EQ(Flatten(back, false), Flatten(entries, false));
}

TEST(LdifWriteTest, RefusesNamesThatCannotBeReadBack) {
    for (const char* name : {"", "a b", "changeType", "x;", "1."}) {
        std::string out = "old";
        EXPECT_EQ(Write({Entry{"CN=a", {Attribute{name, {"v"}}}, 0}}, &out), winerr::kInvalidParameter)
            << name;
        EXPECT_TRUE(out.empty()) << name;
    }
}

}  // namespace
}  // namespace korva::ldif
