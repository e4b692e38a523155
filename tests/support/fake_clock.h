// A settable clock and fixed display languages, installed for the owner's lifetime.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/clock.h"
#include "platform/language.h"

namespace korva::testing {

// `now` (a FileTime) moves on by `stepSeconds` at each reading; local time is UTC plus `utcOffsetSeconds`.
class FakeClock final : public platform::Clock {
  public:
    std::atomic<int64_t> now = platform::kUnixEpochAsFileTime;
    int64_t stepSeconds = 0;
    int64_t utcOffsetSeconds = 0;
    [[nodiscard]] int64_t NowFileTime() override {
        return now += stepSeconds * platform::kFileTimeTicksPerSecond;
    }
    [[nodiscard]] bool ToLocalTime(int64_t unixSeconds, platform::LocalTime* local) override;
    void AdvanceSeconds(int64_t seconds) { now += seconds * platform::kFileTimeTicksPerSecond; }
};

class FakeLanguage final : public platform::Language {
  public:
    uint16_t user = 0x0409, ui = 0x0409, system = 0x0409;
    [[nodiscard]] uint16_t UserDefaultLangId() override { return user; }
    [[nodiscard]] uint16_t UserDefaultUiLanguage() override { return ui; }
    [[nodiscard]] uint16_t SystemDefaultLangId() override { return system; }
};

// A SystemTime from its fields (the day of week is left 0) and its text, "2024-02-29 12:00:00.000 dow 4".
platform::SystemTime MakeTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                              int ms = 0);
std::string TimeText(const platform::SystemTime& t);

}  // namespace korva::testing
