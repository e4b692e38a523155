#include "tests/ldap/samba_support.h"

#include "platform/files.h"

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
using SockLen = int;
using NativeSocket = SOCKET;
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
using SockLen = socklen_t;
using NativeSocket = int;
#define closesocket close
#endif

namespace korva::testing {

std::string StatePath(const std::string& name) {
    return std::string(KORVA_SAMBA_STATE_DIR) + "/" + name;
}

std::string ReadState(const std::string& name) {
    std::vector<uint8_t> bytes;
    (void)platform::ReadWholeFile(Utf8ToUtf16(StatePath(name)).c_str(), 1 << 24, &bytes);
    return std::string(bytes.begin(), bytes.end());
}

platform::LdapSettings AdminSettings() {
    platform::LdapSettings settings;
    settings.host = KW("127.0.0.1");
    settings.bindName = KW("Administrator@corp.example.test");
    settings.password = platform::SecretBytes(ReadState("admin-password"));
    settings.connectTimeoutMs = 5000;
    settings.operationTimeLimitMs = 5000;
    settings.budgetMs = 10000;
    return settings;
}

uint16_t SilentPort() {
    static const uint16_t port = [] {
#if defined(_WIN32)
        WSADATA data{};
        WSAStartup(MAKEWORD(2, 2), &data);
#endif
        const NativeSocket s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        SockLen length = sizeof(address);
        if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
            getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
            listen(s, SOMAXCONN) != 0) {
            closesocket(s);
            return uint16_t{0};
        }
        return ntohs(address.sin_port);
    }();
    return port;
}

}  // namespace korva::testing
