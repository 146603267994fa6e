#include "MarkFileCommand.h"

#include <shlwapi.h>

#include <new>
#include <vector>

#include "ComGuard.h"
#include "Guids.h"
#include "MenuTable.h"
#include "ProgramStart.h"
#include "SimpleExtModule.h"

namespace shlext {
namespace {

// A copy of the text for the caller, who frees it with CoTaskMemFree.
HRESULT ReturnText(const std::wstring& text, LPWSTR* out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    return SHStrDupW(text.c_str(), out);
}

// The objects handed out by the command, each with one interface: reference count,
// module lock and interface map.
template <typename Interface>
class SmallObject : public Interface {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, __uuidof(Interface))) return E_NOINTERFACE;
        *ppv = static_cast<Interface*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
    STDMETHODIMP_(ULONG) Release() override {
        LONG refs = InterlockedDecrement(&refs_);
        if (refs == 0) delete this;
        return static_cast<ULONG>(refs);
    }

protected:
    SmallObject() { ModuleLock(); }
    virtual ~SmallObject() { ModuleUnlock(); }

private:
    volatile LONG refs_ = 1;
};

// True when every item is a file of the file system: a folder (unless it is also a
// stream, as a .zip is) or a virtual item hides the command. Asks only for attributes.
bool ItemIsFile(IShellItem* item) {
    SFGAOF attrs = 0;
    if (FAILED(item->GetAttributes(SFGAO_FILESYSTEM | SFGAO_FOLDER | SFGAO_STREAM, &attrs))) return false;
    return (attrs & SFGAO_FILESYSTEM) && (!(attrs & SFGAO_FOLDER) || (attrs & SFGAO_STREAM));
}

bool AllItemsAreFiles(IShellItemArray* items) {
    DWORD count = 0;
    if (!items || FAILED(items->GetCount(&count)) || count == 0) return false;
    // One query of the whole array decides the usual selection: when every item is a
    // stream of the file system, all are files (archives that are also folders among
    // them). Only a selection with something else in it is looked at item by item.
    SFGAOF attrs = 0;
    if (SUCCEEDED(items->GetAttributes(SIATTRIBFLAGS_AND, SFGAO_FILESYSTEM | SFGAO_STREAM, &attrs))) {
        if (!(attrs & SFGAO_FILESYSTEM)) return false;
        if (attrs & SFGAO_STREAM) return true;
    }
    for (DWORD i = 0; i < count; ++i) {
        IShellItem* item = nullptr;
        if (FAILED(items->GetItemAt(i, &item))) return false;
        bool file = ItemIsFile(item);
        item->Release();
        if (!file) return false;
    }
    return true;
}

// The items' file-system paths; items without one are left out.
std::vector<std::wstring> FilePaths(IShellItemArray* items) {
    std::vector<std::wstring> files;
    DWORD count = 0;
    if (!items || FAILED(items->GetCount(&count))) return files;
    for (DWORD i = 0; i < count; ++i) {
        IShellItem* item = nullptr;
        if (FAILED(items->GetItemAt(i, &item))) continue;
        LPWSTR path = nullptr;
        HRESULT hr = item->GetDisplayName(SIGDN_FILESYSPATH, &path);
        item->Release();
        if (FAILED(hr) || !path) continue;
        try {
            if (*path) files.emplace_back(path);
        } catch (...) {
            CoTaskMemFree(path);
            throw;
        }
        CoTaskMemFree(path);
    }
    return files;
}

// One command of the submenu, or a separator.
class CSubCommand : public SmallObject<IExplorerCommand> {
public:
    CSubCommand(const MenuEntry& entry, const std::wstring& programDir, const std::wstring& module)
        : separator_(entry.Kind == CMD_SEPARATOR), title_(PlainText(entry.Caption)),
          command_(CommandOf(entry, programDir)) {
        // The pictures the classic menu draws, as locations the shell loads itself; a
        // marker without a known program folder has none.
        if (entry.Kind == CMD_APPLY_COLOR && !module.empty())
            icon_ = module + L",-" + std::to_wstring(entry.ResourceId);
        else if (entry.Library && !programDir.empty())
            icon_ = command_.IconFile + L"," + std::to_wstring(entry.IconIndex);
    }

    STDMETHODIMP GetTitle(IShellItemArray*, LPWSTR* name) override {
        if (name) *name = nullptr;
        if (separator_) return E_NOTIMPL;
        return Guarded([&] { return ReturnText(title_, name); });
    }
    STDMETHODIMP GetIcon(IShellItemArray*, LPWSTR* icon) override {
        if (icon) *icon = nullptr;
        if (icon_.empty()) return E_NOTIMPL;
        return Guarded([&] { return ReturnText(icon_, icon); });
    }
    STDMETHODIMP GetToolTip(IShellItemArray*, LPWSTR* tip) override {
        if (tip) *tip = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetCanonicalName(GUID*) override { return E_NOTIMPL; }
    STDMETHODIMP GetState(IShellItemArray*, BOOL, EXPCMDSTATE* state) override {
        if (!state) return E_POINTER;
        *state = ECS_ENABLED;
        return S_OK;
    }
    STDMETHODIMP Invoke(IShellItemArray* items, IBindCtx*) override {
        if (separator_) return E_NOTIMPL;
        if (!items) return E_INVALIDARG;
        return Guarded([&] {
            std::vector<std::wstring> files = FilePaths(items);
            if (files.empty()) return E_INVALIDARG;
            WriteListFile(files);
            return StartCommand(command_) ? S_OK : E_FAIL;
        });
    }
    STDMETHODIMP GetFlags(EXPCMDFLAGS* flags) override {
        if (!flags) return E_POINTER;
        *flags = separator_ ? ECF_ISSEPARATOR : ECF_DEFAULT;
        return S_OK;
    }
    STDMETHODIMP EnumSubCommands(IEnumExplorerCommand** ppEnum) override {
        if (ppEnum) *ppEnum = nullptr;
        return E_NOTIMPL;
    }

private:
    bool separator_;
    std::wstring title_;
    std::wstring icon_;
    MenuCommand command_;
};

// The sub-commands in their order; each holds a reference to every one of them.
class CCommandEnum : public SmallObject<IEnumExplorerCommand> {
public:
    explicit CCommandEnum(std::vector<IExplorerCommand*> commands, ULONG position = 0)
        : commands_(std::move(commands)), position_(position) {
        for (IExplorerCommand* c : commands_) c->AddRef();
    }
    ~CCommandEnum() override {
        for (IExplorerCommand* c : commands_) c->Release();
    }

    STDMETHODIMP Next(ULONG celt, IExplorerCommand** out, ULONG* fetched) override {
        if (fetched) *fetched = 0;
        if (!out || (celt > 1 && !fetched)) return E_POINTER;
        ULONG n = 0;
        for (; n < celt && position_ < commands_.size(); ++n, ++position_) {
            out[n] = commands_[position_];
            out[n]->AddRef();
        }
        if (fetched) *fetched = n;
        return n == celt ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG celt) override {
        const size_t left = commands_.size() - position_;
        position_ += static_cast<ULONG>(celt < left ? celt : left);
        return celt <= left ? S_OK : S_FALSE;
    }
    STDMETHODIMP Reset() override {
        position_ = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(IEnumExplorerCommand** ppenum) override {
        if (!ppenum) return E_POINTER;
        *ppenum = nullptr;
        return Guarded([&] {
            CCommandEnum* copy = new CCommandEnum(commands_, position_);
            *ppenum = copy;
            return S_OK;
        });
    }

private:
    std::vector<IExplorerCommand*> commands_;
    ULONG position_;
};

}  // namespace

HRESULT CMarkFileCommand::Create(REFIID riid, void** ppv) {
    return Guarded([&] {
        CMarkFileCommand* obj = new CMarkFileCommand;
        obj->AddRef();
        HRESULT hr = obj->QueryInterface(riid, ppv);
        obj->Release();  // destroys the object when the query failed
        return hr;
    });
}

CMarkFileCommand::CMarkFileCommand() {
    ModuleLock();
    ReadAppDataFolder();
}

CMarkFileCommand::~CMarkFileCommand() {
    if (m_site) m_site->Release();
    ModuleUnlock();
}

STDMETHODIMP CMarkFileCommand::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IExplorerCommand))
        *ppv = static_cast<IExplorerCommand*>(this);
    else if (IsEqualIID(riid, IID_IObjectWithSite))
        *ppv = static_cast<IObjectWithSite*>(this);
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) CMarkFileCommand::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&m_refs)); }

STDMETHODIMP_(ULONG) CMarkFileCommand::Release() {
    LONG refs = InterlockedDecrement(&m_refs);
    if (refs == 0) delete this;
    return static_cast<ULONG>(refs);
}

STDMETHODIMP CMarkFileCommand::GetTitle(IShellItemArray*, LPWSTR* ppszName) {
    return Guarded([&] { return ReturnText(kMenuCaption, ppszName); });
}

// The classic menu's own picture, from this DLL's icons.
STDMETHODIMP CMarkFileCommand::GetIcon(IShellItemArray*, LPWSTR* ppszIcon) {
    if (ppszIcon) *ppszIcon = nullptr;
    return Guarded([&] {
        const std::wstring module = ModulePath();
        if (module.empty()) return E_FAIL;
        return ReturnText(module + L",-" + std::to_wstring(IDI_MENU), ppszIcon);
    });
}

STDMETHODIMP CMarkFileCommand::GetToolTip(IShellItemArray*, LPWSTR* ppszInfotip) {
    if (ppszInfotip) *ppszInfotip = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CMarkFileCommand::GetCanonicalName(GUID* pguidCommandName) {
    if (!pguidCommandName) return E_POINTER;
    *pguidCommandName = CLSID_MarkFileCommand;
    return S_OK;
}

// Shown for files only, as the classic menu registered under "*" is. The first time it
// shows, the program is started with "-ad" ten seconds later, as every classic menu does.
STDMETHODIMP CMarkFileCommand::GetState(IShellItemArray* psiItemArray, BOOL, EXPCMDSTATE* pCmdState) {
    if (!pCmdState) return E_POINTER;
    *pCmdState = ECS_HIDDEN;
    return Guarded([&] {
        if (!AllItemsAreFiles(psiItemArray)) return S_OK;
        *pCmdState = ECS_ENABLED;
        if (!m_launchStarted) {
            m_launchStarted = true;
            StartDelayedLaunch();
        }
        return S_OK;
    });
}

// The root only opens the sub-commands.
STDMETHODIMP CMarkFileCommand::Invoke(IShellItemArray*, IBindCtx*) { return E_NOTIMPL; }

STDMETHODIMP CMarkFileCommand::GetFlags(EXPCMDFLAGS* pFlags) {
    if (!pFlags) return E_POINTER;
    *pFlags = ECF_HASSUBCOMMANDS;
    return S_OK;
}

STDMETHODIMP CMarkFileCommand::EnumSubCommands(IEnumExplorerCommand** ppEnum) {
    if (!ppEnum) return E_POINTER;
    *ppEnum = nullptr;
    return Guarded([&] {
        // The program's location as the classic menu reads it when it opens.
        ReadProgramLocation(m_szProgramDir);
        const std::wstring module = ModulePath();
        std::vector<IExplorerCommand*> commands;
        HRESULT hr = S_OK;
        try {
            for (const MenuEntry* entry : FlatMenuEntries()) {
                commands.reserve(commands.size() + 1);
                commands.push_back(new CSubCommand(*entry, m_szProgramDir, module));
            }
            *ppEnum = new CCommandEnum(commands);
        } catch (const std::bad_alloc&) {
            hr = E_OUTOFMEMORY;
        }
        for (IExplorerCommand* c : commands) c->Release();  // the enumerator holds its own
        return hr;
    });
}

STDMETHODIMP CMarkFileCommand::SetSite(IUnknown* pUnkSite) {
    if (pUnkSite) pUnkSite->AddRef();
    if (m_site) m_site->Release();
    m_site = pUnkSite;
    return S_OK;
}

STDMETHODIMP CMarkFileCommand::GetSite(REFIID riid, void** ppvSite) {
    if (!ppvSite) return E_POINTER;
    *ppvSite = nullptr;
    if (!m_site) return E_FAIL;
    return m_site->QueryInterface(riid, ppvSite);
}

}  // namespace shlext
