// The similarity rules: verdicts against the old password and the user's names, the names gathered from a
// fake directory with injected failures, ratio elements and their texts, built-in rules.
#include "policy/rule_similarity.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <functional>

#include "policy/scope.h"
#include "tests/policy/fake_directory.h"
#include "tests/policy/log_capture.h"

namespace korva {
namespace {

using testing::FakeDirectory;
using testing::LogCapture;
using testing::Narrow;
using testing::ParsedElement;
using testing::ParseElement;

constexpr int32_t kEFail = static_cast<int32_t>(0x80004005u);

// --- old password ---

TEST(PasswordSimilarityRule, VerdictsAtTheDefaultRatio) {
    struct Case {
        const WChar* oldPassword;
        const WChar* newPassword;
        bool valid;
    };
    const Case cases[] = {
        {KW("Secret2024"), KW("Secret2025"), false},       // 0.9 both ways
        {KW("Secret2024"), KW("xyzSecret2024xyz"), true},  // 1.0 one way, 0.0 the other
        {KW("Secret2024"), KW("Secret2024!"), false},      // 1.0 and 0.909
        {KW("abcdefghi"), KW("abcdXfghi"), false},         // 0.888
        {KW("abcdefghij"), KW("XbXdXXghij"), true},        // four edits in ten characters
        {KW("Secret2024"), KW("sECRET2024"), true},        // case counts
        {nullptr, KW("Secret2024"), true},                 // nothing to compare with
        {nullptr, nullptr, true},
        {KW(""), KW(""), false},  // both empty: 1.0
        {KW(""), nullptr, false},
        {KW(""), KW("Secret2024"), true},
    };
    auto rule = CreatePasswordSimilarityRule(true);
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.oldPassword) + " -> " + Narrow(c.newPassword));
        LogCapture capture;
        bool valid = !c.valid;
        EXPECT_EQ(rule->Test(capture.log, &valid, nullptr, c.newPassword, nullptr, c.oldPassword), 0);
        EXPECT_EQ(valid, c.valid);
        EXPECT_EQ(
            capture.HasMessage(kLogDebug, KW("Password rejected, it is too similar to previous password.")),
            !c.valid);
    }
}

TEST(PasswordSimilarityRule, LogsTheValueNeverThePasswords) {
    auto rule = CreatePasswordSimilarityRule(true);
    LogCapture capture;
    bool valid = true;
    EXPECT_EQ(rule->Test(capture.log, &valid, nullptr, KW("Secret2025"), nullptr, KW("Secret2024")), 0);
    EXPECT_TRUE(capture.HasMessage(kLogDebug, KW("Similarity with old password = 0.900000 ")))
        << capture.Dump();
    EXPECT_EQ(capture.Count(KW("Secret")), 0u);

    // Without the check nothing is compared or logged.
    auto off = CreatePasswordSimilarityRule(false);
    LogCapture quiet;
    valid = false;
    EXPECT_EQ(off->Test(quiet.log, &valid, nullptr, KW("Secret2024"), nullptr, KW("Secret2024")), 0);
    EXPECT_TRUE(valid);
    EXPECT_TRUE(quiet.lines.empty());
}

// --- loading ---

struct LoadedRule {
    ParsedElement parsed;
    std::unique_ptr<CRuleBase> rule;
    LogCapture capture;
    int32_t result = 0;
};

std::unique_ptr<LoadedRule> Load(std::unique_ptr<CRuleBase> rule, const WString& xmlText,
                                 const std::function<void(xml::Document&)>& arm = {}) {
    auto loaded = std::make_unique<LoadedRule>();
    loaded->parsed = ParseElement(xmlText, KW("Rule"));
    if (arm)
        arm(*loaded->parsed.document);
    loaded->rule = std::move(rule);
    loaded->result = loaded->rule->LoadFromXML(loaded->capture.log, loaded->parsed.element, nullptr);
    return loaded;
}

const CRulePasswordSimilarity& AsPassword(const LoadedRule& loaded) {
    return dynamic_cast<const CRulePasswordSimilarity&>(*loaded.rule);
}
const CRuleNameSimilarity& AsName(const LoadedRule& loaded) {
    return dynamic_cast<const CRuleNameSimilarity&>(*loaded.rule);
}

TEST(SimilarityRule, RatioTexts) {
    struct Case {
        const WChar* text;
        float ratio;
        bool convertible;
    };
    const Case cases[] = {
        {KW("0.5"), 0.5f, true},    {KW("1"), 1.0f, true},       {KW("0.8"), 0.8f, true},
        {KW("-"), 0.0f, true},      {KW("-0.25"), -0.25f, true}, {KW("1."), 1.0f, true},
        {KW("007"), 7.0f, true},    {KW(".5"), 0.8f, false},     {KW("0,8"), 0.8f, false},
        {KW("1.2.3"), 0.8f, false}, {KW(" 0.5"), 0.8f, false},   {KW("0.5 "), 0.8f, false},
        {KW("1e2"), 0.8f, false},   {KW("+0.5"), 0.8f, false},   {KW(""), 0.8f, false},
        {KW("--1"), 0.8f, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.text));
        // The first child sets 0.3 so that a conversion failure visibly puts 0.8 back.
        auto loaded = Load(std::make_unique<CRulePasswordSimilarity>(),
                           WString(KW("<Rule type='7'><PasswordRatio Enabled='1'>0.3</PasswordRatio>")
                                       KW("<PasswordRatio Enabled='1'>")) +
                               c.text + KW("</PasswordRatio></Rule>"));
        EXPECT_EQ(loaded->result, 0);
        EXPECT_EQ(AsPassword(*loaded).GetPasswordRatio(), c.ratio);
        EXPECT_TRUE(AsPassword(*loaded).GetCheckPassword());
        EXPECT_EQ(loaded->capture.HasWithCode(kLogError, -11,
                                              KW("Failed to convert value of similarity ratio to float.")),
                  !c.convertible)
            << loaded->capture.Dump();
    }
}

TEST(SimilarityRule, StringToFloatRanges) {
    float value = 1.0f;
    EXPECT_FALSE(StringToFloat(nullptr, &value));
    EXPECT_EQ(value, 0.0f);
    // Beyond the float range: the largest float of that sign; below it: zero.
    const WString huge = WString(KW("1")) + WString(60, u'0');
    EXPECT_TRUE(StringToFloat(huge.c_str(), &value));
    EXPECT_EQ(value, FLT_MAX);
    const WString negativeHuge = KW("-") + huge;
    EXPECT_TRUE(StringToFloat(negativeHuge.c_str(), &value));
    EXPECT_EQ(value, -FLT_MAX);
    const WString tiny = WString(KW("0.")) + WString(60, u'0') + KW("1");
    EXPECT_TRUE(StringToFloat(tiny.c_str(), &value));
    EXPECT_EQ(value, 0.0f);
}

TEST(SimilarityRule, EnabledAttributeOfARatio) {
    struct Case {
        const WChar* element;
        int32_t result;
        bool check;
        float ratio;
        const WChar* errorLine;  // logged with code -11 (with the rule's "using defaults" line when failing)
    };
    const Case cases[] = {
        {KW("<PasswordRatio Enabled='1'>0.5</PasswordRatio>"), 0, true, 0.5f, nullptr},
        {KW("<PasswordRatio Enabled='7'>0.5</PasswordRatio>"), 0, true, 0.5f, nullptr},
        {KW("<PasswordRatio Enabled='0'>0.5</PasswordRatio>"), 0, false, 0.5f, nullptr},
        {KW("<PasswordRatio Enabled='-2'>0.5</PasswordRatio>"), 0, false, 0.5f, nullptr},
        // Not a number: logged, the flag keeps its value, the ratio is still read.
        {KW("<PasswordRatio Enabled='yes'>0.5</PasswordRatio>"), 0, false, 0.5f,
         KW("Failed to convert value of enabled attribute of similarity rule to integer.")},
        // "Enabled" is required: the defaults stay and the rule reports -11.
        {KW("<PasswordRatio>0.5</PasswordRatio>"), -11, false, 0.8f,
         KW("Failed to extract information about password similarity, using defaults.")},
        // The attribute name is exact.
        {KW("<PasswordRatio enabled='1'>0.5</PasswordRatio>"), -11, false, 0.8f,
         KW("Failed to extract information about password similarity, using defaults.")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.element));
        auto loaded = Load(std::make_unique<CRulePasswordSimilarity>(),
                           WString(KW("<Rule type='7'>")) + c.element + KW("<Enabled>1</Enabled></Rule>"));
        EXPECT_EQ(loaded->result, c.result);
        EXPECT_EQ(AsPassword(*loaded).GetCheckPassword(), c.check);
        EXPECT_EQ(AsPassword(*loaded).GetPasswordRatio(), c.ratio);
        EXPECT_TRUE(loaded->rule->IsEnabled());  // the shared children are read in every case
        if (c.errorLine != nullptr) {
            EXPECT_TRUE(loaded->capture.HasWithCode(kLogError, -11, c.errorLine)) << loaded->capture.Dump();
        } else {
            EXPECT_EQ(loaded->capture.CountAtLevel(kLogError), 0u) << loaded->capture.Dump();
            EXPECT_TRUE(loaded->capture.HasMessage(kLogDebug,
                                                   KW("Successfully set settings for password similarity.")));
        }
    }
}

TEST(SimilarityRule, EachRuleReadsItsOwnRatios) {
    const WString element = KW("<Rule type='4'><Enabled>1</Enabled>")
        KW("<PasswordRatio Enabled='1'>0.6</PasswordRatio><UsernameRatio Enabled='1'>0.7</UsernameRatio>")
            KW("<FullnameRatio Enabled='0'>0.9</FullnameRatio></Rule>");
    auto password = Load(std::make_unique<CRulePasswordSimilarity>(), element);
    EXPECT_EQ(password->result, 0);
    EXPECT_TRUE(AsPassword(*password).GetCheckPassword());
    EXPECT_EQ(AsPassword(*password).GetPasswordRatio(), 0.6f);
    EXPECT_TRUE(password->capture.HasMessage(kLogDebug, KW("Load similarity rule data from XML.")));

    auto name = Load(std::make_unique<CRuleNameSimilarity>(), element);
    EXPECT_EQ(name->result, 0);
    EXPECT_TRUE(AsName(*name).GetCheckUsername());
    EXPECT_EQ(AsName(*name).GetUsernameRatio(), 0.7f);
    EXPECT_FALSE(AsName(*name).GetCheckFullname());
    EXPECT_EQ(AsName(*name).GetFullnameRatio(), 0.9f);
    EXPECT_TRUE(
        name->capture.HasMessage(kLogDebug, KW("Successfully set settings for username similarity.")));
    EXPECT_TRUE(
        name->capture.HasMessage(kLogDebug, KW("Successfully set settings for full name similarity.")));
    EXPECT_EQ(name->capture.Count(KW("password similarity")), 0u);

    // A rule whose element has no ratio child keeps the defaults.
    auto bare =
        Load(std::make_unique<CRuleNameSimilarity>(), KW("<Rule type='6'><Enabled>1</Enabled></Rule>"));
    EXPECT_EQ(bare->result, 0);
    EXPECT_FALSE(AsName(*bare).GetCheckUsername());
    EXPECT_EQ(AsName(*bare).GetUsernameRatio(), 0.8f);
}

TEST(SimilarityRule, LoadFailuresFromTheDocument) {
    struct Case {
        const char* what;
        xml::Op op;
        const WChar* node;
        int32_t result;
        const WChar* hresultLine;
        bool sharedChildren;
    };
    const Case cases[] = {
        {"has children", xml::Op::HasChildren, KW("Rule"), kEFail,
         KW("Failed to determine if rule node has children."), false},
        {"child list", xml::Op::ChildNodes, KW("Rule"), kEFail,
         KW("An error occurred getting similarity rule data."), false},
        {"a child's name", xml::Op::BaseName, KW("Other"), kEFail,
         KW("An error occurred getting base name of child."), true},
        // An unreadable "Enabled" attribute is logged and the ratio element counts as read, text unread.
        {"enabled attribute", xml::Op::GetAttribute, KW("UsernameRatio"), 0,
         KW("Failed to get enabled attribute."), true},
        {"ratio text", xml::Op::Text, KW("UsernameRatio"), kEFail,
         KW("Failed to get value of ratio of similarity."), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto loaded =
            Load(std::make_unique<CRuleNameSimilarity>(),
                 KW("<Rule type='6'><Other/><UsernameRatio Enabled='1'>0.5</UsernameRatio>")
                     KW("<Enabled>1</Enabled></Rule>"),
                 [&c](xml::Document& document) { document.Faults().FailNext(c.op, kEFail, c.node); });
        EXPECT_EQ(loaded->result, c.result);
        EXPECT_TRUE(loaded->capture.HasHResult(kLogError, kEFail, c.hresultLine)) << loaded->capture.Dump();
        EXPECT_EQ(loaded->rule->IsEnabled(), c.sharedChildren);
    }

    // A text that cannot be read puts the defaults back and names the failure with its code.
    auto text = Load(std::make_unique<CRuleNameSimilarity>(),
                     KW("<Rule type='6'><UsernameRatio Enabled='1'>0.5</UsernameRatio></Rule>"),
                     [](xml::Document& document) {
                         document.Faults().FailNext(xml::Op::Text, kEFail, KW("UsernameRatio"));
                     });
    EXPECT_FALSE(AsName(*text).GetCheckUsername());
    EXPECT_EQ(AsName(*text).GetUsernameRatio(), 0.8f);
    EXPECT_TRUE(text->capture.HasWithCode(
        kLogError, kEFail, KW("Failed to extract information about username similarity, using defaults.")));

    auto empty = Load(std::make_unique<CRulePasswordSimilarity>(), KW("<Rule type='7'></Rule>"));
    EXPECT_EQ(empty->result, -12);
    EXPECT_TRUE(empty->capture.HasWithCode(kLogError, -12, KW("Rule is empty.")));
    // The shared children are not read: "Rule is empty." appears once.
    EXPECT_EQ(empty->capture.Count(KW("Rule is empty.")), 1u);
}

// --- names ---

const WChar* const kUserDn = KW("CN=John Smith,OU=Sales,DC=a,DC=b");
const WChar* const kUserCanonical = KW("a.b/Sales/John Smith");

// A directory with John Smith (logon name jsmith) and a user scope for him.
struct NameFixture : ::testing::Test {
    NameFixture() {
        directory.AddCanonicalName(kUserCanonical, kUserDn);
        directory.AddObject(kUserDn)
            .SetUserProperty(UserProperty::FirstName, KW("John"))
            .SetUserProperty(UserProperty::LastName, KW("Smith"))
            .SetUserProperty(UserProperty::FullName, KW("John Smith"))
            .SetText(KW("sAMAccountName"), KW("JSMITH"));
        user.SetType(ST_USERS);
        user.SetCanonicalName(kUserCanonical);
        user.SetName(KW("jsmith@a.b"));
    }
    ~NameFixture() override {
        EXPECT_EQ(directory.OpenObjects(), 0);  // every bound object was released
    }

    bool Verdict(const CRuleBase& rule, const WChar* password, const WChar* reserved = nullptr) {
        bool valid = false;
        capture = std::make_unique<LogCapture>();
        auto copy = rule.Clone();
        EXPECT_EQ(copy->Test(capture->log, &valid, &user, password, reserved, nullptr), 0);
        return valid;
    }

    FakeDirectory directory;
    CScope user;
    std::unique_ptr<LogCapture> capture;
};

TEST_F(NameFixture, FullNameComparisonsIgnoreCase) {
    auto rule = CreateNameSimilarityRule(false, true);
    struct Case {
        const WChar* password;
        bool valid;
    };
    const Case cases[] = {
        {KW("johnsmith1"), true},  // 0.9 one way, 0.0 the other
        {KW("JOHN"), false},       // the first name, case ignored
        {KW("John1"), true},       // a 5-character pattern allows no edit
        {KW("smith"), false},      // the last name
        {KW("jsmith"), false},     // the account name, case ignored
        {KW("johnsmith"), false},  // the full name without its blank: one edit either way
        {KW("Tr0ub4dor&3"), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.password));
        EXPECT_EQ(Verdict(*rule, c.password), c.valid) << capture->Dump();
        EXPECT_EQ(
            capture->HasMessage(kLogDebug, KW("Password rejected, it is too similar to the users name.")),
            !c.valid);
        EXPECT_EQ(capture->Count(KW("Similarity of ")), 4u);
        EXPECT_EQ(capture->Count(c.password), 0u);  // the password itself is never logged
    }
    Verdict(*rule, KW("x"));
    EXPECT_TRUE(capture->HasMessage(kLogDebug, KW("Testing similarities: fullname=TRUE username=FALSE")));
    EXPECT_TRUE(
        capture->HasMessage(kLogDebug, KW("Created LDAP query: LDAP://CN=John Smith,OU=Sales,DC=a,DC=b")));
    EXPECT_TRUE(capture->HasMessage(
        kLogDebug, KW("Found the following values: \"John\" \"Smith\" \"John Smith\" \"JSMITH\".")));
    EXPECT_TRUE(capture->HasMessage(kLogDebug, KW("Similarity of John = 0.000000 ")));
}

TEST_F(NameFixture, LogonNameComparisonsCountCase) {
    auto rule = CreateNameSimilarityRule(true, false);
    struct Case {
        const WChar* upn;
        const WChar* password;
        bool valid;
    };
    const Case cases[] = {
        {KW("jsmith@a.b"), KW("jsmith1"), false},  // 0.857
        {KW("jsmith@a.b"), KW("JSmith"), true},    // two capitals are two edits
        {KW("jsmith@a.b"), KW("jsmith"), false},
        {KW("jsmith@a.b"), KW("johnsmith"), true},
        // Without an "@" (an account name kept in place of a principal name) there is no logon name.
        {KW("jsmith"), KW("jsmith"), true},
        {nullptr, KW("jsmith"), true},
        {KW("@a.b"), KW("jsmith"), true},
        // No logon name and no password: both missing count as equal.
        {KW("jsmith"), KW(""), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.upn) + " / " + Narrow(c.password));
        user.SetName(c.upn != nullptr ? WStringView(c.upn) : WStringView());
        EXPECT_EQ(Verdict(*rule, c.password), c.valid) << capture->Dump();
        EXPECT_EQ(
            capture->HasMessage(kLogDebug, KW("Password rejected, it is too similar to the users login.")),
            !c.valid);
        // Without the full-name check the directory is not asked.
        EXPECT_EQ(directory.CountCalls(KW("BindObject")), 0u);
    }
    user.SetName(KW("jsmith@a.b"));
    Verdict(*rule, KW("jsmith1"));
    EXPECT_TRUE(capture->HasMessage(kLogDebug, KW("Similarity of jsmith = 0.857143 "))) << capture->Dump();
}

TEST_F(NameFixture, LogonNameAfterTheNamesRefused) {
    auto rule = CreateNameSimilarityRule(true, true);
    // Refused by the names: the logon name is compared only when the reserved argument is given.
    EXPECT_FALSE(Verdict(*rule, KW("JOHN")));
    EXPECT_EQ(capture->Count(KW("Similarity of ")), 4u);
    EXPECT_FALSE(Verdict(*rule, KW("JOHN"), KW("")));
    EXPECT_EQ(capture->Count(KW("Similarity of ")), 5u);
    // Passed by the names, refused by the logon name (here different from the account name).
    user.SetName(KW("js@a.b"));
    EXPECT_FALSE(Verdict(*rule, KW("js")));
    EXPECT_TRUE(
        capture->HasMessage(kLogDebug, KW("Password rejected, it is too similar to the users login.")));
    EXPECT_TRUE(Verdict(*rule, KW("Tr0ub4dor&3")));
}

TEST_F(NameFixture, MissingNamesAndAnEmptyPassword) {
    // Only the first name is known.
    directory.AddObject(kUserDn).userProperties.erase(UserProperty::LastName);
    auto rule = CreateNameSimilarityRule(false, true);
    EXPECT_TRUE(Verdict(*rule, KW("anything")));
    // An empty password is "as missing as" a missing name: 1.0, refused.
    EXPECT_FALSE(Verdict(*rule, KW("")));
    EXPECT_TRUE(capture->HasMessage(kLogDebug, KW("Similarity of (null) = 1.000000 "))) << capture->Dump();
}

TEST_F(NameFixture, DirectoryFailures) {
    enum class Form { WithCode, HResult };
    struct Case {
        const char* what;
        FakeDirectory::Op op;
        int32_t code;
        bool namesCompared;   // the names were still compared
        int32_t summaryCode;  // the code of the "unable to test" line; 0 when there is none
        uint32_t level;       // level of the failure line
        Form form;
        const WChar* line;
    };
    const Case cases[] = {
        {"canonical name", FakeDirectory::Op::CanonicalToDistinguishedName, -6, false, -6, kLogError,
         Form::WithCode,
         KW("Failed to convert canonical name 'a.b/Sales/John Smith' to distinguished name.")},
        {"bind", FakeDirectory::Op::BindObject, kEFail, false, -7, kLogError, Form::HResult,
         KW("Failed to bind user object in Active Directoy.")},
        {"property cache", FakeDirectory::Op::GetInfo, kEFail, true, 0, kLogDebug, Form::HResult,
         KW("Failed to load property cache of bound object.")},
        {"first name", FakeDirectory::Op::GetUserProperty, kEFail, true, 0, kLogDebug, Form::HResult,
         KW("Failed to get first name of bound object.")},
        {"account name", FakeDirectory::Op::Get, kEFail, true, 0, kLogDebug, Form::HResult,
         KW("Failed to get sAMAccount name of bound object.")},
    };
    auto rule = CreateNameSimilarityRule(true, true);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        directory.FailNext(c.op, c.code);
        // "jsmith" is the account name and the logon name: refused whenever the names are compared; when they
        // cannot be gathered the password passes and not even the logon name is compared.
        EXPECT_EQ(Verdict(*rule, KW("jsmith")), !c.namesCompared) << capture->Dump();
        EXPECT_EQ(
            capture->HasWithCode(kLogError, c.summaryCode,
                                 KW("An error occurred while retrieving user information, unable to test "
                                    "password for similiarities.")),
            c.summaryCode != 0)
            << capture->Dump();
        if (c.form == Form::WithCode) {
            EXPECT_TRUE(capture->HasWithCode(c.level, c.code, c.line)) << capture->Dump();
        } else {
            EXPECT_TRUE(capture->HasHResult(c.level, c.code, c.line)) << capture->Dump();
        }
    }
    // A failed first name leaves that name missing; the others are still read.
    directory.FailNext(FakeDirectory::Op::GetUserProperty, kEFail);
    Verdict(*rule, KW("x"));
    EXPECT_TRUE(capture->HasMessage(
        kLogDebug, KW("Found the following values: \"(null)\" \"Smith\" \"John Smith\" \"JSMITH\".")));
    // An account name that is not text cannot be read as one.
    directory.AddObject(kUserDn).SetTexts(KW("sAMAccountName"), {KW("a"), KW("b")});
    Verdict(*rule, KW("x"));
    EXPECT_TRUE(capture->HasHResult(kLogDebug, kEAdsCantConvertDatatype,
                                    KW("Failed to get sAMAccount name of bound object.")));
}

TEST_F(NameFixture, GetUserNamesAfterAFailedBind) {
    // The directory's names are missing and -7 is reported, but the logon name is still gathered.
    directory.FailNext(FakeDirectory::Op::BindObject, kEFail);
    CRuleNameSimilarity both({}, true, true);
    LogCapture log;
    UserNames names;
    EXPECT_EQ(GetUserNames(log.log, both, &user, &names), -7);
    EXPECT_EQ(names.logonName, KW("jsmith"));
    EXPECT_TRUE(names.firstName.empty());
    EXPECT_TRUE(names.accountName.empty());
}

// --- built-in rules ---

TEST(SimilarityRule, BuiltInRules) {
    auto password = CreatePasswordSimilarityRule(true);
    const auto& p = dynamic_cast<const CRulePasswordSimilarity&>(*password);
    EXPECT_EQ(p.GetType(), 7);
    EXPECT_TRUE(p.GetCheckPassword());
    EXPECT_EQ(p.GetPasswordRatio(), 0.8f);
    EXPECT_FALSE(p.IsEnabled());
    EXPECT_EQ(p.GetDescriptions().size(), 13u);
    EXPECT_EQ(WString(p.GetDescription(kLangEnglish)), KW("The password may not resemble the old password."));
    EXPECT_EQ(WString(p.GetDescription(kLangFrench)),
              KW("Le nouveau mot de passe ne doit pas ressembler \u00E0 l\u2019ancien mot de passe."));
    EXPECT_EQ(WString(p.GetDescription(kLangChinese)),
              KW("\u5BC6\u7801\u4E0D\u80FD\u548C\u65E7\u5BC6\u7801\u96F7\u540C\u3002"));

    auto name = CreateNameSimilarityRule(true, false);
    const auto& n = dynamic_cast<const CRuleNameSimilarity&>(*name);
    EXPECT_EQ(n.GetType(), 6);
    EXPECT_TRUE(n.GetCheckUsername());
    EXPECT_FALSE(n.GetCheckFullname());
    EXPECT_EQ(n.GetUsernameRatio(), 0.8f);
    EXPECT_EQ(n.GetFullnameRatio(), 0.8f);
    EXPECT_EQ(n.GetDescriptions().size(), 13u);
    EXPECT_EQ(WString(n.GetDescription(kLangEnglish)),
              KW("The password may not resemble personal information such as the username."));
    // The Russian text has no final full stop.
    EXPECT_EQ(WString(n.GetDescription(kLangRussian)).back(), u'\u044F');
    EXPECT_EQ(WString(n.GetDescription(kLangGerman)),
              KW("Das Passwort darf keine \u00C4hnlichkeit mit pers\u00F6nlichen Informationen wie den "
                 "Benutzernamen besitzen."));
}

TEST(SimilarityRule, CloneCopiesEverything) {
    auto loaded =
        Load(std::make_unique<CRuleNameSimilarity>(),
             KW("<Rule type='6'><Enabled>1</Enabled><Description languageid='19'>Niet</Description>")
                 KW("<UsernameRatio Enabled='1'>0.25</UsernameRatio>")
                     KW("<FullnameRatio Enabled='1'>0.75</FullnameRatio></Rule>"));
    auto copy = loaded->rule->Clone();
    const auto& n = dynamic_cast<const CRuleNameSimilarity&>(*copy);
    EXPECT_TRUE(n.IsEnabled());
    EXPECT_TRUE(n.GetCheckUsername());
    EXPECT_TRUE(n.GetCheckFullname());
    EXPECT_EQ(n.GetUsernameRatio(), 0.25f);
    EXPECT_EQ(n.GetFullnameRatio(), 0.75f);
    EXPECT_EQ(WString(n.GetDescription(kLangDutch)), KW("Niet"));

    auto password =
        Load(std::make_unique<CRulePasswordSimilarity>(),
             KW("<Rule type='7'><Enabled>1</Enabled><PasswordRatio Enabled='1'>0.4</PasswordRatio></Rule>"));
    auto passwordCopy = password->rule->Clone();
    const auto& p = dynamic_cast<const CRulePasswordSimilarity&>(*passwordCopy);
    EXPECT_TRUE(p.IsEnabled());
    EXPECT_TRUE(p.GetCheckPassword());
    EXPECT_EQ(p.GetPasswordRatio(), 0.4f);
}

}  // namespace
}  // namespace korva
