// Linux: the registry file named by KORVA_REGISTRY_FILE is read once per process: each case is a child.
#if !defined(_WIN32)
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <tuple>

#include "platform/files.h"
#include "platform/result_codes.h"
#include "tests/support/fake_registry.h"

namespace korva::platform {
namespace {

// Child: exit 100 + opening HKLM\SOFTWARE\Korva; once open it adds a value and saves (exit 1 on failure).
TEST(ProcessRegistryChild, OpenWriteAndSave) {
    if (std::getenv("KORVA_TEST_REGISTRY_CHILD") == nullptr)
        GTEST_SKIP() << "runs only as a child of ProcessRegistryFileTest";
    RegKey key = 0;
    const int32_t opened =
        Reg().OpenKey(kHkeyLocalMachine, KW("SOFTWARE\\Korva"), kKeyRead | kKeyWrite, &key);
    const WChar text[] = KW("by the child");
    const auto* data = reinterpret_cast<const uint8_t*>(text);
    if (opened == winerr::kSuccess && (Reg().SetValue(key, KW("Written"), kRegSz, data, sizeof(text)) != 0 ||
                                       Reg().CloseKey(key) != 0 || SaveProcessRegistry() != 0)) {
        std::exit(1);
    }
    std::exit(100 + opened);
}

TEST(ProcessRegistryFileTest, TheNamedFileIsLoadedAndSavedBackAndUnusableOnesLeaveItEmpty) {
    WString folder;
    ASSERT_EQ(Files().MakeTempDirectory(&folder), winerr::kSuccess);
    const std::string base = Utf16ToUtf8(folder) + "/";
    const std::string header =
        "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Korva]\n";
    // file, content (empty: none), exit code
    const std::tuple<const char*, std::string, int> kCases[] = {
        {"good.reg", header + "\"Name\"=\"x\"\n", 100}, {"missing.reg", "", 102}};
    for (const auto& [file, content, exitCode] : kCases) {
        SCOPED_TRACE(file);
        const std::string path = base + file;
        ASSERT_TRUE(content.empty() ||
                    WriteWholeFile(Utf8ToUtf16(path).c_str(), content.data(), content.size()) == 0);
        const pid_t child = fork();
        if (child == 0) {
            setenv("KORVA_REGISTRY_FILE", path.c_str(), 1);
            setenv("KORVA_TEST_REGISTRY_CHILD", "1", 1);
            const char* args[] = {"korva_platform_tests", "--gtest_filter=ProcessRegistryChild.*", nullptr};
            execv("/proc/self/exe", const_cast<char* const*>(args));
            _exit(127);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == exitCode) << status;
    }
    korva::testing::FakeRegistry saved;
    ASSERT_EQ(saved.LoadRegFile(Utf8ToUtf16(base + "good.reg").c_str()), winerr::kSuccess);
    EXPECT_NE(saved.SaveRegText().find(KW("\"Name\"=\"x\"\r\n\"Written\"=\"by the child\"")), WString::npos);
    EXPECT_EQ(Files().RemoveDirectoryTree(folder.c_str()), winerr::kSuccess);
}

}  // namespace
}  // namespace korva::platform
#endif
