// The policy list: fetching the policy document from the directory, its byte encoding and time suffix, the
// PolicyList element, and choosing the policy that applies to a user.
#include <gtest/gtest.h>

#include <string>

#include "policy/policy_list.h"
#include "policy/rule_min_age.h"
#include "policy/scope.h"
#include "tests/policy/fake_directory.h"
#include "tests/policy/test_support.h"

namespace korva::testing {
namespace {

constexpr int32_t kInjected = static_cast<int32_t>(0x80070005u);

// Two policies for the domain a.b; the first is for the Users container only.
const std::string kDocument =
    "<PolicyList version=\"1.8.0.1037\">\n"
    "  <Policy name=\"First\"><Configuration>0</Configuration>\n"
    "    <Rule type=\"1\"><Enabled>1</Enabled><MinimumAge>60</MinimumAge></Rule>\n"
    "    <Scope type=\"2\"><SID>a.b/Users</SID></Scope></Policy>\n"
    "  <Policy name=\"Second\"><Rule type=\"2\"><Enabled>1</Enabled><MinimumLength>8</MinimumLength></Rule>\n"
    "    <Scope type=\"3\"><SID>a.b</SID></Scope></Policy>\n"
    "</PolicyList>";

std::vector<std::string> Names(const CPolicylist& list) {
    std::vector<std::string> names;
    for (const auto& policy : list) {
        names.push_back(policy != nullptr && policy->GetName() != nullptr ? U8(policy->GetName()) : "(none)");
    }
    return names;
}

int32_t FirstMinimumAge(const CPolicylist& list) {
    return static_cast<const CRuleHistoryMinimumAge&>(*list.front()->GetRules().front()).GetMinimumMinutes();
}

TEST(TimeSuffixTest, CutsOnlyATrailingNumberSignPair) {
    struct Case {
        const char* text;
        const char* remaining;
        const char* time;  // null: no time found
        bool detected;     // the text ended in "#"
    };
    const Case cases[] = {
        {"<a/>#77#", "<a/>", "77", true},
        {"<a/>#1700000000#", "<a/>", "1700000000", true},
        // "##": the "#" just before the last one is not searched, so the cut falls at an earlier "#"...
        {"<a>#</a>##", "<a>", "</a>#", true},
        // ...or nowhere.
        {"<a/>##", "<a/>##", nullptr, true},
        {"<r>[#]</r>", "<r>[#]</r>", nullptr, false},  // a "#" inside the XML with no suffix: untouched
        {"<a/>#", "<a/>#", nullptr, true},
        {"#", "#", nullptr, true},
        {"a#", "a#", nullptr, true},
        {"###", "", "#", true},
        {"", "", nullptr, false},
    };
    for (const Case& c : cases) {
        CapturedLog log;
        WString text = AsciiToWide(c.text);
        CPolicylist::RemoveTimeSuffix(log.log, &text);
        EXPECT_EQ(U8(text), c.remaining) << c.text;
        EXPECT_TRUE(log.Has(KW("Try to extract time from policy."), kLogDebug));
        EXPECT_EQ(log.Has(KW("Detected opening '#' in policy, try to locate closing '#'.")), c.detected)
            << c.text;
        if (c.time != nullptr) {
            EXPECT_TRUE(log.Has(KW("Found time '") + AsciiToWide(c.time) + KW("'."), kLogDebug)) << c.text;
        } else {
            EXPECT_FALSE(log.Has(KW("Found time"))) << c.text;
            EXPECT_EQ(log.Has(KW("Could not find closing '#', unable to extract time from policy.")),
                      c.detected);
        }
    }
}

class PolicyListTest : public ::testing::Test {
  protected:
    PolicyListTest() {
        user_.SetType(ST_USERS);
        user_.SetCanonicalName(KW("a.b/Users/Jo"));
        user_.SetName(KW("jo@a.b"));
    }
    ~PolicyListTest() override {
        // Every directory object and array access was released.
        EXPECT_EQ(directory_.OpenObjects(), 0);
        EXPECT_EQ(directory_.OpenArrayAccesses(), 0);
    }
    int32_t Load(const std::string& bytes, const WChar* domain = KW("a.b")) {
        directory_.SetPolicyDocument(domain, bytes);
        return list_.LoadFromDirectory(log_.log, domain);
    }

    FakeDirectory directory_;
    CapturedLog log_;
    CPolicylist list_;
    CScope user_;
};

TEST_F(PolicyListTest, BindsThePolicyObjectOfTheDomain) {
    EXPECT_EQ(Load(kDocument, KW("a.b.c")), 0) << log_.Dump();
    EXPECT_EQ(
        directory_.CountCalls(KW("BindObject LDAP://CN=QmhPasswordPolicy,CN=Valexor,CN=Quillmarsh,CN=Program "
                                 "Data,DC=a,DC=b,DC=c")),
        1u);
    EXPECT_TRUE(log_.Has(KW("Loading policy from domain with DNS name: 'a.b.c'"), kLogDebug));
    EXPECT_TRUE(
        log_.Has(KW("Created LDAP query: LDAP://CN=QmhPasswordPolicy,CN=Valexor,CN=Quillmarsh,CN=Program "
                    "Data,DC=a,DC=b,DC=c"),
                 kLogDebug));
    EXPECT_EQ(directory_.CountCalls(KW("Get msDS-ByteArray")), 1u);
}

TEST_F(PolicyListTest, LoadsPoliciesInDocumentOrderAfterCuttingTheTime) {
    EXPECT_EQ(Load(kDocument + "#77#"), 0) << log_.Dump();
    EXPECT_EQ(Names(list_), (std::vector<std::string>{"First", "Second"}));
    EXPECT_TRUE(log_.Has(KW("Found time '77'."), kLogDebug));
    // The whole document (without the suffix) is logged, then parsed.
    const WString found = KW("Found policy '") + AsciiToWide(kDocument) + KW("' found in domain 'a.b'.");
    log_.ExpectLine(found, kLogInformation);
    EXPECT_TRUE(log_.InOrder(KW("Converting data retrieved from AD to WCHAR (3)."), KW("Found time '77'.")));
    EXPECT_TRUE(log_.InOrder(found, KW("Converting policy string to policy object.")));
    // Version 1.8.0.1037: MinimumAge is in minutes.
    EXPECT_EQ(FirstMinimumAge(list_), 60);
}

TEST_F(PolicyListTest, VersionAttributeIsFoundInAnyCase) {
    struct Case {
        const char* attribute;
        int32_t minutes;
    };
    const Case cases[] = {
        {"version=\"1.8.0.1037\"", 60},
        {"VERSION=\"1.8.0.1037\"", 60},
        {"Version=\"2.0\"", 60},
        {"version=\"1.8\"", 60 * 1440},
        {"", 60 * 1440},  // no version: days
    };
    for (const Case& c : cases) {
        std::string document = kDocument;
        document.replace(document.find("version=\"1.8.0.1037\""), 20, c.attribute);
        EXPECT_EQ(Load(document), 0) << c.attribute;
        EXPECT_EQ(FirstMinimumAge(list_), c.minutes) << c.attribute;
    }
}

TEST_F(PolicyListTest, DocumentTextIsLoggedAsPlainText) {
    // A "%" in the document must not be read as a format.
    const std::string document =
        "<PolicyList><P name=\"%s%d%n\"><Configuration>0</Configuration></P></PolicyList>";
    EXPECT_EQ(Load(document), 0);
    EXPECT_TRUE(log_.Has(KW("name=\"%s%d%n\""), kLogInformation)) << log_.Dump();
    EXPECT_EQ(Names(list_), (std::vector<std::string>{"%s%d%n"}));
}

TEST_F(PolicyListTest, BytesAreUtf8UpToTheFirstNul) {
    // A NUL ends the text; invalid UTF-8 becomes U+FFFD and does not stop the load.
    std::string document = kDocument;
    document.replace(document.find("First"), 5, "F\xC3\xBCrst\xFF");
    EXPECT_EQ(Load(document + std::string("\0garbage#1#", 11)), 0) << log_.Dump();
    EXPECT_EQ(Names(list_), (std::vector<std::string>{"F\xC3\xBCrst\xEF\xBF\xBD", "Second"}));
    // The suffix logic looks at the text before the NUL, which does not end in "#".
    EXPECT_FALSE(log_.Has(KW("Found time")));

    EXPECT_EQ(Load(std::string("\0<PolicyList/>", 14)), kResultNoPolicyDocument);
    EXPECT_TRUE(list_.empty());
}

TEST_F(PolicyListTest, DomainWithoutDocument) {
    list_.push_back(std::make_unique<CPolicy>());  // a reload always starts empty
    directory_.SetPolicyDocument(KW("a.b"), "").attributes.clear();
    EXPECT_EQ(list_.LoadFromDirectory(log_.log, KW("a.b")), kResultNoPolicyDocument);
    EXPECT_TRUE(list_.empty());
    EXPECT_TRUE(log_.InOrder(KW("No policy object found in Active Directoy."),
                             KW("No policy found in domain 'a.b'.")));
    log_.ExpectLine(KW("No policy object found in Active Directoy."), kLogInformation);
    log_.ExpectLine(KW("No policy found in domain 'a.b'."), kLogInformation);
    EXPECT_EQ(log_.CountErrors(), 0u) << log_.Dump();

    WString text = KW("stale");
    EXPECT_EQ(CPolicylist::FetchPolicyDocument(log_.log, KW("a.b"), &text), 0);
    EXPECT_TRUE(text.empty());
}

TEST_F(PolicyListTest, FetchFailures) {
    struct Case {
        const char* what;
        FakeDirectory::Op op;  // injected with kInjected
        const WChar* line;
    };
    const Case cases[] = {
        {"bind", FakeDirectory::Op::BindObject, KW("Failed to bind policy object in Active Directoy.")},
        {"get", FakeDirectory::Op::Get, KW("Unable to load policy object from Active Directoy.")},
        {"lower bound", FakeDirectory::Op::ArrayLowerBound,
         KW("Unable to get safe lowerbound of policy array.")},
        {"upper bound", FakeDirectory::Op::ArrayUpperBound,
         KW("Unable to get safe upperbound of policy array.")},
        {"lock", FakeDirectory::Op::ArrayAccess, KW("Unable to increment lock count of policy array.")},
        // Releasing the data fails after the conversion: the load fails with that code.
        {"unlock", FakeDirectory::Op::ArrayUnaccess, KW("Unable to decrement lock count of policy array.")},
    };
    for (const Case& c : cases) {
        log_.Clear();
        list_.push_back(std::make_unique<CPolicy>());
        directory_.FailNext(c.op, kInjected);
        EXPECT_EQ(Load(kDocument), kInjected) << c.what;
        EXPECT_TRUE(list_.empty()) << c.what;
        log_.ExpectLine(c.line, kLogError, kInjected);
        log_.ExpectLine(KW("Error occurred loading policies from domain 'a.b'."), kLogError, kInjected);
        EXPECT_EQ(directory_.OpenArrayAccesses(), 0) << c.what;
    }
}

TEST_F(PolicyListTest, FailedReleaseStillReturnsTheText) {
    directory_.SetPolicyDocument(KW("a.b"), "<PolicyList/>#5#");
    directory_.FailNext(FakeDirectory::Op::ArrayUnaccess, kInjected);
    WString text;
    EXPECT_EQ(CPolicylist::FetchPolicyDocument(log_.log, KW("a.b"), &text), kInjected);
    EXPECT_EQ(U8(text), "<PolicyList/>");
}

TEST_F(PolicyListTest, EmptyByteArrayCannotBeConverted) {
    // MultiByteToWideChar refuses zero bytes with ERROR_INVALID_PARAMETER.
    EXPECT_EQ(Load(""), 87);
    const LogRecord& line = log_.Get(KW("Unable to determine size of XML."));
    EXPECT_EQ(line.level, kLogError);
    EXPECT_EQ(line.code, 87u);
    EXPECT_TRUE(log_.Has(KW("Converting data retrieved from AD to WCHAR (1)."), kLogDebug));
    EXPECT_FALSE(log_.Has(KW("Converting data retrieved from AD to WCHAR (2).")));
}

TEST_F(PolicyListTest, ValueThatIsNotOneByteArray) {
    FakeDirectory::Object& object = directory_.SetPolicyDocument(KW("a.b"), kDocument);
    object.attributes[KW("msDS-ByteArray")].kind = AttributeValue::Kind::ByteList;
    EXPECT_EQ(list_.LoadFromDirectory(log_.log, KW("a.b")), kEAdsCantConvertDatatype);
    log_.ExpectLine(KW("Unable to load policy object from Active Directoy."), kLogError,
                    kEAdsCantConvertDatatype);
}

TEST_F(PolicyListTest, DocumentStructureErrors) {
    struct Case {
        const char* what;
        std::string document;
        int32_t result;
        const WChar* line;
    };
    const Case cases[] = {
        {"not XML", "<PolicyList><P name=\"x\">", 1, KW("Failed to load XML from string.")},
        {"suffix without a pair", kDocument + "#77", 1, KW("Failed to load XML from string.")},
        {"no PolicyList", "<Policies><P name=\"x\"/></Policies>", -12,
         KW("Can only process exactly 1 Policy list node, size '0'")},
        {"nested PolicyList",
         "<PolicyList><PolicyList><P name=\"x\"><Configuration>0</Configuration></P>"
         "</PolicyList></PolicyList>",
         -12, KW("Can only process exactly 1 Policy list node, size '2'")},
        {"PolicyList without children", "<PolicyList version=\"1.0\"></PolicyList>", -12,
         KW("No policy node found.")},
    };
    for (const Case& c : cases) {
        log_.Clear();
        EXPECT_EQ(Load(c.document), c.result) << c.what;
        EXPECT_TRUE(list_.empty()) << c.what;
        EXPECT_TRUE(log_.Has(c.line, kLogError)) << c.what << "\n" << log_.Dump();
        log_.ExpectLine(KW("Unable to load policy."), kLogError, c.result);
    }
}

TEST_F(PolicyListTest, FailedPolicyIsLeftOutAndTheOthersLoad) {
    const std::string document =
        "<PolicyList>"
        "<Policy name=\"A\"><Configuration>0</Configuration></Policy>"
        "<Policy><Configuration>0</Configuration></Policy>"                          // no name
        "<Policy name=\"C\"><Rule type=\"99\"><Enabled>1</Enabled></Rule></Policy>"  // unknown rule type
        "<Anything name=\"D\"><Configuration>0</Configuration></Anything>"  // any tag name is a policy
        "</PolicyList>";
    EXPECT_EQ(Load(document), 0);
    EXPECT_EQ(Names(list_), (std::vector<std::string>{"A", "D"}));
    const int first = log_.Find(KW("An error occurred loading policy from XML."));
    ASSERT_GE(first, 0);
    EXPECT_EQ(static_cast<int32_t>(log_.records[static_cast<size_t>(first)].code), -12);
    EXPECT_GE(log_.Find(KW("An error occurred loading policy from XML."), kLogError,
                        static_cast<size_t>(first) + 1),
              0);
}

TEST_F(PolicyListTest, NodesThatAreNotElementsAreSkipped) {
    const std::string document =
        "<PolicyList>"
        "<!-- staff policy -->"
        "<?editor version=\"3\"?>"
        "<Policy name=\"A\"><Configuration>0</Configuration></Policy>"
        "stray text"
        "<![CDATA[more]]>"
        "<Policy name=\"B\"><Configuration>0</Configuration></Policy>"
        "</PolicyList>";
    EXPECT_EQ(Load(document), 0) << log_.Dump();
    EXPECT_EQ(Names(list_), (std::vector<std::string>{"A", "B"}));
    // Comments and processing instructions are normal; stray text is worth a warning. Neither is an error.
    EXPECT_TRUE(log_.Has(KW("Skipping comment in policy list, it is not a policy element."), kLogDebug));
    EXPECT_TRUE(log_.Has(KW("Skipping processing instruction in policy list"), kLogDebug));
    EXPECT_TRUE(log_.Has(KW("Skipping text in policy list"), kLogWarning));
    EXPECT_TRUE(log_.Has(KW("Skipping CDATA section in policy list"), kLogWarning));
    EXPECT_EQ(log_.CountErrors(), 0u) << log_.Dump();
}

TEST_F(PolicyListTest, ParserCannotStart) {
    xml::Document::ParseFaults().FailNext(xml::Op::Parse, static_cast<int32_t>(0x8007000Eu));
    EXPECT_EQ(list_.LoadFromXML(log_.log, AsciiToWide(kDocument).c_str()), static_cast<int32_t>(0x8007000Eu));
    log_.ExpectLine(KW("Failed to create DOM document."), kLogError, static_cast<int32_t>(0x8007000Eu));
}

TEST_F(PolicyListTest, DomReadFailures) {
    struct Case {
        xml::Op op;
        const WChar* node;
        const WChar* line;
        int32_t lineCode;
    };
    const Case cases[] = {
        {xml::Op::ElementsByTagName, KW("PolicyList"),
         KW("An error occurred getting policy list node from XML."), kInjected},
        // Logged with -12 although the HRESULT is what is returned.
        {xml::Op::HasChildren, KW("PolicyList"), KW("Failed to determine if policy list node has children."),
         -12},
        {xml::Op::ChildNodes, KW("PolicyList"),
         KW("An error occurred getting policies node from policy list."), kInjected},
    };
    for (const Case& c : cases) {
        CapturedLog log;
        std::unique_ptr<xml::Document> document;
        ASSERT_EQ(xml::Document::Parse(AsciiToWide(kDocument), &document), 0);
        document->Faults().FailNext(c.op, kInjected, c.node);
        CPolicylist list;
        EXPECT_EQ(list.LoadFromDocument(log.log, *document), kInjected) << U8(c.line);
        log.ExpectLine(c.line, kLogError, c.lineCode);
        EXPECT_TRUE(list.empty());
    }
}

TEST_F(PolicyListTest, UnreadableVersionIsNoVersion) {
    std::unique_ptr<xml::Document> document;
    ASSERT_EQ(xml::Document::Parse(AsciiToWide(kDocument), &document), 0);
    document->Faults().FailNext(xml::Op::Attributes, kInjected, KW("PolicyList"));
    EXPECT_EQ(list_.LoadFromDocument(log_.log, *document), 0);
    log_.ExpectLine(KW("Failed to get type 'version'."), kLogDebug, kInjected);
    EXPECT_EQ(FirstMinimumAge(list_), 60 * 1440);
}

// --- Choosing the policy ---

TEST_F(PolicyListTest, FirstApplicablePolicyWins) {
    ASSERT_EQ(Load(kDocument), 0);
    CPolicy* policy = nullptr;
    // Both policies apply to a.b/Users/Jo: the first in document order is chosen.
    EXPECT_EQ(list_.GetApplicablePolicy(log_.log, user_, &policy), 0);
    ASSERT_NE(policy, nullptr);
    EXPECT_EQ(U8(policy->GetName()), "First");
    EXPECT_TRUE(log_.Has(KW("Found applicable policy 'First'."), kLogDebug));

    // A user outside the Users container gets the second.
    user_.SetCanonicalName(KW("a.b/Sales/Mary"));
    EXPECT_EQ(list_.GetApplicablePolicy(log_.log, user_, &policy), 0);
    EXPECT_EQ(U8(policy->GetName()), "Second");
}

TEST_F(PolicyListTest, DisabledPolicyIsSkipped) {
    std::string document = kDocument;
    document.replace(document.find("<Configuration>0"), 16, "<Configuration>1");
    ASSERT_EQ(Load(document), 0);
    CPolicy* policy = nullptr;
    EXPECT_EQ(list_.GetApplicablePolicy(log_.log, user_, &policy), 0);
    ASSERT_NE(policy, nullptr);
    EXPECT_EQ(U8(policy->GetName()), "Second");
    EXPECT_TRUE(log_.Has(KW("Skipping policy 'First', because it is disabled."), kLogDebug));
}

TEST_F(PolicyListTest, NoPolicyApplies) {
    CPolicy* policy = reinterpret_cast<CPolicy*>(&user_);  // any stale value is cleared
    EXPECT_EQ(list_.GetApplicablePolicy(log_.log, user_, &policy), kResultPolicyListEmpty);
    EXPECT_EQ(policy, nullptr);
    log_.ExpectLine(KW("Policy list is empty."), kLogInformation);

    ASSERT_EQ(Load(kDocument), 0);
    user_.SetCanonicalName(KW("c.d/Users/Jo"));
    EXPECT_EQ(list_.GetApplicablePolicy(log_.log, user_, &policy), kResultNoApplicablePolicy);
    EXPECT_EQ(policy, nullptr);
    log_.ExpectLine(KW("No applicable policy found for user 'jo@a.b'."), kLogError,
                    kResultNoApplicablePolicy);

    // A user scope that could not be resolved matches nothing.
    CScope unresolved;
    EXPECT_EQ(list_.GetApplicablePolicy(log_.log, unresolved, &policy), kResultNoApplicablePolicy);
}

TEST_F(PolicyListTest, NullEntriesAndScopeErrorsAreSkipped) {
    const std::string document =
        "<PolicyList>"
        "<Policy name=\"Broken\"><Scope type=\"0\"><SID>S-1-5-21-9-9-9-500</SID></Scope></Policy>"
        "<Policy name=\"Domain\"><Scope type=\"3\"><SID>a.b</SID></Scope></Policy>"
        "</PolicyList>";
    ASSERT_EQ(Load(document), 0);
    list_.insert(list_.begin(), nullptr);
    CPolicy* policy = nullptr;
    EXPECT_EQ(list_.GetApplicablePolicy(log_.log, user_, &policy), 0);
    ASSERT_NE(policy, nullptr);
    EXPECT_EQ(U8(policy->GetName()), "Domain");
    log_.ExpectLine(KW("Found empty policy pointer in policy list."), kLogError, kResultNullEntry);
    const LogRecord& skipped = log_.Get(KW("Error occurred trying to determine if policy 'Broken' applies"));
    EXPECT_EQ(skipped.level, kLogDebug);
    EXPECT_NE(skipped.code, 0u);
}

}  // namespace
}  // namespace korva::testing
