// CMarkFileCommand: the "Mark File" command of Windows 11's context menu, an
// IExplorerCommand with one sub-command per command of the classic submenu. It shows
// for a selection of files only and starts the program exactly as the classic menu does.
#pragma once

#include <windows.h>
#include <shobjidl.h>

#include <string>

namespace shlext {

class CMarkFileCommand : public IExplorerCommand, public IObjectWithSite {
public:
    // The class factory's creation: a new object queried for riid.
    static HRESULT Create(REFIID riid, void** ppv);

    CMarkFileCommand(const CMarkFileCommand&) = delete;
    CMarkFileCommand& operator=(const CMarkFileCommand&) = delete;

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IExplorerCommand
    STDMETHODIMP GetTitle(IShellItemArray* psiItemArray, LPWSTR* ppszName) override;
    STDMETHODIMP GetIcon(IShellItemArray* psiItemArray, LPWSTR* ppszIcon) override;
    STDMETHODIMP GetToolTip(IShellItemArray* psiItemArray, LPWSTR* ppszInfotip) override;
    STDMETHODIMP GetCanonicalName(GUID* pguidCommandName) override;
    STDMETHODIMP GetState(IShellItemArray* psiItemArray, BOOL fOkToBeSlow, EXPCMDSTATE* pCmdState) override;
    STDMETHODIMP Invoke(IShellItemArray* psiItemArray, IBindCtx* pbc) override;
    STDMETHODIMP GetFlags(EXPCMDFLAGS* pFlags) override;
    STDMETHODIMP EnumSubCommands(IEnumExplorerCommand** ppEnum) override;

    // IObjectWithSite
    STDMETHODIMP SetSite(IUnknown* pUnkSite) override;
    STDMETHODIMP GetSite(REFIID riid, void** ppvSite) override;

private:
    CMarkFileCommand();
    virtual ~CMarkFileCommand();

    volatile LONG m_refs = 0;
    IUnknown* m_site = nullptr;
    bool m_launchStarted = false;  // the delayed "-ad" start, once per object
    std::wstring m_szProgramDir;
};

}  // namespace shlext
