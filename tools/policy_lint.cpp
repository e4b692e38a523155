#include "tools/policy_lint.h"

#include <algorithm>
#include <memory>

#include "infra/error_texts.h"
#include "platform/files.h"
#include "platform/result_codes.h"
#include "tools/lint_render.h"

namespace korva::tools {

namespace {

// ERROR_FILE_TOO_LARGE: the result reported for a file above kMaxDocumentBytes.
constexpr int32_t kFileTooLarge = 223;

std::string Utf8(WStringView text) {
    return Utf16ToUtf8(text);
}

std::string Count(size_t n, const char* singular, const char* plural) {
    return std::to_string(n) + " " + (n == 1 ? singular : plural);
}

// Where the bytes stop being valid UTF-8 (the conversion turns what follows into U+FFFD), or npos. Bytes
// that are valid UTF-8 survive the round trip through UTF-16 unchanged; the first difference is where the
// first invalid sequence starts.
size_t FirstInvalidUtf8Offset(std::string_view bytes) {
    const std::string back = Utf16ToUtf8(Utf8ToUtf16(bytes));
    const size_t common = std::min(back.size(), bytes.size());
    for (size_t i = 0; i < common; ++i) {
        if (back[i] != bytes[i]) {
            return i;
        }
    }
    return back.size() == bytes.size() ? std::string_view::npos : common;
}

std::string NotLoadedReason(const LintReport& report) {
    switch (report.result) {
        case winerr::kInvalidParameter:
            return "the document is empty (0 bytes)";
        case kResultNoPolicyDocument:
            return "the document has no text before its time suffix or first NUL byte";
        case kSFalse:
            return "not well-formed XML: " + Utf8(report.load.parseError);
        case kEOutOfMemory:
            return "out of memory while parsing the document";
        case kResultEmpty:
            if (report.load.policyLists != 1) {
                return "a policy document needs exactly one PolicyList element; this one has " +
                       std::to_string(report.load.policyLists);
            }
            return "the PolicyList element has no children";
        default:
            return "the policy list could not be loaded (result " + std::to_string(report.result) + ")";
    }
}

LintResult Finish(const LintReport& report, const LintOptions& options) {
    LintResult lint;
    lint.out = options.json ? RenderJson(report) : RenderText(report, options.levelMask);
    return lint;
}

std::string Prefix(WStringView source) {
    return std::string(kProgramName) + ": " + Utf8(source) + ": ";
}

}  // namespace

void RecordingLogHandler::Log(LogRecord record) {
    if (LevelPassesMask(record.level, mask_)) {
        records_.push_back(std::move(record));
    }
}

LintResult LintDocumentBytes(std::string_view bytes, WStringView source, const LintOptions& options) {
    LintReport report;
    report.source = WString(source);
    RecordingLogHandler handler(options.levelMask);
    cGjLog log;
    log.AddHandler(&handler);
    report.result = report.policies.LoadFromDocumentBytes(log, bytes, report.source.c_str(), &report.load);
    report.log = handler.Records();
    if (report.result != 0) {
        // Only the time is shown for a document that did not load: the rest describes a load that failed.
        report.load.version.reset();
        report.load.policyElements = 0;
        report.load.otherNodes = 0;
    }

    LintResult lint = Finish(report, options);
    const std::string prefix = Prefix(source);
    const size_t invalid = FirstInvalidUtf8Offset(bytes);
    if (invalid != std::string_view::npos) {
        lint.err += prefix + "note: the bytes are not valid UTF-8 from offset " + std::to_string(invalid) +
                    "; each invalid sequence reads as U+FFFD\n";
    }
    const size_t nul = bytes.find('\0');
    if (nul != std::string_view::npos) {
        lint.err += prefix + "note: the text ends at the NUL byte at offset " + std::to_string(nul) +
                    "; the bytes after it are ignored\n";
    }

    if (report.result != 0) {
        lint.exitCode = kLintNotLoaded;
        lint.err += prefix + "not loaded: " + NotLoadedReason(report) + "\n";
    } else if (report.load.policyElements == 0) {
        // Only comments or text inside PolicyList: the engine loads nothing, and no user would get a policy.
        lint.exitCode = kLintNotLoaded;
        lint.err += prefix + "not loaded: the PolicyList element holds no policy element\n";
    } else if (report.policies.size() < report.load.policyElements) {
        lint.exitCode = kLintPoliciesLeftOut;
        lint.err += prefix + std::to_string(report.load.policyElements - report.policies.size()) + " of " +
                    Count(report.load.policyElements, "policy element", "policy elements") +
                    " left out; the log says why\n";
    } else {
        lint.exitCode = kLintAllLoaded;
    }

    const size_t findings = report.load.findings.size();
    if (findings != 0) {
        lint.err += prefix + Count(findings, "value is not a number", "values are not numbers") +
                    " the provider reads; it uses another value instead (see the findings)\n";
        if (options.strict && lint.exitCode == kLintAllLoaded) {
            lint.exitCode = kLintPoliciesLeftOut;
        }
    }
    return lint;
}
// The read goes on to the end rather than trusting the size, so a file that grows meanwhile, or one that has
// no size (a pipe), is still held to the limit.
int32_t ReadDocumentFile(const WString& path, std::string* bytes) {
    bytes->clear();
    std::unique_ptr<platform::File> file;
    int32_t status = platform::Files().Open(path.c_str(), platform::kGenericRead,
                                            platform::kShareRead | platform::kShareWrite,
                                            platform::Disposition::OpenExisting, &file);
    if (status != winerr::kSuccess) {
        return status;
    }
    uint64_t size = 0;
    if (file->GetSize(&size) == winerr::kSuccess && size > kMaxDocumentBytes) {
        return kFileTooLarge;
    }
    char buffer[65536];
    for (;;) {
        uint32_t got = 0;
        status = file->Read(buffer, sizeof(buffer), &got);
        if (status != winerr::kSuccess) {
            return status;
        }
        if (got == 0) {
            break;
        }
        bytes->append(buffer, got);
        if (bytes->size() > kMaxDocumentBytes) {
            return kFileTooLarge;
        }
    }
    // A read handle that will not close is as suspect as a failed read.
    return file->Close();
}

LintResult LintFile(WStringView path, const LintOptions& options) {
    const WString name(path);
    std::string bytes;
    const int32_t status = ReadDocumentFile(name, &bytes);
    if (status == winerr::kSuccess) {
        return LintDocumentBytes(bytes, name, options);
    }
    // The load path never ran: JSON readers still get their one object (with the file's error as the
    // result); the text form has nothing to show but the message.
    LintResult lint;
    if (options.json) {
        LintReport report;
        report.source = name;
        report.result = status;
        lint = Finish(report, options);
    }
    lint.exitCode = kLintNotLoaded;
    if (status == kFileTooLarge) {
        lint.err = Prefix(name) + "not loaded: the file is larger than " + std::to_string(kMaxDocumentBytes) +
                   " bytes, the most the directory attribute holds\n";
    } else {
        const WString text = SystemErrorText(static_cast<uint32_t>(status));
        lint.err = Prefix(name) + "cannot read the file: " + (text.empty() ? "error" : Utf8(text)) + " (" +
                   std::to_string(status) + ")\n";
    }
    return lint;
}

}  // namespace korva::tools
