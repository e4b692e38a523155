// The operating system's implementation of each seam, defined once per build in platform/win32/ or
// platform/posix/. The portable getters (Reg(), Files(), ...) return these unless a test has replaced them.
// Internal to the platform library.
#pragma once

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/language.h"
#include "platform/registry.h"
#include "platform/system_messages.h"

namespace korva::platform::os {

Registry& DefaultRegistry();
FileSystem& DefaultFileSystem();
Clock& DefaultClock();
Language& DefaultLanguage();
SystemMessages& DefaultSystemMessages();

// Calendar helpers shared by the clocks: day of the year (0-365) and the conversion of Unix seconds to a
// FileTime (false when the result would lie outside the FileTime range).
int DayOfYear(int year, int month, int day);
[[nodiscard]] bool UnixSecondsToFileTime(int64_t unixSeconds, int64_t* fileTime);

}  // namespace korva::platform::os
