#include "app/engine/ShellIconRefresh.h"

#include <windows.h>
#include <shlobj.h>

#include <string>

#include "app/common/FileHelpers.h"
#include "app/common/TextFormat.h"

namespace vantrel {

namespace {

const wchar_t kMetricsKey[] = L"Control Panel\\Desktop\\WindowMetrics";
const wchar_t kIconSizeValue[] = L"Shell Icon Size";

std::wstring ReadIconSize(HKEY key) {
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key, kIconSizeValue, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return L"32";
    std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
    size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    if (RegQueryValueExW(key, kIconSizeValue, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size) !=
        ERROR_SUCCESS)
        return L"32";
    text.resize(wcsnlen(text.c_str(), text.size()));
    return text;
}

void WriteIconSize(HKEY key, const std::wstring& text) {
    RegSetValueExW(key, kIconSizeValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

void BroadcastSettingChange() {
    // Synchronous as a broadcast must be, but a hung window costs at most a few
    // seconds instead of stopping the program for good.
    DWORD_PTR result = 0;
    SendMessageTimeoutW(HWND_BROADCAST, WM_WININICHANGE, 0, 0, SMTO_BLOCK | SMTO_ABORTIFHUNG, 5000, &result);
}

}  // namespace

void ToggleShellIconSize() {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kMetricsKey, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return;
    std::wstring text = ReadIconSize(key);
    if (text == L"33" || text == L"34") text = L"32";
    else if (text == L"49" || text == L"50") text = L"48";

    auto value = ParseInteger(text);
    long long bumped = (value ? static_cast<long long>(*value) : 32LL) + 1;
    WriteIconSize(key, std::to_wstring(bumped));
    BroadcastSettingChange();

    if (text.empty()) text = L"32";
    WriteIconSize(key, text);
    BroadcastSettingChange();
    RegCloseKey(key);
}

void RefreshShellIcons() {
    if (GetOSMajorVersion() >= 6)
        SHChangeNotify(SHCNE_ASSOCCHANGED, 0, nullptr, nullptr);
    else
        ToggleShellIconSize();
}

}  // namespace vantrel
