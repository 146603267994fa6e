// The "Mark File" context menu: reads the selection, builds the submenu with its
// pictures, and starts the program with one switch and a list of the selected files.
#include <windows.h>
#include <shellapi.h>

#include "Guids.h"
#include "IconLocation.h"
#include "ListFile.h"
#include "SimpleExtModule.h"
#include "SimpleShlExt.h"

namespace shlext {
namespace {

// Process-wide values shared by all objects (guarded by GlobalsLock): a start of the
// program always uses the last values written.
std::wstring g_szAppData;
std::wstring g_szProgramPath;
std::wstring g_szListFile;
std::vector<HBITMAP>* g_vecMenuBitmaps = nullptr;  // allocated on first use, freed at unload

constexpr REGSAM kQueryAccess = KEY_QUERY_VALUE | KEY_WOW64_64KEY;
constexpr wchar_t kProgramKey[] = L"Software\\Kestrane\\Vantrel";
constexpr UINT kLaunchDelayMs = 10000;
// The shell sets this flag when the user holds Shift (not in every toolchain's headers).
constexpr UINT kCmfExtended = 0x100;

std::wstring EnvVar(const wchar_t* name) {
    DWORD n = GetEnvironmentVariableW(name, nullptr, 0);
    if (n == 0) return {};
    std::wstring value(n, L'\0');
    n = GetEnvironmentVariableW(name, value.data(), n);
    value.resize(n);
    return value;
}


// Starts the program with the parameters after copying the current list over
// "selectedfiles.dat" in the data folder. Never waits and never shows a message.
void LaunchProgram(const std::wstring& parameters) {
    std::wstring program, listFile, appData;
    {
        GlobalsLock lock;
        program = g_szProgramPath;
        listFile = g_szListFile;
        appData = g_szAppData;
    }
    std::wstring copy = appData + L"\\Kestrane\\Vantrel\\selectedfiles.dat";
    if (!listFile.empty()) CopyFileW(listFile.c_str(), copy.c_str(), FALSE);
    if (program.empty()) return;
    SHELLEXECUTEINFOW sei{};
    sei.cbSize = sizeof(sei);
    sei.fMask = SEE_MASK_FLAG_NO_UI;
    sei.lpFile = program.c_str();
    sei.lpParameters = parameters.c_str();
    sei.nShow = SW_SHOW;
    ShellExecuteExW(&sei);
}

// A pending timer holds a module lock, so the DLL is not unloaded under it.
void CALLBACK LaunchTimerProc(HWND, UINT, UINT_PTR idEvent, DWORD) {
    KillTimer(nullptr, idEvent);
    LaunchProgram(L"-ad");
    ModuleUnlock();
}

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

void ReadAppDataFolder() {
    std::wstring appData = EnvVar(L"AppData");
    GlobalsLock lock;
    g_szAppData = appData;
}

void ReleaseProcessData() {
    // The bitmaps may still be in a menu the shell shows; only the list goes.
    GlobalsLock lock;
    delete g_vecMenuBitmaps;
    g_vecMenuBitmaps = nullptr;
}

// HKLM first, then HKCU, whose values replace those found under HKLM.
void CSimpleShlExt::ReadProgramLocation() {
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
        HKEY key = nullptr;
        if (RegOpenKeyExW(root, kProgramKey, 0, kQueryAccess, &key) != ERROR_SUCCESS) {
            if (root == HKEY_CURRENT_USER) return;
            continue;
        }
        std::wstring value;
        if (ReadRegistryText(key, L"VantrelPath", value)) {
            GlobalsLock lock;
            g_szProgramPath = value;
        }
        if (ReadRegistryText(key, L"VantrelDir", value)) m_szProgramDir = value;
        RegCloseKey(key);
    }
}

STDMETHODIMP CSimpleShlExt::Initialize(PCIDLIST_ABSOLUTE, IDataObject* pdtobj, HKEY) {
    ReadProgramLocation();
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
    if (SetTimer(nullptr, 1, kLaunchDelayMs, LaunchTimerProc)) ModuleLock();
    return S_OK;
}

void CSimpleShlExt::AddMenuItem(HMENU hmenu, UINT position, UINT_PTR id, const wchar_t* caption, int kind,
                                const wchar_t* library, int iconIndex, int color, int resourceId) {
    std::wstring picture;
    if (library) picture = m_szProgramDir + L"\\icl\\" + library;
    if (kind == CMD_SUBMENU) {
        InsertMenuW(hmenu, position, MF_BYPOSITION | MF_POPUP, id, caption);
    } else {
        MenuCommand cmd;
        cmd.Kind = kind;
        cmd.Color = color;
        cmd.IconFile = picture;
        cmd.IconIndex = iconIndex;
        m_vecCommands.push_back(std::move(cmd));
        InsertMenuW(hmenu, position, MF_BYPOSITION, id, caption);
    }
    HBITMAP bitmap = nullptr;
    if (kind == CMD_APPLY_COLOR)
        bitmap = BitmapFromResourceIcon(resourceId);
    else if (library)
        bitmap = BitmapFromLibraryIcon(picture, iconIndex);
    AttachPicture(hmenu, position, bitmap);
}

STDMETHODIMP CSimpleShlExt::QueryContextMenu(HMENU hmenu, UINT indexMenu, UINT idCmdFirst, UINT idCmdLast,
                                             UINT uFlags) {
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
    const wchar_t* lib = L"Main.icl";
    UINT id = idCmdFirst;
    AddMenuItem(sub, 0, id++, L"Hi-Priority", CMD_APPLY_MARKER, lib, 0, 0, 0);
    AddMenuItem(sub, 1, id++, L"Low Priority", CMD_APPLY_MARKER, lib, 2, 0, 0);
    AddMenuItem(sub, 2, id++, L"Planned Work", CMD_APPLY_MARKER, lib, 3, 0, 0);
    AddMenuItem(sub, 3, id++, L"Done Work", CMD_APPLY_MARKER, lib, 5, 0, 0);
    AddMenuItem(sub, 4, id++, L"Approved", CMD_APPLY_MARKER, lib, 6, 0, 0);
    AddMenuItem(sub, 5, id++, L"Rejected", CMD_APPLY_MARKER, lib, 8, 0, 0);
    InsertMenuW(sub, 6, MF_SEPARATOR | MF_BYPOSITION, 0, nullptr);
    AddMenuItem(sub, 7, id++, L"Red", CMD_APPLY_COLOR, nullptr, 0, 3556862, IDI_SWATCH_RED);
    AddMenuItem(sub, 8, id++, L"Green", CMD_APPLY_COLOR, nullptr, 0, 2947604, IDI_SWATCH_GREEN);
    AddMenuItem(sub, 9, id++, L"Blue", CMD_APPLY_COLOR, nullptr, 0, 16748891, IDI_SWATCH_BLUE);
    AddMenuItem(sub, 10, id++, L"Gray", CMD_APPLY_COLOR, nullptr, 0, 11711154, IDI_SWATCH_GRAY);
    InsertMenuW(sub, 11, MF_SEPARATOR | MF_BYPOSITION, 0, nullptr);
    AddMenuItem(sub, 12, id++, L"More icons", CMD_MORE_ICONS, nullptr, 0, 0, 0);
    if (extended) {
        HMENU restore = CreatePopupMenu();
        if (restore) {
            AddMenuItem(restore, 0, id++, L"Remove Marker", CMD_REMOVE_MARKER, nullptr, 0, 0, 0);
            AddMenuItem(restore, 1, id++, L"Remove Color", CMD_REMOVE_COLOR, nullptr, 0, 0, 0);
            AddMenuItem(restore, 2, id++, L"Remove Marker && Color", CMD_RESTORE_DEFAULT, nullptr, 0, 0, 0);
            AddMenuItem(sub, 13, reinterpret_cast<UINT_PTR>(restore), L"Restore default", CMD_SUBMENU, nullptr, 0,
                        0, 0);
        }
    } else {
        AddMenuItem(sub, 13, id++, L"Restore default", CMD_RESTORE_DEFAULT, nullptr, 0, 0, 0);
    }

    InsertMenuW(hmenu, indexMenu, MF_BYPOSITION | MF_POPUP, reinterpret_cast<UINT_PTR>(sub), L"Mark File");
    AttachPicture(hmenu, indexMenu, BitmapFromResourceIcon(IDI_MENU));
    return MAKE_HRESULT(SEVERITY_SUCCESS, FACILITY_NULL, used);
}

void CSimpleShlExt::WriteListFile() {
    std::wstring temp = EnvVar(L"TEMP");
    if (temp.empty()) {
        wchar_t buffer[MAX_PATH + 1];
        DWORD n = GetTempPathW(MAX_PATH + 1, buffer);
        if (n > 0 && n <= MAX_PATH) temp.assign(buffer, n);
    }
    std::wstring path;
    HANDLE h = CreateNewListFile(temp, path);
    if (h != INVALID_HANDLE_VALUE) {
        std::string bytes = EncodeFileList(m_vecFiles);
        DWORD written = 0;
        if (!bytes.empty()) ::WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        CloseHandle(h);
    }
    GlobalsLock lock;
    g_szListFile = path;
}

STDMETHODIMP CSimpleShlExt::InvokeCommand(CMINVOKECOMMANDINFO* pici) {
    if (!pici) return E_INVALIDARG;
    WriteListFile();
    const UINT_PTR verb = reinterpret_cast<UINT_PTR>(pici->lpVerb);
    if (HIWORD(static_cast<DWORD>(verb)) != 0) return E_INVALIDARG;
    const size_t offset = LOWORD(static_cast<DWORD>(verb));
    if (offset >= m_vecCommands.size()) return E_INVALIDARG;
    const MenuCommand& cmd = m_vecCommands[offset];
    std::wstring list;
    {
        GlobalsLock lock;
        list = g_szListFile;
    }
    const std::wstring quoted = L"\"" + list + L"\"";
    std::wstring params;
    switch (cmd.Kind) {
    case CMD_APPLY_MARKER:
        params = L"-oi " + quoted + L" \"" + cmd.IconFile + L"\" " + std::to_wstring(cmd.IconIndex);
        break;
    case CMD_REMOVE_MARKER: params = L"-uo " + quoted; break;
    case CMD_APPLY_COLOR: params = L"-ci " + quoted + L" " + std::to_wstring(cmd.Color); break;
    case CMD_REMOVE_COLOR: params = L"-uc " + quoted; break;
    case CMD_MORE_ICONS: params = L"-mi " + quoted; break;
    case CMD_RESTORE_DEFAULT: params = L"-rd " + quoted; break;
    default: return E_INVALIDARG;
    }
    LaunchProgram(params);
    return S_OK;
}

// The commands have no verbs and no help texts.
STDMETHODIMP CSimpleShlExt::GetCommandString(UINT_PTR, UINT, UINT*, CHAR*, UINT) { return S_OK; }

}  // namespace shlext
