#include "tools/json_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

#include "tests/tools/json_check.h"

namespace korva::tools {
namespace {

using testing::JsonReader;
using testing::JsonValue;

struct QuoteCase {
    const char* what;
    WString input;
    std::string expected;
};

TEST(JsonQuoteTest, EscapesWhatJsonReservesAndKeepsTheRestAsUtf8) {
    const QuoteCase cases[] = {
        {"plain text", KW("Rule 1"), "\"Rule 1\""},
        {"quote and backslash", KW("a\"b\\c"), "\"a\\\"b\\\\c\""},
        {"line ends and tab as \\u00XX", KW("a\r\n\tb"), "\"a\\u000D\\u000A\\u0009b\""},
        {"NUL and unit separator", WString(KW("x")) + WChar(0) + WChar(0x1F), "\"x\\u0000\\u001F\""},
        // DEL and the slash need no escape.
        {"DEL and slash", WString(1, WChar(0x7F)) + KW("/"), "\"\x7F/\""},
        {"two-byte UTF-8", KW("caract\u00e8res"), "\"caract\xC3\xA8res\""},
        {"three-byte UTF-8", KW("\u5bc6\u7801"), "\"\xE5\xAF\x86\xE7\xA0\x81\""},
        {"surrogate pair becomes one four-byte character", WString{WChar(0xD83D), WChar(0xDE00)},
         "\"\xF0\x9F\x98\x80\""},
        // Half a pair has no UTF-8 form: it stays visible as an escape and the output stays valid JSON.
        {"lone high surrogate", WString{WChar('a'), WChar(0xD800), WChar('b')}, "\"a\\uD800b\""},
        {"lone low surrogate", WString{WChar(0xDC00)}, "\"\\uDC00\""},
        {"high surrogate at the end", WString{WChar(0xDBFF)}, "\"\\uDBFF\""},
        {"pair in the wrong order", WString{WChar(0xDC00), WChar(0xD800)}, "\"\\uDC00\\uD800\""},
        {"two high surrogates then a low one", WString{WChar(0xD800), WChar(0xD83D), WChar(0xDE00)},
         "\"\\uD800\xF0\x9F\x98\x80\""},
        {"empty", KW(""), "\"\""},
    };
    for (const QuoteCase& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string quoted = JsonQuote(c.input);
        EXPECT_EQ(quoted, c.expected);
        // Whatever went in comes back out of a strict reader unchanged, lone surrogates included.
        JsonValue value;
        std::string error;
        ASSERT_TRUE(JsonReader::Parse(quoted, &value, &error)) << error;
        EXPECT_TRUE(value.text == c.input);
    }
}

struct FloatCase {
    float value;
    const char* expected;
};

TEST(JsonWriterTest, FloatsAreWrittenShortestAndReadBackExactly) {
    const FloatCase cases[] = {
        {0.8f, "0.8"},  // not 0.800000011920929
        {0.75f, "0.75"},
        {0.1f, "0.1"},
        {1.0f, "1"},
        {0.0f, "0"},
        {-0.5f, "-0.5"},
        {123456.0f, "123456"},
        {std::numeric_limits<float>::max(), "3.4028235e+38"},
        {std::numeric_limits<float>::denorm_min(), "1e-45"},
    };
    for (const FloatCase& c : cases) {
        JsonWriter json;
        json.Float(c.value);
        EXPECT_EQ(json.Text(), c.expected);
    }
}

TEST(JsonWriterTest, EveryFloatOfASweepRoundTripsAndIsValidJson) {
    // Ratios as documents write them, and awkward values around them.
    for (int i = -2000; i <= 2000; ++i) {
        const float value = static_cast<float>(i) / 1000.0f * 1.0001f;
        JsonWriter json;
        json.Float(value);
        JsonValue parsed;
        ASSERT_TRUE(JsonReader::Parse(json.Text(), &parsed, nullptr)) << json.Text();
        ASSERT_EQ(parsed.kind, JsonValue::Kind::Number);
        EXPECT_EQ(std::strtof(json.Text().c_str(), nullptr), value) << json.Text();
    }
}

TEST(JsonWriterTest, NumbersJsonCannotHoldAreNull) {
    for (const float value : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                              -std::numeric_limits<float>::infinity()}) {
        JsonWriter json;
        json.Float(value);
        EXPECT_EQ(json.Text(), "null");
    }
}

TEST(JsonWriterTest, NestedContainersAreSeparatedAndIndented) {
    JsonWriter json;
    json.BeginObject();
    json.Key("a");
    json.Int(-12);
    json.Key("empty object");
    json.BeginObject();
    json.EndObject();
    json.Key("list");
    json.BeginArray();
    json.Bool(true);
    json.Null();
    json.StringOrNull(nullptr);
    json.StringOrNull(KW("x"));
    json.BeginArray();
    json.EndArray();
    json.StringUtf8("t\xC3\xA9\"");
    json.EndArray();
    json.Key("q\"uote");
    json.Int(4294967295LL);
    json.EndObject();
    EXPECT_EQ(json.Text(),
              "{\n"
              "  \"a\": -12,\n"
              "  \"empty object\": {},\n"
              "  \"list\": [\n"
              "    true,\n"
              "    null,\n"
              "    null,\n"
              "    \"x\",\n"
              "    [],\n"
              "    \"t\xC3\xA9\\\"\"\n"
              "  ],\n"
              "  \"q\\\"uote\": 4294967295\n"
              "}\n");
    JsonValue value;
    ASSERT_TRUE(JsonReader::Parse(json.Text(), &value, nullptr));
    ASSERT_NE(value.Find("q\"uote"), nullptr);
}

}  // namespace
}  // namespace korva::tools
