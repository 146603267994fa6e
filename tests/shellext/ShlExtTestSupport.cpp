#include "ShlExtTestSupport.h"
#include "../WaitScale.h"

#include <objbase.h>
#include <shlobj.h>

#include <cstdio>
#include <thread>

namespace shlexttest {

namespace {
std::wstring Env(const wchar_t* name) {
    DWORD n = GetEnvironmentVariableW(name, nullptr, 0);
    if (!n) return {};
    std::wstring v(n, L'\0');
    v.resize(GetEnvironmentVariableW(name, v.data(), n));
    return v;
}
}  // namespace

std::wstring DistFolder() {
    std::wstring dist = Env(L"VANTREL_DIST");
    if (!dist.empty() && dist[0] == L'/') dist = L"Z:" + dist;  // the Unix root is drive Z: in Wine
    for (auto& c : dist)
        if (c == L'/') c = L'\\';
    return dist;
}

std::wstring DllPath() {
    return DistFolder() + (sizeof(void*) == 8 ? L"\\VantrelShlExt64.dll" : L"\\VantrelShlExt32.dll");
}

std::wstring SiblingExe(const wchar_t* name) {
    wchar_t self[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring dir(self, n);
    return dir.substr(0, dir.find_last_of(L"\\/") + 1) + name;
}

TempDir::TempDir() {
    static LONG counter = 0;
    std::wstring temp = Env(L"TEMP");
    for (;;) {
        path_ = temp + L"\\sx-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                std::to_wstring(InterlockedIncrement(&counter)) + L"-" + std::to_wstring(GetTickCount());
        if (CreateDirectoryW(path_.c_str(), nullptr)) break;
    }
}

TempDir::~TempDir() {
    std::function<void(const std::wstring&)> clear = [&](const std::wstring& dir) {
        WIN32_FIND_DATAW d;
        HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &d);
        if (h != INVALID_HANDLE_VALUE) {
            do {
                std::wstring name = d.cFileName;
                if (name == L"." || name == L"..") continue;
                std::wstring full = dir + L"\\" + name;
                if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                    clear(full);
                else
                    DeleteFileW(full.c_str());
            } while (FindNextFileW(h, &d));
            FindClose(h);
        }
        RemoveDirectoryW(dir.c_str());
    };
    clear(path_);
}

ScopedEnv::ScopedEnv(const wchar_t* name, const std::optional<std::wstring>& value) : name_(name) {
    if (GetEnvironmentVariableW(name, nullptr, 0)) old_ = Env(name);
    SetEnvironmentVariableW(name, value ? value->c_str() : nullptr);
}

ScopedEnv::~ScopedEnv() { SetEnvironmentVariableW(name_.c_str(), old_ ? old_->c_str() : nullptr); }

bool WriteBytes(const std::wstring& path, const std::string& bytes) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok = bytes.empty() || ::WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(h);
    return ok && written == bytes.size();
}

std::optional<std::string> ReadBytes(const std::wstring& path) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return std::nullopt;
    std::string out;
    char buf[4096];
    DWORD got = 0;
    while (ReadFile(h, buf, sizeof(buf), &got, nullptr) && got) out.append(buf, got);
    CloseHandle(h);
    return out;
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool KeyExists(HKEY root, const std::wstring& key, REGSAM view) {
    HKEY k;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ | view, &k) != ERROR_SUCCESS) return false;
    RegCloseKey(k);
    return true;
}

std::optional<std::wstring> RegString(HKEY root, const std::wstring& key, const wchar_t* value, REGSAM view) {
    HKEY k;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ | view, &k) != ERROR_SUCCESS) return std::nullopt;
    wchar_t buf[2048];
    DWORD size = sizeof(buf) - sizeof(wchar_t), type = 0;
    LONG err = RegQueryValueExW(k, value, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
    RegCloseKey(k);
    if (err != ERROR_SUCCESS || type != REG_SZ) return std::nullopt;
    buf[size / sizeof(wchar_t)] = 0;
    return std::wstring(buf);
}

bool SetRegString(HKEY root, const std::wstring& key, const wchar_t* value, const std::wstring& data, REGSAM view) {
    HKEY k;
    if (RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_WRITE | view, nullptr, &k, nullptr) != ERROR_SUCCESS)
        return false;
    LONG err = RegSetValueExW(k, value, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                              static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(k);
    return err == ERROR_SUCCESS;
}

void DeleteKeyTree(HKEY root, const std::wstring& key, REGSAM view) {
    HKEY k;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_ALL_ACCESS | view, &k) == ERROR_SUCCESS) {
        RegDeleteTreeW(k, nullptr);
        RegCloseKey(k);
    }
    RegDeleteKeyExW(root, key.c_str(), view, 0);
}

void RunOnStaThread(const std::function<void()>& fn) {
    std::thread t([&] {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        fn();
        CoUninitialize();
    });
    t.join();
}

void PumpMessages(DWORD ms) {
    DWORD start = GetTickCount();
    for (;;) {
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= ms) break;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - elapsed, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

DWORD RunProcess(const std::wstring& commandLine, DWORD timeoutMs) {
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    std::wstring cmd = commandLine;
    if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return ~0u;
    DWORD code = ~0u;
    if (WaitForSingleObject(pi.hProcess, vantrel_test::Scaled(timeoutMs)) == WAIT_OBJECT_0)
        GetExitCodeProcess(pi.hProcess, &code);
    else
        TerminateProcess(pi.hProcess, ~0u);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return code;
}

double CallsPerSecond(const std::function<void()>& fn, DWORD ms) {
    LARGE_INTEGER freq, start, now;
    QueryPerformanceFrequency(&freq);
    QueryPerformanceCounter(&start);
    long long calls = 0;
    do {
        for (int i = 0; i < 200; ++i) fn();
        calls += 200;
        QueryPerformanceCounter(&now);
    } while ((now.QuadPart - start.QuadPart) * 1000 < static_cast<long long>(ms) * freq.QuadPart);
    return calls * static_cast<double>(freq.QuadPart) / static_cast<double>(now.QuadPart - start.QuadPart);
}

IClassFactory* StagedClassFactory(REFCLSID clsid) {
    HMODULE dll = LoadLibraryW(DllPath().c_str());
    if (!dll) {
        std::fprintf(stderr, "cannot load the shell extension (VANTREL_DIST set?)\n");
        return nullptr;
    }
    using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    auto getClassObject =
        reinterpret_cast<GetClassObjectFn>(reinterpret_cast<void*>(GetProcAddress(dll, "DllGetClassObject")));
    IClassFactory* factory = nullptr;
    if (!getClassObject || FAILED(getClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)))) {
        std::fprintf(stderr, "no class object\n");
        return nullptr;
    }
    return factory;
}

IShellItemArray* ItemArray(const std::vector<std::wstring>& paths) {
    std::vector<PIDLIST_ABSOLUTE> pidls;
    for (const auto& p : paths) {
        PIDLIST_ABSOLUTE pidl = nullptr;
        if (SUCCEEDED(SHParseDisplayName(p.c_str(), nullptr, &pidl, 0, nullptr))) pidls.push_back(pidl);
    }
    IShellItemArray* array = nullptr;
    if (pidls.size() == paths.size())
        SHCreateShellItemArrayFromIDLists(static_cast<UINT>(pidls.size()),
                                          const_cast<PCIDLIST_ABSOLUTE_ARRAY>(pidls.data()), &array);
    for (auto p : pidls) CoTaskMemFree(p);
    return array;
}

std::string Utf8(const std::wstring& text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring GuidText(const GUID& guid) {
    wchar_t buf[64];
    StringFromGUID2(guid, buf, 64);
    return buf;
}

}  // namespace shlexttest
