// Which directory backend the process uses, and its settings, from the product's own registry key. The
// settings are read once, when the library starts; a value that cannot be used is reported in one Error line
// and the platform's default stays in place (the Windows backend on Windows, none elsewhere), so a bad
// setting never leaves the logon screen without a directory it had before.
//
// The LDAP and snapshot backends live in their own libraries: each registers a factory here, and a kind
// without a registered factory is reported like any other bad setting.
#pragma once

#include <cstdint>
#include <memory>

#include "directory/backend.h"
#include "platform/text.h"

namespace korva {

class cGjLog;
class RegistryConnection;

// The key under HKEY_LOCAL_MACHINE that holds the directory settings.
inline constexpr const WChar* kDirectoryKey = KW("SOFTWARE\\Quillmarsh\\KORVA\\Directory");

enum class DirectoryBackendKind { Default, Windows, Ldap, Snapshot };
enum class DirectoryTls { StartTls, Ldaps, None };
enum class DirectoryBind { Simple, SaslGssapi };

struct DirectorySettings {
    DirectoryBackendKind backend = DirectoryBackendKind::Default;  // "Backend": windows | ldap | snapshot
    WString server;                                                // "Server": host name of a controller
    uint32_t port = 0;                                             // "Port": 0 = 389, or 636 with ldaps
    DirectoryTls tls = DirectoryTls::StartTls;                     // "TLS": starttls | ldaps | none
    bool verifyCertificate = true;                                 // "Verify Certificate": 0 turns it off
    WString caFile;                                                // "CA File": trusted certificates (PEM)
    DirectoryBind bind = DirectoryBind::Simple;                    // "Bind Method": simple | sasl-gssapi
    WString bindName;                                              // "Bind User": DN or user@domain
    WString passwordFile;                 // "Password File": first line is the password
    WString snapshotFile;                 // "Snapshot File": LDIF
    uint32_t timeoutMilliseconds = 3000;  // "Timeout": budget of one service call
};

// Bounds of "Timeout" (milliseconds).
constexpr uint32_t kMinDirectoryTimeout = 100;
constexpr uint32_t kMaxDirectoryTimeout = 60000;

// Builds a backend from the settings: 0 with the backend, or an error code (the factory logs nothing; the
// caller reports the failure with the code).
using DirectoryBackendFactory = int32_t (*)(const DirectorySettings& settings,
                                            std::unique_ptr<DirectoryBackend>* backend);

// Registers the factory of `kind` (Ldap or Snapshot), replacing any earlier one; null removes it.
void RegisterDirectoryBackendFactory(DirectoryBackendKind kind, DirectoryBackendFactory factory);

// Reads the settings under kDirectoryKey. 0 with *settings filled (absent values keep their defaults), or the
// code of the first unusable value, after one Error line naming it; *settings then holds the defaults.
[[nodiscard]] int32_t ReadDirectorySettings(cGjLog& log, const RegistryConnection& registry,
                                            DirectorySettings* settings);

// The backend the settings ask for: 0 with the backend (null for Default: the platform's own), or the code of
// a failure after one Error line.
[[nodiscard]] int32_t CreateDirectoryBackend(cGjLog& log, const DirectorySettings& settings,
                                             std::unique_ptr<DirectoryBackend>* backend);

// Reads the settings from this computer's registry and installs the backend they ask for as the process-wide
// one. Runs once per process; later calls return 0 and change nothing. On any failure the default stays.
[[nodiscard]] int32_t ConfigureDirectoryFromRegistry(cGjLog& log);

// Makes `backend` the process-wide backend (null: back to the platform's default). Start-up and tests only,
// while no ScopedDirectoryBackend is alive.
void SetDirectoryBackend(std::unique_ptr<DirectoryBackend> backend);

}  // namespace korva
