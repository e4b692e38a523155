// Starting the Reset Wizard: its location in the registry, the command line, and the start itself, first
// against a recording process seam, then for real with a stub wizard that writes down the arguments (and on
// Windows the desktop) it was started with.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "credprov/reset_wizard.h"
#include "infra/registry_connection.h"
#include "platform/files.h"
#include "platform/memory_registry.h"
#include "platform/process.h"
#include "platform/result_codes.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>

#include <cstdlib>
#endif

namespace korva {
namespace {

TEST(ResetWizardCommandLineTest, ThreeQuotedArgumentsSeparatedBySingleBlanks) {
    struct Row {
        const WChar* domain;
        const WChar* user;
        const WChar* expected;
    };
    const Row rows[] = {
        {KW("CORP"), KW("jsmith"), KW("\"C:\\W\\wizard.exe\" \"CORP\" \"jsmith\"")},
        {nullptr, nullptr, KW("\"C:\\W\\wizard.exe\" \"\" \"\"")},
        {KW(""), KW("jsmith"), KW("\"C:\\W\\wizard.exe\" \"\" \"jsmith\"")},
        {KW("CORP"), nullptr, KW("\"C:\\W\\wizard.exe\" \"CORP\" \"\"")},
        // Quotes inside a value are passed as they are.
        {KW("a\"b"), KW("x y"), KW("\"C:\\W\\wizard.exe\" \"a\"b\" \"x y\"")},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(Utf16ToUtf8(BuildResetWizardCommandLine(KW("C:\\W\\wizard.exe"), row.domain, row.user)),
                  Utf16ToUtf8(row.expected));
    }
}

TEST(ResetWizardLocationTest, ReadFromTheRegistry) {
    const WString key = WString(KW("HKEY_LOCAL_MACHINE\\")) + kResetWizardKey;
    struct Row {
        const char* name;
        uint32_t type;  // kRegNone: no value
        const WChar* stored;
        bool failConnect;
        int32_t expectedResult;
        const WChar* expectedPath;
    };
    const Row rows[] = {
        {"REG_SZ", platform::kRegSz, KW("C:\\Reset\\wizard.exe"), false, 0, KW("C:\\Reset\\wizard.exe")},
        {"REG_EXPAND_SZ stays unexpanded", platform::kRegExpandSz, KW("%ProgramFiles%\\wizard.exe"), false, 0,
         KW("%ProgramFiles%\\wizard.exe")},
        {"missing value", platform::kRegNone, nullptr, false, 0, KW("")},
        {"a number instead of a path", platform::kRegDword, nullptr, false, 0, KW("")},
        {"registry cannot be opened", platform::kRegSz, KW("C:\\x.exe"), true, winerr::kAccessDenied, KW("")},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        platform::MemoryRegistry registry;
        platform::ScopedRegistryOverride use(&registry);
        if (row.type == platform::kRegDword) {
            registry.PutDword(key, kResetWizardLocationValue, 5);
        } else if (row.type != platform::kRegNone) {
            registry.PutString(key, kResetWizardLocationValue, row.stored, row.type);
        }
        if (row.failConnect) {
            registry.FailNext(platform::MemoryRegistry::Op::Connect, winerr::kAccessDenied);
        }
        WString path = KW("stale");
        EXPECT_EQ(GetResetWizardLocation(&path), row.expectedResult);
        EXPECT_EQ(Utf16ToUtf8(path), Utf16ToUtf8(row.expectedPath));
        EXPECT_EQ(registry.OpenHandleCount(), 0u);
    }
}

// A process seam that records each start and answers with a set result.
class RecordingProcesses final : public platform::Processes {
  public:
    struct Call {
        WString application;
        WString commandLine;
        WString desktop;
        uint32_t wait;
    };
    int32_t RunAndWait(const WChar* application, const WChar* commandLine, const WChar* desktop,
                       uint32_t waitMilliseconds) override {
        calls.push_back(
            {application, commandLine, desktop != nullptr ? desktop : KW("(none)"), waitMilliseconds});
        return result;
    }
    std::vector<Call> calls;
    int32_t result = 0;
};

TEST(StartResetWizardTest, OneStartOnTheWinlogonDesktopWithoutTimeLimit) {
    struct Row {
        const char* name;
        const WChar* path;
        int32_t startResult;
        int32_t expected;
        size_t starts;
    };
    const Row rows[] = {
        {"started and ended", KW("C:\\W\\wizard.exe"), 0, 0, 1},
        // A failed start is reported once and not retried.
        {"program missing", KW("C:\\W\\missing.exe"), winerr::kFileNotFound, winerr::kFileNotFound, 1},
        {"not a program", KW("C:\\W\\notes.txt"), winerr::kBadExeFormat, winerr::kBadExeFormat, 1},
        // No location configured: nothing is started.
        {"no location", KW(""), 0, winerr::kFileNotFound, 0},
        {"null location", nullptr, 0, winerr::kFileNotFound, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        RecordingProcesses processes;
        processes.result = row.startResult;
        platform::ScopedProcessesOverride use(&processes);
        EXPECT_EQ(StartResetWizard(row.path, KW("CORP"), KW("jsmith")), row.expected);
        ASSERT_EQ(processes.calls.size(), row.starts);
        if (row.starts == 1) {
            const RecordingProcesses::Call& call = processes.calls[0];
            EXPECT_EQ(call.application, WString(row.path));
            EXPECT_EQ(call.commandLine, BuildResetWizardCommandLine(row.path, KW("CORP"), KW("jsmith")));
            EXPECT_EQ(Utf16ToUtf8(call.desktop), "WinSta0\\Winlogon");
            EXPECT_EQ(call.wait, platform::kWaitForever);
        }
    }
}

// ---- The real process seam with the stub wizard ---------------------------------------------------------

WString OwnFolder() {
#if defined(_WIN32)
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    WString text(path, path + length);
    return text.substr(0, text.find_last_of(KW("\\/")) + 1);
#else
    std::string path(4096, '\0');
    const ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
    path.resize(length > 0 ? static_cast<size_t>(length) : 0);
    return Utf8ToUtf16(path.substr(0, path.find_last_of('/') + 1));
#endif
}

WString StubWizardPath() {
#if defined(_WIN32)
    return OwnFolder() + KW("korva_stub_wizard.exe");
#else
    return OwnFolder() + KW("korva_stub_wizard");
#endif
}

void SetVariable(const char* name, const std::string& value) {
#if defined(_WIN32)
    SetEnvironmentVariableW(std::wstring(name, name + std::char_traits<char>::length(name)).c_str(),
                            value.empty() ? nullptr : Utf8ToUtf16(value).c_str());
#else
    if (value.empty()) {
        unsetenv(name);
    } else {
        setenv(name, value.c_str(), 1);
    }
#endif
}

class StubWizardTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(platform::Files().MakeTempDirectory(&folder_), 0);
#if defined(_WIN32)
        record_ = folder_ + KW("\\record.txt");
#else
        record_ = folder_ + KW("/record.txt");
#endif
        SetVariable("KORVA_STUB_WIZARD_RECORD", Utf16ToUtf8(record_));
    }
    void TearDown() override {
        SetVariable("KORVA_STUB_WIZARD_RECORD", "");
        SetVariable("KORVA_STUB_WIZARD_SLEEP_MS", "");
        SetVariable("KORVA_STUB_WIZARD_EXIT", "");
        (void)platform::Files().RemoveDirectoryTree(folder_.c_str());
    }
    // The record's lines; empty when the stub did not run.
    std::vector<std::string> Record() const {
        std::vector<uint8_t> bytes;
        if (platform::ReadWholeFile(record_.c_str(), 1u << 20, &bytes) != 0) {
            return {};
        }
        std::vector<std::string> lines;
        std::string line;
        for (uint8_t byte : bytes) {
            if (byte == '\n') {
                lines.push_back(line);
                line.clear();
            } else if (byte != '\r') {
                line.push_back(static_cast<char>(byte));
            }
        }
        return lines;
    }

    WString folder_;
    WString record_;
};

TEST_F(StubWizardTest, TheWizardSeesTheTilesDomainAndUserAsThreeArguments) {
    const WString stub = StubWizardPath();
    struct Row {
        const char* name;
        const WChar* domain;
        const WChar* user;
        std::vector<std::string> arguments;  // after the program name
    };
    const Row rows[] = {
        {"domain and user", KW("CORP"), KW("jsmith"), {"CORP", "jsmith"}},
        {"neither", nullptr, nullptr, {"", ""}},
        {"blanks inside", KW("MY DOMAIN"), KW("j smith"), {"MY DOMAIN", "j smith"}},
        {"non-ASCII user", KW("CORP"), KW("j\u00F6rg"), {"CORP", "j\xC3\xB6rg"}},
        // An unescaped trailing backslash escapes the closing quote: both builds split it alike.
        {"user ending in a backslash", KW("CORP"), KW("jsmith\\"), {"CORP", "jsmith\""}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_EQ(StartResetWizard(stub.c_str(), row.domain, row.user), 0);
        std::vector<std::string> expected = {"arg=" + Utf16ToUtf8(stub)};
        for (const std::string& argument : row.arguments) {
            expected.push_back("arg=" + argument);
        }
#if defined(_WIN32)
        expected.push_back("desktop=WinSta0\\Winlogon");
#endif
        expected.push_back("ended");
        EXPECT_EQ(Record(), expected);
    }
}

TEST_F(StubWizardTest, ReturnsOnlyAfterTheWizardEndedWhateverItsExitCode) {
    SetVariable("KORVA_STUB_WIZARD_SLEEP_MS", "300");
    SetVariable("KORVA_STUB_WIZARD_EXIT", "7");
    EXPECT_EQ(StartResetWizard(StubWizardPath().c_str(), KW("CORP"), KW("jsmith")), 0);
    // The last line is written just before the stub exits.
    const std::vector<std::string> record = Record();
    ASSERT_FALSE(record.empty());
    EXPECT_EQ(record.back(), "ended");
}

TEST_F(StubWizardTest, BoundedWaitEndsBeforeTheProgramDoes) {
    SetVariable("KORVA_STUB_WIZARD_SLEEP_MS", "1000");
    const WString stub = StubWizardPath();
    const WString line = BuildResetWizardCommandLine(stub.c_str(), KW("CORP"), KW("jsmith"));
    EXPECT_EQ(platform::Procs().RunAndWait(stub.c_str(), line.c_str(), nullptr, 50), winerr::kWaitTimeout);
    // The program was left running and ends by itself.
    bool ended = false;
    for (int i = 0; i < 200 && !ended; ++i) {
        const std::vector<std::string> record = Record();
        ended = !record.empty() && record.back() == "ended";
        if (!ended) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    EXPECT_TRUE(ended);
    // Give it a moment to exit after its last line, so the folder can be removed.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
}

TEST_F(StubWizardTest, AMissingProgramIsAStartError) {
    const WString missing = OwnFolder() + KW("no_such_wizard.exe");
    EXPECT_EQ(StartResetWizard(missing.c_str(), KW("CORP"), KW("jsmith")), winerr::kFileNotFound);
    EXPECT_TRUE(Record().empty());
}

}  // namespace
}  // namespace korva
