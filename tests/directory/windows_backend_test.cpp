// The Windows backend without a domain (Wine's stubs): every service fails cleanly, with an Error line.
#if defined(_WIN32)

#include <gtest/gtest.h>

#include "directory/directory.h"
#include "tests/policy/test_support.h"

namespace korva::testing {
namespace {

TEST(WindowsBackend, ServicesWithoutADomainFailCleanly) {
    ASSERT_GE(Dir().Backend().InitializeCom(), 0);  // ADSI needs COM, as the logon thread has it
    for (int call = 0; call < 4; ++call) {
        CapturedLog log;
        WString out = KW("stale");
        const int32_t result =
            call == 0   ? Dir().GetJoinedDomain(log.log, &out)
            : call == 1 ? Dir().FlatToDnsDomain(log.log, KW("KORVAX"), &out)
            : call == 2 ? Dir().GetUserSid(log.log, KW("korva.invalid"), KW("nobody"), &out)
                        : Dir().CanonicalToDistinguishedName(log.log, KW("korva.invalid/Users/nobody"), &out);
        // 0 with no name only for a computer that is not joined, which says so.
        EXPECT_TRUE(out.empty());
        EXPECT_TRUE(result != 0 ? log.Has(KW(""), kLogError, result)
                                : log.Has(KW("Local computer is not joined to a domain."), kLogError))
            << log.Dump();
    }
    std::unique_ptr<DomainControllerBinding> binding;
    EXPECT_NE(Dir().BindDomainController(KW("korva.invalid"), &binding), 0);
    EXPECT_EQ(binding, nullptr);
    Dir().Backend().UninitializeCom();
}

}  // namespace
}  // namespace korva::testing

#endif  // _WIN32
