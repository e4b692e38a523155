// One `test` of the policy tool -- the user scope, the applicable policy, the password test -- against the
// Samba fixture's domain controller (LDAP backend) and against the snapshot the fixture exported from it, for
// users whose groups nest 1, 3 and 6 deep (bench1, bench3, bench6), with the fixture's document of five
// policies: the last one applies, so every scope is compared and the group scope walks the user's groups. A
// counting connector at the LDAP session seam reports the directory round trips per test: sessions (connect
// and bind), searches, and searches repeated within the same test. Goal: under 50 ms per test against the
// local Samba. How to run it inside the fixture: bench/README.md.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>

#include "directory/directory.h"
#include "directory/ldap_backend.h"
#include "directory/ldif_directory.h"
#include "infra/log.h"
#include "policy/policy_list.h"
#include "policy/scope.h"

namespace korva {
namespace {

using platform::LdapEntry;
using platform::LdapScope;
using platform::LdapSession;

std::string ReadState(const char* name) {
    std::ifstream in(std::string(KORVA_SAMBA_STATE_DIR) + "/" + name, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// Counts what reaches the directory. With KORVA_BENCH_TRACE set, prints every search of the first test.
class CountingConnector final : public platform::LdapConnector {
  public:
    explicit CountingConnector(platform::LdapConnector& inner) : inner_(inner) {}

    int32_t Open(const platform::LdapSettings& settings, std::unique_ptr<LdapSession>* out) override {
        ++sessions;
        std::unique_ptr<LdapSession> session;
        const int32_t result = inner_.Open(settings, &session);
        out->reset(session ? new Session(std::move(session), *this) : nullptr);
        return result;
    }

    void BeginTest() {
        trace_ = std::getenv("KORVA_BENCH_TRACE") != nullptr && tests_++ == 0;
        seen_.clear();
    }

    int64_t sessions = 0;
    int64_t searches = 0;
    int64_t repeated = 0;

  private:
    class Session final : public LdapSession {
      public:
        Session(std::unique_ptr<LdapSession> inner, CountingConnector& owner)
            : inner_(std::move(inner)), owner_(owner) {}
        int32_t Search(WStringView base, LdapScope scope, WStringView filter,
                       const std::vector<WString>& attributes, std::vector<LdapEntry>* out) override {
            std::string key =
                Utf16ToUtf8(base) + " " + std::to_string(static_cast<int>(scope)) + " " + Utf16ToUtf8(filter);
            for (const WString& attribute : attributes) {
                key += " " + Utf16ToUtf8(attribute);
            }
            ++owner_.searches;
            const bool repeat = !owner_.seen_.insert(key).second;
            owner_.repeated += repeat ? 1 : 0;
            if (owner_.trace_) {
                std::fprintf(stderr, "%s%s\n", repeat ? "again " : "      ", key.c_str());
            }
            return inner_->Search(base, scope, filter, attributes, out);
        }
        int32_t Add(WStringView dn, const std::vector<platform::LdapAttribute>& attributes) override {
            return inner_->Add(dn, attributes);
        }
        int32_t Modify(WStringView dn, const std::vector<platform::LdapModification>& changes) override {
            return inner_->Modify(dn, changes);
        }
        void SetDeadline(platform::LdapDeadline deadline) override { inner_->SetDeadline(deadline); }
        WString LastServerMessage() const override { return inner_->LastServerMessage(); }

      private:
        std::unique_ptr<LdapSession> inner_;
        CountingConnector& owner_;
    };

    platform::LdapConnector& inner_;
    std::set<std::string> seen_;
    bool trace_ = false;
    int tests_ = 0;
};

// `named`: the flat domain and controller names configured, so no call has to look them up first.
LdapBackendSettings Settings(bool named = false) {
    LdapBackendSettings settings;
    settings.connection.host = KW("127.0.0.1");
    settings.connection.bindName = KW("Administrator@corp.example.test");
    settings.connection.password = platform::SecretBytes(ReadState("admin-password"));
    settings.dnsDomain = KW("corp.example.test");
    if (named) {
        settings.flatDomain = KW("CORP");
        settings.controllerName = KW("dc1.corp.example.test");
    }
    return settings;
}

void BM_DirectoryTest(benchmark::State& state, bool server) {
    std::unique_ptr<LdifDirectory> snapshot;
    if (server) {
        std::unique_ptr<LdapSession> probe;
        if (platform::OpenLdapSession(Settings().connection, &probe) != 0) {
            state.SkipWithError("no domain controller: run inside the Samba fixture (bench/README.md)");
            return;
        }
    } else {
        ldif::ParseError error;
        if (LdifDirectory::Load(ReadState("export.ldif"), ldif::Limits{}, &snapshot, &error) != 0) {
            state.SkipWithError("no export.ldif: start the Samba fixture once (bench/README.md)");
            return;
        }
    }
    CountingConnector counter(server ? platform::Ldap() : *snapshot);
    LdapDirectoryBackend backend(Settings(state.range(1) != 0), &counter);
    ScopedDirectoryBackend installed(&backend);
    const WString user = KW("bench") + AsciiToWide(std::to_string(state.range(0)));
    for (auto _ : state) {
        counter.BeginTest();
        cGjLog log;
        CScope scope;
        CPolicylist policies;
        CPolicy* policy = nullptr;
        bool verdict = false;
        if (scope.CreateUserScope(log, user.c_str(), KW("corp.example.test")) != 0 ||
            policies.LoadFromDirectory(log, KW("corp.example.test")) != 0 ||
            policies.GetApplicablePolicy(log, scope, &policy) != 0 ||
            policy->TestPassword(log, &verdict, &scope, KW("Winter-Garden-42"), nullptr, nullptr, nullptr,
                                 kLangEnglish) != 0) {
            state.SkipWithError("the test itself failed");
            return;
        }
        benchmark::DoNotOptimize(verdict);
    }
    for (const auto& [name, count] : {std::pair{"sessions", counter.sessions},
                                      {"searches", counter.searches},
                                      {"repeated", counter.repeated}}) {
        state.counters[name] =
            benchmark::Counter(static_cast<double>(count), benchmark::Counter::kAvgIterations);
    }
}
// Arguments: group depth; 1 when the domain's names are configured.
BENCHMARK_CAPTURE(BM_DirectoryTest, server, true)
    ->ArgsProduct({{1, 3, 6}, {0}})
    ->Args({3, 1})
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DirectoryTest, snapshot, false)
    ->ArgsProduct({{1, 3, 6}, {0}})
    ->Args({3, 1})
    ->Unit(benchmark::kMillisecond);

// What one backend call costs before it asks anything: a session (connect and simple bind) and one search.
void BM_DirectorySession(benchmark::State& state) {
    const platform::LdapSettings settings = std::move(Settings().connection);
    for (auto _ : state) {
        std::unique_ptr<LdapSession> session;
        std::vector<LdapEntry> entries;
        if (platform::OpenLdapSession(settings, &session) != 0 ||
            session->Search(KW(""), LdapScope::Base, KW("(objectClass=*)"), {KW("dnsHostName")}, &entries) !=
                0) {
            state.SkipWithError("no domain controller: run inside the Samba fixture (bench/README.md)");
            return;
        }
    }
}
BENCHMARK(BM_DirectorySession)->Unit(benchmark::kMillisecond);

// One search on a session that is already open: what every call would cost with the session kept.
void BM_DirectorySearch(benchmark::State& state) {
    std::unique_ptr<LdapSession> session;
    if (platform::OpenLdapSession(Settings().connection, &session) != 0) {
        state.SkipWithError("no domain controller: run inside the Samba fixture (bench/README.md)");
        return;
    }
    for (auto _ : state) {
        std::vector<LdapEntry> entries;
        session->SetDeadline(std::chrono::steady_clock::now() + std::chrono::seconds(3));
        if (session->Search(KW("DC=corp,DC=example,DC=test"), LdapScope::Subtree,
                            KW("(sAMAccountName=bench3)"), {KW("memberOf")}, &entries) != 0) {
            state.SkipWithError("the search failed");
            return;
        }
    }
}
BENCHMARK(BM_DirectorySearch)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace korva
