#include "ProgramStart.h"

#include <shellapi.h>

#include "IconLocation.h"
#include "ListFile.h"
#include "SimpleExtModule.h"

namespace shlext {
namespace {

// Process-wide values shared by all objects (guarded by GlobalsLock): a start of the
// program always uses the last values written.
std::wstring g_szAppData;
std::wstring g_szProgramPath;
std::wstring g_szListFile;

constexpr REGSAM kQueryAccess = KEY_QUERY_VALUE | KEY_WOW64_64KEY;
constexpr wchar_t kProgramKey[] = L"Software\\Kestrane\\Vantrel";
constexpr UINT kLaunchDelayMs = 10000;

std::wstring EnvVar(const wchar_t* name) {
    DWORD n = GetEnvironmentVariableW(name, nullptr, 0);
    if (n == 0) return {};
    std::wstring value(n, L'\0');
    n = GetEnvironmentVariableW(name, value.data(), n);
    value.resize(n);
    return value;
}

// Starts the program with the parameters after copying the current list over
// "selectedfiles.dat" in the data folder.
void LaunchProgram(const std::wstring& parameters) {
    std::wstring program, listFile, appData;
    {
        GlobalsLock lock;
        program = g_szProgramPath;
        listFile = g_szListFile;
        appData = g_szAppData;
    }
    std::wstring copy = appData + L"\\Kestrane\\Vantrel\\selectedfiles.dat";
    if (!listFile.empty()) CopyFileW(listFile.c_str(), copy.c_str(), FALSE);
    if (program.empty()) return;
    SHELLEXECUTEINFOW sei{};
    sei.cbSize = sizeof(sei);
    sei.fMask = SEE_MASK_FLAG_NO_UI;
    sei.lpFile = program.c_str();
    sei.lpParameters = parameters.c_str();
    sei.nShow = SW_SHOW;
    ShellExecuteExW(&sei);
}

// A pending timer holds a module lock, so the DLL is not unloaded under it.
void CALLBACK LaunchTimerProc(HWND, UINT, UINT_PTR idEvent, DWORD) {
    KillTimer(nullptr, idEvent);
    LaunchProgram(L"-ad");
    ModuleUnlock();
}

}  // namespace

void ReadAppDataFolder() {
    std::wstring appData = EnvVar(L"AppData");
    GlobalsLock lock;
    g_szAppData = appData;
}

void ReadProgramLocation(std::wstring& programDir) {
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
        HKEY key = nullptr;
        if (RegOpenKeyExW(root, kProgramKey, 0, kQueryAccess, &key) != ERROR_SUCCESS) {
            if (root == HKEY_CURRENT_USER) return;
            continue;
        }
        std::wstring value;
        if (ReadRegistryText(key, L"VantrelPath", value)) {
            GlobalsLock lock;
            g_szProgramPath = value;
        }
        if (ReadRegistryText(key, L"VantrelDir", value)) programDir = value;
        RegCloseKey(key);
    }
}

void WriteListFile(const std::vector<std::wstring>& files) {
    std::wstring temp = EnvVar(L"TEMP");
    if (temp.empty()) {
        wchar_t buffer[MAX_PATH + 1];
        DWORD n = GetTempPathW(MAX_PATH + 1, buffer);
        if (n > 0 && n <= MAX_PATH) temp.assign(buffer, n);
    }
    std::wstring path;
    HANDLE h = CreateNewListFile(temp, path);
    if (h != INVALID_HANDLE_VALUE) {
        std::string bytes = EncodeFileList(files);
        DWORD written = 0;
        if (!bytes.empty()) ::WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        CloseHandle(h);
    }
    GlobalsLock lock;
    g_szListFile = path;
}

bool StartCommand(const MenuCommand& command) {
    std::wstring list;
    {
        GlobalsLock lock;
        list = g_szListFile;
    }
    std::wstring params;
    if (!CommandParameters(command, list, params)) return false;
    LaunchProgram(params);
    return true;
}

void StartDelayedLaunch() {
    if (SetTimer(nullptr, 1, kLaunchDelayMs, LaunchTimerProc)) ModuleLock();
}

}  // namespace shlext
