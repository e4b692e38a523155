// The Windows backend without a domain (Wine's stubs): every service fails cleanly, with an Error line.
#if defined(_WIN32)

#include <gtest/gtest.h>

#include <functional>

#include "directory/directory.h"
#include "tests/policy/test_support.h"

namespace korva::testing {
namespace {

TEST(WindowsBackend, ServicesWithoutADomainFailCleanly) {
    ASSERT_GE(Dir().Backend().InitializeCom(), 0);  // ADSI needs COM, as the logon thread has it
    const std::function<int32_t(cGjLog&, WString*)> calls[] = {
        [](cGjLog& log, WString* out) { return Dir().GetJoinedDomain(log, out); },
        [](cGjLog& log, WString* out) { return Dir().FlatToDnsDomain(log, KW("KORVAX"), out); },
        [](cGjLog& log, WString* out) {
            return Dir().GetUserSid(log, KW("korva.invalid"), KW("nobody"), out);
        },
        [](cGjLog& log, WString* out) {
            return Dir().CanonicalToDistinguishedName(log, KW("korva.invalid/Users/nobody"), out);
        },
    };
    for (const auto& call : calls) {
        CapturedLog log;
        WString out = KW("stale");
        const int32_t result = call(log.log, &out);
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
