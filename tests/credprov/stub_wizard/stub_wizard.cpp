// A stand-in for the Reset Wizard. It writes what it was started with to the file named by
// KORVA_STUB_WIZARD_RECORD, one item a line in UTF-8: "arg=" and each argument as the program's own start-up
// code split the command line (on Windows CommandLineToArgvW of the raw command line), "desktop=" and the
// window station and desktop it runs on (Windows only), then after KORVA_STUB_WIZARD_SLEEP_MS milliseconds
// "ended". It exits with KORVA_STUB_WIZARD_EXIT (default 0).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#include <shellapi.h>
#endif

namespace {

#if defined(_WIN32)
std::string Narrow(const wchar_t* text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string result(size > 0 ? static_cast<size_t>(size - 1) : 0, '\0');
    if (size > 1) {
        WideCharToMultiByte(CP_UTF8, 0, text, -1, result.data(), size, nullptr, nullptr);
    }
    return result;
}

std::string ObjectName(HANDLE object) {
    wchar_t name[256] = {};
    DWORD needed = 0;
    if (!GetUserObjectInformationW(object, UOI_NAME, name, sizeof(name) - sizeof(wchar_t), &needed)) {
        return "(unknown)";
    }
    return Narrow(name);
}

std::string Variable(const wchar_t* name) {
    wchar_t value[1024] = {};
    const DWORD length = GetEnvironmentVariableW(name, value, 1024);
    return length > 0 && length < 1024 ? Narrow(value) : std::string();
}

FILE* OpenRecord() {
    wchar_t path[1024] = {};
    const DWORD length = GetEnvironmentVariableW(L"KORVA_STUB_WIZARD_RECORD", path, 1024);
    return length > 0 && length < 1024 ? _wfopen(path, L"wb") : nullptr;
}
#else
std::string Variable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

FILE* OpenRecord() {
    const std::string path = Variable("KORVA_STUB_WIZARD_RECORD");
    return path.empty() ? nullptr : std::fopen(path.c_str(), "wb");
}
#endif

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args;
#if defined(_WIN32)
    (void)argc;
    (void)argv;
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int i = 0; i < count; ++i) {
        args.push_back(Narrow(wide[i]));
    }
    LocalFree(wide);
    const std::string sleepText = Variable(L"KORVA_STUB_WIZARD_SLEEP_MS");
    const std::string exitText = Variable(L"KORVA_STUB_WIZARD_EXIT");
#else
    for (int i = 0; i < argc; ++i) {
        args.emplace_back(argv[i]);
    }
    const std::string sleepText = Variable("KORVA_STUB_WIZARD_SLEEP_MS");
    const std::string exitText = Variable("KORVA_STUB_WIZARD_EXIT");
#endif
    FILE* record = OpenRecord();
    if (record == nullptr) {
        return 90;
    }
    for (const std::string& arg : args) {
        std::fprintf(record, "arg=%s\n", arg.c_str());
    }
#if defined(_WIN32)
    std::fprintf(record, "desktop=%s\\%s\n", ObjectName(GetProcessWindowStation()).c_str(),
                 ObjectName(GetThreadDesktop(GetCurrentThreadId())).c_str());
#endif
    std::fflush(record);
    if (!sleepText.empty()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(sleepText.c_str())));
    }
    std::fprintf(record, "ended\n");
    std::fclose(record);
    return exitText.empty() ? 0 : std::atoi(exitText.c_str());
}
