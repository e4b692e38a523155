// The policy linter behind `korva-policy lint`: checks a policy document as it would be stored in the
// directory (UTF-8 bytes, optionally ending in a "#<digits>#" time suffix) by running the engine's own load
// path on it (CPolicylist::LoadFromDocumentBytes: conversion, time suffix, LoadFromXML), and reports the
// policies that loaded, the findings (values the engine replaced because they are not numbers it reads) and
// the engine's log, as text or as one JSON object. The engine's load report supplies the time suffix, the
// version, the element counts and the parse error, so the document is parsed once.
//
// Exit codes:
//   0  the document loaded and every policy element in it became a policy;
//   1  the document loaded but some policy elements were left out (the log says why), or, with --strict,
//      there are findings;
//   2  the document could not be loaded: no such file, unreadable, more than kMaxDocumentBytes, empty, not
//      well-formed XML, zero or several "PolicyList" elements, a "PolicyList" without children, or one whose
//      children hold no policy element at all (only comments or text: no user would get a policy);
//   64 the command line was not understood.
// Comments, processing instructions and stray text between policy elements are not policy elements: the
// engine skips them (stray text with a Warning in the log) and they do not change the exit code.
//
// Everything is computed into strings so that the whole command can be tested without a process. The
// command line is in lint_command.h, the two outputs in lint_render.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "infra/log.h"
#include "platform/text.h"
#include "policy/load_report.h"
#include "policy/policy_list.h"

namespace korva::tools {

enum LintExitCode : int {
    kLintAllLoaded = 0,
    kLintPoliciesLeftOut = 1,
    kLintNotLoaded = 2,
    kLintUsage = 64,
};

constexpr const char* kProgramName = "korva-policy";

// The most the directory attribute holding the document takes; larger files are refused unread.
constexpr size_t kMaxDocumentBytes = 1000000;

struct LintOptions {
    bool json = false;
    // Log records kept, by the log's own mask rule (LevelPassesMask): 1 Error, 2 Information, 4 Debug, 16
    // selects Warning (22) alone; all by default.
    uint32_t levelMask = kLogAll;
    // Findings fail the check (exit 1) instead of being reported only.
    bool strict = false;
};

struct LintResult {
    int exitCode = kLintNotLoaded;
    std::string out;  // UTF-8, for standard output
    std::string err;  // UTF-8, for standard error
};

// What the linter learnt about one document.
struct LintReport {
    WString source;
    int32_t result = 0;       // of the engine's load
    DocumentLoadReport load;  // version and counts only when the load succeeded
    CPolicylist policies;
    std::vector<LogRecord> log;
};

// Keeps the records whose level passes the mask, in order.
class RecordingLogHandler : public cGjLogHandler {
  public:
    explicit RecordingLogHandler(uint32_t mask) : mask_(mask) {}
    void Log(LogRecord record) override;
    const std::vector<LogRecord>& Records() const { return records_; }

  private:
    uint32_t mask_;
    std::vector<LogRecord> records_;
};

// Lints stored document bytes; `source` names the document in the log and in messages.
LintResult LintDocumentBytes(std::string_view bytes, WStringView source, const LintOptions& options);

// The bytes of a document file, refusing one above kMaxDocumentBytes (ERROR_FILE_TOO_LARGE) before reading
// it whole. 0 or the file seam's Windows error. Every read of a document goes through here.
[[nodiscard]] int32_t ReadDocumentFile(const WString& path, std::string* bytes);

// Reads the file `path` through the file seam and lints its bytes.
LintResult LintFile(WStringView path, const LintOptions& options);

}  // namespace korva::tools
