// A fuzz target's check: a broken invariant aborts, which libFuzzer reports with the input.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/text.h"

inline void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// Little-endian UTF-16 units (one byte a unit with `byteUnits`) split at zero units into `count` strings.
inline std::vector<korva::WString> SplitUnits(const uint8_t* data, size_t size, size_t count,
                                              bool byteUnits) {
    std::vector<korva::WString> strings(count);
    const size_t step = byteUnits ? 1 : 2;
    for (size_t i = 0, current = 0; i + step <= size && current < count; i += step) {
        const auto unit = static_cast<korva::WChar>(byteUnits ? data[i] : data[i] | (data[i + 1] << 8));
        if (unit == 0) {
            ++current;
        } else {
            strings[current].push_back(unit);
        }
    }
    return strings;
}
