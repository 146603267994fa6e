#include "TestSupport.h"
#include "../WaitScale.h"

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cstdio>
#include <memory>

#include "app/common/FileHelpers.h"

namespace testsupport {

TempDir::TempDir() {
    static int counter = 0;
    std::wstring temp = vantrel::GetEnvVar(L"TEMP");
    if (temp.empty()) temp = L"C:\\windows\\temp";
    for (;;) {
        path_ = vantrel::IncludeTrailingBackslash(temp) + L"vt-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                std::to_wstring(GetTickCount()) + L"-" + std::to_wstring(++counter);
        if (CreateDirectoryW(path_.c_str(), nullptr)) break;
    }
}

TempDir::~TempDir() {
    // Read-only files would survive a plain delete.
    std::function<void(const std::wstring&)> clear = [&](const std::wstring& dir) {
        WIN32_FIND_DATAW data;
        HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &data);
        if (h == INVALID_HANDLE_VALUE) return;
        do {
            std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring full = dir + L"\\" + name;
            SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) clear(full);
        } while (FindNextFileW(h, &data));
        FindClose(h);
    };
    clear(path_);
    vantrel::DeleteFolderTree(path_);
}

ScopedEnv::ScopedEnv(const std::wstring& name, const std::optional<std::wstring>& value) : name_(name) {
    DWORD n = GetEnvironmentVariableW(name.c_str(), nullptr, 0);
    if (n) old_ = vantrel::GetEnvVar(name);
    SetEnvironmentVariableW(name.c_str(), value ? value->c_str() : nullptr);
}

ScopedEnv::~ScopedEnv() { SetEnvironmentVariableW(name_.c_str(), old_ ? old_->c_str() : nullptr); }

void WriteFile(const std::wstring& path, const std::string& bytes) {
    vantrel::WriteFileBytes(path, bytes.data(), bytes.size());
}

std::optional<std::string> ReadFile(const std::wstring& path) {
    try {
        auto bytes = vantrel::ReadFileBytes(path);
        return std::string(bytes.begin(), bytes.end());
    } catch (...) {
        return std::nullopt;
    }
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::optional<std::wstring> ReadRegString(HKEY root, const std::wstring& key, const std::wstring& value) {
    wchar_t buffer[4096];
    DWORD size = sizeof(buffer);
    if (RegGetValueW(root, key.c_str(), value.c_str(), RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS)
        return std::nullopt;
    return std::wstring(buffer);
}

void DeleteRegTree(HKEY root, const std::wstring& key) { RegDeleteTreeW(root, key.c_str()), RegDeleteKeyW(root, key.c_str()); }

bool CreateShortcut(const std::wstring& linkPath, const std::wstring& target) {
    IShellLinkW* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&link))))
        return false;
    link->SetPath(target.c_str());
    IPersistFile* file = nullptr;
    bool ok = false;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
        ok = SUCCEEDED(file->Save(linkPath.c_str(), TRUE));
        file->Release();
    }
    link->Release();
    return ok;
}

std::wstring WindowText(HWND hwnd) {
    // WM_GETTEXT itself: GetWindowText does not ask controls of other processes, and an
    // edit control keeps its text to itself.
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length)) return {};
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG, 5000,
                        &copied);
    text.resize(wcsnlen(text.c_str(), text.size()));
    return text;
}

std::wstring ClassName(HWND hwnd) {
    wchar_t name[256] = L"";
    GetClassNameW(hwnd, name, 256);
    return name;
}

namespace {

struct MatchCtx {
    const std::function<bool(HWND)>* match;
    HWND found;
};

BOOL CALLBACK MatchVisible(HWND hwnd, LPARAM lp) {
    auto* c = reinterpret_cast<MatchCtx*>(lp);
    if (IsWindowVisible(hwnd) && (*c->match)(hwnd)) {
        c->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

struct ProcessCtx {
    DWORD pid;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectProcessWindow(HWND hwnd, LPARAM lp) {
    auto* c = reinterpret_cast<ProcessCtx*>(lp);
    DWORD owner = 0;
    GetWindowThreadProcessId(hwnd, &owner);
    if (owner == c->pid && IsWindowVisible(hwnd)) c->found.push_back(hwnd);
    return TRUE;
}

}  // namespace

HWND WaitForTopWindow(const std::function<bool(HWND)>& match, DWORD timeoutMs) {
    timeoutMs = vantrel_test::Scaled(timeoutMs);
    const DWORD start = GetTickCount();
    for (;;) {
        MatchCtx ctx{&match, nullptr};
        EnumWindows(MatchVisible, reinterpret_cast<LPARAM>(&ctx));
        if (ctx.found) return ctx.found;
        if (GetTickCount() - start > timeoutMs) return nullptr;
        Sleep(50);
    }
}

HWND WaitForWindowOf(DWORD pid, const std::function<bool(HWND)>& match, DWORD timeoutMs) {
    return WaitForTopWindow(
        [&](HWND h) {
            DWORD owner = 0;
            GetWindowThreadProcessId(h, &owner);
            return owner == pid && match(h);
        },
        timeoutMs);
}

HWND WaitForOwnWindow(const std::function<bool(HWND)>& match, DWORD timeoutMs) {
    return WaitForWindowOf(GetCurrentProcessId(), match, timeoutMs);
}

HWND FindOwnWindow(const wchar_t* className) {
    for (HWND h = FindWindowExW(nullptr, nullptr, className, nullptr); h;
         h = FindWindowExW(nullptr, h, className, nullptr)) {
        DWORD pid = 0;
        GetWindowThreadProcessId(h, &pid);
        if (pid == GetCurrentProcessId()) return h;
    }
    return nullptr;
}

void Pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

std::thread AnswerBox(int button, std::wstring* text) {
    return std::thread([button, text] {
        HWND box = WaitForOwnWindow([](HWND w) { return ClassName(w) == L"#32770" && WindowText(w) == L"Vantrel"; });
        if (!box) return;
        if (text) *text = WindowText(GetDlgItem(box, 0xFFFF));
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
    });
}

std::vector<HWND> ProcessWindows(DWORD pid) {
    ProcessCtx ctx{pid, {}};
    EnumWindows(CollectProcessWindow, reinterpret_cast<LPARAM>(&ctx));
    return ctx.found;
}

bool StartProcess(const std::wstring& exe, const std::vector<std::wstring>& args, PROCESS_INFORMATION& pi) {
    std::wstring cmd = L"\"" + exe + L"\"";
    for (const auto& a : args) cmd += L" \"" + a + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    return CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi) != FALSE;
}

std::vector<std::wstring> ChildTexts(HWND hwnd) {
    std::vector<std::wstring> texts;
    for (HWND child = GetWindow(hwnd, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        texts.push_back(WindowText(child));
    return texts;
}

void PressButton(HWND dialog, int id) {
    HWND button = GetDlgItem(dialog, id);
    if (button)
        PostMessageW(button, BM_CLICK, 0, 0);
    else
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
}

void PressKey(WORD key, WORD modifier) {
    INPUT in[4] = {};
    UINT count = 0;
    auto add = [&](WORD vk, DWORD flags) {
        in[count].type = INPUT_KEYBOARD;
        in[count].ki.wVk = vk;
        in[count].ki.dwFlags = flags;
        ++count;
    };
    if (modifier) add(modifier, 0);
    add(key, 0);
    add(key, KEYEVENTF_KEYUP);
    if (modifier) add(modifier, KEYEVENTF_KEYUP);
    SendInput(count, in, sizeof(INPUT));
}

HWND FocusOfThread(HWND window) {
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info)) return nullptr;
    return info.hwndFocus;
}

bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs) {
    timeoutMs = vantrel_test::Scaled(timeoutMs);
    const DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > timeoutMs) return false;
        Sleep(20);
    }
    return true;
}

std::wstring ReadClipboardText() {
    std::wstring text;
    for (int i = 0; i < 20 && !OpenClipboard(nullptr); ++i) Sleep(50);
    if (HANDLE h = GetClipboardData(CF_UNICODETEXT)) {
        if (auto* p = static_cast<const wchar_t*>(GlobalLock(h))) {
            text.assign(p, wcsnlen(p, GlobalSize(h) / sizeof(wchar_t)));
            GlobalUnlock(h);
        }
    }
    CloseClipboard();
    return text;
}

std::wstring DistFolder() {
    std::wstring dist = vantrel::GetEnvVar(L"VANTREL_DIST");
    if (dist.empty()) return {};
    if (dist[0] == L'/') dist = L"Z:" + dist;  // the Unix root is drive Z: in Wine
    for (auto& c : dist)
        if (c == L'/') c = L'\\';
    return dist;
}

Run::~Run() {
    if (pi.hProcess) {
        if (WaitForSingleObject(pi.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(pi.hProcess, 99);
        CloseHandle(pi.hProcess);
    }
    if (pi.hThread) CloseHandle(pi.hThread);
}

DWORD Run::Wait(DWORD timeoutMs) {
    if (WaitForSingleObject(pi.hProcess, vantrel_test::Scaled(timeoutMs)) == WAIT_TIMEOUT) {
        TerminateProcess(pi.hProcess, 99);
        WaitForSingleObject(pi.hProcess, 5000);
        return STILL_ACTIVE;
    }
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    return code;
}

std::unique_ptr<Run> StartProgram(const std::vector<std::wstring>& args, const std::wstring& appData) {
    const std::wstring exe = DistFolder() + L"\\Vantrel.exe";
    std::wstring cmd = L"\"" + exe + L"\"";
    for (const auto& a : args) cmd += L" \"" + a + L"\"";
    ScopedEnv env(L"AppData", appData);
    auto run = std::make_unique<Run>();
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    // A start can fail while the system is still busy with the last program's exit; try
    // again briefly before giving up.
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &run->pi))
            return run;
        fprintf(stderr, "CreateProcess failed (%lu), retrying\n", GetLastError());
        Sleep(500);
    }
    return nullptr;
}

}  // namespace testsupport
