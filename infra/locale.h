// The localised-text collection: every user-visible text is looked up by key with a compiled-in English
// default. The texts come from one section of a UTF-16LE file ("LocaleCredProv.txt" by default); the section
// is chosen by a language name from the registry or by the user's or the system's language. The collection
// also reports the current display language as a primary language identifier.
//
// One collection exists per process (LocaleTexts()). It is configured by the provider's initialisation and
// read from any thread; an internal lock serialises the lazy load and the lookups.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/clock.h"
#include "platform/sync.h"
#include "platform/text.h"

namespace korva {

class RegistryConnection;

// The policy key and values that configure the collection (under HKEY_LOCAL_MACHINE).
inline constexpr const WChar* kLocalePolicyKey = KW("SOFTWARE\\Policies\\Quillmarsh\\KORVA\\Wizards");
inline constexpr const WChar* kLocaleLanguageValue = KW("Language");
inline constexpr const WChar* kLocaleFileValue = KW("Credential Provider Locale");
inline constexpr const WChar* kLocaleMethodValue = KW("GetLanguageMethod");
inline constexpr const WChar* kLocaleDefaultFile = KW("LocaleCredProv.txt");

// Primary language identifiers (the low 10 bits of a Windows LANGID).
inline constexpr uint32_t kLanguageIdEnglish = 9;
inline constexpr uint32_t kPrimaryLanguageMask = 0x3FF;

// "GetLanguageMethod": which platform language picks the section when no name is configured.
enum LanguageMethod : uint32_t {
    kLanguageMethodSystem = 0,  // and any value other than 1 and 2
    kLanguageMethodUserDefault = 1,
    kLanguageMethodUserInterface = 2,
};

// A text the system shows, with its compiled-in English default.
struct LocaleText {
    const WChar* key;
    const WChar* defaultText;
};

namespace texts {
inline constexpr LocaleText kForgotMyPasswordButton{KW("ForgotMyPasswordButton"),
                                                    KW("Forgot my password...")};
inline constexpr LocaleText kErrorDialogText{
    KW("ErrorDialogText"),
    KW("An error has occurred while performing this operation. Please contact your system administrator for "
       "further assistance.")};
inline constexpr LocaleText kErrorDialogTitleRegistry{KW("ErrorDialogTitleRegistry"),
                                                      KW("KORVA - Registry error")};
inline constexpr LocaleText kErrorDialogTitleStartResetWizard{KW("ErrorDialogTitleStartResetWizard"),
                                                              KW("KORVA - Error starting the Reset Wizard")};
inline constexpr LocaleText kChangePasswordFeedbackDialogTitle{KW("ChangePasswordFeedbackDialogTitle"),
                                                               KW("Change Password")};
inline constexpr LocaleText kChangePasswordFeedbackDialogText{
    KW("ChangePasswordFeedbackDialogText"), KW("Your new password did not satisfy the following rules:")};
inline constexpr LocaleText kVlxErrorPasswordDoNotMatch{
    KW("VlxErrorPasswordDoNotMatch"),
    KW("The passwords you typed do not match. Type the new password in both text boxes.")};
inline constexpr LocaleText kPasswordComplexityRulesTitle{KW("PasswordComplexityRulesTitle"),
                                                          KW("Password Complexity Rules")};
inline constexpr LocaleText kPasswordRequirementsTitle{
    KW("PasswordRequirementsTitle"), KW("Your password must satisfy the following requirements:")};
}  // namespace texts

// A language: the name selects the file section ("[name]" ... "[name end]"), the identifier is reported.
struct LocaleLanguage {
    WString name;
    uint32_t languageId = kLanguageIdEnglish;

    // The identifier of the first known language whose name equals `name` ignoring the case of A-Z, else
    // English; the name is kept as written.
    static LocaleLanguage FromName(WStringView name);
    // The known language with this primary identifier, else English.
    static LocaleLanguage FromPrimaryId(uint32_t primaryId);
};

struct LocaleTextEntry {
    WString key;
    WString value;
};

// Longest key or value a line may define; a longer one drops the whole line, so the caller's default shows.
inline constexpr size_t kLocaleMaxTextLength = 1023;

// Parses the lines of one section into entries, in file order (exposed for tests).
std::vector<LocaleTextEntry> ParseLocaleSection(WStringView section);

class cZORPLocaleTextCollection {
  public:
    cZORPLocaleTextCollection();  // English, no file
    virtual ~cZORPLocaleTextCollection();
    cZORPLocaleTextCollection(const cZORPLocaleTextCollection&) = delete;
    cZORPLocaleTextCollection& operator=(const cZORPLocaleTextCollection&) = delete;

    // Reads "Language", "Credential Provider Locale" and "GetLanguageMethod" under kLocalePolicyKey through
    // `registry` (connected to HKEY_LOCAL_MACHINE) and configures the collection. 0 or the load's error.
    [[nodiscard]] int32_t InitialiseFromRegistry(const RegistryConnection& registry);
    // Forgets the current texts, stores the path (null: no file, defaults always), picks the language (a
    // non-empty name wins over `method`) and loads the file. 0 or the load's error (ERROR_NOT_FOUND when no
    // section fits).
    [[nodiscard]] int32_t Configure(const WChar* path, const WChar* languageName, uint32_t method);
    // The text for `key` (ASCII case-insensitive, first entry wins), or `defaultText` (null reads as empty)
    // when the key is null or absent. Loads the file first when it is not loaded yet, at most once a minute.
    // The result is a copy: it stays valid whatever happens to the collection afterwards.
    WString GetText(const WChar* key, const WChar* defaultText);
    WString GetText(const LocaleText& text) { return GetText(text.key, text.defaultText); }
    uint32_t GetCurrentLanguageId() const;

    // For diagnostics and tests.
    bool IsLoaded() const;
    WString GetLanguageName() const;
    size_t EntryCount() const;

  private:
    [[nodiscard]] int32_t LoadLocked();

    mutable platform::RecursiveLock lock_;
    LocaleLanguage language_;
    bool loaded_ = false;
    std::optional<WString> filePath_;
    platform::SystemTime lastLoadAttempt_{};  // all zero: never
    std::vector<LocaleTextEntry> entries_;
};

// The process-wide collection; created on first use (normally at library load) as English without a file.
cZORPLocaleTextCollection& LocaleTexts();
// Destroys the process-wide collection (library unload); the next LocaleTexts() makes a fresh one.
void DestroyLocaleTexts();

}  // namespace korva
