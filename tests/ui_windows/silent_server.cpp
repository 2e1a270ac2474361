#include "tests/ui_windows/silent_server.h"

#include <winsock2.h>

namespace toval::test {

SilentServer::SilentServer() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    const SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    Socket = listener;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(listener, 8);
    int length = sizeof address;
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    Port = ntohs(address.sin_port);
}

SilentServer::~SilentServer() {
    closesocket(static_cast<SOCKET>(Socket));
    WSACleanup();
}

std::string SilentServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(Port) + path;
}

}  // namespace toval::test
