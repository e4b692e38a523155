// SIDs between binary and text form: the forms Windows prints and reads, and the malformed ones refused.
#include "directory/sid_text.h"

#include <gtest/gtest.h>

#include <string>

namespace korva {
namespace {

SidBytes Bytes(std::initializer_list<int> values) {
    SidBytes bytes;
    for (int v : values) {
        bytes.push_back(static_cast<uint8_t>(v));
    }
    return bytes;
}

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

TEST(SidTextTest, BothWays) {
    struct Row {
        SidBytes bytes;
        const char* text;
    };
    const Row rows[] = {
        {Hex("010100000000000100000000"), "S-1-1-0"},
        {Hex("01020000000000052000000020020000"), "S-1-5-32-544"},
        {Hex("010500000000000515000000c74da8d77c404cc81456ce0150040000"),
         "S-1-5-21-3618131399-3360440444-30299668-1104"},
        {Hex("0101000000000005ffffffff"), "S-1-5-4294967295"},
        {Hex("0100000000000005"), "S-1-5"},
        {Hex("01010000ffffffff07000000"), "S-1-4294967295-7"},
        {Hex("010100010000000007000000"), "S-1-0x000100000000-7"},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(Text(r.bytes), r.text);
        SidBytes back;
        EXPECT_EQ(TextToSid(Utf8ToUtf16(r.text), &back), 0) << r.text;
        EXPECT_EQ(back, r.bytes) << r.text;
    }
}

TEST(SidTextTest, ReadsOtherSpellings) {
    const std::pair<const char*, const char*> rows[] = {
        {"s-1-5-32-544", "S-1-5-32-544"},
        {"S-1-0x5-0x20-544", "S-1-5-32-544"},
        {"S-1-0x0000000005-32", "S-1-5-32"},
        {"S-1-281474976710655-1", "S-1-0xFFFFFFFFFFFF-1"},
    };
    for (const auto& [input, printed] : rows) {
        SidBytes sid;
        ASSERT_EQ(TextToSid(Utf8ToUtf16(input), &sid), 0) << input;
        EXPECT_EQ(Text(sid), printed) << input;
    }
}

TEST(SidTextTest, RefusesMalformed) {
    for (const char* text : {"", "S", "S-1", "S-1-", "S-2-5-32", "X-1-5-32", "S-1-5-", "S-1--5", "S-1-5-32-",
                             "S-1-5-4294967296", "S-1-281474976710656-1", "S-1-5-3x", "S-1-0x-1", "S-1- 5",
                             "S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15-16", "CN=x"}) {
        SidBytes sid = {1};
        EXPECT_EQ(TextToSid(Utf8ToUtf16(text), &sid), winerr::kInvalidSid) << text;
        EXPECT_TRUE(sid.empty()) << text;
    }
    // Fifteen sub-authorities are the most a SID holds.
    SidBytes sid;
    EXPECT_EQ(TextToSid(Utf8ToUtf16("S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15"), &sid), 0);
    EXPECT_EQ(sid.size(), 8u + 60u);
    for (const SidBytes& bad : {Bytes({}), Bytes({1, 0, 0, 0, 0, 0, 0}), Bytes({2, 0, 0, 0, 0, 0, 0, 5}),
                                Bytes({1, 1, 0, 0, 0, 0, 0, 5}), Bytes({1, 0, 0, 0, 0, 0, 0, 5, 0}),
                                Hex("0110000000000005" + std::string(16 * 8, '0'))}) {
        EXPECT_EQ(Text(bad), "(refused)") << bad.size();
    }
}

}  // namespace
}  // namespace korva
