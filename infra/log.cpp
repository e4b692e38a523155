#include "infra/log.h"

#include <bit>
#include <cstdarg>
#include <deque>
#include <utility>

#include "infra/date_version.h"
#include "infra/error_texts.h"
#include "infra/registry_connection.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/format.h"
#include "platform/registry.h"
#include "platform/result_codes.h"

namespace korva {
namespace {

static_assert(std::endian::native == std::endian::little,
              "log files are written as the memory image of UTF-16LE");

constexpr uint32_t kDefaultFileMask = 3;
constexpr uint32_t kDefaultMaxFileSize = 0x500000;

// Writes the code units of `text` as UTF-16LE: 0, the failed write's error, or ERROR_WRITE_FAULT when the file
// takes nothing.
int32_t WriteText(platform::File& file, WStringView text) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    size_t remaining = text.size() * sizeof(WChar);
    constexpr size_t kChunk = size_t{1} << 30;
    while (remaining > 0) {
        const uint32_t size = static_cast<uint32_t>(remaining < kChunk ? remaining : kChunk);
        uint32_t written = 0;
        const int32_t result = file.Write(bytes, size, &written);
        if (result != winerr::kSuccess) {
            return result;
        }
        if (written == 0) {
            return winerr::kWriteFault;
        }
        bytes += written;
        remaining -= written;
    }
    return winerr::kSuccess;
}

WString FormatArguments(const WChar* format, va_list args) {
    if (format == nullptr) {
        return WString();
    }
    return FormatV(format, args);
}

}  // namespace

const WChar* LogLevelName(uint32_t level) {
    switch (level) {
        case kLogNone:
            return KW("None");
        case kLogError:
            return KW("Error");
        case kLogInformation:
            return KW("Information");
        case kLogDebug:
            return KW("Debug");
        case kLogWarning:
            return KW("Warning");
        case kLogAll:
            return KW("All");
        default:
            return KW("Unknown");
    }
}

bool LevelPassesMask(uint32_t level, uint32_t mask) {
    return mask == kLogAll || (mask & level) != 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Configuration objects

cGjConfigurationLogFile::cGjConfigurationLogFile() : fileName_(KW("vlx.log")) {
    mask_ = kLogAll;
}

cGjConfigurationLogFileHelper::cGjConfigurationLogFileHelper(const WChar* fileName, uint32_t mask,
                                                             uint32_t maxFileSize, uint32_t immediately) {
    fileName_ = (fileName != nullptr) ? WString(fileName) : WString();
    mask_ = mask;
    maxFileSize_ = maxFileSize;
    immediately_ = immediately;
}

int32_t cGjConfigurationLogFileHelper::LoadFromRegistry(const RegistryConnection& registry,
                                                        const WChar* keyPath) {
    int32_t result = 0;
    WString name;
    int32_t status = registry.ReadString(keyPath, KW("FileLogFilename"), &name);
    if (status == 0) {
        SetFileName(std::move(name));
    } else {
        result = status;
    }
    struct DwordSetting {
        const WChar* valueName;
        void (cGjConfigurationLogFileHelper::*set)(uint32_t);
    };
    const DwordSetting settings[] = {
        {KW("FileLogMask"), &cGjConfigurationLogFileHelper::SetMask},
        {KW("FileLogMaxFileSize"), &cGjConfigurationLogFileHelper::SetMaxFileSize},
        {KW("FileLogImmediately"), &cGjConfigurationLogFileHelper::SetImmediately},
    };
    for (const DwordSetting& setting : settings) {
        uint32_t value = 0;
        status = registry.ReadDword(keyPath, setting.valueName, &value);
        if (status == 0) {
            (this->*setting.set)(value);
        } else {
            result = status;
        }
    }
    return result;
}

// ---------------------------------------------------------------------------------------------------------------
// Handlers

WString cGjLogHandler::FormatRecord(const LogRecord& record, bool withLineEnd) const {
    WString date;
    if (RecordDateText(record.time, nullptr, &date) != 0) {
        // The record is still worth its line: the date reads "Unknown date".
    }
    const WStringView level(LogLevelName(record.level));
    WString line;
    line.reserve(date.size() + level.size() + record.message.size() + 10);
    line.append(KW("["));
    line.append(date);
    line.append(KW("] - "));
    line.append(level);
    line.append(KW(" - "));
    line.append(record.message);
    if (withLineEnd) {
        line.append(KW("\r\n"));
    }
    return line;
}

struct cGjLogHandlerFile::State {
    uint32_t mask = kDefaultFileMask;
    WString fileName;
    uint32_t maxFileSize = kDefaultMaxFileSize;
    uint32_t immediately = 0;
    std::deque<LogRecord> pending;
    size_t pendingBytes = 0;
    size_t dropped = 0;

    void DropOldest() {
        const LogRecord& oldest = pending.front();
        if (LevelPassesMask(oldest.level, mask)) {
            ++dropped;
        }
        pendingBytes -= oldest.message.size() * sizeof(WChar);
        pending.pop_front();
    }
};

cGjLogHandlerFile::cGjLogHandlerFile() : state_(std::make_unique<State>()) {}

cGjLogHandlerFile::~cGjLogHandlerFile() = default;

void cGjLogHandlerFile::Log(LogRecord record) {
    try {
        platform::LockGuard guard(lock_);
        State& state = *state_;
        state.pendingBytes += record.message.size() * sizeof(WChar);
        state.pending.push_back(std::move(record));
        // The newest record is always kept, even one that alone exceeds the byte bound.
        while (state.pending.size() > 1 &&
               (state.pending.size() > kMaxPendingRecords || state.pendingBytes > kMaxPendingBytes)) {
            state.DropOldest();
        }
        // The lock is recursive. A failed flush keeps the records waiting for the next one, so there is
        // nothing to undo here.
        if (state.immediately != 0 && Flush() != 0) {
            return;
        }
    } catch (...) {
        // Logging never fails its caller; a record that could not be stored is lost.
    }
}

int32_t cGjLogHandlerFile::Flush() {
    try {
        platform::LockGuard guard(lock_);
        State& state = *state_;
        if (state.fileName.empty()) {
            return 0;  // nothing configured: the records keep waiting (bounded)
        }
        std::unique_ptr<platform::File> file;
        int32_t result =
            platform::Files().Open(state.fileName.c_str(), platform::kGenericAll, platform::kShareNone,
                                   platform::Disposition::OpenAlways, &file);
        if (result != 0 || file == nullptr) {
            return result != 0 ? result : winerr::kInvalidHandle;
        }
        result = [&]() -> int32_t {
            // The whole 64-bit size: a file beyond 4 GiB must be emptied, not appended to.
            uint64_t size = 0;
            int32_t status = file->GetSize(&size);
            if (status != 0) {
                return status;
            }
            uint64_t position = 0;
            if (size > state.maxFileSize) {
                // No rotation: the old content is dropped. If the file cannot be emptied, nothing is written,
                // so that the byte-order mark never lands on top of old text.
                status = file->Seek(0, platform::SeekOrigin::Begin, &position);
                if (status == 0) {
                    status = file->SetEnd();
                }
                if (status != 0) {
                    return status;
                }
                size = 0;
            }
            if (size == 0) {
                static constexpr uint8_t kByteOrderMark[] = {0xFF, 0xFE};
                uint32_t written = 0;
                status = file->Write(kByteOrderMark, sizeof(kByteOrderMark), &written);
                if (status == 0 && written != sizeof(kByteOrderMark)) {
                    status = winerr::kWriteFault;
                }
                if (status != 0) {
                    return status;
                }
            }
            status = file->Seek(0, platform::SeekOrigin::End, &position);
            if (status != 0) {
                return status;
            }
            WString text;
            if (state.dropped > 0) {
                LogRecord note;
                note.time = platform::NowUnixSeconds();
                note.level = kLogWarning;
                note.message =
                    Format(KW("%u older records were dropped while the log file could not be written."),
                           static_cast<uint32_t>(state.dropped));
                text.append(FormatRecord(note, true));
            }
            for (const LogRecord& record : state.pending) {
                if (LevelPassesMask(record.level, state.mask)) {
                    text.append(FormatRecord(record, true));
                }
            }
            // A failed write keeps the records waiting, like a failed open: the next flush tries again.
            status = WriteText(*file, text);
            if (status != 0) {
                return status;
            }
            state.pending.clear();
            state.pendingBytes = 0;
            state.dropped = 0;
            return 0;
        }();
        const int32_t closed = file->Close();
        if (closed != 0) {
            result = closed;
        }
        return result;
    } catch (...) {
        return winerr::kNotEnoughMemory;
    }
}

void cGjLogHandlerFile::Configure(const cGjConfigurationLogFile& configuration) {
    try {
        platform::LockGuard guard(lock_);
        State& state = *state_;
        state.fileName = configuration.GetFileName();
        state.mask = configuration.GetMask();
        state.maxFileSize = configuration.GetMaxFileSize();
        state.immediately = configuration.GetImmediately();
    } catch (...) {
        // Out of memory copying the name: the handler keeps what it had.
    }
}

void cGjLogHandlerFile::ResetToDefaults() {
    platform::LockGuard guard(lock_);
    *state_ = State();
}

size_t cGjLogHandlerFile::PendingCount() const {
    platform::LockGuard guard(lock_);
    return state_->pending.size();
}

size_t cGjLogHandlerFile::DroppedCount() const {
    platform::LockGuard guard(lock_);
    return state_->dropped;
}

WString cGjLogHandlerFile::FileName() const {
    platform::LockGuard guard(lock_);
    return state_->fileName;
}

uint32_t cGjLogHandlerFile::Mask() const {
    platform::LockGuard guard(lock_);
    return state_->mask;
}

uint32_t cGjLogHandlerFile::MaxFileSize() const {
    platform::LockGuard guard(lock_);
    return state_->maxFileSize;
}

uint32_t cGjLogHandlerFile::Immediately() const {
    platform::LockGuard guard(lock_);
    return state_->immediately;
}

cGjLogHandlerFile& SharedFileHandler() {
    static cGjLogHandlerFile handler;
    return handler;
}

// ---------------------------------------------------------------------------------------------------------------
// The log

void cGjLog::AddHandler(cGjLogHandler* handler) {
    try {
        handlers_.push_back(handler);
    } catch (...) {
    }
}

void cGjLog::Distribute(uint32_t level, uint32_t code, WString message) {
    LogRecord record;
    record.time = platform::NowUnixSeconds();
    record.message = std::move(message);
    record.level = level;
    record.code = code;
    for (size_t i = 0; i < handlers_.size(); ++i) {
        cGjLogHandler* handler = handlers_[i];
        if (handler != nullptr) {
            try {
                // Each handler owns its own copy; the last one is given the record itself, since a line can
                // hold a whole policy document.
                if (i + 1 == handlers_.size()) {
                    handler->Log(std::move(record));
                } else {
                    handler->Log(record);
                }
            } catch (...) {
            }
        }
    }
}

void cGjLog::LogMessage(uint32_t level, const WChar* format, ...) {
    va_list args;
    va_start(args, format);
    try {
        WString text = FormatArguments(format, args);
        Distribute(level, 0, std::move(text));
    } catch (...) {
    }
    va_end(args);
}

void cGjLog::LogWithCode(uint32_t level, int32_t code, const WChar* format, ...) {
    va_list args;
    va_start(args, format);
    try {
        const WString text = FormatArguments(format, args);
        Distribute(level, static_cast<uint32_t>(code),
                   Format(KW("Error code (%d) - %s"), code, text.c_str()));
    } catch (...) {
    }
    va_end(args);
}

void cGjLog::LogSystemError(uint32_t level, uint32_t code, const WChar* format, ...) {
    va_list args;
    va_start(args, format);
    try {
        WString text = FormatArguments(format, args);
        text.append(
            Format(KW(" Error code (%d): %s"), static_cast<int32_t>(code), SystemErrorText(code).c_str()));
        Distribute(level, code, std::move(text));
    } catch (...) {
    }
    va_end(args);
}

void cGjLog::LogHResult(uint32_t level, int32_t hresult, const WChar* format, ...) {
    va_list args;
    va_start(args, format);
    try {
        WString text = FormatArguments(format, args);
        text.append(Format(KW(" Error code 0x%X. %s"), static_cast<uint32_t>(hresult), HResultText(hresult)));
        Distribute(level, static_cast<uint32_t>(hresult), std::move(text));
    } catch (...) {
    }
    va_end(args);
}

int32_t cGjLog::Flush() {
    // A handler's failure does not stop the others from flushing; the first one is reported.
    int32_t first = 0;
    for (cGjLogHandler* handler : handlers_) {
        if (handler != nullptr) {
            int32_t result = 0;
            try {
                result = handler->Flush();
            } catch (...) {
                result = winerr::kNotEnoughMemory;
            }
            if (first == 0) {
                first = result;
            }
        }
    }
    return first;
}

// ---------------------------------------------------------------------------------------------------------------
// Configuration from the registry

void ConfigureDiagnosticLogFromRegistry() {
    try {
        RegistryConnection registry;
        int32_t status = registry.Connect(nullptr, platform::kHkeyLocalMachine);
        uint32_t enabled = 0;
        if (status == 0) {
            status = registry.ReadDword(kDiagnosticLogKey, KW("LogEnabled"), &enabled);
        }
        if (status != 0) {
            TraceLog(kTraceError,
                     KW("An error has occurred while getting the value 'LogEnabled' at '%s' in the registry. "
                        "Errorcode %ld"),
                     kDiagnosticLogKey, status);
            return;
        }
        if (enabled == 0) {
            return;
        }
        cGjConfigurationLogFileHelper configuration(kDefaultDiagnosticLogFile, kDefaultFileMask,
                                                    kDefaultMaxFileSize, 0);
        // Missing values keep the defaults; a value that is there but cannot be read is worth a trace line.
        const int32_t loaded = configuration.LoadFromRegistry(registry, kDiagnosticLogKey);
        if (loaded != 0 && loaded != winerr::kFileNotFound) {
            TraceLog(
                kTraceWarning,
                KW("A diagnostic log setting at '%s' could not be read; its default is used. Errorcode %ld"),
                kDiagnosticLogKey, loaded);
        }
        SharedFileHandler().Configure(configuration);
    } catch (...) {
    }
}

}  // namespace korva
