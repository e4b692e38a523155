// Parsing and walking policy documents: a typical one (a few policies) and one of a megabyte.
#include <benchmark/benchmark.h>

#include "xml/xml_dom.h"

namespace korva::xml {
namespace {

WString PolicyDocument(size_t minimumSize) {
    WString text = KW("<?xml version=\"1.0\"?>\n<PolicyList version=\"1.8.0.1037\">\n");
    while (text.size() < minimumSize) {
        text +=
            KW("  <Policy name=\"Staff\">\n    <Configuration>0</Configuration>\n"
               "    <Rule type=\"2\"><Enabled>1</Enabled><MinimumLength>8</MinimumLength></Rule>\n"
               "    <Rule type=\"5\"><Enabled>1</Enabled><Regex Type=\"2\">(?=.*[A-Z])</Regex>"
               "<ExpressionValidatesPassword>1</ExpressionValidatesPassword></Rule>\n"
               "    <Scope type=\"2\"><Group>Domain Users</Group></Scope>\n  </Policy>\n");
    }
    return text + KW("</PolicyList>\n");
}

void ParseAndReadTexts(benchmark::State& state, const WString& text) {
    for (auto _ : state) {
        std::unique_ptr<Document> doc;
        if (Document::Parse(text, &doc) != kSOk) {
            state.SkipWithError("parse failed");
            break;
        }
        std::vector<Node> rules;
        doc->GetElementsByTagName(KW("Rule"), &rules);
        WString value;
        for (const Node& rule : rules) {
            rule.GetText(&value);
        }
        benchmark::DoNotOptimize(value);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size() * 2));
}

void BM_Xml_TypicalPolicyDocument(benchmark::State& state) {
    ParseAndReadTexts(state, PolicyDocument(2000));
}
BENCHMARK(BM_Xml_TypicalPolicyDocument)->Unit(benchmark::kMicrosecond);

void BM_Xml_MegabyteDocument(benchmark::State& state) {
    ParseAndReadTexts(state, PolicyDocument(500000));
}
BENCHMARK(BM_Xml_MegabyteDocument)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace korva::xml
