// The registrator's request parser: what gets through, what is refused and with which
// status, and that incomplete input asks for more only while nothing is wrong yet.
#include <gtest/gtest.h>

#include <string>

#include "registrator/RequestParser.h"

namespace reg = vantrel::registrator;

namespace {

constexpr int kPort = 8080;

std::string Get(const std::string& target, const std::string& extraHeaders = "",
                const std::string& host = "127.0.0.1:8080") {
    return "GET " + target + " HTTP/1.1\r\nHost: " + host + "\r\n" + extraHeaders + "\r\n";
}

reg::ParsedRequest Parse(const std::string& bytes) { return reg::ParseRequest(bytes, kPort); }

TEST(RequestParser, AcceptsTheTwoRequestsOfTheProgramsClient) {
    // Exactly what the program's client sends.
    auto r = Parse("GET /?ext=.txt&filetype=txtfile HTTP/1.1\r\nHost: 127.0.0.1:8080\r\n"
                   "Accept: text/html, */*\r\nUser-Agent: Vantrel/1.0\r\nConnection: close\r\n\r\n");
    ASSERT_EQ(r.State, reg::ParseState::Done);
    EXPECT_EQ(r.Kind, reg::RequestKind::Register);
    EXPECT_EQ(r.Extension, ".txt");
    EXPECT_EQ(r.Type, "txtfile");

    r = Parse(Get("/unregall", "", "localhost:8080"));
    EXPECT_EQ(r.Kind, reg::RequestKind::UnregisterAll);

    r = Parse(Get("/?filetype=Word.Document.12&ext=.docx", "", "LOCALHOST:8080"));
    EXPECT_EQ(r.Kind, reg::RequestKind::Register);
    EXPECT_EQ(r.Type, "Word.Document.12");
    EXPECT_EQ(r.Extension, ".docx");
}

TEST(RequestParser, AsksForMoreOnlyWhileTheHeadIsIncompleteAndClean) {
    std::string full = Get("/unregall");
    for (std::size_t n = 0; n < full.size(); ++n)
        EXPECT_EQ(Parse(full.substr(0, n)).State, reg::ParseState::NeedMore) << n;
    EXPECT_EQ(Parse(full).Kind, reg::RequestKind::UnregisterAll);
    // Wrong from the first bytes on: no waiting for the rest.
    for (const char* junk : {"\x16\x03\x01", "get ", "G3T", "\r\n", "SSH-2.0", "{\"a\":1}"}) {
        auto r = Parse(junk);
        EXPECT_EQ(r.State, reg::ParseState::Done) << junk;
        EXPECT_EQ(r.Status, reg::kStatusBadRequest) << junk;
    }
}

struct Refusal {
    const char* name;
    std::string bytes;
    int status;
};

TEST(RequestParser, RefusesHostileAndMalformedRequests) {
    const std::string longName(65, 'a');
    const Refusal cases[] = {
        // The parameters: nothing but a dot and a short safe run, one key name.
        {"traversal in type", Get("/?ext=.txt&filetype=..\\..\\CLSID"), reg::kStatusBadRequest},
        {"backslash in type", Get("/?ext=.txt&filetype=txtfile\\ShellEx"), reg::kStatusBadRequest},
        {"slash in type", Get("/?ext=.txt&filetype=txtfile/ShellEx"), reg::kStatusNotAcceptable},
        {"dot-dot in type", Get("/?ext=.txt&filetype=a..b"), reg::kStatusNotAcceptable},
        {"type is an extension", Get("/?ext=.txt&filetype=.txt"), reg::kStatusNotAcceptable},
        {"type is CLSID", Get("/?ext=.txt&filetype=clsid"), reg::kStatusNotAcceptable},
        {"type is Directory", Get("/?ext=.txt&filetype=Directory"), reg::kStatusNotAcceptable},
        {"type too long", Get("/?ext=.txt&filetype=" + longName), reg::kStatusNotAcceptable},
        {"type empty", Get("/?ext=.txt&filetype="), reg::kStatusNotAcceptable},
        {"percent escape", Get("/?ext=.txt&filetype=txt%66ile"), reg::kStatusNotAcceptable},
        {"encoded backslash", Get("/?ext=.txt&filetype=a%5cb"), reg::kStatusNotAcceptable},
        {"ext without dot", Get("/?ext=txt&filetype=txtfile"), reg::kStatusNotAcceptable},
        {"ext two dots", Get("/?ext=.tar.gz&filetype=txtfile"), reg::kStatusNotAcceptable},
        {"ext traversal", Get("/?ext=.\\..\\x&filetype=txtfile"), reg::kStatusBadRequest},
        {"ext too long", Get("/?ext=.abcdefghijklmnopq&filetype=txtfile"), reg::kStatusNotAcceptable},
        {"ext star", Get("/?ext=*&filetype=txtfile"), reg::kStatusNotAcceptable},
        {"ext twice", Get("/?ext=.txt&ext=.ini&filetype=txtfile"), reg::kStatusNotAcceptable},
        {"extra parameter", Get("/?ext=.txt&filetype=txtfile&clsid=x"), reg::kStatusNotAcceptable},
        {"missing type", Get("/?ext=.txt"), reg::kStatusNotAcceptable},
        {"parameter without value", Get("/?ext&filetype=txtfile"), reg::kStatusNotAcceptable},
        {"space in type", "GET /?ext=.txt&filetype=txt file HTTP/1.1\r\nHost: 127.0.0.1:8080\r\n\r\n",
         reg::kStatusBadRequest},
        {"non-ASCII in type", Get("/?ext=.txt&filetype=t\xc3\xa4xt"), reg::kStatusBadRequest},
        {"NUL in target", Get(std::string("/?ext=.txt&filetype=txtfile\0x", 29)), reg::kStatusBadRequest},
        // The paths.
        {"root without query", Get("/"), reg::kStatusNotFound},
        {"other path", Get("/admin"), reg::kStatusNotFound},
        {"unregall with query", Get("/unregall?x=1"), reg::kStatusNotFound},
        {"register on other path", Get("/reg?ext=.txt&filetype=txtfile"), reg::kStatusNotFound},
        {"absolute form", Get("http://127.0.0.1:8080/unregall"), reg::kStatusBadRequest},
        {"POST", "POST /unregall HTTP/1.1\r\nHost: 127.0.0.1:8080\r\n\r\n", reg::kStatusMethodNotAllowed},
        // Host: DNS rebinding and other peers' names.
        {"foreign host", Get("/unregall", "", "evil.example:8080"), reg::kStatusForbidden},
        {"rebinding host", Get("/unregall", "", "127.0.0.1.nip.io:8080"), reg::kStatusForbidden},
        {"wrong port", Get("/unregall", "", "127.0.0.1:8081"), reg::kStatusForbidden},
        {"no port", Get("/unregall", "", "127.0.0.1"), reg::kStatusForbidden},
        {"leading zero port", Get("/unregall", "", "127.0.0.1:08080"), reg::kStatusForbidden},
        {"user info", Get("/unregall", "", "a@127.0.0.1:8080"), reg::kStatusForbidden},
        {"missing host", "GET /unregall HTTP/1.1\r\n\r\n", reg::kStatusBadRequest},
        {"two hosts", Get("/unregall", "Host: evil.example\r\n"), reg::kStatusBadRequest},
        // The framing.
        {"bare LF", "GET /unregall HTTP/1.1\nHost: 127.0.0.1:8080\n\n", reg::kStatusBadRequest},
        {"folded header", Get("/unregall", "X-A: 1\r\n continued\r\n"), reg::kStatusBadRequest},
        {"body", Get("/unregall", "Content-Length: 5\r\n"), reg::kStatusBadRequest},
        {"chunked", Get("/unregall", "Transfer-Encoding: chunked\r\n"), reg::kStatusBadRequest},
        {"HTTP/2 version", "GET /unregall HTTP/2.0\r\nHost: 127.0.0.1:8080\r\n\r\n", reg::kStatusBadRequest},
        {"double space", "GET  /unregall HTTP/1.1\r\nHost: 127.0.0.1:8080\r\n\r\n", reg::kStatusBadRequest},
        {"header without colon", Get("/unregall", "Junk\r\n"), reg::kStatusBadRequest},
    };
    for (const Refusal& c : cases) {
        auto r = Parse(c.bytes);
        EXPECT_EQ(r.State, reg::ParseState::Done) << c.name;
        EXPECT_EQ(r.Kind, reg::RequestKind::Refused) << c.name;
        EXPECT_EQ(r.Status, c.status) << c.name;
        EXPECT_FALSE(r.Reason.empty()) << c.name;
        // Nothing of the request is reflected in the answer.
        EXPECT_EQ(r.Reason.find("evil"), std::string::npos) << c.name;
    }
}

TEST(RequestParser, LimitsTheHeadSizeAndFieldCountEvenBeforeItEnds) {
    reg::RequestLimits limits;
    std::string many = "GET /unregall HTTP/1.1\r\nHost: 127.0.0.1:8080\r\n";
    for (std::size_t i = 0; i < limits.MaxHeaderFields; ++i) many += "X: y\r\n";
    EXPECT_EQ(Parse(many + "\r\n").Status, reg::kStatusHeadTooLarge);
    // An endless head of short fields is cut off before the size limit.
    auto r = Parse(many + "X: y\r\n");
    EXPECT_EQ(r.State, reg::ParseState::Done);
    EXPECT_EQ(r.Status, reg::kStatusHeadTooLarge);
    // One endless field.
    std::string huge = "GET /unregall HTTP/1.1\r\nHost: 127.0.0.1:8080\r\nX: " + std::string(limits.MaxHeadBytes, 'a');
    EXPECT_EQ(Parse(huge).Status, reg::kStatusHeadTooLarge);
    // A complete head that is one byte too large.
    std::string pad = Get("/unregall", "X: ");
    std::string exact = Get("/unregall", "X: " + std::string(limits.MaxHeadBytes - pad.size() - 2, 'a') + "\r\n");
    ASSERT_EQ(exact.size(), limits.MaxHeadBytes);
    EXPECT_EQ(Parse(exact).Kind, reg::RequestKind::UnregisterAll);
    std::string over = Get("/unregall", "X: " + std::string(limits.MaxHeadBytes - pad.size() - 1, 'a') + "\r\n");
    EXPECT_EQ(Parse(over).Status, reg::kStatusHeadTooLarge);
}

TEST(RequestParser, NamesAndAnswers) {
    EXPECT_TRUE(reg::IsValidExtension(".c++"));
    EXPECT_TRUE(reg::IsValidExtension(".7z"));
    EXPECT_FALSE(reg::IsValidExtension("."));
    EXPECT_TRUE(reg::IsValidTypeName("Notepad++_file"));
    EXPECT_TRUE(reg::IsValidTypeName("Microsoft.PowerShellScript.1"));
    EXPECT_FALSE(reg::IsValidTypeName("Wow6432Node"));
    EXPECT_FALSE(reg::IsValidTypeName("-x"));

    EXPECT_EQ(reg::BuildResponse(200, "OK"),
              "HTTP/1.1 200 OK\r\nContent-Type: text/plain; charset=us-ascii\r\nContent-Length: 2\r\n"
              "Cache-Control: no-store\r\nConnection: close\r\n\r\nOK");
    EXPECT_EQ(reg::BuildResponse(203, "why").rfind("HTTP/1.1 203 ", 0), 0u);
}

}  // namespace
