#define _CRT_RAND_S
#include "ListFile.h"

#include <stdlib.h>

namespace shlext {
namespace {

std::string Convert(UINT codePage, DWORD flags, const std::wstring& text, BOOL* usedDefault) {
    if (text.empty()) return {};
    int n = WideCharToMultiByte(codePage, flags, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                usedDefault);
    if (n <= 0) {
        if (usedDefault) *usedDefault = TRUE;
        return {};
    }
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(codePage, flags, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr,
                        usedDefault);
    return out;
}

// Exact ANSI text of a path, or false when the code page cannot represent it (no
// best-fit replacement either: "ā" turned into "a" names a different file).
bool ToAnsiExactly(const std::wstring& text, std::string& out) {
    if (GetACP() == CP_UTF8) {
        out = Convert(CP_UTF8, 0, text, nullptr);
        return true;
    }
    BOOL usedDefault = FALSE;
    out = Convert(CP_ACP, WC_NO_BEST_FIT_CHARS, text, &usedDefault);
    return !usedDefault;
}

}  // namespace

std::string EncodeFileList(const std::vector<std::wstring>& files) {
    std::string ansi;
    bool exact = true;
    for (const auto& f : files) {
        std::string line;
        if (!ToAnsiExactly(f, line)) {
            exact = false;
            break;
        }
        ansi += line;
        ansi += "\r\n";
    }
    if (exact) return ansi;
    std::string utf8 = "\xEF\xBB\xBF";
    for (const auto& f : files) {
        utf8 += Convert(CP_UTF8, 0, f, nullptr);
        utf8 += "\r\n";
    }
    return utf8;
}

HANDLE CreateNewListFile(const std::wstring& folder, std::wstring& path) {
    std::wstring base = folder;
    if (!base.empty() && base.back() != L'\\' && base.back() != L'/') base += L'\\';
    for (int attempt = 0; attempt < 1000; ++attempt) {
        unsigned int r = 0;
        if (rand_s(&r) != 0) r = GetTickCount() ^ (GetCurrentThreadId() << 16) ^ static_cast<unsigned>(attempt);
        path = base + L"vantrel" + std::to_wstring(r % 9000000u + 100000u) + L".dat";
        HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) return h;
        DWORD err = GetLastError();
        if (err != ERROR_FILE_EXISTS && err != ERROR_ALREADY_EXISTS) break;
    }
    return INVALID_HANDLE_VALUE;
}

}  // namespace shlext
