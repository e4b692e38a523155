// The library's own module handle, stored by the entry point (DllMain on Windows, a constructor on Linux).
#pragma once

namespace korva::platform {

void SetModuleHandle(void* module);
void* GetModuleHandle();

}  // namespace korva::platform
