// Distinguished names: equal spellings, refused texts, parents, ancestry and canonical names.
#include "directory/dn.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace korva::dn {
namespace {

std::string Key(const std::string& text) {
    std::string key;
    return Normalize(text, &key) ? key : "(refused)";
}

TEST(DnTest, SpellingsOfTheSameName) {
    // Two texts and whether they name the same entry.
    const std::tuple<const char*, const char*, bool> rows[] = {
        {"CN=Alex Berg,OU=IT,DC=corp,DC=example", "cn=alex berg,ou=it,dc=CORP,dc=Example", true},
        {"CN=Alex Berg , OU=IT,DC=corp", "CN=Alex Berg,OU=IT,DC=corp", true},
        {"CN=a;OU=b", "CN=a,OU=b", true},
        {"CN=Berg\\, Alex,OU=IT", "CN=Berg\\2C Alex,OU=IT", true},
        {"CN=\"Berg, Alex\",OU=IT", "CN=Berg\\, Alex,OU=IT", true},
        {"CN=\\ lead\\ ", "CN=\\20lead\\20", true},
        {"CN=a+UID=b,DC=x", "UID=b+CN=a,DC=x", true},
        {"CN=M\\C3\\BCller", "CN=M\xC3\xBCller", true},
        {"", "   ", true},
        {"CN=Berg\\, Alex,OU=IT", "CN=Berg,CN=Alex,OU=IT", false},
        {"CN=\\ a", "CN=a", false},
        {"CN=#04024869", "CN=\\#04024869", false},
        {"CN=a+CN=b", "CN=a,CN=b", false},
    };
    for (const auto& [a, b, same] : rows) {
        EXPECT_NE(Key(a), "(refused)") << a;
        EXPECT_EQ(Key(a) == Key(b), same) << a << " / " << b;
    }
}

TEST(DnTest, RefusesWhatIsNoDn) {
    for (const char* text : {"CN", "CN=a,", "CN=a,,OU=b", "=a", "CN=a\\", "CN=a\\4", "CN=a\\4x", "CN=\"open",
                             "CN=\"a\"b", "C N=a", "CN=a+", "CN=#0", "CN=#zz", "CN=a,OU"}) {
        std::vector<Rdn> rdns;
        EXPECT_FALSE(Parse(text, &rdns)) << text;
        EXPECT_TRUE(rdns.empty()) << text;
    }
}

TEST(DnTest, ParentsAndAncestors) {
    const std::string user = Key("CN=Berg\\, Alex,OU=IT,DC=corp,DC=example");
    EXPECT_EQ(ParentKey(user), Key("OU=IT,DC=corp,DC=example"));
    EXPECT_EQ(ParentKey(Key("DC=example")) + ParentKey(""), "");
    // Below means after a separator: not after a longer type, nor after a comma escaped by an odd count of
    // backslashes.
    const std::tuple<std::string, std::string, bool> rows[] = {
        {user, Key("DC=corp,DC=example"), true},
        {user, user, true},
        {user, "", true},
        {Key("DC=corp,DC=example"), user, false},
        {"cn=a,dc=xcorp", "dc=corp", false},
        {"cn=a,xdc=corp", "dc=corp", false},
        {"ou=a\\,dc=corp", "dc=corp", false},
        {"ou=a\\\\,dc=corp", "dc=corp", true},
        {"ou=a\\\\\\,dc=corp", "dc=corp", false},
        {"\\,dc=corp", "dc=corp", false},
    };
    for (const auto& [key, ancestor, below] : rows) {
        EXPECT_EQ(IsSameOrBelow(key, ancestor), below) << key << " / " << ancestor;
    }
}

TEST(DnTest, CanonicalNames) {
    const std::pair<const char*, const char*> rows[] = {
        {"CN=Alex Berg,OU=Operators,OU=IT,DC=corp,DC=example,DC=com",
         "corp.example.com/IT/Operators/Alex Berg"},
        {"DC=corp,DC=example,DC=com", "corp.example.com/"},
        {"CN=a\\/b,OU=x/y,DC=c", "c/x\\/y/a\\/b"},
        {"CN=a,O=b", "(none)"},
        {"", "(none)"},
        {"DC=a,CN=b", "(none)"},
    };
    for (const auto& [text, canonical] : rows) {
        std::vector<Rdn> rdns;
        ASSERT_TRUE(Parse(text, &rdns)) << text;
        std::string result = "x";
        EXPECT_EQ(ToCanonicalName(rdns, &result) ? result : "(none)" + result, canonical) << text;
    }
}

TEST(DnTest, EscapedValuesReadBack) {
    for (const std::string& value :
         std::vector<std::string>{"plain", "Berg, Alex", " lead", "trail ", "#hash", "a+b=c", "q\"uo<t>e;",
                                  "back\\slash", std::string("nul\0x", 5), "mid#dle"}) {
        std::vector<Rdn> rdns;
        ASSERT_TRUE(Parse("CN=" + EscapeValue(value) + ",DC=x", &rdns)) << value;
        ASSERT_EQ(rdns.size(), 2u) << value;
        EXPECT_EQ(rdns[0][0].value, value);
    }
}

}  // namespace
}  // namespace korva::dn
