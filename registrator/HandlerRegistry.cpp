// Registry side of the registrator service. All names reaching this file were validated by
// the request parser (one key name, no backslash); this file checks them again against the
// registry itself and never writes anything but the one IconHandler value (and the keys it
// needs) and its own record.
#include "registrator/HandlerRegistry.h"

#include <cwctype>
#include <vector>

#include "registrator/RequestParser.h"

namespace vantrel::registrator {

namespace {

constexpr wchar_t kShellExtensionCLSID[] = L"{3F2E80AA-C708-4751-B0E1-5DF8361A4C9B}";
constexpr wchar_t kClasses[] = L"Software\\Classes\\";

// Record flags, one DWORD per view and type.
constexpr DWORD kWroteValue = 1;
constexpr DWORD kCreatedIconHandlerKey = 2;
constexpr DWORD kCreatedShellExKey = 4;

struct View {
    REGSAM Flag;
    const wchar_t* Tag;
};
constexpr View kViews[] = {{KEY_WOW64_64KEY, L"64"}, {KEY_WOW64_32KEY, L"32"}};

std::wstring Widen(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) out += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
    return out;
}

bool EqualsNoCase(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::towlower(a[i]) != std::towlower(b[i])) return false;
    return true;
}

class TKey {
public:
    TKey() = default;
    ~TKey() {
        if (key_) RegCloseKey(key_);
    }
    TKey(const TKey&) = delete;
    TKey& operator=(const TKey&) = delete;
    HKEY* Out() { return &key_; }
    HKEY Get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

LONG Open(HKEY root, const std::wstring& path, REGSAM access, TKey& key) {
    return RegOpenKeyExW(root, path.c_str(), 0, access, key.Out());
}

bool KeyExists(const std::wstring& path, REGSAM view) {
    TKey key;
    return Open(HKEY_LOCAL_MACHINE, path, KEY_READ | view, key) == ERROR_SUCCESS;
}

// A string value (REG_SZ or REG_EXPAND_SZ, unexpanded). Missing: nullopt-like false with
// empty text; a value of another kind: false and isString cleared.
struct ValueRead {
    bool Present = false;
    bool IsString = false;
    std::wstring Text;
};

ValueRead ReadString(HKEY key, const wchar_t* name) {
    ValueRead r;
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return r;
    r.Present = true;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return r;
    if (size > 64 * 1024) return r;  // no class name or CLSID is that long
    std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 2, L'\0');
    DWORD got = static_cast<DWORD>((buffer.size() - 1) * sizeof(wchar_t));
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &got) != ERROR_SUCCESS)
        return r;
    r.IsString = true;
    r.Text.assign(buffer.data());
    return r;
}

ValueRead ReadDefault(const std::wstring& path, REGSAM view) {
    TKey key;
    if (Open(HKEY_LOCAL_MACHINE, path, KEY_QUERY_VALUE | view, key) != ERROR_SUCCESS) return {};
    return ReadString(key.Get(), nullptr);
}

bool IsGuidText(const std::wstring& s) {
    if (s.size() != 38 || s.front() != L'{' || s.back() != L'}') return false;
    for (std::size_t i = 1; i < 37; ++i) {
        wchar_t c = s[i];
        bool dash = i == 9 || i == 14 || i == 19 || i == 24;
        if (dash ? c != L'-' : !std::iswxdigit(c)) return false;
    }
    return true;
}

// What the body of a 201 names: the handler's CLSID and, when it is a registered class,
// its name.
std::string DescribeHandler(const ValueRead& handler, REGSAM view) {
    if (!handler.IsString) return "The type's icon handler is not a class identifier.";
    std::string text = Narrow(handler.Text);
    if (IsGuidText(handler.Text)) {
        ValueRead name = ReadDefault(std::wstring(kClasses) + L"CLSID\\" + handler.Text, view);
        if (name.IsString && !name.Text.empty()) text += "\r\n" + Narrow(name.Text);
    }
    return text;
}

bool IsEmptyKey(HKEY key) {
    DWORD subKeys = 0, values = 0;
    if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values, nullptr, nullptr,
                         nullptr, nullptr) != ERROR_SUCCESS)
        return false;
    return subKeys == 0 && values == 0;
}

// Deletes parent\child when it has neither values nor subkeys.
void DeleteIfEmpty(const std::wstring& parent, const wchar_t* child, REGSAM view) {
    {
        TKey key;
        if (Open(HKEY_LOCAL_MACHINE, parent + L"\\" + child, KEY_READ | view, key) != ERROR_SUCCESS) return;
        if (!IsEmptyKey(key.Get())) return;
    }
    TKey parentKey;
    if (Open(HKEY_LOCAL_MACHINE, parent, KEY_READ | DELETE | KEY_SET_VALUE | view, parentKey) != ERROR_SUCCESS) return;
    RegDeleteKeyExW(parentKey.Get(), child, view, 0);
}

HandlerAnswer Answer(int status, std::string body) { return HandlerAnswer{status, std::move(body)}; }

HandlerAnswer RegistryFailure(LONG code, const char* what) {
    return Answer(kStatusServerError, std::string("The registry refused ") + what + " (error " + std::to_string(code) + ").");
}

}  // namespace

std::wstring THandlerRegistry::DefaultRecordKey() { return L"Software\\Kestrane\\Vantrel\\Registrations"; }

THandlerRegistry::THandlerRegistry(std::wstring recordKey) : recordKey_(std::move(recordKey)) {}

HandlerAnswer THandlerRegistry::Register(const std::string& extension, const std::string& type) {
    // The parser let only safe names through; a caller that skipped it gets nothing either.
    if (!IsValidExtension(extension) || !IsValidTypeName(type))
        return Answer(kStatusNotAcceptable, "The extension or the file type is not acceptable.");
    std::lock_guard<std::mutex> lock(mutex_);

    const std::wstring ext = Widen(extension), typeName = Widen(type);
    const std::wstring typeKey = kClasses + typeName;
    const std::wstring shellExKey = typeKey + L"\\ShellEx";
    const std::wstring handlerKey = shellExKey + L"\\IconHandler";

    bool extensionKnown = false;
    bool belongs[2] = {false, false};
    ValueRead handlers[2];
    for (int v = 0; v < 2; ++v) {
        ValueRead extValue = ReadDefault(kClasses + ext, kViews[v].Flag);
        extensionKnown = extensionKnown || KeyExists(kClasses + ext, kViews[v].Flag);
        belongs[v] = extValue.IsString && EqualsNoCase(extValue.Text, typeName) && KeyExists(typeKey, kViews[v].Flag);
        if (belongs[v]) handlers[v] = ReadDefault(handlerKey, kViews[v].Flag);
    }
    if (!belongs[0] && !belongs[1])
        return Answer(kStatusNotAcceptable, extensionKnown
                                                ? "The file type is not the machine-wide type of the extension."
                                                : "The extension is not registered machine-wide.");
    // Another handler in any view: nothing is written anywhere.
    for (int v = 0; v < 2; ++v) {
        if (!belongs[v] || !handlers[v].Present) continue;
        if (handlers[v].IsString && (handlers[v].Text.empty() || EqualsNoCase(handlers[v].Text, kShellExtensionCLSID)))
            continue;
        return Answer(kStatusForeignHandler, DescribeHandler(handlers[v], kViews[v].Flag));
    }

    TKey record;
    LONG rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, recordKey_.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, record.Out(), nullptr);
    if (rc != ERROR_SUCCESS) return RegistryFailure(rc, "the record of registrations");

    for (int v = 0; v < 2; ++v) {
        if (!belongs[v]) continue;
        const REGSAM view = kViews[v].Flag;
        // Set in the other view already (the two views may share the classes key).
        ValueRead current = ReadDefault(handlerKey, view);
        if (current.IsString && !current.Text.empty()) continue;

        DWORD flags = kWroteValue;
        if (!KeyExists(shellExKey, view)) flags |= kCreatedShellExKey | kCreatedIconHandlerKey;
        else if (!KeyExists(handlerKey, view)) flags |= kCreatedIconHandlerKey;

        // The record comes first: a value without its record could never be removed.
        const std::wstring entry = std::wstring(kViews[v].Tag) + L"|" + typeName;
        DWORD old = 0, oldType = 0, oldSize = sizeof(old);
        if (RegQueryValueExW(record.Get(), entry.c_str(), nullptr, &oldType, reinterpret_cast<BYTE*>(&old), &oldSize) ==
                ERROR_SUCCESS &&
            oldType == REG_DWORD)
            flags |= old;
        rc = RegSetValueExW(record.Get(), entry.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&flags), sizeof(flags));
        if (rc != ERROR_SUCCESS) return RegistryFailure(rc, "the record of registrations");

        TKey handler;
        rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, handlerKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                             KEY_SET_VALUE | view, nullptr, handler.Out(), nullptr);
        if (rc != ERROR_SUCCESS) return RegistryFailure(rc, "the icon handler key");
        rc = RegSetValueExW(handler.Get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(kShellExtensionCLSID),
                            sizeof(kShellExtensionCLSID));
        if (rc != ERROR_SUCCESS) return RegistryFailure(rc, "the icon handler value");
    }
    return Answer(kStatusOk, "OK");
}

HandlerAnswer THandlerRegistry::UnregisterAll() {
    std::lock_guard<std::mutex> lock(mutex_);
    TKey record;
    LONG rc = Open(HKEY_LOCAL_MACHINE, recordKey_, KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_WOW64_64KEY, record);
    if (rc == ERROR_FILE_NOT_FOUND) return Answer(kStatusOk, "OK");
    if (rc != ERROR_SUCCESS) return RegistryFailure(rc, "the record of registrations");

    struct Entry {
        std::wstring Name;
        DWORD Flags = 0;
    };
    std::vector<Entry> entries;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameLength = 256, type = 0, flags = 0, size = sizeof(flags);
        rc = RegEnumValueW(record.Get(), i, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(&flags), &size);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        if (rc == ERROR_MORE_DATA) {  // not one of ours: a long name or a large value
            entries.push_back({std::wstring(name, nameLength), 0});
            continue;
        }
        if (rc != ERROR_SUCCESS) return RegistryFailure(rc, "reading the record of registrations");
        entries.push_back({std::wstring(name, nameLength), type == REG_DWORD ? flags : 0});
    }

    for (const Entry& entry : entries) {
        std::size_t bar = entry.Name.find(L'|');
        const View* view = nullptr;
        if (bar != std::wstring::npos)
            for (const View& v : kViews)
                if (entry.Name.compare(0, bar, v.Tag) == 0) view = &v;
        std::wstring typeName = bar == std::wstring::npos ? L"" : entry.Name.substr(bar + 1);
        if (view && (entry.Flags & kWroteValue) && IsValidTypeName(Narrow(typeName))) {
            const std::wstring shellExKey = kClasses + typeName + L"\\ShellEx";
            const std::wstring handlerKey = shellExKey + L"\\IconHandler";
            TKey handler;
            if (Open(HKEY_LOCAL_MACHINE, handlerKey, KEY_QUERY_VALUE | KEY_SET_VALUE | view->Flag, handler) ==
                ERROR_SUCCESS) {
                ValueRead current = ReadString(handler.Get(), nullptr);
                if (current.IsString && EqualsNoCase(current.Text, kShellExtensionCLSID)) {
                    rc = RegDeleteValueW(handler.Get(), nullptr);
                    if (rc != ERROR_SUCCESS) return RegistryFailure(rc, "removing an icon handler value");
                }
            }
            if (entry.Flags & kCreatedIconHandlerKey) DeleteIfEmpty(shellExKey, L"IconHandler", view->Flag);
            if (entry.Flags & kCreatedShellExKey) DeleteIfEmpty(kClasses + typeName, L"ShellEx", view->Flag);
        }
        rc = RegDeleteValueW(record.Get(), entry.Name.c_str());
        if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) return RegistryFailure(rc, "updating the record");
    }
    return Answer(kStatusOk, "OK");
}

}  // namespace vantrel::registrator
