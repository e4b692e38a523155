// The credential and events adapters, driven as the logon user interface drives a tile.
#include <gtest/gtest.h>

#include "tests/credprov/fakes.h"

namespace korva::testing {
namespace {

const std::string kErrorBox =
    "|An error has occurred while performing this operation. Please contact your system administrator for "
    "further assistance.";
const std::string kValidate = "Validate 4711 CORP|jsmith|OldPass1|NewPass2|NewPass2";

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
    HRESULT Submit(bool* serialized = nullptr) {
        CREDENTIAL_PROVIDER_GET_SERIALIZATION_RESPONSE response = CPGSR_NO_CREDENTIAL_NOT_FINISHED;
        CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION out{};
        LPWSTR status = nullptr;
        CREDENTIAL_PROVIDER_STATUS_ICON icon = CPSI_NONE;
        const HRESULT hr = tile_->GetSerialization(&response, &out, &status, &icon);
        if (serialized != nullptr) {
            *serialized = out.rgbSerialization != nullptr;
        }
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

    // The location's and the start's results, whether the tile serializes names, the starts, the box shown.
    const std::tuple<int32_t, int32_t, bool, size_t, std::string> rows[] = {
        {0, 0, true, 1, ""},
        {winerr::kAccessDenied, 0, true, 0, "Box 0 50010 KORVA - Registry error"},
        {0, winerr::kFileNotFound, true, 1, "Box 0 50010 KORVA - Error starting the Reset Wizard"},
        {0, 0, false, 1, ""}};
    for (const auto& [locationResult, startResult, withBytes, starts, box] : rows) {
        wizard_.starts.clear();
        boxes_.boxes.clear();
        wizard_.locationResult = locationResult;
        wizard_.startResult = startResult;
        Wrapped().serializeWithoutBytes = !withBytes;
        ASSERT_EQ(tile->CommandLinkClicked(10), kSOk);
        EXPECT_EQ(wizard_.starts,
                  std::vector<std::string>(starts, withBytes ? " Sign in to: CORP|CORP\\jsmith" : " -|-"));
        EXPECT_EQ(boxes_.boxes, box.empty() ? std::vector<std::string>() : std::vector({box + kErrorBox}));
    }
    Drop();  // on the change-password screen the link is inert
    tile = Tile(CPUS_CHANGE_PASSWORD);
    EXPECT_EQ(tile->CommandLinkClicked(10), kSOk);
    EXPECT_EQ(wizard_.starts.size(), 1u);
    journal_.calls.clear();
    Select();
    EXPECT_TRUE(journal_.calls.empty()) << "the link alone enforces nothing";
}

TEST_F(CredentialTest, EventsReachTheLogonUserInterfaceNamingTheAdapter) {
    ICredentialProviderCredential* tile = Tile(CPUS_LOGON);
    FakeCredential& wrapped = Wrapped();
    ASSERT_TRUE(wrapped.advised);
    EXPECT_NE(static_cast<void*>(wrapped.advised.get()), static_cast<void*>(&logonEvents_));
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
    kept.reset();
    events2.reset();

    // A first-version logon events object: the second version's methods are refused, not called blindly.
    logonEvents_.hidden = &IidOf<ICredentialProviderCredentialEvents2>();
    ASSERT_EQ(tile->Advise(&logonEvents_), kSOk);
    ASSERT_EQ(tile->Advise(&logonEvents_), kSOk) << "a second Advise replaces the first";
    ASSERT_EQ(wrapped.advised.As(&events2), kSOk);
    EXPECT_EQ(events2->BeginFieldUpdates(), kENoInterface);
    events2.reset();
    // What the wrapped credential shows is traced, but never the text of a password box.
    EXPECT_EQ(wrapped.advised->SetFieldString(&wrapped, 7, KW("Hello")), kSOk);
    EXPECT_EQ(wrapped.advised->SetFieldString(&wrapped, 4, KW("NewPass2")), kSOk);
    EXPECT_EQ(logonEvents_.events.size(), 4u);
    EXPECT_EQ(tile->Advise(nullptr), kEInvalidArg);
    for (const char* line :
         {"cGjCredentialProviderCredentialEventsV2::SetFieldString - FieldID: 7, Value: Hello",
          "SetFieldString - FieldID: 4, Value: (hidden)"}) {
        EXPECT_TRUE(Contains(capture_.Trace(), line)) << line;
    }
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

    // The field typed into, the text, whether the rules refresh, whether a field cannot be read meanwhile, and
    // the check's own result. Only the user name and the new password refresh the rules; an unreadable field
    // skips the check, a failing check does not fail the typing; the wrapped credential takes the text first.
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
    for (const char* line :
         {"Warning: cGjCredentialProviderCredentialV2::SetStringValue - FieldID: 2, String: "
          "EUROPE\\anna",
          "SetStringValue - FieldID: 4, String: (hidden)"}) {
        EXPECT_TRUE(Contains(capture_.Trace(), line)) << line;
    }

    // Deselecting closes the window before the wrapped credential hears of it.
    ASSERT_EQ(tile->SetDeselected(), kSOk);
    EXPECT_EQ(journal_.calls.back(), "Close");
    EXPECT_EQ(Wrapped().calls.back(), "SetDeselected");
}

TEST_F(CredentialTest, SubmitChecksThePasswordWhileTheWindowIsShown) {
    // Whether the tile is selected (the window open), the verdict, the check's own result (which does not
    // overrule the verdict), a field that cannot be read (99: none), and the submission's result.
    const std::tuple<bool, bool, int32_t, DWORD, HRESULT> rows[] = {
        {true, false, 0, 99, winerr::kPasswordRestriction},
        {true, true, -5, 99, kSOk},
        {true, false, -8, 99, winerr::kPasswordRestriction},
        {false, false, 0, 99, kSOk},
        {true, true, 0, 9, kEInvalidArg},  // domain, user name and the three boxes, each read in turn
        {true, true, 0, 2, kEInvalidArg},
        {true, true, 0, 3, kEInvalidArg},
        {true, true, 0, 4, kEInvalidArg},
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
        bool serialized = true;
        EXPECT_EQ(Submit(&serialized), expected);
        // A refusal leaves the out-parameters alone; a refused password empties the three password boxes.
        const bool refused = expected != kSOk;
        EXPECT_EQ(std::pair(Wrapped().serializations - asked, serialized),
                  std::pair(refused ? 0 : 1, !refused));
        EXPECT_EQ(EmptiedFields(), expected == winerr::kPasswordRestriction ? std::vector<DWORD>({3, 4, 5})
                                                                            : std::vector<DWORD>());
        if (select && expected != kEInvalidArg) {
            EXPECT_EQ(journal_.calls.back(), kValidate);
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

TEST_F(CredentialTest, RulesWindowLifetime) {
    EnableEnforcement();  // without a feedback object nothing is checked
    journal_.createFails = true;
    ICredentialProviderCredential* tile = Tile(CPUS_CHANGE_PASSWORD);
    Select();
    ASSERT_EQ(tile->SetStringValue(4, KW("abc")), kSOk);
    EXPECT_EQ(Submit(), kSOk);
    EXPECT_TRUE(journal_.calls.empty());

    // The provider's UnAdvise closes an open window once; a failed close reaches the diagnostic log.
    journal_.createFails = false;
    Drop();
    tile = Tile(CPUS_CHANGE_PASSWORD);
    Select();
    journal_.closeResult = winerr::kTimeout;
    ASSERT_EQ(provider_->UnAdvise(), kSOk);
    ASSERT_EQ(provider_->UnAdvise(), kSOk);
    EXPECT_EQ(journal_.Count("Close"), 1u);
    EXPECT_TRUE(Contains(capture_.Diagnostics(), "An error occurred while closing password rule dialog."));
    Drop();
    EXPECT_EQ(journal_.created, journal_.destroyed);
}

TEST_F(CredentialTest, ForwardedMethodsReturnTheWrappedErrors) {
    ICredentialProviderCredential* tile = Tile(CPUS_LOGON);
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

}  // namespace
}  // namespace korva::testing
