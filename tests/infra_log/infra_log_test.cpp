// The diagnostic and trace logs on real files, the clock at 2026-12-04 22:15:03 UTC; texts, versions, dates.
#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "infra/date_version.h"
#include "infra/error_texts.h"
#include "infra/log.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/result_codes.h"
#include "platform/system_messages.h"
#include "tests/support/failing_file_system.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fake_registry.h"
#include "tests/support/result_assert.h"

namespace korva {
namespace {

using platform::Files;
using Op = testing::FailingFileSystem::Op;

constexpr int64_t kNow = 1796422503;  // 2026-12-04 22:15:03 UTC, a Friday, day 338
constexpr const char* kBom = "\xEF\xBB\xBF";
constexpr int64_t kFull = kTraceLogMaxFileSize + 2;
constexpr auto* kTraceKey = KW("HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillmarsh\\KORVA\\GINA");

std::string Line(const char* level, const std::string& message) {
    return "[04-12-2026 22:15:03] - " + std::string(level) + " - " + message + "\r\n";
}

// The UTF-16LE file as UTF-8 (its byte-order mark as kBom), or "<no file>".
std::string Read(const WString& path) {
    std::vector<uint8_t> bytes;
    if (platform::ReadWholeFile(path.c_str(), 16 << 20, &bytes) != 0)
        return "<no file>";
    return Utf16ToUtf8(WString(reinterpret_cast<const WChar*>(bytes.data()), bytes.size() / 2));
}

// The file anew as `size` zero bytes, made without writing them; size < 0: no file.
void Recreate(const WString& path, int64_t size) {
    const int32_t deleted = Files().Delete(path.c_str());
    EXPECT_TRUE(deleted == winerr::kSuccess || deleted == winerr::kFileNotFound);
    std::unique_ptr<platform::File> file;
    uint64_t at = 0;
    if (size >= 0) {
        ASSERT_OK(Files().Open(path.c_str(), platform::kGenericWrite, platform::kShareNone,
                               platform::Disposition::CreateAlways, &file));
        ASSERT_OK(file->Seek(size, platform::SeekOrigin::Begin, &at));
        ASSERT_OK(file->SetEnd());
    }
}

class LogTest : public ::testing::Test {
  protected:
    LogTest() : clockOverride_(&clock_) {
        clock_.now = platform::kUnixEpochAsFileTime + kNow * platform::kFileTimeTicksPerSecond;
        EXPECT_OK(Files().MakeTempDirectory(&folder_));
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
        handler_.Log(LogRecord{kNow, Utf8ToUtf16(message), level});
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
    cGjLog log;
    log.AddHandler(nullptr);  // skipped
    log.AddHandler(&handler_);
    log.LogWithCode(kLogError, -8, KW("Caught exception while loading policies."));
    log.LogMessage(kLogInformation, KW("Loaded %d policies for %s."), 3, Utf8ToUtf16(name).c_str());
    log.LogSystemError(kLogError, 5, KW("Cannot open '%s'."), KW("x"));
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
    EXPECT_EQ(WString::npos, SystemErrorText(2).find_first_of(KW("\r\n")));  // the real text, on one line
}

// The mask in force at flush decides; a file over the maximum is emptied; the mark goes into an empty file only.
TEST_F(LogTest, FlushWritesByMaskAndFileSize) {
    // level, mask, its name in the lines (null: none written), file size (-1: none), maximum, what precedes
    const std::tuple<uint32_t, uint32_t, const char*, int64_t, uint32_t, std::string> kCases[] = {
        {kLogWarning, 3, "Warning", -1, 100, kBom},
        {kLogWarning, 1, nullptr, -1, 100, kBom},
        {kLogNone, 3, nullptr, -1, 100, kBom},
        {kLogNone, 0xFFFFFFFE, nullptr, -1, 100, kBom},
        {kLogNone, kLogAll, "None", -1, 100, kBom},
        {kLogDebug, 3, nullptr, -1, 100, kBom},
        {kLogDebug, 4, "Debug", -1, 100, kBom},
        {8, kLogAll, "Unknown", -1, 100, kBom},
        {kLogError, 3, "Error", 0, 100, kBom},
        {kLogError, 3, "Error", 100, 100, std::string(50, '\0')},
        {kLogError, 3, "Error", 102, 100, kBom},
        {kLogError, 3, "Error", (int64_t{1} << 32) + 2, 0x500000, kBom},  // low 32 bits below 100
    };
    for (const auto& [level, mask, written, size, maxSize, start] : kCases) {
        SCOPED_TRACE(::testing::Message() << "level " << level << " mask " << mask << " size " << size);
        Recreate(path_, size);
        Log(level, "a");
        Log(level, "b");
        Configure(path_, mask, maxSize, 0);
        EXPECT_OK(handler_.Flush());
        EXPECT_EQ(0u, handler_.PendingCount());
        Configure(path_, 3, 0x500000, 0);
        Log(kLogError, "c");
        EXPECT_OK(handler_.Flush());
        const std::string lines = written ? Line(written, "a") + Line(written, "b") : "";
        EXPECT_EQ(start + lines + Line("Error", "c"), Read(path_));
    }
}

// A failed flush step is reported, records wait (a trace line is lost); the file is unchanged but on close.
TEST_F(LogTest, FailedFileStepsAreReportedAndLeaveTheFile) {
    TraceSettings().path = path_;
    // the failing operation, its failure, the size of the file before (-1: none; kFull: over both limits), result
    const std::tuple<Op, int32_t, int64_t, int32_t> kCases[] = {
        {Op::Open, winerr::kSharingViolation, -1, winerr::kSharingViolation},
        {Op::GetSize, winerr::kReadFault, 4, winerr::kReadFault},
        {Op::Seek, winerr::kNegativeSeek, 4, winerr::kNegativeSeek},      // to the end
        {Op::Seek, winerr::kNegativeSeek, kFull, winerr::kNegativeSeek},  // back to the start
        {Op::SetEnd, winerr::kDiskFull, kFull, winerr::kDiskFull},
        {Op::Write, winerr::kDiskFull, 0, winerr::kDiskFull},  // the diagnostic log's byte-order mark
        {Op::Write, winerr::kDiskFull, 4, winerr::kDiskFull},
        {Op::Write, winerr::kSuccess, 4, winerr::kWriteFault},  // a write that takes nothing
        {Op::Write, winerr::kSuccess, 0, winerr::kWriteFault},
        {Op::Close, winerr::kInvalidHandle, 4, winerr::kInvalidHandle},
    };
    for (const auto& [op, code, size, expected] : kCases) {
        SCOPED_TRACE(::testing::Message() << "operation " << static_cast<int>(op) << " size " << size);
        Configure(path_, 3, kTraceLogMaxFileSize, 0);
        Log(kLogError, "kept");
        for (const bool trace : {false, true}) {
            Recreate(path_, size);
            const std::string before = Read(path_);
            EXPECT_OK(TakeLastTraceFailure());
            {
                testing::FailingFileSystem files;
                // The trace log seeks to the end first; over the limit, the second seek goes back to the start.
                files.FailNext(op, code, trace && size == kFull && op == Op::Seek ? 1 : 0);
                if (trace)
                    TraceLog(kTraceError, KW("x"));
                EXPECT_RESULT(expected, trace ? TakeLastTraceFailure() : handler_.Flush());
            }
            EXPECT_EQ(Read(path_) == before, op != Op::Close);  // a failed close comes after the write
        }
        EXPECT_EQ(handler_.PendingCount(), op == Op::Close ? 0u : 1u);
        EXPECT_OK(handler_.Flush());  // what waited is written now
        EXPECT_EQ(Read(path_).find(Line("Error", "kept")) != std::string::npos, op != Op::Close);
    }
    // At the limit the trace file is kept; above it, emptied before the line (never a byte-order mark).
    for (const uint64_t size : {kTraceLogMaxFileSize, kTraceLogMaxFileSize + 1}) {
        Recreate(path_, static_cast<int64_t>(size));
        TraceLog(kTraceError, KW("x"));
        const std::string kept(size > kTraceLogMaxFileSize ? 0 : size / 2, '\0');
        EXPECT_EQ(kept + "22:15:03 - 12/04/26 Error: x\r\n", Read(path_)) << size;
    }
}

// Without a file records wait, bounded: the oldest go, the next write says how many; immediate mode writes.
TEST_F(LogTest, WaitingRecordsAreBoundedAndDropsAreReported) {
    Configure(WString(), 3, 0x500000, 0);
    for (int i = 1; i <= 1005; ++i)
        Log(kLogError, "record " + std::to_string(i));
    EXPECT_OK(handler_.Flush());
    EXPECT_EQ(cGjLogHandlerFile::kMaxPendingRecords, handler_.PendingCount());
    Configure(path_, 3, 0x500000, 1);
    Log(kLogError, "now");
    const std::string text = Read(path_);
    const std::string head =
        kBom + Line("Warning", "6 older records were dropped while the log file could not be written.") +
        Line("Error", "record 7");
    EXPECT_EQ(head, text.substr(0, head.size()));
    EXPECT_TRUE(text.ends_with(Line("Error", "record 1005") + Line("Error", "now")))
        << text.substr(head.size());
    // The text bound (1 MiB): a second 300,000-character message pushes out the first; the newest stays.
    Configure(WString(), 3, 0x500000, 0);
    for (const size_t length : {300000, 300000, 700000}) {
        Log(kLogError, std::string(length, 'b'));
        EXPECT_EQ(1u, handler_.PendingCount());
    }
    EXPECT_EQ(2u, handler_.DroppedCount());
}

// Only a non-zero "LogEnabled" configures the diagnostic log; an unreadable value is traced and its default
// used. Trace lines are written when (mask AND level) is non-zero; a missing or non-number "Log Mask" is 7.
TEST_F(LogTest, BothLogsAreConfiguredFromTheRegistry) {
    TraceLog(kTraceError, KW("no file yet"));
    const WString tracePath = platform::JoinPath(folder_, KW("trace.log"));
    const WString policy =
        KW("Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\Software\\Policies\\"
           "Quillmarsh\\Valexor\\VLX Gina]\n");
    const WString numbers =
        KW("\"FileLogFilename\"=\"D:\\\\k.log\"\n\"FileLogMask\"=dword:1\n"
           "\"FileLogMaxFileSize\"=dword:64\n\"FileLogImmediately\"=dword:1\n");
    const WString texts =
        KW("\"FileLogFilename\"=dword:1\n\"FileLogMask\"=\"1\"\n\"FileLogMaxFileSize\"=\"100\"\n"
           "\"FileLogImmediately\"=\"1\"\n");
    const WString mask = KW("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillmarsh\\KORVA\\GINA]\n\"Log Mask\"=");
    const std::string off = " 3 5242880 0 ";
    const std::string unreadable =
        "Error: An error has occurred while getting the value 'LogEnabled' at "
        "'Software\\Policies\\Quillmarsh\\Valexor\\VLX Gina' in the registry. Errorcode ";
    const std::string levels = "Error: 1|Warning: 2|Message: 3|Information: 4|";
    const std::pair<WString, std::string> kCases[] = {
        // the values, the diagnostic log's file, mask, maximum and immediate flag, then the trace lines
        {numbers, off + unreadable + "2|" + levels},
        {numbers + KW("\"LogEnabled\"=\"1\"\n") + mask + KW("\"2\"\n"), off + unreadable + "-1|" + levels},
        {numbers + KW("\"LogEnabled\"=dword:0\n") + mask + KW("dword:2\n"), off + "Warning: 2|Message: 3|"},
        {numbers + KW("\"LogEnabled\"=dword:7\n") + mask + KW("dword:9\n"),
         "D:\\k.log 1 100 1 Error: 1|Message: 3|Message: 8|"},
        {texts + KW("\"LogEnabled\"=dword:7\n") + mask + KW("dword:ffffffff\n"),
         "C:\\VLX_CredProvLog.txt" + off +
             "Warning: A diagnostic log setting at 'Software\\Policies\\Quillmarsh\\Valexor\\VLX Gina' could "
             "not be read; its default is used. Errorcode -1|" +
             levels + "Message: 8|"},
    };
    registry_.PutString(kTraceKey, KW("Log File"), tracePath);
    for (const auto& [values, expected] : kCases) {  // each merges into what the rows before stored
        ASSERT_OK(registry_.LoadRegText(policy + values));
        Recreate(tracePath, -1);
        LoadTraceLogSettingsFromRegistry();
        ConfigureDiagnosticLogFromRegistry();
        for (const uint32_t level : {1u, 2u, 3u, 4u, 8u})
            TraceLog(level, KW("%u"), level);
        const cGjLogHandlerFile& h = SharedFileHandler();
        std::string text = Utf16ToUtf8(h.FileName()) + " " + std::to_string(h.Mask()) + " " +
                           std::to_string(h.MaxFileSize()) + " " + std::to_string(h.Immediately()) + " ";
        const std::string trace = Read(tracePath);
        for (size_t at = 0; at < trace.size(); at = trace.find('\n', at) + 1)  // without the stamps
            text += trace.substr(at + 20, trace.find('\r', at) - at - 20) + "|";
        EXPECT_EQ(text, expected) << Utf16ToUtf8(values);
    }
    clock_.utcOffsetSeconds = 7200;
    TraceLog(kTraceInformation, KW("x"));
    EXPECT_NE(Read(tracePath).find("00:15:03 - 12/05/26 Information: x\r\n"), std::string::npos);
}

TEST(ErrorTextTest, HResultAndCrackNameTexts) {
    for (const HResultTextRow& row : HResultTextTable())  // every row can be found
        EXPECT_EQ(row.text, HResultText(static_cast<int32_t>(row.code))) << std::hex << row.code;
    // Not in the table: success, gaps between the ranges, beyond the last code.
    for (const uint32_t code : {0x00000000u, 0x80040E66u, 0x80005011u, 0xFFFFFFFFu})
        EXPECT_EQ(WString(KW("Unknown Error.")), HResultText(static_cast<int32_t>(code))) << std::hex << code;
    WString texts;
    for (const uint32_t status : {0u, 1u, 7u, 8u})
        texts += WString(CrackNameStatusText(status)) + KW("|");
    EXPECT_EQ(texts, KW("Unknown crack name error.|A generic processing error occurred.|The name is from an "
                        "external trusted forest.|Unknown crack name error.|"));
}

TEST(VersionTest, ParseAndCompare) {
    const CVersionParser reference(1, 8, 0, 1037);
    // The text (null: a null pointer), its parts (-1: missing), and 1.8.0.1037 compared with it.
    const std::tuple<const WChar*, std::array<int32_t, 4>, int32_t> cases[] = {
        {KW("1.8.0.1037"), {1, 8, 0, 1037}, 0},
        {KW("1.8.0.1036"), {1, 8, 0, 1036}, 1},
        {KW("1.9"), {1, 9, -1, -1}, -1},
        {KW("1.8"), {1, 8, -1, -1}, 1},
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

using testing::MakeTime;
using testing::TimeText;

TEST(DateTest, CalendarArithmetic) {
    // start, seconds (< 0: subtracted), result, its difference from the start in 100-nanosecond units
    const std::tuple<platform::SystemTime, int64_t, const char*, int64_t> cases[] = {
        {MakeTime(2026, 12, 4), -30, "2026-12-03 23:59:30.000 dow 4", -300'000'000},
        {MakeTime(2024, 2, 28, 23), 3600, "2024-02-29 00:00:00.000 dow 4", 36'000'000'000},
        {platform::SystemTime{}, 60, "1601-01-01 00:01:00.000 dow 1", 600'000'000},  // unconvertible: 1601
        {MakeTime(1601, 1, 1), -1, "1601-01-01 00:00:00.000 dow 0", 0},  // before the calendar: unchanged
    };
    for (const auto& [start, seconds, expected, difference] : cases) {
        platform::SystemTime t = start;
        seconds < 0 ? SubtractSeconds(&t, -seconds) : AddSeconds(&t, seconds);
        EXPECT_EQ(expected, TimeText(t)) << TimeText(start) << " + " << seconds;
        EXPECT_EQ(difference, TimeDifference(t, start)) << TimeText(start) << " + " << seconds;
    }
}

TEST_F(LogTest, RecordDateText) {
    const WString fits(kMaxDateTextLength, u'x');
    const WString tooLong = fits.substr(3) + KW("%Y");  // one character too many once formatted
    const std::tuple<int64_t, int64_t, const WChar*, WString> cases[] = {
        // time, UTC offset of local time, pattern (null: the default), text
        {kNow, 7200, nullptr, KW("05-12-2026 00:15:03")},
        {kNow, 0, KW("%y/%m/%d %I:%M:%S %p|%a %A %b %B|%j %w %U %W %%|%c|%x|%X|%#d.%#m.%Y"),
         KW("26/12/04 10:15:03 PM|Fri Friday Dec December|338 5 48 48 %|12/04/26 22:15:03|12/04/26|22:15:03|"
            "4.12.2026")},
        {kNow, 0, fits.c_str(), fits},
        {0, 0, nullptr, KW("Unknown date")},  // no time
        {kNow, 0, KW("%Q"), KW("Unknown date")},
        {kNow, 0, KW("50%"), KW("Unknown date")},
        {kNow, 0, tooLong.c_str(), KW("Unknown date")},
        {kNow, INT64_MAX, nullptr, KW("Unknown date")},  // no local time
    };
    WString text;
    for (const auto& [time, utcOffset, pattern, expected] : cases) {
        SCOPED_TRACE(pattern ? Utf16ToUtf8(pattern) : "default");
        clock_.utcOffsetSeconds = utcOffset;
        EXPECT_EQ(expected == KW("Unknown date") ? kDateTextUnavailable : 0,
                  RecordDateText(time, pattern, &text));
        EXPECT_EQ(expected, text);
    }
}

}  // namespace
}  // namespace korva
