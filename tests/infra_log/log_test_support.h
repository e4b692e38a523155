// Shared pieces of the logging tests: a temporary folder, a clock fixed at 4 December 2026 22:15:03 (UTC
// offset 0, so local and UTC agree), and file helpers that show UTF-16LE content as UTF-8 for readable
// failures.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/text.h"

namespace korva::testing {

inline int64_t FileTimeOf(uint16_t year, uint16_t month, uint16_t day, uint16_t hour, uint16_t minute,
                          uint16_t second) {
    platform::SystemTime time;
    time.year = year;
    time.month = month;
    time.day = day;
    time.hour = hour;
    time.minute = minute;
    time.second = second;
    int64_t fileTime = 0;
    EXPECT_TRUE(platform::SystemTimeToFileTime(time, &fileTime));
    return fileTime;
}

inline WString W(const std::string& utf8) {
    return Utf8ToUtf16(utf8);
}

class TempFolder {
  public:
    TempFolder() { EXPECT_EQ(0, platform::Files().MakeTempDirectory(&path_)); }
    ~TempFolder() { platform::Files().RemoveDirectoryTree(path_.c_str()); }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    WString Path(const char* name) const { return platform::JoinPath(path_, W(name)); }

  private:
    WString path_;
};

inline bool FileExists(const WString& path) {
    std::unique_ptr<platform::File> file;
    return platform::Files().Open(path.c_str(), platform::kGenericRead,
                                  platform::kShareRead | platform::kShareWrite,
                                  platform::Disposition::OpenExisting, &file) == 0;
}

inline std::vector<uint8_t> FileBytes(const WString& path) {
    std::vector<uint8_t> bytes;
    EXPECT_EQ(0, platform::ReadWholeFile(path.c_str(), &bytes));
    return bytes;
}

// UTF-16LE bytes (from `offset`) as UTF-8.
inline std::string Utf16BytesAsUtf8(const std::vector<uint8_t>& bytes, size_t offset) {
    WString text;
    for (size_t i = offset; i + 1 < bytes.size(); i += 2) {
        text.push_back(static_cast<WChar>(bytes[i] | (bytes[i + 1] << 8)));
    }
    return Utf16ToUtf8(text);
}

inline bool StartsWithByteOrderMark(const std::vector<uint8_t>& bytes) {
    return bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE;
}

// Makes (or extends) a file to `size` bytes without writing them: fast, and sparse where the file system can.
inline void SetFileSize(const WString& path, uint64_t size) {
    std::unique_ptr<platform::File> file;
    ASSERT_EQ(0, platform::Files().Open(path.c_str(), platform::kGenericWrite, platform::kShareNone,
                                        platform::Disposition::OpenAlways, &file));
    uint64_t position = 0;
    ASSERT_EQ(0, file->Seek(static_cast<int64_t>(size), platform::SeekOrigin::Begin, &position));
    ASSERT_EQ(0, file->SetEnd());
    ASSERT_EQ(0, file->Close());
}

inline uint64_t FileSize(const WString& path) {
    std::unique_ptr<platform::File> file;
    EXPECT_EQ(0, platform::Files().Open(path.c_str(), platform::kGenericRead, platform::kShareRead,
                                        platform::Disposition::OpenExisting, &file));
    uint64_t size = 0;
    if (file != nullptr) {
        EXPECT_EQ(0, file->GetSize(&size));
    }
    return size;
}

// A fixed clock: 2026-12-04 22:15:03 UTC, local time equal to UTC.
class FixedClockTest : public ::testing::Test {
  protected:
    FixedClockTest() : clockOverride_(&clock_) { clock_.now = FileTimeOf(2026, 12, 4, 22, 15, 3); }

    platform::FakeClock clock_;

  private:
    platform::ScopedClockOverride clockOverride_;
};

}  // namespace korva::testing
