// The trace log and the registry configuration of both logs, against an in-memory registry and real files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "infra/log.h"
#include "infra/registry_connection.h"
#include "log_test_support.h"
#include "platform/memory_registry.h"

namespace korva {
namespace {

using testing::FileBytes;
using testing::Utf16BytesAsUtf8;
using testing::W;

constexpr const char* kTraceKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillmarsh\\KORVA\\GINA";
constexpr const char* kPolicyKey = "HKEY_LOCAL_MACHINE\\Software\\Policies\\Quillmarsh\\Valexor\\VLX Gina";

class TraceLogTest : public testing::FixedClockTest {
  protected:
    TraceLogTest() : registryOverride_(&registry_), path_(folder_.Path("trace.log")) {
        TraceSettings() = TraceLogSettings{};
        SharedFileHandler().ResetToDefaults();
    }
    ~TraceLogTest() override {
        TraceSettings() = TraceLogSettings{};
        SharedFileHandler().ResetToDefaults();
    }
    void UseTraceFile(uint32_t mask) {
        TraceSettings().path = path_;
        TraceSettings().mask = mask;
    }
    // The whole file, which never carries a byte-order mark.
    std::string Text() { return testing::FileExists(path_) ? Utf16BytesAsUtf8(FileBytes(path_), 0) : ""; }

    platform::MemoryRegistry registry_;
    platform::ScopedRegistryOverride registryOverride_;
    testing::TempFolder folder_;
    WString path_;
};

TEST_F(TraceLogTest, LineShapeDependsOnTheLevel) {
    struct Case {
        uint32_t level;
        const char* expected;
    };
    const Case cases[] = {
        {kTraceError, "22:15:03 - 12/04/26 Error: cGbCredentialProvider::GetCredentialAt - Index: 3\r\n"},
        {kTraceWarning, "22:15:03 - 12/04/26 Warning: cGbCredentialProvider::GetCredentialAt - Index: 3\r\n"},
        {kTraceInformation,
         "22:15:03 - 12/04/26 Information: cGbCredentialProvider::GetCredentialAt - Index: 3\r\n"},
        {8, "22:15:03 - 12/04/26 Message: cGbCredentialProvider::GetCredentialAt - Index: 3\r\n"},
        {3, "22:15:03 - 12/04/26 Message: cGbCredentialProvider::GetCredentialAt - Index: 3\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.level);
        platform::Files().Delete(path_.c_str());
        UseTraceFile(0xFFFFFFFF);
        TraceLog(c.level, KW("cGbCredentialProvider::GetCredentialAt - Index: %ld"), 3);
        EXPECT_EQ(c.expected, Text());
    }
}

TEST_F(TraceLogTest, TimeIsTwentyFourHourLocalTimeAndLinesAppend) {
    UseTraceFile(7);
    clock_.now = testing::FileTimeOf(2027, 1, 9, 0, 5, 9);
    TraceLog(kTraceWarning, KW("cGbCredentialProvider::Initialize"));
    clock_.now = testing::FileTimeOf(2027, 1, 9, 13, 0, 0);
    clock_.utcOffsetSeconds = 11 * 3600;  // local time crosses midnight into the next day
    TraceLog(kTraceError, KW("second"));
    EXPECT_EQ(
        "00:05:09 - 01/09/27 Warning: cGbCredentialProvider::Initialize\r\n"
        "00:00:00 - 01/10/27 Error: second\r\n",
        Text());
}

TEST_F(TraceLogTest, NothingWithoutAPathOrOutsideTheMask) {
    TraceLog(kTraceError, KW("no path"));
    UseTraceFile(7);
    TraceLog(8, KW("level 8 is not in mask 7"));
    TraceLog(0, KW("level 0 is in no mask"));
    EXPECT_FALSE(testing::FileExists(path_));
    TraceSettings().mask = 0xFFFFFFFF;
    TraceLog(0, KW("still not"));
    EXPECT_FALSE(testing::FileExists(path_));
}

TEST_F(TraceLogTest, FileAboveTheLimitIsEmptiedBeforeTheLine) {
    const std::string line = "22:15:03 - 12/04/26 Error: x\r\n";
    struct Case {
        uint64_t existingSize;
        bool emptied;
    };
    const Case cases[] = {{kTraceLogMaxFileSize, false}, {kTraceLogMaxFileSize + 1, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.existingSize);
        platform::Files().Delete(path_.c_str());
        ASSERT_NO_FATAL_FAILURE(testing::SetFileSize(path_, c.existingSize));
        UseTraceFile(7);
        TraceLog(kTraceError, KW("x"));
        if (c.emptied) {
            EXPECT_EQ(line, Text());  // the line is the first line, with no byte-order mark
        } else {
            EXPECT_EQ(c.existingSize + line.size() * 2, testing::FileSize(path_));
        }
    }
    platform::Files().Delete(path_.c_str());
}

TEST_F(TraceLogTest, SharesWritingButLosesTheLineWhenLockedOut) {
    UseTraceFile(7);
    std::unique_ptr<platform::File> holder;
    ASSERT_EQ(0, platform::Files().Open(path_.c_str(), platform::kGenericWrite,
                                        platform::kShareRead | platform::kShareWrite,
                                        platform::Disposition::OpenAlways, &holder));
    TraceLog(kTraceError, KW("shared"));
    holder.reset();
    ASSERT_EQ(0, platform::Files().Open(path_.c_str(), platform::kGenericRead, platform::kShareNone,
                                        platform::Disposition::OpenExisting, &holder));
    TraceLog(kTraceError, KW("lost"));  // silently
    holder.reset();
    EXPECT_EQ("22:15:03 - 12/04/26 Error: shared\r\n", Text());
}

TEST_F(TraceLogTest, SettingsFromTheRegistry) {
    struct Case {
        const char* name;
        bool hasFile;
        int maskValue;  // -1: absent, -2: stored as a string
        const char* expectedPath;
        uint32_t expectedMask;
    };
    const Case cases[] = {
        {"nothing", false, -1, "", 7},
        {"file only", true, -1, "T", 7},
        {"file and mask", true, 1, "T", 1},
        {"mask of the wrong type", true, -2, "T", 7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        platform::MemoryRegistry registry;
        platform::ScopedRegistryOverride registryOverride(&registry);
        if (c.hasFile) {
            registry.PutString(W(kTraceKey), W("Log File"), W("T"));
        }
        if (c.maskValue >= 0) {
            registry.PutDword(W(kTraceKey), W("Log Mask"), static_cast<uint32_t>(c.maskValue));
        } else if (c.maskValue == -2) {
            registry.PutString(W(kTraceKey), W("Log Mask"), W("1"));
        }
        TraceSettings().path = W("stale");
        LoadTraceLogSettingsFromRegistry();
        EXPECT_EQ(W(c.expectedPath), TraceSettings().path);
        EXPECT_EQ(c.expectedMask, TraceSettings().mask);
        EXPECT_EQ(0u, registry.OpenHandleCount());
    }
}

// Without the "Log Mask" value the mask is 7: Error, Warning and Information lines, not level 8.
TEST_F(TraceLogTest, DefaultMaskFromTheRegistry) {
    registry_.PutString(W(kTraceKey), W("Log File"), path_);
    LoadTraceLogSettingsFromRegistry();
    for (uint32_t level : {1u, 2u, 4u, 8u}) {
        TraceLog(level, KW("level %u"), level);
    }
    EXPECT_EQ(
        "22:15:03 - 12/04/26 Error: level 1\r\n"
        "22:15:03 - 12/04/26 Warning: level 2\r\n"
        "22:15:03 - 12/04/26 Information: level 4\r\n",
        Text());
}

TEST_F(TraceLogTest, DiagnosticLogConfiguration) {
    const WString diagnosticPath = folder_.Path("diag.log");
    struct Case {
        const char* name;
        int logEnabled;  // -1: absent
        bool fileValues;
        const WChar* expectedFile;  // null: no file configured
        uint32_t expectedMask, expectedMax, expectedImmediately;
    };
    const Case cases[] = {
        {"absent", -1, true, nullptr, 3, 0x500000, 0},
        {"off", 0, true, nullptr, 3, 0x500000, 0},
        {"on with values", 1, true, diagnosticPath.c_str(), 1, 100, 1},
        {"on with defaults", 7, false, kDefaultDiagnosticLogFile, 3, 0x500000, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        platform::MemoryRegistry registry;
        platform::ScopedRegistryOverride registryOverride(&registry);
        SharedFileHandler().ResetToDefaults();
        if (c.logEnabled >= 0) {
            registry.PutDword(W(kPolicyKey), W("LogEnabled"), static_cast<uint32_t>(c.logEnabled));
        }
        if (c.fileValues) {
            registry.PutString(W(kPolicyKey), W("FileLogFilename"), diagnosticPath);
            registry.PutDword(W(kPolicyKey), W("FileLogMask"), 1);
            registry.PutDword(W(kPolicyKey), W("FileLogMaxFileSize"), 100);
            registry.PutDword(W(kPolicyKey), W("FileLogImmediately"), 1);
        }
        ConfigureDiagnosticLogFromRegistry();
        EXPECT_EQ(c.expectedFile ? WString(c.expectedFile) : WString(), SharedFileHandler().FileName());
        EXPECT_EQ(c.expectedMask, SharedFileHandler().Mask());
        EXPECT_EQ(c.expectedMax, SharedFileHandler().MaxFileSize());
        EXPECT_EQ(c.expectedImmediately, SharedFileHandler().Immediately());
        if (c.expectedFile == nullptr) {
            // Whatever the FileLog values say, no file appears.
            cGjLog log;
            log.AddHandler(&SharedFileHandler());
            log.LogMessage(kLogError, KW("x"));
            log.Flush();
            EXPECT_FALSE(testing::FileExists(diagnosticPath));
        }
    }
}

TEST_F(TraceLogTest, UnreadableLogEnabledGoesToTheTraceLog) {
    UseTraceFile(7);
    ConfigureDiagnosticLogFromRegistry();  // the value is absent: error 2
    registry_.PutString(W(kPolicyKey), W("LogEnabled"), W("1"));
    ConfigureDiagnosticLogFromRegistry();  // the wrong type: -1
    const std::string prefix =
        "22:15:03 - 12/04/26 Error: An error has occurred while getting the value 'LogEnabled' at "
        "'Software\\Policies\\Quillmarsh\\Valexor\\VLX Gina' in the registry. Errorcode ";
    EXPECT_EQ(prefix + "2\r\n" + prefix + "-1\r\n", Text());
    EXPECT_EQ(WString(), SharedFileHandler().FileName());
}

// Values of the wrong type keep their defaults; a REG_EXPAND_SZ file name is taken literally.
TEST_F(TraceLogTest, FileLogValuesOfTheWrongTypeAreIgnored) {
    registry_.PutDword(W(kPolicyKey), W("LogEnabled"), 1);
    registry_.PutString(W(kPolicyKey), W("FileLogFilename"), W("%TEMP%\\vlx.txt"), platform::kRegExpandSz);
    registry_.PutString(W(kPolicyKey), W("FileLogMask"), W("7"));
    registry_.PutDword(W(kPolicyKey), W("FileLogMaxFileSize"), 4096);
    ConfigureDiagnosticLogFromRegistry();
    EXPECT_EQ(W("%TEMP%\\vlx.txt"), SharedFileHandler().FileName());
    EXPECT_EQ(3u, SharedFileHandler().Mask());
    EXPECT_EQ(4096u, SharedFileHandler().MaxFileSize());

    cGjConfigurationLogFileHelper helper(KW("f"), 3, 5, 0);
    RegistryConnection connection;
    ASSERT_EQ(0, connection.Connect(nullptr, platform::kHkeyLocalMachine));
    // The error of the last failed read: "FileLogImmediately" is absent.
    EXPECT_EQ(2, helper.LoadFromRegistry(connection, kDiagnosticLogKey));
}

}  // namespace
}  // namespace korva
