#include "app/engine/MarkerStreams.h"

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include "app/common/FileHelpers.h"
#include "app/common/TextConv.h"
#include "app/engine/ChangeJournal.h"
#include "imaging/Error.h"

namespace vantrel {

bool HasIconStream(const std::wstring& filePath) {
    HANDLE h = CreateFileW(IconStreamPath(filePath).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    CloseHandle(h);
    return true;
}

std::vector<unsigned char> ReadIconStream(const std::wstring& filePath) {
    return ReadFileBytes(IconStreamPath(filePath), kMaxIconStreamBytes);
}

void RemoveMarkerStreams(const std::wstring& filePath) {
    if (HasIconStream(filePath)) {
        DeleteFileW(IconStreamPath(filePath).c_str());
        DeleteFileW(InfoStreamPath(filePath).c_str());
    }
    JournalRemove(filePath);
}

bool CanChangeIconStream(const std::wstring& filePath) {
    HANDLE h = CreateFileW(IconStreamPath(filePath).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    CloseHandle(h);
    return true;
}

bool CanWriteStreams(const std::wstring& filePath, std::wstring& errorText) {
    errorText.clear();
    const std::wstring probe = filePath + kProbeStreamName;
    // The probe stream is normally not there, so it is made as a new stream. Replacing
    // one truncates it first, and where Wine keeps streams as files of a Linux file
    // system, a truncated file is written out at its close: deleting it right after costs
    // some milliseconds instead of some microseconds, more than the marking's other
    // steps together. A probe stream that is there (left behind, or held by another
    // program) takes the replacing open, whose failure is the one reported.
    HANDLE h = CreateFileW(probe.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE)
        h = CreateFileW(probe.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                        nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        DWORD code = GetLastError();
        errorText = L"Cannot create file \"" + probe + L"\". " + SystemErrorMessage(code);
        return false;
    }
    static const char kText[] = "test\r\n";
    DWORD written = 0;
    BOOL ok = WriteFile(h, kText, sizeof(kText) - 1, &written, nullptr);
    DWORD code = GetLastError();
    CloseHandle(h);
    DeleteFileW(probe.c_str());
    if (!ok || written != sizeof(kText) - 1)
        throw Error("Cannot write file \"" + WideToUtf8(probe) + "\". " + WideToUtf8(SystemErrorMessage(code)));
    return true;
}

std::wstring ExtractFileDrive(const std::wstring& path) {
    if (path.size() >= 2 && path[1] == L':') return path.substr(0, 2);
    if (path.size() >= 2 && path[0] == L'\\' && path[1] == L'\\') {
        // "\\server\share": up to the backslash after the share name.
        std::size_t server = path.find(L'\\', 2);
        if (server == std::wstring::npos) return path;
        std::size_t share = path.find(L'\\', server + 1);
        return share == std::wstring::npos ? path : path.substr(0, share);
    }
    return {};
}

namespace {

// Late-bound calls on the scripting runtime's objects.
class Dispatch {
public:
    explicit Dispatch(IDispatch* p = nullptr) : p_(p) {}
    ~Dispatch() {
        if (p_) p_->Release();
    }
    Dispatch(const Dispatch&) = delete;
    Dispatch& operator=(const Dispatch&) = delete;
    IDispatch* get() const { return p_; }

    // Calls a method or reads a property with at most one string argument; the result
    // is in *result (cleared by the caller).
    void Call(const wchar_t* name, WORD kind, const std::wstring* arg, VARIANT* result) const {
        std::wstring nameCopy = name;
        LPOLESTR names[] = {nameCopy.data()};
        DISPID id = 0;
        HRESULT hr = p_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
        if (FAILED(hr)) Fail(name, hr, nullptr);
        VARIANT argument;
        VariantInit(&argument);
        DISPPARAMS params{};
        if (arg) {
            argument.vt = VT_BSTR;
            argument.bstrVal = SysAllocStringLen(arg->data(), static_cast<UINT>(arg->size()));
            if (!argument.bstrVal) Fail(name, E_OUTOFMEMORY, nullptr);
            params.rgvarg = &argument;
            params.cArgs = 1;
        }
        EXCEPINFO info{};
        hr = p_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, kind, &params, result, &info, nullptr);
        VariantClear(&argument);
        if (FAILED(hr)) Fail(name, hr, &info);
    }

private:
    [[noreturn]] static void Fail(const wchar_t* name, HRESULT hr, EXCEPINFO* info) {
        std::wstring text;
        if (info && info->bstrDescription) text.assign(info->bstrDescription, SysStringLen(info->bstrDescription));
        if (info) {
            SysFreeString(info->bstrDescription);
            SysFreeString(info->bstrSource);
            SysFreeString(info->bstrHelpFile);
            if (info->scode) hr = info->scode;
        }
        if (text.empty()) text = SystemErrorMessage(static_cast<unsigned long>(hr));
        throw Error("Scripting.FileSystemObject." + WideToUtf8(name) + " failed: " + WideToUtf8(text));
    }

    IDispatch* p_;
};

struct VariantHolder {
    VARIANT v;
    VariantHolder() { VariantInit(&v); }
    ~VariantHolder() { VariantClear(&v); }
    std::wstring Text() {
        if (FAILED(VariantChangeType(&v, &v, 0, VT_BSTR)) || !v.bstrVal) return {};
        return std::wstring(v.bstrVal, SysStringLen(v.bstrVal));
    }
};

FileSystemNameSource g_fileSystemSource = &QueryFileSystemName;

}  // namespace

std::wstring QueryFileSystemName(const std::wstring& drive) {
    HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    struct Uninit {
        HRESULT hr;
        ~Uninit() {
            if (SUCCEEDED(hr)) CoUninitialize();
        }
    } uninit{init};

    CLSID clsid;
    HRESULT hr = CLSIDFromProgID(L"Scripting.FileSystemObject", &clsid);
    if (FAILED(hr))
        throw Error("Scripting.FileSystemObject is not available: " +
                    WideToUtf8(SystemErrorMessage(static_cast<unsigned long>(hr))));
    IDispatch* raw = nullptr;
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&raw));
    if (FAILED(hr) || !raw)
        throw Error("Scripting.FileSystemObject cannot be created: " +
                    WideToUtf8(SystemErrorMessage(static_cast<unsigned long>(hr))));
    Dispatch fso(raw);

    VariantHolder name;
    fso.Call(L"GetDriveName", DISPATCH_METHOD, &drive, &name.v);
    const std::wstring driveName = name.Text();

    VariantHolder driveObject;
    fso.Call(L"GetDrive", DISPATCH_METHOD, &driveName, &driveObject.v);
    if (driveObject.v.vt != VT_DISPATCH || !driveObject.v.pdispVal)
        throw Error("Scripting.FileSystemObject.GetDrive returned no drive for \"" + WideToUtf8(driveName) + "\".");
    driveObject.v.pdispVal->AddRef();
    Dispatch driveDispatch(driveObject.v.pdispVal);

    VariantHolder fileSystem;
    driveDispatch.Call(L"FileSystem", DISPATCH_PROPERTYGET, nullptr, &fileSystem.v);
    return fileSystem.Text();
}

void SetFileSystemNameSource(FileSystemNameSource source) {
    g_fileSystemSource = source ? source : &QueryFileSystemName;
}

std::wstring GetFileSystemName(const std::wstring& driveText) {
    if (driveText.size() < 2 || driveText[1] != L':') return {};
    try {
        return g_fileSystemSource(driveText.substr(0, 2));
    } catch (const std::exception&) {
        // A drive without medium or one that vanished: no file system to name.
        return {};
    }
}

bool IsNtfsName(const std::wstring& name) {
    return CompareStringOrdinal(name.c_str(), static_cast<int>(name.size()), L"NTFS", 4, TRUE) == CSTR_EQUAL;
}

bool IsOnNtfsDrive(const std::wstring& filePath, std::wstring* fileSystem) {
    std::wstring name = GetFileSystemName(ExtractFileDrive(filePath));
    const bool ntfs = IsNtfsName(name);
    if (fileSystem) *fileSystem = std::move(name);
    return ntfs;
}

}  // namespace vantrel
