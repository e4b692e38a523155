// CheckStringWithRegEx on arbitrary little-endian UTF-16: the pattern up to the first zero unit, then text.
#include "regex/check_string.h"
#include "tests/fuzz/fuzz_require.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<korva::WString> parts = SplitUnits(data, size, 2, false);
    bool matched = true;
    const int32_t result = CheckStringWithRegEx(parts[1].c_str(), 0, parts[0].c_str(), 0, &matched);
    Require(result == 0 || (result == -1 && !matched));
    return 0;
}
