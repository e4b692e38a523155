// The process seam: start a program on a desktop and wait for it to end.
//
// Windows: CreateProcessW with the desktop in STARTUPINFOW and WaitForSingleObject on the process.
// Linux: posix_spawn with the command line split by the Windows rules (SplitCommandLine), so the program sees
// the same arguments on both builds, and waitpid. Linux has no desktops; the desktop is ignored.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/seam.h"
#include "platform/text.h"

namespace korva::platform {

// Wait without a time limit (INFINITE).
constexpr uint32_t kWaitForever = 0xFFFFFFFFu;

class Processes {
  public:
    virtual ~Processes() = default;
    // Starts `application` with the whole `commandLine` (its first word names the program, as Windows passes
    // it), inheriting handles, environment and current folder, on `desktop` (null: the caller's), and waits at
    // most `waitMilliseconds` for it to end. 0 when it ran and ended (whatever its exit code); kWaitTimeout
    // when it was still running at the end of the wait (it is left running); otherwise the Windows error of
    // starting it.
    [[nodiscard]] virtual int32_t RunAndWait(const WChar* application, const WChar* commandLine,
                                             const WChar* desktop, uint32_t waitMilliseconds) = 0;
};

// The process-wide instance: the operating system's unless a test replaced it.
Processes& Procs();

using ScopedProcessesOverride = ScopedOverride<Processes>;

// A command line split into arguments exactly as CommandLineToArgvW splits it: the first word is the program
// (up to the next quote when it starts with one, otherwise up to a blank or tab, with no escapes); in every
// later word blanks and tabs separate unless quoted, 2n backslashes before a quote give n backslashes and the
// quote opens or closes quoting, 2n+1 give n backslashes and a literal quote, other backslashes are literal,
// and a quote that closes quoting and is followed by another quote gives a literal quote. An empty line gives
// no arguments.
std::vector<WString> SplitCommandLine(WStringView commandLine);

}  // namespace korva::platform
