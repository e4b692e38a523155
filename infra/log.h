// The diagnostic log: cGjLog hands records to its handlers; the process-wide SharedFileHandler buffers them
// and appends them to a UTF-16LE file when flushed. Every engine, directory, controller and window operation
// receives a cGjLog as its first argument.
//
// Usage, by every caller:
//     cGjLog log;
//     log.AddHandler(&SharedFileHandler());
//     ... pass `log` down ...
//     if (log.Flush() != 0) ...  (the records keep waiting in the handler)
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/sync.h"
#include "platform/text.h"

namespace korva {

// Record levels. Warning is 22 (2 + 4 + 16): it passes any mask holding Information, Debug or 16.
enum LogLevel : uint32_t {
    kLogNone = 0,
    kLogError = 1,
    kLogInformation = 2,
    kLogDebug = 4,
    kLogWarning = 22,
    kLogAll = 0xFFFFFFFFu,
};

const WChar* LogLevelName(uint32_t level);
bool LevelPassesMask(uint32_t level, uint32_t mask);

struct LogRecord {
    int64_t time = 0;  // seconds since 1970-01-01 UTC, taken when the record is built
    WString message;
    uint32_t level = 0;
    uint32_t code = 0;
};

class cGjConfigurationLog {
  public:
    virtual ~cGjConfigurationLog() = default;
    virtual uint32_t GetMask() const { return mask_; }
    virtual void SetMask(uint32_t mask) { mask_ = mask; }

  protected:
    uint32_t mask_ = 3;
};

class cGjConfigurationLogFile : public cGjConfigurationLog {
  public:
    cGjConfigurationLogFile();  // mask All, "vlx.log", 0x500000, not immediate
    virtual const WString& GetFileName() const { return fileName_; }
    virtual uint32_t GetMaxFileSize() const { return maxFileSize_; }
    virtual uint32_t GetImmediately() const { return immediately_; }
    virtual void SetFileName(WString name) { fileName_ = std::move(name); }
    virtual void SetMaxFileSize(uint32_t size) { maxFileSize_ = size; }
    virtual void SetImmediately(uint32_t immediately) { immediately_ = immediately; }

  protected:
    WString fileName_;
    uint32_t maxFileSize_ = 0x500000;
    uint32_t immediately_ = 0;
};

class RegistryConnection;

class cGjConfigurationLogFileHelper : public cGjConfigurationLogFile {
  public:
    cGjConfigurationLogFileHelper(const WChar* fileName, uint32_t mask, uint32_t maxFileSize,
                                  uint32_t immediately);
    // Reads "FileLogFilename", "FileLogMask", "FileLogMaxFileSize", "FileLogImmediately" under `keyPath`;
    // each value present with the right type replaces its setting. Returns the error of the last failed read.
    [[nodiscard]] int32_t LoadFromRegistry(const RegistryConnection& registry, const WChar* keyPath);
};

class cGjLogHandler {
  public:
    virtual ~cGjLogHandler() = default;
    virtual void Log(LogRecord record) { (void)record; }
    [[nodiscard]] virtual int32_t Flush() { return 0; }
    // "[date] - level - message" with CR LF when `withLineEnd`.
    virtual WString FormatRecord(const LogRecord& record, bool withLineEnd) const;
};

class cGjLogHandlerFile : public cGjLogHandler {
  public:
    // While no file is configured, or the file cannot be opened, records wait in memory. The wait is bounded:
    // beyond either limit the oldest waiting record is dropped, and the next successful flush writes one line
    // saying how many were dropped, before the records that were kept.
    static constexpr size_t kMaxPendingRecords = 1000;
    static constexpr size_t kMaxPendingBytes = size_t{1} << 20;  // message text, UTF-16

    cGjLogHandlerFile();
    ~cGjLogHandlerFile() override;
    cGjLogHandlerFile(const cGjLogHandlerFile&) = delete;
    cGjLogHandlerFile& operator=(const cGjLogHandlerFile&) = delete;

    // Accepts the record (every level: the mask is applied when records are written); with `immediately` set
    // the record is written before Log returns.
    void Log(LogRecord record) override;
    // Appends the waiting records that pass the mask to the file, after emptying a file larger than the
    // maximum and writing the byte-order mark into an empty one. 0 or the Windows error of the failed open,
    // size read, seek, set-end, write or close; after any failure but a failed close the records keep waiting
    // (a close fails after they were written).
    [[nodiscard]] int32_t Flush() override;
    // Takes the file name (empty: none), mask, maximum size and immediate flag. Waiting records are kept.
    void Configure(const cGjConfigurationLogFile& configuration);
    // Back to the state of a new handler: no file, the default settings, nothing waiting (waiting records are
    // discarded unwritten). Used when the library is unloaded, and by tests.
    void ResetToDefaults();

    // For tests and diagnostics.
    size_t PendingCount() const;
    // Records dropped by the bound (counting those the mask in force would have written) and not yet reported
    // in the file.
    size_t DroppedCount() const;
    WString FileName() const;
    uint32_t Mask() const;
    uint32_t MaxFileSize() const;
    uint32_t Immediately() const;

  private:
    struct State;
    mutable platform::RecursiveLock lock_;
    std::unique_ptr<State> state_;
};

class cGjLog {
  public:
    cGjLog() = default;
    virtual ~cGjLog() = default;
    cGjLog(const cGjLog&) = delete;
    cGjLog& operator=(const cGjLog&) = delete;

    void AddHandler(cGjLogHandler* handler);
    // The formats are wide printf formats in Windows' dialect (platform/format.h): %s takes a WChar string.
    void LogMessage(uint32_t level, const WChar* format, ...);
    // "Error code (%d) - <text>"
    void LogWithCode(uint32_t level, int32_t code, const WChar* format, ...);
    // "<text> Error code (%d): <system text>"
    void LogSystemError(uint32_t level, uint32_t code, const WChar* format, ...);
    // "<text> Error code 0x%X. <HRESULT text>"
    void LogHResult(uint32_t level, int32_t hresult, const WChar* format, ...);
    // Flushes every handler; 0 or the first handler's failure.
    [[nodiscard]] int32_t Flush();

  private:
    void Distribute(uint32_t level, uint32_t code, WString message);
    std::vector<cGjLogHandler*> handlers_;
};

// The process-wide handler (created at module load with no file: it writes nothing until configured).
cGjLogHandlerFile& SharedFileHandler();

// The policy key holding "LogEnabled" and the FileLog values of the diagnostic log (under
// HKEY_LOCAL_MACHINE).
inline constexpr const WChar* kDiagnosticLogKey = KW("Software\\Policies\\Quillmarsh\\Valexor\\VLX Gina");
// The file the diagnostic log writes to when "LogEnabled" is set and "FileLogFilename" is absent.
inline constexpr const WChar* kDefaultDiagnosticLogFile = KW("C:\\VLX_CredProvLog.txt");

// Diagnostic log configuration: when "LogEnabled" is non-zero, SharedFileHandler is configured from the
// FileLog values (defaults: kDefaultDiagnosticLogFile, mask 3, 0x500000 bytes, not immediate); when it is 0
// nothing changes; when it cannot be read, the failure goes to the trace log, as does a FileLog value that is
// there but cannot be read (its default is used). Run once by the provider's initialisation.
void ConfigureDiagnosticLogFromRegistry();

// The trace log of the COM classes: one line per call, appended to the file named by "Log File". Its levels
// are its own.
enum TraceLevel : uint32_t {
    kTraceError = 1,
    kTraceWarning = 2,
    kTraceInformation = 4,
};

// The key holding "Log File" and "Log Mask" (under HKEY_LOCAL_MACHINE).
inline constexpr const WChar* kTraceLogKey = KW("SOFTWARE\\Quillmarsh\\KORVA\\GINA");
// A trace file larger than this is emptied before the next line is written.
constexpr uint64_t kTraceLogMaxFileSize = 0x500000;

struct TraceLogSettings {
    WString path;  // empty: trace log off
    uint32_t mask = 7;
};
// The process-wide settings: no path and mask 7 until loaded.
TraceLogSettings& TraceSettings();
// Replaces the settings: "Log File" (absent: no path) and "Log Mask" (unreadable: 7).
void LoadTraceLogSettingsFromRegistry();
// "hh:mm:ss - mm/dd/yy <Level>: <message>" CR LF, appended when a path is set and (mask AND level) is
// non-zero. A line that cannot be written is lost; its error is kept for TakeLastTraceFailure.
void TraceLog(uint32_t level, const WChar* format, ...);
// The error of the most recent trace line that could not be written (0: none since the last call), and clears
// it.
[[nodiscard]] int32_t TakeLastTraceFailure();

}  // namespace korva
