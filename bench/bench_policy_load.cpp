// Loading a policy document of the largest size the directory attribute can hold (1,000,000 bytes) through
// the same path as a document read from the directory: UTF-8 bytes, time suffix, parse, one CPolicy per
// element. Target: under 50 ms.
//
// Two shapes, because the loader's costs differ with them: many policies using every rule type and scope type
// (many small elements, several log lines per rule), and one policy whose blacklist fills the document (one
// log line per item, one long child list).
#include <benchmark/benchmark.h>

#include <string>

#include "infra/log.h"
#include "policy/policy_list.h"

namespace korva {
namespace {

constexpr size_t kDocumentBytes = 1000000;
constexpr const char* kHeader =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<PolicyList version=\"1.8.0.1037\">\n";
constexpr const char* kFooter = "</PolicyList>\n";
constexpr const char* kTimeSuffix = "#133512345678901234#";

// One policy as an administrator's tool writes it, numbered so that no two are alike: every rule type (4
// expands to two rules), all three regular-expression kinds, both blacklist interpretations, descriptions in
// several languages and scripts, and one scope of each type.
std::string PolicyElement(int n) {
    const std::string id = std::to_string(n);
    const std::string length = std::to_string(8 + n % 8);
    return "  <Policy name=\"Department " + id +
           " staff\">\n"
           "    <Configuration>" +
           std::to_string((n % 5 == 4) ? 1 : 0) +
           "</Configuration>\n"
           "    <Rule type=\"2\"><Enabled>1</Enabled>"
           "<Description languageid=\"9\">The password must be at least " +
           length +
           " characters long.</Description>"
           "<Description languageid=\"7\">Das Passwort muss mindestens " +
           length +
           " Zeichen lang sein.</Description>"
           "<Description languageid=\"25\">Пароль должен содержать не менее " +
           length +
           " символов.</Description>"
           "<MinimumLength>" +
           length +
           "</MinimumLength></Rule>\n"
           "    <Rule type=\"3\"><Enabled>1</Enabled>"
           "<Description>The password may be at most 64 characters long.</Description>"
           "<MaximumLength>64</MaximumLength></Rule>\n"
           "    <Rule type=\"1\"><Enabled>1</Enabled>"
           "<Description>The password can be changed once a day.</Description>"
           "<Description languageid=\"4\">密码每天只能更改一次。</Description>"
           "<MinimumAge>1440</MinimumAge></Rule>\n"
           "    <Rule type=\"5\"><Enabled>1</Enabled>"
           "<Description>No more than 2 identical characters in a row.</Description>"
           "<Regex Type=\"1\">.*(.)\\1{2,}.*</Regex><Data>2</Data>"
           "<ExpressionValidatesPassword>0</ExpressionValidatesPassword></Rule>\n"
           "    <Rule type=\"5\"><Enabled>1</Enabled>"
           "<Description>Upper and lower case letters, digits and symbols.</Description>"
           "<Description languageid=\"12\">Majuscules et minuscules, chiffres et symboles.</Description>"
           "<Regex Type=\"2\">^(?=.*[A-Z])(?=.*[a-z])(?=.*[0-9])(?=.*[^A-Za-z0-9])</Regex>"
           "<ExpressionValidatesPassword>1</ExpressionValidatesPassword></Rule>\n"
           "    <Rule type=\"4\"><Enabled>1</Enabled>"
           "<Description>The password may not resemble your name or your old password.</Description>"
           "<PasswordRatio Enabled=\"1\">0.8</PasswordRatio><UsernameRatio Enabled=\"1\">0.75</UsernameRatio>"
           "<FullnameRatio Enabled=\"1\">0.8</FullnameRatio></Rule>\n"
           "    <Rule type=\"6\"><Enabled>0</Enabled><UsernameRatio Enabled=\"1\">0.8</UsernameRatio>"
           "<FullnameRatio Enabled=\"0\">0.8</FullnameRatio></Rule>\n"
           "    <Rule type=\"7\"><Enabled>0</Enabled><PasswordRatio "
           "Enabled=\"1\">0.6</PasswordRatio></Rule>\n"
           "    <Rule type=\"5\"><Enabled>1</Enabled>"
           "<Description>The password may not end in a year.</Description>"
           "<Regex Type=\"0\">(19|20)[0-9]{2}$</Regex>"
           "<ExpressionValidatesPassword>0</ExpressionValidatesPassword></Rule>\n"
           "    <Rule type=\"8\"><Enabled>1</Enabled>"
           "<Description>The password may not be a common word.</Description>"
           "<Blacklist Interpretation=\"0\"><Item>password</Item><Item>letmein</Item><Item>welcome1</Item>"
           "<Item>qwertyuiop</Item><Item>department" +
           id +
           "</Item><Item>Passw0rd!</Item></Blacklist></Rule>\n"
           "    <Rule type=\"8\"><Enabled>1</Enabled>"
           "<Description>The password may not contain the company's name.</Description>"
           "<Blacklist Interpretation=\"1\"><Item>[Cc]orp(oration)?</Item><Item>^[Ee]xample</Item>"
           "<Item>d[e3]p[a4]rtm[e3]nt" +
           id +
           "</Item></Blacklist></Rule>\n"
           "    <Scope type=\"0\"><SID>S-1-5-21-1000000001-2000000002-3000000003-" +
           std::to_string(1100 + n) + "</SID><CanonicalName>corp.example.test/Department " + id +
           "/Head of department</CanonicalName>"
           "<Name>head" +
           id +
           "@corp.example.test</Name></Scope>\n"
           "    <Scope type=\"1\"><SID>S-1-5-21-1000000001-2000000002-3000000003-" +
           std::to_string(5100 + n) + "</SID><Groups><Group>CN=Department " + id +
           " Staff,OU=Groups,DC=corp,DC=example,DC=test</Group>"
           "<Group>CN=Department " +
           id +
           " Contractors,OU=Groups,DC=corp,DC=example,DC=test</Group>"
           "</Groups></Scope>\n"
           "    <Scope type=\"2\"><SID>corp.example.test/Department " +
           id +
           "</SID></Scope>\n"
           "    <Scope type=\"3\"><SID>dept" +
           id +
           ".corp.example.test</SID></Scope>\n"
           "    <Scope type=\"4\"><SID>corp.example.test/Department " +
           id +
           "/Interns</SID></Scope>\n"
           "  </Policy>\n";
}

// A fixed part, `element(n)` for n = 0, 1, ... while the document still fits, then blanks (pretty-printing
// white space, which the parser drops) so that the stored bytes, time suffix included, are exactly
// kDocumentBytes.
template <typename Element>
std::string FillDocument(const std::string& head, const std::string& tail, Element element) {
    std::string body;
    const size_t fixed = std::char_traits<char>::length(kHeader) + head.size() + tail.size() +
                         std::char_traits<char>::length(kFooter) +
                         std::char_traits<char>::length(kTimeSuffix);
    for (int n = 0;; ++n) {
        const std::string next = element(n);
        if (fixed + body.size() + next.size() > kDocumentBytes) {
            break;
        }
        body += next;
    }
    body.append(kDocumentBytes - fixed - body.size(), ' ');
    return kHeader + head + body + tail + kFooter + kTimeSuffix;
}

std::string ManyPoliciesDocument() {
    return FillDocument("", "", PolicyElement);
}

// One policy whose word blacklist takes all the room: tens of thousands of items.
std::string HugeBlacklistDocument() {
    const std::string head =
        "  <Policy name=\"Everyone\">\n    <Configuration>0</Configuration>\n"
        "    <Rule type=\"2\"><Enabled>1</Enabled><MinimumLength>10</MinimumLength></Rule>\n"
        "    <Rule type=\"8\"><Enabled>1</Enabled><Description>The password may not be a known leaked "
        "password.</Description>\n      <Blacklist Interpretation=\"0\">\n";
    const std::string tail =
        "      </Blacklist>\n    </Rule>\n"
        "    <Scope type=\"3\"><SID>corp.example.test</SID></Scope>\n  </Policy>\n";
    static const char* const kWords[] = {"summer",   "winter",    "dragon", "monkey", "sunshine", "football",
                                         "princess", "Liverpool", "shadow", "master", "qwerty",   "Geheim"};
    return FillDocument(head, tail, [](int n) {
        return "        <Item>" + std::string(kWords[n % 12]) + std::to_string(n) + "!</Item>\n";
    });
}

void Load(benchmark::State& state, const std::string& bytes, size_t expectedPolicies) {
    if (bytes.size() != kDocumentBytes) {
        state.SkipWithError("document is not exactly 1,000,000 bytes");
        return;
    }
    // As the validation controller logs: through the process-wide handler, which keeps records in memory
    // while no log file is configured.
    cGjLog log;
    log.AddHandler(&SharedFileHandler());
    for (auto _ : state) {
        CPolicylist list;
        const int32_t result = list.LoadFromDocumentBytes(log, bytes, KW("corp.example.test"));
        if (result != 0 || list.size() != expectedPolicies) {
            state.SkipWithError("the document did not load");
            break;
        }
        benchmark::DoNotOptimize(list.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes.size()));
}

void BM_PolicyLoad_ManyPolicies(benchmark::State& state) {
    const std::string bytes = ManyPoliciesDocument();
    size_t policies = 0;
    for (size_t at = bytes.find("<Policy "); at != std::string::npos; at = bytes.find("<Policy ", at + 1)) {
        ++policies;
    }
    state.counters["policies"] = static_cast<double>(policies);
    Load(state, bytes, policies);
}
BENCHMARK(BM_PolicyLoad_ManyPolicies)->Unit(benchmark::kMillisecond);

void BM_PolicyLoad_HugeBlacklist(benchmark::State& state) {
    const std::string bytes = HugeBlacklistDocument();
    size_t items = 0;
    for (size_t at = bytes.find("<Item>"); at != std::string::npos; at = bytes.find("<Item>", at + 1)) {
        ++items;
    }
    state.counters["items"] = static_cast<double>(items);
    Load(state, bytes, 1);
}
BENCHMARK(BM_PolicyLoad_HugeBlacklist)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace korva
