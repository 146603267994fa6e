// CSimpleShlExt: one object that is both the context-menu handler for all files and the
// icon handler of the file types the program registers.
#pragma once

#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <string>
#include <vector>

#include "MenuTable.h"

namespace shlext {

// The marker interface of the class; it has no methods of its own.
struct ISimpleShlExt : public IUnknown {};

class CSimpleShlExt : public ISimpleShlExt,
                      public IShellExtInit,
                      public IContextMenu,
                      public IPersistFile,
                      public IExtractIconW {
public:
    CSimpleShlExt();
    virtual ~CSimpleShlExt();
    CSimpleShlExt(const CSimpleShlExt&) = delete;
    CSimpleShlExt& operator=(const CSimpleShlExt&) = delete;

    // IUnknown (one implementation for all the interfaces).
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IShellExtInit
    STDMETHODIMP Initialize(PCIDLIST_ABSOLUTE pidlFolder, IDataObject* pdtobj, HKEY hkeyProgID) override;

    // IContextMenu
    STDMETHODIMP QueryContextMenu(HMENU hmenu, UINT indexMenu, UINT idCmdFirst, UINT idCmdLast,
                                  UINT uFlags) override;
    STDMETHODIMP InvokeCommand(CMINVOKECOMMANDINFO* pici) override;
    STDMETHODIMP GetCommandString(UINT_PTR idCmd, UINT uType, UINT* pReserved, CHAR* pszName, UINT cchMax) override;

    // IPersistFile
    STDMETHODIMP GetClassID(CLSID* pClassID) override;
    STDMETHODIMP IsDirty() override;
    STDMETHODIMP Load(LPCOLESTR pszFileName, DWORD dwMode) override;
    STDMETHODIMP Save(LPCOLESTR pszFileName, BOOL fRemember) override;
    STDMETHODIMP SaveCompleted(LPCOLESTR pszFileName) override;
    STDMETHODIMP GetCurFile(LPOLESTR* ppszFileName) override;

    // IExtractIconW
    STDMETHODIMP GetIconLocation(UINT uFlags, PWSTR pszIconFile, UINT cchMax, int* piIndex, UINT* pwFlags) override;
    STDMETHODIMP Extract(PCWSTR pszFile, UINT nIconIndex, HICON* phiconLarge, HICON* phiconSmall,
                         UINT nIconSize) override;

private:
    void AddMenuItem(HMENU hmenu, UINT position, UINT_PTR id, const MenuEntry& entry);
    HRESULT GetTypeIconLocation(PWSTR pszIconFile, UINT cchMax, int* piIndex, UINT* pwFlags);

    ULONG m_refs = 0;  // apartment-threaded: only the creating thread touches it
    // Whole texts, never cut: a cut path could name another file.
    std::wstring m_szProgramDir;
    std::wstring m_szFile;
    std::vector<std::wstring> m_vecFiles;
    std::vector<MenuCommand> m_vecCommands;
};

}  // namespace shlext
