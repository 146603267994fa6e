#include "app/common/FileHelpers.h"

#include <windows.h>

#include <algorithm>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include "app/common/TextConv.h"
#include "app/common/TextFormat.h"
#include "imaging/Error.h"

namespace vantrel {

std::wstring GetEnvVar(const std::wstring& name) {
    std::wstring value(256, L'\0');
    for (;;) {
        SetLastError(ERROR_SUCCESS);
        DWORD n = GetEnvironmentVariableW(name.c_str(), value.data(), static_cast<DWORD>(value.size()));
        if (n == 0) return {};
        if (n < value.size()) {
            value.resize(n);
            return value;
        }
        value.resize(n);  // n is the size needed, terminator included
    }
}

int QueryOSMajorVersion() {
    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof(info);
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
    if (!GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info))) return -1;
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
    return static_cast<int>(info.dwMajorVersion);
}

namespace {
OSMajorVersionSource g_versionSource = &QueryOSMajorVersion;
}

void SetOSMajorVersionSource(OSMajorVersionSource source) {
    g_versionSource = source ? source : &QueryOSMajorVersion;
}

int GetOSMajorVersion() { return g_versionSource(); }

namespace {

std::wstring ExpandEnvironment(const std::wstring& text) {
    std::wstring out(text.size() + 128, L'\0');
    for (int attempt = 0; attempt < 8; ++attempt) {
        DWORD n = ExpandEnvironmentStringsW(text.c_str(), out.data(), static_cast<DWORD>(out.size()));
        if (n == 0) return text;
        if (n <= out.size()) {
            out.resize(n - 1);  // n counts the terminator
            return out;
        }
        out.resize(n);
    }
    return text;
}

wchar_t LowerAscii(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c; }

}  // namespace

std::wstring ExpandPath(const std::wstring& path) {
    std::wstring s = path;
    const bool startsWithQuote = !path.empty() && path.front() == L'"';
    if (!s.empty() && s.back() == L'"') s.pop_back();
    if (startsWithQuote && !s.empty()) s.erase(0, 1);

    s = TrimBlanks(s);
    if (s.empty()) return {};

    // In a 32-bit process on 64-bit Windows %ProgramFiles% names the x86 folder;
    // pinning it to the system drive keeps registry paths pointing where they were written.
    static const std::wstring token = L"%programfiles%";
    static const std::wstring replacement = L"%SystemDrive%\\Program Files";
    std::wstring result;
    result.reserve(s.size() + 16);
    for (std::size_t i = 0; i < s.size();) {
        bool match = i + token.size() <= s.size();
        for (std::size_t k = 0; match && k < token.size(); ++k)
            if (LowerAscii(s[i + k]) != token[k]) match = false;
        if (match) {
            result += replacement;
            i += token.size();
        } else {
            result += s[i++];
        }
    }
    return ExpandEnvironment(result);
}

std::wstring FindOnPath(const std::wstring& name) {
    const std::wstring path = GetEnvVar(L"PATH");
    std::size_t start = 0;
    for (;;) {
        std::size_t end = path.find(L';', start);
        std::wstring folder = path.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
        std::wstring candidate = folder;
        if (candidate.empty() || candidate.back() != L'\\') candidate += L'\\';
        candidate += name;
        if (FileExists(candidate)) return candidate;
        if (end == std::wstring::npos) break;
        start = end + 1;
    }
    return {};
}

bool FileExists(const std::wstring& path) {
    if (path.empty()) return false;
    DWORD attr = GetFileAttributesW(path.c_str());
    return attr != INVALID_FILE_ATTRIBUTES && !(attr & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const std::wstring& path) {
    if (path.empty()) return false;
    DWORD attr = GetFileAttributesW(path.c_str());
    return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring ExtractFileDir(const std::wstring& path) {
    std::size_t i = path.find_last_of(L"\\:");
    if (i == std::wstring::npos) return {};
    // Keep the backslash of a root ("C:\", "\") and of a doubled separator.
    if (i > 0 && path[i] == L'\\' && path[i - 1] != L'\\' && path[i - 1] != L':') return path.substr(0, i);
    return path.substr(0, i + 1);
}

std::wstring ExtractFileExt(const std::wstring& path) {
    std::size_t i = path.find_last_of(L"\\:.");
    if (i == std::wstring::npos || path[i] != L'.') return {};
    return path.substr(i);
}

std::wstring IncludeTrailingBackslash(const std::wstring& path) {
    if (!path.empty() && path.back() == L'\\') return path;
    return path + L'\\';
}

std::wstring ExcludeTrailingBackslash(const std::wstring& path) {
    if (!path.empty() && path.back() == L'\\') return path.substr(0, path.size() - 1);
    return path;
}

bool SameFileName(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

bool ForceFolder(const std::wstring& path) {
    std::wstring folder = ExcludeTrailingBackslash(path);
    if (folder.empty()) return false;
    if (DirectoryExists(folder)) return true;
    std::wstring parent = ExtractFileDir(folder);
    if (parent.empty() || parent == folder) return false;
    if (!DirectoryExists(parent) && !ForceFolder(parent)) return false;
    return CreateDirectoryW(folder.c_str(), nullptr) != 0 || DirectoryExists(folder);
}

void DeleteFolderTree(const std::wstring& path) {
    const std::wstring base = IncludeTrailingBackslash(path);
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((base + L"*.*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring full = base + name;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                // A junction or symbolic link to a folder is removed as a link: its
                // target belongs to someone else and is never emptied.
                if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
                    RemoveDirectoryW(full.c_str());
                else
                    DeleteFolderTree(full);
            } else {
                DeleteFileW(full.c_str());
            }
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    RemoveDirectoryW(ExcludeTrailingBackslash(path).c_str());
}

namespace {

[[noreturn]] void ThrowFileError(const char* what, const std::wstring& path, DWORD code) {
    throw Error(std::string(what) + " \"" + WideToUtf8(path) + "\". " + WideToUtf8(SystemErrorMessage(code)));
}

struct HandleCloser {
    HANDLE h;
    ~HandleCloser() {
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
};

}  // namespace

std::vector<unsigned char> ReadFileBytes(const std::wstring& path) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) ThrowFileError("Cannot open file", path, GetLastError());
    HandleCloser closer{h};
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(h, &size)) ThrowFileError("Cannot read file", path, GetLastError());
    if (size.QuadPart < 0 || static_cast<unsigned long long>(size.QuadPart) > 0x7FFFFFFFull)
        throw Error("File \"" + WideToUtf8(path) + "\" is too large.");
    std::vector<unsigned char> bytes(static_cast<std::size_t>(size.QuadPart));
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD got = 0;
        DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 24));
        if (!ReadFile(h, bytes.data() + done, want, &got, nullptr)) ThrowFileError("Cannot read file", path, GetLastError());
        if (got == 0) break;  // the file shrank meanwhile
        done += got;
    }
    bytes.resize(done);
    return bytes;
}

std::wstring ByteSizeText(unsigned long long bytes) {
    if (bytes >= (1ull << 20) && bytes % (1ull << 20) == 0) return std::to_wstring(bytes >> 20) + L" MB";
    if (bytes >= (1ull << 10) && bytes % (1ull << 10) == 0) return std::to_wstring(bytes >> 10) + L" KB";
    return std::to_wstring(bytes) + L" bytes";
}

void ThrowFileTooLarge(const std::wstring& path, unsigned long long limit) {
    throw EFileTooLarge("File \"" + WideToUtf8(path) + "\" is larger than " + WideToUtf8(ByteSizeText(limit)) +
                        ", more than Vantrel ever writes there.\r\nIt is taken as damaged and left as it is.");
}

std::vector<unsigned char> ReadFileBytes(const std::wstring& path, std::size_t maxBytes) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) ThrowFileError("Cannot open file", path, GetLastError());
    HandleCloser closer{h};
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(h, &size)) ThrowFileError("Cannot read file", path, GetLastError());
    if (size.QuadPart < 0 || static_cast<unsigned long long>(size.QuadPart) > maxBytes) ThrowFileTooLarge(path, maxBytes);
    // One byte more than the size room, so that a file still growing is noticed.
    std::vector<unsigned char> bytes(static_cast<std::size_t>(size.QuadPart) + 1);
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD got = 0;
        DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 24));
        if (!ReadFile(h, bytes.data() + done, want, &got, nullptr)) ThrowFileError("Cannot read file", path, GetLastError());
        if (got == 0) break;
        done += got;
        if (done > maxBytes) ThrowFileTooLarge(path, maxBytes);
        if (done == bytes.size()) bytes.resize(std::min<std::size_t>(bytes.size() * 2, maxBytes + 1));
    }
    bytes.resize(done);
    return bytes;
}

void WriteFileBytes(const std::wstring& path, const void* data, std::size_t size) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) ThrowFileError("Cannot create file", path, GetLastError());
    HandleCloser closer{h};
    const auto* p = static_cast<const unsigned char*>(data);
    std::size_t done = 0;
    while (done < size) {
        DWORD put = 0;
        DWORD want = static_cast<DWORD>(std::min<std::size_t>(size - done, 1u << 24));
        if (!WriteFile(h, p + done, want, &put, nullptr) || put == 0)
            ThrowFileError("Cannot write file", path, GetLastError());
        done += put;
    }
}

void CopyFileToPath(const std::wstring& source, const std::wstring& destination) {
    // Read fully first: the destination may be a stream of the source file itself.
    std::vector<unsigned char> bytes = ReadFileBytes(source);
    WriteFileBytes(destination, bytes.data(), bytes.size());
}

std::wstring ResolveShortcut(const std::wstring& linkPath) {
    HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    std::wstring target;
    IShellLinkW* link = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                   reinterpret_cast<void**>(&link)))) {
        IPersistFile* file = nullptr;
        if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
            file->Load(linkPath.c_str(), 0);
            file->Release();
        }
        // Room for any path the shell can hold, so a long target is never cut.
        std::wstring buffer(32768, L'\0');
        buffer[0] = L'\0';
        link->GetPath(buffer.data(), static_cast<int>(buffer.size()), nullptr, SLGP_UNCPRIORITY);
        buffer.back() = L'\0';
        target.assign(buffer.c_str());
        // Some shells hand the path back through the ANSI code page, so a name outside
        // it comes back as "?" and names no file. The link's item list keeps the name
        // whole: take the path from there when the first answer names nothing.
        if (!target.empty() && GetFileAttributesW(target.c_str()) == INVALID_FILE_ATTRIBUTES) {
            PIDLIST_ABSOLUTE items = nullptr;
            if (SUCCEEDED(link->GetIDList(&items)) && items) {
                buffer[0] = L'\0';
                if (SHGetPathFromIDListEx(items, buffer.data(), static_cast<DWORD>(buffer.size()), GPFIDL_DEFAULT))
                    target.assign(buffer.c_str());
                CoTaskMemFree(items);
            }
        }
        link->Release();
    }
    if (SUCCEEDED(init)) CoUninitialize();
    return target;
}

std::wstring ProgramFilePath() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return {};
        if (n < buffer.size()) {
            buffer.resize(n);
            return buffer;
        }
        if (buffer.size() >= 32768) return {};
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace vantrel
