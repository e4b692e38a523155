// The diagnostic and trace logs, written to real files in a temporary folder, with the registry in memory and
// the clock fixed at 2026-12-04 22:15:03 (local time equal to UTC); error texts, versions and dates.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "infra/date_version.h"
#include "infra/error_texts.h"
#include "infra/log.h"
#include "tests/support/fake_clock.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/memory_registry.h"
#include "platform/sync.h"
#include "platform/result_codes.h"
#include "platform/system_messages.h"
#include "tests/support/failing_file_system.h"
#include "tests/support/fake_registry.h"
#include "tests/support/result_assert.h"

namespace korva {
namespace {

using platform::Files;
using platform::SystemTime;

constexpr int64_t kNow = 1796422503;  // 2026-12-04 22:15:03 UTC in Unix seconds, a Friday, day 338
constexpr const char* kBom = "\xEF\xBB\xBF";
constexpr auto* kPolicyKey = KW("HKEY_LOCAL_MACHINE\\Software\\Policies\\Quillmarsh\\Valexor\\VLX Gina");
constexpr auto* kTraceKey = KW("HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillmarsh\\KORVA\\GINA");

// A diagnostic log line as written at the fixed time.
std::string Line(const char* level, const std::string& message) {
    return "[04-12-2026 22:15:03] - " + std::string(level) + " - " + message + "\r\n";
}

std::string Trace(const char* level, const std::string& message, const char* stamp = "22:15:03 - 12/04/26") {
    return std::string(stamp) + " " + level + ": " + message + "\r\n";
}

// The UTF-16LE file as UTF-8 (its byte-order mark as kBom), "<no file>", or its size when too large to show.
std::string Read(const WString& path) {
    std::unique_ptr<platform::File> file;
    uint64_t size = 0;
    if (Files().Open(path.c_str(), platform::kGenericRead, platform::kShareRead | platform::kShareWrite,
                     platform::Disposition::OpenExisting, &file) != 0) {
        return "<no file>";
    }
    if (file->GetSize(&size) != 0 || size > (uint64_t{16} << 20)) {
        return "<" + std::to_string(size) + " bytes>";
    }
    WString text(size / 2, u'\0');
    uint32_t read = 0;
    EXPECT_EQ(0, file->Read(text.data(), static_cast<uint32_t>(text.size() * 2), &read));
    return Utf16ToUtf8(text);  // both builds are little-endian
}

// Removes a file a test may or may not have made.
void DeleteIfThere(const WString& path) {
    const int32_t result = Files().Delete(path.c_str());
    EXPECT_TRUE(result == winerr::kSuccess || result == winerr::kFileNotFound)
        << testing::DescribeResult(result);
}

// Makes a file of `size` zero bytes without writing them: fast, and sparse where the file system can.
void SetFileSize(const WString& path, uint64_t size) {
    std::unique_ptr<platform::File> file;
    uint64_t position = 0;
    ASSERT_EQ(0, Files().Open(path.c_str(), platform::kGenericWrite, platform::kShareNone,
                              platform::Disposition::CreateAlways, &file));
    ASSERT_EQ(0, file->Seek(static_cast<int64_t>(size), platform::SeekOrigin::Begin, &position));
    ASSERT_EQ(0, file->SetEnd());
}

class LogTest : public ::testing::Test {
  protected:
    LogTest() : clockOverride_(&clock_) {
        clock_.now = platform::kUnixEpochAsFileTime + kNow * platform::kFileTimeTicksPerSecond;
        EXPECT_EQ(0, Files().MakeTempDirectory(&folder_));
        path_ = platform::JoinPath(folder_, KW("test.log"));
        Configure(path_, 3, 0x500000, 0);
    }
    ~LogTest() override {  // the process-wide logs back to their initial state
        TraceSettings() = TraceLogSettings{};
        SharedFileHandler().ResetToDefaults();
        EXPECT_OK(Files().RemoveDirectoryTree(folder_.c_str()));
    }
    void Configure(const WString& path, uint32_t mask, uint32_t maxSize, uint32_t immediately) {
        handler_.Configure(cGjConfigurationLogFileHelper(path.c_str(), mask, maxSize, immediately));
    }
    void Log(uint32_t level, const std::string& message) {
        cGjLog log;
        log.AddHandler(&handler_);
        log.LogMessage(level, KW("%s"), Utf8ToUtf16(message).c_str());
    }

    testing::FakeClock clock_;
    platform::ScopedClockOverride clockOverride_;
    korva::testing::FakeRegistry registry_;
    WString folder_;
    WString path_;
    cGjLogHandlerFile handler_;
};

TEST_F(LogTest, EachOperationWritesItsLineShape) {
    struct Messages final : platform::SystemMessages {
        WString Text(uint32_t) override { return KW("Access\r is\r\ndenied.\n"); }
    } messages;
    platform::ScopedSystemMessagesOverride messagesOverride(&messages);
    const std::string name(300, 'n');  // far beyond any fixed-size buffer
    // Every handler gets its own whole copy of each record; a null one is skipped.
    cGjLogHandlerFile second;
    const WString secondPath = platform::JoinPath(folder_, KW("second.log"));
    second.Configure(cGjConfigurationLogFileHelper(secondPath.c_str(), 3, 0x500000, 0));
    cGjLog log;
    log.AddHandler(&handler_);
    log.AddHandler(nullptr);
    log.AddHandler(&second);
    log.LogWithCode(kLogError, -8, KW("Caught exception while loading policies."));
    log.LogMessage(kLogInformation, KW("Loaded %d policies for %s."), 3, Utf8ToUtf16(name).c_str());
    log.LogSystemError(kLogError, 5, KW("Cannot open '%s'."), KW("x"));  // line breaks removed
    log.LogHResult(kLogError, static_cast<int32_t>(0x80004005), KW("Query failed."));
    log.LogHResult(kLogError, 0x12345, KW("Odd."));
    EXPECT_OK(log.Flush());
    const std::string expected = kBom +
                                 Line("Error", "Error code (-8) - Caught exception while loading policies.") +
                                 Line("Information", "Loaded 3 policies for " + name + ".") +
                                 Line("Error", "Cannot open 'x'. Error code (5): Access isdenied.") +
                                 Line("Error", "Query failed. Error code 0x80004005. Unspecified error.") +
                                 Line("Error", "Odd. Error code 0x12345. Unknown Error.");
    EXPECT_EQ(expected, Read(path_));
    EXPECT_EQ(expected, Read(secondPath));
}

// Logged under mask 3, flushed under the row's mask: the mask in force at flush decides.
TEST_F(LogTest, MaskDecidesWhichLevelsAreWritten) {
    const std::tuple<uint32_t, uint32_t, const char*> cases[] = {
        // level, mask, the level's name in the written line (null: nothing written)
        {kLogWarning, 3, "Warning"}, {kLogWarning, 1, nullptr},  // 22 is 2 + 4 + 16
        {kLogNone, 3, nullptr},      {kLogNone, 0xFFFFFFFE, nullptr}, {kLogNone, kLogAll, "None"},
        {kLogDebug, 3, nullptr},     {kLogDebug, 4, "Debug"},         {8, kLogAll, "Unknown"},
    };
    for (const auto& [level, mask, written] : cases) {
        SCOPED_TRACE(::testing::Message() << "level " << level << " mask " << mask);
        DeleteIfThere(path_);
        Configure(path_, 3, 0x500000, 0);
        Log(level, "m");
        Configure(path_, mask, 0x500000, 0);
        EXPECT_EQ(0, handler_.Flush());
        EXPECT_EQ(kBom + (written ? Line(written, "m") : ""), Read(path_));
        EXPECT_EQ(0u, handler_.PendingCount());  // filtered records are not kept either
    }
}

// An existing file over the maximum is emptied at flush; the mark goes once into a new or empty file only.
TEST_F(LogTest, FileStartAfterFlushes) {
    const std::tuple<int64_t, uint32_t, std::string> cases[] = {
        // existing size (-1: no file), maximum, what comes before the lines
        {-1, 100, kBom},
        {0, 100, kBom},
        {100, 100, std::string(50, '\0')},  // at the maximum: kept, and no mark
        {102, 100, kBom},
        {(int64_t{1} << 32) + 2, 0x500000, kBom},  // over 4 GiB, though its low 32 bits are below 100
    };
    for (const auto& [size, maxSize, start] : cases) {
        SCOPED_TRACE(size);
        DeleteIfThere(path_);
        if (size >= 0) {
            ASSERT_NO_FATAL_FAILURE(SetFileSize(path_, static_cast<uint64_t>(size)));
        }
        Configure(path_, 3, maxSize, 0);
        Log(kLogError, "a");
        Log(kLogError, "b");
        EXPECT_EQ(0, handler_.Flush());
        Configure(path_, 3, 0x500000, 0);
        Log(kLogError, "c");  // appended: no second mark
        EXPECT_EQ(0, handler_.Flush());
        EXPECT_EQ(start + Line("Error", "a") + Line("Error", "b") + Line("Error", "c"), Read(path_));
    }
}

// While the file cannot be written, records wait; once it can, they are written, and in immediate mode before
// Log returns.
TEST_F(LogTest, RecordsWaitUntilTheFileCanBeWritten) {
    const std::pair<WString, int32_t> cases[] = {
        {platform::JoinPath(platform::JoinPath(folder_, KW("none")), KW("a.log")), 3},  // no such folder
        {WString(), 0},                                                                 // no file name
    };
    for (const auto& [target, error] : cases) {
        SCOPED_TRACE(error);
        DeleteIfThere(path_);
        Configure(target, 3, 0x500000, 0);
        Log(kLogError, "kept");
        EXPECT_EQ(error, handler_.Flush());
        EXPECT_EQ(1u, handler_.PendingCount());
        Configure(path_, 3, 0x500000, 0);
        EXPECT_EQ(0, handler_.Flush());
        EXPECT_EQ(kBom + Line("Error", "kept"), Read(path_));
    }
    Configure(path_, 3, 0x500000, 1);
    Log(kLogError, "now");
    EXPECT_EQ(kBom + Line("Error", "kept") + Line("Error", "now"), Read(path_));
}

// Each step of a flush that fails is reported; the records keep waiting and the file is left as it was (no
// byte-order mark on top of old text), except after a failed close, which comes once they were written.
TEST_F(LogTest, FlushReportsTheFailedStepAndKeepsTheRecords) {
    using Op = testing::FailingFileSystem::Op;
    const struct {
        Op op;
        int32_t code;
        const char* existing;  // null: no file
        int32_t expected;
        bool written;
    } kCases[] = {
        {Op::Open, winerr::kSharingViolation, nullptr, winerr::kSharingViolation, false},
        {Op::GetSize, winerr::kReadFault, "old", winerr::kReadFault, false},
        {Op::Seek, winerr::kNegativeSeek, "old", winerr::kNegativeSeek, false},  // at the end
        {Op::Seek, winerr::kNegativeSeek, "old text over the limit", winerr::kNegativeSeek, false},  // start
        {Op::SetEnd, winerr::kDiskFull, "old text over the limit", winerr::kDiskFull, false},
        {Op::Write, winerr::kDiskFull, nullptr, winerr::kDiskFull, false},  // the byte-order mark
        {Op::Write, winerr::kDiskFull, "old", winerr::kDiskFull, false},    // the records
        {Op::Write, winerr::kSuccess, "old", winerr::kWriteFault, false},   // a write that takes nothing
        {Op::Close, winerr::kInvalidHandle, "old", winerr::kInvalidHandle, true},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(::testing::Message() << "operation " << static_cast<int>(c.op) << " on "
                                          << (c.existing ? c.existing : "no file"));
        DeleteIfThere(path_);
        // Opening makes the file: only a failed open leaves none.
        const std::string before = c.existing         ? kBom + std::string(c.existing)
                                   : c.op == Op::Open ? "<no file>"
                                                      : "";
        if (c.existing) {
            const WString old = Utf8ToUtf16(c.existing);
            const std::string bytes = "\xFF\xFE" + std::string(reinterpret_cast<const char*>(old.data()),
                                                               old.size() * sizeof(WChar));
            ASSERT_OK(platform::WriteWholeFile(path_.c_str(), bytes.data(), bytes.size()));
        }
        Configure(path_, 3, 20, 0);
        Log(kLogError, "kept");
        {
            testing::FailingFileSystem files;
            files.FailNext(c.op, c.code, KW("test.log"));
            EXPECT_RESULT(c.expected, handler_.Flush());
        }
        EXPECT_EQ(handler_.PendingCount(), c.written ? 0u : 1u);
        if (!c.written) {
            EXPECT_EQ(Read(path_), before);
            EXPECT_OK(handler_.Flush());  // the next flush writes what waited
            EXPECT_EQ(handler_.PendingCount(), 0u);
        }
        EXPECT_NE(Read(path_).find(Line("Error", "kept")), std::string::npos);
    }
}

// A trace line that cannot be written is lost, its error kept; a file over the limit that cannot be emptied
// is left as it was.
TEST_F(LogTest, TraceLineFailuresAreKept) {
    using Op = testing::FailingFileSystem::Op;
    TraceSettings().path = path_;
    const struct {
        Op op;
        int32_t code;
        bool full;  // the file is over the limit
        int32_t expected;
    } kCases[] = {
        {Op::Open, winerr::kSharingViolation, false, winerr::kSharingViolation},
        {Op::GetSize, winerr::kReadFault, false, winerr::kReadFault},
        {Op::Seek, winerr::kNegativeSeek, false, winerr::kNegativeSeek},
        {Op::Seek, winerr::kNegativeSeek, true, winerr::kNegativeSeek},  // the second: back to the start
        {Op::SetEnd, winerr::kDiskFull, true, winerr::kDiskFull},
        {Op::Write, winerr::kDiskFull, false, winerr::kDiskFull},
        {Op::Write, winerr::kSuccess, false, winerr::kWriteFault},
        {Op::Close, winerr::kInvalidHandle, false, winerr::kInvalidHandle},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(::testing::Message()
                     << "operation " << static_cast<int>(c.op) << (c.full ? " full" : ""));
        const uint64_t size = c.full ? kTraceLogMaxFileSize + 2 : 4;
        ASSERT_NO_FATAL_FAILURE(SetFileSize(path_, size));
        EXPECT_OK(TakeLastTraceFailure());
        {
            testing::FailingFileSystem files;
            // The seek to the end comes first; over the limit, the second seek goes back to the start.
            files.FailNext(c.op, c.code, KW("test.log"), c.full && c.op == Op::Seek ? 1 : 0);
            TraceLog(kTraceError, KW("x"));
            EXPECT_RESULT(c.expected, TakeLastTraceFailure());
        }
        if (c.op != Op::Close) {
            EXPECT_EQ(Read(path_), std::string(size / 2, '\0'));
        }
    }
}

// Waiting records are bounded: the oldest go first, and the next write says how many went.
TEST_F(LogTest, WaitingRecordsAreBoundedAndDropsAreReported) {
    Configure(WString(), 3, 0x500000, 0);
    for (int i = 1; i <= 1005; ++i) {
        Log(kLogError, "record " + std::to_string(i));
    }
    EXPECT_EQ(cGjLogHandlerFile::kMaxPendingRecords, handler_.PendingCount());
    Configure(path_, 3, 0x500000, 0);
    EXPECT_EQ(0, handler_.Flush());
    const std::string text = Read(path_);
    const std::string head =
        kBom + Line("Warning", "5 older records were dropped while the log file could not be written.") +
        Line("Error", "record 6");
    EXPECT_EQ(head, text.substr(0, head.size()));
    EXPECT_EQ(Line("Error", "record 1005"), text.substr(text.rfind('[')));

    // The text bound (1 MiB): a second 300,000-character message pushes out the first; the newest stays.
    Configure(WString(), 3, 0x500000, 0);
    for (const size_t length : {300000, 300000, 700000}) {
        Log(kLogError, std::string(length, 'b'));
        EXPECT_EQ(1u, handler_.PendingCount());
    }
    EXPECT_EQ(2u, handler_.DroppedCount());
}

// Two threads log into one handler at once: nothing is lost and no line is torn.
TEST_F(LogTest, ConcurrentLoggingKeepsEveryLineWhole) {
    std::atomic<int> failedFlushes{0};
    auto body = [this, &failedFlushes] {
        for (int i = 0; i < 100; ++i) {
            Log(kLogError, "m");
            failedFlushes += handler_.Flush() != 0;
        }
    };
    platform::Thread other;
    ASSERT_EQ(0, other.Start(body));
    body();
    ASSERT_TRUE(other.Join(0xFFFFFFFF));
    EXPECT_EQ(failedFlushes.load(), 0);
    std::string expected = kBom;
    for (int i = 0; i < 200; ++i) {
        expected += Line("Error", "m");
    }
    EXPECT_EQ(expected, Read(path_));
}

// Only a non-zero "LogEnabled" configures a file, from the FileLog values of the right type or the defaults;
// a "LogEnabled" that cannot be read is reported in the trace log.
TEST_F(LogTest, DiagnosticLogConfigurationFromTheRegistry) {
    const WString tracePath = platform::JoinPath(folder_, KW("trace.log"));
    TraceSettings().path = tracePath;
    auto configure = [&] {  // the handler's settings, then the trace log
        DeleteIfThere(tracePath);
        ConfigureDiagnosticLogFromRegistry();
        EXPECT_EQ(0u, registry_.OpenHandleCount());
        const cGjLogHandlerFile& h = SharedFileHandler();
        return Utf16ToUtf8(h.FileName()) + " " + std::to_string(h.Mask()) + " " +
               std::to_string(h.MaxFileSize()) + " " + std::to_string(h.Immediately()) + " " +
               Read(tracePath);
    };
    const std::string off = " 3 5242880 0 ";
    const std::string unreadable =
        "An error has occurred while getting the value 'LogEnabled' at "
        "'Software\\Policies\\Quillmarsh\\Valexor\\VLX Gina' in the registry. Errorcode ";
    registry_.PutString(kPolicyKey, KW("FileLogFilename"), path_);
    registry_.PutDword(kPolicyKey, KW("FileLogMask"), 1);
    registry_.PutDword(kPolicyKey, KW("FileLogMaxFileSize"), 100);
    registry_.PutDword(kPolicyKey, KW("FileLogImmediately"), 1);
    EXPECT_EQ(off + Trace("Error", unreadable + "2"), configure());  // "LogEnabled" absent
    registry_.PutString(kPolicyKey, KW("LogEnabled"), KW("1"));
    EXPECT_EQ(off + Trace("Error", unreadable + "-1"), configure());  // a string
    registry_.PutDword(kPolicyKey, KW("LogEnabled"), 0);
    EXPECT_EQ(off + "<no file>", configure());
    registry_.PutDword(kPolicyKey, KW("LogEnabled"), 7);
    EXPECT_EQ(Utf16ToUtf8(path_) + " 1 100 1 <no file>", configure());
    registry_.PutDword(kPolicyKey, KW("FileLogFilename"), 1);
    registry_.PutString(kPolicyKey, KW("FileLogMask"), KW("1"));
    registry_.PutString(kPolicyKey, KW("FileLogMaxFileSize"), KW("100"));
    registry_.PutString(kPolicyKey, KW("FileLogImmediately"), KW("1"));
    // Values of the wrong type keep their defaults, and the trace log says so.
    EXPECT_EQ("C:\\VLX_CredProvLog.txt 3 5242880 0 " +
                  Trace("Warning",
                        "A diagnostic log setting at 'Software\\Policies\\Quillmarsh\\Valexor\\VLX Gina' "
                        "could not be read; its default is used. Errorcode -1"),
              configure());
}

// Trace lines append, without a byte-order mark, in local 24-hour time, when (mask AND level) is non-zero.
TEST_F(LogTest, TraceLog) {
    TraceLog(kTraceError, KW("no file yet"));
    registry_.PutString(kTraceKey, KW("Log File"), path_);
    LoadTraceLogSettingsFromRegistry();
    for (const uint32_t level : {0u, 1u, 2u, 4u, 8u}) {  // without "Log Mask" the mask is 7
        TraceLog(level, KW("cGbCredentialProvider::%s"), KW("Initialize"));
    }
    registry_.PutDword(kTraceKey, KW("Log Mask"), 0xFFFFFFFF);
    LoadTraceLogSettingsFromRegistry();
    TraceLog(8, KW("eight"));
    TraceLog(3, KW("three"));
    clock_.utcOffsetSeconds = 7200;
    TraceLog(kTraceWarning, KW("x"));
    EXPECT_EQ(Trace("Error", "cGbCredentialProvider::Initialize") +
                  "22:15:03 - 12/04/26 Warning: cGbCredentialProvider::Initialize\r\n" +
                  Trace("Information", "cGbCredentialProvider::Initialize") + Trace("Message", "eight") +
                  Trace("Message", "three") + Trace("Warning", "x", "00:15:03 - 12/05/26"),
              Read(path_));
}

// "Log Mask" picks the trace levels written; absent or not a number, it is 7.
TEST_F(LogTest, TraceMaskComesFromTheRegistry) {
    registry_.PutString(kTraceKey, KW("Log File"), path_);
    const struct {
        const char* stored;  // in order: each row replaces the one before
        std::function<void()> store;
        std::string levels;
    } kCases[] = {
        {"absent", [] {}, "1 2 4 "},
        {"2", [&] { registry_.PutDword(kTraceKey, KW("Log Mask"), 2); }, "2 "},
        {"9", [&] { registry_.PutDword(kTraceKey, KW("Log Mask"), 9); }, "1 8 "},
        {"text", [&] { registry_.PutString(kTraceKey, KW("Log Mask"), KW("2")); }, "1 2 4 "},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.stored);
        DeleteIfThere(path_);
        c.store();
        LoadTraceLogSettingsFromRegistry();
        for (const uint32_t level : {1u, 2u, 4u, 8u}) {
            TraceLog(level, KW("%u"), level);
        }
        std::string levels;
        const std::string text = Read(path_);
        for (size_t at = text.find(": "); at != std::string::npos; at = text.find(": ", at + 1)) {
            levels += text.substr(at + 2, 1) + " ";
        }
        EXPECT_EQ(levels, c.levels);
    }
}

TEST_F(LogTest, TraceFileAboveTheLimitIsEmptiedBeforeTheLine) {
    TraceSettings().path = path_;
    for (const uint64_t size : {kTraceLogMaxFileSize, kTraceLogMaxFileSize + 1}) {
        SCOPED_TRACE(size);
        ASSERT_NO_FATAL_FAILURE(SetFileSize(path_, size));
        TraceLog(kTraceError, KW("x"));
        const std::string kept(size > kTraceLogMaxFileSize ? 0 : size / 2, '\0');
        EXPECT_EQ(kept + Trace("Error", "x"), Read(path_));  // no byte-order mark
    }
}

TEST(ErrorTextTest, HResultTexts) {
    EXPECT_EQ(263u, HResultTextTable().size());
    for (const HResultTextRow& row : HResultTextTable()) {  // every row can be found
        EXPECT_EQ(row.text, HResultText(static_cast<int32_t>(row.code))) << std::hex << row.code;
    }
    const std::pair<uint32_t, const WChar*> cases[] = {
        {0x80004005, KW("Unspecified error.")},
        {0x80004006, KW("Thread local storage failure.")},
        {0x8000FFFF, KW("Catastrophic failure.")},
        {0x80070057, KW("One or more arguments are invalid.")},
        {0x8000500D,
         KW("The property cannot be found in the cache. Verify that GetInfo has been called implicitly or "
            "explicitly. If the attribute is an operational attribute, it must be explicitly retrieved with "
            "GetInfoEx instead of GetInfo. If the problem persists, the property has not been set on the "
            "server.")},
        {0x5012, KW("The search operation has reached the last row. Move on to the rest of the program.")},
        // Not in the table: success, gaps between the ranges, beyond the last code.
        {0x00000000, KW("Unknown Error.")},
        {0x80040E66, KW("Unknown Error.")},
        {0x80005011, KW("Unknown Error.")},
        {0xFFFFFFFF, KW("Unknown Error.")},
    };
    for (const auto& [code, text] : cases) {
        EXPECT_EQ(WString(text), HResultText(static_cast<int32_t>(code))) << std::hex << code;
    }
}

TEST(ErrorTextTest, CrackNameStatusTexts) {
    const std::pair<uint32_t, const WChar*> cases[] = {
        {0, KW("Unknown crack name error.")},
        {1, KW("A generic processing error occurred.")},
        {6, KW("A syntactical mapping cannot be performed on the client without transmitting over the "
               "network.")},
        {7, KW("The name is from an external trusted forest.")},
        {8, KW("Unknown crack name error.")},
    };
    for (const auto& [status, text] : cases) {
        EXPECT_EQ(WString(text), CrackNameStatusText(status)) << status;
    }
}

// The platform's own text, whatever its wording here, on one line (a fake one: see the log's line shapes).
TEST(ErrorTextTest, SystemErrorTextIsOneLine) {
    EXPECT_EQ(WString::npos, SystemErrorText(2).find_first_of(KW("\r\n")));
}

TEST(VersionTest, ParseAndCompare) {
    const CVersionParser reference(1, 8, 0, 1037);
    // The text (null: a null pointer), its parts (-1: missing), and 1.8.0.1037 compared with it.
    const std::tuple<const WChar*, std::array<int32_t, 4>, int32_t> cases[] = {
        {KW("1.8.0.1037"), {1, 8, 0, 1037}, 0},
        {KW("1.8.0.1036"), {1, 8, 0, 1036}, 1},
        {KW("1.9"), {1, 9, -1, -1}, -1},
        {KW("1.8"), {1, 8, -1, -1}, 1},
        {KW("2.1"), {2, 1, -1, -1}, -1},
        {KW("3.x.5"), {3, 0, 5, -1}, -1},        // no digits: 0
        {KW("1.2.3.4.5"), {1, 2, 3, 4}, 1},      // beyond the fourth part: ignored
        {KW("1..2"), {1, 0, 2, -1}, 1},          // an empty part: 0
        {KW(" 7.-2.+3.4x"), {7, -2, 3, 4}, -1},  // blanks, signs, trailing non-digits
        {KW("1."), {1, -1, -1, -1}, 1},          // nothing after the last dot
        {KW("99999999999.-99999999999"), {2147483647, -2147483647 - 1, -1, -1}, -1},  // clamped to 32 bits
        {KW(""), {-1, -1, -1, -1}, 1},
        {nullptr, {-1, -1, -1, -1}, 1},
    };
    for (const auto& [text, parts, compared] : cases) {
        SCOPED_TRACE(text ? Utf16ToUtf8(text) : "null");
        const CVersionParser v(text);
        EXPECT_EQ(parts, (std::array<int32_t, 4>{v.Major(), v.Minor(), v.Build(), v.Revision()}));
        EXPECT_EQ(compared, reference.CompareWithText(text));
    }
}

SystemTime Time(uint16_t year, uint16_t month, uint16_t day, uint16_t hour, uint16_t minute,
                uint16_t second = 0, uint16_t milliseconds = 0) {
    return SystemTime{year, month, 0, day, hour, minute, second, milliseconds};  // the day of week is unread
}

std::string Text(const SystemTime& t) {
    char buffer[64];
    std::snprintf(buffer, sizeof(buffer), "%04u-%02u-%02u %02u:%02u:%02u dow %u", t.year, t.month, t.day,
                  t.hour, t.minute, t.second, t.dayOfWeek);
    return buffer;
}

TEST(DateTest, CalendarArithmetic) {
    const std::tuple<SystemTime, int64_t, const char*> cases[] = {
        // start, seconds (< 0: subtracted), result
        {Time(2026, 12, 4, 0, 0), -30, "2026-12-03 23:59:30 dow 4"},    // back across midnight
        {Time(2024, 2, 28, 23, 0), 3600, "2024-02-29 00:00:00 dow 4"},  // leap day
        {SystemTime{}, 60, "1601-01-01 00:01:00 dow 1"},                // unconvertible: counts as 1601-01-01
        {Time(1601, 1, 1, 0, 0), -1, "1601-01-01 00:00:00 dow 0"},      // before the calendar: unchanged
    };
    for (const auto& [start, seconds, expected] : cases) {
        SystemTime t = start;
        seconds < 0 ? SubtractSeconds(&t, -seconds) : AddSeconds(&t, seconds);
        EXPECT_EQ(expected, Text(t)) << Text(start) << " + " << seconds;
    }
    // Differences in 100-nanosecond units; a time that cannot be converted counts as 0 (FileTime 0).
    const SystemTime later = Time(2026, 12, 4, 0, 1, 30, 5);
    const SystemTime earlier = Time(2026, 12, 4, 0, 0);
    EXPECT_EQ(900'050'000, TimeDifference(later, earlier));
    EXPECT_EQ(-900'050'000, TimeDifference(earlier, later));
    EXPECT_EQ(134'408'160'000'000'000, TimeDifference(earlier, SystemTime{}));
    EXPECT_EQ(0, TimeDifference(Time(2026, 13, 1, 0, 0), SystemTime{}));
}

TEST_F(LogTest, RecordDateText) {
    const WString fits(kMaxDateTextLength, u'x');
    const WString tooLong = fits.substr(3) + KW("%Y");  // one character too many once formatted
    const std::tuple<int64_t, int64_t, const WChar*, WString> cases[] = {
        // time, UTC offset of local time, pattern (null: the default), text
        {kNow, 0, nullptr, KW("04-12-2026 22:15:03")},
        {kNow, 7200, nullptr, KW("05-12-2026 00:15:03")},
        {kNow, 0, KW("%y/%m/%d %I:%M:%S %p"), KW("26/12/04 10:15:03 PM")},
        {kNow, 0, KW("%a %A %b %B"), KW("Fri Friday Dec December")},
        {kNow, 0, KW("%j %w %U %W %%"), KW("338 5 48 48 %")},
        {kNow, 0, KW("%c | %x | %X"), KW("12/04/26 22:15:03 | 12/04/26 | 22:15:03")},
        {kNow, 0, KW("%#d.%#m.%Y"), KW("4.12.2026")},
        {kNow, 0, fits.c_str(), fits},
        {0, 0, nullptr, KW("Unknown date")},  // no time
        {kNow, 0, KW("%Q"), KW("Unknown date")},
        {kNow, 0, KW("50%"), KW("Unknown date")},
        {kNow, 0, tooLong.c_str(), KW("Unknown date")},
    };
    WString text;
    for (const auto& [time, utcOffset, pattern, expected] : cases) {
        SCOPED_TRACE(pattern ? Utf16ToUtf8(pattern) : "default");
        clock_.utcOffsetSeconds = utcOffset;
        EXPECT_EQ(expected == KW("Unknown date") ? kDateTextUnavailable : 0,
                  RecordDateText(time, pattern, &text));
        EXPECT_EQ(expected, text);
    }
    clock_.failLocalConversion = true;  // no local time, no date
    EXPECT_EQ(kDateTextUnavailable, RecordDateText(kNow, nullptr, &text));
    EXPECT_EQ(WString(KW("Unknown date")), text);
}

}  // namespace
}  // namespace korva
