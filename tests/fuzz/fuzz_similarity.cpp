// Input: ratio byte, flags (1: ignore case, 2: byte units), then text and pattern split at a zero unit.
#include "policy/similarity.h"
#include "tests/fuzz/fuzz_require.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) {
        return 0;
    }
    const double ratio = (static_cast<double>(data[0]) - 25.0) / 200.0;  // both ends of the clamp
    const bool ignoreCase = (data[1] & 1) != 0;
    // Text and pattern are cut at 300 units, a little beyond the longest password or name.
    const std::vector<korva::WString> strings = SplitUnits(data + 2, size - 2, 2, (data[1] & 2) != 0);
    const korva::WString text = strings[0].substr(0, 300);
    const korva::WString pattern = strings[1].substr(0, 300);
    const double value = korva::Similarity(text.c_str(), pattern.c_str(), ratio, ignoreCase);
    Require(value >= 0.0 && value <= 1.0);
    if (!pattern.empty()) {
        Require(korva::Similarity(pattern.c_str(), pattern.c_str(), ratio, ignoreCase) == 1.0);
    }
    const double mutual = korva::MutualSimilarity(text.c_str(), pattern.c_str(), ratio, ignoreCase);
    Require(mutual <= value);
    return 0;
}
