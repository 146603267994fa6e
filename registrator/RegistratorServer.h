// The registrator service's HTTP server: WinSock on 127.0.0.1 only, one request per
// connection, bounded in request size, header count, reading time and connections.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "registrator/RequestParser.h"

namespace vantrel::registrator {

struct ServerOptions {
    int Port = 8080;
    DWORD HeadTimeoutMs = 5000;  // the whole request head must arrive within this time
    int MaxConnections = 16;     // connections served at once; more are answered 503 and closed
    RequestLimits Limits;
};

struct ServerAnswer {
    int Status = 0;
    std::string Body;
};

class TRegistratorServer {
public:
    // Called for the two accepted requests, from the connection's thread.
    using Handler = std::function<ServerAnswer(const ParsedRequest&)>;

    TRegistratorServer(ServerOptions options, Handler handler);
    ~TRegistratorServer();
    TRegistratorServer(const TRegistratorServer&) = delete;
    TRegistratorServer& operator=(const TRegistratorServer&) = delete;

    // Binds 127.0.0.1:<port> and starts accepting. 0, or the WinSock error.
    int Start();
    // Stops accepting and waits for the connections being served.
    void Stop();

private:
    void AcceptLoop();
    void Serve(SOCKET client);
    void Reply(SOCKET client, int status, const std::string& body, bool linger);

    ServerOptions options_;
    Handler handler_;
    bool wsaStarted_ = false;
    SOCKET listener_ = INVALID_SOCKET;
    std::atomic<bool> stop_{false};
    std::thread acceptThread_;
    std::mutex mutex_;
    std::condition_variable idle_;
    int active_ = 0;
};

// HKLM\Software\Kestrane\Vantrel "ServicePort" (32-bit view), 8080 when absent; 0 when the
// value is not a port number.
int ReadServicePort();

}  // namespace vantrel::registrator
