#include "app/window/MarkerDialogs.h"

#include "app/window/IconBridge.h"  // imaging headers before windows.h

#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "app/common/TextConv.h"
#include "app/window/DialogSupport.h"

namespace vantrel {

const wchar_t kAddMarkerClass[] = L"TAddMarkerDialog";
const wchar_t kRenameMarkerClass[] = L"TRenameMarkerDialog";
const wchar_t kMarkerSourceFilter[] =
    L"Pictures and icons (*.png;*.ico;*.exe;*.dll;*.icl)\0*.png;*.ico;*.exe;*.dll;*.icl\0"
    L"PNG pictures (*.png)\0*.png\0Icons (*.ico)\0*.ico\0"
    L"Programs and icon libraries (*.exe;*.dll;*.icl)\0*.exe;*.dll;*.icl\0\0";

namespace {

const wchar_t kAddTitle[] = L"Add Marker";
const wchar_t kRenameTitle[] = L"Rename Marker";

std::wstring ControlText(HWND control) {
    const int length = GetWindowTextLengthW(control);
    std::wstring text(std::size_t(std::max(length, 0)) + 1, L'\0');
    text.resize(std::size_t(std::max(GetWindowTextW(control, text.data(), int(text.size())), 0)));
    return text;
}

struct TMarkerDialog {
    bool Rename = false;
    TUserMarkers* Store = nullptr;
    TUserMarker Marker;        // the marker renamed
    std::wstring Source;       // the picture file of an add
    bool NameEdited = false;   // the user typed a name: another file keeps it
    bool Filling = false;      // the name is being set by the dialog itself
    bool Done = false;
    bool Changed = false;
    TUserMarker Added;
    HWND Window = nullptr;
    HWND Focused = nullptr;
    HFONT Font = nullptr;
    HIMAGELIST Images = nullptr;
    static constexpr int kNotDecoded = -2;
    std::vector<int> Previews;                // image list position per icon, or kNotDecoded
    bool Container = false;                   // the source holds several icons
    std::unique_ptr<TAdvancedIcon> Picture;   // a PNG's or ICO's picture, read for its preview
    int Dpi = 96;
    int IconSize = 48;

    HWND Item(int id) const { return GetDlgItem(Window, id); }
    int SelectedIcon() const {
        if (Rename) return 0;
        return int(SendMessageW(Item(kMdIcons), LVM_GETNEXTITEM, WPARAM(-1), LVNI_SELECTED));
    }

    // The problem of the current input, shown under the name; OK only without one.
    void Check() {
        std::wstring problem = TUserMarkers::CheckName(ControlText(Item(kMdName)));
        if (problem.empty() && SelectedIcon() < 0) problem = L"Choose one of the file's icons.";
        SetWindowTextW(Item(kMdProblem), problem.c_str());
        EnableWindow(Item(IDOK), problem.empty());
    }

    // Shows the icons of a file that SourceIconCount accepted. The list holds no items of
    // its own (owner data): it asks for each item's text and picture as it draws it, so
    // only the icons in view are decoded, each once, however many the file holds.
    void LoadSource(const std::wstring& source, int count) {
        Source = source;
        SetWindowTextW(Item(kMdFile), source.c_str());
        HWND list = Item(kMdIcons);
        ImageList_RemoveAll(Images);
        Container = TUserMarkers::IsIconContainer(source);
        Picture.reset();
        Previews.assign(std::size_t(std::max(count, 0)), kNotDecoded);
        SendMessageW(list, LVM_SETITEMCOUNT, WPARAM(Previews.size()), 0);
        SendMessageW(list, LVM_ENSUREVISIBLE, 0, FALSE);
        LVITEMW state{};
        state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        state.state = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessageW(list, LVM_SETITEMSTATE, 0, reinterpret_cast<LPARAM>(&state));
        InvalidateRect(list, nullptr, TRUE);
        if (!NameEdited) {
            Filling = true;
            SetWindowTextW(Item(kMdName), TUserMarkers::NameFromFile(source).c_str());
            Filling = false;
        }
        Check();
    }

    // The image list position of item i's picture, decoded on first use; -1 for none.
    int PreviewOf(int i) {
        if (i < 0 || std::size_t(i) >= Previews.size()) return -1;
        int& slot = Previews[std::size_t(i)];
        if (slot != kNotDecoded) return slot;
        slot = -1;
        THiResIcon preview;
        if (Container) {
            preview = LoadIconPicture(Source, i, IconSize);
        } else {
            // A PNG or ICO file: its picture as it is, the one image best for the preview.
            if (!Picture) {
                try {
                    Picture = TUserMarkers::LoadSource(Source, 0, TMarkerPlacement::FullSquare);
                } catch (const std::exception&) {
                    Picture = std::make_unique<TAdvancedIcon>();
                }
            }
            // The smallest image at least as large as the preview, else the largest.
            const TSubIcon* best = nullptr;
            for (int k = 0; k < Picture->Images().Count(); ++k) {
                const TSubIcon* image = Picture->Images()[k];
                const bool fits = image->GetWidth() >= IconSize;
                if (!best || (fits && (best->GetWidth() < IconSize || image->GetWidth() < best->GetWidth())) ||
                    (!fits && best->GetWidth() < IconSize && image->GetWidth() > best->GetWidth()))
                    best = image;
            }
            if (best) preview = *best->CreatePicture();
        }
        if (::HICON handle = HiconFromPicture(preview)) {
            slot = ImageList_AddIcon(Images, handle);
            DestroyIcon(handle);
        }
        return slot;
    }

    // An item's text and picture, as the list asks for them.
    void FillItem(LVITEMW& item) {
        if (item.mask & LVIF_TEXT && item.pszText && item.cchTextMax > 0) {
            const std::wstring text = Container ? L"Icon " + std::to_wstring(item.iItem + 1) : std::wstring(L"Picture");
            lstrcpynW(item.pszText, text.c_str(), item.cchTextMax);
        }
        if (item.mask & LVIF_IMAGE) item.iImage = PreviewOf(item.iItem);
    }

    void Browse() {
        std::wstring path;
        if (!ChooseMarkerSource(Window, path)) return;
        int count = 0;
        try {
            count = TUserMarkers::SourceIconCount(path);
        } catch (const std::exception& e) {
            MessageBoxW(Window, Utf8ToWide(e.what()).c_str(), kAddTitle, MB_OK | MB_ICONERROR);
            return;
        }
        LoadSource(path, count);
    }

    void Accept() {
        const std::wstring name = ControlText(Item(kMdName));
        try {
            if (Rename) {
                Store->Rename(Marker, name);
            } else {
                const int icon = SelectedIcon();
                if (icon < 0) return;
                const bool asItIs = SendMessageW(Item(kMdAsItIs), BM_GETCHECK, 0, 0) == BST_CHECKED;
                Added = Store->Add(Source, icon, name, asItIs ? TMarkerPlacement::FullSquare : TMarkerPlacement::Badge);
            }
        } catch (const std::exception& e) {
            MessageBoxW(Window, Utf8ToWide(e.what()).c_str(), Rename ? kRenameTitle : kAddTitle, MB_OK | MB_ICONERROR);
            SetFocus(Item(kMdName));
            return;
        }
        Changed = true;
        Done = true;
    }
};

LRESULT CALLBACK MarkerDialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* state = reinterpret_cast<TMarkerDialog*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (msg == WM_NCCREATE) {
        SetWindowLongPtrW(hwnd, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
    if (!state) return DefWindowProcW(hwnd, msg, wParam, lParam);
    try {
        switch (msg) {
            case WM_ACTIVATE:
                if (KeepFocusOverActivation(hwnd, wParam, state->Focused)) return 0;
                break;
            case DM_GETDEFID:
                return MAKELRESULT(IDOK, DC_HASDEFID);
            case WM_COMMAND:
                switch (LOWORD(wParam)) {
                    case IDOK:
                        if (HIWORD(wParam) == BN_CLICKED && IsWindowEnabled(state->Item(IDOK))) state->Accept();
                        return 0;
                    case IDCANCEL:
                        state->Done = true;
                        return 0;
                    case kMdBrowse:
                        if (HIWORD(wParam) == BN_CLICKED) state->Browse();
                        return 0;
                    case kMdName:
                        if (HIWORD(wParam) == EN_CHANGE) {
                            if (!state->Filling) state->NameEdited = true;
                            state->Check();
                        }
                        return 0;
                }
                break;
            case WM_NOTIFY: {
                const auto* header = reinterpret_cast<const NMHDR*>(lParam);
                if (header->idFrom == UINT_PTR(kMdIcons)) {
                    if (header->code == LVN_GETDISPINFOW)
                        state->FillItem(reinterpret_cast<NMLVDISPINFOW*>(lParam)->item);
                    if (header->code == LVN_ITEMCHANGED || header->code == LVN_ODSTATECHANGED) state->Check();
                    if (header->code == NM_DBLCLK && IsWindowEnabled(state->Item(IDOK))) state->Accept();
                }
                break;
            }
            case WM_CLOSE:
                state->Done = true;
                return 0;
        }
    } catch (const std::exception& e) {
        MessageBoxW(hwnd, Utf8ToWide(e.what()).c_str(), kAddTitle, MB_OK | MB_ICONERROR);
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

// Builds and runs one of the dialogs; `source` and `count` only for an add.
bool RunMarkerDialog(HWND owner, TMarkerDialog& state, int count) {
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&icc);
    const wchar_t* cls = state.Rename ? kRenameMarkerClass : kAddMarkerClass;
    RegisterWindowClass({cls, MarkerDialogProc, COLOR_BTNFACE, DLGWINDOWEXTRA});
    state.Dpi = WindowDpi(owner);
    auto px = [&](int value96) { return ScaleForDpi(value96, state.Dpi); };
    state.Font = CreateMessageFont(state.Dpi);
    state.IconSize = px(48);

    // Rows at 96 DPI: the file, the icons and the check box (an add only), the name and its
    // problem, the buttons.
    const int margin = px(11), labelWidth = std::max<int>(px(44), TextExtent(state.Font, L"&Name:").cx + px(8));
    const int line = TextExtent(state.Font, L"Ag").cy;
    const int clientWidth = px(360);
    const int fieldX = margin + labelWidth, fieldWidth = clientWidth - margin - fieldX;
    const int buttonWidth = px(75), buttonHeight = px(25), editHeight = std::max(px(21), line + px(8));
    int y = margin;
    const int fileY = y;
    if (!state.Rename) y += buttonHeight + px(8);
    const int iconsLabelY = y;
    const int iconsY = y + line + px(4), iconsHeight = px(150);
    const int asItIsY = iconsY + iconsHeight + px(8), checkHeight = std::max(px(17), line + px(4));
    if (!state.Rename) y = asItIsY + checkHeight + px(8);
    const int nameY = y;
    const int problemY = nameY + editHeight + px(4);
    const int buttonsY = problemY + line + px(10);
    const int clientHeight = buttonsY + buttonHeight + margin;

    const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
    const DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
    const SIZE size = WindowSizeForClient(clientWidth, clientHeight, style, exStyle, state.Dpi);
    const POINT at = PlaceWindow(owner, size, true);
    HWND hwnd = CreateWindowExW(exStyle, cls, state.Rename ? kRenameTitle : kAddTitle, style, at.x, at.y, size.cx,
                                size.cy, owner, nullptr, GetModuleHandleW(nullptr), &state);
    if (!hwnd) {
        DeleteObject(state.Font);
        return false;
    }
    state.Window = hwnd;
    // Creation order is the tab order.
    if (!state.Rename) {
        AddControl(hwnd, L"STATIC", L"File:", SS_LEFT | SS_NOPREFIX, margin, fileY + px(4), labelWidth, line, -1,
                   state.Font);
        AddControl(hwnd, L"STATIC", L"", SS_LEFT | SS_NOPREFIX | SS_PATHELLIPSIS, fieldX, fileY + px(4),
                   fieldWidth - buttonWidth - px(6), line, kMdFile, state.Font);
        AddControl(hwnd, L"BUTTON", L"&Browse...", BS_PUSHBUTTON | WS_TABSTOP, clientWidth - margin - buttonWidth, fileY,
                   buttonWidth, buttonHeight, kMdBrowse, state.Font);
        AddControl(hwnd, L"STATIC", L"&Icon:", SS_LEFT, margin, iconsLabelY, clientWidth - 2 * margin, line, -1,
                   state.Font);
        HWND list = AddControl(hwnd, WC_LISTVIEWW, L"",
                               LVS_ICON | LVS_OWNERDATA | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_AUTOARRANGE |
                                   WS_TABSTOP | WS_BORDER,
                               margin, iconsY, clientWidth - 2 * margin, iconsHeight, kMdIcons, state.Font);
        state.Images = ImageList_Create(state.IconSize, state.IconSize, ILC_COLOR32 | ILC_MASK, 8, 8);
        SendMessageW(list, LVM_SETIMAGELIST, LVSIL_NORMAL, reinterpret_cast<LPARAM>(state.Images));
        SendMessageW(list, LVM_SETICONSPACING, 0, MAKELPARAM(state.IconSize + px(28), state.IconSize + line * 2 + px(10)));
        // Off by default: a picture becomes a badge in the lower left, as the built-in markers
        // are. Its text is also its accessible name.
        AddControl(hwnd, L"BUTTON", L"&Use the picture as it is (it is already an overlay)",
                   BS_AUTOCHECKBOX | WS_TABSTOP, margin, asItIsY, clientWidth - 2 * margin, checkHeight, kMdAsItIs,
                   state.Font);
    }
    AddControl(hwnd, L"STATIC", L"&Name:", SS_LEFT, margin, nameY + px(3), labelWidth, line, -1, state.Font);
    HWND name = AddControl(hwnd, L"EDIT", L"", ES_AUTOHSCROLL | WS_TABSTOP, fieldX, nameY, fieldWidth, editHeight,
                           kMdName, state.Font, WS_EX_CLIENTEDGE);
    SendMessageW(name, EM_LIMITTEXT, kMaxUserMarkerName + 16, 0);
    AddControl(hwnd, L"STATIC", L"", SS_LEFT | SS_NOPREFIX, fieldX, problemY, fieldWidth, line, kMdProblem, state.Font);
    AddControl(hwnd, L"BUTTON", L"OK", BS_DEFPUSHBUTTON | WS_TABSTOP, clientWidth - margin - 2 * buttonWidth - px(6),
               buttonsY, buttonWidth, buttonHeight, IDOK, state.Font);
    AddControl(hwnd, L"BUTTON", L"Cancel", BS_PUSHBUTTON | WS_TABSTOP, clientWidth - margin - buttonWidth, buttonsY,
               buttonWidth, buttonHeight, IDCANCEL, state.Font);

    if (state.Rename) {
        state.Filling = true;
        SetWindowTextW(name, state.Marker.Name.c_str());
        state.Filling = false;
        state.Check();
    } else {
        state.LoadSource(state.Source, count);
    }
    SendMessageW(name, EM_SETSEL, 0, -1);
    RunModalWindow(hwnd, owner, name, state.Done);
    DeleteObject(state.Font);
    if (state.Images) ImageList_Destroy(state.Images);
    return state.Changed;
}

}  // namespace

bool ChooseMarkerSource(HWND owner, std::wstring& path) {
    std::vector<wchar_t> buffer(32768, L'\0');
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = kMarkerSourceFilter;
    ofn.lpstrFile = buffer.data();
    ofn.nMaxFile = DWORD(buffer.size());
    ofn.lpstrTitle = L"Add Marker: choose a picture or icon";
    ofn.Flags = OFN_HIDEREADONLY | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_ENABLESIZING | OFN_EXPLORER;
    if (!GetOpenFileNameW(&ofn)) return false;
    path = buffer.data();
    return !path.empty();
}

bool ShowAddMarkerDialog(HWND owner, TUserMarkers& store, const std::wstring& source, TUserMarker* added) {
    const int count = TUserMarkers::SourceIconCount(source);
    TMarkerDialog state;
    state.Store = &store;
    state.Source = source;
    const bool changed = RunMarkerDialog(owner, state, count);
    if (changed && added) *added = state.Added;
    return changed;
}

bool AddMarkerInteractively(HWND owner, TUserMarkers& store, TUserMarker* added) {
    std::wstring path;
    if (!ChooseMarkerSource(owner, path)) return false;
    try {
        TUserMarkers::SourceIconCount(path);
    } catch (const std::exception& e) {
        MessageBoxW(owner, Utf8ToWide(e.what()).c_str(), kAddTitle, MB_OK | MB_ICONERROR);
        return false;
    }
    return ShowAddMarkerDialog(owner, store, path, added);
}

bool ShowRenameMarkerDialog(HWND owner, TUserMarkers& store, const TUserMarker& marker) {
    TMarkerDialog state;
    state.Rename = true;
    state.Store = &store;
    state.Marker = marker;
    return RunMarkerDialog(owner, state, 0);
}

}  // namespace vantrel
