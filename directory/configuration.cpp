#include "directory/configuration.h"

#include <array>
#include <mutex>

#include "infra/log.h"
#include "infra/registry_connection.h"

namespace korva {

namespace {

std::array<DirectoryBackendFactory, 4>& Factories() {
    static std::array<DirectoryBackendFactory, 4> factories{};
    return factories;
}

template <typename T>
struct Choice {
    const WChar* text;
    T value;
};

constexpr Choice<DirectoryBackendKind> kBackends[] = {
    {KW("windows"), DirectoryBackendKind::Windows},
    {KW("ldap"), DirectoryBackendKind::Ldap},
    {KW("snapshot"), DirectoryBackendKind::Snapshot},
};
constexpr Choice<DirectoryTls> kTlsModes[] = {
    {KW("starttls"), DirectoryTls::StartTls},
    {KW("ldaps"), DirectoryTls::Ldaps},
    {KW("none"), DirectoryTls::None},
};
constexpr Choice<DirectoryBind> kBindMethods[] = {
    {KW("simple"), DirectoryBind::Simple},
    {KW("sasl-gssapi"), DirectoryBind::SaslGssapi},
};

// Reads one text value. Absent: 0 and nothing changes; present: 0 with the text; otherwise the code.
int32_t ReadText(cGjLog& log, const RegistryConnection& registry, const WChar* name, WString* value) {
    WString text;
    const int32_t code = registry.ReadString(kDirectoryKey, name, &text);
    if (code == winerr::kFileNotFound)
        return 0;
    if (code != 0) {
        log.LogWithCode(
            kLogError, code,
            KW("Directory setting '%s' under '%s' cannot be read; the default directory is used."), name,
            kDirectoryKey);
        return code;
    }
    *value = std::move(text);
    return 0;
}

template <typename T, size_t N>
int32_t ReadChoice(cGjLog& log, const RegistryConnection& registry, const WChar* name,
                   const Choice<T> (&choices)[N], T* value) {
    WString text;
    bool present = false;
    {
        WString read;
        const int32_t code = registry.ReadString(kDirectoryKey, name, &read);
        if (code != 0 && code != winerr::kFileNotFound) {
            log.LogWithCode(
                kLogError, code,
                KW("Directory setting '%s' under '%s' cannot be read; the default directory is used."), name,
                kDirectoryKey);
            return code;
        }
        present = code == 0;
        text = std::move(read);
    }
    if (!present)
        return 0;
    for (const Choice<T>& choice : choices) {
        if (EqualsNoCaseAscii(text, choice.text)) {
            *value = choice.value;
            return 0;
        }
    }
    log.LogWithCode(kLogError, winerr::kInvalidParameter,
                    KW("Directory setting '%s' has the unknown value '%s'; the default directory is used."),
                    name, text.c_str());
    return winerr::kInvalidParameter;
}

int32_t ReadNumber(cGjLog& log, const RegistryConnection& registry, const WChar* name, uint32_t minimum,
                   uint32_t maximum, uint32_t* value) {
    uint32_t number = 0;
    const int32_t code = registry.ReadDword(kDirectoryKey, name, &number);
    if (code == winerr::kFileNotFound)
        return 0;
    if (code != 0) {
        log.LogWithCode(
            kLogError, code,
            KW("Directory setting '%s' under '%s' cannot be read as a number; the default directory is "
               "used."),
            name, kDirectoryKey);
        return code;
    }
    if (number < minimum || number > maximum) {
        log.LogWithCode(kLogError, winerr::kInvalidParameter,
                        KW("Directory setting '%s' is %u, outside %u to %u; the default directory is used."),
                        name, number, minimum, maximum);
        return winerr::kInvalidParameter;
    }
    *value = number;
    return 0;
}

}  // namespace

void RegisterDirectoryBackendFactory(DirectoryBackendKind kind, DirectoryBackendFactory factory) {
    Factories()[static_cast<size_t>(kind)] = factory;
}

int32_t ReadDirectorySettings(cGjLog& log, const RegistryConnection& registry, DirectorySettings* settings) {
    DirectorySettings read;
    uint32_t verify = 1;
    int32_t code = ReadChoice(log, registry, KW("Backend"), kBackends, &read.backend);
    if (code == 0)
        code = ReadText(log, registry, KW("Server"), &read.server);
    if (code == 0)
        code = ReadNumber(log, registry, KW("Port"), 0, 65535, &read.port);
    if (code == 0)
        code = ReadChoice(log, registry, KW("TLS"), kTlsModes, &read.tls);
    if (code == 0)
        code = ReadNumber(log, registry, KW("Verify Certificate"), 0, 1, &verify);
    if (code == 0)
        code = ReadText(log, registry, KW("CA File"), &read.caFile);
    if (code == 0)
        code = ReadChoice(log, registry, KW("Bind Method"), kBindMethods, &read.bind);
    if (code == 0)
        code = ReadText(log, registry, KW("Bind User"), &read.bindName);
    if (code == 0)
        code = ReadText(log, registry, KW("Password File"), &read.passwordFile);
    if (code == 0)
        code = ReadText(log, registry, KW("Snapshot File"), &read.snapshotFile);
    if (code == 0) {
        code = ReadNumber(log, registry, KW("Timeout"), kMinDirectoryTimeout, kMaxDirectoryTimeout,
                          &read.timeoutMilliseconds);
    }
    if (code == 0 && read.backend == DirectoryBackendKind::Ldap && read.server.empty()) {
        code = winerr::kInvalidParameter;
        log.LogWithCode(kLogError, code,
                        KW("Directory backend 'ldap' needs a 'Server'; the default directory is used."));
    }
    if (code == 0 && read.backend == DirectoryBackendKind::Snapshot && read.snapshotFile.empty()) {
        code = winerr::kInvalidParameter;
        log.LogWithCode(
            kLogError, code,
            KW("Directory backend 'snapshot' needs a 'Snapshot File'; the default directory is used."));
    }
    if (code != 0) {
        *settings = DirectorySettings{};
        return code;
    }
    read.verifyCertificate = verify != 0;
    if (read.backend == DirectoryBackendKind::Ldap && !read.verifyCertificate) {
        log.LogMessage(kLogWarning,
                       KW("Directory server certificates are not verified ('Verify Certificate' is 0)."));
    }
    *settings = std::move(read);
    return 0;
}

int32_t CreateDirectoryBackend(cGjLog& log, const DirectorySettings& settings,
                               std::unique_ptr<DirectoryBackend>* backend) {
    backend->reset();
    if (settings.backend == DirectoryBackendKind::Default)
        return 0;
    if (settings.backend == DirectoryBackendKind::Windows) {
        *backend = CreateSystemDirectoryBackend();
        if (*backend == nullptr) {
            log.LogWithCode(kLogError, winerr::kNotSupported,
                            KW("Directory backend 'windows' is not available on this system."));
            return winerr::kNotSupported;
        }
        return 0;
    }
    const DirectoryBackendFactory factory = Factories()[static_cast<size_t>(settings.backend)];
    const WChar* name = settings.backend == DirectoryBackendKind::Ldap ? KW("ldap") : KW("snapshot");
    if (factory == nullptr) {
        log.LogWithCode(kLogError, winerr::kNotSupported,
                        KW("Directory backend '%s' is not built into this program."), name);
        return winerr::kNotSupported;
    }
    const int32_t code = factory(settings, backend);
    if (code != 0 || *backend == nullptr) {
        const int32_t reported = code != 0 ? code : kEPointer;
        backend->reset();
        log.LogWithCode(kLogError, reported,
                        KW("Directory backend '%s' could not be created; the default directory is used."),
                        name);
        return reported;
    }
    log.LogMessage(kLogDebug, KW("Directory backend '%s' created."), name);
    return 0;
}

int32_t ConfigureDirectoryFromRegistry(cGjLog& log) {
    static std::once_flag once;
    int32_t result = 0;
    std::call_once(once, [&] {
        RegistryConnection registry;
        result = registry.Connect(nullptr, platform::kHkeyLocalMachine);
        if (result != 0) {
            log.LogWithCode(kLogError, result,
                            KW("Unable to connect to the registry to read the directory settings."));
            return;
        }
        DirectorySettings settings;
        result = ReadDirectorySettings(log, registry, &settings);
        std::unique_ptr<DirectoryBackend> backend;
        if (result == 0)
            result = CreateDirectoryBackend(log, settings, &backend);
        if (result == 0 && backend != nullptr)
            SetDirectoryBackend(std::move(backend));
    });
    return result;
}

}  // namespace korva
