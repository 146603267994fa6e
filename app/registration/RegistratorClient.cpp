// Client of the registrator service: plain HTTP GET requests to the service on the
// loopback address, and the mapping of their outcomes to IconRegisterException.
//
// The HTTP client is a small WinSock one of our own, so that every failure can be told
// apart exactly: socket-level failures (refused, lost, timed out) from malformed answers
// and error statuses. Every wait is bounded, and every part of an answer is read into a
// buffer of a fixed maximum size.
#include <winsock2.h>
#include <windows.h>

#include <chrono>
#include <cstring>
#include <string>

#include "app/common/TextConv.h"
#include "app/registration/RegistratorClient.h"

namespace vantrel {

IconRegisterException::IconRegisterException(const std::wstring& message, int errorCode)
    : Error(WideToUtf8(message)), ErrorCode(errorCode) {}

namespace {

// --- failures of the HTTP client ------------------------------------------------------

class EHttpClientError : public Error {
public:
    using Error::Error;
    virtual const char* ClassName() const { return "EHttpClientError"; }
};

// The connection could not be made, was lost, or stayed silent for too long.
class ESocketError : public EHttpClientError {
public:
    using EHttpClientError::EHttpClientError;
    const char* ClassName() const override { return "ESocketError"; }
};

class ESocketTimeout : public ESocketError {
public:
    using ESocketError::ESocketError;
    const char* ClassName() const override { return "ESocketTimeout"; }
};

// The server answered with an error status (400 and above).
class EHttpProtocolError : public EHttpClientError {
public:
    using EHttpClientError::EHttpClientError;
    const char* ClassName() const override { return "EHttpProtocolError"; }
};

// The answer is not well-formed HTTP, or larger than any answer of the service can be.
class EHttpResponseError : public EHttpClientError {
public:
    using EHttpClientError::EHttpClientError;
    const char* ClassName() const override { return "EHttpResponseError"; }
};

constexpr std::size_t kMaxHeaderBytes = 16 * 1024;
constexpr std::size_t kMaxBodyBytes = 64 * 1024;
constexpr std::size_t kMaxChunkLine = 1024;
constexpr int kMaxInterimAnswers = 8;

std::string SocketErrorText(int code) {
    const char* text = nullptr;
    switch (code) {
        case WSAECONNREFUSED: text = "Connection refused."; break;
        case WSAECONNRESET: text = "Connection reset by peer."; break;
        case WSAECONNABORTED: text = "Connection aborted."; break;
        case WSAETIMEDOUT: text = "Connection timed out."; break;
        case WSAENETUNREACH: text = "Network is unreachable."; break;
        case WSAEHOSTUNREACH: text = "No route to host."; break;
        case WSAEADDRNOTAVAIL: text = "Cannot assign requested address."; break;
        default: break;
    }
    std::string message = "Socket Error # " + std::to_string(code) + "\r\n";
    message += text ? text : WideToUtf8(SystemErrorMessage(static_cast<unsigned long>(code)));
    return message;
}

[[noreturn]] void ThrowSocketError(int code) { throw ESocketError(SocketErrorText(code)); }

// Wire text shown in a message: printable ASCII kept, anything else as "?".
std::string Printable(const std::string& bytes, std::size_t maxLength) {
    std::string out;
    for (std::size_t i = 0; i < bytes.size() && i < maxLength; ++i) {
        unsigned char c = static_cast<unsigned char>(bytes[i]);
        out += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
    }
    if (bytes.size() > maxLength) out += "...";
    return out;
}

bool StartsWithNoCase(const std::string& text, const char* prefix) {
    std::size_t n = std::strlen(prefix);
    if (text.size() < n) return false;
    for (std::size_t i = 0; i < n; ++i) {
        char a = text[i], b = prefix[i];
        if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
        if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
        if (a != b) return false;
    }
    return true;
}

std::string TrimBlanks(const std::string& s) {
    std::size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) --e;
    return s.substr(b, e - b);
}

// --- the HTTP client ------------------------------------------------------------------

struct THttpResponse {
    int Status = 0;
    std::string StatusLine;
    std::string Body;  // bytes as received
};

class THttpClient {
public:
    explicit THttpClient(const RegistratorTimeouts& timeouts) : timeouts_(timeouts) {
        WSADATA data;
        int rc = WSAStartup(MAKEWORD(2, 2), &data);
        if (rc != 0) ThrowSocketError(rc);
    }
    ~THttpClient() {
        if (socket_ != INVALID_SOCKET) closesocket(socket_);
        WSACleanup();
    }
    THttpClient(const THttpClient&) = delete;
    THttpClient& operator=(const THttpClient&) = delete;

    // GET of a request target from the loopback address. Status 400 and above raise
    // EHttpProtocolError; the caller judges every other status.
    THttpResponse Get(int port, const std::string& target) {
        Connect(port);
        deadline_ = Clock::now() + std::chrono::milliseconds(timeouts_.AnswerMs);
        SendAll("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                "\r\nAccept: text/html, */*\r\nUser-Agent: Vantrel/1.0\r\nConnection: close\r\n\r\n");
        THttpResponse response = ReadResponse();
        if (response.Status >= 400) throw EHttpProtocolError(Printable(response.StatusLine, 200));
        return response;
    }

private:
    using Clock = std::chrono::steady_clock;

    static timeval ToTimeval(long long ms) {
        if (ms < 0) ms = 0;
        timeval tv;
        tv.tv_sec = static_cast<long>(ms / 1000);
        tv.tv_usec = static_cast<long>((ms % 1000) * 1000);
        return tv;
    }

    long long RemainingMs() const {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now()).count();
        return left > 0 ? left : 0;
    }

    [[noreturn]] void ThrowAnswerTimeout() const {
        throw ESocketTimeout("Read timed out: no complete answer from 127.0.0.1 within " +
                             std::to_string(timeouts_.AnswerMs) + " ms.");
    }

    void Connect(int port) {
        socket_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (socket_ == INVALID_SOCKET) ThrowSocketError(WSAGetLastError());
        u_long nonBlocking = 1;
        if (ioctlsocket(socket_, FIONBIO, &nonBlocking) != 0) ThrowSocketError(WSAGetLastError());

        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<u_short>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
            int err = WSAGetLastError();
            if (err != WSAEWOULDBLOCK) ThrowSocketError(err);
            fd_set writable, failed;
            FD_ZERO(&writable);
            FD_ZERO(&failed);
            FD_SET(socket_, &writable);
            FD_SET(socket_, &failed);
            timeval tv = ToTimeval(timeouts_.ConnectMs);
            int n = select(0, nullptr, &writable, &failed, &tv);
            if (n == SOCKET_ERROR) ThrowSocketError(WSAGetLastError());
            if (n == 0)
                throw ESocketTimeout("Connect timed out: 127.0.0.1:" + std::to_string(port) + " did not accept within " +
                                     std::to_string(timeouts_.ConnectMs) + " ms.");
            int soError = 0;
            int len = sizeof(soError);
            getsockopt(socket_, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &len);
            if (FD_ISSET(socket_, &failed) || soError != 0) ThrowSocketError(soError ? soError : WSAECONNREFUSED);
        }
        u_long blocking = 0;
        if (ioctlsocket(socket_, FIONBIO, &blocking) != 0) ThrowSocketError(WSAGetLastError());
    }

    void SendAll(const std::string& bytes) {
        std::size_t sent = 0;
        while (sent < bytes.size()) {
            fd_set writable;
            FD_ZERO(&writable);
            FD_SET(socket_, &writable);
            timeval tv = ToTimeval(RemainingMs());
            int n = select(0, nullptr, &writable, nullptr, &tv);
            if (n == SOCKET_ERROR) ThrowSocketError(WSAGetLastError());
            if (n == 0) ThrowAnswerTimeout();
            int part = send(socket_, bytes.data() + sent, static_cast<int>(bytes.size() - sent), 0);
            if (part == SOCKET_ERROR) ThrowSocketError(WSAGetLastError());
            sent += static_cast<std::size_t>(part);
        }
    }

    // Appends what arrives to buffer_; false when the server closed the connection.
    bool Fill() {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(socket_, &readable);
        timeval tv = ToTimeval(RemainingMs());
        int n = select(0, &readable, nullptr, nullptr, &tv);
        if (n == SOCKET_ERROR) ThrowSocketError(WSAGetLastError());
        if (n == 0) ThrowAnswerTimeout();
        char chunk[4096];
        int got = recv(socket_, chunk, sizeof(chunk), 0);
        if (got == SOCKET_ERROR) ThrowSocketError(WSAGetLastError());
        if (got == 0) return false;
        buffer_.append(chunk, static_cast<std::size_t>(got));
        return true;
    }

    [[noreturn]] static void ThrowConnectionLost() {
        throw ESocketError("Connection closed gracefully before the answer was complete.");
    }

    // An answer must begin with "HTTP/"; anything else is refused as soon as it shows.
    void CheckLooksLikeHttp() const {
        static const char prefix[] = "HTTP/";
        std::size_t n = buffer_.size() < 5 ? buffer_.size() : 5;
        if (std::memcmp(buffer_.data(), prefix, n) != 0)
            throw EHttpResponseError("The answer is not HTTP: \"" + Printable(buffer_, 60) + "\"");
    }

    // The status line and header fields, up to and without the empty line.
    std::string ReadHeaderBlock() {
        for (;;) {
            if (!buffer_.empty()) CheckLooksLikeHttp();
            std::size_t end = buffer_.find("\r\n\r\n");
            std::size_t skip = 4;
            std::size_t lfEnd = buffer_.find("\n\n");
            if (lfEnd != std::string::npos && (end == std::string::npos || lfEnd < end)) {
                end = lfEnd;
                skip = 2;
            }
            if (end != std::string::npos) {
                if (end > kMaxHeaderBytes) break;
                std::string block = buffer_.substr(0, end);
                buffer_.erase(0, end + skip);
                return block;
            }
            if (buffer_.size() > kMaxHeaderBytes) break;
            if (!Fill()) {
                if (buffer_.empty()) throw ESocketError("Connection closed gracefully without an answer.");
                ThrowConnectionLost();
            }
        }
        throw EHttpResponseError("The answer's header is longer than " + std::to_string(kMaxHeaderBytes) + " bytes.");
    }

    std::string ReadLine(std::size_t maxLength) {
        for (;;) {
            std::size_t end = buffer_.find('\n');
            if (end != std::string::npos && end <= maxLength) {
                std::string line = buffer_.substr(0, end);
                if (!line.empty() && line.back() == '\r') line.pop_back();
                buffer_.erase(0, end + 1);
                return line;
            }
            if (end != std::string::npos || buffer_.size() > maxLength)
                throw EHttpResponseError("A line of the answer is longer than " + std::to_string(maxLength) + " bytes.");
            if (!Fill()) ThrowConnectionLost();
        }
    }

    std::string ReadExactly(std::size_t count) {
        while (buffer_.size() < count)
            if (!Fill()) ThrowConnectionLost();
        std::string bytes = buffer_.substr(0, count);
        buffer_.erase(0, count);
        return bytes;
    }

    [[noreturn]] static void ThrowBodyTooLarge() {
        throw EHttpResponseError("The answer's body is longer than " + std::to_string(kMaxBodyBytes) + " bytes.");
    }

    std::string ReadChunkedBody() {
        std::string body;
        for (;;) {
            std::string line = ReadLine(kMaxChunkLine);
            std::size_t semicolon = line.find(';');
            std::string digits = TrimBlanks(line.substr(0, semicolon));
            if (digits.empty()) throw EHttpResponseError("Invalid chunk size in the answer.");
            std::size_t size = 0;
            for (char c : digits) {
                int v;
                if (c >= '0' && c <= '9') v = c - '0';
                else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
                else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
                else throw EHttpResponseError("Invalid chunk size in the answer.");
                size = size * 16 + static_cast<std::size_t>(v);
                if (size > kMaxBodyBytes) ThrowBodyTooLarge();
            }
            if (size == 0) break;
            if (body.size() + size > kMaxBodyBytes) ThrowBodyTooLarge();
            body += ReadExactly(size);
            if (!ReadLine(kMaxChunkLine).empty()) throw EHttpResponseError("A chunk of the answer is not ended by CR LF.");
        }
        // Trailer fields up to the empty line.
        std::size_t trailerBytes = 0;
        for (;;) {
            std::string line = ReadLine(kMaxChunkLine);
            if (line.empty()) break;
            trailerBytes += line.size();
            if (trailerBytes > kMaxHeaderBytes) throw EHttpResponseError("The answer's trailer is too long.");
        }
        return body;
    }

    std::string ReadBodyToClose() {
        while (Fill())
            if (buffer_.size() > kMaxBodyBytes) ThrowBodyTooLarge();
        std::string body;
        body.swap(buffer_);
        return body;
    }

    THttpResponse ReadResponse() {
        for (int interim = 0; interim <= kMaxInterimAnswers; ++interim) {
            std::string block = ReadHeaderBlock();
            THttpResponse response;
            std::size_t lineEnd = block.find('\n');
            response.StatusLine = TrimBlanks(block.substr(0, lineEnd));
            response.Status = ParseStatusLine(response.StatusLine);
            if (response.Status >= 100 && response.Status < 200) continue;  // "100 Continue" and the like

            long long contentLength = -1;
            bool chunked = false;
            std::size_t pos = lineEnd;
            while (pos != std::string::npos && pos < block.size()) {
                std::size_t next = block.find('\n', pos + 1);
                std::string line = block.substr(pos + 1, next == std::string::npos ? std::string::npos : next - pos - 1);
                pos = next;
                line = TrimBlanks(line);
                if (line.empty()) continue;
                std::size_t colon = line.find(':');
                if (colon == std::string::npos || colon == 0)
                    throw EHttpResponseError("Invalid header line in the answer: \"" + Printable(line, 60) + "\"");
                std::string name = TrimBlanks(line.substr(0, colon));
                std::string value = TrimBlanks(line.substr(colon + 1));
                if (StartsWithNoCase(name, "content-length") && name.size() == 14) {
                    long long length = ParseContentLength(value);
                    if (contentLength >= 0 && contentLength != length)
                        throw EHttpResponseError("The answer gives two different content lengths.");
                    contentLength = length;
                } else if (StartsWithNoCase(name, "transfer-encoding") && name.size() == 17) {
                    std::size_t comma = value.rfind(',');
                    std::string last = TrimBlanks(comma == std::string::npos ? value : value.substr(comma + 1));
                    if (StartsWithNoCase(last, "chunked") && last.size() == 7) chunked = true;
                    else throw EHttpResponseError("Unsupported transfer encoding in the answer: " + Printable(value, 60));
                }
            }

            if (response.Status == 204 || response.Status == 304) return response;
            if (chunked) response.Body = ReadChunkedBody();
            else if (contentLength >= 0) response.Body = ReadExactly(static_cast<std::size_t>(contentLength));
            else response.Body = ReadBodyToClose();
            return response;
        }
        throw EHttpResponseError("The answer holds too many interim responses.");
    }

    static int ParseStatusLine(const std::string& line) {
        // HTTP/<digit>.<digit> <three digits>[ <reason>]
        bool ok = line.size() >= 12 && line.compare(0, 5, "HTTP/") == 0 && IsDigit(line[5]) && line[6] == '.' &&
                  IsDigit(line[7]) && line[8] == ' ' && IsDigit(line[9]) && IsDigit(line[10]) && IsDigit(line[11]) &&
                  (line.size() == 12 || line[12] == ' ');
        if (!ok) throw EHttpResponseError("Invalid status line in the answer: \"" + Printable(line, 60) + "\"");
        return (line[9] - '0') * 100 + (line[10] - '0') * 10 + (line[11] - '0');
    }

    static bool IsDigit(char c) { return c >= '0' && c <= '9'; }

    static long long ParseContentLength(const std::string& value) {
        if (value.empty()) throw EHttpResponseError("Invalid content length in the answer.");
        long long length = 0;
        for (char c : value) {
            if (!IsDigit(c)) throw EHttpResponseError("Invalid content length in the answer: " + Printable(value, 30));
            length = length * 10 + (c - '0');
            if (length > static_cast<long long>(kMaxBodyBytes)) ThrowBodyTooLarge();
        }
        return length;
    }

    RegistratorTimeouts timeouts_;
    SOCKET socket_ = INVALID_SOCKET;
    Clock::time_point deadline_{};
    std::string buffer_;
};

// --- the service requests ---------------------------------------------------------------

RegistratorTimeouts g_timeouts;

const wchar_t kProgramKeyText[] = L"HKEY_LOCAL_MACHINE\\Software\\Kestrane\\Vantrel";

// The extension and type go into the query as they are. Only bytes that cannot stand in
// an HTTP request line (blanks, control characters, non-ASCII, "#") are written as %XX,
// so a name can never break the request apart.
std::string QueryText(const std::wstring& text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : WideToUtf8(text)) {
        if (c <= 0x20 || c >= 0x7F || c == '#') {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

// The body as text: UTF-8 when it is valid UTF-8, otherwise the ANSI code page.
std::wstring BodyText(const std::string& body) {
    if (body.empty()) return {};
    int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, body.data(), static_cast<int>(body.size()), nullptr, 0);
    if (n > 0) return Utf8ToWide(body);
    return AnsiToWide(body);
}

std::string FailureText(const char* className, const char* message) {
    return std::string(className) + ":\r\n" + message;
}

void Request(const std::string& target) {
    try {
        const int port = GetServicePort();
        THttpClient client(g_timeouts);
        THttpResponse response = client.Get(port, target);
        if (response.Status == 200 && response.Body == "OK") return;
        const std::wstring body = BodyText(response.Body);
        if (response.Status == 201) throw IconRegisterException(body, 4);
        if (response.Status == 203) throw IconRegisterException(body, 3);
        throw IconRegisterException(L"Unexpected registrator response:\r\n" + body, 5);
    } catch (const IconRegisterException&) {
        throw;
    } catch (const ESocketError& e) {
        throw IconRegisterException(FailureText(e.ClassName(), e.what()), 6);
    } catch (const EHttpClientError& e) {
        throw IconRegisterException(FailureText(e.ClassName(), e.what()), 7);
    } catch (const ERegistryException& e) {
        throw IconRegisterException(FailureText("ERegistryException", e.what()), 7);
    } catch (const Error& e) {
        throw IconRegisterException(FailureText("Error", e.what()), 7);
    }
}

}  // namespace

RegistratorTimeouts GetRegistratorTimeouts() { return g_timeouts; }
void SetRegistratorTimeouts(const RegistratorTimeouts& timeouts) { g_timeouts = timeouts; }

int GetServicePort() {
    constexpr int kDefaultPort = 8080;
    HKEY key = nullptr;
    // The 32-bit view, where the service's installer writes, in the 64-bit program too.
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Kestrane\\Vantrel", 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY, &key) !=
        ERROR_SUCCESS)
        return kDefaultPort;
    DWORD type = 0, value = 0, size = sizeof(value);
    LONG rc = RegQueryValueExW(key, L"ServicePort", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(key);
    if (rc == ERROR_FILE_NOT_FOUND) return kDefaultPort;
    const std::string where = "The value \"ServicePort\" of " + WideToUtf8(kProgramKeyText);
    if (rc == ERROR_MORE_DATA || (rc == ERROR_SUCCESS && (type != REG_DWORD || size != sizeof(value))))
        throw ERegistryException(where + " is not an integer (DWORD) value.");
    if (rc != ERROR_SUCCESS)
        throw ERegistryException(where + " cannot be read: " + WideToUtf8(SystemErrorMessage(static_cast<unsigned long>(rc))));
    if (value == 0 || value > 65535)
        throw ERegistryException(where + " is " + std::to_string(static_cast<long>(static_cast<std::int32_t>(value))) +
                                 ", not a TCP port number (1 to 65535).");
    return static_cast<int>(value);
}

void RegisterFileType(const std::wstring& extension, const std::wstring& type) {
    Request("/?ext=" + QueryText(extension) + "&filetype=" + QueryText(type));
}

void UnregisterAll() { Request("/unregall"); }

}  // namespace vantrel
