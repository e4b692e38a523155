// Loads the built module as a host process does, and checks its exports and (Windows) its version record.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <set>
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
using Unit = wchar_t;
#define KORVA_TEXT(s) L##s

std::wstring ModulePath() {
    wchar_t path[MAX_PATH] = {};
    std::wstring text(path, GetModuleFileNameW(nullptr, path, MAX_PATH));
    return text.substr(0, text.find_last_of(L"\\/") + 1) + L"" KORVA_MODULE_FILE;
}
void* Load() {
    return LoadLibraryW(ModulePath().c_str());
}
bool Unload(void* module) {
    return FreeLibrary(static_cast<HMODULE>(module)) != FALSE;
}
void* Symbol(void* module, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}
// Every name in the loaded image's export directory; ordinal-only exports show as "#<ordinal>".
std::vector<std::string> ExportedNames(void* module) {
    const auto* base = static_cast<const unsigned char*>(module);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(
        base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& entry = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    std::vector<std::string> names;
    if (entry.VirtualAddress != 0) {
        const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + entry.VirtualAddress);
        const auto* nameRvas = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
        for (DWORD i = 0; i < exports->NumberOfFunctions; ++i) {
            names.push_back(i < exports->NumberOfNames ? reinterpret_cast<const char*>(base + nameRvas[i])
                                                       : "#" + std::to_string(exports->Base + i));
        }
    }
    return names;
}
#else
using Unit = char16_t;
#define KORVA_TEXT(s) u##s

std::string ModulePath() {
    std::string path(4096, '\0');
    path.resize(std::max<ssize_t>(readlink("/proc/self/exe", path.data(), path.size()), 0));
    return path.substr(0, path.find_last_of('/') + 1) + KORVA_MODULE_FILE;
}
void* Load() {
    return dlopen(ModulePath().c_str(), RTLD_NOW | RTLD_LOCAL);
}
bool Unload(void* module) {
    return dlclose(module) == 0;
}
void* Symbol(void* module, const char* name) {
    return dlsym(module, name);
}
// Every defined global or weak symbol of the file's dynamic symbol table, as binutils' nm lists it.
std::vector<std::string> ExportedNames(void*) {
    std::vector<std::string> names;
    if (FILE* nm =
            popen(("nm -D --defined-only --format=just-symbols '" + ModulePath() + "'").c_str(), "r")) {
        for (char line[512]; std::fgets(line, sizeof line, nm) != nullptr;) {
            names.emplace_back(line, std::strcspn(line, "\r\n"));
        }
        pclose(nm);
    }
    return names;
}
#endif

// Reloaded, then left loaded: the module's teardown at process exit must not touch what is already gone.
TEST(ModuleTest, ExportsExactlyTheListedFunctionsCallableAsDeclaredAndReloads) {
    void* module = Load();
    ASSERT_NE(module, nullptr);
    const std::vector<std::string> exported = ExportedNames(module);
    EXPECT_EQ(std::multiset<std::string>(exported.begin(), exported.end()),
              std::multiset<std::string>(kListedExports.begin(), kListedExports.end()));

    // UTF-16 strings read up to their terminating zero (the lengths are ignored), a one-byte bool, 0 or -1.
    using Check = int32_t (*)(const Unit*, int32_t, const Unit*, int32_t, bool*);
    const auto check = reinterpret_cast<Check>(Symbol(module, "CheckStringWithRegEx"));
    ASSERT_NE(check, nullptr);
    bool matched = false;
    EXPECT_EQ(check(KORVA_TEXT("Summer2026!"), 1, KORVA_TEXT("[0-9]{4}"), 1, &matched), 0);
    EXPECT_TRUE(matched);
    EXPECT_EQ(check(KORVA_TEXT("Summer"), 1, KORVA_TEXT("^[0-9]+$"), 1, &matched), 0);
    EXPECT_FALSE(matched);
    EXPECT_EQ(check(KORVA_TEXT("Summer"), 1, KORVA_TEXT("(unclosed"), 1, &matched), -1);
    EXPECT_TRUE(Unload(module));
    module = Load();
    ASSERT_NE(module, nullptr) << "loaded again";
    EXPECT_TRUE(Unload(module));
    ASSERT_NE(Load(), nullptr);
}

#if defined(_WIN32)
TEST(ModuleTest, VersionRecordNamesTheProductAndVersion) {
    DWORD ignored = 0;
    std::vector<unsigned char> record(GetFileVersionInfoSizeW(ModulePath().c_str(), &ignored));
    ASSERT_TRUE(!record.empty() && GetFileVersionInfoW(ModulePath().c_str(), 0,
                                                       static_cast<DWORD>(record.size()), record.data()));
    const auto query = [&](const std::wstring& block) {
        void* value = nullptr;
        UINT length = 0;
        return VerQueryValueW(record.data(), block.c_str(), &value, &length) != FALSE ? value : nullptr;
    };
    const std::wstring version =
        std::to_wstring(KORVA_VERSION_MAJOR) + L"." + std::to_wstring(KORVA_VERSION_MINOR) + L"." +
        std::to_wstring(KORVA_VERSION_PATCH) + L"." + std::to_wstring(KORVA_VERSION_TWEAK);
    const std::pair<const wchar_t*, std::wstring> strings[] = {{L"ProductName", L"KORVA"},
                                                               {L"OriginalFilename", L"KORVACredProvx64.dll"},
                                                               {L"FileVersion", version},
                                                               {L"ProductVersion", version}};
    for (const auto& [key, expected] : strings) {
        const auto* text =
            static_cast<const wchar_t*>(query(L"\\StringFileInfo\\040904B0\\" + std::wstring(key)));
        EXPECT_EQ(std::wstring(text != nullptr ? text : L"(missing)"), expected);
    }
    // Explorer finds the strings through the translation table: US English in the Unicode code page.
    const auto* pairs = static_cast<const WORD*>(query(L"\\VarFileInfo\\Translation"));
    EXPECT_TRUE(pairs != nullptr && (pairs[0] | pairs[1] << 16) == (0x0409 | 1200 << 16));
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(query(L"\\"));
    ASSERT_NE(fixed, nullptr);
    EXPECT_EQ(std::pair(fixed->dwFileVersionMS, fixed->dwFileVersionLS),
              std::pair((DWORD{KORVA_VERSION_MAJOR} << 16) | KORVA_VERSION_MINOR,
                        (DWORD{KORVA_VERSION_PATCH} << 16) | KORVA_VERSION_TWEAK));
}
#endif

}  // namespace
