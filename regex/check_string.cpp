#include "regex/check_string.h"

#include <memory>

#include <pcre2.h>

#include "platform/result_codes.h"

namespace korva::regex {
namespace {

static_assert(sizeof(WChar) == sizeof(PCRE2_UCHAR), "PCRE2 must be built for 16-bit code units");

struct CompileContextFree {
    void operator()(pcre2_compile_context* p) const { pcre2_compile_context_free(p); }
};
struct CodeFree {
    void operator()(pcre2_code* p) const { pcre2_code_free(p); }
};
struct MatchContextFree {
    void operator()(pcre2_match_context* p) const { pcre2_match_context_free(p); }
};
struct MatchDataFree {
    void operator()(pcre2_match_data* p) const { pcre2_match_data_free(p); }
};

PCRE2_SPTR AsPcre(const WChar* text) {
    return reinterpret_cast<PCRE2_SPTR>(text);
}

int32_t Search(const WChar* text, const WChar* pattern, bool* matched) {
    std::unique_ptr<pcre2_compile_context, CompileContextFree> compileContext(
        pcre2_compile_context_create(nullptr));
    if (!compileContext) {
        return kResultRegexFailed;
    }
    pcre2_set_max_pattern_length(compileContext.get(), kMaxPatternLength);

    // No options: case-sensitive, '^' and '$' anchor at the ends of the text only, '.' stops at a newline.
    // Without UTF mode every UTF-16 code unit is a character, so a text holding an unpaired surrogate (which
    // a password box can produce) is still searched instead of being rejected as invalid UTF-16.
    int errorCode = 0;
    PCRE2_SIZE errorOffset = 0;
    std::unique_ptr<pcre2_code, CodeFree> code(pcre2_compile(AsPcre(pattern), PCRE2_ZERO_TERMINATED, 0,
                                                             &errorCode, &errorOffset, compileContext.get()));
    if (!code) {
        return kResultRegexFailed;
    }

    std::unique_ptr<pcre2_match_context, MatchContextFree> matchContext(pcre2_match_context_create(nullptr));
    if (!matchContext) {
        return kResultRegexFailed;
    }
    // A pattern may lower these limits with (*LIMIT_MATCH=...) and the like, but never raise them.
    pcre2_set_match_limit(matchContext.get(), kMatchLimit);
    pcre2_set_depth_limit(matchContext.get(), kDepthLimit);
    pcre2_set_heap_limit(matchContext.get(), kHeapLimitKiB);

    // Only whether a match exists is read, so one pair of offsets is enough.
    std::unique_ptr<pcre2_match_data, MatchDataFree> matchData(pcre2_match_data_create(1, nullptr));
    if (!matchData) {
        return kResultRegexFailed;
    }

    const int rc = pcre2_match(code.get(), AsPcre(text), PCRE2_ZERO_TERMINATED, 0, 0, matchData.get(),
                               matchContext.get());
    if (rc >= 0) {  // 0 only says the offset vector was too small to hold every group: still a match
        *matched = true;
        return 0;
    }
    // Every other negative result is a failure: a work limit reached (PCRE2_ERROR_MATCHLIMIT, _DEPTHLIMIT,
    // _HEAPLIMIT), memory exhausted, or invalid UTF-16 in a text searched by a pattern that opted into
    // (*UTF).
    return rc == PCRE2_ERROR_NOMATCH ? 0 : kResultRegexFailed;
}

}  // namespace
}  // namespace korva::regex

extern "C" int32_t CheckStringWithRegEx(const korva::WChar* text, int32_t /*textLength*/,
                                        const korva::WChar* pattern, int32_t /*patternLength*/,
                                        bool* matched) {
    if (matched == nullptr) {
        return korva::kResultRegexFailed;
    }
    *matched = false;
    if (pattern == nullptr) {
        return korva::kResultRegexFailed;
    }
    // A null text is the empty text, as everywhere else in the system's text handling.
    static const korva::WChar kEmpty[1] = {0};
    try {
        return korva::regex::Search(text != nullptr ? text : kEmpty, pattern, matched);
    } catch (...) {
        *matched = false;
        return korva::kResultRegexFailed;
    }
}
