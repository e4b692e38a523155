// The credential and events adapters, driven as the logon user interface drives a tile.
#include <gtest/gtest.h>

#include "tests/credprov/fakes.h"

namespace korva::testing {
namespace {

const std::string kErrorBox =
    "|An error has occurred while performing this operation. Please contact your system administrator for "
    "further assistance.";

class CredentialTest : public ProviderTest {
  protected:
    // Whatever a test did, no password typed into the generic layout reached a file, in either encoding.
    ~CredentialTest() override {
        Drop();
        for (const WChar* file : {KW("trace.log"), KW("diagnostic.log")}) {
            for (const std::string& text : {capture_.Read(file), capture_.Read(file, true)}) {
                for (const char* secret :
                     {"OldPass1", "NewPass2", "NewPass3", "OldPass7", "NewPass8", "NewPass9"}) {
                    EXPECT_FALSE(Contains(text, secret)) << secret;
                }
            }
        }
    }
    // The advised tile of a wrapped credential with `fields` of provider `clsid`, held until Drop.
    ICredentialProviderCredential* Tile(CREDENTIAL_PROVIDER_USAGE_SCENARIO scenario,
                                        const CLSID& clsid = kClsidTestProvider,
                                        std::map<DWORD, FakeField> fields = GenericFields()) {
        AddCredential(std::move(fields));
        registrations_.clear();
        RegisterWrapped(clsid);
        Wrap(clsid);
        EXPECT_EQ(Enumerate(Start(scenario)), kSOk);
        EXPECT_EQ(provider_->GetCredentialAt(0, tile_.put()), kSOk);
        EXPECT_EQ(tile_->Advise(&logonEvents_), kSOk);
        return tile_.get();
    }
    void Select() {
        BOOL autoLogon = kTrue;
        ASSERT_EQ(tile_->SetSelected(&autoLogon), kSOk);
        EXPECT_EQ(autoLogon, kFalse);
    }
    // Lets go of the tile, its provider and the wrapped credentials.
    void Drop() {
        if (tile_) {
            EXPECT_EQ(tile_->UnAdvise(), kSOk);
        }
        tile_.reset();
        provider_.reset();
        wrapped_.credentials.clear();
    }
    HRESULT Submit() {
        CREDENTIAL_PROVIDER_GET_SERIALIZATION_RESPONSE response = CPGSR_NO_CREDENTIAL_NOT_FINISHED;
        CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION out{};
        LPWSTR status = nullptr;
        CREDENTIAL_PROVIDER_STATUS_ICON icon = CPSI_NONE;
        const HRESULT hr = tile_->GetSerialization(&response, &out, &status, &icon);
        serialized_ = out.rgbSerialization != nullptr;
        TaskFree(status);
        SecureTaskBytes::Attach(out.rgbSerialization, out.cbSerialization).reset();
        return hr;
    }
    FakeCredential& Wrapped() { return credentials_.back(); }
    // The fields the logon user interface was told to empty, each for the tile.
    std::vector<DWORD> EmptiedFields() const {
        std::vector<DWORD> emptied;
        for (const EventRecord& event : logonEvents_.events) {
            EXPECT_EQ(std::tuple(event.method, event.text, event.credential),
                      std::tuple("SetFieldString", WString(), tile_.get()));
            emptied.push_back(event.fieldId);
        }
        return emptied;
    }

    ComPtr<ICredentialProviderCredential> tile_;
    bool serialized_ = false;  // whether the last Submit gave bytes
};

TEST_F(CredentialTest, LinkFieldIsTheAdaptersOwnAndStartsTheWizard) {
    EnableLink();
    ICredentialProviderCredential* tile = Tile(CPUS_UNLOCK_WORKSTATION);
    CREDENTIAL_PROVIDER_FIELD_STATE state = CPFS_HIDDEN;
    CREDENTIAL_PROVIDER_FIELD_INTERACTIVE_STATE interactive = CPFIS_FOCUSED;
    ASSERT_EQ(tile->GetFieldState(10, &state, &interactive), kSOk);
    EXPECT_EQ(std::pair(state, interactive), std::pair(CPFS_DISPLAY_IN_SELECTED_TILE, CPFIS_NONE));
    ASSERT_EQ(tile->GetFieldState(9, &state, &interactive), kSOk);
    EXPECT_EQ(Wrapped().calls.back(), "GetFieldState") << "the wrapped credential's own field";
    EXPECT_EQ(tile->GetFieldState(11, &state, &interactive), kEInvalidArg);
    EXPECT_EQ(tile->GetFieldState(10, nullptr, &interactive), kEInvalidArg);
    EXPECT_EQ(tile->GetStringValue(10, nullptr), kEInvalidArg);

    // The location stored (kRegNone: none, ~0u: the registry cannot be opened; taken as is), whether the tile
    // serializes, the start's result, the command line started (empty: none) and the box's title.
    const WString location = WString(KW("HKEY_LOCAL_MACHINE\\")) + kResetWizardKey;
    const std::string names = " \"Sign in to: CORP\" \"CORP\\jsmith\"",
                      start = "Error starting the Reset Wizard";
    const std::tuple<uint32_t, const WChar*, bool, int32_t, std::string, std::string> rows[] = {
        {platform::kRegNone, nullptr, true, 0, "", start},
        {platform::kRegDword, nullptr, true, 0, "", start},
        {platform::kRegSz, KW("C:\\w.exe"), true, 0, "\"C:\\w.exe\"" + names, ""},
        {platform::kRegExpandSz, KW("%P%\\w.exe"), false, 0, "\"%P%\\w.exe\" \"\" \"\"", ""},
        {platform::kRegSz, KW("w.exe"), true, winerr::kFileNotFound, "\"w.exe\"" + names, start},
        {~0u, nullptr, true, 0, "", "Registry error"}};  // last: its serialization is never asked for
    for (const auto& [type, stored, withBytes, startResult, started, box] : rows) {
        processes_.runs.clear();
        boxes_.boxes.clear();
        processes_.result = startResult;
        if (type == platform::kRegDword) {
            registry_.PutDword(location, kResetWizardLocationValue, 5);
        } else if (type == ~0u) {
            registry_.FailNext(platform::MemoryRegistry::Op::Connect, winerr::kAccessDenied);
        } else if (type != platform::kRegNone) {
            registry_.PutString(location, kResetWizardLocationValue, stored, type);
        }
        Wrapped().FailNext("GetSerialization", withBytes ? kSOk : kEFail);
        ASSERT_EQ(tile->CommandLinkClicked(10), kSOk);
        EXPECT_EQ(processes_.runs, started.empty() ? std::vector<std::string>()
                                                   : std::vector({"Run ffffffff " + Utf16ToUtf8(stored) +
                                                                  "|" + started + "|WinSta0\\Winlogon"}));
        EXPECT_EQ(boxes_.boxes, box.empty() ? std::vector<std::string>()
                                            : std::vector({"Box 0 50010 KORVA - " + box + kErrorBox}));
    }
    Drop();  // on the change-password screen the link is inert
    tile = Tile(CPUS_CHANGE_PASSWORD);
    EXPECT_EQ(tile->CommandLinkClicked(10), kSOk);
    EXPECT_TRUE(processes_.runs.empty());
    journal_.calls.clear();
    Select();
    EXPECT_TRUE(journal_.calls.empty()) << "the link alone enforces nothing";
}

TEST_F(CredentialTest, EventsReachTheLogonUserInterfaceAndCallsTheWrappedCredential) {
    ICredentialProviderCredential* tile = Tile(CPUS_LOGON);
    FakeCredential& wrapped = Wrapped();
    ASSERT_TRUE(wrapped.advised);
    logonEvents_.events.clear();
    HWND owner = nullptr;
    ASSERT_EQ(wrapped.advised->OnCreatingWindow(&owner), kSOk);
    EXPECT_EQ(owner, FakeLogonEvents::Window());
    // The second version's own methods pass through too.
    ComPtr<ICredentialProviderCredentialEvents2> events2;
    ASSERT_EQ(wrapped.advised.As(&events2), kSOk);
    EXPECT_EQ(events2->BeginFieldUpdates(), kSOk);
    EXPECT_EQ(events2->SetFieldOptions(&wrapped, 4, CPCFO_ENABLE_PASSWORD_REVEAL), kSOk);
    ASSERT_EQ(logonEvents_.events.size(), 2u);
    EXPECT_EQ(logonEvents_.events[1].credential, tile);

    // After UnAdvise a wrapped credential that kept the events adapter reaches nobody.
    ComPtr<ICredentialProviderCredentialEvents> kept = wrapped.advised;
    ASSERT_EQ(tile->UnAdvise(), kSOk);
    EXPECT_FALSE(wrapped.advised);
    EXPECT_EQ(std::tuple(kept->SetFieldString(&wrapped, 7, KW("late")), kept->OnCreatingWindow(&owner),
                         events2->EndFieldUpdates()),
              std::tuple(kEFail, kEFail, kEFail));
    EXPECT_EQ(logonEvents_.events.size(), 2u);
    EXPECT_EQ(tile->UnAdvise(), kSOk) << "twice is harmless";

    // A first-version logon events object: the second version's methods are refused, not called blindly.
    logonEvents_.hidden = &IidOf<ICredentialProviderCredentialEvents2>();
    ASSERT_EQ(tile->Advise(&logonEvents_), kSOk);
    ASSERT_EQ(tile->Advise(&logonEvents_), kSOk) << "a second Advise replaces the first";
    ASSERT_EQ(wrapped.advised.As(&events2), kSOk);
    EXPECT_EQ(events2->BeginFieldUpdates(), kENoInterface);
    // What the wrapped credential shows is traced, but never the text of a password box.
    EXPECT_EQ(wrapped.advised->SetFieldString(&wrapped, 7, KW("Hello")), kSOk);
    EXPECT_EQ(wrapped.advised->SetFieldString(&wrapped, 4, KW("NewPass2")), kSOk);
    EXPECT_EQ(logonEvents_.events.size(), 4u);
    EXPECT_EQ(tile->Advise(nullptr), kEInvalidArg);
    EXPECT_TRUE(
        Contains(capture_.Trace(),
                 "cGjCredentialProviderCredentialEventsV2::SetFieldString - FieldID: 7, Value: Hello"));
    // Forwarded methods return the wrapped credential's errors.
    HBITMAP bitmap = nullptr;
    BOOL checked = kFalse;
    LPWSTR text = nullptr;
    DWORD number = 0, other = 0;
    const std::pair<const char*, std::function<HRESULT()>> calls[] = {
        {"GetBitmapValue", [&] { return tile->GetBitmapValue(0, &bitmap); }},
        {"GetCheckboxValue", [&] { return tile->GetCheckboxValue(8, &checked, &text); }},
        {"GetSubmitButtonValue", [&] { return tile->GetSubmitButtonValue(6, &number); }},
        {"GetComboBoxValueCount", [&] { return tile->GetComboBoxValueCount(1, &number, &other); }},
        {"GetComboBoxValueAt", [&] { return tile->GetComboBoxValueAt(1, 0, &text); }},
        {"SetCheckboxValue", [&] { return tile->SetCheckboxValue(8, kTrue); }},
        {"SetComboBoxSelectedValue", [&] { return tile->SetComboBoxSelectedValue(1, 2); }},
        {"ReportResult", [&] { return tile->ReportResult(0, 0, &text, nullptr); }},
        {"SetStringValue", [&] { return tile->SetStringValue(2, KW("x")); }},
        {"SetSelected", [&] { return tile->SetSelected(&checked); }},
        {"SetDeselected", [&] { return tile->SetDeselected(); }},
        {"CommandLinkClicked", [&] { return tile->CommandLinkClicked(3); }},
        {"GetSerialization", [&] { return Submit(); }}};
    for (const auto& [method, call] : calls) {
        Wrapped().FailNext(method, kEAccessDenied);
        EXPECT_EQ(call(), kEAccessDenied) << method;
    }
    EXPECT_EQ(tile->SetSelected(nullptr), kEInvalidArg);
    CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION out{};
    EXPECT_EQ(tile->GetSerialization(nullptr, &out, &text, nullptr), kEInvalidArg);
    EXPECT_EQ(tile->GetStringValue(50, &text), kEInvalidArg);
    EXPECT_EQ(tile->CommandLinkClicked(50), kEInvalidArg);
    EXPECT_EQ(tile->QueryInterface(IidOf<ICredentialProviderCredential>(), nullptr), kEInvalidArg);
    ComPtr<IClassFactory> foreign;
    EXPECT_EQ(tile_.As(&foreign), kENoInterface) << "answered by the wrapped credential, which has none";
}

TEST_F(CredentialTest, SelectionAndTypingFeedTheRulesWindow) {
    EnableEnforcement();
    ICredentialProviderCredential* tile = Tile(CPUS_CHANGE_PASSWORD);
    // Any one of the three password boxes hidden or disabled turns enforcement off for the tile.
    const std::tuple<DWORD, CREDENTIAL_PROVIDER_FIELD_STATE, CREDENTIAL_PROVIDER_FIELD_INTERACTIVE_STATE>
        inactive[] = {{3, CPFS_HIDDEN, CPFIS_NONE},
                      {4, CPFS_DISPLAY_IN_BOTH, CPFIS_DISABLED},
                      {5, CPFS_HIDDEN, CPFIS_FOCUSED}};
    for (const auto& [box, state, interactive] : inactive) {
        Wrapped().fields = GenericFields();
        Wrapped().fields[box].state = state;
        Wrapped().fields[box].interactive = interactive;
        Select();
        EXPECT_TRUE(journal_.calls.empty()) << box;
    }
    Wrapped().fields = GenericFields();
    Select();
    EXPECT_EQ(journal_.calls,
              std::vector<std::string>({"Start 4711", "PostResults CORP|jsmith|OldPass1|NewPass2"}));

    // Field, text, whether the rules refresh (the user name and the new password only), a field unreadable
    // meanwhile (no check), the check's result (not the typing's); the wrapped credential gets it first.
    const std::tuple<DWORD, const WChar*, bool, bool, int32_t> rows[] = {
        {4, KW("NewPass3"), true, false, 0}, {3, KW("x"), false, false, 0},
        {7, KW("z"), false, false, 0},       {4, KW("a"), false, true, 0},
        {4, KW("b"), true, false, -5},       {2, KW("EUROPE\\anna"), true, false, 0}};
    for (const auto& [field, text, refreshes, unreadable, postResult] : rows) {
        const size_t before = journal_.Count("PostResults");
        journal_.postResult = postResult;
        if (unreadable) {
            Wrapped().FailNext("GetStringValue", kEFail);
        }
        ASSERT_EQ(tile->SetStringValue(field, text), kSOk);
        EXPECT_EQ(Wrapped().Text(field), text);
        EXPECT_EQ(journal_.Count("PostResults"), before + (refreshes ? 1 : 0)) << field;
    }
    // The domain text wins over the user name's prefix; plain fields are traced, password boxes are not.
    EXPECT_EQ(journal_.calls.back(), "PostResults CORP|anna|x|b");
    EXPECT_TRUE(Contains(capture_.Trace(),
                         "Warning: cGjCredentialProviderCredentialV2::SetStringValue - FieldID: 2, String: "
                         "EUROPE\\anna"));

    // Deselecting closes the window before the wrapped credential hears of it.
    ASSERT_EQ(tile->SetDeselected(), kSOk);
    EXPECT_EQ(journal_.calls.back(), "Close");
    EXPECT_EQ(Wrapped().calls.back(), "SetDeselected");
    // The provider's UnAdvise closes an open window once; a failed close reaches the diagnostic log.
    Select();
    journal_.closeResult = winerr::kTimeout;
    ASSERT_EQ(provider_->UnAdvise(), kSOk);
    ASSERT_EQ(provider_->UnAdvise(), kSOk);
    EXPECT_EQ(journal_.Count("Close"), 2u);
    EXPECT_TRUE(Contains(capture_.Read(KW("diagnostic.log")),
                         "An error occurred while closing password rule dialog."));
    Drop();
    EXPECT_EQ(journal_.created, journal_.destroyed);
}

TEST_F(CredentialTest, SubmitChecksThePasswordWhileTheWindowIsShown) {
    // Selected (window open), verdict, the check's result (not overruling it), a field unreadable (99: none).
    const std::tuple<bool, bool, int32_t, DWORD, HRESULT> rows[] = {
        {true, false, 0, 99, winerr::kPasswordRestriction},
        {true, true, -5, 99, kSOk},
        {true, false, -8, 99, winerr::kPasswordRestriction},
        {false, false, 0, 99, kSOk},
        {true, true, 0, 9, kEInvalidArg},  // the first and the last field read
        {true, true, 0, 5, kEInvalidArg}};
    EnableEnforcement();
    ICredentialProviderCredential* tile = Tile(CPUS_CHANGE_PASSWORD);
    for (const auto& [select, verdict, validateResult, unreadable, expected] : rows) {
        SCOPED_TRACE(::testing::Message() << validateResult << " " << unreadable);
        journal_.verdict = verdict;
        journal_.validateResult = validateResult;
        logonEvents_.events.clear();
        Wrapped().fields = GenericFields();
        const int asked = Wrapped().serializations;
        if (select) {
            Select();
        }
        Wrapped().fields.erase(unreadable);
        EXPECT_EQ(Submit(), expected);
        // A refusal leaves the out-parameters alone; a refused password empties the three password boxes.
        const bool refused = expected != kSOk;
        EXPECT_EQ(std::pair(Wrapped().serializations - asked, serialized_),
                  std::pair(refused ? 0 : 1, !refused));
        EXPECT_EQ(EmptiedFields(), expected == winerr::kPasswordRestriction ? std::vector<DWORD>({3, 4, 5})
                                                                            : std::vector<DWORD>());
        if (select && expected != kEInvalidArg) {
            EXPECT_EQ(journal_.calls.back(), "Validate 4711 CORP|jsmith|OldPass1|NewPass2|NewPass2");
        }
        if (select) {
            ASSERT_EQ(tile->SetDeselected(), kSOk);
        }
    }
    EXPECT_TRUE(
        Contains(capture_.Trace(), "Error: An error occurred while validating password. Errorcode 1325."));
}

TEST_F(CredentialTest, EachLayoutReadsItsOwnFieldIds) {
    // The user name, old, new and confirmation boxes and the domain text of each layout.
    const std::pair<CLSID, std::array<DWORD, 5>> rows[] = {{kDefaultWrappedClsid, {4, 5, 6, 7, 10}},
                                                           {kPasswordProviderClsid, {1, 2, 3, 4, 8}}};
    const WChar* const texts[] = {KW("CORP\\kim"), KW("OldPass7"), KW("NewPass8"), KW("NewPass9"),
                                  KW("EUROPE")};
    EnableEnforcement();
    for (const auto& [clsid, ids] : rows) {
        std::map<DWORD, FakeField> fields;
        for (DWORD id = 0; id <= 10; ++id) {
            fields[id].text = KW("other");
        }
        fields[ids[4]].text = texts[4];
        wrapped_.layout[10].type = CPFT_EDIT_TEXT;
        Tile(CPUS_CHANGE_PASSWORD, clsid, fields);
        Select();
        // A box described as a password box is secret even where the layout does not name it.
        ASSERT_EQ(tile_->SetStringValue(5, KW("NewPass9")), kSOk);
        // Typing into the user name or the new password refreshes the rules, into the other boxes not.
        for (size_t i = 0; i < 4; ++i) {
            const size_t before = journal_.Count("PostResults");
            ASSERT_EQ(tile_->SetStringValue(ids[i], texts[i]), kSOk);
            EXPECT_EQ(journal_.Count("PostResults") - before, i % 2 == 0 ? 1u : 0u) << ids[i];
        }
        journal_.verdict = false;
        logonEvents_.events.clear();
        EXPECT_EQ(Submit(), winerr::kPasswordRestriction);
        EXPECT_EQ(journal_.calls.back(), "Validate 4711 EUROPE|kim|OldPass7|NewPass8|NewPass9");
        EXPECT_EQ(EmptiedFields(), std::vector<DWORD>({ids[1], ids[2], ids[3]}));
        Drop();
    }
}

TEST_F(CredentialTest, WithoutAFeedbackObjectNothingIsChecked) {
    EnableEnforcement();  // without a feedback object nothing is checked
    journal_.createFails = true;
    ICredentialProviderCredential* tile = Tile(CPUS_CHANGE_PASSWORD);
    Select();
    ASSERT_EQ(tile->SetStringValue(4, KW("abc")), kSOk);
    EXPECT_EQ(Submit(), kSOk);
    EXPECT_TRUE(journal_.calls.empty());
}

}  // namespace
}  // namespace korva::testing
