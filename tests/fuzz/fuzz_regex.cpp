// CheckStringWithRegEx on arbitrary little-endian UTF-16: the pattern up to the first zero unit, then text.
#include <vector>

#include "regex/check_string.h"
#include "tests/fuzz/fuzz_require.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<korva::WChar> units(size / 2 + 2, 0);
    for (size_t i = 0; i + 1 < size; i += 2) {
        units[i / 2] = static_cast<korva::WChar>(data[i] | (data[i + 1] << 8));
    }
    const korva::WChar* pattern = units.data();
    const korva::WChar* text = pattern;
    while (*text != 0) {
        ++text;
    }
    ++text;
    bool matched = true;
    const int32_t result = CheckStringWithRegEx(text, 0, pattern, 0, &matched);
    Require(result == 0 || (result == -1 && !matched));
    return 0;
}
