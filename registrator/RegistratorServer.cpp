// WinSock server of the registrator service. Each connection gets one answer and is closed.
// A connection must deliver its whole request head within the head time limit; slow or
// endless senders get 408 or 431, connections beyond the limit 503, all without touching
// the registry.
#include "registrator/RegistratorServer.h"

#include <chrono>

namespace vantrel::registrator {

namespace {

using Clock = std::chrono::steady_clock;

timeval Timeval(long long ms) {
    if (ms < 0) ms = 0;
    timeval tv;
    tv.tv_sec = static_cast<long>(ms / 1000);
    tv.tv_usec = static_cast<long>((ms % 1000) * 1000);
    return tv;
}

bool WaitReadable(SOCKET s, long long ms) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(s, &readable);
    timeval tv = Timeval(ms);
    return select(0, &readable, nullptr, nullptr, &tv) == 1;
}

}  // namespace

int ReadServicePort() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Kestrane\\Vantrel", 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY, &key) !=
        ERROR_SUCCESS)
        return 8080;
    DWORD type = 0, value = 0, size = sizeof(value);
    LONG rc = RegQueryValueExW(key, L"ServicePort", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(key);
    if (rc == ERROR_FILE_NOT_FOUND) return 8080;
    if (rc != ERROR_SUCCESS || type != REG_DWORD || value == 0 || value > 65535) return 0;
    return static_cast<int>(value);
}

TRegistratorServer::TRegistratorServer(ServerOptions options, Handler handler)
    : options_(std::move(options)), handler_(std::move(handler)) {}

TRegistratorServer::~TRegistratorServer() {
    Stop();
    if (wsaStarted_) WSACleanup();
}

int TRegistratorServer::Start() {
    WSADATA data;
    int rc = WSAStartup(MAKEWORD(2, 2), &data);
    if (rc != 0) return rc;
    wsaStarted_ = true;

    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (listener_ == INVALID_SOCKET) return WSAGetLastError();
    // No other program may bind the same port beside the service and read its requests.
    BOOL exclusive = TRUE;
    setsockopt(listener_, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive), sizeof(exclusive));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(options_.Port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
        listen(listener_, SOMAXCONN) != 0) {
        int err = WSAGetLastError();
        closesocket(listener_);
        listener_ = INVALID_SOCKET;
        return err;
    }
    stop_ = false;
    acceptThread_ = std::thread([this] { AcceptLoop(); });
    return 0;
}

void TRegistratorServer::Stop() {
    stop_ = true;
    if (acceptThread_.joinable()) acceptThread_.join();
    if (listener_ != INVALID_SOCKET) {
        closesocket(listener_);
        listener_ = INVALID_SOCKET;
    }
    // Connections end by themselves within the head time limit.
    std::unique_lock<std::mutex> lock(mutex_);
    idle_.wait(lock, [this] { return active_ == 0; });
}

void TRegistratorServer::AcceptLoop() {
    while (!stop_) {
        if (!WaitReadable(listener_, 200)) continue;
        sockaddr_in peer{};
        int peerLength = sizeof(peer);
        SOCKET client = accept(listener_, reinterpret_cast<sockaddr*>(&peer), &peerLength);
        if (client == INVALID_SOCKET) continue;
        // Only this machine: the listener is bound to loopback, and the peer must be too.
        if (peer.sin_family != AF_INET || (ntohl(peer.sin_addr.s_addr) >> 24) != 127) {
            closesocket(client);
            continue;
        }
        bool admitted = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (active_ < options_.MaxConnections) {
                ++active_;
                admitted = true;
            }
        }
        if (!admitted) {
            DWORD sendTimeout = 200;
            setsockopt(client, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&sendTimeout), sizeof(sendTimeout));
            Reply(client, kStatusBusy, "Too many connections.", false);
            continue;
        }
        try {
            std::thread([this, client] { Serve(client); }).detach();
        } catch (...) {
            closesocket(client);
            std::lock_guard<std::mutex> lock(mutex_);
            --active_;
            idle_.notify_all();
        }
    }
}

void TRegistratorServer::Reply(SOCKET client, int status, const std::string& body, bool linger) {
    const std::string response = BuildResponse(status, body);
    std::size_t sent = 0;
    while (sent < response.size()) {
        int n = send(client, response.data() + sent, static_cast<int>(response.size() - sent), 0);
        if (n <= 0) break;
        sent += static_cast<std::size_t>(n);
    }
    shutdown(client, SD_SEND);
    // Read what the peer still sends for a moment, so closing does not reset the
    // connection before the answer is read.
    // The accept thread does not wait for refused connections.
    char sink[1024];
    for (int i = 0; linger && i < 16 && WaitReadable(client, 50); ++i)
        if (recv(client, sink, sizeof(sink), 0) <= 0) break;
    closesocket(client);
}

void TRegistratorServer::Serve(SOCKET client) {
    int status = kStatusServerError;
    std::string body = "Internal error.";
    bool answer = true;
    try {
        DWORD sendTimeout = 2000;
        setsockopt(client, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&sendTimeout), sizeof(sendTimeout));
        const auto deadline = Clock::now() + std::chrono::milliseconds(options_.HeadTimeoutMs);
        std::string received;
        received.reserve(options_.Limits.MaxHeadBytes);
        ParsedRequest request;
        for (;;) {
            request = ParseRequest(received, options_.Port, options_.Limits);
            if (request.State == ParseState::Done) break;
            long long left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0 || !WaitReadable(client, left)) {
                request.Status = kStatusTimeout;
                request.Reason = "The request did not arrive in time.";
                break;
            }
            char chunk[1024];
            std::size_t room = options_.Limits.MaxHeadBytes - received.size();
            int n = recv(client, chunk, static_cast<int>(room < sizeof(chunk) ? room : sizeof(chunk)), 0);
            if (n <= 0) {  // the peer left before its request was complete: nobody to answer
                answer = false;
                break;
            }
            received.append(chunk, static_cast<std::size_t>(n));
        }
        if (request.State == ParseState::Done && request.Kind != RequestKind::Refused) {
            ServerAnswer result = handler_(request);
            status = result.Status;
            body = result.Body;
        } else {
            status = request.Status;
            body = request.Reason;
        }
    } catch (...) {
        status = kStatusServerError;
        body = "Internal error.";
    }
    if (answer) {
        try {
            Reply(client, status, body, true);
        } catch (...) {
            closesocket(client);
        }
    } else {
        closesocket(client);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    --active_;
    idle_.notify_all();
}

}  // namespace vantrel::registrator
