// A stand-in for the Reset Wizard: records its arguments and desktop, sleeps, then records "ended".
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string Narrow(const wchar_t* text) {
    char buffer[1024] = {};
    WideCharToMultiByte(CP_UTF8, 0, text, -1, buffer, sizeof buffer - 1, nullptr, nullptr);
    return buffer;
}

std::string ObjectName(HANDLE object) {
    wchar_t name[256] = {};
    DWORD needed = 0;
    return GetUserObjectInformationW(object, UOI_NAME, name, sizeof name - sizeof(wchar_t), &needed)
               ? Narrow(name)
               : "(unknown)";
}

}  // namespace

int main() {
    const char* path = std::getenv("KORVA_STUB_WIZARD_RECORD");
    FILE* record = path != nullptr ? std::fopen(path, "wb") : nullptr;
    if (record == nullptr) {
        return 90;
    }
    int argc = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &argc);
    for (int i = 0; i < argc; ++i) {
        std::fprintf(record, "arg=%s\n", Narrow(wide[i]).c_str());
    }
    LocalFree(wide);
    std::fprintf(record, "desktop=%s\\%s\n", ObjectName(GetProcessWindowStation()).c_str(),
                 ObjectName(GetThreadDesktop(GetCurrentThreadId())).c_str());
    std::fflush(record);
    Sleep(200);  // long enough for a caller that does not wait to read the record too early
    std::fprintf(record, "ended\n");
    std::fclose(record);
    return 0;
}
