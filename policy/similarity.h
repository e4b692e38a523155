// Similarity: how closely a pattern occurs, with edits, somewhere inside a text.
//
// The measure is a branch-and-bound search over pattern offsets and text positions: the pattern may start at
// any of its own offsets k (each skipped character costing one edit) and at any text position holding
// pattern[k], scanning forward from where the previous offset's scan stopped (the text position is never
// reset between offsets). Characters of the text after the matched part are free. A match needs fewer edits
// than floor(n * (1 - ratio)) + 1 for a pattern of n characters, and each match found tightens that bound.
#pragma once

#include "platform/text.h"

namespace korva {

// 1.0 when both strings are missing (null or empty), 0.0 when only one is; otherwise 1 - edits / n for the
// fewest edits found below the bound, or 0.0 when no match is that close. `ignoreCase` folds A-Z only.
// `ratio` is clamped into [0, 1]. Runs in O(len(text) * len(pattern)) time and O(len(text) *
// sqrt(len(pattern))) memory.
double Similarity(const WChar* text, const WChar* pattern, double ratio, bool ignoreCase);

// min(Similarity(a, b), Similarity(b, a)): non-zero only when each string occurs approximately in the other.
double MutualSimilarity(const WChar* a, const WChar* b, double ratio, bool ignoreCase);

}  // namespace korva
