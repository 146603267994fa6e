#include "IconLocation.h"

#include <windows.h>

#include <climits>
#include <cwctype>

namespace shlext {

std::wstring StripQuotes(const std::wstring& text) {
    std::wstring out;
    out.reserve(text.size());
    for (wchar_t c : text)
        if (c != L'"') out += c;
    return out;
}

namespace {

// strtol-style reading with base 10, with the range checked rather than clamped.
bool ParseIndex(const std::wstring& text, int& value) {
    size_t i = 0;
    while (i < text.size() && std::iswspace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
    long long v = 0;
    size_t digits = 0;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i, ++digits) {
        v = v * 10 + (text[i] - L'0');
        if (v > static_cast<long long>(INT_MAX) + 1) return false;
    }
    if (digits == 0) return false;
    if (negative) v = -v;
    if (v < INT_MIN || v > INT_MAX) return false;
    value = static_cast<int>(v);
    return true;
}


// The lookups read the 64-bit view in both builds, as the program registers there.
constexpr REGSAM kQueryAccess = KEY_QUERY_VALUE | KEY_WOW64_64KEY;

}  // namespace

bool SplitDefaultIcon(const std::wstring& value, std::wstring& location, int& index) {
    size_t comma = value.rfind(L',');
    if (comma == std::wstring::npos) {
        location = StripQuotes(value);
        index = 0;
        return true;
    }
    int parsed = 0;
    if (!ParseIndex(value.substr(comma + 1), parsed)) return false;
    location = StripQuotes(value.substr(0, comma));
    index = parsed;
    return true;
}

std::wstring ExtensionOf(const std::wstring& path) {
    size_t dot = path.rfind(L'.');
    return dot == std::wstring::npos ? std::wstring() : path.substr(dot);
}

bool IconStreamExists(const std::wstring& path) {
    std::wstring stream = path + kIconStreamSuffix;
    HANDLE h = CreateFileW(stream.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    CloseHandle(h);
    return true;
}

bool LookUpDefaultIcon(const std::wstring& extension, std::wstring& location, int& index) {
    if (extension.empty()) return false;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, extension.c_str(), 0, kQueryAccess, &key) != ERROR_SUCCESS) return false;
    std::wstring typeName;
    if (!ReadRegistryText(key, nullptr, typeName)) typeName.clear();
    RegCloseKey(key);
    // Without a type name there is no type to look under.
    if (typeName.empty()) return false;

    std::wstring iconKey = typeName + L"\\DefaultIcon";
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, iconKey.c_str(), 0, kQueryAccess, &key) != ERROR_SUCCESS) return false;
    std::wstring value;
    bool read = ReadRegistryText(key, nullptr, value);
    RegCloseKey(key);
    if (!read) return false;
    return SplitDefaultIcon(value, location, index);
}

bool ReadRegistryText(HKEY key, const wchar_t* name, std::wstring& out) {
    DWORD bytes = 0;
    if (RegQueryValueExW(key, name, nullptr, nullptr, nullptr, &bytes) != ERROR_SUCCESS) return false;
    std::wstring buffer(bytes / sizeof(wchar_t) + 1, L'\0');
    DWORD size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    if (RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer.data()), &size) !=
        ERROR_SUCCESS)
        return false;
    buffer.resize(size / sizeof(wchar_t));
    size_t end = buffer.find(L'\0');
    if (end != std::wstring::npos) buffer.resize(end);
    out = buffer;
    return true;
}

}  // namespace shlext
