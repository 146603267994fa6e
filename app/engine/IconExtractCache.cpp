#include "app/engine/IconExtractCache.h"

// The portable imaging headers come before windows.h, whose RGB and GetRValue macros
// would otherwise rewrite their declarations.
#include "imaging/IconLibrary.h"

#include <windows.h>
#include <objbase.h>

#include <filesystem>

#include "app/common/FileHelpers.h"
#include "app/common/TextConv.h"
#include "app/common/TextFormat.h"
#include "app/engine/VantrelClass.h"
#include "imaging/Error.h"

namespace vantrel {

const wchar_t kIconCacheKey[] = L"Software\\Kestrane\\Vantrel\\Cache";

namespace {

std::wstring ReadCacheValue(HKEY key, const std::wstring& name) {
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ ||
        size > 4096)
        return {};
    std::wstring data(size / sizeof(wchar_t) + 1, L'\0');
    size = DWORD(data.size() * sizeof(wchar_t));
    if (RegQueryValueExW(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size) !=
        ERROR_SUCCESS)
        return {};
    data.resize(wcsnlen(data.c_str(), data.size()));
    return data;
}

// Only a plain file name may come from the registry: a value edited to hold a path or
// ".." must not lead the copy out of the cache folder.
bool IsPlainFileName(const std::wstring& name) {
    return !name.empty() && name.find_first_of(L"\\/:") == std::wstring::npos && name != L"." && name != L"..";
}

std::wstring NewCacheFileName() {
    GUID guid;
    if (FAILED(CoCreateGuid(&guid))) throw Error("Cannot create a GUID for the icon cache");
    wchar_t text[40] = L"";
    StringFromGUID2(guid, text, 40);
    return std::wstring(text) + L".ico";
}

}  // namespace

void ExtractIconToFile(const std::wstring& iconFile, int index, const std::wstring& destination) {
    if (SameTextAscii(ExtractFileExt(iconFile), L".ico")) {
        CopyFileW(iconFile.c_str(), destination.c_str(), FALSE);
        return;
    }
    HKEY key = nullptr;
    LONG rc = RegCreateKeyExW(HKEY_CURRENT_USER, kIconCacheKey, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                              nullptr, &key, nullptr);
    if (rc != ERROR_SUCCESS)
        throw Error("Failed to open the icon cache key: " + WideToUtf8(SystemErrorMessage(DWORD(rc))));
    struct KeyCloser {
        HKEY k;
        ~KeyCloser() { RegCloseKey(k); }
    } closer{key};

    const std::wstring cacheFolder = TVantrel::Core().DataFolder + L"Cache\\";
    const std::wstring valueName = iconFile + L"," + std::to_wstring(index);
    std::wstring cached;
    const std::wstring data = ReadCacheValue(key, valueName);
    if (IsPlainFileName(data) && FileExists(cacheFolder + data)) cached = cacheFolder + data;

    if (cached.empty()) {
        ForceFolder(cacheFolder);
        const std::wstring name = NewCacheFileName();
        rc = RegSetValueExW(key, valueName.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(name.c_str()),
                            DWORD((name.size() + 1) * sizeof(wchar_t)));
        if (rc != ERROR_SUCCESS)
            throw Error("Failed to write the icon cache index: " + WideToUtf8(SystemErrorMessage(DWORD(rc))));
        cached = cacheFolder + name;
        ExtractIconResource(std::filesystem::path(iconFile), index, std::filesystem::path(cached));
    }
    CopyFileW(cached.c_str(), destination.c_str(), FALSE);
}

}  // namespace vantrel
