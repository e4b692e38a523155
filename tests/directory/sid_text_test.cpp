// SIDs between binary and text form: the forms Windows prints and reads, and the malformed ones refused.
#include "directory/sid_text.h"

#include <gtest/gtest.h>

#include <string>

namespace korva {
namespace {

SidBytes Hex(std::string_view hex) {
    SidBytes bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    }
    return bytes;
}

std::string Text(const SidBytes& sid) {
    WString text;
    return SidToText(sid, &text) == 0 ? Utf16ToUtf8(text) : "(refused)";
}

TEST(SidTextTest, BothWaysAndOtherSpellings) {
    const std::pair<const char*, const char*> rows[] = {
        {"010100000000000100000000", "S-1-1-0"},
        {"010500000000000515000000c74da8d77c404cc81456ce0150040000",
         "S-1-5-21-3618131399-3360440444-30299668-1104"},
        {"0101000000000005ffffffff", "S-1-5-4294967295"},
        {"0100000000000005", "S-1-5"},
        {"010100010000000007000000", "S-1-0x000100000000-7"},
    };
    for (const auto& [hex, text] : rows) {
        EXPECT_EQ(Text(Hex(hex)), text);
        SidBytes back;
        EXPECT_EQ(TextToSid(Utf8ToUtf16(text), &back), 0) << text;
        EXPECT_EQ(back, Hex(hex)) << text;
    }
    const std::pair<const char*, const char*> spellings[] = {
        {"s-1-0x5-0x20-544", "S-1-5-32-544"}, {"S-1-281474976710655-1", "S-1-0xFFFFFFFFFFFF-1"}};
    for (const auto& [input, printed] : spellings) {
        SidBytes sid;
        ASSERT_EQ(TextToSid(Utf8ToUtf16(input), &sid), 0) << input;
        EXPECT_EQ(Text(sid), printed) << input;
    }
}

TEST(SidTextTest, RefusesMalformed) {
    for (const char* text :
         {"", "S-1", "S-2-5-32", "S-1-5-", "S-1--5", "S-1-5-4294967296", "S-1-281474976710656-1", "S-1-5-3x",
          "S-1-0x-1", "S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15-16"}) {
        SidBytes sid = {1};
        EXPECT_EQ(TextToSid(Utf8ToUtf16(text), &sid), winerr::kInvalidSid) << text;
        EXPECT_TRUE(sid.empty()) << text;
    }
    SidBytes fifteen;  // fifteen sub-authorities are the most a SID holds
    EXPECT_EQ(TextToSid(Utf8ToUtf16("S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15"), &fifteen), 0);
    for (const char* bad :
         {"", "01000000000000", "0200000000000005", "0101000000000005", "010000000000000500",
          "01100000000000050000000000000000000000000000000000000000000000000000000000000000"}) {
        EXPECT_EQ(Text(Hex(bad)), "(refused)") << bad;
    }
}

}  // namespace
}  // namespace korva
