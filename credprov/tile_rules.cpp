#include "credprov/tile_rules.h"

#include <cstring>

namespace korva {
namespace {

// One row per logical field: its wrapped ID in layouts 0, 1 and 2.
struct LayoutRow {
    uint32_t logical;
    uint32_t wrapped[3];
};
constexpr LayoutRow kLayouts[] = {
    {kFieldUserName, {2, 4, 1}},     {kFieldOldPassword, {3, 5, 2}}, {kFieldNewPassword, {4, 6, 3}},
    {kFieldConfirmation, {5, 7, 4}}, {kFieldDomainText, {9, 10, 8}},
};
static_assert(std::size(kLayouts) == 5, "one row per logical field");

bool IsBlank(WChar c) {
    return c == u' ';
}

WString TrimBlanks(WStringView text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsBlank(text[begin])) {
        ++begin;
    }
    while (end > begin && IsBlank(text[end - 1])) {
        --end;
    }
    return WString(text.substr(begin, end - begin));
}

uint16_t ReadU16(const uint8_t* data) {
    uint16_t value = 0;
    std::memcpy(&value, data, sizeof value);
    return value;
}

uint64_t ReadU64(const uint8_t* data) {
    uint64_t value = 0;
    std::memcpy(&value, data, sizeof value);
    return value;
}

// A counted UTF-16 string of the packed structure: its byte length at `lengthAt`, its offset from the start
// of the buffer at `offsetAt`.
bool ReadCounted(const uint8_t* data, size_t size, size_t lengthAt, size_t offsetAt, WString* out) {
    const size_t length = ReadU16(data + lengthAt);
    const uint64_t offset = ReadU64(data + offsetAt);
    if (length == 0) {
        out->clear();
        return true;
    }
    if (offset > size || length > size - offset || length % sizeof(WChar) != 0) {
        return false;
    }
    out->resize(length / sizeof(WChar));
    std::memcpy(out->data(), data + offset, length);
    return true;
}

}  // namespace

uint32_t TranslateFieldID(uint32_t options, uint32_t number) {
    if (options != kLayoutDefaultProvider && options != kLayoutPasswordProvider) {
        return number;
    }
    for (const LayoutRow& row : kLayouts) {
        if (row.logical == number) {
            return row.wrapped[options];
        }
    }
    return number;
}

bool ShouldTestPassword(uint32_t options, uint32_t fieldId) {
    return fieldId == TranslateFieldID(options, kFieldUserName) ||
           fieldId == TranslateFieldID(options, kFieldNewPassword);
}

bool IsLayoutPasswordField(uint32_t options, uint32_t fieldId) {
    return fieldId == TranslateFieldID(options, kFieldOldPassword) ||
           fieldId == TranslateFieldID(options, kFieldNewPassword) ||
           fieldId == TranslateFieldID(options, kFieldConfirmation);
}

bool IsResetLinkActive(uint32_t enabledProducts, uint32_t cpus) {
    if ((enabledProducts & kProductResetLink) == 0) {
        return false;
    }
    return cpus == kScenarioLogon || cpus == kScenarioUnlockWorkstation || cpus == kScenarioCredUi;
}

bool IsPasswordBoxActive(uint32_t fieldState, uint32_t interactiveState) {
    constexpr uint32_t kHidden = 0;    // CPFS_HIDDEN
    constexpr uint32_t kDisabled = 2;  // CPFIS_DISABLED
    return fieldState != kHidden && interactiveState != kDisabled;
}

uint32_t FieldCountWithLink(uint32_t wrappedCount, bool linkActive) {
    return linkActive ? wrappedCount + 1 : wrappedCount;
}

bool ResetLinkSwitchedOn(uint32_t localValue, uint32_t policyValue) {
    return localValue != 0 && policyValue != 0;
}

bool EnforcementSwitchedOn(uint32_t localValue, std::optional<uint32_t> policyValue) {
    if (localValue != 0) {
        return !policyValue.has_value() || *policyValue != 0;
    }
    return policyValue.has_value() && *policyValue == 1;
}

AccountAndDomain SplitUserAndDomain(const WChar* userText, const WChar* domainText) {
    AccountAndDomain result;
    if (domainText != nullptr) {
        WStringView domain(domainText);
        // The label ends at the first colon that follows other text; a leading colon is not a label's end.
        const size_t colon = domain.size() > 1 ? domain.find(u':', 1) : WStringView::npos;
        if (colon != WStringView::npos) {
            domain = domain.substr(colon + 1);
        }
        result.domain = TrimBlanks(domain);
    }
    const WStringView user = (userText != nullptr) ? WStringView(userText) : WStringView();
    if (!user.empty()) {
        const size_t backslash = user.find(u'\\');
        if (backslash != WStringView::npos && backslash + 1 < user.size()) {
            result.account = WString(user.substr(backslash + 1));
        } else {
            result.account = WString(user.substr(0, backslash));
        }
        if (result.domain.empty()) {
            result.domain = TrimBlanks(user.substr(0, backslash));
        }
    }
    return result;
}

bool ReadLogonNames(const uint8_t* data, size_t size, WString* domain, WString* userName) {
    domain->clear();
    userName->clear();
    // MessageType (4), padding (4), then UNICODE_STRING LogonDomainName, UserName, Password (16 bytes each:
    // Length, MaximumLength, padding, Buffer as an offset from the start of the buffer).
    constexpr size_t kDomainLengthAt = 8;
    constexpr size_t kDomainOffsetAt = 16;
    constexpr size_t kUserLengthAt = 24;
    constexpr size_t kUserOffsetAt = 32;
    constexpr size_t kHeaderSize = 40;
    if (data == nullptr || size < kHeaderSize) {
        return false;
    }
    if (!ReadCounted(data, size, kDomainLengthAt, kDomainOffsetAt, domain) ||
        !ReadCounted(data, size, kUserLengthAt, kUserOffsetAt, userName)) {
        domain->clear();
        userName->clear();
        return false;
    }
    return true;
}

}  // namespace korva
