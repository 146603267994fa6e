// The context-menu tests' fixture and helpers: the shell's data objects, the program
// location and record file per test, the menus' items and the recorded command lines.
#pragma once

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "HandlerFixture.h"

namespace shlexttest {

// The shell's own data object for files of one folder, as Explorer hands it over.
inline IDataObject* ShellDataObject(const std::wstring& folder, const std::vector<std::wstring>& names) {
    IShellFolder* desktop = nullptr;
    if (FAILED(SHGetDesktopFolder(&desktop))) return nullptr;
    PIDLIST_RELATIVE folderPidl = nullptr;
    std::wstring f = folder;
    IShellFolder* sf = nullptr;
    if (SUCCEEDED(desktop->ParseDisplayName(nullptr, nullptr, f.data(), nullptr, &folderPidl, nullptr)))
        desktop->BindToObject(folderPidl, nullptr, IID_IShellFolder, reinterpret_cast<void**>(&sf));
    desktop->Release();
    CoTaskMemFree(folderPidl);
    if (!sf) return nullptr;
    std::vector<PITEMID_CHILD> items;
    for (auto n : names) {
        PIDLIST_RELATIVE child = nullptr;
        if (SUCCEEDED(sf->ParseDisplayName(nullptr, nullptr, n.data(), nullptr, &child, nullptr)))
            items.push_back(reinterpret_cast<PITEMID_CHILD>(child));
    }
    IDataObject* data = nullptr;
    if (items.size() == names.size())
        sf->GetUIObjectOf(nullptr, static_cast<UINT>(items.size()), const_cast<PCUITEMID_CHILD_ARRAY>(items.data()),
                          IID_IDataObject, nullptr, reinterpret_cast<void**>(&data));
    for (auto i : items) CoTaskMemFree(i);
    sf->Release();
    return data;
}

inline std::string Ansi(const std::wstring& text) {
    int n = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

inline std::vector<std::wstring> ListFiles(const std::wstring& folder) {
    std::vector<std::wstring> out;
    WIN32_FIND_DATAW d;
    HANDLE h = FindFirstFileW((folder + L"\\vantrel*.dat").c_str(), &d);
    if (h == INVALID_HANDLE_VALUE) return out;
    do out.push_back(folder + L"\\" + d.cFileName);
    while (FindNextFileW(h, &d));
    FindClose(h);
    return out;
}

inline constexpr wchar_t kProgramKey[] = L"Software\\Kestrane\\Vantrel";

// Per test: its own TEMP, AppData with the data folder, record file and program
// location (under HKCU unless a test says otherwise); old values come back after.
class ContextMenu : public RegisteredExtension {
protected:
    void SetUp() override {
        RegisteredExtension::SetUp();
        temp_ = dir_ / L"temp";
        appData_ = dir_ / L"appdata";
        ASSERT_TRUE(CreateDirectoryW(temp_.c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryW(appData_.c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryW((appData_ + L"\\Kestrane").c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryW((appData_ + L"\\Kestrane\\Vantrel").c_str(), nullptr));
        record_ = dir_ / L"record.txt";
        envTemp_ = std::make_unique<ScopedEnv>(L"TEMP", temp_);
        envAppData_ = std::make_unique<ScopedEnv>(L"AppData", appData_);
        envRecord_ = std::make_unique<ScopedEnv>(L"VANTREL_RECORD", record_);
        for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
            for (const wchar_t* v : {L"VantrelPath", L"VantrelDir"})
                saved_.push_back({root, v, RegString(root, kProgramKey, v, KEY_WOW64_64KEY)});
        ClearLocation(HKEY_LOCAL_MACHINE);
        SetLocation(HKEY_CURRENT_USER, SiblingExe(L"recorder.exe"), DistFolder());
    }
    void TearDown() override {
        for (const auto& s : saved_) {
            if (s.value)
                SetRegString(s.root, kProgramKey, s.name, *s.value, KEY_WOW64_64KEY);
            else
                ClearValue(s.root, s.name);
        }
    }
    static void SetLocation(HKEY root, const std::wstring& path, const std::wstring& dir) {
        ASSERT_TRUE(SetRegString(root, kProgramKey, L"VantrelPath", path, KEY_WOW64_64KEY));
        ASSERT_TRUE(SetRegString(root, kProgramKey, L"VantrelDir", dir, KEY_WOW64_64KEY));
    }
    static void ClearValue(HKEY root, const wchar_t* name) {
        HKEY k;
        if (RegOpenKeyExW(root, kProgramKey, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, &k) == ERROR_SUCCESS) {
            RegDeleteValueW(k, name);
            RegCloseKey(k);
        }
    }
    static void ClearLocation(HKEY root) {
        ClearValue(root, L"VantrelPath");
        ClearValue(root, L"VantrelDir");
    }

    // Lines the stand-in program recorded, waiting until `count` are there.
    std::vector<std::wstring> Records(size_t count, DWORD timeoutMs = 15000) {
        std::vector<std::wstring> lines;
        DWORD start = GetTickCount();
        do {
            lines.clear();
            auto bytes = ReadBytes(record_);
            if (bytes) {
                std::istringstream in(*bytes);
                std::string line;
                while (std::getline(in, line)) {
                    int n = MultiByteToWideChar(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), nullptr, 0);
                    std::wstring w(static_cast<size_t>(n), L'\0');
                    MultiByteToWideChar(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), w.data(), n);
                    lines.push_back(w);
                }
            }
            if (lines.size() >= count) break;
            Sleep(50);
        } while (GetTickCount() - start < timeoutMs);
        return lines;
    }

    std::wstring MainIcl() const { return DistFolder() + L"\\icl\\Main.icl"; }
    std::wstring SelectedFiles() const { return appData_ + L"\\Kestrane\\Vantrel\\selectedfiles.dat"; }

    struct Saved {
        HKEY root;
        const wchar_t* name;
        std::optional<std::wstring> value;
    };
    TempDir dir_;
    std::wstring temp_, appData_, record_;
    std::unique_ptr<ScopedEnv> envTemp_, envAppData_, envRecord_;
    std::vector<Saved> saved_;
};

struct Item {
    std::wstring caption;
    UINT id = 0;
    bool separator = false;
    HMENU sub = nullptr;
    HBITMAP picture = nullptr;
};

inline std::vector<Item> Items(HMENU menu) {
    std::vector<Item> out;
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        wchar_t text[128] = {};
        MENUITEMINFOW mii{};
        mii.cbSize = sizeof(mii);
        mii.fMask = MIIM_FTYPE | MIIM_ID | MIIM_SUBMENU | MIIM_STRING | MIIM_CHECKMARKS;
        mii.dwTypeData = text;
        mii.cch = 128;
        GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &mii);
        Item it;
        it.separator = (mii.fType & MFT_SEPARATOR) != 0;
        it.caption = text;
        it.id = mii.wID;
        it.sub = mii.hSubMenu;
        it.picture = mii.hbmpUnchecked;
        if (it.picture) {
            EXPECT_EQ(mii.hbmpChecked, mii.hbmpUnchecked);
        }
        out.push_back(it);
    }
    return out;
}

// Runs one command on a fresh object for the files and answers InvokeCommand's result.
inline HRESULT Invoke(IDataObject* data, UINT uFlags, UINT_PTR verb) {
    IShellExtInit* init = nullptr;
    if (FAILED(CoCreateInstance(shlext::CLSID_SimpleShlExt, nullptr, CLSCTX_INPROC_SERVER, IID_IShellExtInit,
                                reinterpret_cast<void**>(&init))))
        return E_UNEXPECTED;
    HRESULT hr = init->Initialize(nullptr, data, nullptr);
    IContextMenu* cm = nullptr;
    init->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(&cm));
    HMENU menu = CreatePopupMenu();
    if (SUCCEEDED(hr)) hr = cm->QueryContextMenu(menu, 0, 1, 0x7FFF, uFlags);
    if (SUCCEEDED(hr)) {
        CMINVOKECOMMANDINFO ici{};
        ici.cbSize = sizeof(ici);
        ici.lpVerb = reinterpret_cast<LPCSTR>(verb);
        ici.nShow = SW_SHOWNORMAL;
        hr = cm->InvokeCommand(&ici);
    }
    DestroyMenu(menu);
    cm->Release();
    init->Release();
    return hr;
}

// "-xx "<list>" rest" → list path and rest.
inline bool SplitCommand(const std::wstring& line, const std::wstring& sw, std::wstring& list, std::wstring& rest) {
    if (line.compare(0, sw.size() + 2, sw + L" \"") != 0) return false;
    size_t end = line.find(L'"', sw.size() + 2);
    if (end == std::wstring::npos) return false;
    list = line.substr(sw.size() + 2, end - sw.size() - 2);
    rest = line.substr(end + 1);
    return true;
}

}  // namespace shlexttest
