// The plain-HTTP listener: Winsock, one thread, one connection at a time, closed after each answer.
#include "support/plain_http_server_win32.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <utility>

namespace {

// Reads up to the end of the request head (the tests send no bodies); false on close or time-out.
bool ReadHead(SOCKET peer) {
    char buffer[4096];
    std::string head;
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
        const int got = recv(peer, buffer, sizeof buffer, 0);
        if (got <= 0) return false;
        head.append(buffer, static_cast<std::size_t>(got));
    }
    return true;
}

}  // namespace

PlainHttpServer::PlainHttpServer(std::string body) : body_(std::move(body)), listener_(INVALID_SOCKET) {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return;
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (listener == INVALID_SOCKET) return;
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener, 8) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        closesocket(listener);
        return;
    }
    listener_ = listener;
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
}

PlainHttpServer::~PlainHttpServer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (listener_ != INVALID_SOCKET) closesocket(static_cast<SOCKET>(listener_));
    WSACleanup();
}

std::string PlainHttpServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void PlainHttpServer::Serve() {
    const SOCKET listener = static_cast<SOCKET>(listener_);
    while (!stop_) {
        fd_set ready;
        FD_ZERO(&ready);
        FD_SET(listener, &ready);
        timeval wait = {0, 100000};
        if (select(0, &ready, nullptr, nullptr, &wait) != 1) continue;
        SOCKET peer = accept(listener, nullptr, nullptr);
        if (peer == INVALID_SOCKET) continue;
        DWORD timeout = 2000;  // a client that never finishes its request cannot hold the thread
        setsockopt(peer, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
        if (ReadHead(peer)) {
            ++requests_;
            const std::string answer = "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
                                       std::to_string(body_.size()) + "\r\nConnection: close\r\n\r\n" + body_;
            send(peer, answer.data(), static_cast<int>(answer.size()), 0);
        }
        shutdown(peer, SD_SEND);
        closesocket(peer);
    }
}
