// The system message seam: the platform's text for a Windows error code, as the platform gives it (line
// breaks included). Windows: FormatMessageW(FROM_SYSTEM | IGNORE_INSERTS, LANG_USER_DEFAULT) into 1,024
// characters, with "netmsg.dll" loaded as a data file for codes 2100-2999. Linux: built-in English one-line
// texts for the Windows error codes this system can meet; empty for any other code.
#pragma once

#include <cstdint>

#include "platform/seam.h"
#include "platform/text.h"

namespace korva::platform {

class SystemMessages {
  public:
    virtual ~SystemMessages() = default;
    [[nodiscard]] virtual WString Text(uint32_t code) = 0;
};

SystemMessages& Messages();

using ScopedSystemMessagesOverride = ScopedOverride<SystemMessages>;

}  // namespace korva::platform
