// Linux: the process-wide registry comes from the regedit file named by KORVA_REGISTRY_FILE. The registry is
// read once per process, so each case runs this test program again as a child with its own environment.
#if !defined(_WIN32)
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/memory_registry.h"
#include "platform/win_errors.h"

namespace korva::platform {
namespace {

constexpr int kChildPassed = 42;

// Runs the child test below with KORVA_REGISTRY_FILE set (or unset when empty); its exit code.
int RunChild(const std::string& registryFile, const std::string& expect) {
    const pid_t child = fork();
    if (child == 0) {
        if (registryFile.empty()) {
            unsetenv("KORVA_REGISTRY_FILE");
        } else {
            setenv("KORVA_REGISTRY_FILE", registryFile.c_str(), 1);
        }
        setenv("KORVA_TEST_CHILD_EXPECT", expect.c_str(), 1);
        const char* args[] = {"korva_platform_tests", "--gtest_filter=ProcessRegistryChild.*", nullptr};
        execv("/proc/self/exe", const_cast<char* const*>(args));
        _exit(127);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

class ProcessRegistryFileTest : public testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(Files().MakeTempDirectory(&folder_), winerr::kSuccess); }
    void TearDown() override { EXPECT_EQ(Files().RemoveDirectoryTree(folder_.c_str()), winerr::kSuccess); }
    std::string PathOf(const char* name) const { return Utf16ToUtf8(folder_) + "/" + name; }
    static void WriteText(const std::string& path, const std::string& text) {
        ASSERT_EQ(WriteWholeFile(Utf8ToUtf16(path).c_str(), text.data(), text.size()), winerr::kSuccess);
    }

    WString folder_;
};

TEST_F(ProcessRegistryFileTest, TheNamedFileIsLoadedAndSavedBack) {
    const std::string path = PathOf("registry.reg");
    WriteText(path,
              "Windows Registry Editor Version 5.00\n\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Korva]\n\"Name\"=\"from the file\"\n");
    // The child finds the value, writes another one and saves the registry.
    ASSERT_EQ(RunChild(path, "from the file"), kChildPassed);
    MemoryRegistry saved;
    ASSERT_EQ(saved.LoadRegFile(Utf8ToUtf16(path).c_str()), winerr::kSuccess);
    const WString text = saved.SaveRegText();
    EXPECT_NE(text.find(KW("\"Name\"=\"from the file\"")), WString::npos);
    EXPECT_NE(text.find(KW("\"Written\"=\"by the child\"")), WString::npos);
}

TEST_F(ProcessRegistryFileTest, UnusableFilesLeaveAnEmptyRegistry) {
    const std::string malformed = PathOf("malformed.reg");
    WriteText(malformed,
              "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Korva]\n\"Name\"=\n");
    const std::string binary = PathOf("binary.reg");
    WriteText(binary, std::string("\xFF\xFE\x00\xD8\x01", 5));
    const struct {
        const char* what;
        std::string path;
    } kCases[] = {
        {"malformed", malformed},
        {"odd-sized UTF-16", binary},
        {"missing", PathOf("missing.reg")},
        {"a folder", Utf16ToUtf8(folder_)},
        {"not set", ""},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(RunChild(c.path, "absent"), kChildPassed);
    }
}

// The child side; does nothing unless started by RunChild.
TEST(ProcessRegistryChild, Check) {
    const char* expect = std::getenv("KORVA_TEST_CHILD_EXPECT");
    if (expect == nullptr) {
        GTEST_SKIP() << "runs only as a child of ProcessRegistryFileTest";
    }
    RegKey key = 0;
    const int32_t opened =
        Reg().OpenKey(kHkeyLocalMachine, KW("SOFTWARE\\Korva"), kKeyRead | kKeyWrite, &key);
    if (std::string(expect) == "absent") {
        ASSERT_EQ(opened, winerr::kFileNotFound);
        std::exit(kChildPassed);
    }
    ASSERT_EQ(opened, winerr::kSuccess);
    WChar buffer[64] = {};
    uint32_t size = sizeof(buffer);
    ASSERT_EQ(Reg().QueryValue(key, KW("Name"), nullptr, reinterpret_cast<uint8_t*>(buffer), &size), 0);
    ASSERT_EQ(Utf16ToUtf8(buffer), expect);
    const WString written = KW("by the child");
    ASSERT_EQ(Reg().SetValue(key, KW("Written"), kRegSz, reinterpret_cast<const uint8_t*>(written.c_str()),
                             static_cast<uint32_t>((written.size() + 1) * sizeof(WChar))),
              0);
    ASSERT_EQ(Reg().CloseKey(key), 0);
    ASSERT_EQ(SaveProcessRegistry(), winerr::kSuccess);
    std::exit(kChildPassed);
}

}  // namespace
}  // namespace korva::platform
#endif
