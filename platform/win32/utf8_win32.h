// Internal to the platform library and its tests: the Windows UTF-8 conversion with a chosen chunk size, so
// that the splitting of inputs longer than MultiByteToWideChar's int lengths can be tested with small inputs.
#pragma once

#include <string_view>

#include "platform/text.h"

namespace korva::platform {

// Converts utf8 in pieces of at most maxChunk bytes (maxChunk >= 4), never splitting a character between
// pieces.
WString Utf8ToUtf16Chunked(std::string_view utf8, size_t maxChunk);

}  // namespace korva::platform
