// Processes on Linux: posix_spawn with the Windows command line split as Windows programs see it, and waitpid
// with an optional time limit.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/errno_map.h"
#include "platform/process.h"
#include "platform/result_codes.h"

extern char** environ;

namespace korva::platform {
namespace {

// How often a bounded wait looks at the child again.
constexpr auto kPollInterval = std::chrono::milliseconds(5);

class PosixProcesses final : public Processes {
  public:
    int32_t RunAndWait(const WChar* application, const WChar* commandLine, const WChar* /*desktop*/,
                       uint32_t waitMilliseconds) override {
        if (application == nullptr || application[0] == 0) {
            return winerr::kInvalidParameter;
        }
        std::vector<std::string> args;
        for (const WString& arg :
             SplitCommandLine(commandLine != nullptr ? WStringView(commandLine) : WStringView())) {
            args.push_back(Utf16ToUtf8(arg));
        }
        const std::string path = Utf16ToUtf8(application);
        if (args.empty()) {
            args.push_back(path);
        }
        std::vector<char*> argv;
        for (std::string& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);

        pid_t child = 0;
        const int spawned = posix_spawn(&child, path.c_str(), nullptr, nullptr, argv.data(), environ);
        if (spawned != 0) {
            return os::WinErrorFromErrno(spawned);
        }
        return Wait(child, waitMilliseconds);
    }

  private:
    static int32_t Wait(pid_t child, uint32_t waitMilliseconds) {
        int status = 0;
        if (waitMilliseconds == kWaitForever) {
            while (waitpid(child, &status, 0) < 0) {
                if (errno != EINTR) {
                    return os::WinErrorFromErrno(errno);
                }
            }
            return winerr::kSuccess;
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMilliseconds);
        for (;;) {
            const pid_t ended = waitpid(child, &status, WNOHANG);
            if (ended == child) {
                return winerr::kSuccess;
            }
            if (ended < 0 && errno != EINTR) {
                return os::WinErrorFromErrno(errno);
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                return winerr::kWaitTimeout;
            }
            std::this_thread::sleep_for(kPollInterval);
        }
    }
};

}  // namespace

namespace os {

Processes& DefaultProcesses() {
    static PosixProcesses processes;
    return processes;
}

}  // namespace os
}  // namespace korva::platform
