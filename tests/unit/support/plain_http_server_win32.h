// A plain-HTTP listener on 127.0.0.1 for the tests of redirects out of TLS: it answers every
// request with one fixed 200 body and counts the requests it got.
#pragma once

#include <atomic>
#include <string>
#include <thread>

class PlainHttpServer {
public:
    // Listens on a free port at once; Port() is 0 when that failed.
    explicit PlainHttpServer(std::string body);
    ~PlainHttpServer();  // stops within about a tenth of a second
    PlainHttpServer(const PlainHttpServer&) = delete;
    PlainHttpServer& operator=(const PlainHttpServer&) = delete;

    int Port() const { return port_; }
    std::string Url(const std::string& path) const;  // "http://127.0.0.1:PORT" + path
    int Requests() const { return requests_.load(); }

private:
    void Serve();
    std::string body_;
    unsigned long long listener_;  // a SOCKET, kept out of this header
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> requests_{0};
    std::thread thread_;
};
