// CheckStringWithRegEx on arbitrary UTF-16: the input is little-endian code units, the pattern up to the
// first zero unit and the text after it. Any result is acceptable; a crash, a leak or a hang is not.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "regex/check_string.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<korva::WChar> units(size / 2 + 2, 0);
    for (size_t i = 0; i + 1 < size; i += 2) {
        units[i / 2] = static_cast<korva::WChar>(data[i] | (data[i + 1] << 8));
    }
    // `units` ends in two zeros, so the pattern is terminated and the text (possibly empty) is too.
    const korva::WChar* pattern = units.data();
    const korva::WChar* text = pattern;
    while (*text != 0) {
        ++text;
    }
    ++text;
    bool matched = true;
    const int32_t result = CheckStringWithRegEx(text, 0, pattern, 0, &matched);
    if ((result != 0 && result != -1) || (result != 0 && matched)) {
        std::abort();
    }
    return 0;
}
