// One fixture owns every fake around the provider: an in-memory registry with the provider's configuration,
// the trace and diagnostic logs in a temporary folder, the recording password feedback, the Reset Wizard
// hook, the wrapped provider registered under a CLSID, its credentials and the logon user interface's
// events object. The provider under test is released first; the fakes then check that every reference
// they handed out came back, and the last check is that no object of the library is left alive.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <vector>

#include "credprov/credential_provider.h"
#include "credprov/object_count.h"
#include "credprov/class_ids.h"
#include "platform/com.h"
#include "platform/memory_registry.h"
#include "tests/credprov/com_fakes.h"
#include "tests/credprov/fake_password_feedback.h"
#include "tests/credprov/log_capture.h"

namespace korva::testing {

// A CLSID no real provider has: the wrapped provider in most tests (generic field layout).
inline constexpr CLSID kClsidTestProvider = {
    0x7E57C0DE, 0x1111, 0x4222, {0x83, 0x33, 0x44, 0x44, 0x55, 0x55, 0x66, 0x66}};

inline constexpr auto* kHklmLinkLocal = KW("HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillmarsh\\KORVA\\GINA");
inline constexpr auto* kHklmWizards =
    KW("HKEY_LOCAL_MACHINE\\SOFTWARE\\Policies\\Quillmarsh\\KORVA\\Wizards");
inline constexpr auto* kHklmVlxLocal =
    KW("HKEY_LOCAL_MACHINE\\Software\\Quillmarsh\\Valexor\\VLX Credential Provider");

// The generic change-password layout: 2 user name, 3 old, 4 new, 5 confirmation, 9 domain text.
inline std::vector<FakeDescriptor> GenericDescriptors() {
    return {{0, CPFT_TILE_IMAGE, KW("Image")},           {1, CPFT_LARGE_TEXT, KW("Title")},
            {2, CPFT_EDIT_TEXT, KW("User name")},        {3, CPFT_PASSWORD_TEXT, KW("Old password")},
            {4, CPFT_PASSWORD_TEXT, KW("New password")}, {5, CPFT_PASSWORD_TEXT, KW("Confirm password")},
            {6, CPFT_SUBMIT_BUTTON, KW("Submit")},       {7, CPFT_SMALL_TEXT, KW("Status")},
            {8, CPFT_CHECKBOX, KW("Remember")},          {9, CPFT_SMALL_TEXT, KW("Domain")}};
}

inline std::map<DWORD, FakeField> GenericFields() {
    std::map<DWORD, FakeField> fields;
    for (const FakeDescriptor& d : GenericDescriptors()) {
        fields[d.id] = FakeField{d.type, CPFS_DISPLAY_IN_SELECTED_TILE, CPFIS_NONE, WString()};
    }
    fields[2].text = KW("CORP\\jsmith");
    fields[3].text = KW("OldPass1");
    fields[4].text = KW("NewPass2");
    fields[5].text = KW("NewPass2");
    fields[9].text = KW("Sign in to: CORP");
    return fields;
}

class ProviderTest : public ::testing::Test {
  protected:
    // Checked last of all: every provider, adapter and events adapter has gone.
    struct ObjectCountCheck {
        int32_t before = credprov::ObjectCount();
        ~ObjectCountCheck() { EXPECT_EQ(credprov::ObjectCount(), before) << "library objects left alive"; }
    };

    ProviderTest() {
        registry_.PutString(kHklmLinkLocal, KW("Log File"), capture_.TracePath());
        registry_.PutDword(kHklmLinkLocal, KW("Log Mask"), 0xFFFFFFFFu);
        registry_.PutString(kHklmWizards, KW("WrapCredProvCLSID"), com::GuidToString(kClsidTestProvider));
        wrapped_.descriptors = GenericDescriptors();
    }

    void EnableLink() { registry_.PutDword(kHklmLinkLocal, KW("GINAEnabled"), 1); }
    void EnableEnforcement() { registry_.PutDword(kHklmVlxLocal, KW("GinaEnabled"), 1); }
    void Wrap(const CLSID& clsid) {
        registry_.PutString(kHklmWizards, KW("WrapCredProvCLSID"), GuidToString(clsid));
    }

    // Makes CreateInstance of `clsid` give the fake wrapped provider.
    void RegisterWrapped(const CLSID& clsid) {
        registrations_.push_back(std::make_unique<ScopedClassFactoryRegistration>(clsid, &factory_));
        ASSERT_TRUE(Succeeded(registrations_.back()->Result()));
    }

    template <typename Credential = FakeCredentialV2>
    Credential& AddCredential(std::map<DWORD, FakeField> fields = GenericFields()) {
        auto owned = std::make_unique<Credential>(std::move(fields));
        Credential& credential = *owned;
        wrapped_.credentials.push_back(&credential);
        credentials_.push_back(std::move(owned));
        return credential;
    }

    // The provider as the logon user interface gets it from the class factory.
    ComPtr<ICredentialProvider> Create() {
        ComPtr<ICredentialProvider> provider;
        EXPECT_EQ(cGbCredentialProvider::CreateInstance(IidOf<ICredentialProvider>(), provider.put_void()),
                  kSOk);
        return provider;
    }

    // SetUsageScenario and one enumeration; the adapters of the wrapped credentials in order.
    std::vector<ComPtr<ICredentialProviderCredential>> Enumerate(
        CREDENTIAL_PROVIDER_USAGE_SCENARIO scenario) {
        provider_ = Create();
        std::vector<ComPtr<ICredentialProviderCredential>> adapters;
        if (!provider_) {
            return adapters;
        }
        EXPECT_EQ(provider_->SetUsageScenario(scenario, 0), kSOk);
        DWORD fields = 0;
        EXPECT_EQ(provider_->GetFieldDescriptorCount(&fields), kSOk);
        DWORD count = 0;
        DWORD defaultIndex = 0;
        BOOL autoLogon = kFalse;
        EXPECT_EQ(provider_->GetCredentialCount(&count, &defaultIndex, &autoLogon), kSOk);
        for (DWORD i = 0; i < count; ++i) {
            ComPtr<ICredentialProviderCredential> adapter;
            EXPECT_EQ(provider_->GetCredentialAt(i, adapter.put()), kSOk);
            adapters.push_back(adapter);
        }
        return adapters;
    }

    ObjectCountCheck objectCount_;
    platform::MemoryRegistry registry_;
    platform::ScopedRegistryOverride registryOverride_{&registry_};
    LogCapture capture_;
    FeedbackJournal journal_;
    FakePasswordFeedback::Install feedbackOverride_{journal_};
    FakeResetWizard wizard_;
    ScopedResetWizardOverride wizardOverride_{&wizard_};
    RecordingMessageBoxes boxes_;
    ScopedApartment apartment_;
    FakeLogonEvents logonEvents_;
    std::vector<std::unique_ptr<FakeBase>> credentials_;
    FakeProvider wrapped_;
    FakeFactory factory_{&wrapped_};
    std::vector<std::unique_ptr<ScopedClassFactoryRegistration>> registrations_;
    ComPtr<ICredentialProvider> provider_;
};

}  // namespace korva::testing
