// A small HTTP server for tests: listens on 127.0.0.1 on a thread of the test process and
// answers every connection with one scripted response, standing in for the registrator
// service. Also sets the "ServicePort" registry value for a scope.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

class LoopbackServer {
public:
    enum class Behaviour {
        Answer,      // read the request head, send the response, close
        Silent,      // read the request head, send the response (if any), then keep the
                     // connection open without another word
        CloseAtOnce  // read the request head, then close without answering
    };

    // port 0 takes any free port. ok() is false when the port could not be bound.
    explicit LoopbackServer(std::string response, Behaviour behaviour = Behaviour::Answer, int port = 0);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    bool ok() const { return listener_ != INVALID_SOCKET; }
    int port() const { return port_; }
    // The request heads received so far (request line and header fields).
    std::vector<std::string> requests() const;

    // "HTTP/1.1 <status> <reason>" with Content-Length and the body.
    static std::string Response(int status, const std::string& reason, const std::string& body);

private:
    void Serve();

    std::string response_;
    Behaviour behaviour_;
    SOCKET listener_ = INVALID_SOCKET;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::vector<std::string> requests_;
    std::thread thread_;
};

// A TCP port on 127.0.0.1 on which nothing listens (bound once, then released).
int UnusedLoopbackPort();

// Sets HKLM\Software\Kestrane\Vantrel "ServicePort" (32-bit view) for the scope and
// restores what was there before: the old value, or no value, or no key.
class ScopedServicePort {
public:
    explicit ScopedServicePort(std::optional<DWORD> port);  // nullopt: no value
    // Any raw value, for malformed settings.
    ScopedServicePort(DWORD type, const void* data, DWORD size);
    ~ScopedServicePort();
    ScopedServicePort(const ScopedServicePort&) = delete;
    ScopedServicePort& operator=(const ScopedServicePort&) = delete;

private:
    void Save();
    void Put(DWORD type, const void* data, DWORD size);

    bool keyExisted_ = false;
    bool valueExisted_ = false;
    DWORD oldType_ = 0;
    std::vector<BYTE> oldData_;
};

}  // namespace testsupport
