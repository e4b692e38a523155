// The platform's LDAP client (not yet available: every Open reports kLdapNotSupported).
#include "platform/os_defaults.h"

namespace korva::platform::os {
namespace {

class UnsupportedConnector final : public LdapConnector {
  public:
    int32_t Open(const LdapSettings&, std::unique_ptr<LdapSession>* out) override {
        out->reset();
        return kLdapNotSupported;
    }
};

}  // namespace

LdapConnector& DefaultLdapConnector() {
    static UnsupportedConnector connector;
    return connector;
}

}  // namespace korva::platform::os
