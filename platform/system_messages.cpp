// The system message seam's plumbing.
#include "platform/system_messages.h"

#include <atomic>

#include "platform/os_defaults.h"

namespace korva::platform {
namespace {

std::atomic<SystemMessages*> g_messagesOverride{nullptr};

}  // namespace

SystemMessages& Messages() {
    SystemMessages* replacement = g_messagesOverride.load();
    return replacement != nullptr ? *replacement : os::DefaultSystemMessages();
}

ScopedSystemMessagesOverride::ScopedSystemMessagesOverride(SystemMessages* replacement)
    : previous_(g_messagesOverride.exchange(replacement)) {}

ScopedSystemMessagesOverride::~ScopedSystemMessagesOverride() {
    g_messagesOverride.store(previous_);
}

}  // namespace korva::platform
