// A shared network folder as Wine makes one: "\\server\share\..." is looked up in the
// prefix's dosdevices/unc/server/share. The share holds a real marker library, and the
// test sees whether anything looked at it.
//
// How a look is seen: the library is stored under a name whose letter case differs from
// the one the paths use, so every lookup of that name (an attribute query, an open, even
// one that would fail) makes Wine read the share's folder to match the name; reading a
// folder moves its last access time, which the watch sets far into the past beforehand
// (ext4's relatime then writes the new time on the next read). Nothing of the test itself
// reads that folder: it asks for the folder's times from its parent by its exact name.
#pragma once

#include <windows.h>

#include <string>

#include "TestSupport.h"
#include "app/common/FileHelpers.h"

namespace testsupport {

class FakeShare {
public:
    // A share "\\<server>\markers" holding a copy of the library as "main.ICL".
    explicit FakeShare(const std::wstring& library) {
        const std::wstring prefix = vantrel::GetEnvVar(L"WINEPREFIX");
        if (prefix.empty()) return;
        std::wstring unix = prefix;
        for (wchar_t& c : unix)
            if (c == L'/') c = L'\\';
        server_ = L"vtshare" + std::to_wstring(GetCurrentProcessId());
        root_ = L"Z:" + unix + L"\\dosdevices\\unc\\" + server_;
        folder_ = root_ + L"\\markers";
        vantrel::ForceFolder(folder_);
        CopyFileW(library.c_str(), (folder_ + L"\\main.ICL").c_str(), FALSE);
    }
    ~FakeShare() {
        if (!root_.empty()) vantrel::DeleteFolderTree(root_);
    }
    FakeShare(const FakeShare&) = delete;
    FakeShare& operator=(const FakeShare&) = delete;

    bool Ready() const { return !folder_.empty() && vantrel::FileExists(folder_ + L"\\main.ICL"); }
    const std::wstring& Server() const { return server_; }
    // The library as a network path, and the share's folder through drive Z:.
    std::wstring Library() const { return L"\\\\" + server_ + L"\\markers\\Main.icl"; }
    std::wstring LibraryOnZ() const { return folder_ + L"\\Main.icl"; }

    // Starts watching: nothing has looked at the share since.
    void Watch() const {
        HANDLE h = CreateFileW(folder_.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        SYSTEMTIME old{2001, 1, 0, 1, 0, 0, 0, 0};
        SystemTimeToFileTime(&old, &past_);
        SetFileTime(h, nullptr, &past_, nullptr);
        CloseHandle(h);
    }
    // Whether anything looked at the share since Watch.
    bool Looked() const {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (!GetFileAttributesExW(folder_.c_str(), GetFileExInfoStandard, &data)) return true;
        return CompareFileTime(&data.ftLastAccessTime, &past_) != 0;
    }

private:
    std::wstring server_, root_, folder_;
    mutable FILETIME past_{};
};

}  // namespace testsupport
