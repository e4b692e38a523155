// Processes on Windows: CreateProcessW on the named desktop and WaitForSingleObject.
#include <windows.h>

#include "platform/process.h"
#include "platform/result_codes.h"
#include "platform/unique_handle.h"

namespace korva::platform {
namespace {

using KernelHandle = UniqueHandle<ClosedBy<::CloseHandle>>;

static_assert(sizeof(STARTUPINFOW) == 104, "the start-up record the system expects on 64-bit Windows");

class Win32Processes final : public Processes {
  public:
    int32_t RunAndWait(const WChar* application, const WChar* commandLine, const WChar* desktop,
                       uint32_t waitMilliseconds) override {
        if (application == nullptr || application[0] == 0) {
            return winerr::kInvalidParameter;
        }
        // CreateProcessW may write into the command line, so it gets a copy of its own.
        WString line = commandLine != nullptr ? WString(commandLine) : WString();
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        startup.lpDesktop = desktop != nullptr ? const_cast<LPWSTR>(desktop) : nullptr;
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_SHOWNORMAL;
        PROCESS_INFORMATION info{};
        if (!::CreateProcessW(application, line.empty() ? nullptr : line.data(), nullptr, nullptr, TRUE, 0,
                              nullptr, nullptr, &startup, &info)) {
            return static_cast<int32_t>(::GetLastError());
        }
        KernelHandle process(info.hProcess);
        KernelHandle thread(info.hThread);
        switch (::WaitForSingleObject(process.get(), waitMilliseconds)) {
            case WAIT_OBJECT_0:
                return winerr::kSuccess;
            case WAIT_TIMEOUT:
                return winerr::kWaitTimeout;
            default:
                return static_cast<int32_t>(::GetLastError());
        }
    }
};

}  // namespace

namespace os {

Processes& DefaultProcesses() {
    static Win32Processes processes;
    return processes;
}

}  // namespace os
}  // namespace korva::platform
