// CheckStringWithRegEx: searches a UTF-16 text for a Perl-syntax regular expression.
//
// Exported by name from the credential provider module (and from the Linux shared library) so that other
// programs test expressions exactly as the password rules do. C signature, as seen from Windows x64 (the one
// x64 calling convention; `bool` is one byte there as in C's <stdbool.h>):
//
//     int32_t CheckStringWithRegEx(const wchar_t* text, int32_t textLength,
//                                  const wchar_t* pattern, int32_t patternLength, bool* matched);
//
// - *matched is set to false first, then to true when the pattern occurs anywhere in the text.
// - Both strings are read up to their terminating zero; the two lengths are accepted and ignored. A null text
// is
//   searched as the empty text; a null pattern or a null `matched` is a failure.
// - The pattern is compiled anew on every call with no options: case-sensitive, no multi-line or dot-all
// mode,
//   one UTF-16 code unit is one character (a character outside the Basic Multilingual Plane is two).
// - 0 on success; -1 when anything fails: the pattern does not compile, memory runs out, or the search
// exceeds
//   its work limits (a pattern with catastrophic backtracking fails in about a millisecond instead of hanging
//   the logon screen). Nothing is thrown.
#pragma once

#include <cstdint>

#include "platform/text.h"

#if defined(_WIN32)
// The module definition file names the export; nothing to decorate here.
#define KORVA_REGEX_API
#else
#define KORVA_REGEX_API __attribute__((visibility("default")))
#endif

extern "C" [[nodiscard]] KORVA_REGEX_API int32_t CheckStringWithRegEx(const korva::WChar* text,
                                                                      int32_t textLength,
                                                                      const korva::WChar* pattern,
                                                                      int32_t patternLength, bool* matched);

namespace korva::regex {

// Work limits of one search. The match limit counts backtracking steps (about 10 ns each natively): ordinary
// password expressions need a few hundred, so 100,000 leaves wide room while bounding the worst case near 1
// ms.
constexpr uint32_t kMatchLimit = 100000;
// Nesting of backtracking points; a password is short, so this only stops runaway recursion.
constexpr uint32_t kDepthLimit = 10000;
// Heap the matcher may use for its backtracking frames, in KiB.
constexpr uint32_t kHeapLimitKiB = 8192;
// Longest pattern accepted, in code units.
constexpr uint32_t kMaxPatternLength = 65536;

}  // namespace korva::regex
