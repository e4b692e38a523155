// The diagnostic log written to real files in a temporary folder, with the clock fixed at 04-12-2026
// 22:15:03.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "infra/log.h"
#include "log_test_support.h"
#include "platform/files.h"
#include "platform/sync.h"
#include "platform/system_messages.h"

namespace korva {
namespace {

using testing::FileBytes;
using testing::StartsWithByteOrderMark;
using testing::Utf16BytesAsUtf8;
using testing::W;

constexpr const char* kStamp = "[04-12-2026 22:15:03] - ";

class FakeMessages final : public platform::SystemMessages {
  public:
    WString Text(uint32_t code) override {
        return code == 5      ? W("Access is denied.\r\n")
               : code == 1326 ? W("Logon failure:\r\nbad password.\r\n")
                              : W("");
    }
};

class LogFileTest : public testing::FixedClockTest {
  protected:
    LogFileTest() : path_(folder_.Path("diag.log")) { Configure(path_, 3, 0x500000, 0); }

    void Configure(const WString& path, uint32_t mask, uint32_t maxSize, uint32_t immediately) {
        handler_.Configure(cGjConfigurationLogFileHelper(path.c_str(), mask, maxSize, immediately));
    }
    // The file's text after the byte-order mark, which must be there exactly once.
    std::string Text() {
        const std::vector<uint8_t> bytes = FileBytes(path_);
        EXPECT_TRUE(StartsWithByteOrderMark(bytes));
        const std::string text = Utf16BytesAsUtf8(bytes, 2);
        EXPECT_EQ(std::string::npos, text.find("\xEF\xBB\xBF")) << "a second byte-order mark";
        EXPECT_EQ(std::string::npos, text.find("\xEF\xBF\xBE")) << "a byte-swapped byte-order mark";
        return text;
    }
    void LogAndFlush(uint32_t level, const char* message) {
        cGjLog log;
        log.AddHandler(&handler_);
        log.LogMessage(level, KW("%s"), W(message).c_str());
        log.Flush();
    }

    testing::TempFolder folder_;
    WString path_;
    cGjLogHandlerFile handler_;
};

TEST_F(LogFileTest, EachOperationWritesItsLineShape) {
    FakeMessages messages;
    platform::ScopedSystemMessagesOverride messagesOverride(&messages);
    cGjLog log;
    log.AddHandler(&handler_);
    log.LogWithCode(kLogError, -8, KW("Caught exception while loading policies."));
    log.LogMessage(kLogInformation, KW("Loaded %d policies for %s."), 3, KW("corp"));
    log.LogSystemError(kLogError, 5, KW("Cannot open '%s'."), KW("x"));
    // The system text loses its line breaks, so multi-line texts run together.
    log.LogSystemError(kLogError, 1326, KW("Bind failed."));
    log.LogHResult(kLogError, static_cast<int32_t>(0x80004005), KW("Query failed."));
    log.LogHResult(kLogError, 0x12345, KW("Odd."));
    log.Flush();
    const std::string s = kStamp;
    EXPECT_EQ(s + "Error - Error code (-8) - Caught exception while loading policies.\r\n" +  //
                  s + "Information - Loaded 3 policies for corp.\r\n" +                       //
                  s + "Error - Cannot open 'x'. Error code (5): Access is denied.\r\n" +      //
                  s + "Error - Bind failed. Error code (1326): Logon failure:bad password.\r\n" + s +
                  "Error - Query failed. Error code 0x80004005. Unspecified error.\r\n" +  //
                  s + "Error - Odd. Error code 0x12345. Unknown Error.\r\n",
              Text());
}

// Every handler gets its own copy of the record with the time, level and code the operation set.
TEST(LogDistributionTest, HandlersReceiveRecordsWithCodes) {
    struct Recorder : cGjLogHandler {
        std::vector<LogRecord> records;
        int flushes = 0;
        void Log(LogRecord record) override { records.push_back(std::move(record)); }
        int32_t Flush() override {
            ++flushes;
            return 5;  // a failing flush does not stop the others
        }
    } first, second;
    platform::FakeClock clock;
    clock.now = testing::FileTimeOf(2026, 12, 4, 22, 15, 3);
    platform::ScopedClockOverride clockOverride(&clock);
    cGjLog log;
    log.AddHandler(&first);
    log.AddHandler(nullptr);
    log.AddHandler(&second);
    log.LogMessage(kLogDebug, KW("plain"));
    log.LogWithCode(kLogError, -8, KW("x"));
    log.LogSystemError(kLogWarning, 1326, KW("y"));
    log.LogHResult(kLogError, static_cast<int32_t>(0x80070005), KW("z"));
    log.Flush();
    const uint32_t expectedCodes[] = {0, 0xFFFFFFF8u, 1326, 0x80070005u};
    const uint32_t expectedLevels[] = {kLogDebug, kLogError, kLogWarning, kLogError};
    for (const Recorder* recorder : {&first, &second}) {
        ASSERT_EQ(4u, recorder->records.size());
        EXPECT_EQ(1, recorder->flushes);
        for (size_t i = 0; i < 4; ++i) {
            EXPECT_EQ(1796422503, recorder->records[i].time);  // 2026-12-04 22:15:03 UTC in Unix seconds
            EXPECT_EQ(expectedCodes[i], recorder->records[i].code);
            EXPECT_EQ(expectedLevels[i], recorder->records[i].level);
        }
    }
}

TEST_F(LogFileTest, MaskDecidesWhichLevelsAreWritten) {
    struct Case {
        uint32_t level;
        uint32_t mask;
        const char* expected;  // the line after the stamp, or "" when nothing is written
    };
    const Case cases[] = {
        {kLogWarning, 3, "Warning - m\r\n"},  // 22 AND 3 = 2
        {kLogWarning, 1, ""},
        {kLogWarning, 16, "Warning - m\r\n"},
        {kLogNone, 3, ""},
        {kLogNone, 0xFFFFFFFE, ""},
        {kLogNone, kLogAll, "None - m\r\n"},  // level 0 passes only "All"
        {kLogDebug, 3, ""},
        {kLogDebug, 4, "Debug - m\r\n"},
        {kLogError, 1, "Error - m\r\n"},
        {kLogInformation, 1, ""},
        {8, kLogAll, "Unknown - m\r\n"},
        {kLogAll, 1, "All - m\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "level " << c.level << " mask " << c.mask);
        platform::Files().Delete(path_.c_str());
        Configure(path_, c.mask, 0x500000, 0);
        LogAndFlush(c.level, "m");
        EXPECT_EQ(*c.expected ? kStamp + std::string(c.expected) : std::string(), Text());
        EXPECT_EQ(0u, handler_.PendingCount());  // filtered records are dropped too
    }
}

// The mask is applied when writing, so records logged before a Configure follow the new mask.
TEST_F(LogFileTest, PendingRecordsFollowTheMaskInForceAtFlush) {
    cGjLog log;
    log.AddHandler(&handler_);
    log.LogMessage(kLogDebug, KW("debug"));
    log.LogMessage(kLogError, KW("error"));
    Configure(path_, 4, 0x500000, 0);
    log.Flush();
    EXPECT_EQ(kStamp + std::string("Debug - debug\r\n"), Text());
}

TEST_F(LogFileTest, ByteOrderMarkOnlyAtTheStartOfAnEmptyFile) {
    LogAndFlush(kLogError, "one");
    LogAndFlush(kLogError, "two");
    EXPECT_EQ(kStamp + std::string("Error - one\r\n") + kStamp + "Error - two\r\n", Text());

    // An existing non-empty file without a mark gets none; an existing empty file gets one.
    const WString other = folder_.Path("other.log");
    ASSERT_EQ(0, platform::WriteWholeFile(other.c_str(), "A\0", 2));
    Configure(other, 3, 0x500000, 0);
    LogAndFlush(kLogError, "x");
    const std::vector<uint8_t> bytes = FileBytes(other);
    EXPECT_FALSE(StartsWithByteOrderMark(bytes));
    EXPECT_EQ("A" + std::string(kStamp) + "Error - x\r\n", Utf16BytesAsUtf8(bytes, 0));

    ASSERT_EQ(0, platform::WriteWholeFile(path_.c_str(), "", 0));
    Configure(path_, 3, 0x500000, 0);
    LogAndFlush(kLogError, "y");
    EXPECT_EQ(kStamp + std::string("Error - y\r\n"), Text());
}

TEST_F(LogFileTest, FileLargerThanTheMaximumIsEmptiedAtFlush) {
    struct Case {
        uint64_t existingSize;
        uint32_t maxSize;
        bool emptied;
    };
    const Case cases[] = {
        {100, 100, false},  // at the maximum: kept
        {102, 100, true},
        {0x500002, 0x500000, true},
        // 4 GiB + 2: its low 32 bits (2) are below the maximum, but the whole size is not.
        {(uint64_t{1} << 32) + 2, 0x500000, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "size " << c.existingSize);
        platform::Files().Delete(path_.c_str());
        ASSERT_NO_FATAL_FAILURE(testing::SetFileSize(path_, c.existingSize));
        Configure(path_, 3, c.maxSize, 0);
        cGjLog log;
        log.AddHandler(&handler_);
        log.LogMessage(kLogError, KW("a"));
        log.LogMessage(kLogError, KW("b"));
        log.Flush();
        const std::string lines = kStamp + std::string("Error - a\r\n") + kStamp + "Error - b\r\n";
        if (c.emptied) {
            EXPECT_EQ(lines, Text());  // mark, then the pending lines only
        } else {
            EXPECT_EQ(c.existingSize + lines.size() * 2, testing::FileSize(path_));
        }
    }
    platform::Files().Delete(path_.c_str());
}

TEST_F(LogFileTest, ImmediateModeWritesBeforeLogReturns) {
    Configure(path_, 3, 0x500000, 1);
    cGjLog log;
    log.AddHandler(&handler_);
    log.LogMessage(kLogError, KW("now"));
    // No Flush: the line is already in the file.
    EXPECT_EQ(kStamp + std::string("Error - now\r\n"), Text());
    EXPECT_EQ(0u, handler_.PendingCount());
}

TEST_F(LogFileTest, LongMessagesAreWrittenWhole) {
    const std::string longText(300, 'q');
    cGjLog log;
    log.AddHandler(&handler_);
    log.LogMessage(kLogError, KW("<%s|%d>"), W(longText).c_str(), 42);
    log.Flush();
    EXPECT_EQ(kStamp + std::string("Error - <") + longText + "|42>\r\n", Text());
}

TEST_F(LogFileTest, RecordsWaitWhileTheFileCannotBeOpened) {
    struct Case {
        const char* name;
        int32_t expectedError;
    };
    const Case cases[] = {{"locked", 32}, {"missing folder", 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        platform::Files().Delete(path_.c_str());
        const WString folder = folder_.Path("later");
        const WString target = c.expectedError == 3 ? platform::JoinPath(folder, W("diag.log")) : path_;
        Configure(target, 3, 0x500000, 0);
        std::unique_ptr<platform::File> holder;
        if (c.expectedError == 32) {
            ASSERT_EQ(0, platform::Files().Open(target.c_str(), platform::kGenericRead, platform::kShareNone,
                                                platform::Disposition::OpenAlways, &holder));
        }
        cGjLog log;
        log.AddHandler(&handler_);
        log.LogMessage(kLogError, KW("kept"));
        EXPECT_EQ(c.expectedError, handler_.Flush());
        EXPECT_EQ(1u, handler_.PendingCount());

        // Once the file can be opened, the waiting record is written.
        holder.reset();
        if (c.expectedError == 3) {
            Configure(path_, 3, 0x500000, 0);
        }
        EXPECT_EQ(0, handler_.Flush());
        EXPECT_EQ(kStamp + std::string("Error - kept\r\n"), Text());
    }
}

TEST_F(LogFileTest, WithoutAFileNameNothingIsWrittenAndRecordsWait) {
    handler_.ResetToDefaults();
    cGjLog log;
    log.AddHandler(&handler_);
    log.LogMessage(kLogError, KW("waiting"));
    EXPECT_EQ(0, handler_.Flush());
    EXPECT_EQ(1u, handler_.PendingCount());
    EXPECT_FALSE(testing::FileExists(path_));
    Configure(W(""), 3, 0x500000, 0);  // an empty name is no name
    EXPECT_EQ(0, handler_.Flush());
    EXPECT_FALSE(testing::FileExists(path_));
}

// Waiting records are bounded: the oldest go first, and the next write says how many went.
TEST_F(LogFileTest, WaitingRecordsAreBoundedAndDropsAreReported) {
    handler_.ResetToDefaults();
    cGjLog log;
    log.AddHandler(&handler_);
    for (int i = 1; i <= 1005; ++i) {
        log.LogMessage(kLogError, KW("record %d"), i);
    }
    EXPECT_EQ(cGjLogHandlerFile::kMaxPendingRecords, handler_.PendingCount());
    EXPECT_EQ(5u, handler_.DroppedCount());
    Configure(path_, 3, 0x500000, 0);
    EXPECT_EQ(0, handler_.Flush());
    const std::string text = Text();
    const std::string note =
        kStamp +
        std::string("Warning - 5 older records were dropped while the log file could not be written.\r\n");
    ASSERT_EQ(0u, text.find(note + kStamp + "Error - record 6\r\n"));
    const std::string last = kStamp + std::string("Error - record 1005\r\n");
    EXPECT_EQ(text.size() - last.size(), text.rfind(last));
    EXPECT_EQ(0u, handler_.DroppedCount());

    // Dropped records that the mask would not have written are not counted.
    handler_.ResetToDefaults();
    for (int i = 0; i < 1000; ++i) {
        log.LogMessage(kLogDebug, KW("d"));
    }
    log.LogMessage(kLogError, KW("e"));
    EXPECT_EQ(0u, handler_.DroppedCount());

    // The text bound: 300,000 characters (600,000 bytes) each, so only the newest fits the 1 MiB bound. The
    // newest record is kept even when it alone is larger.
    handler_.ResetToDefaults();
    const WString big(300000, u'b');
    log.LogMessage(kLogError, KW("%s"), big.c_str());
    log.LogMessage(kLogError, KW("%s"), big.c_str());
    EXPECT_EQ(1u, handler_.PendingCount());
    const WString huge(700000, u'h');
    log.LogMessage(kLogError, KW("%s"), huge.c_str());
    EXPECT_EQ(1u, handler_.PendingCount());
    EXPECT_EQ(2u, handler_.DroppedCount());
}

// Several threads log into one handler at once: nothing is lost and no line is torn.
TEST_F(LogFileTest, ConcurrentLoggingKeepsEveryLineWhole) {
    constexpr int kPerThread = 200;
    auto body = [this](const WChar* name) {
        for (int i = 0; i < kPerThread; ++i) {
            cGjLog log;
            log.AddHandler(&handler_);
            log.LogMessage(kLogError, KW("%s %d"), name, i);
            log.Flush();
        }
    };
    platform::Thread first, second;
    ASSERT_EQ(0, first.Start([&] { body(KW("first")); }));
    ASSERT_EQ(0, second.Start([&] { body(KW("second")); }));
    ASSERT_TRUE(first.Join(0xFFFFFFFF));
    ASSERT_TRUE(second.Join(0xFFFFFFFF));
    const std::string text = Text();
    const std::string prefix = kStamp + std::string("Error - ");
    size_t lines = 0;
    for (size_t start = 0; start < text.size(); ++lines) {
        const size_t end = text.find("\r\n", start);
        ASSERT_NE(std::string::npos, end);
        EXPECT_EQ(0, text.compare(start, prefix.size(), prefix));
        start = end + 2;
    }
    EXPECT_EQ(2u * kPerThread, lines);
}

TEST(LogRecordFormatTest, UnknownDateWhenTheTimeIsMissingOrUnconvertible) {
    platform::FakeClock clock;
    platform::ScopedClockOverride clockOverride(&clock);
    cGjLogHandler handler;
    LogRecord record;
    record.message = W("m");
    record.level = kLogDebug;
    EXPECT_EQ(W("[Unknown date] - Debug - m"), handler.FormatRecord(record, false));
    record.time = 1796422503;
    clock.failLocalConversion = true;
    EXPECT_EQ(W("[Unknown date] - Debug - m\r\n"), handler.FormatRecord(record, true));
    clock.failLocalConversion = false;
    clock.utcOffsetSeconds = -3600;  // the date is local time
    EXPECT_EQ(W("[04-12-2026 21:15:03] - Debug - m"), handler.FormatRecord(record, false));
}

}  // namespace
}  // namespace korva
