// The similarity measure at the largest inputs a password or a name can bring: 256 characters each way, at
// the ratio that allows the most edits (0.0) and at the default (0.8). Target: under 5 ms per call.
//
// The measure fills a table of suffix edit distances, one row per pattern offset the scan may reach, and
// scans the text for each offset's character from where the previous offset stopped. What can make it slow:
// rows (every offset is reachable at ratio 0.0, and the first pass builds rows down to the pattern's start at
// any ratio), mispredicted branches in the row loop (characters that match about half the time), scans that
// run to the end of the text for every offset (pattern characters the text lacks), and a bound that never
// tightens (no close match, so no offset is cut off). Each shape below stresses one of these.
#include <benchmark/benchmark.h>

#include <random>

#include "policy/similarity.h"

namespace korva {
namespace {

constexpr size_t kLength = 256;

WString RandomText(size_t length, unsigned seed, int letters) {
    std::mt19937 random(seed);
    WString text;
    for (size_t i = 0; i < length; ++i)
        text.push_back(static_cast<WChar>(u'a' + random() % letters));
    return text;
}

WString Periodic(size_t length, WStringView period) {
    WString text;
    while (text.size() < length)
        text.push_back(period[text.size() % period.size()]);
    return text;
}

struct Shape {
    WString text;
    WString pattern;
    bool ignoreCase;
};

void Measure(benchmark::State& state, const Shape& shape) {
    const double ratio = static_cast<double>(state.range(0)) / 10.0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            Similarity(shape.text.c_str(), shape.pattern.c_str(), ratio, shape.ignoreCase));
    }
}

// Unrelated texts over a small alphabet: many partial matches.
void BM_Similarity_Random256(benchmark::State& state) {
    Measure(state, {RandomText(kLength, 1, 4), RandomText(kLength, 2, 4), true});
}
BENCHMARK(BM_Similarity_Random256)->Arg(0)->Arg(8)->Unit(benchmark::kMicrosecond);

// Two letters at random: each comparison in the row loop matches half the time, unpredictably.
void BM_Similarity_RandomBinary256(benchmark::State& state) {
    Measure(state, {RandomText(kLength, 3, 2), RandomText(kLength, 4, 2), false});
}
BENCHMARK(BM_Similarity_RandomBinary256)->Arg(0)->Arg(8)->Unit(benchmark::kMicrosecond);

// One character repeated: every text position is a candidate start for every pattern offset.
void BM_Similarity_Repeated256(benchmark::State& state) {
    WString pattern(kLength, u'a');
    pattern[kLength / 2] = u'b';
    Measure(state, {WString(kLength, u'a'), pattern, false});
}
BENCHMARK(BM_Similarity_Repeated256)->Arg(0)->Arg(8)->Unit(benchmark::kMicrosecond);

// No pattern character occurs in the text: every offset's scan runs the whole text, every table cell is a
// mismatch, and the bound never tightens.
void BM_Similarity_Disjoint256(benchmark::State& state) {
    Measure(state, {Periodic(kLength, KW("abcdefgh")), Periodic(kLength, KW("01234567")), false});
}
BENCHMARK(BM_Similarity_Disjoint256)->Arg(0)->Arg(8)->Unit(benchmark::kMicrosecond);

// Periodic texts whose periods differ by one character: long partial matches at every phase.
void BM_Similarity_Periodic256(benchmark::State& state) {
    Measure(state, {Periodic(kLength, KW("abcabcabd")), Periodic(kLength, KW("abcabd")), false});
}
BENCHMARK(BM_Similarity_Periodic256)->Arg(0)->Arg(8)->Unit(benchmark::kMicrosecond);

// The pattern is the text with every seventh character changed and case flipped: a close match whose
// distance (37 edits) lies just inside the default bound (52), found only with case ignored.
void BM_Similarity_ScatteredEdits256(benchmark::State& state) {
    const WString text = RandomText(kLength, 5, 26);
    WString pattern = text;
    for (size_t i = 0; i < pattern.size(); ++i) {
        pattern[i] = static_cast<WChar>(i % 7 == 3 ? u'#' : pattern[i] - u'a' + u'A');
    }
    Measure(state, {text, pattern, true});
}
BENCHMARK(BM_Similarity_ScatteredEdits256)->Arg(0)->Arg(8)->Unit(benchmark::kMicrosecond);

// A short pattern against the longest text, and the reverse: the table is long and thin.
void BM_Similarity_ShortInLong(benchmark::State& state) {
    Measure(state, {RandomText(kLength, 6, 3), RandomText(8, 7, 3), false});
}
BENCHMARK(BM_Similarity_ShortInLong)->Arg(0)->Arg(8)->Unit(benchmark::kMicrosecond);

void BM_Similarity_LongInShort(benchmark::State& state) {
    Measure(state, {RandomText(8, 8, 3), RandomText(kLength, 9, 3), false});
}
BENCHMARK(BM_Similarity_LongInShort)->Arg(0)->Arg(8)->Unit(benchmark::kMicrosecond);

// A typical rule test: a 14-character password against a 10-character name, both directions.
void BM_Similarity_MutualTypical(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(MutualSimilarity(KW("JohnSmith2024!"), KW("John Smith"), 0.8f, true));
    }
}
BENCHMARK(BM_Similarity_MutualTypical)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace korva
