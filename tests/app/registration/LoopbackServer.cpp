#include "registration/LoopbackServer.h"

#include <chrono>

namespace testsupport {

namespace {

const wchar_t kProgramKey[] = L"Software\\Kestrane\\Vantrel";
constexpr REGSAM kView = KEY_WOW64_32KEY;

// Waits up to ms for the socket to become readable.
bool WaitReadable(SOCKET s, int ms) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(s, &readable);
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    return select(0, &readable, nullptr, nullptr, &tv) == 1;
}

}  // namespace

LoopbackServer::LoopbackServer(std::string response, Behaviour behaviour, int port)
    : response_(std::move(response)), behaviour_(behaviour) {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (listener_ == INVALID_SOCKET) return;
    BOOL exclusive = TRUE;
    setsockopt(listener_, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive), sizeof(exclusive));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int len = sizeof(address);
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 || listen(listener_, 8) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &len) != 0) {
        closesocket(listener_);
        listener_ = INVALID_SOCKET;
        return;
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread(&LoopbackServer::Serve, this);
}

LoopbackServer::~LoopbackServer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (listener_ != INVALID_SOCKET) closesocket(listener_);
    WSACleanup();
}

std::vector<std::string> LoopbackServer::requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

std::string LoopbackServer::Response(int status, const std::string& reason, const std::string& body) {
    return "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\nContent-Type: text/html\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

void LoopbackServer::Serve() {
    // Polls in short steps so the destructor never waits long; at most one minute in all.
    const auto end = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (!stop_ && std::chrono::steady_clock::now() < end) {
        if (!WaitReadable(listener_, 50)) continue;
        SOCKET client = accept(listener_, nullptr, nullptr);
        if (client == INVALID_SOCKET) continue;

        std::string head;
        for (int i = 0; i < 100 && !stop_ && head.find("\r\n\r\n") == std::string::npos && head.size() < 65536; ++i) {
            if (!WaitReadable(client, 50)) continue;
            char buffer[2048];
            int got = recv(client, buffer, sizeof(buffer), 0);
            if (got <= 0) break;
            head.append(buffer, static_cast<std::size_t>(got));
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            requests_.push_back(head.substr(0, head.find("\r\n\r\n")));
        }
        if (behaviour_ != Behaviour::CloseAtOnce) {
            std::size_t sent = 0;
            while (sent < response_.size()) {
                int part = send(client, response_.data() + sent, static_cast<int>(response_.size() - sent), 0);
                if (part <= 0) break;
                sent += static_cast<std::size_t>(part);
            }
        }
        if (behaviour_ == Behaviour::Answer) {
            shutdown(client, SD_SEND);
        } else if (behaviour_ == Behaviour::Silent) {
            while (!stop_ && std::chrono::steady_clock::now() < end) Sleep(20);
        }
        closesocket(client);
    }
}

int UnusedLoopbackPort() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int len = sizeof(address);
    bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    getsockname(s, reinterpret_cast<sockaddr*>(&address), &len);
    closesocket(s);
    WSACleanup();
    return ntohs(address.sin_port);
}

ScopedServicePort::ScopedServicePort(std::optional<DWORD> port) {
    Save();
    if (port) {
        DWORD value = *port;
        Put(REG_DWORD, &value, sizeof(value));
    } else {
        HKEY key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProgramKey, 0, KEY_SET_VALUE | kView, &key) == ERROR_SUCCESS) {
            RegDeleteValueW(key, L"ServicePort");
            RegCloseKey(key);
        }
    }
}

ScopedServicePort::ScopedServicePort(DWORD type, const void* data, DWORD size) {
    Save();
    Put(type, data, size);
}

void ScopedServicePort::Save() {
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProgramKey, 0, KEY_QUERY_VALUE | kView, &key) != ERROR_SUCCESS) return;
    keyExisted_ = true;
    DWORD size = 0;
    if (RegQueryValueExW(key, L"ServicePort", nullptr, &oldType_, nullptr, &size) == ERROR_SUCCESS) {
        oldData_.resize(size);
        valueExisted_ = RegQueryValueExW(key, L"ServicePort", nullptr, &oldType_, oldData_.data(), &size) == ERROR_SUCCESS;
        oldData_.resize(size);
    }
    RegCloseKey(key);
}

void ScopedServicePort::Put(DWORD type, const void* data, DWORD size) {
    HKEY key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kProgramKey, 0, nullptr, 0, KEY_SET_VALUE | kView, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return;
    RegSetValueExW(key, L"ServicePort", 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
}

ScopedServicePort::~ScopedServicePort() {
    if (!keyExisted_) {
        RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kProgramKey, kView, 0);
        return;
    }
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProgramKey, 0, KEY_SET_VALUE | kView, &key) != ERROR_SUCCESS) return;
    if (valueExisted_)
        RegSetValueExW(key, L"ServicePort", 0, oldType_, oldData_.data(), static_cast<DWORD>(oldData_.size()));
    else
        RegDeleteValueW(key, L"ServicePort");
    RegCloseKey(key);
}

}  // namespace testsupport
