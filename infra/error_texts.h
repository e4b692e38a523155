// Readable English texts for failure codes, for log lines: a fixed table for HRESULTs (COM, ADSI and OLE DB),
// the platform's message tables for Windows error codes, and a small table for the statuses of directory name
// cracking. All three are pure functions of the code: they never log and never fail.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/text.h"

namespace korva {

// The text of an HRESULT from the compiled-in table; "Unknown Error." for a code the table does not hold.
const WChar* HResultText(int32_t hresult);

// The platform's text for a Windows error code (network management codes 2100-2999 included) on one line:
// every CR and LF is removed, nothing is put in their place. Empty when the platform has no text for the
// code.
WString SystemErrorText(uint32_t code);

// The text of a DS_NAME_RESULT_ITEM status; "Unknown crack name error." for 0 and any unknown status.
const WChar* CrackNameStatusText(uint32_t status);

// The HRESULT table itself, sorted by code (as unsigned 32-bit values), for tests and diagnostics.
struct HResultTextRow {
    uint32_t code;
    const WChar* text;
};
std::span<const HResultTextRow> HResultTextTable();

}  // namespace korva
