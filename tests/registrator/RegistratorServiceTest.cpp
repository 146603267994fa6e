// The real VantrelRegistrator.exe under Wine: in console mode and as an installed service,
// driven by the program's own client (RegisterFileType, UnregisterAll) and by raw sockets
// sending hostile requests. Every refusal must leave the registry as it was.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "registration/LoopbackServer.h"
#include "TestSupport.h"
#include "app/registration/RegisterIconHandlerUnit.h"
#include "app/registration/RegistratorClient.h"

using namespace testsupport;

namespace {

const std::wstring kClasses = L"Software\\Classes\\";
const std::wstring kRecord = L"Software\\Kestrane\\Vantrel\\Registrations";
const std::wstring kOurs = vantrel::ShellExtensionCLSID;
const std::wstring kForeign = L"{11111111-2222-3333-4444-555555555555}";
constexpr REGSAM kViews[] = {KEY_WOW64_64KEY, KEY_WOW64_32KEY};

void SetDefault(const std::wstring& key, const std::wstring& value, REGSAM view) {
    HKEY k = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE | view, nullptr, &k, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(k, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(k);
}

void DeleteTree(const std::wstring& key, REGSAM view) {
    HKEY k = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_ALL_ACCESS | view, &k) == ERROR_SUCCESS) {
        RegDeleteTreeW(k, nullptr);
        RegCloseKey(k);
    }
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), view, 0);
}

bool KeyExists(const std::wstring& key, REGSAM view) {
    HKEY k = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ | view, &k) != ERROR_SUCCESS) return false;
    RegCloseKey(k);
    return true;
}

// The default value of a key, "<missing>" when there is none.
std::wstring Default(const std::wstring& key, REGSAM view) {
    HKEY k = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_QUERY_VALUE | view, &k) != ERROR_SUCCESS) return L"<missing>";
    wchar_t buffer[512] = {};
    DWORD size = sizeof(buffer) - sizeof(wchar_t), type = 0;
    LONG rc = RegQueryValueExW(k, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(k);
    if (rc != ERROR_SUCCESS || type != REG_SZ) return L"<missing>";
    return buffer;
}

std::wstring Handler(const std::wstring& type, REGSAM view = KEY_WOW64_64KEY) {
    return Default(kClasses + type + L"\\ShellEx\\IconHandler", view);
}

std::vector<std::wstring> RecordEntries() {
    std::vector<std::wstring> names;
    HKEY k = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRecord.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &k) != ERROR_SUCCESS) return names;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD length = 256;
        if (RegEnumValueW(k, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.emplace_back(name, length);
    }
    RegCloseKey(k);
    return names;
}

// The test types: .vtra/.vtrb free, .vtrc with another handler, vtrother a type of no
// extension here, .vtrb's type with a ShellEx key of its own already.
const wchar_t* const kTypes[] = {L"vtrafile", L"vtrbfile", L"vtrcfile", L"vtrother"};
const wchar_t* const kExts[] = {L".vtra", L".vtrb", L".vtrc"};

// Everything a request could change, as one comparable map.
std::map<std::wstring, std::wstring> Snapshot() {
    std::map<std::wstring, std::wstring> s;
    for (REGSAM view : kViews) {
        std::wstring tag = view == KEY_WOW64_64KEY ? L"64:" : L"32:";
        for (const wchar_t* t : kTypes) {
            s[tag + t + L"\\ShellEx"] = KeyExists(kClasses + t + L"\\ShellEx", view) ? L"key" : L"none";
            s[tag + t + L"\\IconHandler"] = Handler(t, view);
        }
        for (const wchar_t* e : kExts) s[tag + e] = Default(kClasses + e, view);
        s[tag + L"CLSID-ours"] = KeyExists(kClasses + L"CLSID\\" + kOurs + L"\\ShellEx", view) ? L"key" : L"none";
    }
    for (const auto& entry : RecordEntries()) s[L"record:" + entry] = L"1";
    return s;
}

std::wstring Exe() { return DistFolder() + L"\\VantrelRegistrator.exe"; }

DWORD RunTool(const std::wstring& option) {
    std::wstring cmd = L"\"" + Exe() + L"\" " + option;
    STARTUPINFOW si{};
        si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return 9999;
    WaitForSingleObject(pi.hProcess, 60000);
    DWORD code = 9998;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code;
}

bool CanConnect(int port) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<u_short>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0;
    closesocket(s);
    return ok;
}

bool WaitListening(int port, bool listening = true) {
    for (int i = 0; i < 150; ++i) {
        if (CanConnect(port) == listening) return true;
        Sleep(100);
    }
    return false;
}

// VantrelRegistrator.exe --console as a child process.
class ConsoleService {
public:
    explicit ConsoleService(int port) : port_(port) { Start(); }
    ~ConsoleService() { Kill(); }
    void Start() {
        std::wstring cmd = L"\"" + Exe() + L"\" --console";
        STARTUPINFOW si{};
        si.cb = sizeof(si);
        ASSERT_TRUE(CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi_));
        ASSERT_TRUE(WaitListening(port_)) << "the service does not listen";
    }
    bool Alive() const { return pi_.hProcess && WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT; }
    // Ends the process the hard way: nothing may depend on a clean stop.
    void Kill() {
        if (!pi_.hProcess) return;
        TerminateProcess(pi_.hProcess, 1);
        WaitForSingleObject(pi_.hProcess, 10000);
        CloseHandle(pi_.hThread);
        CloseHandle(pi_.hProcess);
        pi_ = {};
        WaitListening(port_, false);
    }

private:
    int port_;
    PROCESS_INFORMATION pi_{};
};

struct RawAnswer {
    int Status = 0;  // 0: no answer
    std::string Text;
};

SOCKET Connect(int port) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<u_short>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    return s;
}

RawAnswer ReadAnswer(SOCKET s, DWORD timeoutMs = 15000) {
    RawAnswer answer;
    DWORD timeout = timeoutMs;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof(timeout));
    char chunk[4096];
    for (;;) {
        int n = recv(s, chunk, sizeof(chunk), 0);
        if (n <= 0) break;
        answer.Text.append(chunk, n);
    }
    if (answer.Text.rfind("HTTP/1.1 ", 0) == 0) answer.Status = std::atoi(answer.Text.c_str() + 9);
    return answer;
}

// Sends the parts with a pause between them, then reads the answer until the server closes.
RawAnswer Exchange(int port, const std::vector<std::string>& parts, DWORD pauseMs = 0) {
    SOCKET s = Connect(port);
    if (s == INVALID_SOCKET) return {};
    for (const std::string& part : parts) {
        send(s, part.data(), static_cast<int>(part.size()), 0);  // may fail once the server has answered
        if (pauseMs) Sleep(pauseMs);
    }
    RawAnswer answer = ReadAnswer(s);
    closesocket(s);
    return answer;
}

std::string Get(int port, const std::string& target, const std::string& host = "") {
    return "GET " + target + " HTTP/1.1\r\nHost: " + (host.empty() ? "127.0.0.1:" + std::to_string(port) : host) +
           "\r\n\r\n";
}

class RegistratorService : public ::testing::Test {
protected:
    void SetUp() override {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        ASSERT_FALSE(DistFolder().empty());
        Clean();
        for (REGSAM view : kViews) {
            SetDefault(kClasses + L".vtra", L"vtrafile", view);
            SetDefault(kClasses + L"vtrafile", L"Test A", view);
            SetDefault(kClasses + L".vtrb", L"vtrbfile", view);
            SetDefault(kClasses + L"vtrbfile\\ShellEx\\ContextMenuHandlers\\Other", kForeign, view);
            SetDefault(kClasses + L".vtrc", L"vtrcfile", view);
            SetDefault(kClasses + L"vtrcfile\\ShellEx\\IconHandler", kForeign, view);
            SetDefault(kClasses + L"CLSID\\" + kForeign, L"Other Handler", view);
            SetDefault(kClasses + L"vtrother", L"Other type", view);
        }
        port_ = UnusedLoopbackPort();
        portSetting_ = std::make_unique<ScopedServicePort>(static_cast<DWORD>(port_));
    }
    void TearDown() override {
        portSetting_.reset();
        Clean();
        WSACleanup();
    }
    static void Clean() {
        for (REGSAM view : kViews) {
            for (const wchar_t* t : kTypes) DeleteTree(kClasses + t, view);
            for (const wchar_t* e : kExts) DeleteTree(kClasses + e, view);
            DeleteTree(kClasses + L"CLSID\\" + kForeign, view);
        }
        DeleteTree(kRecord, KEY_WOW64_64KEY);
    }
    static int ErrorCodeOf(const std::function<void()>& request, std::string* message = nullptr) {
        try {
            request();
        } catch (const vantrel::IconRegisterException& e) {
            if (message) *message = e.what();
            return e.ErrorCode;
        }
        return 0;
    }

    int port_ = 0;
    std::unique_ptr<ScopedServicePort> portSetting_;
};

TEST_F(RegistratorService, ClientRegistersAndUnregistersMachineWideTypes) {
    ConsoleService service(port_);
    EXPECT_EQ(ErrorCodeOf([] { vantrel::RegisterFileType(L".vtra", L"vtrafile"); }), 0);
    EXPECT_EQ(ErrorCodeOf([] { vantrel::RegisterFileType(L".vtrb", L"vtrbfile"); }), 0);
    for (REGSAM view : kViews) {
        EXPECT_EQ(Handler(L"vtrafile", view), kOurs);
        EXPECT_EQ(Handler(L"vtrbfile", view), kOurs);
    }
    // Asking again changes nothing and succeeds.
    auto before = Snapshot();
    EXPECT_EQ(ErrorCodeOf([] { vantrel::RegisterFileType(L".vtra", L"vtrafile"); }), 0);
    EXPECT_EQ(Snapshot(), before);
    EXPECT_FALSE(RecordEntries().empty());

    EXPECT_EQ(ErrorCodeOf([] { vantrel::UnregisterAll(); }), 0);
    for (REGSAM view : kViews) {
        EXPECT_EQ(Handler(L"vtrafile", view), L"<missing>");
        EXPECT_FALSE(KeyExists(kClasses + L"vtrafile\\ShellEx", view)) << "the keys the service created are gone";
        EXPECT_FALSE(KeyExists(kClasses + L"vtrbfile\\ShellEx\\IconHandler", view));
        EXPECT_TRUE(KeyExists(kClasses + L"vtrbfile\\ShellEx\\ContextMenuHandlers\\Other", view))
            << "keys that were there before stay";
        EXPECT_TRUE(KeyExists(kClasses + L"vtrafile", view));
    }
    EXPECT_TRUE(RecordEntries().empty());
    // Nothing recorded: still OK.
    EXPECT_EQ(ErrorCodeOf([] { vantrel::UnregisterAll(); }), 0);
}

TEST_F(RegistratorService, RefusalsReachTheClientAsTheirCodesAndChangeNothing) {
    ConsoleService service(port_);
    const auto before = Snapshot();
    std::string message;
    // 201: another handler; the body names it.
    EXPECT_EQ(ErrorCodeOf([] { vantrel::RegisterFileType(L".vtrc", L"vtrcfile"); }, &message), 4);
    EXPECT_NE(message.find("{11111111-2222-3333-4444-555555555555}"), std::string::npos) << message;
    EXPECT_NE(message.find("Other Handler"), std::string::npos) << message;
    // 203: a type that does not belong to the extension, an unknown extension, bad names.
    EXPECT_EQ(ErrorCodeOf([] { vantrel::RegisterFileType(L".vtra", L"vtrother"); }, &message), 3);
    EXPECT_NE(message.find("not the machine-wide type"), std::string::npos) << message;
    EXPECT_EQ(ErrorCodeOf([] { vantrel::RegisterFileType(L".vtrz", L"vtrafile"); }, &message), 3);
    EXPECT_EQ(ErrorCodeOf([] { vantrel::RegisterFileType(L".vtra", L"vtrafile/ShellEx"); }), 3);
    EXPECT_EQ(ErrorCodeOf([] { vantrel::RegisterFileType(L"vtra", L"vtrafile"); }), 3);
    EXPECT_EQ(Snapshot(), before);
    EXPECT_TRUE(service.Alive());
}

TEST_F(RegistratorService, UnregisterAllAfterARestartRemovesOnlyWhatIsStillOurs) {
    {
        ConsoleService service(port_);
        EXPECT_EQ(ErrorCodeOf([] { vantrel::RegisterFileType(L".vtra", L"vtrafile"); }), 0);
        EXPECT_EQ(ErrorCodeOf([] { vantrel::RegisterFileType(L".vtrb", L"vtrbfile"); }), 0);
    }  // killed, not stopped
    EXPECT_EQ(ErrorCodeOf([] { vantrel::UnregisterAll(); }), 6) << "nothing listens now";
    // Someone else takes over vtrbfile meanwhile.
    for (REGSAM view : kViews) SetDefault(kClasses + L"vtrbfile\\ShellEx\\IconHandler", kForeign, view);

    ConsoleService again(port_);
    EXPECT_EQ(ErrorCodeOf([] { vantrel::UnregisterAll(); }), 0);
    for (REGSAM view : kViews) {
        EXPECT_EQ(Handler(L"vtrafile", view), L"<missing>");
        EXPECT_EQ(Handler(L"vtrbfile", view), kForeign);
    }
    EXPECT_TRUE(RecordEntries().empty());
}

struct Hostile {
    const char* name;
    std::vector<std::string> parts;
    int status;  // expected answer; 0: none at all (connection just closed)
    DWORD pauseMs = 0;
};

TEST_F(RegistratorService, HostileRequestsAreRefusedWithoutARegistryChange) {
    ConsoleService service(port_);
    const std::string host = "127.0.0.1:" + std::to_string(port_);
    std::string manyFields = "GET /unregall HTTP/1.1\r\nHost: " + host + "\r\n";
    for (int i = 0; i < 200; ++i) manyFields += "X-" + std::to_string(i) + ": y\r\n";
    const std::vector<Hostile> table = {
        {"traversal in type", {Get(port_, "/?ext=.vtra&filetype=..\\..\\CLSID")}, 400},
        {"traversal in ext", {Get(port_, "/?ext=..\\vtra&filetype=vtrafile")}, 400},
        {"slash path in type", {Get(port_, "/?ext=.vtra&filetype=vtrafile/ShellEx/IconHandler")}, 203},
        {"percent-escaped backslash", {Get(port_, "/?ext=.vtra&filetype=vtrafile%5CShellEx")}, 203},
        {"type not of the ext", {Get(port_, "/?ext=.vtra&filetype=vtrother")}, 203},
        {"type of another ext", {Get(port_, "/?ext=.vtra&filetype=vtrbfile")}, 203},
        {"reserved type", {Get(port_, "/?ext=.vtra&filetype=CLSID")}, 203},
        {"foreign Host", {Get(port_, "/?ext=.vtra&filetype=vtrafile", "attacker.example:" + std::to_string(port_))}, 403},
        {"rebinding Host", {Get(port_, "/unregall", "localhost.attacker.example")}, 403},
        {"huge header", {"GET /unregall HTTP/1.1\r\nHost: " + host + "\r\nX: " + std::string(20000, 'a') + "\r\n\r\n"}, 431},
        {"endless header fields", {manyFields}, 431},
        {"slow request", {"GET /unregall HTTP/1.1\r\n", "Host: " + host + "\r\n"}, 408, 6000},
        {"TLS hello", {std::string("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", 11)}, 400},
        {"binary zeros", {std::string(64, '\0')}, 400},
        {"POST", {"POST /?ext=.vtra&filetype=vtrafile HTTP/1.1\r\nHost: " + host + "\r\nContent-Length: 0\r\n\r\n"}, 405},
        {"unknown path", {Get(port_, "/../../unregall")}, 404},
        {"gone before the end", {"GET /unregall HTTP/1.1\r\nHost: "}, 0},
    };
    const auto before = Snapshot();
    for (const Hostile& h : table) {
        RawAnswer answer;
        if (h.status == 0) {
            SOCKET s = Connect(port_);
            send(s, h.parts[0].data(), static_cast<int>(h.parts[0].size()), 0);
            closesocket(s);
        } else {
            answer = Exchange(port_, h.parts, h.pauseMs);
        }
        std::printf("  %-26s -> %d\n", h.name, answer.Status);  // the table, for the record
        EXPECT_EQ(answer.Status, h.status) << h.name << "\n" << answer.Text;
        EXPECT_EQ(Snapshot(), before) << h.name;
        ASSERT_TRUE(service.Alive()) << h.name;
    }
    // Still serving properly after all that.
    EXPECT_EQ(ErrorCodeOf([] { vantrel::RegisterFileType(L".vtra", L"vtrafile"); }), 0);
    EXPECT_EQ(Handler(L"vtrafile"), kOurs);
}

TEST_F(RegistratorService, AThousandConnectionsAreBoundedAndTheServiceLivesOn) {
    ConsoleService service(port_);
    const auto before = Snapshot();
    const auto start = std::chrono::steady_clock::now();
    std::vector<SOCKET> sockets;
    for (int i = 0; i < 1000; ++i) {
        SOCKET s = Connect(port_);
        if (s != INVALID_SOCKET) sockets.push_back(s);
    }
    EXPECT_GT(sockets.size(), 900u);
    // Idle connections beyond the limit are answered 503 at once; the admitted ones wait
    // for their request, and get 408 when it does not come.
    int busy = 0, timedOut = 0;
    for (SOCKET s : sockets) {
        RawAnswer a = ReadAnswer(s, 10000);
        if (a.Status == 503) ++busy;
        if (a.Status == 408) ++timedOut;
        closesocket(s);
    }
    EXPECT_GT(busy, 900);
    EXPECT_LE(timedOut, 16);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(120));
    EXPECT_TRUE(service.Alive());
    EXPECT_EQ(Snapshot(), before);
    EXPECT_EQ(ErrorCodeOf([] { vantrel::RegisterFileType(L".vtra", L"vtrafile"); }), 0);
}

TEST_F(RegistratorService, InstalledStartedAndStoppedThroughTheServiceControlManager) {
    RunTool(L"--uninstall");  // a leftover of an earlier run
    ASSERT_EQ(RunTool(L"--install"), 0u);
    ASSERT_EQ(RunTool(L"--start"), 0u);
    EXPECT_TRUE(WaitListening(port_));
    EXPECT_EQ(ErrorCodeOf([] { vantrel::RegisterFileType(L".vtra", L"vtrafile"); }), 0);
    EXPECT_EQ(Handler(L"vtrafile"), kOurs);
    EXPECT_EQ(RunTool(L"--stop"), 0u);
    EXPECT_EQ(ErrorCodeOf([] { vantrel::UnregisterAll(); }), 6);
    EXPECT_EQ(RunTool(L"--start"), 0u);
    EXPECT_TRUE(WaitListening(port_));
    EXPECT_EQ(ErrorCodeOf([] { vantrel::UnregisterAll(); }), 0);
    EXPECT_EQ(Handler(L"vtrafile"), L"<missing>");
    EXPECT_EQ(RunTool(L"--uninstall"), 0u);
    EXPECT_TRUE(WaitListening(port_, false));
    EXPECT_NE(RunTool(L"--start"), 0u) << "no such service any more";
}

}  // namespace
