// The trace log: one line per call of interest in the COM classes, each line an independent open-append-close
// of the file named in the registry. No lock: the file is opened with write sharing so that concurrent
// callers do not fail each other.
#include <atomic>
#include <cstdarg>

#include "infra/date_version.h"
#include "infra/log.h"
#include "infra/registry_connection.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/format.h"
#include "platform/registry.h"
#include "platform/result_codes.h"

namespace korva {
namespace {

const WChar* TraceLineFormat(uint32_t level) {
    switch (level) {
        case kTraceError:
            return KW("%s - %s Error: %s\r\n");
        case kTraceWarning:
            return KW("%s - %s Warning: %s\r\n");
        case kTraceInformation:
            return KW("%s - %s Information: %s\r\n");
        default:
            return KW("%s - %s Message: %s\r\n");
    }
}

// The current local time; UTC when the time zone conversion fails, so that a line is never lost for its
// stamp.
platform::LocalTime NowLocal() {
    platform::LocalTime local;
    if (platform::SystemClock().ToLocalTime(platform::NowUnixSeconds(), &local)) {
        return local;
    }
    const platform::SystemTime utc = platform::NowUtcSystemTime();
    local = platform::LocalTime{};
    local.year = utc.year;
    local.month = utc.month;
    local.day = utc.day;
    local.hour = utc.hour;
    local.minute = utc.minute;
    local.second = utc.second;
    local.dayOfWeek = utc.dayOfWeek;
    return local;
}

// Opens, appends `line` and closes: 0 or the first failure. A file beyond the limit is emptied first; when it
// cannot be emptied nothing is written.
int32_t AppendLine(const WString& path, const WString& line) {
    std::unique_ptr<platform::File> file;
    int32_t result = platform::Files().Open(path.c_str(), platform::kGenericWrite, platform::kShareWrite,
                                            platform::Disposition::OpenAlways, &file);
    if (result != winerr::kSuccess) {
        return result;
    }
    result = [&]() -> int32_t {
        uint64_t size = 0;
        uint64_t position = 0;
        int32_t status = file->GetSize(&size);
        if (status == winerr::kSuccess) {
            status = file->Seek(0, platform::SeekOrigin::End, &position);
        }
        if (status == winerr::kSuccess && size > kTraceLogMaxFileSize) {
            // Emptied, not rotated: the line being written becomes the first line. No byte-order mark.
            status = file->Seek(0, platform::SeekOrigin::Begin, &position);
            if (status == winerr::kSuccess) {
                status = file->SetEnd();
            }
        }
        if (status != winerr::kSuccess) {
            return status;
        }
        const auto bytes = static_cast<uint32_t>(line.size() * sizeof(WChar));
        uint32_t written = 0;
        status = file->Write(line.data(), bytes, &written);
        return status == winerr::kSuccess && written != bytes ? winerr::kWriteFault : status;
    }();
    const int32_t closed = file->Close();
    return result != winerr::kSuccess ? result : closed;
}

std::atomic<int32_t> g_lastTraceFailure{winerr::kSuccess};

}  // namespace

int32_t TakeLastTraceFailure() {
    return g_lastTraceFailure.exchange(winerr::kSuccess);
}

TraceLogSettings& TraceSettings() {
    static TraceLogSettings settings;
    return settings;
}

void LoadTraceLogSettingsFromRegistry() {
    try {
        TraceLogSettings& settings = TraceSettings();
        settings.path.clear();
        WString path;
        uint32_t mask = 7;
        RegistryConnection registry;
        if (registry.Connect(nullptr, platform::kHkeyLocalMachine) == 0) {
            if (registry.ReadString(kTraceLogKey, KW("Log File"), &path) != 0) {
                path.clear();
            }
            if (registry.ReadDword(kTraceLogKey, KW("Log Mask"), &mask) != 0) {
                mask = 7;
            }
        }
        settings.path = std::move(path);
        settings.mask = mask;
    } catch (...) {
    }
}

void TraceLog(uint32_t level, const WChar* format, ...) {
    const TraceLogSettings& settings = TraceSettings();
    if (settings.path.empty() || (settings.mask & level) == 0) {
        return;
    }
    va_list args;
    va_start(args, format);
    try {
        const WString message = (format != nullptr) ? FormatV(format, args) : WString();
        const platform::LocalTime now = NowLocal();
        WString timeText;
        WString dateText;
        // Fixed patterns within the length limit cannot fail; should they, the line keeps its place-holders.
        if (!FormatLocalTime(now, KW("%H:%M:%S"), kMaxDateTextLength, &timeText)) {
            timeText = KW("--:--:--");
        }
        if (!FormatLocalTime(now, KW("%m/%d/%y"), kMaxDateTextLength, &dateText)) {
            dateText = KW("--/--/--");
        }
        // The trace log is the last resort: a line it cannot write has nowhere else to go, so the failure is
        // kept for diagnostics instead of being reported to a caller that could do nothing with it.
        const int32_t result = AppendLine(settings.path, Format(TraceLineFormat(level), timeText.c_str(),
                                                                dateText.c_str(), message.c_str()));
        if (result != winerr::kSuccess) {
            g_lastTraceFailure.store(result);
        }
    } catch (...) {
        g_lastTraceFailure.store(winerr::kNotEnoughMemory);
    }
    va_end(args);
}

}  // namespace korva
