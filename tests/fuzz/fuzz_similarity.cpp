// Similarity on arbitrary text and pattern. Input: a ratio byte, a flags byte, then the two strings separated
// by the first zero code unit; flag bit 0 ignores case, bit 1 reads one byte per code unit (small alphabets,
// the hard case for the search) instead of little-endian pairs. Each string is cut to 300 units, a little
// beyond the longest password or name.
//
// Checked: the value lies in [0, 1]; a string compared with itself scores 1; and on inputs small enough for
// the literal branch-and-bound search, the value equals that search's.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "policy/similarity.h"
#include "tests/policy/similarity_reference.h"

namespace {

using korva::WChar;
using korva::WString;

constexpr size_t kMaxUnits = 300;
// The literal search branches three ways per edit; these sizes keep it to a few thousand calls.
constexpr size_t kReferencePattern = 8;
constexpr size_t kReferenceText = 16;

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) {
        return 0;
    }
    // -0.125 to 1.15: both ends of the clamp are reached.
    const double ratio = (static_cast<double>(data[0]) - 25.0) / 200.0;
    const bool ignoreCase = (data[1] & 1) != 0;
    const bool byteUnits = (data[1] & 2) != 0;
    data += 2;
    size -= 2;

    WString strings[2];
    size_t current = 0;
    const size_t step = byteUnits ? 1 : 2;
    for (size_t i = 0; i + step <= size && current < 2; i += step) {
        const WChar unit =
            byteUnits ? static_cast<WChar>(data[i]) : static_cast<WChar>(data[i] | (data[i + 1] << 8));
        if (unit == 0) {
            ++current;
        } else if (strings[current].size() < kMaxUnits) {
            strings[current].push_back(unit);
        }
    }
    const WString& text = strings[0];
    const WString& pattern = strings[1];

    const double value = korva::Similarity(text.c_str(), pattern.c_str(), ratio, ignoreCase);
    Require(value >= 0.0 && value <= 1.0);
    if (!pattern.empty()) {
        Require(korva::Similarity(pattern.c_str(), pattern.c_str(), ratio, ignoreCase) == 1.0);
    }
    if (pattern.size() <= kReferencePattern && text.size() <= kReferenceText) {
        Require(value == korva::reference::Similarity(text.c_str(), pattern.c_str(), ratio, ignoreCase));
    }
    const double mutual = korva::MutualSimilarity(text.c_str(), pattern.c_str(), ratio, ignoreCase);
    Require(mutual <= value);
    return 0;
}
