// The password provider the module wraps under Wine: two credentials, the second of the first version.
#include <windows.h>

#define KORVA_FAKE_EXPECT(condition, what) (void)(condition)
#include "tests/credprov/com_fakes.h"

namespace {

using namespace korva::testing;

// The password provider's layout: 1 user name, 2 old, 3 new, 4 confirmation, 8 domain.
std::map<DWORD, FakeField> Fields() {
    return {{0, {CPFT_LARGE_TEXT, L"Fake user"}},
            {1, {CPFT_EDIT_TEXT, L"CORP\\jsmith"}},
            {2, {CPFT_PASSWORD_TEXT}},
            {3, {CPFT_PASSWORD_TEXT}},
            {4, {CPFT_PASSWORD_TEXT}},
            {5, {CPFT_SUBMIT_BUTTON}},
            {6, {CPFT_SMALL_TEXT}},
            {7, {CPFT_SMALL_TEXT}},
            {8, {CPFT_SMALL_TEXT, L"CORP"}}};
}

// Made once and never destroyed: the module may be unloaded after COM has gone.
struct Fakes {
    FakeCredential credentials[2] = {FakeCredential(Fields()), FakeCredential(Fields())};
    FakeProvider provider;
    FakeFactory factory{&provider};

    Fakes() {
        provider.layout = Fields();
        credentials[1].hidden = &IidOf<ICredentialProviderCredential2>();
        for (FakeCredential& credential : credentials) {
            credential.packed = {8, 1, 2};
            credential.greeted = 1;
            provider.credentials.push_back(&credential);
        }
    }
    LONG Outstanding() const {
        LONG references = static_cast<LONG>(provider.References()) - 1;
        for (const FakeCredential& credential : credentials) {
            references += static_cast<LONG>(credential.References()) - 1;
        }
        return references;
    }
};

Fakes& Instance() {
    static Fakes& fakes = *new Fakes;
    return fakes;
}

}  // namespace

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID, REFIID riid, void** ppv) {
    return Instance().factory.QueryInterface(riid, ppv);
}

// The references handed out and not returned: what the wrapper leaked.
extern "C" LONG FakeLiveObjects() {
    return Instance().Outstanding();
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    return FakeLiveObjects() == 0 ? korva::kSOk : korva::kSFalse;
}
