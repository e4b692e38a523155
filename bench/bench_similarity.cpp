// The similarity measure at the largest inputs a password or a name can bring: 256 characters each way, at
// the ratio that allows the most edits (0.0) and at the default (0.8). Target: milliseconds or less per call.
#include <benchmark/benchmark.h>

#include <random>

#include "policy/similarity.h"

namespace korva {
namespace {

WString RandomText(size_t length, unsigned seed, int letters) {
    std::mt19937 random(seed);
    WString text;
    for (size_t i = 0; i < length; ++i)
        text.push_back(static_cast<WChar>(u'a' + random() % letters));
    return text;
}

// Unrelated texts over a small alphabet: many partial matches, the worst case for a search.
void BM_Similarity_Random256(benchmark::State& state) {
    const double ratio = static_cast<double>(state.range(0)) / 10.0;
    const WString text = RandomText(256, 1, 4);
    const WString pattern = RandomText(256, 2, 4);
    for (auto _ : state) {
        benchmark::DoNotOptimize(Similarity(text.c_str(), pattern.c_str(), ratio, true));
    }
}
BENCHMARK(BM_Similarity_Random256)->Arg(0)->Arg(8)->Unit(benchmark::kMicrosecond);

// One character repeated: every text position is a candidate start for every pattern offset.
void BM_Similarity_Repeated256(benchmark::State& state) {
    const double ratio = static_cast<double>(state.range(0)) / 10.0;
    const WString text(256, u'a');
    WString pattern(256, u'a');
    pattern[128] = u'b';
    for (auto _ : state) {
        benchmark::DoNotOptimize(Similarity(text.c_str(), pattern.c_str(), ratio, false));
    }
}
BENCHMARK(BM_Similarity_Repeated256)->Arg(0)->Arg(8)->Unit(benchmark::kMicrosecond);

// A typical rule test: a 14-character password against a 10-character name, both directions.
void BM_Similarity_MutualTypical(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(MutualSimilarity(KW("JohnSmith2024!"), KW("John Smith"), 0.8f, true));
    }
}
BENCHMARK(BM_Similarity_MutualTypical)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace korva
