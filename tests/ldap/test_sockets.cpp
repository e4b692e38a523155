#include "tests/ldap/test_sockets.h"

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
using NativeSocket = SOCKET;
using SockLen = int;
constexpr NativeSocket kNoSocket = INVALID_SOCKET;
void CloseNative(NativeSocket s) {
    closesocket(s);
}
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
using NativeSocket = int;
using SockLen = socklen_t;
constexpr NativeSocket kNoSocket = -1;
void CloseNative(NativeSocket s) {
    close(s);
}
#endif

namespace korva::testing {
namespace {

struct SocketLibrary {
    SocketLibrary() {
#if defined(_WIN32)
        WSADATA data{};
        WSAStartup(MAKEWORD(2, 2), &data);
#endif
    }
};

// A TCP socket bound to 127.0.0.1 on a free port, or kNoSocket.
NativeSocket BindLoopback(uint16_t* port) {
    static SocketLibrary library;
    NativeSocket s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == kNoSocket) {
        return kNoSocket;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    SockLen length = sizeof(address);
    if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        CloseNative(s);
        return kNoSocket;
    }
    *port = ntohs(address.sin_port);
    return s;
}

}  // namespace

uint16_t ClosedPort() {
    uint16_t port = 0;
    const NativeSocket s = BindLoopback(&port);
    if (s == kNoSocket) {
        return 0;
    }
    CloseNative(s);
    return port;
}

SilentListener::SilentListener() : socket_(static_cast<uintptr_t>(kNoSocket)) {
    uint16_t port = 0;
    const NativeSocket s = BindLoopback(&port);
    if (s == kNoSocket) {
        return;
    }
    if (listen(s, 16) != 0) {
        CloseNative(s);
        return;
    }
    socket_ = static_cast<uintptr_t>(s);
    port_ = port;
}

SilentListener::~SilentListener() {
    if (port_ != 0) {
        CloseNative(static_cast<NativeSocket>(socket_));
    }
}

}  // namespace korva::testing
