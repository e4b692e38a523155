// CheckStringWithRegEx on the logon screen's thread. Targets: the catastrophic pattern returns (as a failure)
// in well under 50 ms; a character-requirement expression on a 12-character password costs microseconds.
#include <benchmark/benchmark.h>

#include "regex/check_string.h"

namespace korva {
namespace {

void Run(benchmark::State& state, const WString& text, const WChar* pattern, int32_t expected) {
    for (auto _ : state) {
        bool matched = false;
        const int32_t result = CheckStringWithRegEx(text.c_str(), 0, pattern, 0, &matched);
        if (result != expected) {
            state.SkipWithError("unexpected result");
            break;
        }
        benchmark::DoNotOptimize(matched);
    }
}

// Exponential backtracking, stopped by the match limit.
void BM_Regex_NestedPlusOnFortyA(benchmark::State& state) {
    Run(state, WString(40, KW('a')) + KW("!"), KW("(a+)+$"), -1);
}
BENCHMARK(BM_Regex_NestedPlusOnFortyA)->Unit(benchmark::kMillisecond);

void BM_Regex_CharacterRequirements(benchmark::State& state) {
    Run(state, KW("Summer#2024x"), KW("^(?=.*[A-Z])(?=.*[a-z])(?=.*[0-9])(?=.*[^A-Za-z0-9]).{8,}$"), 0);
}
BENCHMARK(BM_Regex_CharacterRequirements)->Unit(benchmark::kMicrosecond);

void BM_Regex_RepeatingCharacters(benchmark::State& state) {
    Run(state, KW("Summer#2024x"), KW(".*(.)\\1{2,}.*"), 0);
}
BENCHMARK(BM_Regex_RepeatingCharacters)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace korva
