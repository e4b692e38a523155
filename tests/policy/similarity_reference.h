// The similarity measure as its algorithm reads, with the branch-and-bound recursion and no shortcuts: the
// oracle for the fast implementation on small inputs (it is exponential in the edits allowed).
#pragma once

#include <algorithm>
#include <string>

#include "platform/text.h"

namespace korva::reference {

inline size_t Length(const WChar* s) {
    return std::char_traits<WChar>::length(s);
}

// Bounded edit distance of the whole of s against the best prefix of t, added to d.
inline int Distance(const WChar* t, const WChar* s, int d, int limit) {
    size_t c = 0;
    while (t[c] != 0 && s[c] != 0 && t[c] == s[c])
        ++c;
    if (c == Length(t))
        return d + static_cast<int>(Length(s) - c);
    if (c == Length(s))
        return d;
    d = d + 1;
    if (d >= limit)
        return d + static_cast<int>(Length(s) - c);
    const int dS = Distance(t + c + 1, s + c + 1, d, limit);
    if (dS < limit)
        limit = dS;
    const int dT = Distance(t + c + 1, s + c, d, limit);
    if (dT < limit)
        limit = dT;
    const int dP = Distance(t + c, s + c + 1, d, limit);
    return std::min({dS, dT, dP});
}

inline double Similarity(const WChar* text, const WChar* pattern, double ratio, bool ignoreCase) {
    WString t = text != nullptr ? WString(text) : WString();
    WString s = pattern != nullptr ? WString(pattern) : WString();
    if (t.empty() && s.empty())
        return 1.0;
    if (t.empty() || s.empty())
        return 0.0;
    for (WString* side : {&t, &s})
        for (WChar& c : *side)
            c = ignoreCase && c >= u'A' && c <= u'Z' ? static_cast<WChar>(c + 32) : c;
    const int n = static_cast<int>(s.size());
    ratio = std::clamp(ratio, 0.0, 1.0);
    int limit = static_cast<int>(n * (1.0 - ratio)) + 1;
    bool found = false;
    size_t p = 0;
    for (int k = 0; k < limit && k < n; ++k) {
        for (;;) {
            const size_t position = t.find(s[static_cast<size_t>(k)], p);
            if (position == WString::npos)
                break;
            p = position;
            const int d = Distance(t.c_str() + p, s.c_str() + k, k, limit);
            if (d < limit) {
                found = true;
                limit = d;
            }
            p = p + 1;
        }
    }
    return found ? 1.0 - static_cast<double>(limit) / n : 0.0;
}

}  // namespace korva::reference
