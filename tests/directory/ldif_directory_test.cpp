// The offline directory: searches, limits, changes made through sessions, and files it refuses to load.
#include "directory/ldif_directory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "directory/dn.h"
#include "tests/directory/ldif_test_support.h"

namespace korva::testing {
namespace {

using namespace platform;

const std::string kDomain = "DC=corp,DC=example,DC=test";
const std::string kAlex = "CN=Alex Berg,OU=IT," + kDomain;
const std::string kOperators = "CN=Operators,OU=IT," + kDomain;
const std::string kNewsletter = "CN=Newsletter," + kDomain;
const std::string kEverything =
    "0 corp|Users|Domain Users|IT|Alex Berg|Berg, Mia|Operators|Staff|Loop|Newsletter|Administrators|Guests|"
    "Replicator|Readers";

constexpr auto& U8 = Utf16ToUtf8;
constexpr auto& W = Utf8ToUtf16;
std::string Code(int32_t code) {
    return std::to_string(code) + " ";
}

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

// The values of `attribute` in `entry` as text, joined with "|"; "-" when the entry does not have it.
std::string Values(const LdapEntry& entry, const WChar* attribute) {
    const LdapAttribute* a = entry.Find(attribute);
    if (a == nullptr)
        return "-";
    std::string text;
    for (const LdapValue& v : a->values)
        text += (text.empty() ? "" : "|") + std::string(v.begin(), v.end());
    return text;
}

class LdifDirectoryTest : public ::testing::Test {
  protected:
    void SetUp() override { LoadDirectory("small_domain.ldif", &directory_, &session_); }

    // The status and the names a search finds: "0 Alex Berg"; a failure without a server message is marked.
    std::string Find(const std::string& base, LdapScope scope, const std::string& filter,
                     LdapSession* session = nullptr) {
        session = session != nullptr ? session : session_.get();
        std::vector<LdapEntry> out;
        const int32_t result = session->Search(W(base), scope, W(filter), {KW("1.1")}, &out);
        const bool silent = result != 0 && session->LastServerMessage().empty();
        return Code(result) + Names(out) + (silent ? " (no message)" : "");
    }

    // The one entry a base search of `base` returns, with `attributes`.
    LdapEntry Read(const std::string& base, const std::vector<WString>& attributes) {
        std::vector<LdapEntry> out;
        EXPECT_EQ(session_->Search(W(base), LdapScope::Base, KW("(objectClass=*)"), attributes, &out), 0)
            << base << ": " << U8(session_->LastServerMessage());
        return out.size() == 1 ? out[0] : LdapEntry{};
    }

    std::unique_ptr<LdifDirectory> directory_;
    std::unique_ptr<LdapSession> session_;
};

TEST_F(LdifDirectoryTest, ScopesAndBases) {
    const struct {
        std::string base;
        LdapScope scope;
        std::string found;
    } rows[] = {
        {kDomain, LdapScope::Base, "0 corp"},
        {kDomain, LdapScope::OneLevel, "0 Users|IT|Staff|Loop|Newsletter"},
        {kDomain, LdapScope::Subtree, kEverything},
        {"ou=it , dc=CORP,dc=example,dc=test", LdapScope::OneLevel, "0 Alex Berg|Berg, Mia|Operators"},
        {"CN=Berg\\2C Mia,OU=IT," + kDomain, LdapScope::Base, "0 Berg, Mia"},
        {"CN=Configuration," + kDomain, LdapScope::Subtree, "0 Configuration|Partitions|CORP|OTHER"},
        {"<SID=S-1-5-21-1-2-3-1105>", LdapScope::Base, "0 Berg, Mia"},
        {"OU=Nowhere," + kDomain, LdapScope::Subtree, Code(kLdapNoSuchObject)},
        {"<SID=S-1-5-21-1-2-3-9999>", LdapScope::Base, Code(kLdapNoSuchObject)},
        {"<SID=not a sid>", LdapScope::Base, Code(kLdapInvalidDnSyntax)},
        {"CN=a,,DC=x", LdapScope::Base, Code(kLdapInvalidDnSyntax)},
        {"", LdapScope::Subtree, Code(kLdapNoSuchObject)},  // the root DSE answers base searches only
        {kDomain, static_cast<LdapScope>(7), Code(kLdapParamError)},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(Find(r.base, r.scope, "(objectClass=*)"), r.found)
            << r.base << " " << static_cast<int>(r.scope);
    }
}

TEST_F(LdifDirectoryTest, Filters) {
    const std::string inChain = ":1.2.840.113556.1.4.1941:=";
    const std::pair<std::string, std::string> rows[] = {
        {"(sAMAccountName=ALEX.BERG)", "0 Alex Berg"},
        {"(&(objectClass=user)(givenName=M\u00EDa))", "0 Berg, Mia"},
        {"(objectSid=S-1-5-21-1-2-3-1104)", "0 Alex Berg"},
        {"(objectSid=S-1-5-21-1-2-3-1104-0)", "0 "},
        {"(member=CN=ALEX BERG,OU=IT," + kDomain + ")", "0 Operators|Newsletter"},
        {"(memberOf=cn=operators,ou=it,dc=corp,dc=example,dc=test)", "0 Alex Berg|Berg, Mia"},
        {"(memberOf:=" + kOperators + ")", "0 Alex Berg|Berg, Mia"},
        {"(&(objectClass=group)(!(groupType:1.2.840.113556.1.4.803:=2147483648)))", "0 Newsletter"},
        {"(userAccountControl:1.2.840.113556.1.4.803:=2)", "0 Berg, Mia"},
        {"(userAccountControl:1.2.840.113556.1.4.804:=6)", "0 Berg, Mia"},
        {"(pwdLastSet>=1)", "0 Alex Berg"},
        {"(pwdLastSet=00)", "0 Berg, Mia"},
        {"(pwdLastSet<=0)", "0 Berg, Mia"},
        {"(pwdLastSet>=9223372036854775808)", "0 "},  // past the largest 64-bit integer: no number
        {"(|(cn=Alex*)(sAMAccountName=*berg))", "0 Alex Berg|Berg, Mia"},
        {"(sAMAccountName=a*x*rg)", "0 Alex Berg"},
        {"(sAMAccountName=al*lex*)", "0 "},
        {"sAMAccountName=mia.berg", "0 Berg, Mia"},
        {"(sAMAccountName=mia\\2e*)", "0 Berg, Mia"},
        {"(givenName~=ALEX)", "0 Alex Berg"},
        {"(!(objectClass=group))", "0 corp|Users|IT|Alex Berg|Berg, Mia"},
        {"(canonicalName=*)", "0 "},  // computed, so no filter finds it
        {"(&)", kEverything},
        // In chain: every group Alex is in however deep, not only Operators; Staff and Loop hold each other.
        {"(member" + inChain + kAlex + ")", "0 Operators|Staff|Loop|Newsletter"},
        {"(memberOf" + inChain + "CN=Staff," + kDomain + ")", "0 Alex Berg|Berg, Mia|Operators|Staff|Loop"},
        {"(&(objectClass=user)(memberOf" + inChain + "CN=Staff," + kDomain + "))", "0 Alex Berg|Berg, Mia"},
        {"(cn=a", Code(kLdapFilterError)},
        {"(cn:1.2.3.4:=a)", Code(kLdapUnwillingToPerform)},
    };
    for (const auto& [filter, found] : rows) {
        EXPECT_EQ(Find(kDomain, LdapScope::Subtree, filter), found) << filter;
    }
}

TEST_F(LdifDirectoryTest, AttributesReturned) {
    // All ordinary attributes: the stored ones plus memberOf, distinguishedName and name; nothing computed.
    const LdapEntry all = Read(kAlex, {});
    EXPECT_EQ(U8(all.dn), kAlex);
    EXPECT_EQ(Values(all, KW("memberof")), kOperators + "|" + kNewsletter);
    EXPECT_EQ(Values(all, KW("distinguishedName")), kAlex);
    EXPECT_EQ(Values(all, KW("name")), "Alex Berg");
    EXPECT_EQ(Values(all, KW("canonicalName")) + Values(all, KW("tokenGroups")), "--");
    ASSERT_NE(all.Find(KW("PWDLASTSET")), nullptr);
    EXPECT_EQ(U8(all.Find(KW("PWDLASTSET"))->name), "pwdLastSet");  // the stored spelling

    // Named attributes only, computed ones included; unknown names are left out.
    const LdapEntry some = Read(kAlex, {KW("CANONICALNAME"), KW("sn"), KW("noSuchAttribute"), KW("sn")});
    ASSERT_EQ(some.attributes.size(), 2u);
    EXPECT_EQ(Values(some, KW("canonicalName")), "corp.example.test/IT/Alex Berg");
    EXPECT_EQ(Values(some, KW("sn")), "Berg");
    // "1.1" asks for no attributes; "*" and a computed name ask for both.
    EXPECT_TRUE(Read(kAlex, {KW("1.1")}).attributes.empty());
    const LdapEntry star = Read(kAlex, {KW("*"), KW("canonicalName")});
    EXPECT_EQ(Values(star, KW("cn")) + "|" + Values(star, KW("canonicalName")),
              "Alex Berg|corp.example.test/IT/Alex Berg");
}

TEST_F(LdifDirectoryTest, TokenGroupsHoldNestedSecurityGroupsForBaseSearchesOnly) {
    const LdapEntry alex = Read(kAlex, {KW("tokenGroups")});
    ASSERT_NE(alex.Find(KW("tokenGroups")), nullptr);
    std::vector<std::string> sids;
    for (const LdapValue& v : alex.Find(KW("tokenGroups"))->values) {
        WString text;
        EXPECT_EQ(SidToText(SidBytes(v.begin(), v.end()), &text), 0);
        sids.push_back(U8(text));
    }
    std::sort(sids.begin(), sids.end());
    // Domain Users (primary), Operators, Staff and Loop; not the distribution list Newsletter (1113).
    EXPECT_EQ(sids, (std::vector<std::string>{"S-1-5-21-1-2-3-1110", "S-1-5-21-1-2-3-1111",
                                              "S-1-5-21-1-2-3-1112", "S-1-5-21-1-2-3-513"}));
    std::vector<LdapEntry> out;
    ASSERT_EQ(session_->Search(W("OU=IT," + kDomain), LdapScope::Subtree, KW("(cn=Alex Berg)"),
                               {KW("tokenGroups"), KW("cn")}, &out),
              0);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(Values(out[0], KW("tokenGroups")), "-");
}

TEST_F(LdifDirectoryTest, SizeLimitAndDeadline) {
    LdapSettings settings;
    settings.sizeLimit = 3;
    std::unique_ptr<LdapSession> limited;
    ASSERT_EQ(directory_->Open(settings, &limited), 0);
    // More matches than the limit: the first three; exactly as many as the limit is a success.
    EXPECT_EQ(Find(kDomain, LdapScope::Subtree, "(objectClass=*)", limited.get()),
              Code(kLdapSizeLimitExceeded) + "corp|Users|Domain Users");
    EXPECT_EQ(Find(kDomain, LdapScope::OneLevel, "(objectClass=group)", limited.get()),
              "0 Staff|Loop|Newsletter");

    // A deadline that has passed fails every call without looking at the data.
    session_->SetDeadline(std::chrono::steady_clock::now() - std::chrono::seconds(1));
    EXPECT_EQ(Find(kDomain, LdapScope::Base, "(objectClass=*)"), Code(kLdapTimeout));
    EXPECT_EQ(session_->Add(W("CN=New," + kDomain), {{KW("objectClass"), {Value("top")}}}), kLdapTimeout);
    EXPECT_EQ(session_->Modify(W(kDomain), {}), kLdapTimeout);
    // A session whose budget is spent before it is used.
    settings.budgetMs = 0;
    std::unique_ptr<LdapSession> spent;
    ASSERT_EQ(directory_->Open(settings, &spent), 0);
    EXPECT_EQ(Find(kDomain, LdapScope::Base, "(objectClass=*)", spent.get()), Code(kLdapTimeout));
}

TEST_F(LdifDirectoryTest, AddAndModifyAreSeenByEverySessionAndKeepBackLinks) {
    const std::string auditors = "CN=Auditors,OU=IT," + kDomain;
    ASSERT_EQ(session_->Add(W(auditors), {{KW("objectClass"), {Value("top"), Value("group")}},
                                          {KW("member"), {Value(kAlex)}}}),
              0);
    std::unique_ptr<LdapSession> other;
    ASSERT_EQ(directory_->Open(LdapSettings{}, &other), 0);
    EXPECT_EQ(Find(kDomain, LdapScope::Subtree, "(member=" + kAlex + ")", other.get()),
              "0 Operators|Newsletter|Auditors");

    // Taking Alex out of Operators takes Operators out of his memberOf and his nested groups.
    ASSERT_EQ(session_->Modify(W(kOperators), {{LdapModOp::Delete, KW("member"), {Value(kAlex)}}}), 0);
    EXPECT_EQ(Values(Read(kAlex, {KW("memberOf")}), KW("memberOf")), kNewsletter + "|" + auditors);
    EXPECT_EQ(
        Find(kDomain, LdapScope::Subtree, "(memberOf:1.2.840.113556.1.4.1941:=CN=Staff," + kDomain + ")"),
        "0 Berg, Mia|Operators|Staff|Loop");

    // Replace, add and delete values of an ordinary attribute.
    ASSERT_EQ(session_->Modify(W(kAlex), {{LdapModOp::Replace, KW("description"), {Value("one")}},
                                          {LdapModOp::Add, KW("description"), {Value("two")}},
                                          {LdapModOp::Delete, KW("DESCRIPTION"), {Value("ONE")}},
                                          {LdapModOp::Replace, KW("sn"), {}}}),
              0);
    const LdapEntry changed = Read(kAlex, {});
    EXPECT_EQ(Values(changed, KW("description")) + "|" + Values(changed, KW("sn")), "two|-");
}

TEST_F(LdifDirectoryTest, ChangesRefusedLeaveTheEntryAsItWas) {
    const WString x = W("CN=x," + kDomain), alex = W(kAlex);
    const LdapAttribute group = {KW("objectClass"), {Value("group")}};
    const auto change = [](LdapModOp op, const WChar* name, std::vector<LdapValue> values = {}) {
        return LdapModification{op, name, std::move(values)};
    };
    const std::pair<int32_t, int32_t> rows[] = {
        {session_->Add(KW("cn=alex berg,ou=IT,DC=corp,DC=example,DC=test"), {group}), kLdapAlreadyExists},
        {session_->Add(W("CN=x,OU=Nowhere," + kDomain), {group}), kLdapNoSuchObject},
        {session_->Add(KW("CN=x,,DC=corp"), {group}), kLdapInvalidDnSyntax},
        {session_->Add(x, {{KW("cn"), {Value("x")}}}), kLdapObjectClassViolation},
        {session_->Add(x, {group, {KW("cn"), {}}}), kLdapParamError},
        {session_->Add(x, {{KW("objectClass"), {Value("group"), Value("GROUP")}}}),
         kLdapAttributeOrValueExists},
        {session_->Add(x, {group, {KW("memberOf"), {Value(kDomain)}}}), kLdapUnwillingToPerform},
        {session_->Modify(W("CN=Nobody," + kDomain), {}), kLdapNoSuchObject},
        {session_->Modify(KW("CN=a,,DC=x"), {}), kLdapInvalidDnSyntax},
        {session_->Modify(alex, {change(LdapModOp::Replace, KW("sn"), {Value("Changed")}),
                                 change(LdapModOp::Delete, KW("givenName"), {Value("Nobody")})}),
         kLdapNoSuchAttribute},
        {session_->Modify(alex, {change(LdapModOp::Delete, KW("mail"))}), kLdapNoSuchAttribute},
        {session_->Modify(alex, {change(LdapModOp::Add, KW("sAMAccountName"), {Value("ALEX.BERG")})}),
         kLdapAttributeOrValueExists},
        {session_->Modify(alex, {change(LdapModOp::Add, KW("mail"))}), kLdapParamError},
        {session_->Modify(alex, {change(LdapModOp::Delete, KW("objectClass"))}), kLdapObjectClassViolation},
        {session_->Modify(alex, {change(LdapModOp::Replace, KW("memberOf"))}), kLdapUnwillingToPerform},
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        EXPECT_EQ(rows[i].first, rows[i].second) << "row " << i;
    }
    EXPECT_EQ(Find(kDomain, LdapScope::Subtree, "(cn=x)"), "0 ");
    // The first change of the refused modification was not kept.
    EXPECT_EQ(Values(Read(kAlex, {KW("sn")}), KW("sn")), "Berg");
}

TEST_F(LdifDirectoryTest, RootDseAndPartitionsAndFilesThatAreNoDirectory) {
    const std::string partitions =
        "dn: DC=x\nobjectClass: domainDNS\n\ndn: CN=Configuration,DC=x\nobjectClass: configuration\n\n";
    const std::tuple<std::string, size_t, const char*> rows[] = {
        // Without a root DSE in the file: the domain, its configuration and schema are naming contexts.
        {partitions + "dn: CN=Schema,CN=Configuration,DC=x\nobjectClass: dMD\n", 0,
         "DC=x|CN=Configuration,DC=x|CN=Schema,CN=Configuration,DC=x;top;0 x"},
        // The file's own root DSE names only the domain, so CN=Configuration is part of it here.
        {"dn:\nnamingContexts: DC=x\n\n" + partitions, 0, "DC=x;-;0 x|Configuration"},
        {"dn: DC=x\nobjectClass: top\n\ndn: CN=a,,DC=x\nobjectClass: top\n", 4, "not a valid"},
        {"dn: CN=a,DC=x\ncn: a\n\ndn: cn=A , dc=X\ncn: b\n", 4, "first is on line 1"},
    };
    for (const auto& [text, line, expected] : rows) {
        std::unique_ptr<LdifDirectory> directory;
        ldif::ParseError error;
        const int32_t loaded = LdifDirectory::Load(text, ldif::Limits{}, &directory, &error);
        EXPECT_EQ(error.line, line) << expected;
        if (line != 0) {
            EXPECT_EQ(loaded, winerr::kInvalidData) << expected;
            EXPECT_FALSE(directory) << expected;
            EXPECT_NE(error.message.find(expected), std::string::npos) << expected << ": " << error.message;
            continue;
        }
        ASSERT_EQ(loaded, 0) << error.ToString();
        ASSERT_EQ(directory->Open(LdapSettings{}, &session_), 0);
        const LdapEntry root = Read("", {});
        EXPECT_EQ(Values(root, KW("namingContexts")) + ";" + Values(root, KW("objectClass")) + ";" +
                      Find("DC=x", LdapScope::Subtree, "(objectClass=*)"),
                  expected);
    }
}

}  // namespace
}  // namespace korva::testing
