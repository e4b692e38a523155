// The module's COM server exports. Both builds export them by these undecorated names (listed in
// KORVACredProvx64.def); on Windows they have the signatures the system declares for them.
#pragma once

#include <iterator>

#include "platform/com.h"

#if defined(_WIN32)
#define KORVA_COM_EXPORT extern "C" HRESULT STDAPICALLTYPE
#else
#define KORVA_COM_EXPORT extern "C" __attribute__((visibility("default"))) korva::com::HRESULT
#endif

// A class factory for the provider or the filter CLSID; CLASS_E_CLASSNOTAVAILABLE, with *ppv untouched, for
// any other.
KORVA_COM_EXPORT DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv);
// S_OK when no counted object lives and no factory lock is held, otherwise S_FALSE.
KORVA_COM_EXPORT DllCanUnloadNow();
// Writes the two classes' keys under HKEY_CLASSES_ROOT\CLSID; S_OK or the failing registry call's error.
KORVA_COM_EXPORT DllRegisterServer();
// Removes those keys (failures ignored); S_OK or the error of opening the registry.
KORVA_COM_EXPORT DllUnregisterServer();

namespace korva {

// The keys and values DllRegisterServer writes, in the order it writes them. An empty value name is the key's
// default value.
struct ServerRegistryValue {
    const WChar* key;
    const WChar* valueName;
    const WChar* data;
};
inline constexpr ServerRegistryValue kServerRegistryValues[] = {
    {KW("CLSID\\{33592d29-4c1d-4732-a607-d01a81215385}"), KW(""), KW("KORVACredentialProvider")},
    {KW("CLSID\\{33592d29-4c1d-4732-a607-d01a81215385}\\InprocServer32"), KW(""), KW("KORVACredProvx64.dll")},
    {KW("CLSID\\{33592d29-4c1d-4732-a607-d01a81215385}\\InprocServer32"), KW("ThreadingModel"),
     KW("Apartment")},
    {KW("CLSID\\{2c766ae5-77fb-4726-9bd4-646ebb77f0ec}"), KW(""), KW("KORVACredentialProviderFilter")},
    {KW("CLSID\\{2c766ae5-77fb-4726-9bd4-646ebb77f0ec}\\InprocServer32"), KW(""), KW("KORVACredProvx64.dll")},
    {KW("CLSID\\{2c766ae5-77fb-4726-9bd4-646ebb77f0ec}\\InprocServer32"), KW("ThreadingModel"),
     KW("Apartment")},
};
static_assert(std::size(kServerRegistryValues) == 6, "two classes, three values each");

// The keys DllUnregisterServer deletes, each sub-key before its parent.
inline constexpr const WChar* kServerRegistryKeys[] = {
    KW("CLSID\\{33592d29-4c1d-4732-a607-d01a81215385}\\InprocServer32"),
    KW("CLSID\\{33592d29-4c1d-4732-a607-d01a81215385}"),
    KW("CLSID\\{2c766ae5-77fb-4726-9bd4-646ebb77f0ec}\\InprocServer32"),
    KW("CLSID\\{2c766ae5-77fb-4726-9bd4-646ebb77f0ec}"),
};

}  // namespace korva
