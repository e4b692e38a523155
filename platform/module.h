// The library's own module handle, stored by the entry point (DllMain on Windows, a constructor on Linux).
#pragma once

namespace korva::platform {

void SetModuleHandle(void* module);
[[nodiscard]] void* GetModuleHandle();
#if defined(_WIN32)
// <windows.h> makes GetModuleHandle a macro for GetModuleHandleW. This second name keeps a call written as
// platform::GetModuleHandle() linking whether or not <windows.h> was included before it.
[[nodiscard]] void* GetModuleHandleW();
#endif

}  // namespace korva::platform
