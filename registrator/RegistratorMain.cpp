// VantrelRegistrator.exe: the registrator service, which makes the shell extension the icon
// handler of machine-wide file types on the desktop program's request.
//
//   VantrelRegistrator.exe              run as a service (started by the service control manager)
//   VantrelRegistrator.exe --console    serve in this console until Ctrl+C
//   VantrelRegistrator.exe --install    install the service (automatic start, LocalSystem)
//   VantrelRegistrator.exe --uninstall  stop and remove the service
//   VantrelRegistrator.exe --start      start the installed service and wait until it runs
//   VantrelRegistrator.exe --stop       stop the service and wait until it has stopped
//   VantrelRegistrator.exe --unregister-all   remove every icon handler the service wrote, and its record
//   VantrelRegistrator.exe --unregister-user  remove the current user's own icon handler values of ours
//                                             and the program location the program recorded for him
//   VantrelRegistrator.exe --register-package "<Vantrel.msix>" "<external location folder>"
//                                             register the identity package for all users, replacing
//                                             any earlier registration of it
//   VantrelRegistrator.exe --unregister-package  remove the identity package for all users
//
// The unregister options are run by the installer's uninstall, --unregister-user as the user
// who uninstalls and the others as LocalSystem, before the service is stopped and removed;
// --register-package by its install, repair and upgrade as LocalSystem, after the files.
#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "RegistratorMessages.h"
#include "registrator/HandlerRegistry.h"
#include "registrator/PackageRegistration.h"
#include "registrator/RegistratorServer.h"
#include "registrator/WindowsPackageHost.h"

using namespace vantrel::registrator;

namespace {

constexpr wchar_t kServiceName[] = L"VantrelRegistrator";
constexpr wchar_t kDisplayName[] = L"Vantrel Icon Handler Registrator";
constexpr wchar_t kShellExtensionClsid[] = L"{3F2E80AA-C708-4751-B0E1-5DF8361A4C9B}";
constexpr wchar_t kDescription[] =
    L"Makes the Vantrel shell extension the icon handler of machine-wide file types on request of the Vantrel program.";

// The server with its registry work; one per process.
class TRegistrator {
public:
    // 0 when serving, otherwise a Win32 or WinSock error.
    DWORD Start() {
        ServerOptions options;
        options.Port = ReadServicePort();
        port_ = options.Port;
        if (options.Port == 0) return ERROR_INVALID_DATA;
        server_ = std::make_unique<TRegistratorServer>(options, [this](const ParsedRequest& request) {
            HandlerAnswer answer = request.Kind == RequestKind::Register
                                       ? registry_.Register(request.Extension, request.Type)
                                       : registry_.UnregisterAll();
            return ServerAnswer{answer.Status, answer.Body};
        });
        return static_cast<DWORD>(server_->Start());
    }
    void Stop() {
        if (server_) server_->Stop();
    }
    int Port() const { return port_; }

private:
    THandlerRegistry registry_;
    std::unique_ptr<TRegistratorServer> server_;
    int port_ = 0;
};

void PrintError(const wchar_t* what, DWORD code) {
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::fwprintf(stderr, L"%ls failed (%lu): %ls\n", what, static_cast<unsigned long>(code), text ? text : L"");
    if (text) LocalFree(text);
}

std::wstring SystemText(DWORD code) {
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring result = text ? text : L"";
    if (text) LocalFree(text);
    while (!result.empty() && (result.back() == L'\r' || result.back() == L'\n' || result.back() == L' '))
        result.pop_back();
    return result;
}

// Why the service does not serve, for the Application event log and the console: the port,
// the system's reason, and what an administrator can do about it.
std::wstring ListenFailureText(int port, DWORD code) {
    if (code == ERROR_INVALID_DATA)
        return L"The Vantrel registrator service cannot start: the value \"ServicePort\" under "
               L"HKEY_LOCAL_MACHINE\\Software\\Kestrane\\Vantrel (32-bit view) is not a port number "
               L"(a REG_DWORD from 1 to 65535).";
    return L"The Vantrel registrator service cannot listen on 127.0.0.1:" + std::to_wstring(port) + L": " +
           SystemText(code) + L" (error " + std::to_wstring(code) +
           L"). Another program may be using the port. Set \"ServicePort\" under "
           L"HKEY_LOCAL_MACHINE\\Software\\Kestrane\\Vantrel (32-bit view) to a free port, then start the "
           L"service \"" + std::wstring(kDisplayName) + L"\" again; Vantrel.exe reads the same value.";
}

// One error entry in the Application log under our event source (registered by the
// installer, with this program as its message file).
void ReportToEventLog(const std::wstring& text) {
    HANDLE source = RegisterEventSourceW(nullptr, kServiceName);
    if (!source) return;
    const wchar_t* strings[] = {text.c_str()};
    ReportEventW(source, EVENTLOG_ERROR_TYPE, 0, MSG_REGISTRATOR_TEXT, nullptr, 1, 0, strings, nullptr);
    DeregisterEventSource(source);
}

// --- console mode -------------------------------------------------------------------

HANDLE g_consoleStop = nullptr;

BOOL WINAPI ConsoleHandler(DWORD) {
    SetEvent(g_consoleStop);
    return TRUE;
}

int RunConsole() {
    g_consoleStop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    TRegistrator registrator;
    DWORD rc = registrator.Start();
    if (rc != 0) {
        const std::wstring text = ListenFailureText(registrator.Port(), rc);
        ReportToEventLog(text);
        std::fwprintf(stderr, L"%ls\n", text.c_str());
        return 1;
    }
    std::wprintf(L"Listening on 127.0.0.1:%d\n", registrator.Port());
    std::fflush(stdout);
    SetConsoleCtrlHandler(ConsoleHandler, TRUE);
    WaitForSingleObject(g_consoleStop, INFINITE);
    registrator.Stop();
    return 0;
}

// --- service mode -------------------------------------------------------------------

SERVICE_STATUS_HANDLE g_statusHandle = nullptr;
SERVICE_STATUS g_status{};
HANDLE g_serviceStop = nullptr;

void ReportStatus(DWORD state, DWORD exitCode = NO_ERROR, DWORD waitHint = 0) {
    static DWORD checkPoint = 1;
    g_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    g_status.dwCurrentState = state;
    g_status.dwWin32ExitCode = exitCode;
    g_status.dwWaitHint = waitHint;
    g_status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    g_status.dwCheckPoint = (state == SERVICE_RUNNING || state == SERVICE_STOPPED) ? 0 : checkPoint++;
    SetServiceStatus(g_statusHandle, &g_status);
}

DWORD WINAPI ServiceControl(DWORD control, DWORD, void*, void*) {
    switch (control) {
        case SERVICE_CONTROL_STOP:
        case SERVICE_CONTROL_SHUTDOWN:
            ReportStatus(SERVICE_STOP_PENDING, NO_ERROR, 10000);
            SetEvent(g_serviceStop);
            return NO_ERROR;
        case SERVICE_CONTROL_INTERROGATE:
            return NO_ERROR;
        default:
            return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void WINAPI ServiceMain(DWORD, wchar_t**) {
    g_statusHandle = RegisterServiceCtrlHandlerExW(kServiceName, ServiceControl, nullptr);
    if (!g_statusHandle) return;
    ReportStatus(SERVICE_START_PENDING, NO_ERROR, 5000);
    g_serviceStop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    TRegistrator registrator;
    DWORD rc = g_serviceStop ? registrator.Start() : GetLastError();
    if (rc != 0) {
        ReportToEventLog(ListenFailureText(registrator.Port(), rc));
        ReportStatus(SERVICE_STOPPED, rc);
        return;
    }
    ReportStatus(SERVICE_RUNNING);
    WaitForSingleObject(g_serviceStop, INFINITE);
    registrator.Stop();
    ReportStatus(SERVICE_STOPPED);
}

// --- service control manager --------------------------------------------------------

struct TServiceHandle {
    SC_HANDLE Handle = nullptr;
    explicit TServiceHandle(SC_HANDLE h) : Handle(h) {}
    ~TServiceHandle() {
        if (Handle) CloseServiceHandle(Handle);
    }
};

bool WaitForState(SC_HANDLE service, DWORD wanted, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        SERVICE_STATUS status{};
        if (!QueryServiceStatus(service, &status)) return false;
        if (status.dwCurrentState == wanted) return true;
        if (wanted == SERVICE_RUNNING && status.dwCurrentState == SERVICE_STOPPED) return false;
        if (GetTickCount() - start > timeoutMs) return false;
        Sleep(100);
    }
}

int Install() {
    wchar_t path[MAX_PATH + 2];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        PrintError(L"Finding the program path", GetLastError());
        return 1;
    }
    std::wstring command = L"\"" + std::wstring(path) + L"\"";
    TServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
    if (!manager.Handle) {
        PrintError(L"Opening the service control manager", GetLastError());
        return 1;
    }
    TServiceHandle service(CreateServiceW(manager.Handle, kServiceName, kDisplayName, SERVICE_ALL_ACCESS,
                                          SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                          command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    if (!service.Handle) {
        PrintError(L"Installing the service", GetLastError());
        return 1;
    }
    SERVICE_DESCRIPTIONW description{const_cast<wchar_t*>(kDescription)};
    ChangeServiceConfig2W(service.Handle, SERVICE_CONFIG_DESCRIPTION, &description);
    std::wprintf(L"Installed %ls\n", kServiceName);
    return 0;
}

int Control(bool start) {
    TServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager.Handle) {
        PrintError(L"Opening the service control manager", GetLastError());
        return 1;
    }
    TServiceHandle service(OpenServiceW(manager.Handle, kServiceName,
                                        SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS));
    if (!service.Handle) {
        PrintError(L"Opening the service", GetLastError());
        return 1;
    }
    if (start) {
        if (!StartServiceW(service.Handle, 0, nullptr) && GetLastError() != ERROR_SERVICE_ALREADY_RUNNING) {
            PrintError(L"Starting the service", GetLastError());
            return 1;
        }
        if (!WaitForState(service.Handle, SERVICE_RUNNING, 15000)) {
            SERVICE_STATUS status{};
            QueryServiceStatus(service.Handle, &status);
            PrintError(L"Starting the service", status.dwWin32ExitCode ? status.dwWin32ExitCode : ERROR_SERVICE_REQUEST_TIMEOUT);
            return 1;
        }
        std::wprintf(L"Started %ls\n", kServiceName);
        return 0;
    }
    SERVICE_STATUS status{};
    if (!ControlService(service.Handle, SERVICE_CONTROL_STOP, &status) && GetLastError() != ERROR_SERVICE_NOT_ACTIVE) {
        PrintError(L"Stopping the service", GetLastError());
        return 1;
    }
    if (!WaitForState(service.Handle, SERVICE_STOPPED, 15000)) {
        PrintError(L"Stopping the service", ERROR_SERVICE_REQUEST_TIMEOUT);
        return 1;
    }
    std::wprintf(L"Stopped %ls\n", kServiceName);
    return 0;
}

int Uninstall() {
    TServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager.Handle) {
        PrintError(L"Opening the service control manager", GetLastError());
        return 1;
    }
    TServiceHandle service(OpenServiceW(manager.Handle, kServiceName, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE));
    if (!service.Handle) {
        PrintError(L"Opening the service", GetLastError());
        return 1;
    }
    SERVICE_STATUS status{};
    if (ControlService(service.Handle, SERVICE_CONTROL_STOP, &status)) WaitForState(service.Handle, SERVICE_STOPPED, 15000);
    if (!DeleteService(service.Handle)) {
        PrintError(L"Removing the service", GetLastError());
        return 1;
    }
    std::wprintf(L"Removed %ls\n", kServiceName);
    return 0;
}

// --- uninstall -----------------------------------------------------------------------

// Every icon handler the service wrote, through the same registry work and record as its
// "/unregall", so it works whether or not the service runs; then the emptied record goes.
int UnregisterAll() {
    THandlerRegistry registry;
    HandlerAnswer answer = registry.UnregisterAll();
    if (answer.Status != 200) {
        std::fwprintf(stderr, L"Removing the icon handlers failed: %hs\n", answer.Body.c_str());
        return 1;
    }
    LONG rc = RegDeleteKeyExW(HKEY_LOCAL_MACHINE, THandlerRegistry::DefaultRecordKey().c_str(), KEY_WOW64_64KEY, 0);
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) {
        PrintError(L"Removing the record of registrations", static_cast<DWORD>(rc));
        return 1;
    }
    std::wprintf(L"Removed the machine-wide icon handlers\n");
    return 0;
}

// The program makes the shell extension the icon handler of a type the user defined
// himself in HKCU\Software\Classes\<type>\ShellEx\IconHandler. Those values that still
// hold our CLSID go, and the keys that are empty then; other handlers stay.
int UnregisterUser() {
    HKEY classes = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, KEY_READ, &classes) != ERROR_SUCCESS) return 0;
    std::vector<std::wstring> types;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD length = 256;
        LONG rc = RegEnumKeyExW(classes, i, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        if (rc == ERROR_SUCCESS) types.emplace_back(name, length);
    }
    int removed = 0, failed = 0;
    for (const std::wstring& type : types) {
        const std::wstring handlerKey = type + L"\\ShellEx\\IconHandler";
        HKEY key = nullptr;
        if (RegOpenKeyExW(classes, handlerKey.c_str(), 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key) != ERROR_SUCCESS)
            continue;
        wchar_t value[64] = {};
        DWORD type_ = 0, size = sizeof(value) - sizeof(wchar_t);
        LONG rc = RegQueryValueExW(key, nullptr, nullptr, &type_, reinterpret_cast<BYTE*>(value), &size);
        bool ours = rc == ERROR_SUCCESS && type_ == REG_SZ && _wcsicmp(value, kShellExtensionClsid) == 0;
        if (ours && RegDeleteValueW(key, nullptr) != ERROR_SUCCESS) {
            ++failed;
            ours = false;
        }
        DWORD subkeys = 0, values = 0;
        RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                         nullptr);
        RegCloseKey(key);
        if (!ours) continue;
        ++removed;
        if (subkeys == 0 && values == 0) {
            RegDeleteKeyW(classes, handlerKey.c_str());
            const std::wstring shellEx = type + L"\\ShellEx";
            HKEY parent = nullptr;
            if (RegOpenKeyExW(classes, shellEx.c_str(), 0, KEY_QUERY_VALUE, &parent) == ERROR_SUCCESS) {
                subkeys = values = 0;
                RegQueryInfoKeyW(parent, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                                 nullptr, nullptr, nullptr);
                RegCloseKey(parent);
                if (subkeys == 0 && values == 0) RegDeleteKeyW(classes, shellEx.c_str());
            }
        }
    }
    RegCloseKey(classes);
    // The program's location, which it records at every start, names a program that goes now.
    HKEY program = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Kestrane\\Vantrel", 0, KEY_SET_VALUE, &program) == ERROR_SUCCESS) {
        RegDeleteValueW(program, L"VantrelPath");
        RegDeleteValueW(program, L"VantrelDir");
        RegCloseKey(program);
    }
    std::wprintf(L"Removed %d icon handler(s) of the current user\n", removed);
    return failed == 0 ? 0 : 1;
}

// --- identity package -----------------------------------------------------------------

// One line on the console; a failure also goes to the Application log, where an
// administrator finds why the installer's step did not register the package.
int ReportPackageAnswer(const PackageAnswer& answer) {
    if (answer.Failed) {
        ReportToEventLog(answer.Text);
        std::fwprintf(stderr, L"%ls\n", answer.Text.c_str());
    } else {
        std::wprintf(L"%ls\n", answer.Text.c_str());
    }
    return answer.ExitCode;
}

int RegisterPackage(const std::wstring& packagePath, const std::wstring& externalFolder) {
    TWindowsPackageHost host;
    return ReportPackageAnswer(TPackageRegistration(host).Register(packagePath, externalFolder));
}

int UnregisterPackage() {
    TWindowsPackageHost host;
    return ReportPackageAnswer(TPackageRegistration(host).Unregister());
}

int Usage() {
    std::fwprintf(stderr, L"Usage: VantrelRegistrator.exe [--console | --install | --uninstall | --start | --stop | --unregister-all | --unregister-user"
                          L" | --register-package <package file> <external location folder> | --unregister-package]\n");
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 2) {
        std::wstring option = argv[1];
        if (option == L"--console") return RunConsole();
        if (option == L"--install") return Install();
        if (option == L"--uninstall") return Uninstall();
        if (option == L"--start") return Control(true);
        if (option == L"--stop") return Control(false);
        if (option == L"--unregister-all") return UnregisterAll();
        if (option == L"--unregister-user") return UnregisterUser();
        if (option == L"--unregister-package") return UnregisterPackage();
        return Usage();
    }
    if (argc == 4 && std::wstring(argv[1]) == L"--register-package") return RegisterPackage(argv[2], argv[3]);
    if (argc != 1) return Usage();
    SERVICE_TABLE_ENTRYW table[] = {{const_cast<wchar_t*>(kServiceName), ServiceMain}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherW(table)) {
        DWORD err = GetLastError();
        if (err == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) return Usage();
        PrintError(L"Connecting to the service control manager", err);
        return 1;
    }
    return 0;
}
