// The Windows credential provider interfaces, declared by this project from Microsoft's public documentation
// (the mingw-w64 headers do not have them): interfaces with their methods in vtable order, their interface
// IDs, the enumerations and structures they pass, and the logon structure at the start of a password
// serialization.
//
// The declarations compile on both builds. On Windows they derive from the system's IUnknown, so the logon
// user interface and the classes here talk through the same tables; on Linux from the COM shim's IUnknown,
// which has the same layout.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/com.h"
#include "platform/text.h"

#if defined(_WIN32)
#include <ntsecapi.h>
#endif

namespace korva::com {

using LPWSTR = WChar*;
using LPCWSTR = const WChar*;
#if defined(_WIN32)
using ::NTSTATUS;
#else
using NTSTATUS = int32_t;
#endif

// ---- Enumerations -------------------------------------------------------------------------------------------

enum CREDENTIAL_PROVIDER_USAGE_SCENARIO : int32_t {
    CPUS_INVALID = 0,
    CPUS_LOGON = 1,
    CPUS_UNLOCK_WORKSTATION = 2,
    CPUS_CHANGE_PASSWORD = 3,
    CPUS_CREDUI = 4,
    CPUS_PLAP = 5,
};

enum CREDENTIAL_PROVIDER_FIELD_TYPE : int32_t {
    CPFT_INVALID = 0,
    CPFT_LARGE_TEXT = 1,
    CPFT_SMALL_TEXT = 2,
    CPFT_COMMAND_LINK = 3,
    CPFT_EDIT_TEXT = 4,
    CPFT_PASSWORD_TEXT = 5,
    CPFT_TILE_IMAGE = 6,
    CPFT_CHECKBOX = 7,
    CPFT_COMBOBOX = 8,
    CPFT_SUBMIT_BUTTON = 9,
};

enum CREDENTIAL_PROVIDER_FIELD_STATE : int32_t {
    CPFS_HIDDEN = 0,
    CPFS_DISPLAY_IN_SELECTED_TILE = 1,
    CPFS_DISPLAY_IN_DESELECTED_TILE = 2,
    CPFS_DISPLAY_IN_BOTH = 3,
};

enum CREDENTIAL_PROVIDER_FIELD_INTERACTIVE_STATE : int32_t {
    CPFIS_NONE = 0,
    CPFIS_READONLY = 1,
    CPFIS_DISABLED = 2,
    CPFIS_FOCUSED = 3,
};

enum CREDENTIAL_PROVIDER_GET_SERIALIZATION_RESPONSE : int32_t {
    CPGSR_NO_CREDENTIAL_NOT_FINISHED = 0,
    CPGSR_NO_CREDENTIAL_FINISHED = 1,
    CPGSR_RETURN_CREDENTIAL_FINISHED = 2,
    CPGSR_RETURN_NO_CREDENTIAL_FINISHED = 3,
};

enum CREDENTIAL_PROVIDER_STATUS_ICON : int32_t {
    CPSI_NONE = 0,
    CPSI_ERROR = 1,
    CPSI_WARNING = 2,
    CPSI_SUCCESS = 3,
};

enum CREDENTIAL_PROVIDER_CREDENTIAL_FIELD_OPTIONS : int32_t {
    CPCFO_NONE = 0,
    CPCFO_ENABLE_PASSWORD_REVEAL = 0x1,
    CPCFO_IS_EMAIL_ADDRESS = 0x2,
    CPCFO_ENABLE_TOUCH_KEYBOARD_AUTO_INVOKE = 0x4,
    CPCFO_NUMBERS_ONLY = 0x8,
    CPCFO_SHOW_ENGLISH_KEYBOARD = 0x10,
};

// GetCredentialCount's default index when no credential is the default.
constexpr DWORD CREDENTIAL_PROVIDER_NO_DEFAULT = 0xFFFFFFFFu;

// ---- Structures ---------------------------------------------------------------------------------------------

struct CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR {
    DWORD dwFieldID;
    CREDENTIAL_PROVIDER_FIELD_TYPE cpft;
    LPWSTR pszLabel;
    GUID guidFieldType;
};

struct CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION {
    ULONG ulAuthenticationPackage;
    GUID clsidCredentialProvider;
    ULONG cbSerialization;
    uint8_t* rgbSerialization;
};

static_assert(sizeof(CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR) == 32);
static_assert(offsetof(CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR, pszLabel) == 8);
static_assert(offsetof(CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR, guidFieldType) == 16);
static_assert(sizeof(CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION) == 32);
static_assert(offsetof(CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION, clsidCredentialProvider) == 4);
static_assert(offsetof(CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION, cbSerialization) == 20);
static_assert(offsetof(CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION, rgbSerialization) == 24);

// The logon structures that begin a password serialization. In a serialization the string buffers hold byte
// offsets from the start of the serialization instead of addresses ("packed").
#if defined(_WIN32)
using ::KERB_INTERACTIVE_LOGON;
using ::KERB_INTERACTIVE_UNLOCK_LOGON;
using ::KERB_LOGON_SUBMIT_TYPE;
using ::LUID;
using ::UNICODE_STRING;
constexpr KERB_LOGON_SUBMIT_TYPE kKerbInteractiveLogon = ::KerbInteractiveLogon;
constexpr KERB_LOGON_SUBMIT_TYPE kKerbWorkstationUnlockLogon = ::KerbWorkstationUnlockLogon;
#else
struct UNICODE_STRING {
    uint16_t Length;  // in bytes, without a terminating zero
    uint16_t MaximumLength;
    WChar* Buffer;
};
enum KERB_LOGON_SUBMIT_TYPE : int32_t {
    KerbInteractiveLogon = 2,
    KerbSmartCardLogon = 6,
    KerbWorkstationUnlockLogon = 7,
};
struct KERB_INTERACTIVE_LOGON {
    KERB_LOGON_SUBMIT_TYPE MessageType;
    UNICODE_STRING LogonDomainName;
    UNICODE_STRING UserName;
    UNICODE_STRING Password;
};
struct LUID {
    uint32_t LowPart;
    int32_t HighPart;
};
struct KERB_INTERACTIVE_UNLOCK_LOGON {
    KERB_INTERACTIVE_LOGON Logon;
    LUID LogonId;
};
constexpr KERB_LOGON_SUBMIT_TYPE kKerbInteractiveLogon = KerbInteractiveLogon;
constexpr KERB_LOGON_SUBMIT_TYPE kKerbWorkstationUnlockLogon = KerbWorkstationUnlockLogon;
#endif

// The byte positions GetUserCredentials reads: the domain's length and buffer, the user name's length and
// buffer.
static_assert(sizeof(UNICODE_STRING) == 16);
static_assert(offsetof(KERB_INTERACTIVE_LOGON, LogonDomainName) == 8);
static_assert(offsetof(KERB_INTERACTIVE_LOGON, LogonDomainName) + offsetof(UNICODE_STRING, Buffer) == 16);
static_assert(offsetof(KERB_INTERACTIVE_LOGON, UserName) == 24);
static_assert(offsetof(KERB_INTERACTIVE_LOGON, UserName) + offsetof(UNICODE_STRING, Buffer) == 32);
static_assert(offsetof(KERB_INTERACTIVE_LOGON, Password) == 40);
static_assert(sizeof(KERB_INTERACTIVE_LOGON) == 56);
static_assert(sizeof(KERB_INTERACTIVE_UNLOCK_LOGON) == 64);

// ---- Interfaces ---------------------------------------------------------------------------------------------
//
// Each interface keeps a protected non-virtual destructor: objects are destroyed by their own Release, never
// through an interface pointer, and a destructor slot would break the table layout the logon user interface
// expects.

KORVA_COM_INTERFACES_BEGIN

struct ICredentialProviderCredential;
struct ICredentialProviderCredentialEvents;
struct ICredentialProviderEvents;

struct ICredentialProviderCredentialEvents : IUnknown {
    static constexpr IID kIid = {
        0xFA6FA76B, 0x66B7, 0x4B11, {0x95, 0xF1, 0x86, 0x17, 0x11, 0x18, 0xE8, 0x16}};
    using Base = IUnknown;

    virtual HRESULT KORVA_COM_CALL SetFieldState(ICredentialProviderCredential* pcpc, DWORD dwFieldID,
                                                 CREDENTIAL_PROVIDER_FIELD_STATE cpfs) = 0;
    virtual HRESULT KORVA_COM_CALL
    SetFieldInteractiveState(ICredentialProviderCredential* pcpc, DWORD dwFieldID,
                             CREDENTIAL_PROVIDER_FIELD_INTERACTIVE_STATE cpfis) = 0;
    virtual HRESULT KORVA_COM_CALL SetFieldString(ICredentialProviderCredential* pcpc, DWORD dwFieldID,
                                                  LPCWSTR psz) = 0;
    virtual HRESULT KORVA_COM_CALL SetFieldCheckbox(ICredentialProviderCredential* pcpc, DWORD dwFieldID,
                                                    BOOL bChecked, LPCWSTR pszLabel) = 0;
    virtual HRESULT KORVA_COM_CALL SetFieldBitmap(ICredentialProviderCredential* pcpc, DWORD dwFieldID,
                                                  HBITMAP hbmp) = 0;
    virtual HRESULT KORVA_COM_CALL SetFieldComboBoxSelectedItem(ICredentialProviderCredential* pcpc,
                                                                DWORD dwFieldID, DWORD dwSelectedItem) = 0;
    virtual HRESULT KORVA_COM_CALL DeleteFieldComboBoxItem(ICredentialProviderCredential* pcpc,
                                                           DWORD dwFieldID, DWORD dwItem) = 0;
    virtual HRESULT KORVA_COM_CALL AppendFieldComboBoxItem(ICredentialProviderCredential* pcpc,
                                                           DWORD dwFieldID, LPCWSTR pszItem) = 0;
    virtual HRESULT KORVA_COM_CALL SetFieldSubmitButton(ICredentialProviderCredential* pcpc, DWORD dwFieldID,
                                                        DWORD dwAdjacentTo) = 0;
    virtual HRESULT KORVA_COM_CALL OnCreatingWindow(HWND* phwndOwner) = 0;

  protected:
    ~ICredentialProviderCredentialEvents() = default;
};

struct ICredentialProviderCredentialEvents2 : ICredentialProviderCredentialEvents {
    static constexpr IID kIid = {
        0xB53C00B6, 0x9922, 0x4B78, {0xB1, 0xF4, 0xDD, 0xFE, 0x77, 0x4D, 0xC3, 0x9B}};
    using Base = ICredentialProviderCredentialEvents;

    virtual HRESULT KORVA_COM_CALL BeginFieldUpdates() = 0;
    virtual HRESULT KORVA_COM_CALL EndFieldUpdates() = 0;
    virtual HRESULT KORVA_COM_CALL SetFieldOptions(ICredentialProviderCredential* credential, DWORD fieldID,
                                                   CREDENTIAL_PROVIDER_CREDENTIAL_FIELD_OPTIONS options) = 0;

  protected:
    ~ICredentialProviderCredentialEvents2() = default;
};

struct ICredentialProviderCredential : IUnknown {
    static constexpr IID kIid = {
        0x63913A93, 0x40C1, 0x481A, {0x81, 0x8D, 0x40, 0x72, 0xFF, 0x8C, 0x70, 0xCC}};
    using Base = IUnknown;

    virtual HRESULT KORVA_COM_CALL Advise(ICredentialProviderCredentialEvents* pcpce) = 0;
    virtual HRESULT KORVA_COM_CALL UnAdvise() = 0;
    virtual HRESULT KORVA_COM_CALL SetSelected(BOOL* pbAutoLogon) = 0;
    virtual HRESULT KORVA_COM_CALL SetDeselected() = 0;
    virtual HRESULT KORVA_COM_CALL GetFieldState(DWORD dwFieldID, CREDENTIAL_PROVIDER_FIELD_STATE* pcpfs,
                                                 CREDENTIAL_PROVIDER_FIELD_INTERACTIVE_STATE* pcpfis) = 0;
    virtual HRESULT KORVA_COM_CALL GetStringValue(DWORD dwFieldID, LPWSTR* ppsz) = 0;
    virtual HRESULT KORVA_COM_CALL GetBitmapValue(DWORD dwFieldID, HBITMAP* phbmp) = 0;
    virtual HRESULT KORVA_COM_CALL GetCheckboxValue(DWORD dwFieldID, BOOL* pbChecked, LPWSTR* ppszLabel) = 0;
    virtual HRESULT KORVA_COM_CALL GetSubmitButtonValue(DWORD dwFieldID, DWORD* pdwAdjacentTo) = 0;
    virtual HRESULT KORVA_COM_CALL GetComboBoxValueCount(DWORD dwFieldID, DWORD* pcItems,
                                                         DWORD* pdwSelectedItem) = 0;
    virtual HRESULT KORVA_COM_CALL GetComboBoxValueAt(DWORD dwFieldID, DWORD dwItem, LPWSTR* ppszItem) = 0;
    virtual HRESULT KORVA_COM_CALL SetStringValue(DWORD dwFieldID, LPCWSTR psz) = 0;
    virtual HRESULT KORVA_COM_CALL SetCheckboxValue(DWORD dwFieldID, BOOL bChecked) = 0;
    virtual HRESULT KORVA_COM_CALL SetComboBoxSelectedValue(DWORD dwFieldID, DWORD dwSelectedItem) = 0;
    virtual HRESULT KORVA_COM_CALL CommandLinkClicked(DWORD dwFieldID) = 0;
    virtual HRESULT KORVA_COM_CALL
    GetSerialization(CREDENTIAL_PROVIDER_GET_SERIALIZATION_RESPONSE* pcpgsr,
                     CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION* pcpcs, LPWSTR* ppszOptionalStatusText,
                     CREDENTIAL_PROVIDER_STATUS_ICON* pcpsiOptionalStatusIcon) = 0;
    virtual HRESULT KORVA_COM_CALL ReportResult(NTSTATUS ntsStatus, NTSTATUS ntsSubstatus,
                                                LPWSTR* ppszOptionalStatusText,
                                                CREDENTIAL_PROVIDER_STATUS_ICON* pcpsiOptionalStatusIcon) = 0;

  protected:
    ~ICredentialProviderCredential() = default;
};

struct ICredentialProviderCredential2 : ICredentialProviderCredential {
    static constexpr IID kIid = {
        0xFD672C54, 0x40EA, 0x4D6E, {0x9B, 0x49, 0xCF, 0xB1, 0xA7, 0x50, 0x7B, 0xD7}};
    using Base = ICredentialProviderCredential;

    virtual HRESULT KORVA_COM_CALL GetUserSid(LPWSTR* sid) = 0;

  protected:
    ~ICredentialProviderCredential2() = default;
};

struct ICredentialProviderEvents : IUnknown {
    static constexpr IID kIid = {
        0x34201E5A, 0xA787, 0x41A3, {0xA5, 0xA4, 0xBD, 0x6D, 0xCF, 0x2A, 0x85, 0x4E}};
    using Base = IUnknown;

    virtual HRESULT KORVA_COM_CALL CredentialsChanged(UINT_PTR upAdviseContext) = 0;

  protected:
    ~ICredentialProviderEvents() = default;
};

struct ICredentialProvider : IUnknown {
    static constexpr IID kIid = {
        0xD27C3481, 0x5A1C, 0x45B2, {0x8A, 0xAA, 0xC2, 0x0E, 0xBB, 0xE8, 0x22, 0x9E}};
    using Base = IUnknown;

    virtual HRESULT KORVA_COM_CALL SetUsageScenario(CREDENTIAL_PROVIDER_USAGE_SCENARIO cpus,
                                                    DWORD dwFlags) = 0;
    virtual HRESULT KORVA_COM_CALL
    SetSerialization(const CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION* pcpcs) = 0;
    virtual HRESULT KORVA_COM_CALL Advise(ICredentialProviderEvents* pcpe, UINT_PTR upAdviseContext) = 0;
    virtual HRESULT KORVA_COM_CALL UnAdvise() = 0;
    virtual HRESULT KORVA_COM_CALL GetFieldDescriptorCount(DWORD* pdwCount) = 0;
    virtual HRESULT KORVA_COM_CALL GetFieldDescriptorAt(DWORD dwIndex,
                                                        CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR** ppcpfd) = 0;
    virtual HRESULT KORVA_COM_CALL GetCredentialCount(DWORD* pdwCount, DWORD* pdwDefault,
                                                      BOOL* pbAutoLogonWithDefault) = 0;
    virtual HRESULT KORVA_COM_CALL GetCredentialAt(DWORD dwIndex, ICredentialProviderCredential** ppcpc) = 0;

  protected:
    ~ICredentialProvider() = default;
};

struct ICredentialProviderFilter : IUnknown {
    static constexpr IID kIid = {
        0xA5DA53F9, 0xD475, 0x4080, {0xA1, 0x20, 0x91, 0x0C, 0x4A, 0x73, 0x98, 0x80}};
    using Base = IUnknown;

    virtual HRESULT KORVA_COM_CALL Filter(CREDENTIAL_PROVIDER_USAGE_SCENARIO cpus, DWORD dwFlags,
                                          GUID* rgclsidProviders, BOOL* rgbAllow, DWORD cProviders) = 0;
    virtual HRESULT KORVA_COM_CALL
    UpdateRemoteCredential(const CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION* pcpcsIn,
                           CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION* pcpcsOut) = 0;

  protected:
    ~ICredentialProviderFilter() = default;
};

KORVA_COM_INTERFACES_END

// Field descriptors handed out by GetFieldDescriptorAt: the descriptor and its label are task memory that
// the caller frees.
struct FieldDescriptorPolicy {
    using Type = CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR*;
    static constexpr Type Invalid() { return nullptr; }
    static void Close(Type value) noexcept {
        TaskFree(value->pszLabel);
        TaskFree(value);
    }
};
using UniqueFieldDescriptor = UniqueHandle<FieldDescriptorPolicy>;

}  // namespace korva::com
