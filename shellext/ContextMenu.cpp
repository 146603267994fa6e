// The "Mark File" context menu: reads the selection, builds the submenu with its
// pictures, and starts the program with one switch and a list of the selected files.
#include <windows.h>
#include <shellapi.h>

#include "ComGuard.h"
#include "Guids.h"
#include "MenuTable.h"
#include "ProgramStart.h"
#include "SimpleExtModule.h"
#include "SimpleShlExt.h"

namespace shlext {
namespace {

std::vector<HBITMAP>* g_vecMenuBitmaps = nullptr;  // allocated on first use, freed at unload (GlobalsLock)

// The shell sets this flag when the user holds Shift (not in every toolchain's headers).
constexpr UINT kCmfExtended = 0x100;

// Draws an icon into a new 16x16 bitmap on the menu's background colour.
HBITMAP BitmapFromIcon(HICON icon, int x, int width) {
    HDC display = CreateDCW(L"DISPLAY", nullptr, nullptr, nullptr);
    if (!display) return nullptr;
    HDC mem = CreateCompatibleDC(display);
    HBITMAP bitmap = mem ? CreateCompatibleBitmap(display, 16, 16) : nullptr;
    if (bitmap) {
        HGDIOBJ old = SelectObject(mem, bitmap);
        RECT rc{0, 0, 16, 16};
        FillRect(mem, &rc, GetSysColorBrush(COLOR_MENU));
        DrawIconEx(mem, x, 0, icon, width, 16, 0, nullptr, DI_NORMAL);
        SelectObject(mem, old);
    }
    if (mem) DeleteDC(mem);
    DeleteDC(display);
    return bitmap;
}

// Icon `index` of an icon library, extracted 17 wide and drawn one pixel to the left,
// so the library's 16-pixel artwork sits flush in the 16x16 picture.
HBITMAP BitmapFromLibraryIcon(const std::wstring& file, int index) {
    HICON icon = nullptr;
    UINT id = 0;
    UINT n = PrivateExtractIconsW(file.c_str(), index, 17, 16, &icon, &id, 1, LR_LOADTRANSPARENT);
    if (n == 0 || n == 0xFFFFFFFF || !icon) return nullptr;
    HBITMAP bitmap = BitmapFromIcon(icon, -1, 17);
    DestroyIcon(icon);
    return bitmap;
}

HBITMAP BitmapFromResourceIcon(int id) {
    // The system's standard icon size, as LoadIcon gives it, but a private copy that
    // may be destroyed (a shared icon must not be).
    HICON icon = static_cast<HICON>(LoadImageW(g_hInstance, MAKEINTRESOURCEW(id), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE));
    if (!icon) return nullptr;
    HBITMAP bitmap = BitmapFromIcon(icon, 0, 16);
    DestroyIcon(icon);
    return bitmap;
}

void AttachPicture(HMENU hmenu, UINT position, HBITMAP bitmap) {
    if (!bitmap) return;
    SetMenuItemBitmaps(hmenu, position, MF_BYPOSITION, bitmap, bitmap);
    GlobalsLock lock;
    if (!g_vecMenuBitmaps) g_vecMenuBitmaps = new (std::nothrow) std::vector<HBITMAP>;
    if (g_vecMenuBitmaps) g_vecMenuBitmaps->push_back(bitmap);
}

void DeleteMenuBitmaps() {
    GlobalsLock lock;
    if (!g_vecMenuBitmaps) return;
    for (HBITMAP b : *g_vecMenuBitmaps) DeleteObject(b);
    g_vecMenuBitmaps->clear();
}

}  // namespace

void ReleaseProcessData() {
    // The bitmaps may still be in a menu the shell shows; only the list goes.
    GlobalsLock lock;
    delete g_vecMenuBitmaps;
    g_vecMenuBitmaps = nullptr;
}

STDMETHODIMP CSimpleShlExt::Initialize(PCIDLIST_ABSOLUTE, IDataObject* pdtobj, HKEY) {
    return Guarded([&]() -> HRESULT {
        ReadProgramLocation(m_szProgramDir);
        if (!pdtobj) return E_INVALIDARG;
        FORMATETC fmt{CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        STGMEDIUM medium{};
        if (FAILED(pdtobj->GetData(&fmt, &medium))) return E_INVALIDARG;
        HDROP drop = medium.tymed == TYMED_HGLOBAL ? static_cast<HDROP>(GlobalLock(medium.hGlobal)) : nullptr;
        if (!drop) {
            ReleaseStgMedium(&medium);
            return E_INVALIDARG;
        }
        UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
        if (count == 0) {
            GlobalUnlock(medium.hGlobal);
            ReleaseStgMedium(&medium);
            return E_INVALIDARG;
        }
        m_vecFiles.clear();
        for (UINT i = 0; i < count; ++i) {
            // Each path whole, whatever its length.
            UINT length = DragQueryFileW(drop, i, nullptr, 0);
            if (length == 0) continue;
            std::wstring path(length + 1, L'\0');
            UINT got = DragQueryFileW(drop, i, path.data(), length + 1);
            if (got == 0) continue;
            path.resize(got);
            m_vecFiles.push_back(std::move(path));
        }
        GlobalUnlock(medium.hGlobal);
        ReleaseStgMedium(&medium);
        // A list of nothing but empty names counts as no file (Wine reports an empty list
        // as one empty name).
        if (m_vecFiles.empty()) return E_INVALIDARG;
        // Every use of the menu starts the program with "-ad" ten seconds later, on this
        // thread, whether or not a command is picked.
        StartDelayedLaunch();
        return S_OK;
    });
}

void CSimpleShlExt::AddMenuItem(HMENU hmenu, UINT position, UINT_PTR id, const MenuEntry& entry) {
    if (entry.Kind == CMD_SUBMENU) {
        InsertMenuW(hmenu, position, MF_BYPOSITION | MF_POPUP, id, entry.Caption);
        return;
    }
    MenuCommand cmd = CommandOf(entry, m_szProgramDir);
    InsertMenuW(hmenu, position, MF_BYPOSITION, id, entry.Caption);
    HBITMAP bitmap = nullptr;
    if (entry.Kind == CMD_APPLY_COLOR)
        bitmap = BitmapFromResourceIcon(entry.ResourceId);
    else if (entry.Library)
        bitmap = BitmapFromLibraryIcon(cmd.IconFile, cmd.IconIndex);
    m_vecCommands.push_back(std::move(cmd));
    AttachPicture(hmenu, position, bitmap);
}

STDMETHODIMP CSimpleShlExt::QueryContextMenu(HMENU hmenu, UINT indexMenu, UINT idCmdFirst, UINT idCmdLast,
                                             UINT uFlags) {
    return Guarded([&]() -> HRESULT {
        if (uFlags & CMF_DEFAULTONLY) return MAKE_HRESULT(SEVERITY_SUCCESS, FACILITY_NULL, 0);
        const bool extended = (uFlags & kCmfExtended) != 0;
        const UINT used = extended ? 14 : 12;
        // Identifiers beyond what the shell offers could clash with other handlers' items.
        if (idCmdLast < idCmdFirst || idCmdLast - idCmdFirst + 1 < used)
            return MAKE_HRESULT(SEVERITY_SUCCESS, FACILITY_NULL, 0);

        DeleteMenuBitmaps();
        m_vecCommands.clear();

        HMENU sub = CreatePopupMenu();
        if (!sub) return E_OUTOFMEMORY;
        HMENU restore = nullptr;
        UINT id = idCmdFirst, subCount = 0, restoreCount = 0;
        for (const MenuEntry& entry : MenuTable()) {
            if (entry.Placement == (extended ? PLACE_NORMAL_ONLY : PLACE_EXTENDED_ONLY)) continue;
            if (entry.Placement == PLACE_IN_RESTORE && !(extended && restore)) continue;
            HMENU target = entry.Placement == PLACE_IN_RESTORE ? restore : sub;
            UINT& count = entry.Placement == PLACE_IN_RESTORE ? restoreCount : subCount;
            if (entry.Kind == CMD_SEPARATOR) {
                InsertMenuW(target, count++, MF_SEPARATOR | MF_BYPOSITION, 0, nullptr);
            } else if (entry.Kind == CMD_SUBMENU) {
                restore = CreatePopupMenu();
                if (restore) AddMenuItem(sub, subCount++, reinterpret_cast<UINT_PTR>(restore), entry);
            } else {
                AddMenuItem(target, count++, id++, entry);
            }
        }

        InsertMenuW(hmenu, indexMenu, MF_BYPOSITION | MF_POPUP, reinterpret_cast<UINT_PTR>(sub), kMenuCaption);
        AttachPicture(hmenu, indexMenu, BitmapFromResourceIcon(IDI_MENU));
        return MAKE_HRESULT(SEVERITY_SUCCESS, FACILITY_NULL, used);
    });
}

STDMETHODIMP CSimpleShlExt::InvokeCommand(CMINVOKECOMMANDINFO* pici) {
    return Guarded([&]() -> HRESULT {
        if (!pici) return E_INVALIDARG;
        WriteListFile(m_vecFiles);
        const UINT_PTR verb = reinterpret_cast<UINT_PTR>(pici->lpVerb);
        if (HIWORD(static_cast<DWORD>(verb)) != 0) return E_INVALIDARG;
        const size_t offset = LOWORD(static_cast<DWORD>(verb));
        if (offset >= m_vecCommands.size()) return E_INVALIDARG;
        return StartCommand(m_vecCommands[offset]) ? S_OK : E_INVALIDARG;
    });
}

// The commands have no verbs and no help texts.
STDMETHODIMP CSimpleShlExt::GetCommandString(UINT_PTR, UINT, UINT*, CHAR*, UINT) { return S_OK; }

}  // namespace shlext
