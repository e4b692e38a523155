#include "infra/locale.h"

#include <iterator>
#include <memory>
#include <new>

#include "infra/registry_connection.h"
#include "platform/files.h"
#include "platform/language.h"
#include "platform/result_codes.h"

namespace korva {

namespace {

struct KnownLanguage {
    const WChar* name;
    uint32_t id;
};

// The languages the file's sections may be chosen for by the platform's language; the order decides which row
// a name matches first.
constexpr KnownLanguage kKnownLanguages[] = {
    {KW("Dutch"), 0x13},     {KW("English"), 9},    {KW("French"), 0x0C},     {KW("German"), 7},
    {KW("Italian"), 0x10},   {KW("Polish"), 0x15},  {KW("Portuguese"), 0x16}, {KW("Spanish"), 0x0A},
    {KW("Czech"), 5},        {KW("Russian"), 0x19}, {KW("Chinese"), 4},       {KW("Finnish"), 0x0B},
    {KW("Hungarian"), 0x0E},
};
static_assert(std::size(kKnownLanguages) == 13, "one row per supported language");

constexpr const WChar* kEnglishName = KW("English");

// A failed load is retried by a lookup only after this long, so a missing file costs one open a minute.
constexpr int64_t kRetryIntervalTicks = 60 * platform::kFileTimeTicksPerSecond;

// Far more than any translation needs; a larger file is refused instead of being read into memory.
constexpr uint64_t kMaxLocaleFileBytes = 16u * 1024u * 1024u;

// The whole file as UTF-16LE code units. An odd last byte cannot form a code unit and is ignored; a
// byte-order mark is an ordinary character before the first section.
int32_t ReadLocaleFile(const WString& path, WString* text) {
    std::vector<uint8_t> bytes;
    const int32_t result = platform::ReadWholeFile(path.c_str(), kMaxLocaleFileBytes, &bytes);
    if (result != winerr::kSuccess) {
        return result;
    }
    text->clear();
    text->reserve(bytes.size() / 2);
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        text->push_back(static_cast<WChar>(bytes[i] | (bytes[i + 1] << 8)));
    }
    return winerr::kSuccess;
}

// Finds "[name]" ... "[name end]" ignoring the case of A-Z and copies what lies between from `text`, so keys
// and values keep their case. The character right after "]" is skipped (normally the CR of the tag's line
// end).
bool FindSection(const WString& text, const WString& lowerText, WStringView name, WString* section) {
    const WString lowerName = AsciiLower(name);
    const WString startTag = KW("[") + lowerName + KW("]");
    const WString endTag = KW("[") + lowerName + KW(" end]");
    const size_t tag = lowerText.find(startTag);
    if (tag == WString::npos) {
        return false;
    }
    const size_t start = tag + startTag.size() + 1;
    if (start > lowerText.size()) {
        return false;
    }
    const size_t end = lowerText.find(endTag, start);
    if (end == WString::npos) {
        return false;
    }
    section->assign(text, start, end - start);
    return true;
}

bool IsLineBreakOrTab(WChar c) {
    return c == KW('\t') || c == KW('\r') || c == KW('\n');
}

// Keys lose every TAB, CR, LF and blank; values lose TAB, CR and LF and then have \n, \r and \t turned into
// the characters they name. Returns false when the line must not become an entry.
bool MakeEntry(const WString& rawKey, const WString& rawValue, LocaleTextEntry* entry) {
    entry->key.clear();
    for (WChar c : rawKey) {
        if (!IsLineBreakOrTab(c) && c != KW(' ')) {
            entry->key.push_back(c);
        }
    }
    WString value;
    for (WChar c : rawValue) {
        if (!IsLineBreakOrTab(c)) {
            value.push_back(c);
        }
    }
    entry->value.clear();
    for (size_t i = 0; i < value.size(); ++i) {
        const WChar c = value[i];
        if (c == KW('\\') && i + 1 < value.size()) {
            const WChar next = value[i + 1];
            const WChar replacement = next == KW('n')   ? KW('\n')
                                      : next == KW('r') ? KW('\r')
                                      : next == KW('t') ? KW('\t')
                                                        : 0;
            if (replacement != 0) {
                entry->value.push_back(replacement);
                ++i;
                continue;
            }
        }
        entry->value.push_back(c);
    }
    // A line of blanks has no key to look up. A key or value beyond the line limit is dropped whole: a
    // missing text shows the caller's English default, a cut one would show a mutilated translation.
    return !entry->key.empty() && entry->key.size() <= kLocaleMaxTextLength &&
           entry->value.size() <= kLocaleMaxTextLength;
}

}  // namespace

LocaleLanguage LocaleLanguage::FromName(WStringView name) {
    LocaleLanguage language;
    language.name = WString(name);
    language.languageId = kLanguageIdEnglish;
    for (const KnownLanguage& known : kKnownLanguages) {
        if (EqualsNoCaseAscii(name, known.name)) {
            language.languageId = known.id;
            break;
        }
    }
    return language;
}

LocaleLanguage LocaleLanguage::FromPrimaryId(uint32_t primaryId) {
    for (const KnownLanguage& known : kKnownLanguages) {
        if (known.id == primaryId) {
            return LocaleLanguage{known.name, known.id};
        }
    }
    return LocaleLanguage{kEnglishName, kLanguageIdEnglish};
}

std::vector<LocaleTextEntry> ParseLocaleSection(WStringView section) {
    std::vector<LocaleTextEntry> entries;
    WString key;
    WString value;
    bool inKey = true;
    bool afterEquals = false;
    for (WChar c : section) {
        if (c == KW('\n') || c == 0) {
            LocaleTextEntry entry;
            if (!key.empty() && MakeEntry(key, value, &entry)) {
                entries.push_back(std::move(entry));
            }
            key.clear();
            value.clear();
            inKey = true;
            afterEquals = false;
        } else if (c == KW('=')) {
            // Every "=" is dropped, also one inside the value: "Key=a=b" defines "ab".
            inKey = false;
            afterEquals = true;
        } else if (c == KW(' ') && afterEquals) {
            // Blanks right after an "=" separate it from the text.
        } else {
            afterEquals = false;
            (inKey ? key : value).push_back(c);
        }
    }
    // Text after the last line end is not a complete line and is ignored.
    return entries;
}

cZORPLocaleTextCollection::cZORPLocaleTextCollection() : language_{kEnglishName, kLanguageIdEnglish} {}

cZORPLocaleTextCollection::~cZORPLocaleTextCollection() = default;

int32_t cZORPLocaleTextCollection::InitialiseFromRegistry(const RegistryConnection& registry) {
    try {
        WString language;
        const bool hasLanguage =
            registry.ReadString(kLocalePolicyKey, kLocaleLanguageValue, &language) == winerr::kSuccess &&
            !language.empty();

        // Only a missing value or key means "use the default file"; a value that cannot be read (wrong type,
        // access denied) means no localisation at all.
        WString path;
        const int32_t pathResult = registry.ReadString(kLocalePolicyKey, kLocaleFileValue, &path);
        const WChar* file = nullptr;
        if (pathResult == winerr::kSuccess) {
            file = path.c_str();
        } else if (pathResult == winerr::kFileNotFound || pathResult == winerr::kPathNotFound) {
            file = kLocaleDefaultFile;
        }

        // An absent or unreadable method means the system's language.
        uint32_t method = kLanguageMethodSystem;
        if (registry.ReadDword(kLocalePolicyKey, kLocaleMethodValue, &method) != winerr::kSuccess) {
            method = kLanguageMethodSystem;
        }

        return Configure(file, hasLanguage ? language.c_str() : nullptr, method);
    } catch (const std::bad_alloc&) {
        return winerr::kOutOfMemory;
    }
}

int32_t cZORPLocaleTextCollection::Configure(const WChar* path, const WChar* languageName, uint32_t method) {
    platform::LockGuard guard(lock_);
    try {
        // The time of the last attempt survives on purpose: reconfiguring does not lift the retry interval.
        language_ = LocaleLanguage{kEnglishName, kLanguageIdEnglish};
        filePath_.reset();
        entries_.clear();
        loaded_ = false;

        if (path != nullptr) {
            filePath_ = WString(path);
        }
        if (languageName != nullptr && languageName[0] != 0) {
            language_ = LocaleLanguage::FromName(languageName);
        } else {
            platform::Language& languages = platform::Languages();
            const uint16_t langId = method == kLanguageMethodUserDefault ? languages.UserDefaultLangId()
                                    : method == kLanguageMethodUserInterface
                                        ? languages.UserDefaultUiLanguage()
                                        : languages.SystemDefaultLangId();
            language_ = LocaleLanguage::FromPrimaryId(langId & kPrimaryLanguageMask);
        }
        return LoadLocked();
    } catch (const std::bad_alloc&) {
        entries_.clear();
        loaded_ = false;
        return winerr::kOutOfMemory;
    }
}

int32_t cZORPLocaleTextCollection::LoadLocked() {
    if (!filePath_ || loaded_) {
        return winerr::kSuccess;
    }
    const int64_t now = platform::SystemClock().NowFileTime();
    int64_t lastAttempt = 0;
    if (platform::SystemTimeToFileTime(lastLoadAttempt_, &lastAttempt) &&
        now - kRetryIntervalTicks < lastAttempt) {
        return winerr::kSuccess;
    }
    if (!platform::FileTimeToSystemTime(now, &lastLoadAttempt_)) {
        lastLoadAttempt_ = platform::SystemTime{};
    }

    WString text;
    const int32_t result = ReadLocaleFile(*filePath_, &text);
    if (result != winerr::kSuccess) {
        return result;
    }
    const WString lowerText = AsciiLower(text);
    WString section;
    if (!FindSection(text, lowerText, language_.name, &section)) {
        if (!FindSection(text, lowerText, kEnglishName, &section)) {
            return winerr::kNotFound;
        }
        // The texts are English now, and so is the language callers pick rule descriptions for.
        language_ = LocaleLanguage{kEnglishName, kLanguageIdEnglish};
    }
    entries_ = ParseLocaleSection(section);
    loaded_ = true;
    return winerr::kSuccess;
}

WString cZORPLocaleTextCollection::GetText(const WChar* key, const WChar* defaultText) {
    try {
        if (key != nullptr) {
            platform::LockGuard guard(lock_);
            // A table that cannot be loaded leaves the defaults; Configure has reported why.
            if (LoadLocked() != winerr::kSuccess) {
                return defaultText != nullptr ? WString(defaultText) : WString();
            }
            const WStringView wanted(key);
            for (const LocaleTextEntry& entry : entries_) {
                if (EqualsNoCaseAscii(entry.key, wanted)) {
                    return entry.value;  // an empty text is a translation too
                }
            }
        }
        return defaultText != nullptr ? WString(defaultText) : WString();
    } catch (const std::bad_alloc&) {
        return WString();
    }
}

uint32_t cZORPLocaleTextCollection::GetCurrentLanguageId() const {
    platform::LockGuard guard(lock_);
    return language_.languageId;
}

bool cZORPLocaleTextCollection::IsLoaded() const {
    platform::LockGuard guard(lock_);
    return loaded_;
}

WString cZORPLocaleTextCollection::GetLanguageName() const {
    platform::LockGuard guard(lock_);
    return language_.name;
}

size_t cZORPLocaleTextCollection::EntryCount() const {
    platform::LockGuard guard(lock_);
    return entries_.size();
}

namespace {

struct ProcessCollection {
    platform::RecursiveLock lock;
    std::unique_ptr<cZORPLocaleTextCollection> collection;
};

ProcessCollection& ProcessInstance() {
    static ProcessCollection instance;
    return instance;
}

}  // namespace

cZORPLocaleTextCollection& LocaleTexts() {
    ProcessCollection& instance = ProcessInstance();
    platform::LockGuard guard(instance.lock);
    if (!instance.collection) {
        instance.collection = std::make_unique<cZORPLocaleTextCollection>();
    }
    return *instance.collection;
}

void DestroyLocaleTexts() {
    ProcessCollection& instance = ProcessInstance();
    platform::LockGuard guard(instance.lock);
    instance.collection.reset();
}

}  // namespace korva
