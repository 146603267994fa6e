// The registrator client against a real HTTP server on 127.0.0.1 run by the test itself,
// and the "ServicePort" setting in the real registry.
#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "registration/LoopbackServer.h"
#include "app/registration/RegistratorClient.h"

using namespace vantrel;
using namespace testsupport;

namespace {

// Short time limits so the silent-service cases end quickly.
class RegistratorTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = GetRegistratorTimeouts();
        SetRegistratorTimeouts({2000, 1500});
    }
    void TearDown() override { SetRegistratorTimeouts(saved_); }

    RegistratorTimeouts saved_;
};

struct Failure {
    int code = 0;
    std::string message;
};

template <typename F>
Failure Fails(F&& call) {
    try {
        call();
    } catch (const IconRegisterException& e) {
        return {e.ErrorCode, e.what()};
    }
    return {0, "no failure"};
}

Failure RegisterTxtAgainst(const std::string& response) {
    LoopbackServer server(response);
    EXPECT_TRUE(server.ok());
    ScopedServicePort port(static_cast<DWORD>(server.port()));
    return Fails([] { RegisterFileType(L".txt", L"txtfile"); });
}

std::string RequestLine(const std::string& head) { return head.substr(0, head.find("\r\n")); }

}  // namespace

TEST_F(RegistratorTest, ServicePortSetting) {
    {
        ScopedServicePort none(std::nullopt);
        EXPECT_EQ(GetServicePort(), 8080);
    }
    {
        ScopedServicePort set(8123u);
        EXPECT_EQ(GetServicePort(), 8123);
    }
    // Values that name no port are refused with a clear message, and a request made with
    // them fails as a client failure rather than talking to some other port.
    const wchar_t text[] = L"8123";
    ScopedServicePort asText(REG_SZ, text, sizeof(text));
    EXPECT_THROW(GetServicePort(), ERegistryException);
    Failure f = Fails([] { UnregisterAll(); });
    EXPECT_EQ(f.code, 7);
    EXPECT_EQ(f.message.rfind("ERegistryException:\r\nThe value \"ServicePort\"", 0), 0u) << f.message;

    for (DWORD bad : {0ul, 65536ul, 0xFFFFFFFFul}) {
        ScopedServicePort outOfRange(bad);
        try {
            GetServicePort();
            ADD_FAILURE() << bad;
        } catch (const ERegistryException& e) {
            EXPECT_NE(std::string(e.what()).find("not a TCP port number"), std::string::npos) << e.what();
        }
    }
}

TEST_F(RegistratorTest, RequestsAsTheServiceExpectsThem) {
    LoopbackServer server(LoopbackServer::Response(200, "OK", "OK"));
    ASSERT_TRUE(server.ok());
    ScopedServicePort port(static_cast<DWORD>(server.port()));

    EXPECT_NO_THROW(RegisterFileType(L".txt", L"txtfile"));
    EXPECT_NO_THROW(UnregisterAll());
    // Names are sent as they are; only what cannot stand in a request line is escaped,
    // so a name can never split the request.
    EXPECT_NO_THROW(RegisterFileType(L".my ext", L"Odd&Type=1\r\nX-Injected: 1"));
    EXPECT_NO_THROW(RegisterFileType(L".\u00e9t\u00e9", L"\u00e9t\u00e9file"));

    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(RequestLine(requests[0]), "GET /?ext=.txt&filetype=txtfile HTTP/1.1");
    EXPECT_NE(requests[0].find("\r\nHost: 127.0.0.1:" + std::to_string(server.port())), std::string::npos);
    EXPECT_EQ(RequestLine(requests[1]), "GET /unregall HTTP/1.1");
    EXPECT_EQ(RequestLine(requests[2]), "GET /?ext=.my%20ext&filetype=Odd&Type=1%0D%0AX-Injected:%201 HTTP/1.1");
    EXPECT_EQ(requests[2].find("\r\nX-Injected"), std::string::npos);
    EXPECT_EQ(RequestLine(requests[3]), "GET /?ext=.%C3%A9t%C3%A9&filetype=%C3%A9t%C3%A9file HTTP/1.1");
}

TEST_F(RegistratorTest, DefaultPortIs8080) {
    LoopbackServer server(LoopbackServer::Response(200, "OK", "OK"), LoopbackServer::Behaviour::Answer, 8080);
    if (!server.ok()) GTEST_SKIP() << "port 8080 is in use on this machine";
    ScopedServicePort none(std::nullopt);
    EXPECT_NO_THROW(UnregisterAll());
    EXPECT_EQ(server.requests().size(), 1u);
}

TEST_F(RegistratorTest, AnswersOtherThanOkAreRefused) {
    struct Case {
        std::string response;
        int code;
        std::string message;
    } cases[] = {
        // Only status 200 with exactly "OK" is success.
        {LoopbackServer::Response(200, "OK", "ok"), 5, "Unexpected registrator response:\r\nok"},
        {LoopbackServer::Response(200, "OK", "OK\r\n"), 5, "Unexpected registrator response:\r\nOK\r\n"},
        {LoopbackServer::Response(200, "OK", " OK"), 5, "Unexpected registrator response:\r\n OK"},
        {LoopbackServer::Response(200, "OK", ""), 5, "Unexpected registrator response:\r\n"},
        {LoopbackServer::Response(302, "Found", "moved"), 5, "Unexpected registrator response:\r\nmoved"},
        // 201 and 203 carry the service's own text, passed on as it came (UTF-8 included).
        {LoopbackServer::Response(201, "Created", "Type is machine-wide: \xC3\xA9t\xC3\xA9"), 4,
         "Type is machine-wide: \xC3\xA9t\xC3\xA9"},
        {LoopbackServer::Response(203, "Non-Authoritative Information", "Access denied\r\nby policy"), 3,
         "Access denied\r\nby policy"},
        {LoopbackServer::Response(201, "Created", ""), 4, ""},
        // Error statuses are failures of the client itself.
        {LoopbackServer::Response(404, "Not Found", "<html>no</html>"), 7, "EHttpProtocolError:\r\nHTTP/1.1 404 Not Found"},
        {LoopbackServer::Response(500, "Internal Server Error", ""), 7,
         "EHttpProtocolError:\r\nHTTP/1.1 500 Internal Server Error"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.response);
        Failure f = RegisterTxtAgainst(c.response);
        EXPECT_EQ(f.code, c.code);
        EXPECT_EQ(f.message, c.message);
    }
}

TEST_F(RegistratorTest, AnswerFormsTheClientReads) {
    const std::string good[] = {
        // Chunked body, interim "100 Continue", body up to the close, lower-case header names.
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1\r\nO\r\n1;x=y\r\nK\r\n0\r\nX-Trailer: 1\r\n\r\n",
        "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\ncontent-length: 2\r\n\r\nOK",
        "HTTP/1.0 200 OK\r\n\r\nOK",
        "HTTP/1.1 200\nContent-Length: 2\n\nOK",
    };
    for (const std::string& response : good) {
        SCOPED_TRACE(response);
        EXPECT_EQ(RegisterTxtAgainst(response).code, 0);
    }

    // Malformed or oversized answers are client failures (7), with no read past what came.
    const std::string bad[] = {
        "garbage that is not HTTP\r\n\r\n",
        "HTTP/1.1 2x0 OK\r\n\r\nOK",
        "HTTP/1.1 200 OK\r\nContent-Length: 2x\r\n\r\nOK",
        "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nContent-Length: 3\r\n\r\nOK",
        "HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999\r\n\r\nOK",
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\nOK\r\n0\r\n\r\n",
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nFFFFFFFFFFFFFFFFFFFF\r\n",
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip\r\n\r\nOK",
        "HTTP/1.1 200 OK\r\nNoColonHere\r\n\r\nOK",
        "HTTP/1.1 200 OK\r\n\r\n" + std::string(70000, 'x'),
        "HTTP/1.1 200 OK\r\nX-Long: " + std::string(20000, 'h') + "\r\n\r\nOK",
    };
    for (const std::string& response : bad) {
        SCOPED_TRACE(response.substr(0, 80));
        Failure f = RegisterTxtAgainst(response);
        EXPECT_EQ(f.code, 7);
        EXPECT_EQ(f.message.rfind("EHttpResponseError:\r\n", 0), 0u) << f.message;
    }
}

TEST_F(RegistratorTest, SocketFailuresAreCodeSix) {
    {
        // Nothing listens on the port.
        ScopedServicePort port(static_cast<DWORD>(UnusedLoopbackPort()));
        Failure f = Fails([] { RegisterFileType(L".txt", L"txtfile"); });
        EXPECT_EQ(f.code, 6);
        EXPECT_EQ(f.message.rfind("ESocketError:\r\nSocket Error # 10061", 0), 0u) << f.message;
        // Every request tries anew: once per file that needs it.
        EXPECT_EQ(Fails([] { RegisterFileType(L".txt", L"txtfile"); }).code, 6);
    }
    {
        // The service takes the request and closes without a word.
        LoopbackServer server("", LoopbackServer::Behaviour::CloseAtOnce);
        ScopedServicePort port(static_cast<DWORD>(server.port()));
        Failure f = Fails([] { UnregisterAll(); });
        EXPECT_EQ(f.code, 6);
        EXPECT_EQ(f.message.rfind("ESocketError:\r\n", 0), 0u) << f.message;
    }
    {
        // The connection ends before the announced body is complete.
        Failure f = RegisterTxtAgainst("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nOK");
        EXPECT_EQ(f.code, 6);
        EXPECT_EQ(f.message.rfind("ESocketError:\r\n", 0), 0u) << f.message;
    }
}

TEST_F(RegistratorTest, SilentServiceEndsTheRequestInTime) {
    // A service that accepts the connection and never answers.
    LoopbackServer server("", LoopbackServer::Behaviour::Silent);
    ASSERT_TRUE(server.ok());
    ScopedServicePort port(static_cast<DWORD>(server.port()));
    SetRegistratorTimeouts({2000, 700});
    const auto start = std::chrono::steady_clock::now();
    Failure f = Fails([] { RegisterFileType(L".txt", L"txtfile"); });
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(f.code, 6);
    EXPECT_EQ(f.message.rfind("ESocketTimeout:\r\n", 0), 0u) << f.message;
    EXPECT_GE(ms, 600);
    EXPECT_LT(ms, 5000);

    // A service that answers half a head and then falls silent is bounded the same way.
    LoopbackServer half("HTTP/1.1 200 OK\r\nContent-", LoopbackServer::Behaviour::Silent);
    ScopedServicePort port2(static_cast<DWORD>(half.port()));
    EXPECT_EQ(Fails([] { UnregisterAll(); }).code, 6);
}

TEST_F(RegistratorTest, ConnectThatNeverCompletesEndsInTime) {
    // A listener that never accepts, its queue filled by other connections: a further
    // connection attempt gets no answer from the system at all.
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int len = sizeof(address);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ASSERT_EQ(listen(listener, 1), 0);
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &len);
    std::vector<SOCKET> fillers;
    for (int i = 0; i < 8; ++i) {
        SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        u_long nonBlocking = 1;
        ioctlsocket(s, FIONBIO, &nonBlocking);
        connect(s, reinterpret_cast<sockaddr*>(&address), sizeof(address));
        fillers.push_back(s);
    }
    Sleep(200);

    ScopedServicePort port(static_cast<DWORD>(ntohs(address.sin_port)));
    SetRegistratorTimeouts({500, 1500});
    const auto start = std::chrono::steady_clock::now();
    Failure f = Fails([] { UnregisterAll(); });
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    for (SOCKET s : fillers) closesocket(s);
    closesocket(listener);
    WSACleanup();

    EXPECT_EQ(f.code, 6);
    EXPECT_LT(ms, 4000);
    EXPECT_EQ(f.message.rfind("ESocketTimeout:\r\nConnect timed out", 0), 0u) << f.message;
}
