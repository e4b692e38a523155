// errno values as the Windows error codes the rest of the system understands. Internal to the platform
// library.
#pragma once

#include <cstdint>

namespace korva::platform::os {

// The Windows error a Win32 call would report for the same failure; ERROR_GEN_FAILURE (31) for anything
// without a counterpart. ENOENT gives ERROR_FILE_NOT_FOUND; callers that know the path tell it from
// ERROR_PATH_NOT_FOUND themselves.
int32_t WinErrorFromErrno(int error);

}  // namespace korva::platform::os
