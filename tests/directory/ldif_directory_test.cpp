// The offline directory: searches, limits, changes made through sessions, and files it refuses to load.
#include "directory/ldif_directory.h"

#include <gtest/gtest.h>

#include <tuple>

#include <algorithm>
#include <string>
#include <vector>

#include "directory/dn.h"
#include "directory/ldap_filter.h"
#include "directory/sid_text.h"
#include "tests/directory/ldif_test_support.h"

namespace korva::testing {
namespace {

using namespace platform;

constexpr const char* kDomain = "DC=corp,DC=example,DC=test";

constexpr auto& U8 = Utf16ToUtf8;
constexpr auto& W = Utf8ToUtf16;
const auto Value = [](std::string_view text) { return LdapValue(text.begin(), text.end()); };

// The first RDN's value of each entry, in the order returned, joined with "|".
std::string Names(const std::vector<LdapEntry>& entries) {
    std::string names;
    for (const LdapEntry& e : entries) {
        std::vector<dn::Rdn> rdns;
        names += (names.empty() ? "" : "|") +
                 (dn::Parse(U8(e.dn), &rdns) && !rdns.empty() ? rdns[0][0].value : "<" + U8(e.dn) + ">");
    }
    return names;
}

// A SID's text as the bytes objectSid holds.
std::string SidValue(const char* text) {
    SidBytes sid;
    EXPECT_EQ(TextToSid(W(text), &sid), 0) << text;
    return std::string(sid.begin(), sid.end());
}

class LdifDirectoryTest : public ::testing::Test {
  protected:
    void SetUp() override { LoadDirectory("small_domain.ldif", &directory_, &session_); }

    // Runs a search and returns the names found; `status` receives the result.
    std::string Find(const std::string& base, LdapScope scope, const std::string& filter,
                     int32_t* status = nullptr, const std::vector<WString>& attributes = {KW("1.1")}) {
        std::vector<LdapEntry> out;
        const int32_t result = session_->Search(W(base), scope, W(filter), attributes, &out);
        if (status != nullptr) {
            *status = result;
        } else {
            EXPECT_EQ(result, 0) << base << " " << filter << ": " << U8(session_->LastServerMessage());
        }
        return Names(out);
    }

    // The one entry a base search of `base` returns, with `attributes`.
    LdapEntry Read(const std::string& base, const std::vector<WString>& attributes) {
        std::vector<LdapEntry> out;
        EXPECT_EQ(session_->Search(W(base), LdapScope::Base, KW("(objectClass=*)"), attributes, &out), 0)
            << base << ": " << U8(session_->LastServerMessage());
        return out.size() == 1 ? out[0] : LdapEntry{};
    }

    // The values of `attribute` in `entry` as text, joined with "|"; "-" when the entry does not have it.
    static std::string Values(const LdapEntry& entry, const WChar* attribute) {
        const LdapAttribute* a = entry.Find(attribute);
        if (a == nullptr) {
            return "-";
        }
        std::string text;
        for (const LdapValue& v : a->values) {
            text += (text.empty() ? "" : "|") + std::string(v.begin(), v.end());
        }
        return text;
    }

    std::unique_ptr<LdifDirectory> directory_;
    std::unique_ptr<platform::LdapSession> session_;
};

TEST_F(LdifDirectoryTest, ScopesStayInsideTheirNamingContext) {
    const std::string configuration = std::string("CN=Configuration,") + kDomain;
    const std::tuple<std::string, LdapScope, std::string> rows[] = {
        {kDomain, LdapScope::Base, "corp"},
        {kDomain, LdapScope::OneLevel, "Users|IT|Staff|Loop|Newsletter"},
        {kDomain, LdapScope::Subtree,
         "corp|Users|Domain Users|IT|Alex Berg|Berg, Mia|Operators|Staff|Loop|Newsletter"},
        {"ou=it , dc=CORP,dc=example,dc=test", LdapScope::OneLevel, "Alex Berg|Berg, Mia|Operators"},
        {"CN=Berg\\2C Mia,OU=IT," + std::string(kDomain), LdapScope::Base, "Berg, Mia"},
        {configuration, LdapScope::Subtree, "Configuration|Partitions|CORP|OTHER"},
        {"<SID=S-1-5-21-1-2-3-1105>", LdapScope::Base, "Berg, Mia"},
    };
    for (const auto& [base, scope, names] : rows) {
        EXPECT_EQ(Find(base, scope, "(objectClass=*)"), names) << base << " " << static_cast<int>(scope);
    }
}

TEST_F(LdifDirectoryTest, BasesThatDoNotResolve) {
    const std::tuple<std::string, LdapScope, int32_t> rows[] = {
        {std::string("OU=Nowhere,") + kDomain, LdapScope::Subtree, kLdapNoSuchObject},
        {"<SID=S-1-5-21-1-2-3-9999>", LdapScope::Base, kLdapNoSuchObject},
        {"<SID=not a sid>", LdapScope::Base, kLdapInvalidDnSyntax},
        {"CN=a,,DC=x", LdapScope::Base, kLdapInvalidDnSyntax},
        {"", LdapScope::Subtree, kLdapNoSuchObject},  // the root DSE answers base searches only
        {kDomain, static_cast<LdapScope>(7), kLdapParamError},
    };
    for (const auto& [base, scope, expected] : rows) {
        int32_t status = 0;
        EXPECT_EQ(Find(base, scope, "(objectClass=*)", &status), "") << base;
        EXPECT_EQ(status, expected) << base;
        EXPECT_FALSE(session_->LastServerMessage().empty()) << base;
    }
}

TEST_F(LdifDirectoryTest, Filters) {
    const std::tuple<std::string, std::string> rows[] = {
        {"(sAMAccountName=ALEX.BERG)", "Alex Berg"},
        {"(&(objectClass=user)(givenName=M\xC3\xAD"
         "a))",
         "Berg, Mia"},
        {"(objectSid=S-1-5-21-1-2-3-1104)", "Alex Berg"},
        {"(objectSid=" + ldapfilter::EscapeValue(SidValue("S-1-5-21-1-2-3-1105")) + ")", "Berg, Mia"},
        {"(objectSid=S-1-5-21-1-2-3-1104-0)", ""},
        {"(member=CN=ALEX BERG,OU=IT,DC=corp,DC=example,DC=test)", "Operators|Newsletter"},
        {"(memberOf=cn=operators,ou=it,dc=corp,dc=example,dc=test)", "Alex Berg|Berg, Mia"},
        {"(&(objectClass=group)(!(groupType:1.2.840.113556.1.4.803:=2147483648)))", "Newsletter"},
        {"(userAccountControl:1.2.840.113556.1.4.803:=2)", "Berg, Mia"},
        {"(userAccountControl:1.2.840.113556.1.4.804:=6)", "Berg, Mia"},
        {"(pwdLastSet>=1)", "Alex Berg"},
        {"(pwdLastSet=00)", "Berg, Mia"},
        {"(|(cn=Alex*)(sAMAccountName=*berg))", "Alex Berg|Berg, Mia"},
        {"(sAMAccountName=a*x*rg)", "Alex Berg"},
        {"(sAMAccountName=al*lex*)", ""},
        {"sAMAccountName=mia.berg", "Berg, Mia"},
        {"(pwdLastSet<=0)", "Berg, Mia"},
        {"(sAMAccountName=mia\\2e*)", "Berg, Mia"},
        {"(givenName~=ALEX)", "Alex Berg"},
        {"(!(objectClass=group))", "corp|Users|IT|Alex Berg|Berg, Mia"},
        {"(canonicalName=*)", ""},  // computed, so no filter finds it
        {"(&)", "corp|Users|Domain Users|IT|Alex Berg|Berg, Mia|Operators|Staff|Loop|Newsletter"},
    };
    for (const auto& [filter, names] : rows) {
        EXPECT_EQ(Find(kDomain, LdapScope::Subtree, filter), names) << filter;
    }
}

TEST_F(LdifDirectoryTest, InChainFollowsNestingAndCycles) {
    const std::string alex = std::string("CN=Alex Berg,OU=IT,") + kDomain;
    const std::string staff = std::string("CN=Staff,") + kDomain;
    const std::pair<std::string, std::string> rows[] = {
        // Every group Alex is in, however deep: Staff through Operators, Loop through Staff.
        {"(member:1.2.840.113556.1.4.1941:=" + alex + ")", "Operators|Staff|Loop|Newsletter"},
        // Everybody inside Staff: the cycle through Loop brings Staff itself back.
        {"(memberOf:1.2.840.113556.1.4.1941:=" + staff + ")", "Alex Berg|Berg, Mia|Operators|Staff|Loop"},
        {"(&(objectClass=user)(memberOf:1.2.840.113556.1.4.1941:=" + staff + "))", "Alex Berg|Berg, Mia"},
        {"(memberOf:=" + std::string("CN=Operators,OU=IT,") + kDomain + ")", "Alex Berg|Berg, Mia"},
    };
    for (const auto& [filter, names] : rows) {
        EXPECT_EQ(Find(kDomain, LdapScope::Subtree, filter), names) << filter;
    }
}

TEST_F(LdifDirectoryTest, FiltersRefused) {
    const std::pair<std::string, int32_t> rows[] = {
        {"(cn=a", kLdapFilterError},
        {"", kLdapFilterError},
        {"(cn:1.2.3.4:=a)", kLdapUnwillingToPerform},
    };
    for (const auto& [filter, code] : rows) {
        int32_t status = 0;
        EXPECT_EQ(Find(kDomain, LdapScope::Subtree, filter, &status), "") << filter;
        EXPECT_EQ(status, code) << filter;
    }
}

TEST_F(LdifDirectoryTest, AttributesReturned) {
    const std::string alex = std::string("CN=Alex Berg,OU=IT,") + kDomain;
    // All ordinary attributes: the stored ones plus memberOf, distinguishedName and name; nothing computed.
    LdapEntry all = Read(alex, {});
    EXPECT_EQ(U8(all.dn), alex);
    EXPECT_EQ(Values(all, KW("memberof")), "CN=Operators,OU=IT,DC=corp,DC=example,DC=test|" +
                                               std::string("CN=Newsletter,DC=corp,DC=example,DC=test"));
    EXPECT_EQ(Values(all, KW("distinguishedName")), alex);
    EXPECT_EQ(Values(all, KW("name")), "Alex Berg");
    EXPECT_EQ(Values(all, KW("objectClass")), "top|person|user");
    EXPECT_EQ(Values(all, KW("objectSid")), SidValue("S-1-5-21-1-2-3-1104"));
    EXPECT_EQ(Values(all, KW("canonicalName")), "-");
    EXPECT_EQ(Values(all, KW("tokenGroups")), "-");
    ASSERT_NE(all.Find(KW("PWDLASTSET")), nullptr);
    EXPECT_EQ(U8(all.Find(KW("PWDLASTSET"))->name), "pwdLastSet");  // the stored spelling

    // Named attributes only, computed ones included; unknown names are left out.
    LdapEntry some = Read(alex, {KW("CANONICALNAME"), KW("sn"), KW("noSuchAttribute"), KW("sn")});
    ASSERT_EQ(some.attributes.size(), 2u);
    EXPECT_EQ(Values(some, KW("canonicalName")), "corp.example.test/IT/Alex Berg");
    EXPECT_EQ(Values(some, KW("sn")), "Berg");
    EXPECT_EQ(Values(Read(kDomain, {KW("canonicalName")}), KW("canonicalName")), "corp.example.test/");
    // Mia's memberOf is stored, not derived, and is kept as written.
    EXPECT_EQ(Values(Read("CN=Berg\\, Mia,OU=IT," + std::string(kDomain), {KW("memberOf")}), KW("memberOf")),
              "CN=Operators,OU=IT,DC=corp,DC=example,DC=test");
    // "1.1" asks for no attributes; "*" and a computed name ask for both.
    EXPECT_TRUE(Read(alex, {KW("1.1")}).attributes.empty());
    LdapEntry star = Read(alex, {KW("*"), KW("canonicalName")});
    EXPECT_NE(star.Find(KW("cn")), nullptr);
    EXPECT_NE(star.Find(KW("canonicalName")), nullptr);
}

TEST_F(LdifDirectoryTest, TokenGroupsHoldNestedSecurityGroupsForBaseSearchesOnly) {
    const std::string alex = std::string("CN=Alex Berg,OU=IT,") + kDomain;
    const LdapEntry entry = Read(alex, {KW("tokenGroups")});
    const LdapAttribute* groups = entry.Find(KW("tokenGroups"));
    ASSERT_NE(groups, nullptr);
    std::vector<std::string> sids;
    for (const LdapValue& v : groups->values) {
        WString text;
        EXPECT_EQ(SidToText(SidBytes(v.begin(), v.end()), &text), 0);
        sids.push_back(U8(text));
    }
    std::sort(sids.begin(), sids.end());
    // Domain Users (primary), Operators, Staff and Loop; not the distribution list Newsletter (1113).
    EXPECT_EQ(sids, (std::vector<std::string>{"S-1-5-21-1-2-3-1110", "S-1-5-21-1-2-3-1111",
                                              "S-1-5-21-1-2-3-1112", "S-1-5-21-1-2-3-513"}));
    std::vector<LdapEntry> out;
    ASSERT_EQ(session_->Search(W(std::string("OU=IT,") + kDomain), LdapScope::Subtree, KW("(cn=Alex Berg)"),
                               {KW("tokenGroups"), KW("cn")}, &out),
              0);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].Find(KW("tokenGroups")), nullptr);
}

TEST(LdifDirectoryRootTest, AStoredRootDseWinsAndDrawsThePartitions) {
    // The file's own root DSE names only the domain, so CN=Configuration is part of it here.
    const std::string text =
        "dn:\nnamingContexts: DC=x\ndefaultNamingContext: DC=x\ndnsHostName: dc1.x\n\n"
        "dn: DC=x\nobjectClass: domainDNS\n\ndn: CN=Configuration,DC=x\nobjectClass: configuration\n";
    std::unique_ptr<LdifDirectory> directory;
    ldif::ParseError error;
    ASSERT_EQ(LdifDirectory::Load(text, ldif::Limits{}, &directory, &error), 0) << error.ToString();
    std::unique_ptr<platform::LdapSession> session;
    ASSERT_EQ(directory->Open(platform::LdapSettings{}, &session), 0);
    std::vector<LdapEntry> out;
    ASSERT_EQ(session->Search(KW(""), LdapScope::Base, KW("(objectClass=*)"), {}, &out), 0);
    ASSERT_EQ(out.size(), 1u);
    ASSERT_NE(out[0].Find(KW("dnsHostName")), nullptr);
    ASSERT_EQ(session->Search(KW("DC=x"), LdapScope::Subtree, KW("(objectClass=*)"), {KW("1.1")}, &out), 0);
    EXPECT_EQ(Names(out), "x|Configuration");
}

TEST_F(LdifDirectoryTest, SizeLimitAndDeadline) {
    platform::LdapSettings settings;
    settings.sizeLimit = 3;
    std::unique_ptr<platform::LdapSession> limited;
    ASSERT_EQ(directory_->Open(settings, &limited), 0);
    std::vector<LdapEntry> out;
    // More matches than the limit: result 4 with the first three.
    EXPECT_EQ(limited->Search(W(kDomain), LdapScope::Subtree, KW("(objectClass=*)"), {KW("1.1")}, &out),
              kLdapSizeLimitExceeded);
    EXPECT_EQ(Names(out), "corp|Users|Domain Users");
    // Exactly as many as the limit is a success.
    EXPECT_EQ(limited->Search(W(kDomain), LdapScope::Subtree, KW("(objectClass=group)"), {KW("1.1")}, &out),
              kLdapSizeLimitExceeded);
    EXPECT_EQ(limited->Search(W(kDomain), LdapScope::OneLevel, KW("(objectClass=group)"), {KW("1.1")}, &out),
              0);
    EXPECT_EQ(Names(out), "Staff|Loop|Newsletter");

    // A deadline that has passed fails every call without looking at the data.
    session_->SetDeadline(std::chrono::steady_clock::now() - std::chrono::seconds(1));
    EXPECT_EQ(session_->Search(W(kDomain), LdapScope::Base, KW("(objectClass=*)"), {}, &out), kLdapTimeout);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(session_->Add(KW("CN=New,DC=corp,DC=example,DC=test"), {{KW("objectClass"), {Value("top")}}}),
              kLdapTimeout);
    EXPECT_EQ(session_->Modify(W(kDomain), {}), kLdapTimeout);
    // A session whose budget is spent before it is used.
    settings.budgetMs = 0;
    std::unique_ptr<platform::LdapSession> spent;
    ASSERT_EQ(directory_->Open(settings, &spent), 0);
    EXPECT_EQ(spent->Search(W(kDomain), LdapScope::Base, KW("(objectClass=*)"), {}, &out), kLdapTimeout);
}

TEST_F(LdifDirectoryTest, AddAndModifyAreSeenByEverySessionAndKeepBackLinks) {
    const std::string alex = std::string("CN=Alex Berg,OU=IT,") + kDomain;
    const std::string staff = std::string("CN=Staff,") + kDomain;
    const std::string newGroup = std::string("CN=Auditors,OU=IT,") + kDomain;
    ASSERT_EQ(session_->Add(W(newGroup), {{KW("objectClass"), {Value("top"), Value("group")}},
                                          {KW("member"), {Value(alex)}}}),
              0);
    std::unique_ptr<platform::LdapSession> other;
    ASSERT_EQ(directory_->Open(platform::LdapSettings{}, &other), 0);
    std::vector<LdapEntry> out;
    ASSERT_EQ(other->Search(W(alex), LdapScope::Base, KW("(objectClass=*)"), {KW("memberOf")}, &out), 0);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(
        Values(out[0], KW("memberOf")),
        "CN=Operators,OU=IT,DC=corp,DC=example,DC=test|CN=Newsletter,DC=corp,DC=example,DC=test|" + newGroup);

    // Taking Alex out of Operators takes Operators out of his memberOf and his nested groups.
    ASSERT_EQ(session_->Modify(W(std::string("CN=Operators,OU=IT,") + kDomain),
                               {{LdapModOp::Delete, KW("member"), {Value(alex)}}}),
              0);
    EXPECT_EQ(Values(Read(alex, {KW("memberOf")}), KW("memberOf")),
              "CN=Newsletter,DC=corp,DC=example,DC=test|" + newGroup);
    EXPECT_EQ(Find(kDomain, LdapScope::Subtree, "(memberOf:1.2.840.113556.1.4.1941:=" + staff + ")"),
              "Berg, Mia|Operators|Staff|Loop");

    // Replace, add and delete values of an ordinary attribute.
    ASSERT_EQ(session_->Modify(W(alex), {{LdapModOp::Replace, KW("description"), {Value("one")}},
                                         {LdapModOp::Add, KW("description"), {Value("two")}},
                                         {LdapModOp::Delete, KW("DESCRIPTION"), {Value("ONE")}},
                                         {LdapModOp::Replace, KW("sn"), {}}}),
              0);
    const LdapEntry changed = Read(alex, {});
    EXPECT_EQ(Values(changed, KW("description")), "two");
    EXPECT_EQ(Values(changed, KW("sn")), "-");
}

TEST_F(LdifDirectoryTest, ChangesRefusedLeaveTheEntryAsItWas) {
    const std::string alex = std::string("CN=Alex Berg,OU=IT,") + kDomain;
    const std::vector<LdapAttribute> group = {{KW("objectClass"), {Value("group")}}};
    const std::tuple<const char*, int32_t, int32_t> adds[] = {
        {"existing entry, other spelling",
         session_->Add(KW("cn=alex berg,ou=IT,DC=corp,DC=example,DC=test"), group), kLdapAlreadyExists},
        {"missing parent", session_->Add(W(std::string("CN=x,OU=Nowhere,") + kDomain), group),
         kLdapNoSuchObject},
        {"bad DN", session_->Add(KW("CN=x,,DC=corp"), group), kLdapInvalidDnSyntax},
        {"no objectClass", session_->Add(W(std::string("CN=x,") + kDomain), {{KW("cn"), {Value("x")}}}),
         kLdapObjectClassViolation},
        {"attribute without values",
         session_->Add(W(std::string("CN=x,") + kDomain),
                       {{KW("objectClass"), {Value("group")}}, {KW("cn"), {}}}),
         kLdapParamError},
        {"same value twice",
         session_->Add(W(std::string("CN=x,") + kDomain),
                       {{KW("objectClass"), {Value("group"), Value("GROUP")}}}),
         kLdapAttributeOrValueExists},
        {"back-link",
         session_->Add(W(std::string("CN=x,") + kDomain), {group[0], {KW("memberOf"), {Value(kDomain)}}}),
         kLdapUnwillingToPerform},
    };
    for (const auto& [what, status, code] : adds) {
        EXPECT_EQ(status, code) << what;
    }
    EXPECT_EQ(Find(kDomain, LdapScope::Subtree, "(cn=x)"), "");

    const std::tuple<const char*, int32_t, int32_t> modifies[] = {
        {"missing entry", session_->Modify(W(std::string("CN=Nobody,") + kDomain), {}), kLdapNoSuchObject},
        {"bad DN", session_->Modify(KW("CN=a,,DC=x"), {}), kLdapInvalidDnSyntax},
        {"value not there",
         session_->Modify(W(alex), {{LdapModOp::Replace, KW("sn"), {Value("Changed")}},
                                    {LdapModOp::Delete, KW("givenName"), {Value("Nobody")}}}),
         kLdapNoSuchAttribute},
        {"attribute not there", session_->Modify(W(alex), {{LdapModOp::Delete, KW("mail"), {}}}),
         kLdapNoSuchAttribute},
        {"value there already",
         session_->Modify(W(alex), {{LdapModOp::Add, KW("sAMAccountName"), {Value("ALEX.BERG")}}}),
         kLdapAttributeOrValueExists},
        {"adding nothing", session_->Modify(W(alex), {{LdapModOp::Add, KW("mail"), {}}}), kLdapParamError},
        {"removing objectClass", session_->Modify(W(alex), {{LdapModOp::Delete, KW("objectClass"), {}}}),
         kLdapObjectClassViolation},
        {"back-link", session_->Modify(W(alex), {{LdapModOp::Replace, KW("memberOf"), {}}}),
         kLdapUnwillingToPerform},
    };
    for (const auto& [what, status, code] : modifies) {
        EXPECT_EQ(status, code) << what;
    }
    // The first change of the refused modification was not kept.
    EXPECT_EQ(Values(Read(alex, {KW("sn")}), KW("sn")), "Berg");
}

TEST(LdifDirectoryLoadTest, RefusesFilesThatAreNoDirectory) {
    const std::tuple<const char*, std::string, size_t, const char*> rows[] = {
        {"bad DN", "dn: DC=x\nobjectClass: top\n\ndn: CN=a,,DC=x\nobjectClass: top\n", 4, "not a valid"},
        {"DN twice", "dn: CN=a,DC=x\ncn: a\n\ndn: cn=A , dc=X\ncn: b\n", 4, "first is on line 1"},
        {"not LDIF", "dn: CN=a\nchangetype: delete\n", 2, "change records"},
    };
    for (const auto& [what, text, line, message] : rows) {
        std::unique_ptr<LdifDirectory> directory;
        ldif::ParseError error;
        EXPECT_EQ(LdifDirectory::Load(text, ldif::Limits{}, &directory, &error), winerr::kInvalidData)
            << what;
        EXPECT_FALSE(directory) << what;
        EXPECT_EQ(error.line, line) << what;
        EXPECT_NE(error.message.find(message), std::string::npos) << what << ": " << error.message;
    }
}

}  // namespace
}  // namespace korva::testing
