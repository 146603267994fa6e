#include "SimpleShlExt.h"

#include "ComGuard.h"
#include "Guids.h"
#include "IconLocation.h"
#include "ProgramStart.h"
#include "SimpleExtModule.h"

namespace shlext {

CSimpleShlExt::CSimpleShlExt() {
    ModuleLock();
    ReadAppDataFolder();
}

CSimpleShlExt::~CSimpleShlExt() { ModuleUnlock(); }

// The interface map, compared in this order; IUnknown is answered with the first entry.
STDMETHODIMP CSimpleShlExt::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_ISimpleShlExt) || IsEqualIID(riid, IID_IUnknown))
        *ppv = static_cast<ISimpleShlExt*>(this);
    else if (IsEqualIID(riid, IID_IShellExtInit))
        *ppv = static_cast<IShellExtInit*>(this);
    else if (IsEqualIID(riid, IID_IContextMenu))
        *ppv = static_cast<IContextMenu*>(this);
    else if (IsEqualIID(riid, IID_IPersistFile))
        *ppv = static_cast<IPersistFile*>(this);
    else if (IsEqualIID(riid, IID_IExtractIconW))
        *ppv = static_cast<IExtractIconW*>(this);
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) CSimpleShlExt::AddRef() { return ++m_refs; }

STDMETHODIMP_(ULONG) CSimpleShlExt::Release() {
    ULONG refs = --m_refs;
    if (refs == 0) delete this;
    return refs;
}

// --- IPersistFile: only Load is used; the shell passes the file whose icon it wants ---

STDMETHODIMP CSimpleShlExt::GetClassID(CLSID*) { return E_NOTIMPL; }
STDMETHODIMP CSimpleShlExt::IsDirty() { return E_NOTIMPL; }

STDMETHODIMP CSimpleShlExt::Load(LPCOLESTR pszFileName, DWORD) {
    return Guarded([&]() -> HRESULT {
        // The whole path is kept: a cut one could name another file.
        m_szFile = pszFileName ? pszFileName : L"";
        return S_OK;
    });
}

STDMETHODIMP CSimpleShlExt::Save(LPCOLESTR, BOOL) { return E_NOTIMPL; }
STDMETHODIMP CSimpleShlExt::SaveCompleted(LPCOLESTR) { return E_NOTIMPL; }
STDMETHODIMP CSimpleShlExt::GetCurFile(LPOLESTR*) { return E_NOTIMPL; }

// --- IExtractIconW ---

namespace {

// Copies the whole text or nothing: a location cut to the caller's buffer would name
// another file.
bool CopyWhole(const std::wstring& text, PWSTR buffer, UINT cchMax) {
    if (!buffer || text.size() + 1 > cchMax) return false;
    text.copy(buffer, text.size());
    buffer[text.size()] = L'\0';
    return true;
}

}  // namespace

STDMETHODIMP CSimpleShlExt::GetIconLocation(UINT, PWSTR pszIconFile, UINT cchMax, int* piIndex, UINT* pwFlags) {
    return Guarded([&]() -> HRESULT {
        if (!pszIconFile || !piIndex || !pwFlags) return E_POINTER;
        // A marked file: the stream itself is the icon file. A stream path that would not
        // fit is treated as absent, so it is not even opened.
        if (!m_szFile.empty() && m_szFile.size() + wcslen(kIconStreamSuffix) + 1 <= cchMax &&
            IconStreamExists(m_szFile)) {
            CopyWhole(m_szFile + kIconStreamSuffix, pszIconFile, cchMax);
            *piIndex = 0;
            *pwFlags = GIL_DONTCACHE;
            return S_OK;
        }
        return GetTypeIconLocation(pszIconFile, cchMax, piIndex, pwFlags);
    });
}

// The answer for a file without icon stream: its type's DefaultIcon. When there is no
// usable location the caller's buffers are left alone and S_FALSE lets the shell use
// its default icon.
HRESULT CSimpleShlExt::GetTypeIconLocation(PWSTR pszIconFile, UINT cchMax, int* piIndex, UINT* pwFlags) {
    std::wstring location;
    int index = 0;
    if (!LookUpDefaultIcon(ExtensionOf(m_szFile), location, index)) return S_FALSE;
    // "%1" with index 0 stands for the file itself; with any other index it stays.
    if (index == 0 && location == L"%1") location = m_szFile;
    if (location.empty() || !CopyWhole(location, pszIconFile, cchMax)) return S_FALSE;
    *piIndex = index;
    *pwFlags = GIL_DONTCACHE;
    return S_OK;
}

// The shell extracts the icon itself from the location given.
STDMETHODIMP CSimpleShlExt::Extract(PCWSTR, UINT, HICON*, HICON*, UINT) { return S_FALSE; }

}  // namespace shlext
