// Security identifiers between their binary form (as the directory stores objectSid) and their text form
// "S-1-5-21-...", with the rules of the Windows conversions so that both builds read and print the same.
#pragma once

#include <cstdint>
#include <string_view>

#include "directory/backend.h"
#include "platform/text.h"

namespace korva {

// Whether `bytes` is a well-formed binary SID: revision 1, at most 15 sub-authorities, and exactly the
// length they need.
bool IsValidSid(std::string_view bytes);

// "S-1-<authority>-<sub>-...": the authority in decimal, or as 0x and twelve hex digits when it does not fit
// in 32 bits. winerr::kInvalidSid for malformed bytes.
[[nodiscard]] int32_t SidToText(const SidBytes& sid, WString* text);

// The reverse: "S-1-" (either case of S), an authority in decimal or 0x hex (at most 48 bits), then 0 to 15
// sub-authorities of at most 32 bits each. winerr::kInvalidSid for anything else.
[[nodiscard]] int32_t TextToSid(WStringView text, SidBytes* sid);

}  // namespace korva
