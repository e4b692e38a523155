// The other fakes around the provider (feedback, Reset Wizard, message boxes, log files) and the fixture.
#pragma once

#include <algorithm>
#include <cstdio>
#include <deque>
#include <memory>

#include "credprov/class_ids.h"
#include "credprov/credential_provider.h"
#include "credprov/object_count.h"
#include "credprov/reset_wizard.h"
#include "feedback/password_feedback.h"
#include "infra/log.h"
#include "platform/files.h"
#include "platform/memory_registry.h"
#include "platform/message_box.h"
#include "platform/process.h"
#include "tests/credprov/com_fakes.h"
#include "tests/support/fake_registry.h"

namespace korva::testing {

// What every feedback object answers, and one line per call: "Validate 4711 domain|user|old|new|confirm".
struct FeedbackJournal {
    bool verdict = true;
    int32_t validateResult = 0, postResult = 0, startResult = 0, closeResult = 0;
    bool createFails = false;
    std::vector<std::string> calls;
    int created = 0, destroyed = 0;

    size_t Count(const std::string& kind) const {
        return std::count_if(calls.begin(), calls.end(),
                             [&](const std::string& c) { return c.find(kind) == 0; });
    }
};

inline std::string Line(std::string line, std::initializer_list<const WChar*> texts) {
    const char* separator = " ";
    for (const WChar* text : texts) {
        line += separator + (text != nullptr ? Utf16ToUtf8(text) : "-");
        separator = "|";
    }
    return line;
}
// `line` and a number in hex: a window, a style.
inline std::string Hex(const std::string& line, uint64_t number) {
    char text[24];
    std::snprintf(text, sizeof text, " %llx", static_cast<unsigned long long>(number));
    return line + text;
}
inline std::string Hex(const std::string& line, const void* window) {
    return Hex(line, reinterpret_cast<uintptr_t>(window));
}

class FakePasswordFeedback final : public PasswordFeedback {
  public:
    explicit FakePasswordFeedback(FeedbackJournal& journal) : journal_(journal) { ++journal_.created; }
    ~FakePasswordFeedback() override { ++journal_.destroyed; }

    int32_t ValidatePassword(cGjLog&, WindowHandle parent, const WChar* domain, const WChar* user,
                             const WChar* old, const WChar* fresh, const WChar* confirmation,
                             bool* verdict) override {
        journal_.calls.push_back(Line(Hex("Validate", parent), {domain, user, old, fresh, confirmation}));
        *verdict = journal_.verdict;
        return journal_.validateResult;
    }
    int32_t PostRuleResults(cGjLog&, const WChar* domain, const WChar* user, const WChar* old,
                            const WChar* fresh) override {
        journal_.calls.push_back(Line("PostResults", {domain, user, old, fresh}));
        return journal_.postResult;
    }
    int32_t StartRulesWindow(cGjLog&, WindowHandle owner) override {
        journal_.calls.push_back(Hex("Start", owner));
        visible_ = journal_.startResult == 0;
        return journal_.startResult;
    }
    int32_t CloseRulesWindow() override {
        journal_.calls.push_back("Close");
        visible_ = false;
        return journal_.closeResult;
    }
    bool IsRulesWindowVisible() const override { return visible_; }

    static std::unique_ptr<PasswordFeedback> Make(void* context) {
        auto* journal = static_cast<FeedbackJournal*>(context);
        return journal->createFails ? nullptr : std::make_unique<FakePasswordFeedback>(*journal);
    }

  private:
    FeedbackJournal& journal_;
    bool visible_ = false;
};

// Programs started (none runs), while the fake lives.
class RecordingProcesses final : public platform::Processes {
  public:
    int32_t result = 0;
    std::vector<std::string> runs;  // "Run <wait in hex> application|command line|desktop"
    int32_t RunAndWait(const WChar* application, const WChar* commandLine, const WChar* desktop,
                       uint32_t wait) override {
        runs.push_back(Line(Hex("Run", wait), {application, commandLine, desktop}));
        return result;
    }

  private:
    platform::ScopedProcessesOverride override_{this};
};

// Message boxes that record what they show and answer OK, while the fake lives.
class RecordingMessageBoxes final : public platform::MessageBoxes {
  public:
    std::vector<std::string> boxes;  // "Box <owner> <style in hex> title|text"
    int32_t Show(HWND owner, const WChar* text, const WChar* title, uint32_t style) override {
        boxes.push_back(Line(Hex(Hex("Box", owner), style), {title, text}));
        return platform::kIdOk;
    }

  private:
    platform::ScopedMessageBoxesOverride override_{this};
};

// The trace and the diagnostic log of one test, in a fresh temporary folder.
class LogCapture {
  public:
    LogCapture() {
        EXPECT_EQ(platform::Files().MakeTempDirectory(&folder_), 0);
        TraceSettings() = {Path(KW("trace.log")), 0xFFFFFFFFu};
        SharedFileHandler().Configure(
            cGjConfigurationLogFileHelper(Path(KW("diagnostic.log")).c_str(), 0xFFFFFFFFu, 0x500000, 0));
    }
    ~LogCapture() {
        TraceSettings() = TraceLogSettings{};
        SharedFileHandler().ResetToDefaults();
        (void)platform::Files().RemoveDirectoryTree(folder_.c_str());
    }
    WString Path(const WChar* name) const { return folder_ + KW("/") + name; }
    // A file's text as UTF-8 (the logs are UTF-16LE), or its raw bytes.
    std::string Read(const WChar* name, bool raw = false) const {
        SharedFileHandler().Flush();
        std::vector<uint8_t> bytes;
        (void)platform::ReadWholeFile(Path(name).c_str(), 1u << 24, &bytes);  // none: empty
        if (raw) {
            return std::string(bytes.begin(), bytes.end());
        }
        WString text(bytes.size() / sizeof(WChar), u'\0');
        std::copy_n(bytes.begin(), text.size() * sizeof(WChar), reinterpret_cast<uint8_t*>(text.data()));
        return Utf16ToUtf8(text);
    }
    std::string Trace() const { return Read(KW("trace.log")); }

  private:
    WString folder_;
};

// A CLSID no real provider has: the wrapped provider in most tests (generic field layout).
inline constexpr CLSID kClsidTestProvider = {
    0x7E57C0DE, 0x1111, 0x4222, {0x83, 0x33, 0x44, 0x44, 0x55, 0x55, 0x66, 0x66}};
inline constexpr auto* kHklmLinkLocal = KW("HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillmarsh\\KORVA\\GINA");
inline constexpr auto* kHklmWizards =
    KW("HKEY_LOCAL_MACHINE\\SOFTWARE\\Policies\\Quillmarsh\\KORVA\\Wizards");
inline constexpr auto* kHklmVlxLocal =
    KW("HKEY_LOCAL_MACHINE\\Software\\Quillmarsh\\Valexor\\VLX Credential Provider");

// The generic change-password layout: 2 user name, 3 old, 4 new, 5 confirmation, 6 submit, 9 domain text.
inline std::map<DWORD, FakeField> GenericFields() {
    return {{0, {CPFT_TILE_IMAGE}},
            {1, {CPFT_LARGE_TEXT}},
            {2, {CPFT_EDIT_TEXT, KW("CORP\\jsmith")}},
            {3, {CPFT_PASSWORD_TEXT, KW("OldPass1")}},
            {4, {CPFT_PASSWORD_TEXT, KW("NewPass2")}},
            {5, {CPFT_PASSWORD_TEXT, KW("NewPass2")}},
            {6, {CPFT_SUBMIT_BUTTON}},
            {7, {CPFT_SMALL_TEXT}},
            {8, {CPFT_CHECKBOX}},
            {9, {CPFT_SMALL_TEXT, KW("Sign in to: CORP")}}};
}

class ProviderTest : public ::testing::Test {
  protected:
    struct ObjectCountCheck {
        int32_t before = credprov::ObjectCount();
        ~ObjectCountCheck() { EXPECT_EQ(credprov::ObjectCount(), before) << "library objects left alive"; }
    };

    ProviderTest() {
        registry_.PutString(kHklmLinkLocal, KW("Log File"), capture_.Path(KW("trace.log")));
        registry_.PutDword(kHklmLinkLocal, KW("Log Mask"), 0xFFFFFFFFu);
        Wrap(kClsidTestProvider);
        RegisterWrapped(kClsidTestProvider);
        wrapped_.layout = GenericFields();
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
    FakeCredential& AddCredential(std::map<DWORD, FakeField> fields = GenericFields(), bool v2 = true) {
        FakeCredential& credential = credentials_.emplace_back(std::move(fields));
        credential.hidden = v2 ? nullptr : &IidOf<ICredentialProviderCredential2>();
        wrapped_.credentials.push_back(&credential);
        return credential;
    }
    // The provider as the logon user interface gets it from the class factory.
    ComPtr<ICredentialProvider> Create() {
        ComPtr<ICredentialProvider> provider;
        EXPECT_EQ(cGbCredentialProvider::CreateInstance(IidOf<ICredentialProvider>(), provider.put_void()),
                  kSOk);
        return provider;
    }
    // provider_, made and set to `scenario`.
    ICredentialProvider* Start(CREDENTIAL_PROVIDER_USAGE_SCENARIO scenario) {
        provider_ = Create();
        EXPECT_EQ(provider_->SetUsageScenario(scenario, 0), kSOk);
        return provider_.get();
    }
    // GetCredentialCount into count_, default_ and autoLogon_.
    HRESULT Enumerate(ICredentialProvider* provider) {
        return provider->GetCredentialCount(&count_, &default_, &autoLogon_);
    }

    ObjectCountCheck objectCount_;
    FakeRegistry registry_;
    LogCapture capture_;
    FeedbackJournal journal_;
    ScopedPasswordFeedbackFactory feedbackOverride_{&FakePasswordFeedback::Make, &journal_};
    RecordingProcesses processes_;
    RecordingMessageBoxes boxes_;
    ScopedApartment apartment_;
    FakeLogonEvents logonEvents_;
    std::deque<FakeCredential> credentials_;
    FakeProvider wrapped_;
    FakeFactory factory_{&wrapped_};
    std::vector<std::unique_ptr<ScopedClassFactoryRegistration>> registrations_;
    ComPtr<ICredentialProvider> provider_;
    DWORD count_ = 0, default_ = 0;
    BOOL autoLogon_ = kFalse;
};

}  // namespace korva::testing
