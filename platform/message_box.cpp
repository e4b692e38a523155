#include "platform/message_box.h"

#include <atomic>

namespace korva::platform {
namespace os {
MessageBoxes& DefaultMessageBoxes();
}  // namespace os

namespace {
std::atomic<MessageBoxes*> g_boxesOverride{nullptr};
}  // namespace

MessageBoxes& Boxes() {
    MessageBoxes* replacement = g_boxesOverride.load();
    return replacement != nullptr ? *replacement : os::DefaultMessageBoxes();
}

ScopedMessageBoxesOverride::ScopedMessageBoxesOverride(MessageBoxes* replacement)
    : previous_(g_boxesOverride.exchange(replacement)) {}

ScopedMessageBoxesOverride::~ScopedMessageBoxesOverride() {
    g_boxesOverride.store(previous_);
}

}  // namespace korva::platform
