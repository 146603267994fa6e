#include "app/window/UserMarkerPage.h"

#include <commctrl.h>

#include <algorithm>

#include "app/common/TextConv.h"
#include "app/window/DialogSupport.h"
#include "app/window/MarkerDialogs.h"

#ifndef WM_DPICHANGED_AFTERPARENT
#define WM_DPICHANGED_AFTERPARENT 0x02E3
#endif

namespace vantrel {

const wchar_t kUserMarkerPanelClass[] = L"TUserMarkerPanel";

namespace {

const wchar_t kPageTitle[] = L"My Markers";

// Sizes at 96 DPI.
constexpr int kGap = 6;
constexpr int kButtonHeight = 25;
constexpr int kButtonWidth = 75;

}  // namespace

// --- the grid ------------------------------------------------------------------------

void TUserMarkerGrid::MarkerLocation(int item, std::wstring& file, int& index) const {
    file = item >= 0 && item < ItemCount() ? Markers[std::size_t(item)].File : std::wstring();
    index = 0;
}

void TUserMarkerGrid::SetMarkers(std::vector<TUserMarker> markers, unsigned select) {
    const int cell = SelectedCell();
    Markers = std::move(markers);
    Names.clear();
    for (const TUserMarker& marker : Markers) Names.push_back(marker.Name);
    ResetSlots(ItemCount() + 1);
    ItemsChanged();
    int wanted = std::min(cell, ItemCount());
    for (std::size_t i = 0; i < Markers.size(); ++i)
        if (select != 0 && Markers[i].Number == select) wanted = int(i) + 1;
    if (Handle()) SelectCell(wanted);
}

const TUserMarker* TUserMarkerGrid::SelectedMarker() const {
    const int item = SelectedIndex();
    return item >= 0 && item < ItemCount() ? &Markers[std::size_t(item)] : nullptr;
}

// --- the page ------------------------------------------------------------------------

TUserMarkerPage::TUserMarkerPage(const std::wstring& folder) : store_(folder) {}

TUserMarkerPage::~TUserMarkerPage() {
    if (panel_ && IsWindow(panel_)) {
        SetWindowLongPtrW(panel_, GWLP_USERDATA, 0);
        DestroyWindow(panel_);
    }
    if (font_) DeleteObject(font_);
}

std::unique_ptr<TUserMarkerGrid> TUserMarkerPage::Create(HWND sheet, int gridId) {
    RegisterWindowClass({kUserMarkerPanelClass, PanelProc, COLOR_WINDOW});
    dpi_ = WindowDpi(sheet);
    font_ = CreateMessageFont(dpi_);
    RECT area{};
    GetClientRect(sheet, &area);
    panel_ = CreateWindowExW(WS_EX_CONTROLPARENT, kUserMarkerPanelClass, kPageTitle,
                             WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, area.right, area.bottom, sheet, nullptr,
                             GetModuleHandleW(nullptr), this);
    if (!panel_) throw Error("The My Markers page could not be created: " + WideToUtf8(SystemErrorMessage(GetLastError())));
    // Creation order is the tab order: the grid, then the buttons.
    auto grid = std::make_unique<TUserMarkerGrid>();
    grid->CreateWindowIn(panel_, gridId);
    grid_ = grid.get();
    SetWindowSubclass(grid_->Handle(), GridSubclassProc, 1, reinterpret_cast<DWORD_PTR>(this));
    const std::pair<int, const wchar_t*> buttons[] = {
        {kBtAddMarker, L"Add Mar&ker..."}, {kBtRenameMarker, L"Re&name..."}, {kBtRemoveMarker, L"Remo&ve"}};
    for (const auto& [id, text] : buttons)
        AddControl(panel_, L"BUTTON", text, BS_PUSHBUTTON | WS_TABSTOP, 0, 0, 0, 0, id, font_);

    tooltip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, panel_, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
    const std::pair<int, const wchar_t*> hints[] = {
        {kBtAddMarker, L"Make a marker of a PNG picture, an icon file or an icon of a program (Insert)"},
        {kBtRenameMarker, L"Give the selected marker another name (F2)"},
        {kBtRemoveMarker, L"Remove the selected marker (Delete)"},
    };
    for (const auto& [id, text] : hints) {
        TTTOOLINFOW tool{};
        tool.cbSize = sizeof(tool);
        tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        tool.hwnd = panel_;
        tool.uId = reinterpret_cast<UINT_PTR>(GetDlgItem(panel_, id));
        tool.lpszText = const_cast<wchar_t*>(text);
        SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    }
    Reload();
    Layout();
    return grid;
}

void TUserMarkerPage::Reload(unsigned select) {
    if (!grid_) return;
    std::vector<TUserMarker> markers;
    try {
        markers = store_.List();
    } catch (const std::exception&) {
        markers.clear();  // an unreadable folder shows no markers
    }
    grid_->SetMarkers(std::move(markers), select);
    InvalidateRect(grid_->Handle(), nullptr, FALSE);
    UpdateButtons();
}

void TUserMarkerPage::UpdateButtons() {
    if (!panel_) return;
    const bool selected = grid_ && grid_->SelectedMarker();
    for (int id : {int(kBtRenameMarker), int(kBtRemoveMarker)}) {
        HWND button = GetDlgItem(panel_, id);
        // A button about to be disabled hands the focus back to the grid first.
        if (!selected && GetFocus() == button && grid_) SetFocus(grid_->Handle());
        EnableWindow(button, selected);
    }
}

void TUserMarkerPage::UpdateDpi() {
    if (!panel_) return;
    dpi_ = WindowDpi(panel_);
    if (font_) DeleteObject(font_);
    font_ = CreateMessageFont(dpi_);
    for (int id : {int(kBtAddMarker), int(kBtRenameMarker), int(kBtRemoveMarker)})
        SendMessageW(GetDlgItem(panel_, id), WM_SETFONT, reinterpret_cast<WPARAM>(font_), TRUE);
    Layout();
}

void TUserMarkerPage::Layout() {
    if (!panel_) return;
    RECT client{};
    GetClientRect(panel_, &client);
    auto px = [this](int v) { return ScaleForDpi(v, dpi_); };
    const int buttonsTop = std::max(0, int(client.bottom) - px(kButtonHeight) - px(kGap));
    if (grid_) {
        MoveWindow(grid_->Handle(), 0, 0, client.right, std::max(0, buttonsTop - px(kGap)), TRUE);
        grid_->AdjustLayout();
    }
    // Each button as wide as its caption needs (at least the usual width); all of them
    // narrower alike when the page is too narrow for that.
    const int ids[3] = {kBtAddMarker, kBtRenameMarker, kBtRemoveMarker};
    int widths[3] = {};
    int total = 2 * px(kGap);
    for (int i = 0; i < 3; ++i) {
        wchar_t caption[64] = L"";
        GetWindowTextW(GetDlgItem(panel_, ids[i]), caption, 64);
        widths[i] = std::max<int>(px(kButtonWidth), TextExtent(font_, caption).cx + px(16));
        total += widths[i];
    }
    const int room = std::max<int>(int(client.right), 1);
    int x = 0;
    for (int i = 0; i < 3; ++i) {
        const int width = total > room ? MulDiv(widths[i], room - 2 * px(kGap), total - 2 * px(kGap)) : widths[i];
        MoveWindow(GetDlgItem(panel_, ids[i]), x, buttonsTop, width, px(kButtonHeight), TRUE);
        x += width + px(kGap);
    }
}

void TUserMarkerPage::Changed() {
    if (OnChanged) OnChanged();
}

void TUserMarkerPage::AddMarker() {
    TUserMarker added;
    if (!AddMarkerInteractively(GetAncestor(panel_, GA_ROOT), store_, &added)) return;
    Reload(added.Number);
    Changed();
    if (grid_) SetFocus(grid_->Handle());
}

void TUserMarkerPage::RenameSelected() {
    const TUserMarker* marker = grid_ ? grid_->SelectedMarker() : nullptr;
    if (!marker) return;
    const TUserMarker chosen = *marker;
    if (!ShowRenameMarkerDialog(GetAncestor(panel_, GA_ROOT), store_, chosen)) return;
    Reload(chosen.Number);
    Changed();
}

void TUserMarkerPage::RemoveSelected() {
    const TUserMarker* marker = grid_ ? grid_->SelectedMarker() : nullptr;
    if (!marker) return;
    const TUserMarker chosen = *marker;
    const std::wstring question = L"Remove the marker \"" + chosen.Name +
                                  L"\"?\r\n\r\nFiles marked with it keep their icons, but changing their colour later "
                                  L"will report the marker as missing.";
    HWND owner = GetAncestor(panel_, GA_ROOT);
    if (MessageBoxW(owner, question.c_str(), kPageTitle, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES) return;
    try {
        store_.Remove(chosen);
    } catch (const std::exception& e) {
        MessageBoxW(owner, Utf8ToWide(e.what()).c_str(), kPageTitle, MB_OK | MB_ICONERROR);
    }
    Reload();
    Changed();
    if (grid_) SetFocus(grid_->Handle());
}

void TUserMarkerPage::ShowContextMenu(int x, int y, bool fromKeyboard) {
    if (!grid_) return;
    if (fromKeyboard) {
        // Below the grid's top-left corner, where the keyboard user looks.
        POINT pt{ScaleForDpi(8, dpi_), ScaleForDpi(8, dpi_)};
        ClientToScreen(grid_->Handle(), &pt);
        x = pt.x;
        y = pt.y;
    } else {
        POINT pt{x, y};
        ScreenToClient(grid_->Handle(), &pt);
        const int cell = grid_->CellAtPoint(pt.x, pt.y);
        if (cell >= 0) grid_->SelectCell(cell);
    }
    UpdateButtons();
    const bool selected = grid_->SelectedMarker() != nullptr;
    HMENU menu = CreatePopupMenu();
    AppendMenuW(menu, MF_STRING, kMiMarkerAdd, L"&Add Marker...\tIns");
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING | (selected ? 0 : MF_GRAYED), kMiMarkerRename, L"Re&name...\tF2");
    AppendMenuW(menu, MF_STRING | (selected ? 0 : MF_GRAYED), kMiMarkerRemove, L"Remo&ve\tDel");
    const int command = int(TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, x, y, 0, panel_, nullptr));
    DestroyMenu(menu);
    if (command == kMiMarkerAdd) AddMarker();
    if (command == kMiMarkerRename) RenameSelected();
    if (command == kMiMarkerRemove) RemoveSelected();
}

LRESULT CALLBACK TUserMarkerPage::PanelProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE)
        SetWindowLongPtrW(hwnd, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
    auto* self = reinterpret_cast<TUserMarkerPage*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self || msg == WM_NCCREATE) return DefWindowProcW(hwnd, msg, wParam, lParam);
    try {
        return self->Handle(msg, wParam, lParam);
    } catch (const std::exception& e) {
        MessageBoxW(GetAncestor(hwnd, GA_ROOT), Utf8ToWide(e.what()).c_str(), kPageTitle, MB_OK | MB_ICONERROR);
    }
    return 0;
}

LRESULT TUserMarkerPage::Handle(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_SIZE:
            Layout();
            return 0;
        case WM_COMMAND:
            if (HIWORD(wParam) == BN_CLICKED) {
                switch (LOWORD(wParam)) {
                    case kBtAddMarker:
                        AddMarker();
                        return 0;
                    case kBtRenameMarker:
                        RenameSelected();
                        return 0;
                    case kBtRemoveMarker:
                        RemoveSelected();
                        return 0;
                }
            }
            break;
        case WM_DPICHANGED_AFTERPARENT:
            UpdateDpi();
            return 0;
        case WM_NCDESTROY:
            panel_ = nullptr;
            grid_ = nullptr;
            break;
    }
    return DefWindowProcW(panel_, msg, wParam, lParam);
}

LRESULT CALLBACK TUserMarkerPage::GridSubclassProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                                   DWORD_PTR data) {
    auto* self = reinterpret_cast<TUserMarkerPage*>(data);
    try {
        if (msg == WM_KEYDOWN && !(GetKeyState(VK_CONTROL) & 0x8000) && !(GetKeyState(VK_MENU) & 0x8000)) {
            if (wParam == VK_F2) {
                self->RenameSelected();
                return 0;
            }
            if (wParam == VK_DELETE) {
                self->RemoveSelected();
                return 0;
            }
            if (wParam == VK_INSERT) {
                self->AddMarker();
                return 0;
            }
        }
        if (msg == WM_CONTEXTMENU) {
            const bool keyboard = lParam == LPARAM(-1);
            self->ShowContextMenu(short(LOWORD(lParam)), short(HIWORD(lParam)), keyboard);
            return 0;
        }
    } catch (const std::exception& e) {
        MessageBoxW(GetAncestor(hwnd, GA_ROOT), Utf8ToWide(e.what()).c_str(), kPageTitle, MB_OK | MB_ICONERROR);
        return 0;
    }
    if (msg == WM_NCDESTROY) RemoveWindowSubclass(hwnd, GridSubclassProc, id);
    const LRESULT result = DefSubclassProc(hwnd, msg, wParam, lParam);
    // The buttons follow the selection, which keys and clicks move.
    if (msg == WM_KEYDOWN || msg == WM_LBUTTONDOWN || msg == WM_SETFOCUS) self->UpdateButtons();
    return result;
}

}  // namespace vantrel
