// Shared by the tests against the fixture's domain controller.
#pragma once

#include <cstdint>
#include <string>

#include "platform/ldap.h"

namespace korva::testing {

// Nothing listens there inside the fixture's network namespace: connections are refused at once.
constexpr uint16_t kClosedPort = 1;

// A file of the fixture's state folder ("admin-password", "export.ldif"): its path, its bytes.
std::string StatePath(const std::string& name);
std::string ReadState(const std::string& name);

// The administrator on 127.0.0.1, with limits that leave room for a loaded machine.
platform::LdapSettings AdminSettings();

// A listener that lets clients connect but never answers: its port (0 if it could not be set up).
uint16_t SilentPort();

}  // namespace korva::testing
