// The credential adapters, their core and the events adapters, driven as the logon user interface drives a
// tile: advise, select, type, submit, click the link, deselect.
#include <gtest/gtest.h>

#include "tests/credprov/fakes.h"

namespace korva::testing {
namespace {

using Kind = FeedbackCall::Kind;
const WString kErrorText =
    KW("An error has occurred while performing this operation. Please contact your system "
       "administrator for further assistance.");

class CredentialTest : public ProviderTest {
  protected:
    // One tile of the wrapped provider `clsid`, advised with the logon events, in `scenario`.
    ComPtr<ICredentialProviderCredential> Tile(CREDENTIAL_PROVIDER_USAGE_SCENARIO scenario,
                                               const CLSID& clsid = kClsidTestProvider) {
        registrations_.clear();
        RegisterWrapped(clsid);
        Wrap(clsid);
        std::vector<ComPtr<ICredentialProviderCredential>> adapters = Enumerate(scenario);
        EXPECT_EQ(adapters.size(), 1u);
        EXPECT_EQ(adapters.at(0)->Advise(&logonEvents_), kSOk);
        return adapters[0];
    }
    void Select(ICredentialProviderCredential* tile) {
        BOOL autoLogon = kTrue;
        ASSERT_EQ(tile->SetSelected(&autoLogon), kSOk);
        EXPECT_EQ(autoLogon, kFalse);
    }
    // Lets go of the tile, its provider and the wrapped credentials.
    void Drop(ComPtr<ICredentialProviderCredential>& tile) {
        EXPECT_EQ(tile->UnAdvise(), kSOk);
        tile.reset();
        provider_.reset();
        wrapped_.credentials.clear();
    }
    static HRESULT Submit(ICredentialProviderCredential* tile, bool* serialized = nullptr) {
        CREDENTIAL_PROVIDER_GET_SERIALIZATION_RESPONSE response = CPGSR_NO_CREDENTIAL_NOT_FINISHED;
        CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION out{};
        LPWSTR status = nullptr;
        CREDENTIAL_PROVIDER_STATUS_ICON icon = CPSI_NONE;
        const HRESULT hr = tile->GetSerialization(&response, &out, &status, &icon);
        if (serialized != nullptr) {
            *serialized = out.rgbSerialization != nullptr;
        }
        TaskFree(status);
        SecureTaskBytes::Attach(out.rgbSerialization, out.cbSerialization).reset();
        return hr;
    }
    FakeCredential& Wrapped() { return credentials_.back(); }
};

TEST_F(CredentialTest, LinkFieldIsTheAdaptersOwn) {
    EnableLink();
    AddCredential();
    ComPtr<ICredentialProviderCredential> tile = Tile(CPUS_LOGON);
    CREDENTIAL_PROVIDER_FIELD_STATE state = CPFS_HIDDEN;
    CREDENTIAL_PROVIDER_FIELD_INTERACTIVE_STATE interactive = CPFIS_FOCUSED;
    ASSERT_EQ(tile->GetFieldState(10, &state, &interactive), kSOk);
    EXPECT_EQ(state, CPFS_DISPLAY_IN_SELECTED_TILE);
    EXPECT_EQ(interactive, CPFIS_NONE);
    ASSERT_EQ(tile->GetFieldState(9, &state, &interactive), kSOk);
    EXPECT_EQ(Wrapped().calls.back(), "GetFieldState") << "the wrapped credential's own field";
    EXPECT_EQ(tile->GetFieldState(11, &state, &interactive), kEInvalidArg);
    EXPECT_EQ(tile->GetFieldState(10, nullptr, &interactive), kEInvalidArg);
    EXPECT_EQ(tile->GetStringValue(10, nullptr), kEInvalidArg);

    // The click starts the wizard with the tile's serialized names; other links are the wrapped one's.
    ASSERT_EQ(tile->CommandLinkClicked(10), kSOk);
    ASSERT_EQ(wizard_.starts.size(), 1u);
    EXPECT_EQ(wizard_.starts[0].path, wizard_.location);
    EXPECT_EQ(wizard_.starts[0].domain, WString(KW("Sign in to: CORP")));
    EXPECT_EQ(wizard_.starts[0].userName, WString(KW("CORP\\jsmith")));
    EXPECT_EQ(tile->CommandLinkClicked(3), kSOk);
    EXPECT_EQ(Wrapped().calls.back(), "CommandLinkClicked");
    EXPECT_EQ(wizard_.starts.size(), 1u);
    EXPECT_TRUE(boxes_.boxes.empty());
    Drop(tile);

    AddCredential();  // on the change-password screen the link is inert
    tile = Tile(CPUS_CHANGE_PASSWORD);
    EXPECT_EQ(tile->CommandLinkClicked(10), kSOk);
    EXPECT_EQ(wizard_.starts.size(), 1u);
    Drop(tile);
}

TEST_F(CredentialTest, ResetWizardFailuresShowTheirBoxes) {
    struct Row {
        int32_t locationResult, startResult;
        bool withBytes;
        size_t starts;
        const WChar* title;  // null: no box
    };
    const Row rows[] = {
        {winerr::kAccessDenied, 0, true, 0, KW("KORVA - Registry error")},
        {0, winerr::kFileNotFound, true, 1, KW("KORVA - Error starting the Reset Wizard")},
        {0, 0, false, 1, nullptr},  // no serialization bytes: the wizard starts without names
    };
    EnableLink();
    AddCredential();
    ComPtr<ICredentialProviderCredential> tile = Tile(CPUS_UNLOCK_WORKSTATION);
    for (const Row& row : rows) {
        wizard_.starts.clear();
        boxes_.boxes.clear();
        wizard_.locationResult = row.locationResult;
        wizard_.startResult = row.startResult;
        Wrapped().serializeWithoutBytes = !row.withBytes;
        ASSERT_EQ(tile->CommandLinkClicked(10), kSOk);
        ASSERT_EQ(wizard_.starts.size(), row.starts);
        ASSERT_EQ(boxes_.boxes.size(), row.title != nullptr ? 1u : 0u);
        if (row.title != nullptr) {
            // A stop box with no owner, brought in front of the logon desktop.
            EXPECT_EQ(boxes_.boxes[0].owner, nullptr);
            EXPECT_EQ(boxes_.boxes[0].style, 0x50010u);
            EXPECT_EQ(boxes_.boxes[0].title, row.title);
            EXPECT_EQ(boxes_.boxes[0].text, kErrorText);
        } else {
            EXPECT_FALSE(wizard_.starts[0].domain || wizard_.starts[0].userName);
        }
    }
    Drop(tile);
}

TEST_F(CredentialTest, EventsReachTheLogonUserInterfaceNamingTheAdapter) {
    FakeCredential& wrapped = AddCredential();
    ComPtr<ICredentialProviderCredential> tile = Tile(CPUS_LOGON);
    ASSERT_TRUE(wrapped.advised);
    EXPECT_NE(static_cast<void*>(wrapped.advised.get()), static_cast<void*>(&logonEvents_));
    logonEvents_.events.clear();
    ASSERT_EQ(wrapped.advised->SetFieldSubmitButton(&wrapped, 6, 4), kSOk);
    EXPECT_EQ(logonEvents_.events.at(0).number, 4u);
    HWND owner = nullptr;
    ASSERT_EQ(wrapped.advised->OnCreatingWindow(&owner), kSOk);
    EXPECT_EQ(owner, FakeLogonEvents::Window());

    // The second version's own methods pass through too.
    ComPtr<ICredentialProviderCredentialEvents2> events2;
    ASSERT_EQ(wrapped.advised.As(&events2), kSOk);
    EXPECT_EQ(events2->BeginFieldUpdates(), kSOk);
    EXPECT_EQ(events2->SetFieldOptions(&wrapped, 4, CPCFO_ENABLE_PASSWORD_REVEAL), kSOk);
    ASSERT_EQ(logonEvents_.events.size(), 3u);
    EXPECT_EQ(logonEvents_.events[2].credential, tile.get());

    // After UnAdvise a wrapped credential that kept the events adapter reaches nobody.
    ComPtr<ICredentialProviderCredentialEvents> kept = wrapped.advised;
    ASSERT_EQ(tile->UnAdvise(), kSOk);
    EXPECT_FALSE(wrapped.advised);
    EXPECT_EQ(kept->SetFieldString(&wrapped, 7, KW("late")), kEFail);
    EXPECT_EQ(kept->OnCreatingWindow(&owner), kEFail);
    EXPECT_EQ(events2->EndFieldUpdates(), kEFail);
    EXPECT_EQ(logonEvents_.events.size(), 3u);
    EXPECT_EQ(tile->UnAdvise(), kSOk) << "twice is harmless";
    kept.reset();
    events2.reset();

    // A first-version logon events object: the second version's methods are refused, not called blindly.
    logonEvents_.hidden = &IidOf<ICredentialProviderCredentialEvents2>();
    ASSERT_EQ(tile->Advise(&logonEvents_), kSOk);
    ASSERT_EQ(tile->Advise(&logonEvents_), kSOk) << "a second Advise replaces the first";
    ASSERT_EQ(wrapped.advised.As(&events2), kSOk);
    EXPECT_EQ(events2->BeginFieldUpdates(), kENoInterface);
    events2.reset();
    EXPECT_EQ(wrapped.Fire(7, KW("again")), kSOk);
    EXPECT_EQ(logonEvents_.events.size(), 4u);
    EXPECT_EQ(tile->Advise(nullptr), kEInvalidArg);
    Drop(tile);
}

TEST_F(CredentialTest, EnforcementFollowsTheThreePasswordBoxes) {
    // Any one of the three boxes hidden or disabled turns enforcement off for the tile.
    const std::tuple<DWORD, CREDENTIAL_PROVIDER_FIELD_STATE, CREDENTIAL_PROVIDER_FIELD_INTERACTIVE_STATE>
        rows[] = {{3, CPFS_HIDDEN, CPFIS_NONE},
                  {4, CPFS_DISPLAY_IN_BOTH, CPFIS_DISABLED},
                  {5, CPFS_HIDDEN, CPFIS_FOCUSED}};
    EnableEnforcement();
    for (const auto& [box, state, interactive] : rows) {
        std::map<DWORD, FakeField> fields = GenericFields();
        fields[box].state = state;
        fields[box].interactive = interactive;
        AddCredential(fields);
        ComPtr<ICredentialProviderCredential> tile = Tile(CPUS_CHANGE_PASSWORD);
        journal_.calls.clear();
        Select(tile.get());
        EXPECT_TRUE(journal_.calls.empty()) << box;
        Drop(tile);
    }
}

TEST_F(CredentialTest, SelectionAndTypingFeedTheRulesWindow) {
    EnableEnforcement();
    AddCredential();
    ComPtr<ICredentialProviderCredential> tile = Tile(CPUS_CHANGE_PASSWORD);
    Select(tile.get());
    ASSERT_EQ(journal_.calls.size(), 2u);
    EXPECT_EQ(journal_.calls[0].kind, Kind::Start);
    EXPECT_EQ(journal_.calls[0].window, static_cast<WindowHandle>(FakeLogonEvents::Window()));
    EXPECT_EQ(journal_.calls[1].kind, Kind::PostResults);

    // Only the user name and the new password refresh the rules; the wrapped credential takes the text first.
    const std::tuple<DWORD, const WChar*, bool> rows[] = {
        {4, KW("NewPass3"), true}, {2, KW("EUROPE\\anna"), true}, {3, KW("x"), false}, {7, KW("z"), false}};
    for (const auto& [field, text, refreshes] : rows) {
        const size_t before = journal_.Count(Kind::PostResults);
        ASSERT_EQ(tile->SetStringValue(field, text), kSOk);
        EXPECT_EQ(Wrapped().Text(field), text);
        EXPECT_EQ(journal_.Count(Kind::PostResults), before + (refreshes ? 1 : 0)) << field;
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
    Drop(tile);
}

TEST_F(CredentialTest, SubmitChecksThePasswordWhileTheWindowIsShown) {
    struct Row {
        bool select;  // opens the rules window
        bool verdict;
        int32_t validateResult;  // an error does not overrule the verdict
        HRESULT expected;
    } const rows[] = {{true, false, 0, winerr::kPasswordRestriction},
                      {true, true, -5, kSOk},
                      {true, false, -8, winerr::kPasswordRestriction},
                      {false, false, 0, kSOk}};
    EnableEnforcement();
    AddCredential();
    ComPtr<ICredentialProviderCredential> tile = Tile(CPUS_CHANGE_PASSWORD);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.validateResult);
        journal_.verdict = row.verdict;
        journal_.validateResult = row.validateResult;
        logonEvents_.events.clear();
        const int asked = Wrapped().serializations;
        if (row.select) {
            Select(tile.get());
        }
        bool serialized = true;
        EXPECT_EQ(Submit(tile.get(), &serialized), row.expected);
        const bool refused = row.expected != kSOk;
        EXPECT_EQ(Wrapped().serializations - asked, refused ? 0 : 1);
        EXPECT_EQ(serialized, !refused) << "a refusal leaves the out-parameters alone";
        // A refusal empties the three password boxes, naming the adapter.
        ASSERT_EQ(logonEvents_.events.size(), refused ? 3u : 0u);
        for (size_t i = 0; i < logonEvents_.events.size(); ++i) {
            EXPECT_EQ(logonEvents_.events[i].method, "SetFieldString");
            EXPECT_EQ(logonEvents_.events[i].fieldId, 3 + i);
            EXPECT_EQ(logonEvents_.events[i].text, WString());
            EXPECT_EQ(logonEvents_.events[i].credential, tile.get());
        }
        if (row.select) {
            const FeedbackCall& validate = journal_.calls.back();
            ASSERT_EQ(validate.kind, Kind::Validate);
            EXPECT_EQ(validate.window, static_cast<WindowHandle>(FakeLogonEvents::Window()));
            EXPECT_EQ(validate.confirmation, WString(KW("NewPass2")));
            ASSERT_EQ(tile->SetDeselected(), kSOk);
        }
    }
    EXPECT_TRUE(
        Contains(capture_.Trace(), "Error: An error occurred while validating password. Errorcode 1325."));
    Drop(tile);
}

TEST_F(CredentialTest, EachLayoutReadsItsOwnFieldIds) {
    struct Row {
        CLSID clsid;
        DWORD user, oldBox, newBox, confirm, domain;
    } const rows[] = {{kDefaultWrappedClsid, 4, 5, 6, 7, 10}, {kPasswordProviderClsid, 1, 2, 3, 4, 8}};
    EnableEnforcement();
    for (const Row& row : rows) {
        std::map<DWORD, FakeField> fields;
        for (DWORD id = 0; id <= 10; ++id) {
            fields[id].text = KW("other");
        }
        for (const auto& [id, text] :
             {std::pair(row.user, KW("CORP\\kim")), std::pair(row.oldBox, KW("old")),
              std::pair(row.newBox, KW("new")), std::pair(row.confirm, KW("confirm")),
              std::pair(row.domain, KW("EUROPE"))}) {
            fields[id].text = text;
        }
        AddCredential(fields);
        wrapped_.descriptors.resize(11, {10, CPFT_EDIT_TEXT});
        ComPtr<ICredentialProviderCredential> tile = Tile(CPUS_CHANGE_PASSWORD, row.clsid);
        journal_.calls.clear();
        Select(tile.get());
        ASSERT_EQ(journal_.calls.back().kind, Kind::PostResults);
        journal_.verdict = false;
        logonEvents_.events.clear();
        EXPECT_EQ(Submit(tile.get()), winerr::kPasswordRestriction);
        const FeedbackCall& v = journal_.calls.back();
        EXPECT_EQ(std::vector({v.userName, v.domain, v.oldPassword, v.newPassword, v.confirmation}),
                  std::vector<std::optional<WString>>(
                      {KW("kim"), KW("EUROPE"), KW("old"), KW("new"), KW("confirm")}));
        std::vector<DWORD> emptied;
        for (const EventRecord& event : logonEvents_.events) {
            emptied.push_back(event.fieldId);
        }
        EXPECT_EQ(emptied, std::vector<DWORD>({row.oldBox, row.newBox, row.confirm}));
        journal_.verdict = true;
        ASSERT_EQ(tile->SetDeselected(), kSOk);
        Drop(tile);
    }
}

TEST_F(CredentialTest, SubmitFieldReadErrorsStopTheSubmission) {
    EnableEnforcement();
    AddCredential();
    ComPtr<ICredentialProviderCredential> tile = Tile(CPUS_CHANGE_PASSWORD);
    const std::pair<DWORD, const char*> reads[] = {{9, "LogOnToDomain"},
                                                   {2, "username"},
                                                   {3, "old password"},
                                                   {4, "new password"},
                                                   {5, "confirmation password"}};
    for (const auto& [field, name] : reads) {
        Select(tile.get());
        const int asked = Wrapped().serializations;
        Wrapped().fields.erase(field);  // the reads before it succeed
        EXPECT_EQ(Submit(tile.get()), kEInvalidArg) << name;
        EXPECT_EQ(Wrapped().serializations, asked) << "nothing is passed on";
        EXPECT_TRUE(Contains(capture_.Trace(), std::string("An error occurred while retrieving ") + name +
                                                   ". Errorcode 0x80070057."))
            << name;
        Wrapped().fields = GenericFields();
        ASSERT_EQ(tile->SetDeselected(), kSOk);
    }
    Drop(tile);
}

TEST_F(CredentialTest, RulesWindowLifetime) {
    EnableEnforcement();  // without a feedback object nothing is checked

    journal_.createFails = true;
    AddCredential();
    ComPtr<ICredentialProviderCredential> tile = Tile(CPUS_CHANGE_PASSWORD);
    Select(tile.get());
    ASSERT_EQ(tile->SetStringValue(4, KW("abc")), kSOk);
    EXPECT_EQ(Submit(tile.get()), kSOk);
    EXPECT_TRUE(journal_.calls.empty());
    Drop(tile);

    // The provider's UnAdvise closes an open window once; a failed close reaches the diagnostic log.
    journal_.createFails = false;
    AddCredential();
    tile = Tile(CPUS_CHANGE_PASSWORD);
    Select(tile.get());
    journal_.closeResult = winerr::kTimeout;
    ASSERT_EQ(provider_->UnAdvise(), kSOk);
    ASSERT_EQ(provider_->UnAdvise(), kSOk);
    EXPECT_EQ(journal_.Count(Kind::Close), 1u);
    EXPECT_TRUE(Contains(capture_.Diagnostics(), "An error occurred while closing password rule dialog."))
        << capture_.Diagnostics();
    Drop(tile);
    EXPECT_EQ(journal_.created, journal_.destroyed);
}

TEST_F(CredentialTest, ForwardedMethodsReturnTheWrappedErrors) {
    AddCredential();
    ComPtr<ICredentialProviderCredential> tile = Tile(CPUS_LOGON);
    for (const char* method :
         {"GetBitmapValue", "GetCheckboxValue", "GetSubmitButtonValue", "GetComboBoxValueCount",
          "GetComboBoxValueAt", "SetCheckboxValue", "SetComboBoxSelectedValue", "ReportResult",
          "SetStringValue", "SetSelected", "SetDeselected", "GetSerialization"}) {
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
    EXPECT_EQ(Submit(tile.get()), kEAccessDenied);
    CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION out{};
    EXPECT_EQ(tile->GetSerialization(nullptr, &out, &text, nullptr), kEInvalidArg);
    EXPECT_EQ(tile->GetStringValue(50, &text), kEInvalidArg);
    EXPECT_EQ(tile->CommandLinkClicked(50), kEInvalidArg);
    EXPECT_EQ(tile->QueryInterface(IidOf<ICredentialProviderCredential>(), nullptr), kEInvalidArg);
    ComPtr<IClassFactory> foreign;
    EXPECT_EQ(tile.As(&foreign), kENoInterface) << "answered by the wrapped credential, which has none";
    Drop(tile);
}

TEST_F(CredentialTest, AKnownPasswordReachesNoFile) {
    // One password through every path that traces or logs; plain fields keep their text in the trace.
    const WString password = KW("Zq9!Unlikely#Secret");
    const std::string password16(reinterpret_cast<const char*>(password.data()),
                                 password.size() * sizeof(WChar));
    EnableEnforcement();
    EnableLink();
    std::map<DWORD, FakeField> fields = GenericFields();
    fields[3].text = password;
    for (CREDENTIAL_PROVIDER_USAGE_SCENARIO scenario : {CPUS_CHANGE_PASSWORD, CPUS_CREDUI}) {
        FakeCredential& credential = AddCredential(fields);
        ComPtr<ICredentialProviderCredential> tile = Tile(scenario);
        Select(tile.get());
        for (DWORD box : {3u, 4u, 5u}) {
            ASSERT_EQ(tile->SetStringValue(box, password.c_str()), kSOk);
            ASSERT_EQ(credential.Fire(box, password.c_str()), kSOk);
        }
        for (bool verdict : {false, true}) {
            journal_.verdict = verdict;
            journal_.validateResult = verdict ? 0 : -5;
            ASSERT_EQ(tile->SetStringValue(4, password.c_str()), kSOk);
            (void)Submit(tile.get());
        }
        ASSERT_EQ(tile->SetStringValue(2, KW("CORP\\anna")), kSOk);
        ASSERT_EQ(credential.Fire(7, KW("Hello")), kSOk);
        (void)tile->CommandLinkClicked(10);
        ASSERT_EQ(tile->SetDeselected(), kSOk);
        Drop(tile);
    }
    const std::string trace = capture_.Trace();
    EXPECT_TRUE(Contains(trace, "SetStringValue - FieldID: 3, String: (hidden)"));
    EXPECT_TRUE(Contains(trace, "SetFieldString - FieldID: 4, Value: (hidden)"));
    EXPECT_TRUE(Contains(trace,
                         "Warning: cGjCredentialProviderCredentialV2::SetStringValue - FieldID: 2, "
                         "String: CORP\\anna"));
    EXPECT_TRUE(Contains(
        trace, "cGjCredentialProviderCredentialEventsV2::SetFieldString - FieldID: 7, Value: Hello"));
    EXPECT_FALSE(capture_.Diagnostics().empty()) << "the refusals were logged";
    for (const WChar* file : {KW("trace.log"), KW("diagnostic.log")}) {
        const std::string raw = capture_.Read(file, true);
        EXPECT_FALSE(Contains(raw, password16) || Contains(raw, Utf16ToUtf8(password)));
    }
}

}  // namespace
}  // namespace korva::testing
