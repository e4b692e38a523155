// The policy list and its policies: the stored document, loading, the policy that applies, password tests.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "policy/policy_list.h"
#include "policy/scope.h"
#include "tests/policy/fake_directory.h"
#include "tests/policy/test_support.h"
#include "tests/support/xml_faults.h"

namespace korva::testing {
namespace {

// Two policies for a.b; the first covers the Users container only.
const std::string kDocument =
    "<PolicyList version='1.8.0.1037'><Policy name='First'><Configuration>2</Configuration><Rule type='1'>"
    "<Enabled>1</Enabled><MinimumAge>60</MinimumAge></Rule><Scope type='2'><SID>a.b/Users</SID></Scope>"
    "</Policy><Policy name='Second'><Scope type='3'><SID>a.b</SID></Scope></Policy></PolicyList>";

constexpr const WChar* kListPath =
    KW("CN=QmhPasswordPolicy,CN=Valexor,CN=Quillmarsh,CN=Program Data,DC=a,DC=b,DC=c");

// The document of the domain a.b.c in the fake directory; a user of a.b.
class PolicyTest : public ::testing::Test {
  protected:
    PolicyTest() {
        user_.SetType(ST_USERS);
        user_.SetName(KW("jo@a.b"));
        user_.SetCanonicalName(KW("a.b/Users/Jo"));
        directory_.AddDomainController(KW("a.b"));
    }
    int32_t LoadList(const std::string& bytes) {
        FakeDirectory::Object& list = directory_.AddObject(kListPath, false);
        bytes == "text" ? list.SetText(KW("msDS-ByteArray"), KW("<PolicyList/>"))  // a value of another kind
                        : list.SetBytes(KW("msDS-ByteArray"), bytes);
        return list_.LoadFromDirectory(log_.log, KW("a.b.c"));
    }

    FakeDirectory directory_;
    CapturedLog log_;
    CPolicylist list_;
    CScope user_;
};

TEST_F(PolicyTest, DocumentAndFetchFailures) {
    using Op = FakeDirectory::Op;
    // document, failing operation, its fault (0: none), result, the line (Information for -3, else Error)
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
        directory_.FailNext(op, fault);
        EXPECT_EQ(LoadList(bytes), result);
        EXPECT_TRUE(list_.empty());
        const bool error = result != -3;
        EXPECT_TRUE(log_.Has(line, error ? kLogError : kLogInformation, error ? result : 0)) << log_.Dump();
    }
}

TEST_F(PolicyTest, FirstEnabledApplicablePolicy) {
    // document (empty: nothing loaded), user, result, the policy chosen
    const std::tuple<std::string, const WChar*, int32_t, const char*> rows[] = {
        {kDocument + "#77#", KW("a.b/Users/Jo"), 0, "First"},  // both apply; the time suffix is cut
        {kDocument, KW("a.b/Sales/Mary"), 0, "Second"},
        {kDocument, KW("c.d/Users/Jo"), -5, "(none)"},
        {"", KW("a.b/Users/Jo"), -4, "(none)"},
        // Passed over: comments, text, nameless, bad-rule, scopeless, disabled, unrefreshable policies; any
        // element holds a policy and its first scope may fail.
        {"<PolicyList><!-- c --><?pi x?>text<![CDATA[c]]><Policy><Scope type='3'><SID>a.b</SID></Scope>"
         "</Policy><Policy name='C'><Scope type='3'><SID>a.b</SID></Scope><Rule type='99'/></Policy>"
         "<Policy name='None'><Configuration>0</Configuration></Policy><Policy name='Off'><Configuration>3"
         "</Configuration><Scope type='3'><SID>a.b</SID></Scope></Policy><Policy name='Bad'><Scope type='0'>"
         "<SID>S-1-5-9</SID></Scope></Policy><Anything name='Two'><Scope type='0'><SID>S-1-5-9</SID></Scope>"
         "<Scope type='3'><SID>a.b</SID></Scope></Anything></PolicyList>",
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
    EXPECT_TRUE(log_.Has(KW("Found time '77'."), kLogDebug));
    EXPECT_TRUE(log_.Has(KW("Skipping policy 'Off', because it is disabled."), kLogDebug));
    EXPECT_TRUE(log_.Has(KW("An error occurred loading policy from XML."), kLogError, -12));  // no name
    EXPECT_TRUE(log_.Has(KW("An error occurred loading policy from XML."), kLogError, -11));  // bad rule
    EXPECT_TRUE(log_.Has(KW("Skipping comment in policy list"), kLogDebug));
    EXPECT_TRUE(log_.Has(KW("Skipping processing instruction in policy list"), kLogDebug));
    EXPECT_TRUE(log_.Has(KW("Skipping text in policy list"), kLogWarning));
    EXPECT_FALSE(log_.Has(KW("lock count")));  // the array was released without a fault
    EXPECT_TRUE(log_.Has(KW("determine if policy 'Bad' applies"), kLogDebug, winerr::kNoneMapped));
    EXPECT_FALSE(log_.Has(KW("determine if policy 'Two' applies")));
}

TEST_F(PolicyTest, TestPassword) {
    const WChar* kThreeRules = KW(
        "<Rule type='2'><Enabled>1</Enabled><MinimumLength>3</MinimumLength><Description>3</Description>"
        "</Rule><Rule type='3'><Enabled>1</Enabled><MaximumLength>4</MaximumLength><Description languageid="
        "'9'>first</Description><Description LanguageID='7'>h\u00F6chstens 4</Description><Description "
        "languageid=' 7'>at most 4</Description><Description languageid='1031'>any</Description></Rule>"
        "<Rule type='2'><Enabled>0</Enabled><MinimumLength>50</MinimumLength></Rule><Rule type='3'><Enabled>1"
        "</Enabled></Rule>");
    // rules, password, language, result, each tested rule's verdict ("+" accepted), feedback. Description's
    // attribute ignores case; a later text replaces an earlier one; a bad id means English.
    const std::tuple<const WChar*, const WChar*, uint32_t, int32_t, const char*, const WChar*> rows[] = {
        {kThreeRules, KW("abcdefg"), kLangEnglish, 0, "+-+", KW("H\r\n - at most 4\r\n")},
        {kThreeRules, KW("abcdefg"), kLangGerman, 0, "+-+", KW("H\r\n - h\u00F6chstens 4\r\n")},
        {kThreeRules, KW("abcdefg"), kLangFrench, 0, "+-+", KW("H\r\n - at most 4\r\n")},  // English
        {kThreeRules, KW("abcdefg"), 1031, 0, "+-+", KW("H\r\n - any\r\n")},
        {kThreeRules, KW("abcd"), kLangEnglish, 0, "+++", KW("H\r\n")},
        {KW("<Rule type='2'><Enabled>0</Enabled></Rule>"), KW("abc"), kLangEnglish, 0, "", KW("H\r\n")},
        // A rule without a text for the language or English is named.
        {KW("<Rule type='3'><Enabled>1</Enabled><MaximumLength>2</MaximumLength><Description languageid='19'>"
            "maximaal 2</Description></Rule>"),
         KW("abc"), kLangGerman, 0, "-", KW("H\r\n - Maximum Password Length\r\n")},
        // The age rule cannot read the unknown user: the test ends there and the rules after it do not count.
        {KW("<Rule type='2'><Enabled>1</Enabled></Rule><Rule type='1'><Enabled>1</Enabled></Rule>"
            "<Rule type='3'><Enabled>1</Enabled><MaximumLength>1</MaximumLength></Rule>"),
         KW("abcdef"), kLangEnglish, kResultNameNotCracked, "+", KW("H\r\n")},
        // So does an expression that cannot be evaluated, with -1.
        {KW("<Rule type='5'><Enabled>1</Enabled><Regex Type='0'>(abc</Regex></Rule>"
            "<Rule type='3'><Enabled>1</Enabled><MaximumLength>1</MaximumLength></Rule>"),
         KW("abcdef"), kLangEnglish, -1, "", KW("H\r\n")},
    };
    for (const auto& [rules, password, language, result, verdicts, expectedFeedback] : rows) {
        SCOPED_TRACE(U8(rules));
        const ParsedElement parsed = ParseElement(KW("<Policy name='P'>") + WString(rules) + KW("</Policy>"));
        CPolicy policy(CPolicy::ForLoading{});
        ASSERT_EQ(policy.LoadFromXML(log_.log, parsed.element, nullptr), 0) << log_.Dump();
        const bool accepted = std::string(verdicts).find('-') == std::string::npos;  // by every tested rule
        bool verdict = !accepted;
        std::vector<bool> results{false};
        WString feedback = KW("H");
        EXPECT_EQ(policy.TestPassword(log_.log, &verdict, &user_, password, KW("old"), &feedback, &results,
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
                         kResultNameNotCracked));
}

constexpr auto kList =
    KW("<PolicyList version='1'><P name='P'><Configuration>0</Configuration></P></PolicyList>");
constexpr auto kPolicy = KW("<Policy name='P'><Configuration>0</Configuration><Note/></Policy>");
constexpr auto kLength = KW("<Rule type='2'><MinimumLength>9</MinimumLength><Enabled>1</Enabled></Rule>");
constexpr auto kAge = KW("<Rule type='1'><MinimumAge>3</MinimumAge><Description languageid='9'/></Rule>");
constexpr auto kRegex = KW("<Rule type='5'><Regex Type='0'>x</Regex></Rule>");
constexpr auto kBlackList =
    KW("<Rule type='8'><Blacklist Interpretation='0'><Item>a</Item></Blacklist></Rule>");
constexpr auto kSimilarity = KW("<Rule type='6'><UsernameRatio Enabled='1'>0.5</UsernameRatio></Rule>");
constexpr auto kScope = KW("<Scope type='1'><SID>S-1</SID><Groups><Group>CN=G</Group></Groups></Scope>");

// Loads a policy list, a policy, or the children of a policy named P (which passes a rule's or scope's result
// on), `op` failing on the node `node` (if any).
int32_t Load(CapturedLog& log, const WChar* xml, xml::Op op, const WChar* node) {
    if (op == xml::Op::Parse) {
        XmlFaults faults(XmlFaults::ForParse{});
        faults.FailNext(op, kInjected);
        return CPolicylist().LoadFromXML(log.log, xml);
    }
    const WString text(xml);
    const ParsedElement parsed =
        ParseElement(text.starts_with(KW("<P")) ? text : KW("<Policy name='P'>") + text + KW("</Policy>"));
    XmlFaults faults(*parsed.document);
    if (node != nullptr)
        faults.FailNext(op, kInjected, node);
    return text.starts_with(KW("<PolicyList"))
               ? CPolicylist().LoadFromDocument(log.log, *parsed.document)
               : CPolicy(CPolicy::ForLoading{}).LoadFromXML(log.log, parsed.element, nullptr);
}

TEST(LoadFailureTest, EachReadFailureIsLoggedAndReturned) {
    using Op = xml::Op;
    constexpr int32_t kI = kInjected;
    // document, failing read, on the node, result, the line logged with the injected code
    const std::tuple<const WChar*, Op, const WChar*, int32_t, const WChar*> rows[] = {
        {kList, Op::Parse, nullptr, kI, KW("Failed to create DOM document.")},
        {kList, Op::ChildNodes, KW("PolicyList"), kI, KW("getting policies node from policy list.")},
        {kList, Op::Attributes, KW("PolicyList"), 0, KW("Failed to get type 'version'.")},  // as if none
        {kPolicy, Op::GetAttribute, KW("Policy"), kI, KW("Failed to get name in attribute node.")},
        {kPolicy, Op::Text, KW("Configuration"), kI, KW("Failed to get value of Configuration node.")},
        {kLength, Op::GetAttribute, KW("Rule"), kI, KW("Failed to get type attribute.")},
        {kLength, Op::ChildNodes, KW("Rule"), kI, KW("getting minimum length rule data.")},
        {kLength, Op::Text, KW("MinimumLength"), kI, KW("Failed to get value of minimum length node.")},
        // The shared children's failures are logged; the rule's own result stands.
        {kLength, Op::Text, KW("Enabled"), 0, KW("Failed to get value of enabled node.")},
        {kAge, Op::AttributeValue, KW("languageid"), 0, KW("Failed to get value of attribute.")},
        {kRegex, Op::Text, KW("Regex"), kI, KW("Failed to get value of regex node.")},
        {kBlackList, Op::GetAttribute, KW("Blacklist"), 0, KW("Failed to get interpretation attribute.")},
        {kBlackList, Op::Text, KW("Item"), kI, KW("Failed to get value of item node.")},
        {kSimilarity, Op::Text, KW("UsernameRatio"), kI, KW("Failed to get value of ratio of similarity.")},
        {kScope, Op::HasChildren, KW("Scope"), kI, KW("if scope node has children.")},
        // A group whose name cannot be read fails the group list, which ends the scope's load.
        {kScope, Op::BaseName, KW("Group"), kI, KW("Failed to get value of groups node.")},
        // Without a fault: a name (silently), a child, a number or a Rule or Scope after Configuration.
        {KW("<Policy/>"), Op::Text, nullptr, -12, nullptr},
        {KW("<Policy name='P'/>"), Op::Text, nullptr, -12, KW("Policy is empty.")},
        {KW("<Configuration>abc</Configuration><Rule type='2'><Enabled>1</Enabled></Rule>"), Op::Text,
         nullptr, 0, KW("Failed to convert value of Configuration to integer.")},
        {KW("<Rule type='2'><Enabled>1</Enabled></Rule><Configuration>abc</Configuration>"), Op::Text,
         nullptr, -11, KW("Failed to convert value of Configuration to integer.")},
        {KW("<Rule type='12'><Enabled>1</Enabled></Rule><Scope type='3'><SID>a.b</SID></Scope>"), Op::Text,
         nullptr, -11, KW("An error occurred while loading rule from XML.")},
        {KW("<Scope><SID>a.b</SID></Scope>"), Op::Text, nullptr, -11,
         KW("An error occurred loading policy from XML.")},
        {KW("<rule type='2'/><Note/>"), Op::Text, nullptr, 0, nullptr},  // ignored
    };
    for (const auto& [xml, op, node, result, line] : rows) {
        SCOPED_TRACE(U8(line) + " in " + U8(xml));
        CapturedLog log;
        EXPECT_EQ(Load(log, xml, op, node), result);
        const bool injected = node != nullptr || op == Op::Parse;  // logged at any level
        const int32_t code = injected ? kInjected : (result != 0 ? result : -11);
        EXPECT_TRUE(line ? log.Has(line, injected ? 0 : +kLogError, code) : log.Errors() == 0) << log.Dump();
    }
}

}  // namespace
}  // namespace korva::testing
