// The policy list and its policies: the stored document, loading, the policy that applies, password tests.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>

#include "policy/policy_list.h"
#include "policy/rule_min_age.h"
#include "policy/scope.h"
#include "tests/policy/fake_directory.h"
#include "tests/policy/test_support.h"

namespace korva::testing {
namespace {

// Two policies for a.b; the first covers the Users container only.
const std::string kDocument =
    "<PolicyList version='1.8.0.1037'><Policy name='First'><Configuration>0</Configuration><Rule type='1'>"
    "<Enabled>1</Enabled><MinimumAge>60</MinimumAge></Rule><Scope type='2'><SID>a.b/Users</SID></Scope>"
    "</Policy><Policy name='Second'><Scope type='3'><SID>a.b</SID></Scope></Policy></PolicyList>";

constexpr const WChar* kListPath =
    KW("CN=QmhPasswordPolicy,CN=Valexor,CN=Quillmarsh,CN=Program Data,DC=a,DC=b,DC=c");

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    return text.replace(text.find(from), from.size(), to);
}

TEST(TimeSuffixTest, CutsOnlyATrailingNumberSignPair) {
    // text, what remains, the time found (null: none); the "#" just before the last one is not searched.
    const std::tuple<const char*, const char*, const char*> rows[] = {
        {"<a/>#77#", "<a/>", "77"},
        {"<a>#</a>##", "<a>", "</a>#"},
        {"<a/>##", "<a/>##", nullptr},
        {"<r>[#]</r>", "<r>[#]</r>", nullptr},
        {"###", "", "#"},
    };
    for (const auto& [input, remaining, time] : rows) {
        CapturedLog log;
        WString text = AsciiToWide(input);
        CPolicylist::RemoveTimeSuffix(log.log, &text);
        EXPECT_EQ(U8(text), remaining) << input;
        const WString found =
            time != nullptr ? KW("Found time '") + AsciiToWide(time) + KW("'.") : KW("Found");
        EXPECT_EQ(log.Has(found, kLogDebug), time != nullptr) << input;
        EXPECT_EQ(CPolicylist::DecodePolicyDocument(log.log, input, &text), 0);  // the bytes, decoded and cut
        EXPECT_EQ(U8(text), remaining) << input;
    }
}

// The document of the domain a.b.c in the fake directory; a user of a.b.
class PolicyTest : public ::testing::Test {
  protected:
    PolicyTest() {
        user_.SetType(ST_USERS);
        user_.SetName(KW("jo@a.b"));
        user_.SetCanonicalName(KW("a.b/Users/Jo"));
        directory_.AddDomainController(KW("a.b"));
    }
    ~PolicyTest() override {
        EXPECT_EQ(directory_.OpenObjects(), 0);
        EXPECT_EQ(directory_.OpenArrayAccesses(), 0);
    }
    int32_t LoadList(const std::string& bytes) {
        directory_.AddObject(kListPath, false).SetBytes(KW("msDS-ByteArray"), bytes);
        return list_.LoadFromDirectory(log_.log, KW("a.b.c"));
    }
    std::string Names() const {
        std::string names;
        for (const auto& policy : list_)
            names += U8(policy->GetName()) + ";";
        return names;
    }
    // Loads a policy named P with `children`, or one without a name when they are null.
    int32_t Load(const WChar* children) {
        const ParsedElement parsed =
            ParseElement(children != nullptr ? KW("<Policy name='P'>") + WString(children) + KW("</Policy>")
                                             : KW("<Policy/>"));
        policy_ = std::make_unique<CPolicy>(CPolicy::ForLoading{});  // a second load would add to the scopes
        return policy_->LoadFromXML(log_.log, parsed.element, nullptr);
    }

    FakeDirectory directory_;
    CapturedLog log_;
    CPolicylist list_;
    CScope user_;
    std::unique_ptr<CPolicy> policy_;
};

TEST_F(PolicyTest, VersionDecidesTheUnitOfMinimumAge) {
    const std::pair<const char*, int32_t> rows[] = {
        {"VERSION='1.8.0.1037'", 60}, {"version='1.8'", 60 * 1440}, {"", 60 * 1440}};
    for (const auto& [attribute, minutes] : rows) {
        EXPECT_EQ(LoadList(Replace(kDocument, "version='1.8.0.1037'", attribute) + "#77#"), 0) << log_.Dump();
        EXPECT_EQ(Names(), "First;Second;");
        const auto& rule = static_cast<const CRuleHistoryMinimumAge&>(*list_.front()->GetRules().front());
        EXPECT_EQ(rule.GetMinimumMinutes(), minutes) << attribute;
    }
    EXPECT_TRUE(log_.Has(KW("Found time '77'."), kLogDebug));
}

TEST_F(PolicyTest, DocumentAndFetchFailures) {
    using Op = FakeDirectory::Op;
    // document, failing operation, its fault (0: none), result, an Information line for -3, else an Error
    // line with the result
    const std::tuple<std::string, Op, int32_t, int32_t, const WChar*> rows[] = {
        {"<PolicyList><P name='x'>", Op::Get, 0, 1, KW("Failed to load XML from string.")},
        {"<Policies/>", Op::Get, 0, -12, KW("Can only process exactly 1 Policy list node, size '0'")},
        {"<PolicyList><PolicyList><P name='x'/></PolicyList></PolicyList>", Op::Get, 0, -12, KW("size '2'")},
        {"", Op::Get, 0, 87, KW("Unable to determine size of XML.")},
        {std::string("\0<PolicyList/>", 14), Op::Get, 0, -3, KW("No policy found in domain 'a.b.c'.")},
        {kDocument, Op::Get, kEAdsPropertyNotFound, -3, KW("No policy object found in Active Directoy.")},
        {kDocument, Op::BindObject, kInjected, kInjected, KW("Failed to bind policy object")},
        {kDocument, Op::ArrayAccess, kInjected, kInjected, KW("Unable to increment lock count")},
        {kDocument, Op::ArrayUnaccess, kInjected, kInjected, KW("Unable to decrement lock count")},
        {kDocument, Op::ArrayBounds, kInjected, kInjected, KW("Unable to get safe lowerbound")},
        {kDocument, Op::Get, kInjected, kInjected, KW("Unable to load policy object")},
        {"text", Op::Get, 0, kEAdsCantConvertDatatype, KW("Unable to load policy object")},
    };
    for (const auto& [bytes, op, fault, result, line] : rows) {
        SCOPED_TRACE(U8(line));
        log_.records.clear();
        list_.push_back(std::make_unique<CPolicy>());  // every load starts empty
        if (fault != 0) {
            directory_.FailNext(op, fault);
        }
        if (bytes == "text")  // a value of another kind
            directory_.AddObject(kListPath, false).SetText(KW("msDS-ByteArray"), KW("<PolicyList/>"));
        EXPECT_EQ(bytes == "text" ? list_.LoadFromDirectory(log_.log, KW("a.b.c")) : LoadList(bytes), result);
        EXPECT_TRUE(list_.empty());
        const bool error = result != -3;
        EXPECT_TRUE(log_.Has(line, error ? kLogError : kLogInformation, error ? result : 0)) << log_.Dump();
    }
}

TEST_F(PolicyTest, FailedPoliciesAndOtherNodesAreLeftOut) {
    EXPECT_EQ(LoadList("<PolicyList><!-- c --><?pi x?>text<![CDATA[c]]><Policy name='A'><Note/></Policy>"
                       "<Policy><Note/></Policy><Policy name='C'><Rule type='99'/></Policy>"
                       "<Anything name='D'><Note/></Anything></PolicyList>"),
              0);
    EXPECT_EQ(Names(), "A;D;");
    EXPECT_TRUE(log_.Has(KW("An error occurred loading policy from XML."), kLogError, -12));  // no name
    EXPECT_TRUE(log_.Has(KW("An error occurred loading policy from XML."), kLogError, -11));  // bad rule
    EXPECT_TRUE(log_.Has(KW("Skipping comment in policy list"), kLogDebug));
    EXPECT_TRUE(log_.Has(KW("Skipping text in policy list"), kLogWarning));
}

TEST_F(PolicyTest, FirstEnabledApplicablePolicy) {
    // document (empty: nothing loaded), user, result, the policy chosen
    const std::tuple<std::string, const WChar*, int32_t, const char*> rows[] = {
        {kDocument, KW("a.b/Users/Jo"), 0, "First"},  // both apply
        {kDocument, KW("a.b/Sales/Mary"), 0, "Second"},
        {Replace(kDocument, "<Configuration>0", "<Configuration>1"), KW("a.b/Users/Jo"), 0, "Second"},
        {kDocument, KW("c.d/Users/Jo"), -5, "(none)"},
        {"", KW("a.b/Users/Jo"), -4, "(none)"},
        // A policy without scopes never applies; one whose only scope cannot be refreshed is passed over; one
        // whose first scope cannot be refreshed applies through its second.
        {"<PolicyList><Policy name='None'><Configuration>0</Configuration></Policy><Policy name='Bad'>"
         "<Scope type='0'><SID>S-1-5-9</SID></Scope></Policy><Policy name='Two'><Scope type='0'><SID>S-1-5-9"
         "</SID></Scope><Scope type='3'><SID>a.b</SID></Scope></Policy></PolicyList>",
         KW("a.b/Users/Jo"), 0, "Two"},
    };
    for (const auto& [document, user, result, chosen] : rows) {
        SCOPED_TRACE(U8(user) + " " + document);
        list_.clear();
        if (!document.empty()) {
            ASSERT_EQ(LoadList(document), 0);
        }
        user_.SetCanonicalName(user);
        CPolicy* policy = reinterpret_cast<CPolicy*>(&user_);  // a stale value is cleared
        EXPECT_EQ(list_.GetApplicablePolicy(log_.log, user_, &policy), result) << log_.Dump();
        EXPECT_EQ(policy != nullptr ? U8(policy->GetName()) : "(none)", chosen);
    }
    EXPECT_TRUE(log_.Has(KW("Skipping policy 'First', because it is disabled."), kLogDebug));
    EXPECT_TRUE(log_.Has(KW("determine if policy 'Bad' applies"), kLogDebug, FakeDirectory::kNoneMapped));
    EXPECT_FALSE(log_.Has(KW("determine if policy 'Two' applies")));
}

TEST_F(PolicyTest, LoadFromXml) {
    // children of <Policy name='P'> (null: of a policy without a name), result, enabled, an Error line with
    // the result (-11 when 0), or null for none at all
    const std::tuple<const WChar*, int32_t, bool, const WChar*> rows[] = {
        {nullptr, -12, true, nullptr},  // no name: refused silently
        {KW(""), -12, true, KW("Policy is empty.")},
        {KW("<Configuration>1</Configuration>"), 0, false, nullptr},
        {KW("<Configuration>2</Configuration>"), 0, true, nullptr},
        {KW("<Configuration>3</Configuration>"), 0, false, nullptr},
        // A bad Configuration is fatal only when no Rule or Scope follows it.
        {KW("<Configuration>abc</Configuration><Rule type='2'><Enabled>1</Enabled></Rule>"), 0, true,
         KW("Failed to convert value of Configuration to integer.")},
        {KW("<Rule type='2'><Enabled>1</Enabled></Rule><Configuration>abc</Configuration>"), -11, true,
         KW("Failed to convert value of Configuration to integer.")},
        {KW("<Rule type='12'><Enabled>1</Enabled></Rule><Scope type='3'><SID>a.b</SID></Scope>"), -11, true,
         KW("An error occurred while loading rule from XML.")},
        {KW("<Scope><SID>a.b</SID></Scope>"), -11, true, KW("An error occurred loading policy from XML.")},
        {KW("<rule type='2'/><Note/>"), 0, true, nullptr},  // only children that are ignored
    };
    for (const auto& [children, result, enabled, error] : rows) {
        SCOPED_TRACE(U8(children));
        log_.records.clear();
        EXPECT_EQ(Load(children), result);
        EXPECT_EQ(policy_->IsEnabled(), enabled);
        EXPECT_TRUE(error != nullptr || (children == nullptr ? log_.records.empty() : log_.Errors() == 0))
            << log_.Dump();
        EXPECT_TRUE(error == nullptr || log_.Has(error, kLogError, result != 0 ? result : -11));
    }
}

TEST_F(PolicyTest, TestPassword) {
    const WChar* kThreeRules =
        KW("<Rule type='2'><Enabled>1</Enabled><MinimumLength>3</MinimumLength><Description>3</Description>"
           "</Rule><Rule type='3'><Enabled>1</Enabled><MaximumLength>4</MaximumLength><Description>at most 4"
           "</Description><Description languageid='7'>h\u00F6chstens 4</Description></Rule><Rule type='2'>"
           "<Enabled>0</Enabled><MinimumLength>50</MinimumLength></Rule><Rule type='3'><Enabled>1</Enabled>"
           "</Rule>");
    // rules, password, language, result, each tested rule's verdict ("+" accepted), feedback
    const std::tuple<const WChar*, const WChar*, uint32_t, int32_t, const char*, const WChar*> rows[] = {
        {kThreeRules, KW("abcdefg"), kLangEnglish, 0, "+-+", KW("H\r\n - at most 4\r\n")},
        {kThreeRules, KW("abcdefg"), kLangGerman, 0, "+-+", KW("H\r\n - h\u00F6chstens 4\r\n")},
        {kThreeRules, KW("abcd"), kLangEnglish, 0, "+++", KW("H\r\n")},
        {KW("<Rule type='2'><Enabled>0</Enabled></Rule>"), KW("abc"), kLangEnglish, 0, "", KW("H\r\n")},
        // A rule without a text for the language or English is named.
        {KW("<Rule type='3'><Enabled>1</Enabled><MaximumLength>2</MaximumLength><Description languageid='19'>"
            "maximaal 2</Description></Rule>"),
         KW("abc"), kLangGerman, 0, "-", KW("H\r\n - Maximum Password Length\r\n")},
        // The age rule cannot read the unknown user: the test ends there and the rules after it do not count.
        {KW("<Rule type='2'><Enabled>1</Enabled></Rule><Rule type='1'><Enabled>1</Enabled></Rule>"
            "<Rule type='3'><Enabled>1</Enabled><MaximumLength>1</MaximumLength></Rule>"),
         KW("abcdef"), kLangEnglish, FakeDirectory::kCrackFailed, "+", KW("H\r\n")},
        // So does an expression that cannot be evaluated, with -1.
        {KW("<Rule type='5'><Enabled>1</Enabled><Regex Type='0'>(abc</Regex></Rule>"
            "<Rule type='3'><Enabled>1</Enabled><MaximumLength>1</MaximumLength></Rule>"),
         KW("abcdef"), kLangEnglish, -1, "", KW("H\r\n")},
    };
    for (const auto& [rules, password, language, result, verdicts, expectedFeedback] : rows) {
        SCOPED_TRACE(U8(rules));
        ASSERT_EQ(Load(rules), 0) << log_.Dump();
        const bool accepted = std::string(verdicts).find('-') == std::string::npos;  // by every tested rule
        bool verdict = !accepted;
        std::vector<bool> results{false};
        WString feedback = KW("H");
        EXPECT_EQ(policy_->TestPassword(log_.log, &verdict, &user_, password, KW("old"), &feedback, &results,
                                        language),
                  result);
        std::string marks;
        for (const bool ruleResult : results)
            marks += ruleResult ? "+" : "-";
        EXPECT_EQ(marks, verdicts);
        EXPECT_EQ(verdict, accepted);
        EXPECT_EQ(U8(feedback), U8(expectedFeedback));
    }
    EXPECT_TRUE(log_.Has(KW("An error occurred while testing password for userscope 'jo@a.b'"), kLogError,
                         FakeDirectory::kCrackFailed));
}

}  // namespace
}  // namespace korva::testing
