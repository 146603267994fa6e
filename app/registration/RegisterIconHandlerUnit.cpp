// File-type registry lookups and the user's own icon-handler registration.
#include "app/registration/RegisterIconHandlerUnit.h"
#include "app/registration/RegistratorClient.h"

#include <windows.h>

#include <optional>

#include "app/common/FileHelpers.h"
#include "app/common/TextConv.h"
#include "app/common/TextFormat.h"

namespace vantrel {

namespace {

const std::wstring kUserClasses = L"Software\\Classes\\";

class TRegKey {
public:
    TRegKey() = default;
    ~TRegKey() {
        if (key_) RegCloseKey(key_);
    }
    TRegKey(const TRegKey&) = delete;
    TRegKey& operator=(const TRegKey&) = delete;
    HKEY* out() { return &key_; }
    HKEY get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

std::wstring RootName(HKEY root) {
    if (root == HKEY_CURRENT_USER) return L"HKEY_CURRENT_USER";
    if (root == HKEY_CLASSES_ROOT) return L"HKEY_CLASSES_ROOT";
    if (root == HKEY_LOCAL_MACHINE) return L"HKEY_LOCAL_MACHINE";
    return L"HKEY";
}


// The default value of an open key as text; empty when it has none. Expandable strings
// are returned unexpanded. A value of another kind is a malformed registration.
std::wstring ReadDefaultText(HKEY key, const std::wstring& where) {
    auto fail = [&](LONG rc) {
        return ERegistryException("Cannot read the default value of " + WideToUtf8(where) + ": " +
                                  WideToUtf8(SystemErrorMessage(static_cast<unsigned long>(rc))));
    };
    auto wrongType = [&]() {
        return ERegistryException("Invalid data type for the default value of " + WideToUtf8(where) +
                                  ": a text value was expected.");
    };
    // The value may grow between the size query and the read: then ask again.
    for (int attempt = 0; attempt < 8; ++attempt) {
        DWORD type = 0, size = 0;
        LONG rc = RegQueryValueExW(key, nullptr, nullptr, &type, nullptr, &size);
        if (rc == ERROR_FILE_NOT_FOUND) return {};
        if (rc != ERROR_SUCCESS) throw fail(rc);
        if (type != REG_SZ && type != REG_EXPAND_SZ) throw wrongType();
        // One character more than the data holds, so the text always has an end.
        std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
        DWORD got = static_cast<DWORD>(text.size() * sizeof(wchar_t));
        rc = RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &got);
        if (rc == ERROR_MORE_DATA) continue;
        if (rc == ERROR_FILE_NOT_FOUND) return {};
        if (rc != ERROR_SUCCESS) throw fail(rc);
        if (type != REG_SZ && type != REG_EXPAND_SZ) throw wrongType();
        text.resize(got / sizeof(wchar_t));
        std::size_t nul = text.find(L'\0');
        if (nul != std::wstring::npos) text.resize(nul);
        return text;
    }
    throw ERegistryException("The default value of " + WideToUtf8(where) + " kept changing while it was read.");
}

// The default value of root\subKey, opened read-only in the program's own registry view;
// empty when the key or the value is missing.
std::wstring ReadDefault(HKEY root, const std::wstring& subKey) {
    TRegKey key;
    if (RegOpenKeyExW(root, subKey.c_str(), 0, KEY_READ, key.out()) != ERROR_SUCCESS) return {};
    return ReadDefaultText(key.get(), RootName(root) + L"\\" + subKey);
}

bool KeyExists(HKEY root, const std::wstring& subKey) {
    TRegKey key;
    return RegOpenKeyExW(root, subKey.c_str(), 0, KEY_READ, key.out()) == ERROR_SUCCESS;
}

std::wstring ComputeDefaultIconLocation() {
    return GetOSMajorVersion() > 5 ? L"%SystemRoot%\\System32\\imageres.dll,2" : L"%SystemRoot%\\System32\\shell32.dll,0";
}

std::optional<std::wstring> g_defaultIconLocation;

}  // namespace

const std::wstring& DefaultIconLocation() {
    if (!g_defaultIconLocation) g_defaultIconLocation = ComputeDefaultIconLocation();
    return *g_defaultIconLocation;
}

void RecomputeDefaultIconLocation() { g_defaultIconLocation = ComputeDefaultIconLocation(); }

std::wstring GetFileType(const std::wstring& extension) {
    // Without an extension there is no key to look at (an empty name would read the
    // parent key's own value).
    if (extension.empty()) return L"file";
    std::wstring type = ReadDefault(HKEY_CURRENT_USER, kUserClasses + extension);
    if (type.empty()) type = ReadDefault(HKEY_CLASSES_ROOT, extension);
    if (type.empty()) type = extension.substr(1) + L"file";
    return type;
}

std::wstring GetIconHandler(const std::wstring& type) {
    if (type.empty()) return {};
    std::wstring handler = ReadDefault(HKEY_CURRENT_USER, kUserClasses + type + L"\\ShellEx\\IconHandler");
    if (handler.empty()) handler = ReadDefault(HKEY_CLASSES_ROOT, type + L"\\ShellEx\\IconHandler");
    return handler;
}

std::wstring DescribeIconHandler(const std::wstring& clsid) {
    std::wstring text;
    if (clsid.empty()) return text;  // "CLSID\" would name the whole class table
    const std::wstring classKey = L"CLSID\\" + clsid;
    {
        TRegKey key;
        if (RegOpenKeyExW(HKEY_CLASSES_ROOT, classKey.c_str(), 0, KEY_READ, key.out()) == ERROR_SUCCESS)
            text = clsid + L"\r\n" + ReadDefaultText(key.get(), L"HKEY_CLASSES_ROOT\\" + classKey);
    }
    const std::wstring serverKey = classKey + L"\\InprocServer32";
    TRegKey key;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, serverKey.c_str(), 0, KEY_READ, key.out()) == ERROR_SUCCESS)
        text += L"\r\n" + ReadDefaultText(key.get(), L"HKEY_CLASSES_ROOT\\" + serverKey);
    return text;
}

std::wstring GetDefaultIconValue(const std::wstring& type) {
    if (type.empty()) return {};
    std::wstring value = ReadDefault(HKEY_CURRENT_USER, kUserClasses + type + L"\\DefaultIcon");
    if (value.empty()) value = TrimBlanks(ReadDefault(HKEY_CLASSES_ROOT, type + L"\\DefaultIcon"));
    return value;
}

void ParseIconLocation(const std::wstring& text, TIconPathRec& location) {
    const std::wstring s = TrimBlanks(text);
    // From the end backwards: digits and "-" form the number, blanks are skipped, a comma
    // is the split point, anything else means the text has no index.
    std::wstring number;
    std::size_t comma = std::wstring::npos;
    for (std::size_t i = s.size(); i-- > 0;) {
        const wchar_t c = s[i];
        if ((c >= L'0' && c <= L'9') || c == L'-') {
            number.insert(number.begin(), c);
        } else if (c == L' ') {
            continue;
        } else {
            if (c == L',') comma = i;
            break;
        }
    }
    number = TrimBlanks(number);
    if (comma == std::wstring::npos || number.empty()) {
        location.Path = s;
        location.Index = 0;
        return;
    }
    if (std::optional<std::int32_t> index = ParseInteger(number)) {
        location.Index = *index;
        location.Path = s.substr(0, comma);
    }
}

TIconPathRec ParseIconLocation(const std::wstring& text) {
    TIconPathRec location;
    ParseIconLocation(text, location);
    return location;
}

TIconPathRec GetIconLocation(const std::wstring& filePath) {
    return ResolveIconLocation(GetDefaultIconValue(GetFileType(ExtractFileExt(filePath))), filePath);
}

TIconPathRec ResolveIconLocation(const std::wstring& defaultIconValue, const std::wstring& filePath) {
    const bool isExe = SameTextAscii(ExtractFileExt(filePath), L".exe");

    TIconPathRec location;
    ParseIconLocation(defaultIconValue, location);
    if (location.Path.empty()) location = ParseIconLocation(DefaultIconLocation());
    if (location.Path == L"%1") location.Path = filePath;
    location.Path = ExpandPath(location.Path);
    if (!FileExists(location.Path)) location.Path = FindOnPath(location.Path);
    // A program's own icon is not a type icon: programs show the generic program icon.
    if (FileExists(location.Path) && isExe) {
        location.Path = ExpandPath(L"%SystemRoot%\\System32\\imageres.dll");
        location.Index = 11;
    }
    return location;
}

void EnsureIconHandler(const std::wstring& extension, const std::wstring& type) {
    if (type.empty()) throw Error("No file type was given for the icon handler registration of \"" +
                                  WideToUtf8(extension) + "\".");
    const std::wstring typeKey = kUserClasses + type;
    if (!KeyExists(HKEY_CURRENT_USER, typeKey)) {
        RegisterFileType(extension, type);
        return;
    }
    const std::wstring handlerKey = typeKey + L"\\ShellEx\\IconHandler";
    const std::wstring where = L"HKEY_CURRENT_USER\\" + handlerKey;
    TRegKey key;
    LONG rc = RegCreateKeyExW(HKEY_CURRENT_USER, handlerKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY,
                              nullptr, key.out(), nullptr);
    if (rc != ERROR_SUCCESS)
        throw ERegistryException("Failed to create key " + WideToUtf8(where) + ": " +
                                 WideToUtf8(SystemErrorMessage(static_cast<unsigned long>(rc))));
    if (!ReadDefaultText(key.get(), where).empty()) return;
    const std::wstring clsid = ShellExtensionCLSID;
    rc = RegSetValueExW(key.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(clsid.c_str()),
                        static_cast<DWORD>((clsid.size() + 1) * sizeof(wchar_t)));
    if (rc != ERROR_SUCCESS)
        throw ERegistryException("Failed to set the default value of " + WideToUtf8(where) + ": " +
                                 WideToUtf8(SystemErrorMessage(static_cast<unsigned long>(rc))));
}

}  // namespace vantrel
