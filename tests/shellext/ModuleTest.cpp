// The in-process server as COM and regsvr32 see it: its exports, class object, object
// identity, unloading, resources, type library and both registration scripts.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "DropData.h"
#include "Guids.h"
#include "ShlExtTestSupport.h"

using namespace shlexttest;

namespace {

using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
using PlainFn = HRESULT(STDAPICALLTYPE*)();

const std::wstring kClsid = GuidText(shlext::CLSID_SimpleShlExt);
const std::wstring kCompReg = GuidText(shlext::CLSID_CompReg);
const std::wstring kCommand = GuidText(shlext::CLSID_MarkFileCommand);
const std::wstring kLibid = GuidText(shlext::LIBID_SimpleExtLib);
const std::wstring kHandlerKey = L"*\\shellex\\ContextMenuHandlers\\Vantrel";

class Module : public ::testing::Test {
protected:
    static void SetUpTestSuite() { dll_ = LoadLibraryW(DllPath().c_str()); }
    void SetUp() override { ASSERT_NE(dll_, nullptr) << "cannot load " << Utf8(DllPath()); }

    template <typename Fn>
    static Fn Proc(const char* name) {
        return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(dll_, name)));
    }
    static HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** ppv) {
        return Proc<GetClassObjectFn>("DllGetClassObject")(clsid, iid, ppv);
    }
    static HRESULT CanUnloadNow() { return Proc<PlainFn>("DllCanUnloadNow")(); }

    static HMODULE dll_;
};
HMODULE Module::dll_ = nullptr;

TEST_F(Module, ExportsExactlyTheSixEntryPoints) {
    auto base = reinterpret_cast<const BYTE*>(dll_);
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const auto& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    ASSERT_NE(dir.VirtualAddress, 0u);
    auto exp = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
    auto names = reinterpret_cast<const DWORD*>(base + exp->AddressOfNames);
    std::set<std::string> found;
    for (DWORD i = 0; i < exp->NumberOfNames; ++i) found.insert(reinterpret_cast<const char*>(base + names[i]));
    EXPECT_EQ(found, (std::set<std::string>{"DllMain", "DllGetClassObject", "DllCanUnloadNow", "DllRegisterServer",
                                            "DllUnregisterServer", "DllInstall"}));
    EXPECT_EQ(exp->NumberOfFunctions, 6u);
}

TEST_F(Module, ClassObjectOnlyForServedClassesAndCached) {
    EXPECT_EQ(GetClassObject(shlext::CLSID_SimpleShlExt, IID_IClassFactory, nullptr), E_POINTER);

    void* p = reinterpret_cast<void*>(1);
    // Registered by the module script, but not served.
    EXPECT_EQ(GetClassObject(shlext::CLSID_CompReg, IID_IClassFactory, &p), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(p, nullptr);

    IClassFactory* a = nullptr;
    IClassFactory* b = nullptr;
    ASSERT_EQ(GetClassObject(shlext::CLSID_SimpleShlExt, IID_IClassFactory, reinterpret_cast<void**>(&a)), S_OK);
    ASSERT_EQ(GetClassObject(shlext::CLSID_SimpleShlExt, IID_IUnknown, reinterpret_cast<void**>(&b)), S_OK);
    EXPECT_EQ(static_cast<IUnknown*>(a), static_cast<IUnknown*>(b));
    p = reinterpret_cast<void*>(1);
    EXPECT_EQ(GetClassObject(shlext::CLSID_SimpleShlExt, IID_IDispatch, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);

    // Aggregation is refused with the out pointer cleared.
    p = reinterpret_cast<void*>(1);
    EXPECT_EQ(a->CreateInstance(reinterpret_cast<IUnknown*>(a), IID_IUnknown, &p), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(a->CreateInstance(nullptr, IID_IUnknown, nullptr), E_POINTER);
    // A refused interface destroys the new object again.
    p = reinterpret_cast<void*>(1);
    EXPECT_EQ(a->CreateInstance(nullptr, IID_IPersist, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(CanUnloadNow(), S_OK);
    a->Release();
    b->Release();
}

TEST_F(Module, InterfaceMapAndIdentity) {
    IClassFactory* f = nullptr;
    ASSERT_EQ(GetClassObject(shlext::CLSID_SimpleShlExt, IID_IClassFactory, reinterpret_cast<void**>(&f)), S_OK);
    IUnknown* unk = nullptr;
    ASSERT_EQ(f->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&unk)), S_OK);
    f->Release();

    void* first = nullptr;
    ASSERT_EQ(unk->QueryInterface(shlext::IID_ISimpleShlExt, &first), S_OK);
    EXPECT_EQ(first, static_cast<void*>(unk)) << "IUnknown is the first entry of the map";
    static_cast<IUnknown*>(first)->Release();

    for (const IID* iid : {&IID_IShellExtInit, &IID_IContextMenu, &IID_IPersistFile, &IID_IExtractIconW}) {
        IUnknown* p = nullptr;
        EXPECT_EQ(unk->QueryInterface(*iid, reinterpret_cast<void**>(&p)), S_OK) << Utf8(GuidText(*iid));
        if (!p) continue;
        IUnknown* back = nullptr;
        ASSERT_EQ(p->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&back)), S_OK);
        EXPECT_EQ(back, unk);
        back->Release();
        p->Release();
    }
    for (const IID* iid : {&IID_IPersist, &IID_IExtractIconA, &IID_IDispatch, &IID_IContextMenu2}) {
        void* p = reinterpret_cast<void*>(1);
        EXPECT_EQ(unk->QueryInterface(*iid, &p), E_NOINTERFACE) << Utf8(GuidText(*iid));
        EXPECT_EQ(p, nullptr);
    }
    EXPECT_EQ(unk->Release(), 0u);
}

TEST_F(Module, CanUnloadFollowsObjectsAndServerLocks) {
    IClassFactory* f = nullptr;
    ASSERT_EQ(GetClassObject(shlext::CLSID_SimpleShlExt, IID_IClassFactory, reinterpret_cast<void**>(&f)), S_OK);
    EXPECT_EQ(CanUnloadNow(), S_OK) << "the cached factory keeps no lock";
    IUnknown* one = nullptr;
    IUnknown* two = nullptr;
    ASSERT_EQ(f->CreateInstance(nullptr, IID_IExtractIconW, reinterpret_cast<void**>(&one)), S_OK);
    ASSERT_EQ(f->CreateInstance(nullptr, IID_IContextMenu, reinterpret_cast<void**>(&two)), S_OK);
    EXPECT_EQ(CanUnloadNow(), S_FALSE);
    one->Release();
    EXPECT_EQ(CanUnloadNow(), S_FALSE);
    two->Release();
    EXPECT_EQ(CanUnloadNow(), S_OK);
    EXPECT_EQ(f->LockServer(TRUE), S_OK);
    EXPECT_EQ(CanUnloadNow(), S_FALSE);
    EXPECT_EQ(f->LockServer(FALSE), S_OK);
    EXPECT_EQ(CanUnloadNow(), S_OK);
    f->Release();
}

// A site that counts its references.
class Site : public IUnknown {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        *ppv = IsEqualIID(riid, IID_IUnknown) ? this : nullptr;
        if (!*ppv) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; }
    ULONG refs = 1;
};

TEST_F(Module, ExplorerCommandClassObjectInterfacesAndSite) {
    IClassFactory* f = nullptr;
    IClassFactory* classic = nullptr;
    ASSERT_EQ(GetClassObject(shlext::CLSID_MarkFileCommand, IID_IClassFactory, reinterpret_cast<void**>(&f)), S_OK);
    ASSERT_EQ(GetClassObject(shlext::CLSID_SimpleShlExt, IID_IClassFactory, reinterpret_cast<void**>(&classic)),
              S_OK);
    EXPECT_NE(f, classic) << "a factory of its own";
    classic->Release();
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(f->CreateInstance(nullptr, IID_IContextMenu, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(CanUnloadNow(), S_OK);

    IExplorerCommand* cmd = nullptr;
    ASSERT_EQ(f->CreateInstance(nullptr, IID_IExplorerCommand, reinterpret_cast<void**>(&cmd)), S_OK);
    f->Release();
    IObjectWithSite* ows = nullptr;
    ASSERT_EQ(cmd->QueryInterface(IID_IObjectWithSite, reinterpret_cast<void**>(&ows)), S_OK);
    IUnknown* a = nullptr;
    IUnknown* b = nullptr;
    ASSERT_EQ(cmd->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&a)), S_OK);
    ASSERT_EQ(ows->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&b)), S_OK);
    EXPECT_EQ(a, b);
    a->Release();
    b->Release();

    EXPECT_EQ(ows->GetSite(IID_IUnknown, &p), E_FAIL);
    EXPECT_EQ(p, nullptr);
    Site site;
    ASSERT_EQ(ows->SetSite(&site), S_OK);
    EXPECT_EQ(site.refs, 2u);
    ASSERT_EQ(ows->GetSite(IID_IUnknown, &p), S_OK);
    EXPECT_EQ(p, static_cast<void*>(&site));
    static_cast<IUnknown*>(p)->Release();
    EXPECT_EQ(ows->GetSite(IID_IContextMenu, &p), E_NOINTERFACE);
    ASSERT_EQ(ows->SetSite(nullptr), S_OK);
    EXPECT_EQ(site.refs, 1u);
    ows->SetSite(&site);  // kept until the object goes
    ows->Release();

    // The sub-commands keep the module loaded after the root is gone.
    IEnumExplorerCommand* e = nullptr;
    ASSERT_EQ(cmd->EnumSubCommands(&e), S_OK);
    EXPECT_EQ(cmd->Release(), 0u);
    EXPECT_EQ(site.refs, 1u);
    EXPECT_EQ(CanUnloadNow(), S_FALSE);
    IExplorerCommand* first = nullptr;
    ASSERT_EQ(e->Next(1, &first, nullptr), S_OK);
    IEnumExplorerCommand* clone = nullptr;
    ASSERT_EQ(e->Clone(&clone), S_OK);
    EXPECT_EQ(e->Skip(100), S_FALSE);
    IExplorerCommand* none = nullptr;
    ULONG got = 7;
    EXPECT_EQ(e->Next(1, &none, &got), S_FALSE);
    EXPECT_EQ(got, 0u);
    IExplorerCommand* second = nullptr;
    ASSERT_EQ(clone->Next(1, &second, nullptr), S_OK);
    EXPECT_NE(first, second) << "the clone goes on where the original stood";
    EXPECT_EQ(clone->Reset(), S_OK);
    IExplorerCommand* again = nullptr;
    ASSERT_EQ(clone->Next(1, &again, nullptr), S_OK);
    EXPECT_EQ(first, again);
    for (IUnknown* u : std::initializer_list<IUnknown*>{first, second, again, e, clone}) u->Release();
    EXPECT_EQ(CanUnloadNow(), S_OK);
}

// The delayed "-ad" start calls back into the DLL: until it has run, the DLL must not
// be unloaded, even when every object is gone.
TEST_F(Module, PendingDelayedStartKeepsTheModuleLoaded) {
    TempDir dir;
    const std::wstring record = dir / L"record.txt";
    ScopedEnv env(L"VANTREL_RECORD", record);
    const wchar_t* key = L"Software\\Kestrane\\Vantrel";
    auto oldPath = RegString(HKEY_CURRENT_USER, key, L"VantrelPath", KEY_WOW64_64KEY);
    ASSERT_TRUE(SetRegString(HKEY_CURRENT_USER, key, L"VantrelPath", SiblingExe(L"recorder.exe"), KEY_WOW64_64KEY));
    ASSERT_TRUE(WriteBytes(dir / L"a.txt", "a"));

    IClassFactory* f = nullptr;
    ASSERT_EQ(GetClassObject(shlext::CLSID_SimpleShlExt, IID_IClassFactory, reinterpret_cast<void**>(&f)), S_OK);
    IShellExtInit* init = nullptr;
    ASSERT_EQ(f->CreateInstance(nullptr, IID_IShellExtInit, reinterpret_cast<void**>(&init)), S_OK);
    f->Release();
    DropData data({dir / L"a.txt"});
    ASSERT_EQ(init->Initialize(nullptr, &data, nullptr), S_OK);
    init->Release();
    EXPECT_EQ(CanUnloadNow(), S_FALSE) << "the timer is still pending";
    PumpMessages(10500);
    EXPECT_EQ(CanUnloadNow(), S_OK);
    for (int i = 0; i < 100 && !ReadBytes(record); ++i) Sleep(50);
    EXPECT_EQ(ReadBytes(record), std::string("-ad\n"));

    if (oldPath)
        SetRegString(HKEY_CURRENT_USER, key, L"VantrelPath", *oldPath, KEY_WOW64_64KEY);
    else {
        HKEY k;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, key, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, &k) == ERROR_SUCCESS) {
            RegDeleteValueW(k, L"VantrelPath");
            RegCloseKey(k);
        }
    }
}

TEST_F(Module, ResourcesStringVersionPicturesManifest) {
    wchar_t text[64] = {};
    ASSERT_GT(LoadStringW(dll_, 100, text, 64), 0);
    EXPECT_STREQ(text, L"SimpleExt");

    for (int id = 300; id <= 333; ++id) {
        HICON icon = static_cast<HICON>(LoadImageW(dll_, MAKEINTRESOURCEW(id), IMAGE_ICON, 16, 16, 0));
        EXPECT_NE(icon, nullptr) << "icon " << id;
        if (icon) DestroyIcon(icon);
    }

    const std::wstring path = DllPath();
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> info(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT len = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &len));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00010000u);
    wchar_t* desc = nullptr;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\StringFileInfo\\040904b0\\FileDescription",
                               reinterpret_cast<void**>(&desc), &len));
    EXPECT_STREQ(desc, L"Shell extension for Vantrel");

    HRSRC manifest = FindResourceW(dll_, MAKEINTRESOURCEW(2), MAKEINTRESOURCEW(24));
    if (sizeof(void*) == 4) {
        ASSERT_NE(manifest, nullptr);
        std::string xml(static_cast<const char*>(LockResource(LoadResource(dll_, manifest))),
                        SizeofResource(dll_, manifest));
        EXPECT_NE(xml.find("level=\"asInvoker\""), std::string::npos);
        EXPECT_NE(xml.find("uiAccess=\"false\""), std::string::npos);
    } else {
        EXPECT_EQ(manifest, nullptr);
    }
}

TEST_F(Module, TypeLibraryDescribesTheClasses) {
    ITypeLib* lib = nullptr;
    ASSERT_EQ(LoadTypeLibEx(DllPath().c_str(), REGKIND_NONE, &lib), S_OK);
    TLIBATTR* attr = nullptr;
    ASSERT_EQ(lib->GetLibAttr(&attr), S_OK);
    EXPECT_TRUE(IsEqualGUID(attr->guid, shlext::LIBID_SimpleExtLib));
    EXPECT_EQ(attr->wMajorVerNum, 1);
    EXPECT_EQ(attr->wMinorVerNum, 0);
    EXPECT_EQ(attr->lcid, 0x0409u);
    lib->ReleaseTLibAttr(attr);
    BSTR name = nullptr;
    ASSERT_EQ(lib->GetDocumentation(-1, &name, nullptr, nullptr, nullptr), S_OK);
    EXPECT_STREQ(name, L"SimpleExtLib");
    SysFreeString(name);

    // Each coclass and its default interface.
    struct Co {
        CLSID clsid;
        const wchar_t* name;
        const wchar_t* iface;
        TYPEKIND ifaceKind;
        int methods;  // of the interface itself
    };
    const Co cos[] = {{shlext::CLSID_CompReg, L"CompReg", L"IComponentRegistrar", TKIND_DISPATCH, 6},
                      {shlext::CLSID_SimpleShlExt, L"SimpleShlExt", L"ISimpleShlExt", TKIND_INTERFACE, 0}};
    for (const auto& co : cos) {
        ITypeInfo* ti = nullptr;
        ASSERT_EQ(lib->GetTypeInfoOfGuid(co.clsid, &ti), S_OK) << Utf8(co.name);
        TYPEATTR* ta = nullptr;
        ASSERT_EQ(ti->GetTypeAttr(&ta), S_OK);
        EXPECT_EQ(ta->typekind, TKIND_COCLASS);
        EXPECT_TRUE(ta->wTypeFlags & TYPEFLAG_FCANCREATE);
        ASSERT_EQ(ta->cImplTypes, 1);
        ti->ReleaseTypeAttr(ta);
        ASSERT_EQ(ti->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr), S_OK);
        EXPECT_STREQ(name, co.name);
        SysFreeString(name);
        INT flags = 0;
        ASSERT_EQ(ti->GetImplTypeFlags(0, &flags), S_OK);
        EXPECT_TRUE(flags & IMPLTYPEFLAG_FDEFAULT);
        HREFTYPE ref = 0;
        ASSERT_EQ(ti->GetRefTypeOfImplType(0, &ref), S_OK);
        ITypeInfo* iface = nullptr;
        ASSERT_EQ(ti->GetRefTypeInfo(ref, &iface), S_OK);
        ASSERT_EQ(iface->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr), S_OK);
        EXPECT_STREQ(name, co.iface);
        SysFreeString(name);
        ASSERT_EQ(iface->GetTypeAttr(&ta), S_OK);
        EXPECT_EQ(ta->typekind, co.ifaceKind);
        if (co.ifaceKind == TKIND_INTERFACE) {
            EXPECT_TRUE(IsEqualGUID(ta->guid, shlext::IID_ISimpleShlExt));
            EXPECT_EQ(ta->cFuncs, 0);
            EXPECT_FALSE(ta->wTypeFlags & (TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION));
        } else {
            EXPECT_TRUE(ta->wTypeFlags & TYPEFLAG_FDUAL);
            // The interface view of the dual interface holds its own six methods.
            HREFTYPE vtblRef = 0;
            ASSERT_EQ(iface->GetRefTypeOfImplType(-1, &vtblRef), S_OK);
            ITypeInfo* vtbl = nullptr;
            ASSERT_EQ(iface->GetRefTypeInfo(vtblRef, &vtbl), S_OK);
            TYPEATTR* va = nullptr;
            ASSERT_EQ(vtbl->GetTypeAttr(&va), S_OK);
            std::vector<std::wstring> own;
            for (WORD i = 0; i < va->cFuncs; ++i) {
                FUNCDESC* fd = nullptr;
                ASSERT_EQ(vtbl->GetFuncDesc(i, &fd), S_OK);
                if (vtbl->GetDocumentation(fd->memid, &name, nullptr, nullptr, nullptr) == S_OK) {
                    own.push_back(name);
                    SysFreeString(name);
                }
                vtbl->ReleaseFuncDesc(fd);
            }
            vtbl->ReleaseTypeAttr(va);
            vtbl->Release();
            EXPECT_EQ(own, (std::vector<std::wstring>{L"Attach", L"RegisterAll", L"UnregisterAll", L"GetComponents",
                                                      L"RegisterComponent", L"UnregisterComponent"}));
        }
        iface->ReleaseTypeAttr(ta);
        iface->Release();
        ti->Release();
    }
    lib->Release();
}

// --- registration ----------------------------------------------------------------

// What a complete registration of both scripts leaves below `classes`.
void ExpectRegistered(HKEY classes, const std::wstring& prefix, const std::wstring& module) {
    const std::wstring clsid = prefix + L"CLSID\\" + kClsid;
    EXPECT_EQ(RegString(classes, clsid, nullptr), L"Vantrel Shell Extension");
    auto inproc = RegString(classes, clsid + L"\\InprocServer32", nullptr);
    ASSERT_TRUE(inproc);
    EXPECT_EQ(_wcsicmp(inproc->c_str(), module.c_str()), 0) << Utf8(*inproc);
    EXPECT_EQ(RegString(classes, clsid + L"\\InprocServer32", L"ThreadingModel"), L"Apartment");
    EXPECT_EQ(RegString(classes, clsid + L"\\TypeLib", nullptr), kLibid);
    EXPECT_EQ(RegString(classes, clsid + L"\\Version", nullptr), L"1.0");

    const std::wstring comp = prefix + L"CLSID\\" + kCompReg;
    EXPECT_EQ(RegString(classes, comp, nullptr), L"CompReg Class");
    EXPECT_TRUE(RegString(classes, comp + L"\\InprocServer32", nullptr));
    EXPECT_EQ(RegString(classes, comp + L"\\InprocServer32", L"ThreadingModel"), L"Apartment");
    EXPECT_EQ(RegString(classes, comp + L"\\TypeLib", nullptr), kLibid);
    EXPECT_EQ(RegString(classes, comp + L"\\Version", nullptr), L"1.0");

    const std::wstring command = prefix + L"CLSID\\" + kCommand;
    EXPECT_EQ(RegString(classes, command, nullptr), L"Vantrel Mark File Command");
    inproc = RegString(classes, command + L"\\InprocServer32", nullptr);
    ASSERT_TRUE(inproc);
    EXPECT_EQ(_wcsicmp(inproc->c_str(), module.c_str()), 0) << Utf8(*inproc);
    EXPECT_EQ(RegString(classes, command + L"\\InprocServer32", L"ThreadingModel"), L"Apartment");

    EXPECT_EQ(RegString(classes, prefix + kHandlerKey, nullptr), kClsid);
}

void ExpectUnregistered(HKEY classes, const std::wstring& prefix) {
    EXPECT_FALSE(KeyExists(classes, prefix + L"CLSID\\" + kClsid));
    EXPECT_FALSE(KeyExists(classes, prefix + L"CLSID\\" + kCompReg));
    EXPECT_FALSE(KeyExists(classes, prefix + L"CLSID\\" + kCommand));
    EXPECT_FALSE(KeyExists(classes, prefix + kHandlerKey));
    // The NoRemove keys stay.
    EXPECT_TRUE(KeyExists(classes, prefix + L"CLSID"));
    EXPECT_TRUE(KeyExists(classes, prefix + L"*\\shellex\\ContextMenuHandlers"));
}

bool TypeLibRegistered() {
    ITypeLib* lib = nullptr;
    if (FAILED(LoadRegTypeLib(shlext::LIBID_SimpleExtLib, 1, 0, 0x0409, &lib))) return false;
    lib->Release();
    return true;
}

std::wstring ModuleFileName(HMODULE m) {
    wchar_t buf[MAX_PATH];
    DWORD n = GetModuleFileNameW(m, buf, MAX_PATH);
    return std::wstring(buf, n);
}

TEST_F(Module, RegisterAndUnregisterMachineWide) {
    // ForceRemove: whatever lay below the class key before is gone after registration.
    ASSERT_TRUE(SetRegString(HKEY_CLASSES_ROOT, L"CLSID\\" + kClsid + L"\\Stale", nullptr, L"old"));
    // Another program's handler beside ours is left alone.
    ASSERT_TRUE(SetRegString(HKEY_CLASSES_ROOT, L"*\\shellex\\ContextMenuHandlers\\OtherTool", nullptr, L"{x}"));

    ASSERT_EQ(Proc<PlainFn>("DllRegisterServer")(), S_OK);
    ExpectRegistered(HKEY_CLASSES_ROOT, L"", ModuleFileName(dll_));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"CLSID\\" + kClsid + L"\\Stale"));
    EXPECT_TRUE(TypeLibRegistered());
    // Registration is repeatable.
    ASSERT_EQ(Proc<PlainFn>("DllRegisterServer")(), S_OK);
    ExpectRegistered(HKEY_CLASSES_ROOT, L"", ModuleFileName(dll_));

    // The registration leads CoCreateInstance to this DLL.
    IExtractIconW* icon = nullptr;
    EXPECT_EQ(CoCreateInstance(shlext::CLSID_SimpleShlExt, nullptr, CLSCTX_INPROC_SERVER, IID_IExtractIconW,
                               reinterpret_cast<void**>(&icon)),
              S_OK);
    if (icon) icon->Release();
    IExplorerCommand* command = nullptr;
    EXPECT_EQ(CoCreateInstance(shlext::CLSID_MarkFileCommand, nullptr, CLSCTX_INPROC_SERVER, IID_IExplorerCommand,
                               reinterpret_cast<void**>(&command)),
              S_OK);
    if (command) command->Release();

    ASSERT_EQ(Proc<PlainFn>("DllUnregisterServer")(), S_OK);
    ExpectUnregistered(HKEY_CLASSES_ROOT, L"");
    EXPECT_FALSE(TypeLibRegistered());
    EXPECT_EQ(RegString(HKEY_CLASSES_ROOT, L"*\\shellex\\ContextMenuHandlers\\OtherTool", nullptr), L"{x}");
    DeleteKeyTree(HKEY_CLASSES_ROOT, L"*\\shellex\\ContextMenuHandlers\\OtherTool");
    // Unregistering what is not registered is no failure.
    EXPECT_EQ(Proc<PlainFn>("DllUnregisterServer")(), S_OK);
}

TEST_F(Module, Regsvr32RegistersAndUnregisters) {
    const std::wstring dll = L"\"" + DllPath() + L"\"";
    ASSERT_EQ(RunProcess(L"regsvr32.exe /s " + dll), 0u);
    ExpectRegistered(HKEY_CLASSES_ROOT, L"", ModuleFileName(dll_));
    EXPECT_TRUE(TypeLibRegistered());
    ASSERT_EQ(RunProcess(L"regsvr32.exe /s /u " + dll), 0u);
    ExpectUnregistered(HKEY_CLASSES_ROOT, L"");
}

// DllInstall's per-user switch lasts for the process, so each case runs in a fresh one.
DWORD Install(bool install, const wchar_t* text) {
    std::wstring cmd = L"\"" + SiblingExe(L"dllinstall_probe.exe") + L"\" \"" + DllPath() + L"\" " +
                       (install ? L"1" : L"0");
    if (text) cmd += std::wstring(L" ") + text;
    return RunProcess(cmd);
}

const std::wstring kUserClasses = L"Software\\Classes\\";

TEST_F(Module, DllInstallPerUserOnlyForTheWordUser) {
    ASSERT_EQ(Install(true, L"USER"), 0u);
    ExpectRegistered(HKEY_CURRENT_USER, kUserClasses, ModuleFileName(dll_));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, L"Software\\Classes\\CLSID\\" + kClsid));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, L"Software\\Classes\\" + kHandlerKey));
    EXPECT_TRUE(TypeLibRegistered());

    // A machine-wide registration beside it survives the per-user removal.
    ASSERT_EQ(Install(true, L"user2"), 0u);
    ExpectRegistered(HKEY_LOCAL_MACHINE, L"Software\\Classes\\", ModuleFileName(dll_));
    ASSERT_EQ(Install(false, L"user"), 0u);
    ExpectUnregistered(HKEY_CURRENT_USER, kUserClasses);
    ExpectRegistered(HKEY_LOCAL_MACHINE, L"Software\\Classes\\", ModuleFileName(dll_));

    ASSERT_EQ(Install(false, L"-null"), 0u);
    ExpectUnregistered(HKEY_LOCAL_MACHINE, L"Software\\Classes\\");

    ASSERT_EQ(Install(true, L"-null"), 0u);
    ExpectRegistered(HKEY_LOCAL_MACHINE, L"Software\\Classes\\", ModuleFileName(dll_));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kUserClasses + L"CLSID\\" + kClsid));
    ASSERT_EQ(Install(false, nullptr), 0u);
    ExpectUnregistered(HKEY_LOCAL_MACHINE, L"Software\\Classes\\");
}

}  // namespace
