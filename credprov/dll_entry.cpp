// Entry point of KORVACredProvx64.dll: the process-wide instances live exactly as long as the module is
// loaded.
#include <windows.h>

#include "infra/startup.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
    switch (reason) {
        case DLL_PROCESS_ATTACH:
            // The module keeps no per-thread state, so thread attach/detach notifications would be wasted
            // calls under the loader lock.
            DisableThreadLibraryCalls(module);
            korva::StartProcessInstances(module);
            break;
        case DLL_PROCESS_DETACH:
            // A non-null reserved pointer means the process is exiting: its other threads are already gone,
            // possibly while holding a lock of ours, and the system reclaims all memory anyway. Tear down
            // only on FreeLibrary.
            if (reserved == nullptr) {
                korva::StopProcessInstances();
            }
            break;
        default:
            break;
    }
    // Loading never fails: everything that can go wrong is reported later, by the operation that needs it.
    return TRUE;
}
