// A small streaming JSON writer for the command-line tools: UTF-8 output, indented two spaces per level.
//
// Strings come in as UTF-16 (the system's text) or as UTF-8. Quotes and backslashes are escaped, control
// characters below U+0020 are written as \u00XX, everything else as UTF-8; a UTF-16 surrogate without its
// partner is written as a \uXXXX escape so that the output stays valid JSON and still shows what was there.
// Floats are written in the shortest decimal form that reads back to the same float (0.8f as 0.8).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/text.h"

namespace korva::tools {

class JsonWriter {
  public:
    void BeginObject();
    void EndObject();
    void BeginArray();
    void EndArray();
    // The name of the next member of the current object.
    void Key(std::string_view utf8Name);

    void String(WStringView text);
    void StringUtf8(std::string_view text);
    // A null pointer writes null.
    void StringOrNull(const WChar* text);
    void Int(int64_t value);
    void Bool(bool value);
    void Float(float value);  // NaN and infinities, which JSON cannot hold, are written as null
    void Null();

    // The text written so far (complete once every object and array is closed).
    const std::string& Text() const { return out_; }

  private:
    struct Level {
        bool isObject;
        bool empty;
    };
    // Separator and indentation before a value or a key; a value right after its key needs neither.
    void BeforeValue();
    void NewLine();
    void AppendQuotedUtf8(std::string_view text);
    void Close(char bracket);

    std::string out_;
    std::vector<Level> levels_;
    bool afterKey_ = false;
};

// The JSON string literal of `text` (with its quotes); used by the writer and by the tools' text output.
std::string JsonQuote(WStringView text);

}  // namespace korva::tools
