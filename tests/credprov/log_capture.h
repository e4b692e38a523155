// Points the trace log and the diagnostic file log at files in a fresh temporary folder for one test, and
// reads back everything the code under test wrote there.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "infra/log.h"
#include "platform/files.h"
#include "platform/text.h"

namespace korva::testing {

// Files the code under test writes here are small; anything larger is a fault of its own.
constexpr uint64_t kMaxTestFileBytes = uint64_t{1} << 24;

class LogCapture {
  public:
    LogCapture() {
        EXPECT_EQ(platform::Files().MakeTempDirectory(&folder_), 0);
        tracePath_ = folder_ + Separator() + KW("trace.log");
        diagnosticPath_ = folder_ + Separator() + KW("diagnostic.log");
        TraceSettings().path = tracePath_;
        TraceSettings().mask = 0xFFFFFFFFu;
        cGjConfigurationLogFile file;
        file.SetFileName(diagnosticPath_);
        file.SetMask(0xFFFFFFFFu);
        SharedFileHandler().Configure(file);
    }
    ~LogCapture() {
        TraceSettings() = TraceLogSettings{};
        SharedFileHandler().ResetToDefaults();
        (void)platform::Files().RemoveDirectoryTree(folder_.c_str());
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    const WString& Folder() const { return folder_; }
    const WString& TracePath() const { return tracePath_; }
    // The trace file as UTF-8 (the file itself is UTF-16LE); empty when nothing was traced.
    std::string Trace() const { return ReadUtf16File(tracePath_); }
    // Every file under the folder, each decoded from UTF-16LE, and also raw, so a text hidden in either form
    // is found.
    std::vector<std::string> AllFiles() const {
        SharedFileHandler().Flush();
        std::vector<std::string> contents;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(ToPath(folder_))) {
            if (entry.is_regular_file()) {
                const WString path = FromPath(entry.path());
                std::vector<uint8_t> bytes;
                EXPECT_EQ(platform::ReadWholeFile(path.c_str(), kMaxTestFileBytes, &bytes), 0);
                contents.emplace_back(bytes.begin(), bytes.end());
                contents.push_back(ReadUtf16File(path));
            }
        }
        return contents;
    }
    size_t FileCount() const {
        size_t count = 0;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(ToPath(folder_))) {
            count += entry.is_regular_file() ? 1 : 0;
        }
        return count;
    }

  private:
    static WString Separator() {
#if defined(_WIN32)
        return KW("\\");
#else
        return KW("/");
#endif
    }
    static std::filesystem::path ToPath(const WString& text) {
#if defined(_WIN32)
        return std::filesystem::path(std::wstring(text.begin(), text.end()));
#else
        return std::filesystem::path(Utf16ToUtf8(text));
#endif
    }
    static WString FromPath(const std::filesystem::path& path) {
#if defined(_WIN32)
        const std::wstring wide = path.wstring();
        return WString(wide.begin(), wide.end());
#else
        return Utf8ToUtf16(path.string());
#endif
    }
    static std::string ReadUtf16File(const WString& path) {
        std::vector<uint8_t> bytes;
        if (platform::ReadWholeFile(path.c_str(), kMaxTestFileBytes, &bytes) != 0) {
            return std::string();
        }
        WString text(bytes.size() / sizeof(WChar), u'\0');
        std::memcpy(text.data(), bytes.data(), text.size() * sizeof(WChar));
        if (!text.empty() && text[0] == 0xFEFF) {
            text.erase(0, 1);
        }
        return Utf16ToUtf8(text);
    }

    WString folder_;
    WString tracePath_;
    WString diagnosticPath_;
};

}  // namespace korva::testing
