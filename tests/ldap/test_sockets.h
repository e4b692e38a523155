// Two kinds of unhelpful server for the timeout tests, on 127.0.0.1: a port where nothing listens, and a
// listener that lets clients connect (the kernel completes the handshake for its backlog) but never reads or
// answers.
#pragma once

#include <cstdint>

namespace korva::testing {

// A port that refuses connections: bound once to find a free number, then closed again.
uint16_t ClosedPort();

class SilentListener {
  public:
    SilentListener();
    ~SilentListener();
    SilentListener(const SilentListener&) = delete;
    SilentListener& operator=(const SilentListener&) = delete;

    // 0 when the listener could not be set up.
    uint16_t port() const { return port_; }

  private:
    uintptr_t socket_;
    uint16_t port_ = 0;
};

}  // namespace korva::testing
