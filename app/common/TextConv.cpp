#include "app/common/TextConv.h"

#include <windows.h>

namespace vantrel {

namespace {

std::wstring MultiToWide(unsigned codePage, std::string_view text) {
    if (text.empty()) return {};
    int n = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (n <= 0) return {};
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

}  // namespace

std::wstring Utf8ToWide(std::string_view text) { return MultiToWide(CP_UTF8, text); }

std::wstring AnsiToWide(std::string_view text) { return MultiToWide(CP_ACP, text); }

std::string WideToUtf8(std::wstring_view text) {
    if (text.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::string WideToAnsi(std::wstring_view text, bool* lossless) {
    if (lossless) *lossless = true;
    if (text.empty()) return {};
    BOOL usedDefault = FALSE;
    int n = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                lossless ? &usedDefault : nullptr);
    if (n <= 0) {
        if (lossless) *lossless = false;
        return {};
    }
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr,
                        lossless ? &usedDefault : nullptr);
    if (lossless && usedDefault) *lossless = false;
    // A round trip catches best-fit mappings that report no default character.
    if (lossless && *lossless && AnsiToWide(out) != text) *lossless = false;
    return out;
}

std::wstring SystemErrorMessage(unsigned long code) {
    wchar_t* buffer = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text;
    if (n && buffer) text.assign(buffer, n);
    if (buffer) LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' '))
        text.pop_back();
    if (text.empty()) text = L"System error " + std::to_wstring(code);
    return text;
}

}  // namespace vantrel
