// Loads the built module as a host process does and checks what the system loader sees: it loads, unloads and
// loads again; its export table holds exactly the functions its module definition lists, callable with their
// declared signatures; on Windows its version record names the product and the build's version.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <cstdio>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <elf.h>
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
    void* Symbol(const char* name) const { return reinterpret_cast<void*>(GetProcAddress(handle_, name)); }
    // Every name in the loaded image's export directory; ordinal-only exports show as "#<ordinal>".
    std::vector<std::string> ExportedNames() const {
        const auto* base = reinterpret_cast<const unsigned char*>(handle_);
        const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
        const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(base + dos->e_lfanew);
        const IMAGE_DATA_DIRECTORY& entry = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
        std::vector<std::string> names;
        if (entry.VirtualAddress == 0) {
            return names;
        }
        const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + entry.VirtualAddress);
        const auto* nameRvas = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
        for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
            names.emplace_back(reinterpret_cast<const char*>(base + nameRvas[i]));
        }
        for (DWORD i = exports->NumberOfNames; i < exports->NumberOfFunctions; ++i) {
            names.push_back("#" + std::to_string(exports->Base + i));
        }
        return names;
    }
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
    void* Symbol(const char* name) const { return dlsym(handle_, name); }
    // Every defined global or weak symbol in the file's dynamic symbol table.
    std::vector<std::string> ExportedNames() const {
        std::string file;
        if (FILE* in = std::fopen(ModulePath().c_str(), "rb")) {
            char buffer[65536];
            for (size_t got; (got = std::fread(buffer, 1, sizeof(buffer), in)) > 0;) {
                file.append(buffer, got);
            }
            std::fclose(in);
        }
        std::vector<std::string> names;
        Elf64_Ehdr header;
        if (file.size() < sizeof(header)) {
            return names;
        }
        std::memcpy(&header, file.data(), sizeof(header));
        auto section = [&](size_t index) {
            Elf64_Shdr s{};
            std::memcpy(&s, file.data() + header.e_shoff + index * sizeof(Elf64_Shdr), sizeof(s));
            return s;
        };
        for (size_t i = 0; i < header.e_shnum; ++i) {
            const Elf64_Shdr symbols = section(i);
            if (symbols.sh_type != SHT_DYNSYM) {
                continue;
            }
            const Elf64_Shdr strings = section(symbols.sh_link);
            for (size_t n = 1; n < symbols.sh_size / sizeof(Elf64_Sym); ++n) {
                Elf64_Sym symbol;
                std::memcpy(&symbol, file.data() + symbols.sh_offset + n * sizeof(Elf64_Sym), sizeof(symbol));
                const unsigned binding = ELF64_ST_BIND(symbol.st_info);
                if (symbol.st_shndx != SHN_UNDEF && (binding == STB_GLOBAL || binding == STB_WEAK)) {
                    names.emplace_back(file.data() + strings.sh_offset + symbol.st_name);
                }
            }
        }
        return names;
    }
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

TEST(ModuleTest, ExportsExactlyTheListedFunctions) {
    LoadedModule module;
    ASSERT_TRUE(module.Loaded()) << module.Error();
    // Anything more (an empty export list on Windows or default visibility on Linux exports every internal)
    // or less (a listed function the linker dropped) shows in the difference.
    std::vector<std::string> exported = module.ExportedNames();
    std::vector<std::string> listed = kListedExports;
    std::sort(exported.begin(), exported.end());
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(exported, listed);
}

// The export as a host declares it: UTF-16 strings (wchar_t on Windows), one-byte bool, 0 or -1.
#if defined(_WIN32)
using Unit = wchar_t;
#define KORVA_TEXT(s) L##s
#else
using Unit = char16_t;
#define KORVA_TEXT(s) u##s
#endif
using CheckStringWithRegExFunction = int32_t (*)(const Unit*, int32_t, const Unit*, int32_t, bool*);

TEST(ModuleTest, CheckStringWithRegExIsCallableThroughItsExport) {
    LoadedModule module;
    ASSERT_TRUE(module.Loaded()) << module.Error();
    const auto check = reinterpret_cast<CheckStringWithRegExFunction>(module.Symbol("CheckStringWithRegEx"));
    ASSERT_NE(check, nullptr);
    const struct {
        const Unit* text;
        const Unit* pattern;
        int32_t result;
        bool matched;
    } kCases[] = {
        {KORVA_TEXT("Summer2026!"), KORVA_TEXT("[0-9]{4}"), 0, true},
        {KORVA_TEXT("Summer"), KORVA_TEXT("^[0-9]+$"), 0, false},
        {KORVA_TEXT("Summer"), KORVA_TEXT("(unclosed"), -1, false},
    };
    for (const auto& c : kCases) {
        bool matched = !c.matched;
        // The lengths are ignored: the strings are read up to their terminating zero.
        EXPECT_EQ(check(c.text, 1, c.pattern, 1, &matched), c.result);
        EXPECT_EQ(matched, c.matched);
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
