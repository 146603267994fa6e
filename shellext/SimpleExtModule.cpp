// The module of the in-process server: entry points, the class table with a cached
// class factory per class, unloading, and registration from the REGISTRY and TYPELIB
// resources, machine-wide or per user.
#include "SimpleExtModule.h"

#include <oleauto.h>

#include <new>
#include <string>

#include "Guids.h"
#include "MarkFileCommand.h"
#include "Registrar.h"
#include "SimpleShlExt.h"

namespace shlext {

HINSTANCE g_hInstance = nullptr;

namespace {

volatile LONG g_lockCount = 0;
CRITICAL_SECTION g_moduleSection;
bool g_moduleSectionReady = false;
CRITICAL_SECTION g_globalsSection;
bool g_globalsSectionReady = false;
bool g_perUser = false;  // set by DllInstall(…, "user") for the rest of the process

// --- class factory ---------------------------------------------------------------

// Lives from the first request to the unload of the DLL; its references do not keep
// the module loaded (only LockServer does).
class CClassFactory : public IClassFactory {
public:
    using CreateFn = HRESULT (*)(REFIID riid, void** ppv);
    explicit CClassFactory(CreateFn create) : create_(create) {}
    virtual ~CClassFactory() = default;
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
            *ppv = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
    STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(InterlockedDecrement(&refs_)); }

    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        return create_(riid, ppv);
    }
    STDMETHODIMP LockServer(BOOL lock) override {
        if (lock)
            ModuleLock();
        else
            ModuleUnlock();
        return S_OK;
    }

private:
    CreateFn create_;
    volatile LONG refs_ = 0;
};

HRESULT CreateSimpleShlExt(REFIID riid, void** ppv) {
    CSimpleShlExt* obj = new (std::nothrow) CSimpleShlExt;
    if (!obj) return E_OUTOFMEMORY;
    obj->AddRef();
    HRESULT hr = obj->QueryInterface(riid, ppv);
    obj->Release();  // destroys the object when the query failed
    return hr;
}

// The served classes; each factory is made on its first request.
struct ClassEntry {
    const CLSID* clsid;
    CClassFactory::CreateFn create;
    CClassFactory* factory;
};
ClassEntry g_classes[] = {
    {&CLSID_SimpleShlExt, CreateSimpleShlExt, nullptr},
    {&CLSID_MarkFileCommand, CMarkFileCommand::Create, nullptr},
};

// --- registration ----------------------------------------------------------------

}  // namespace

std::wstring ModulePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = GetModuleFileNameW(g_hInstance, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return {};
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

namespace {

HRESULT LoadScript(int id, std::wstring& text) {
    HRSRC res = FindResourceW(g_hInstance, MAKEINTRESOURCEW(id), L"REGISTRY");
    if (!res) return HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND);
    HGLOBAL mem = LoadResource(g_hInstance, res);
    const char* data = mem ? static_cast<const char*>(LockResource(mem)) : nullptr;
    DWORD size = SizeofResource(g_hInstance, res);
    if (!data || size == 0) return HRESULT_FROM_WIN32(ERROR_RESOURCE_DATA_NOT_FOUND);
    int n = MultiByteToWideChar(CP_ACP, 0, data, static_cast<int>(size), nullptr, 0);
    text.assign(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, data, static_cast<int>(size), text.data(), n);
    return S_OK;
}

HRESULT RunScript(int id, bool doRegister) {
    std::wstring text;
    HRESULT hr = LoadScript(id, text);
    if (FAILED(hr)) return hr;
    const std::wstring module = ModulePath();
    Replacements repl = {{L"Module", module}, {L"Module_Raw", module}, {L"APPID", kAppId}};
    RegScript script;
    if (!ParseRegScript(text, repl, script)) return DISP_E_EXCEPTION;
    return RunRegScript(script, doRegister, g_perUser);
}

// The per-user type library functions (Windows Vista SP1 and later) are not in the
// toolchain's headers: they are looked up in oleaut32.
using RegisterForUserFn = HRESULT(WINAPI*)(ITypeLib*, OLECHAR*, OLECHAR*);
using UnregisterForUserFn = HRESULT(WINAPI*)(REFGUID, WORD, WORD, LCID, SYSKIND);

FARPROC OleAutProc(const char* name) {
    HMODULE oleaut = GetModuleHandleW(L"oleaut32.dll");
    return oleaut ? GetProcAddress(oleaut, name) : nullptr;
}

HRESULT RegisterTypeLibrary(bool doRegister) {
    const std::wstring module = ModulePath();
    ITypeLib* lib = nullptr;
    HRESULT hr = LoadTypeLibEx(module.c_str(), REGKIND_NONE, &lib);
    if (FAILED(hr)) return hr;
    if (doRegister) {
        std::wstring path = module;
        if (g_perUser) {
            auto fn = reinterpret_cast<RegisterForUserFn>(reinterpret_cast<void*>(OleAutProc("RegisterTypeLibForUser")));
            hr = fn ? fn(lib, path.data(), nullptr) : E_NOTIMPL;
        } else {
            hr = RegisterTypeLib(lib, path.data(), nullptr);
        }
    } else {
        TLIBATTR* attr = nullptr;
        hr = lib->GetLibAttr(&attr);
        BSTR registeredPath = nullptr;
        // A library that is not registered (any more) is nothing to remove.
        if (SUCCEEDED(hr) && FAILED(QueryPathOfRegTypeLib(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum,
                                                          attr->lcid, &registeredPath))) {
            lib->ReleaseTLibAttr(attr);
            lib->Release();
            return S_OK;
        }
        SysFreeString(registeredPath);
        if (SUCCEEDED(hr)) {
            if (g_perUser) {
                auto fn = reinterpret_cast<UnregisterForUserFn>(
                    reinterpret_cast<void*>(OleAutProc("UnRegisterTypeLibForUser")));
                hr = fn ? fn(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid, attr->syskind)
                        : E_NOTIMPL;
            } else {
                hr = UnRegisterTypeLib(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid, attr->syskind);
            }
            lib->ReleaseTLibAttr(attr);
            // A library that is not registered is no failure of unregistration.
            if (hr == TYPE_E_REGISTRYACCESS || hr == TYPE_E_LIBNOTREGISTERED) hr = S_OK;
        }
    }
    lib->Release();
    return hr;
}

// Registration runs under the system default locale, as the scripts' texts assume.
class SystemLocaleScope {
public:
    SystemLocaleScope() : old_(GetThreadLocale()) { SetThreadLocale(LOCALE_SYSTEM_DEFAULT); }
    ~SystemLocaleScope() { SetThreadLocale(old_); }

private:
    LCID old_;
};

}  // namespace

void ModuleLock() { InterlockedIncrement(&g_lockCount); }
void ModuleUnlock() { InterlockedDecrement(&g_lockCount); }
LONG ModuleLockCount() { return InterlockedCompareExchange(&g_lockCount, 0, 0); }

GlobalsLock::GlobalsLock() { EnterCriticalSection(&g_globalsSection); }
GlobalsLock::~GlobalsLock() { LeaveCriticalSection(&g_globalsSection); }

}  // namespace shlext

using namespace shlext;

extern "C" {

BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID) {
    g_hInstance = hInstance;
    switch (dwReason) {
    case DLL_PROCESS_ATTACH:
        if (!InitializeCriticalSectionAndSpinCount(&g_moduleSection, 0)) return FALSE;
        g_moduleSectionReady = true;
        if (!InitializeCriticalSectionAndSpinCount(&g_globalsSection, 0)) {
            DeleteCriticalSection(&g_moduleSection);
            g_moduleSectionReady = false;
            return FALSE;
        }
        g_globalsSectionReady = true;
        DisableThreadLibraryCalls(hInstance);
        break;
    case DLL_PROCESS_DETACH:
        for (ClassEntry& c : g_classes) {
            delete c.factory;
            c.factory = nullptr;
        }
        ReleaseProcessData();
        if (g_globalsSectionReady) DeleteCriticalSection(&g_globalsSection);
        if (g_moduleSectionReady) DeleteCriticalSection(&g_moduleSection);
        g_globalsSectionReady = g_moduleSectionReady = false;
        break;
    default: break;
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    ClassEntry* entry = nullptr;
    for (ClassEntry& c : g_classes)
        if (IsEqualCLSID(rclsid, *c.clsid)) entry = &c;
    if (!entry) return CLASS_E_CLASSNOTAVAILABLE;
    EnterCriticalSection(&g_moduleSection);
    if (!entry->factory) entry->factory = new (std::nothrow) CClassFactory(entry->create);
    CClassFactory* factory = entry->factory;
    LeaveCriticalSection(&g_moduleSection);
    if (!factory) return E_OUTOFMEMORY;
    return factory->QueryInterface(riid, ppv);
}

STDAPI DllCanUnloadNow() { return ModuleLockCount() == 0 ? S_OK : S_FALSE; }

STDAPI DllRegisterServer() {
    SystemLocaleScope locale;
    HRESULT hr = RunScript(IDR_MODULE_SCRIPT, true);
    if (SUCCEEDED(hr)) hr = RunScript(IDR_CLASS_SCRIPT, true);
    if (SUCCEEDED(hr)) hr = RegisterTypeLibrary(true);
    return FAILED(hr) ? hr : S_OK;
}

STDAPI DllUnregisterServer() {
    SystemLocaleScope locale;
    HRESULT hr = RunScript(IDR_CLASS_SCRIPT, false);
    if (SUCCEEDED(hr)) hr = RegisterTypeLibrary(false);
    if (SUCCEEDED(hr)) hr = RunScript(IDR_MODULE_SCRIPT, false);
    return FAILED(hr) ? hr : S_OK;
}

STDAPI DllInstall(BOOL bInstall, LPCWSTR pszCmdLine) {
    if (pszCmdLine && _wcsnicmp(pszCmdLine, L"user", 5) == 0) g_perUser = true;
    if (!bInstall) return DllUnregisterServer();
    HRESULT hr = DllRegisterServer();
    if (FAILED(hr)) DllUnregisterServer();
    return hr;
}

}  // extern "C"
