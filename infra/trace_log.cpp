// The trace log: one line per call of interest in the COM classes, each line an independent open-append-close
// of the file named in the registry. No lock: the file is opened with write sharing so that concurrent
// callers do not fail each other.
#include <cstdarg>

#include "infra/date_version.h"
#include "infra/log.h"
#include "infra/registry_connection.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/format.h"
#include "platform/registry.h"

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

void AppendLine(const WString& path, const WString& line) {
    std::unique_ptr<platform::File> file;
    if (platform::Files().Open(path.c_str(), platform::kGenericWrite, platform::kShareWrite,
                               platform::Disposition::OpenAlways, &file) != 0 ||
        file == nullptr) {
        return;
    }
    uint64_t size = 0;
    uint64_t position = 0;
    if (file->GetSize(&size) == 0 && file->Seek(0, platform::SeekOrigin::End, &position) == 0) {
        bool writable = true;
        if (size > kTraceLogMaxFileSize) {
            // Emptied, not rotated: the line being written becomes the first line. No byte-order mark.
            writable = file->Seek(0, platform::SeekOrigin::Begin, &position) == 0 && file->SetEnd() == 0;
        }
        if (writable) {
            uint32_t written = 0;
            file->Write(line.data(), static_cast<uint32_t>(line.size() * sizeof(WChar)), &written);
        }
    }
    file->Close();
}

}  // namespace

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
        FormatLocalTime(now, KW("%H:%M:%S"), kMaxDateTextLength, &timeText);
        FormatLocalTime(now, KW("%m/%d/%y"), kMaxDateTextLength, &dateText);
        AppendLine(settings.path,
                   Format(TraceLineFormat(level), timeText.c_str(), dateText.c_str(), message.c_str()));
    } catch (...) {
    }
    va_end(args);
}

}  // namespace korva
