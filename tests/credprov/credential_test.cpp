// The credential adapters, their core and the events adapters, driven as the logon user interface drives a
// tile: advise, select, type, submit, click the link, deselect. The fakes record what reached the wrapped
// credential, the logon user interface, the password feedback and the Reset Wizard.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "tests/credprov/provider_fixture.h"

namespace korva::testing {
namespace {

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

using Kind = FeedbackCall::Kind;

class CredentialTest : public ProviderTest {
  protected:
    // One tile of the generic layout, advised with the logon events, in `scenario`.
    ComPtr<ICredentialProviderCredential> Tile(CREDENTIAL_PROVIDER_USAGE_SCENARIO scenario) {
        RegisterWrapped(kClsidTestProvider);
        std::vector<ComPtr<ICredentialProviderCredential>> adapters = Enumerate(scenario);
        EXPECT_EQ(adapters.size(), 1u);
        if (adapters.empty()) {
            return nullptr;
        }
        EXPECT_EQ(adapters[0]->Advise(&logonEvents_), kSOk);
        return adapters[0];
    }
    HRESULT Submit(ICredentialProviderCredential* tile, CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION* out) {
        CREDENTIAL_PROVIDER_GET_SERIALIZATION_RESPONSE response = CPGSR_NO_CREDENTIAL_NOT_FINISHED;
        LPWSTR status = nullptr;
        CREDENTIAL_PROVIDER_STATUS_ICON icon = CPSI_NONE;
        const HRESULT hr = tile->GetSerialization(&response, out, &status, &icon);
        TaskFree(status);
        return hr;
    }
    static void Free(CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION* serialization) {
        SecureTaskBytes::Attach(serialization->rgbSerialization, serialization->cbSerialization).reset();
        *serialization = {};
    }
    FakeCredentialV2& Wrapped() { return static_cast<FakeCredentialV2&>(*credentials_[0]); }
};

TEST_F(CredentialTest, LinkFieldIsAnsweredByTheAdapter) {
    EnableLink();
    AddCredential();
    ComPtr<ICredentialProviderCredential> tile = Tile(CPUS_LOGON);
    ASSERT_TRUE(tile);
    CREDENTIAL_PROVIDER_FIELD_STATE state = CPFS_HIDDEN;
    CREDENTIAL_PROVIDER_FIELD_INTERACTIVE_STATE interactive = CPFIS_FOCUSED;
    ASSERT_EQ(tile->GetFieldState(10, &state, &interactive), kSOk);
    EXPECT_EQ(state, CPFS_DISPLAY_IN_SELECTED_TILE);
    EXPECT_EQ(interactive, CPFIS_NONE);
    ASSERT_EQ(tile->GetFieldState(9, &state, &interactive), kSOk);  // the wrapped credential's own field
    EXPECT_EQ(Wrapped().calls.back(), "GetFieldState");
    EXPECT_EQ(tile->GetFieldState(11, &state, &interactive), kEInvalidArg);
    EXPECT_EQ(tile->GetFieldState(10, nullptr, &interactive), kEInvalidArg);

    LPWSTR text = nullptr;
    ASSERT_EQ(tile->GetStringValue(10, &text), kSOk);
    EXPECT_EQ(WString(text), KW("Forgot my password..."));
    TaskFree(text);
    EXPECT_EQ(tile->GetStringValue(10, nullptr), kEInvalidArg);

    // The click starts the wizard with the names of the tile's serialization, and returns after it.
    ASSERT_EQ(tile->CommandLinkClicked(10), kSOk);
    ASSERT_EQ(wizard_.starts.size(), 1u);
    EXPECT_EQ(wizard_.starts[0].path, wizard_.location);
    EXPECT_EQ(wizard_.starts[0].domain, WString(KW("Sign in to: CORP")));
    EXPECT_EQ(wizard_.starts[0].userName, WString(KW("CORP\\jsmith")));
    EXPECT_TRUE(boxes_.boxes.empty());
    EXPECT_EQ(tile->CommandLinkClicked(3), kSOk);
    EXPECT_EQ(Wrapped().calls.back(), "CommandLinkClicked") << "the wrapped fields' links are its own";
    EXPECT_EQ(wizard_.starts.size(), 1u);
}

TEST_F(CredentialTest, ResetWizardFailuresShowTheirBoxes) {
    struct Row {
        int32_t locationResult;
        int32_t startResult;
        bool withBytes;
        size_t starts;
        const WChar* title;
    };
    const Row rows[] = {
        {5, 0, true, 0, KW("KORVA - Registry error")},
        {0, 2, true, 1, KW("KORVA - Error starting the Reset Wizard")},
        {0, 0, false, 1, nullptr},  // no serialization bytes: the wizard starts without names
    };
    EnableLink();
    AddCredential();
    ComPtr<ICredentialProviderCredential> tile = Tile(CPUS_UNLOCK_WORKSTATION);
    ASSERT_TRUE(tile);
    for (const Row& row : rows) {
        wizard_.starts.clear();
        boxes_.boxes.clear();
        wizard_.locationResult = row.locationResult;
        wizard_.startResult = row.startResult;
        Wrapped().answerSerializationWithoutBytes = !row.withBytes;
        ASSERT_EQ(tile->CommandLinkClicked(10), kSOk);
        EXPECT_EQ(wizard_.starts.size(), row.starts);
        if (row.title == nullptr) {
            EXPECT_TRUE(boxes_.boxes.empty());
            ASSERT_EQ(wizard_.starts.size(), 1u);
            EXPECT_FALSE(wizard_.starts[0].domain.has_value());
            EXPECT_FALSE(wizard_.starts[0].userName.has_value());
        } else {
            // A stop box with no owner, in front of the logon desktop.
            ASSERT_EQ(boxes_.boxes.size(), 1u);
            EXPECT_EQ(boxes_.boxes[0].owner, nullptr);
            EXPECT_EQ(boxes_.boxes[0].style, 0x50010u);
            EXPECT_EQ(boxes_.boxes[0].title, row.title);
            EXPECT_EQ(boxes_.boxes[0].text,
                      KW("An error has occurred while performing this operation. Please contact your system "
                         "administrator for further assistance."));
        }
    }
}

TEST_F(CredentialTest, LinkInactiveOnTheChangePasswordScreen) {
    EnableLink();
    AddCredential();
    ComPtr<ICredentialProviderCredential> tile = Tile(CPUS_CHANGE_PASSWORD);
    ASSERT_TRUE(tile);
    LPWSTR text = nullptr;
    EXPECT_EQ(tile->GetStringValue(10, &text), kEUnexpected);
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(tile->CommandLinkClicked(10), kSOk);
    EXPECT_TRUE(wizard_.starts.empty());
}

TEST_F(CredentialTest, EventsReachTheLogonUserInterfaceNamingTheAdapter) {
    AddCredential();
    ComPtr<ICredentialProviderCredential> tile = Tile(CPUS_LOGON);
    ASSERT_TRUE(tile);
    FakeCredentialV2& wrapped = Wrapped();
    ASSERT_TRUE(wrapped.advised);
    EXPECT_NE(static_cast<void*>(wrapped.advised.get()), static_cast<void*>(&logonEvents_));

    ASSERT_EQ(wrapped.FireSetFieldString(7, KW("Welcome")), kSOk);
    ASSERT_EQ(wrapped.advised->SetFieldState(&wrapped, 8, CPFS_HIDDEN), kSOk);
    ASSERT_EQ(wrapped.advised->SetFieldSubmitButton(&wrapped, 6, 4), kSOk);
    ASSERT_EQ(logonEvents_.events.size(), 3u);
    for (const EventRecord& event : logonEvents_.events) {
        EXPECT_EQ(event.credential, tile.get()) << event.method;
    }
    EXPECT_EQ(logonEvents_.events[0].fieldId, 7u);
    EXPECT_EQ(logonEvents_.events[0].text, WString(KW("Welcome")));
    EXPECT_EQ(logonEvents_.events[2].number, 4u);
    HWND owner = nullptr;
    ASSERT_EQ(wrapped.advised->OnCreatingWindow(&owner), kSOk);
    EXPECT_EQ(owner, FakeLogonEvents::Window());

    // After UnAdvise a wrapped credential that kept the events adapter reaches nobody.
    ComPtr<ICredentialProviderCredentialEvents> kept = wrapped.advised;
    ASSERT_EQ(tile->UnAdvise(), kSOk);
    EXPECT_FALSE(wrapped.advised);
    EXPECT_EQ(kept->SetFieldString(&wrapped, 7, KW("late")), kEFail);
    EXPECT_EQ(kept->OnCreatingWindow(&owner), kEFail);
    EXPECT_EQ(logonEvents_.events.size(), 3u);
    EXPECT_EQ(tile->UnAdvise(), kSOk) << "twice is harmless";

    // A second Advise replaces the first events adapter.
    ASSERT_EQ(tile->Advise(&logonEvents_), kSOk);
    ASSERT_EQ(tile->Advise(&logonEvents_), kSOk);
    EXPECT_EQ(wrapped.FireSetFieldString(7, KW("again")), kSOk);
    EXPECT_EQ(logonEvents_.events.size(), 4u);
    EXPECT_EQ(tile->Advise(nullptr), kEInvalidArg);
}

TEST_F(CredentialTest, SecondVersionEventsPassTheirOwnMethods) {
    AddCredential();
    RegisterWrapped(kClsidTestProvider);
    std::vector<ComPtr<ICredentialProviderCredential>> adapters = Enumerate(CPUS_LOGON);
    ASSERT_EQ(adapters.size(), 1u);
    FakeLogonEvents2 events2;
    ASSERT_EQ(adapters[0]->Advise(&events2), kSOk);
    ASSERT_EQ(events2.events.size(), 1u) << "Advise asks for the owner window";
    events2.events.clear();
    ComPtr<ICredentialProviderCredentialEvents2> advised;
    ASSERT_EQ(Wrapped().advised.As(&advised), kSOk);
    EXPECT_EQ(advised->BeginFieldUpdates(), kSOk);
    EXPECT_EQ(advised->SetFieldOptions(&Wrapped(), 4, CPCFO_ENABLE_PASSWORD_REVEAL), kSOk);
    EXPECT_EQ(advised->EndFieldUpdates(), kSOk);
    ASSERT_EQ(events2.events.size(), 3u);
    EXPECT_EQ(events2.events[1].credential, adapters[0].get());
    advised.reset();
    ASSERT_EQ(adapters[0]->UnAdvise(), kSOk);

    // The first-version logon events object lacks the second interface: refused, not called blindly.
    ASSERT_EQ(adapters[0]->Advise(&logonEvents_), kSOk);
    ASSERT_EQ(Wrapped().advised.As(&advised), kSOk);
    EXPECT_EQ(advised->BeginFieldUpdates(), kENoInterface);
    advised.reset();
    ASSERT_EQ(adapters[0]->UnAdvise(), kSOk);
}

TEST_F(CredentialTest, EnforcementFollowsTheThreePasswordBoxes) {
    struct Row {
        const char* what;
        DWORD box;
        CREDENTIAL_PROVIDER_FIELD_STATE state;
        CREDENTIAL_PROVIDER_FIELD_INTERACTIVE_STATE interactive;
        bool enforced;
    };
    const Row rows[] = {
        {"all shown", 4, CPFS_DISPLAY_IN_SELECTED_TILE, CPFIS_NONE, true},
        {"focused", 5, CPFS_DISPLAY_IN_BOTH, CPFIS_FOCUSED, true},
        {"old hidden", 3, CPFS_HIDDEN, CPFIS_NONE, false},
        {"new disabled", 4, CPFS_DISPLAY_IN_SELECTED_TILE, CPFIS_DISABLED, false},
        {"confirmation hidden", 5, CPFS_HIDDEN, CPFIS_FOCUSED, false},
    };
    EnableEnforcement();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::map<DWORD, FakeField> fields = GenericFields();
        fields[row.box].state = row.state;
        fields[row.box].interactive = row.interactive;
        FakeCredentialV2 credential(fields);
        wrapped_.credentials = {&credential};
        registrations_.clear();
        RegisterWrapped(kClsidTestProvider);
        std::vector<ComPtr<ICredentialProviderCredential>> adapters = Enumerate(CPUS_CHANGE_PASSWORD);
        ASSERT_EQ(adapters.size(), 1u);
        ASSERT_EQ(adapters[0]->Advise(&logonEvents_), kSOk);
        journal_.calls.clear();
        BOOL autoLogon = kTrue;
        ASSERT_EQ(adapters[0]->SetSelected(&autoLogon), kSOk);
        EXPECT_EQ(autoLogon, kFalse);
        EXPECT_EQ(journal_.Count(Kind::Start), row.enforced ? 1u : 0u);
        EXPECT_EQ(journal_.Count(Kind::PostResults), row.enforced ? 1u : 0u);
        ASSERT_EQ(adapters[0]->UnAdvise(), kSOk);
        adapters.clear();
        provider_.reset();
        wrapped_.credentials.clear();
    }
}

TEST_F(CredentialTest, SelectionAndTypingFeedTheRulesWindow) {
    EnableEnforcement();
    AddCredential();
    ComPtr<ICredentialProviderCredential> tile = Tile(CPUS_CHANGE_PASSWORD);
    ASSERT_TRUE(tile);
    BOOL autoLogon = kFalse;
    ASSERT_EQ(tile->SetSelected(&autoLogon), kSOk);
    ASSERT_EQ(journal_.calls.size(), 2u);
    EXPECT_EQ(journal_.calls[0].kind, Kind::Start);
    EXPECT_EQ(journal_.calls[0].window, static_cast<WindowHandle>(FakeLogonEvents::Window()));
    const FeedbackCall& first = journal_.calls[1];
    EXPECT_EQ(first.kind, Kind::PostResults);
    EXPECT_EQ(first.domain, WString(KW("CORP")));
    EXPECT_EQ(first.userName, WString(KW("jsmith")));
    EXPECT_EQ(first.oldPassword, WString(KW("OldPass1")));
    EXPECT_EQ(first.newPassword, WString(KW("NewPass2")));

    // Only the user name and the new password refresh the rules.
    struct Row {
        DWORD field;
        const WChar* text;
        bool refreshes;
    };
    const Row rows[] = {{4, KW("NewPass3"), true},
                        {2, KW("EUROPE\\anna"), true},
                        {3, KW("x"), false},
                        {5, KW("y"), false},
                        {7, KW("z"), false}};
    for (const Row& row : rows) {
        const size_t before = journal_.Count(Kind::PostResults);
        ASSERT_EQ(tile->SetStringValue(row.field, row.text), kSOk);
        EXPECT_EQ(Wrapped().Text(row.field), row.text) << "the wrapped credential takes the text first";
        EXPECT_EQ(journal_.Count(Kind::PostResults), before + (row.refreshes ? 1 : 0)) << row.field;
    }
    EXPECT_EQ(journal_.calls.back().userName, WString(KW("anna")));
    EXPECT_EQ(journal_.calls.back().domain, WString(KW("CORP"))) << "the domain text wins over the prefix";

    // A field that cannot be read skips the test; a failing test does not fail the typing.
    Wrapped().FailNext("GetStringValue", kEFail);
    const size_t before = journal_.Count(Kind::PostResults);
    EXPECT_EQ(tile->SetStringValue(4, KW("a")), kSOk);
    EXPECT_EQ(journal_.Count(Kind::PostResults), before);
    journal_.postResult = -5;
    EXPECT_EQ(tile->SetStringValue(4, KW("b")), kSOk);
    EXPECT_EQ(journal_.Count(Kind::PostResults), before + 1);

    // Deselecting closes the window before the wrapped credential hears of it.
    ASSERT_EQ(tile->SetDeselected(), kSOk);
    EXPECT_EQ(journal_.calls.back().kind, Kind::Close);
    EXPECT_EQ(Wrapped().calls.back(), "SetDeselected");
}

TEST_F(CredentialTest, SubmitChecksThePasswordWhileTheWindowIsShown) {
    struct Row {
        const char* what;
        bool select;  // opens the rules window
        bool verdict;
        int32_t validateResult;
        HRESULT expected;
        bool wrappedAsked;
    };
    const Row rows[] = {
        {"refused", true, false, 0, winerr::kPasswordRestriction, false},
        {"accepted", true, true, 0, kSOk, true},
        {"accepted despite an error", true, true, -5, kSOk, true},
        {"error and no verdict", true, false, -8, winerr::kPasswordRestriction, false},
        {"window never opened", false, false, 0, kSOk, true},
    };
    EnableEnforcement();
    AddCredential();
    ComPtr<ICredentialProviderCredential> tile = Tile(CPUS_CHANGE_PASSWORD);
    ASSERT_TRUE(tile);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        journal_.verdict = row.verdict;
        journal_.validateResult = row.validateResult;
        logonEvents_.events.clear();
        const int asked = Wrapped().serializations;
        if (row.select) {
            BOOL autoLogon = kFalse;
            ASSERT_EQ(tile->SetSelected(&autoLogon), kSOk);
        }
        CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION out{};
        EXPECT_EQ(Submit(tile.get(), &out), row.expected);
        EXPECT_EQ(Wrapped().serializations - asked, row.wrappedAsked ? 1 : 0);
        if (row.expected == winerr::kPasswordRestriction) {
            EXPECT_EQ(out.rgbSerialization, nullptr) << "out-parameters untouched";
            // The three password boxes are emptied, naming the adapter.
            ASSERT_EQ(logonEvents_.events.size(), 3u);
            for (size_t i = 0; i < 3; ++i) {
                EXPECT_EQ(logonEvents_.events[i].method, "SetFieldString");
                EXPECT_EQ(logonEvents_.events[i].fieldId, 3 + i);
                EXPECT_EQ(logonEvents_.events[i].text, WString());
                EXPECT_EQ(logonEvents_.events[i].credential, tile.get());
            }
            EXPECT_TRUE(Contains(capture_.Trace(),
                                 "Error: An error occurred while validating password. Errorcode 1325."));
        } else {
            EXPECT_TRUE(logonEvents_.events.empty());
        }
        if (row.select) {
            const FeedbackCall& validate = journal_.calls.back();
            ASSERT_EQ(validate.kind, Kind::Validate);
            EXPECT_EQ(validate.window, static_cast<WindowHandle>(FakeLogonEvents::Window()));
            EXPECT_EQ(validate.domain, WString(KW("CORP")));
            EXPECT_EQ(validate.userName, WString(KW("jsmith")));
            EXPECT_EQ(validate.confirmation, WString(KW("NewPass2")));
            ASSERT_EQ(tile->SetDeselected(), kSOk);
        }
        Free(&out);
    }
}

TEST_F(CredentialTest, EachLayoutReadsItsOwnFieldIds) {
    struct Row {
        const char* what;
        CLSID clsid;
        DWORD user, oldBox, newBox, confirm, domain;
    };
    const Row rows[] = {
        {"default provider", kDefaultWrappedClsid, 4, 5, 6, 7, 10},
        {"password provider", kPasswordProviderClsid, 1, 2, 3, 4, 8},
        {"generic", kClsidTestProvider, 2, 3, 4, 5, 9},
    };
    EnableEnforcement();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::map<DWORD, FakeField> fields;
        for (DWORD id = 0; id <= 10; ++id) {
            fields[id] = FakeField{CPFT_SMALL_TEXT, CPFS_DISPLAY_IN_SELECTED_TILE, CPFIS_NONE, KW("other")};
        }
        fields[row.user].text = KW("CORP\\kim");
        fields[row.oldBox].text = KW("old");
        fields[row.newBox].text = KW("new");
        fields[row.confirm].text = KW("confirm");
        fields[row.domain].text = KW("EUROPE");
        FakeCredentialV2 credential(fields);
        wrapped_.credentials = {&credential};
        wrapped_.descriptors.clear();
        for (DWORD id = 0; id <= 10; ++id) {
            wrapped_.descriptors.push_back({id, CPFT_EDIT_TEXT, KW("field")});
        }
        registrations_.clear();
        RegisterWrapped(row.clsid);
        Wrap(row.clsid);
        std::vector<ComPtr<ICredentialProviderCredential>> adapters = Enumerate(CPUS_CHANGE_PASSWORD);
        ASSERT_EQ(adapters.size(), 1u);
        ComPtr<ICredentialProviderCredential>& tile = adapters[0];
        ASSERT_EQ(tile->Advise(&logonEvents_), kSOk);
        journal_.calls.clear();
        BOOL autoLogon = kFalse;
        ASSERT_EQ(tile->SetSelected(&autoLogon), kSOk);
        ASSERT_EQ(journal_.Count(Kind::PostResults), 1u);
        EXPECT_EQ(journal_.calls.back().userName, WString(KW("kim")));
        EXPECT_EQ(journal_.calls.back().domain, WString(KW("EUROPE")));
        EXPECT_EQ(journal_.calls.back().oldPassword, WString(KW("old")));
        EXPECT_EQ(journal_.calls.back().newPassword, WString(KW("new")));

        // Typing into the old password or the confirmation refreshes nothing; the new password does.
        ASSERT_EQ(tile->SetStringValue(row.oldBox, KW("old2")), kSOk);
        ASSERT_EQ(tile->SetStringValue(row.confirm, KW("c2")), kSOk);
        EXPECT_EQ(journal_.Count(Kind::PostResults), 1u);
        ASSERT_EQ(tile->SetStringValue(row.newBox, KW("new2")), kSOk);
        ASSERT_EQ(tile->SetStringValue(row.user, KW("ann")), kSOk);
        EXPECT_EQ(journal_.Count(Kind::PostResults), 3u);

        journal_.verdict = false;
        logonEvents_.events.clear();
        CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION out{};
        EXPECT_EQ(Submit(tile.get(), &out), winerr::kPasswordRestriction);
        const FeedbackCall& validate = journal_.calls.back();
        ASSERT_EQ(validate.kind, Kind::Validate);
        EXPECT_EQ(validate.oldPassword, WString(KW("old2")));
        EXPECT_EQ(validate.newPassword, WString(KW("new2")));
        EXPECT_EQ(validate.confirmation, WString(KW("c2")));
        EXPECT_EQ(validate.userName, WString(KW("ann")));
        EXPECT_EQ(validate.domain, WString(KW("EUROPE")));
        ASSERT_EQ(logonEvents_.events.size(), 3u);
        EXPECT_EQ(logonEvents_.events[0].fieldId, row.oldBox);
        EXPECT_EQ(logonEvents_.events[1].fieldId, row.newBox);
        EXPECT_EQ(logonEvents_.events[2].fieldId, row.confirm);
        journal_.verdict = true;
        ASSERT_EQ(tile->SetDeselected(), kSOk);
        ASSERT_EQ(tile->UnAdvise(), kSOk);
        adapters.clear();
        provider_.reset();
        wrapped_.credentials.clear();
    }
}

TEST_F(CredentialTest, SubmitFieldReadErrorsStopTheSubmission) {
    EnableEnforcement();
    AddCredential();
    ComPtr<ICredentialProviderCredential> tile = Tile(CPUS_CHANGE_PASSWORD);
    ASSERT_TRUE(tile);
    const char* messages[] = {"LogOnToDomain", "username", "old password", "new password",
                              "confirmation password"};
    for (int failing = 0; failing < 5; ++failing) {
        BOOL autoLogon = kFalse;
        ASSERT_EQ(tile->SetSelected(&autoLogon), kSOk);
        const int asked = Wrapped().serializations;
        // The reads before it succeed; this field is gone from the wrapped credential.
        Wrapped().fields.erase(std::array<DWORD, 5>{9, 2, 3, 4, 5}[failing]);
        CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION out{};
        EXPECT_EQ(Submit(tile.get(), &out), kEInvalidArg) << messages[failing];
        EXPECT_EQ(Wrapped().serializations, asked) << "nothing is passed on";
        EXPECT_TRUE(Contains(capture_.Trace(), std::string("An error occurred while retrieving ") +
                                                   messages[failing] + ". Errorcode 0x80070057."))
            << messages[failing];
        Wrapped().fields = GenericFields();
        ASSERT_EQ(tile->SetDeselected(), kSOk);
    }
}

TEST_F(CredentialTest, WithoutAFeedbackObjectNothingIsChecked) {
    EnableEnforcement();
    journal_.createFails = true;
    AddCredential();
    ComPtr<ICredentialProviderCredential> tile = Tile(CPUS_CHANGE_PASSWORD);
    ASSERT_TRUE(tile);
    BOOL autoLogon = kFalse;
    ASSERT_EQ(tile->SetSelected(&autoLogon), kSOk);
    ASSERT_EQ(tile->SetStringValue(4, KW("abc")), kSOk);
    CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION out{};
    EXPECT_EQ(Submit(tile.get(), &out), kSOk);
    Free(&out);
    EXPECT_TRUE(journal_.calls.empty());
}

TEST_F(CredentialTest, UnAdviseOfTheProviderClosesOpenRulesWindows) {
    EnableEnforcement();
    AddCredential();
    ComPtr<ICredentialProviderCredential> tile = Tile(CPUS_CHANGE_PASSWORD);
    ASSERT_TRUE(tile);
    BOOL autoLogon = kFalse;
    ASSERT_EQ(tile->SetSelected(&autoLogon), kSOk);
    journal_.closeResult = 1460;
    ASSERT_EQ(provider_->UnAdvise(), kSOk);
    EXPECT_EQ(journal_.Count(Kind::Close), 1u);
    ASSERT_EQ(provider_->UnAdvise(), kSOk);
    EXPECT_EQ(journal_.Count(Kind::Close), 1u) << "a closed window is not closed again";
    bool logged = false;
    for (const std::string& content : capture_.AllFiles()) {
        logged = logged || Contains(content, "An error occurred while closing password rule dialog.");
    }
    EXPECT_TRUE(logged) << "the failed close reaches the diagnostic log";
    ASSERT_EQ(tile->UnAdvise(), kSOk);
    tile.reset();
    provider_.reset();
    EXPECT_EQ(journal_.created, journal_.destroyed);
}

TEST_F(CredentialTest, ForwardedMethodsReturnTheWrappedErrors) {
    // Each forwarded method, on a wrapped credential that fails it once: the wrapped error comes back; field
    // IDs past the link and missing out-pointers are refused before anything is forwarded.
    AddCredential();
    ComPtr<ICredentialProviderCredential> tile = Tile(CPUS_LOGON);
    ASSERT_TRUE(tile);
    const char* methods[] = {"GetBitmapValue",
                             "GetCheckboxValue",
                             "GetSubmitButtonValue",
                             "GetComboBoxValueCount",
                             "GetComboBoxValueAt",
                             "SetCheckboxValue",
                             "SetComboBoxSelectedValue",
                             "ReportResult",
                             "SetStringValue",
                             "SetSelected",
                             "SetDeselected",
                             "GetSerialization"};
    for (const char* method : methods) {
        Wrapped().FailNext(method, kEAccessDenied);
    }
    HBITMAP bitmap = nullptr;
    BOOL checked = kFalse;
    LPWSTR text = nullptr;
    DWORD number = 0, other = 0;
    EXPECT_EQ(tile->GetBitmapValue(0, &bitmap), kEAccessDenied);
    EXPECT_EQ(tile->GetCheckboxValue(8, &checked, &text), kEAccessDenied);
    EXPECT_EQ(tile->GetSubmitButtonValue(6, &number), kEAccessDenied);
    EXPECT_EQ(tile->GetComboBoxValueCount(1, &number, &other), kEAccessDenied);
    EXPECT_EQ(tile->GetComboBoxValueAt(1, 0, &text), kEAccessDenied);
    EXPECT_EQ(tile->SetCheckboxValue(8, kTrue), kEAccessDenied);
    EXPECT_EQ(tile->SetComboBoxSelectedValue(1, 2), kEAccessDenied);
    EXPECT_EQ(tile->ReportResult(0, 0, &text, nullptr), kEAccessDenied);
    EXPECT_EQ(tile->SetStringValue(2, KW("x")), kEAccessDenied);
    EXPECT_EQ(tile->SetSelected(&checked), kEAccessDenied);
    EXPECT_EQ(tile->SetSelected(nullptr), kEInvalidArg);
    EXPECT_EQ(tile->SetDeselected(), kEAccessDenied);
    CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION out{};
    EXPECT_EQ(Submit(tile.get(), &out), kEAccessDenied);
    EXPECT_EQ(tile->GetSerialization(nullptr, &out, &text, nullptr), kEInvalidArg);
    EXPECT_EQ(tile->GetStringValue(50, &text), kEInvalidArg);
    EXPECT_EQ(tile->CommandLinkClicked(50), kEInvalidArg);
    EXPECT_EQ(tile->QueryInterface(IidOf<ICredentialProviderCredential>(), nullptr), kEInvalidArg);
    ComPtr<IClassFactory> foreign;
    EXPECT_EQ(tile.As(&foreign), kENoInterface) << "answered by the wrapped credential, which has none";
    ASSERT_EQ(tile->UnAdvise(), kSOk);
}

TEST_F(CredentialTest, AKnownPasswordReachesNoFile) {
    // Every path that traces or logs, driven with one password: typed into each password box, sent back by
    // the wrapped credential's events, read at each keystroke and at submit, refused and accepted, and
    // carried in the serialization that the link reads.
    const WString password = KW("Zq9!Unlikely#Secret");
    const std::string password8 = Utf16ToUtf8(password);
    const std::string password16(reinterpret_cast<const char*>(password.data()),
                                 password.size() * sizeof(WChar));
    EnableEnforcement();
    EnableLink();
    registry_.PutDword(KW("HKEY_LOCAL_MACHINE\\Software\\Policies\\Quillmarsh\\Valexor\\VLX Gina"),
                       KW("LogEnabled"), 0);
    std::map<DWORD, FakeField> fields = GenericFields();
    fields[3].text = password;
    FakeCredentialV2& credential = AddCredential(fields);
    for (CREDENTIAL_PROVIDER_USAGE_SCENARIO scenario : {CPUS_CHANGE_PASSWORD, CPUS_CREDUI}) {
        registrations_.clear();
        ComPtr<ICredentialProviderCredential> tile = Tile(scenario);
        ASSERT_TRUE(tile);
        BOOL autoLogon = kFalse;
        ASSERT_EQ(tile->SetSelected(&autoLogon), kSOk);
        for (DWORD box : {3u, 4u, 5u}) {
            ASSERT_EQ(tile->SetStringValue(box, password.c_str()), kSOk);
            ASSERT_EQ(credential.FireSetFieldString(box, password.c_str()), kSOk);
        }
        for (bool verdict : {false, true}) {
            journal_.verdict = verdict;
            journal_.validateResult = verdict ? 0 : -5;
            ASSERT_EQ(tile->SetStringValue(4, password.c_str()), kSOk);
            CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION out{};
            (void)Submit(tile.get(), &out);
            Free(&out);
        }
        (void)tile->CommandLinkClicked(10);
        ASSERT_EQ(tile->SetDeselected(), kSOk);
        ASSERT_EQ(tile->UnAdvise(), kSOk);
        tile.reset();
        provider_.reset();
    }
    const std::string trace = capture_.Trace();
    EXPECT_TRUE(Contains(trace, "SetStringValue - FieldID: 3, String: (hidden)")) << "the test traced";
    EXPECT_TRUE(Contains(trace, "SetFieldString - FieldID: 4, Value: (hidden)"));
    EXPECT_TRUE(Contains(trace, "SetStringValue - FieldID: 2, String: CORP\\jsmith") ||
                Contains(trace, "String: (hidden)"));
    EXPECT_GE(capture_.FileCount(), 1u);
    for (const std::string& content : capture_.AllFiles()) {
        EXPECT_FALSE(Contains(content, password8));
        EXPECT_FALSE(Contains(content, password16));
    }
}

TEST_F(CredentialTest, PlainFieldsKeepTheirTextInTheTrace) {
    AddCredential();
    ComPtr<ICredentialProviderCredential> tile = Tile(CPUS_LOGON);
    ASSERT_TRUE(tile);
    ASSERT_EQ(tile->SetStringValue(2, KW("CORP\\anna")), kSOk);
    ASSERT_EQ(tile->SetStringValue(5, KW("secret")), kSOk);
    ASSERT_EQ(Wrapped().FireSetFieldString(7, KW("Hello")), kSOk);
    const std::string trace = capture_.Trace();
    EXPECT_TRUE(Contains(
        trace, "Warning: cGjCredentialProviderCredentialV2::SetStringValue - FieldID: 2, String: CORP\\anna"))
        << trace;
    EXPECT_TRUE(
        Contains(trace, "cGjCredentialProviderCredentialV2::SetStringValue - FieldID: 5, String: (hidden)"));
    EXPECT_TRUE(Contains(
        trace, "cGjCredentialProviderCredentialEventsV2::SetFieldString - FieldID: 7, Value: Hello"));
    ASSERT_EQ(tile->UnAdvise(), kSOk);
}

}  // namespace
}  // namespace korva::testing
