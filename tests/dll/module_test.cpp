// Loads the built module as a host process does and checks what the system loader sees: it loads, unloads and
// loads again; it exports every function its module definition lists and none of its internals; on Windows
// its version record names the product and the build's version.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

namespace {

// The names listed in the module definition file, as the build read them.
const std::vector<std::string> kListedExports = {
#include "module_exports.inc"
};

#if defined(_WIN32)

std::wstring ModulePath() {
    std::wstring path(MAX_PATH, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), MAX_PATH);
    path.resize(length);
    path.erase(path.find_last_of(L"\\/") + 1);
    return path + L"" KORVA_MODULE_FILE;
}

class LoadedModule {
  public:
    LoadedModule() : handle_(LoadLibraryW(ModulePath().c_str())), error_(GetLastError()) {}
    ~LoadedModule() { Unload(); }
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;

    bool Loaded() const { return handle_ != nullptr; }
    std::string Error() const { return "LoadLibraryW failed with error " + std::to_string(error_); }
    bool Exports(const std::string& name) const { return GetProcAddress(handle_, name.c_str()) != nullptr; }
    bool Unload() {
        const bool freed = handle_ != nullptr && FreeLibrary(handle_) != FALSE;
        handle_ = nullptr;
        return freed;
    }

  private:
    HMODULE handle_;
    DWORD error_;
};

#else

std::string ModulePath() {
    std::string path(4096, '\0');
    const ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
    path.resize(length > 0 ? static_cast<size_t>(length) : 0);
    path.erase(path.find_last_of('/') + 1);
    return path + KORVA_MODULE_FILE;
}

class LoadedModule {
  public:
    LoadedModule() : handle_(dlopen(ModulePath().c_str(), RTLD_NOW | RTLD_LOCAL)) {
        if (handle_ == nullptr) {
            const char* message = dlerror();
            error_ = message != nullptr ? message : "dlopen failed";
        }
    }
    ~LoadedModule() { Unload(); }
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;

    bool Loaded() const { return handle_ != nullptr; }
    std::string Error() const { return error_; }
    bool Exports(const std::string& name) const { return dlsym(handle_, name.c_str()) != nullptr; }
    bool Unload() {
        const bool closed = handle_ != nullptr && dlclose(handle_) == 0;
        handle_ = nullptr;
        return closed;
    }

  private:
    void* handle_;
    std::string error_;
};

#endif

TEST(ModuleTest, LoadsUnloadsAndLoadsAgain) {
    // The second round catches process-wide state that the unload leaves behind and the next load trips over.
    for (int round = 0; round < 2; ++round) {
        LoadedModule module;
        ASSERT_TRUE(module.Loaded()) << "round " << round << ": " << module.Error();
        EXPECT_TRUE(module.Unload()) << "round " << round;
    }
}

TEST(ModuleTest, StaysLoadedUntilTheProcessExits) {
    // A host may never unload the module. The handle is left open on purpose, so the process exit of this
    // very test program runs the module's teardown with the module still loaded: a teardown that touches
    // instances already destroyed by then crashes or hangs the program after all tests passed.
    static LoadedModule* const kept = new LoadedModule;
    ASSERT_TRUE(kept->Loaded()) << kept->Error();
}

TEST(ModuleTest, ExportsEveryListedFunction) {
    LoadedModule module;
    ASSERT_TRUE(module.Loaded()) << module.Error();
    for (const std::string& name : kListedExports) {
        EXPECT_TRUE(module.Exports(name)) << name;
    }
}

TEST(ModuleTest, KeepsInternalsHidden) {
    LoadedModule module;
    ASSERT_TRUE(module.Loaded()) << module.Error();
    // Internal functions compiled into the module, by their linker names; a build that exports everything (an
    // empty export list on Windows, default visibility on Linux) would expose them.
    const char* const internals[] = {
        "_ZN5korva21StartProcessInstancesEPv",  // korva::StartProcessInstances(void*)
        "_ZN5korva20StopProcessInstancesEv",    // korva::StopProcessInstances()
        "DllMain",
    };
    for (const char* name : internals) {
        EXPECT_FALSE(module.Exports(name)) << name;
    }
}

#if defined(_WIN32)

std::wstring ExpectedVersionText() {
    return std::to_wstring(KORVA_VERSION_MAJOR) + L"." + std::to_wstring(KORVA_VERSION_MINOR) + L"." +
           std::to_wstring(KORVA_VERSION_PATCH) + L"." + std::to_wstring(KORVA_VERSION_TWEAK);
}

class ModuleVersionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::wstring path = ModulePath();
        DWORD ignored = 0;
        const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
        ASSERT_NE(size, 0u) << "no version record, error " << GetLastError();
        record_.resize(size);
        ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, record_.data())) << GetLastError();
    }

    const void* Query(const wchar_t* sub_block, UINT* length) const {
        void* value = nullptr;
        if (VerQueryValueW(record_.data(), sub_block, &value, length) == FALSE) {
            return nullptr;
        }
        return value;
    }

    std::vector<unsigned char> record_;
};

TEST_F(ModuleVersionTest, StringsNameTheProductAndVersion) {
    struct Row {
        const wchar_t* key;
        std::wstring expected;
    };
    const Row rows[] = {
        {L"CompanyName", L"Quillmarsh"},
        {L"ProductName", L"KORVA"},
        {L"FileDescription", L"KORVA credential provider"},
        {L"OriginalFilename", L"KORVACredProvx64.dll"},
        {L"FileVersion", ExpectedVersionText()},
        {L"ProductVersion", ExpectedVersionText()},
    };
    for (const Row& row : rows) {
        const std::wstring sub_block = std::wstring(L"\\StringFileInfo\\040904B0\\") + row.key;
        UINT length = 0;
        const auto* text = static_cast<const wchar_t*>(Query(sub_block.c_str(), &length));
        ASSERT_NE(text, nullptr) << "missing string value";
        EXPECT_EQ(std::wstring(text), row.expected);
    }
}

TEST_F(ModuleVersionTest, TranslationPointsAtTheStringBlock) {
    // Explorer finds the strings through the translation table, so it must name the block queried above:
    // US English (0x0409) in the Unicode code page (1200).
    UINT length = 0;
    const auto* pairs = static_cast<const WORD*>(Query(L"\\VarFileInfo\\Translation", &length));
    ASSERT_NE(pairs, nullptr);
    ASSERT_GE(length, 2 * sizeof(WORD));
    EXPECT_EQ(pairs[0], 0x0409);
    EXPECT_EQ(pairs[1], 1200);
}

TEST_F(ModuleVersionTest, FixedPartCarriesTheNumericVersion) {
    UINT length = 0;
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(Query(L"\\", &length));
    ASSERT_NE(fixed, nullptr);
    ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    const DWORD most = (DWORD{KORVA_VERSION_MAJOR} << 16) | DWORD{KORVA_VERSION_MINOR};
    const DWORD least = (DWORD{KORVA_VERSION_PATCH} << 16) | DWORD{KORVA_VERSION_TWEAK};
    EXPECT_EQ(fixed->dwFileVersionMS, most);
    EXPECT_EQ(fixed->dwFileVersionLS, least);
    EXPECT_EQ(fixed->dwProductVersionMS, most);
    EXPECT_EQ(fixed->dwProductVersionLS, least);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));
}

#endif

}  // namespace
