// The picker grid window shared by the marker pages and the colour page.
//
// Cells are numbered row by row: cell = row * ColCount() + column. Cell 0 is "Default",
// cell c shows item c - 1. The last row may hold cells past the last item: they are drawn
// empty but can be selected. Rows scroll vertically, whole rows at a time.
#include "app/window/MarkerGrid.h"

#include <commctrl.h>

#include <algorithm>

#include "app/common/FileHelpers.h"
#include "app/common/LogFile.h"
#include "app/common/TextConv.h"
#include "app/registration/RegisterIconHandlerUnit.h"
#include "app/window/DialogSupport.h"
#include "app/window/WindowDpi.h"
#include "imaging/Error.h"

#ifndef WM_DPICHANGED_AFTERPARENT
#define WM_DPICHANGED_AFTERPARENT 0x02E3
#endif

namespace vantrel {

const wchar_t kMarkerGridClass[] = L"TMarkerGrid";

namespace {

const UINT_PTR kTipTool = 1;

// The tool structure at the size every version of the tooltip control accepts.
TTTOOLINFOW TipTool(HWND owner) {
    TTTOOLINFOW tool{};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.hwnd = owner;
    tool.uId = kTipTool;
    return tool;
}

int RowsFor(int cells, int cols) { return (cells + cols - 1) / cols; }

// Client coordinates of a mouse message (signed: they can lie left of or above the grid).
int PointX(LPARAM lParam) { return int(short(LOWORD(lParam))); }
int PointY(LPARAM lParam) { return int(short(HIWORD(lParam))); }

}  // namespace

// --- life ------------------------------------------------------------------------

TMarkerGrid::TMarkerGrid() { cellImages_.resize(1); }

TMarkerGrid::~TMarkerGrid() {
    // The tooltip is owned by the top-level window, not by the grid: it goes explicitly.
    if (tooltip_) DestroyWindow(tooltip_);
    tooltip_ = nullptr;
    if (hwnd_) {
        // Detached first: the window's last messages must not reach a half-destroyed object.
        HWND window = hwnd_;
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        hwnd_ = nullptr;
        DestroyWindow(window);
    }
}

HWND TMarkerGrid::CreateWindowIn(HWND parent, int controlId) {
    if (hwnd_) return hwnd_;
    HINSTANCE instance = GetModuleHandleW(nullptr);
    const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
    RegisterWindowClass({kMarkerGridClass, &TMarkerGrid::WindowProc, -1, 0, CS_DBLCLKS});
    RECT area{};
    if (parent) GetClientRect(parent, &area);
    windowText_ = CellName(selectedCell_);
    // A sunken edge like the platform's own lists (2 pixels a side at 96 DPI).
    HWND window = CreateWindowExW(WS_EX_CLIENTEDGE, kMarkerGridClass, windowText_.c_str(),
                                  WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL, 0, 0, area.right, area.bottom,
                                  parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(controlId)), instance, this);
    if (!window)
        throw Error("The picker grid window could not be created: " + WideToUtf8(SystemErrorMessage(GetLastError())));
    CreateTooltip();
    UpdateDpi();
    UpdateScrollBar();
    Layout(true);
    return hwnd_;
}

TMarkerGrid* TMarkerGrid::FromHandle(HWND window) {
    wchar_t name[32] = {};
    if (!window || !GetClassNameW(window, name, 32) || lstrcmpiW(name, kMarkerGridClass) != 0) return nullptr;
    return reinterpret_cast<TMarkerGrid*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

void TMarkerGrid::CreateTooltip() {
    tooltip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
    if (!tooltip_) return;  // hints are a help, not a need
    // One tool over the hovered cell; the control watches the grid's mouse messages itself.
    TTTOOLINFOW tool = TipTool(hwnd_);
    tool.uFlags = TTF_SUBCLASS;
    tool.lpszText = const_cast<wchar_t*>(L"");
    SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

// --- cells, pictures and names -------------------------------------------------------

std::wstring TMarkerGrid::CellName(int cell) const {
    if (cell == 0) return L"Default";
    const int item = cell - 1;
    if (item >= 0 && item < int(Names.size())) return Names[std::size_t(item)];
    return {};
}

bool TMarkerGrid::CellImageBuilt(int cell) const { return CellImage(cell) != nullptr; }

const THiResIcon* TMarkerGrid::CellImage(int cell) const {
    if (cell < 0 || cell >= int(cellImages_.size()) || !cellImages_[std::size_t(cell)]) return nullptr;
    return &cellImages_[std::size_t(cell)]->Picture;
}

void TMarkerGrid::EnsureSlots(int slots) {
    if (slots > int(cellImages_.size())) cellImages_.resize(std::size_t(slots));
}

void TMarkerGrid::ResetSlots(int slots) {
    cellImages_.clear();
    cellImages_.resize(std::size_t(std::max(slots, 1)));
    if (hwnd_) InvalidateRect(hwnd_, nullptr, FALSE);
}

void TMarkerGrid::ClearCellImages() {
    for (auto& slot : cellImages_) slot.reset();
    if (hwnd_) InvalidateRect(hwnd_, nullptr, FALSE);
}

const THiResIcon& TMarkerGrid::BaseIcon() {
    if (!baseIcon_) {
        // Never set: the generic icon of types without one of their own.
        const TIconPathRec generic = ParseIconLocation(DefaultIconLocation());
        baseFile_ = ExpandPath(generic.Path);
        baseIndex_ = generic.Index;
        baseIcon_ = std::make_unique<THiResIcon>();
        baseLoaded_ = false;
    }
    if (!baseLoaded_) {
        *baseIcon_ = LoadIconPicture(baseFile_, baseIndex_, cellSize_);
        baseLoaded_ = true;
    }
    return *baseIcon_;
}

void TMarkerGrid::SetBaseIcon(const std::wstring& iconFile, int iconIndex) {
    if (!baseIcon_) baseIcon_ = std::make_unique<THiResIcon>();
    baseFile_ = iconFile;
    baseIndex_ = iconIndex;
    *baseIcon_ = LoadIconPicture(iconFile, iconIndex, cellSize_);
    baseLoaded_ = true;
}

THiResIcon TMarkerGrid::CompositionBase() {
    const THiResIcon& base = BaseIcon();
    if (base.Handle() && !base.Handle()->Colour.Empty()) return base;
    // No default icon could be loaded: the previews are composed on a transparent picture,
    // so that a marker still shows on its own.
    TBitmap colour(cellSize_, cellSize_, 32);
    TBitmap mask = NewMaskBitmap(cellSize_, cellSize_);
    std::fill(mask.Bits().begin(), mask.Bits().end(), std::uint8_t(0xFF));
    return THiResIcon(CreateIconIndirect(colour, mask));
}

const TMarkerGrid::TCellImage& TMarkerGrid::CellImageFor(int cell) {
    EnsureSlots(cell + 1);
    std::unique_ptr<TCellImage>& slot = cellImages_[std::size_t(cell)];
    if (!slot) {
        auto image = std::make_unique<TCellImage>();
        try {
            image->Picture = cell == 0 ? BaseIcon() : BuildItemImage(cell);
            image->Drawable = TPictureBitmap(image->Picture);
        } catch (const std::exception& e) {
            // The cell stays blank (and is not tried again until the cache is cleared).
            LogMessage(L"Preview of cell " + std::to_wstring(cell) + L" failed: " + Utf8ToWide(e.what()), L"Grid",
                       LogError);
            image->Picture = THiResIcon();
            image->Drawable = TPictureBitmap();
        }
        slot = std::move(image);
    }
    return *slot;
}

void TMarkerGrid::ItemsChanged() {
    const int cells = ItemCount() + 1;
    rowCount_ = RowsFor(cells, colCount_);
    if (selectedCell_ >= CellCount()) selectedCell_ = cells - 1;
    if (hwnd_) {
        UpdateScrollBar();
        Layout(false);
        InvalidateRect(hwnd_, nullptr, FALSE);
    }
    UpdateAccessibleName();
}

// --- layout ----------------------------------------------------------------------

int TMarkerGrid::VisibleRows() const {
    if (!hwnd_) return rowCount_;
    RECT client{};
    GetClientRect(hwnd_, &client);
    return std::max(1, int(client.bottom) / cellSize_);
}

void TMarkerGrid::AdjustLayout() { Layout(false); }

// The columns that fit: n = ItemCount() + 1 cells in use, C the cell size, W the width
// inside the grid's edge without a scroll bar. cols = min(W div C, n); when the rows of
// that many columns are higher than the window, the scroll bar's width is taken off W and
// the columns counted again; never fewer than one column (checked before the rows are
// counted, so a grid narrower than one cell still has one). An unchanged column count
// changes nothing: rows, selection, scroll position and picture stay. Otherwise the
// selected cell keeps its number, so the same item stays selected in the new flow; a
// selection past the last item moves onto the last item.
void TMarkerGrid::Layout(bool force) {
    if (!hwnd_) return;
    RECT client{};
    GetClientRect(hwnd_, &client);
    const int scrollBar = SystemMetricForDpi(SM_CXVSCROLL, WindowDpi(hwnd_));
    const bool barShown = (GetWindowLongPtrW(hwnd_, GWL_STYLE) & WS_VSCROLL) != 0;
    const int width = int(client.right) + (barShown ? scrollBar : 0);
    const int height = int(client.bottom);
    const int cells = ItemCount() + 1;
    auto fit = [&](int w) { return std::max(1, std::min(w / cellSize_, cells)); };

    int cols = fit(width);
    int rows = RowsFor(cells, cols);
    if (rows * cellSize_ > height) {
        cols = fit(width - scrollBar);
        rows = RowsFor(cells, cols);
    }
    if (cols == colCount_ && !force) return;

    colCount_ = cols;
    rowCount_ = rows;
    if (selectedCell_ >= cells) selectedCell_ = cells - 1;
    UpdateScrollBar();
    ScrollIntoView(selectedCell_);
    UpdateAccessibleName();
    InvalidateRect(hwnd_, nullptr, FALSE);
}

void TMarkerGrid::UpdateDpi() {
    if (!hwnd_) return;
    const int size = std::max(16, SystemMetricForDpi(SM_CXICON, WindowDpi(hwnd_)));
    if (size == cellSize_) return;
    cellSize_ = size;
    // Pictures are loaded at the cell size: the base icon is loaded again when next used.
    if (baseIcon_) baseLoaded_ = false;
    ClearCellImages();
    hoverRow_ = hoverCol_ = -1;
    UpdateScrollBar();
    Layout(true);
}

void TMarkerGrid::UpdateScrollBar() {
    if (!hwnd_) return;
    const int visible = VisibleRows();
    const int top = std::clamp(topRow_, 0, std::max(0, rowCount_ - visible));
    if (top != topRow_) {
        topRow_ = top;
        InvalidateRect(hwnd_, nullptr, FALSE);
    }
    SCROLLINFO info{};
    info.cbSize = sizeof(info);
    info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
    info.nMin = 0;
    info.nMax = rowCount_ - 1;
    info.nPage = UINT(visible);
    info.nPos = topRow_;
    SetScrollInfo(hwnd_, SB_VERT, &info, TRUE);
}

RECT TMarkerGrid::CellRect(int cell) const {
    const int row = cell / colCount_, col = cell % colCount_;
    const int top = (row - topRow_) * cellSize_;
    return RECT{col * cellSize_, top, (col + 1) * cellSize_, top + cellSize_};
}

int TMarkerGrid::CellAt(int x, int y, int* row, int* col) const {
    if (x < 0 || y < 0) return -1;
    const int c = x / cellSize_, r = topRow_ + y / cellSize_;
    if (c >= colCount_ || r >= rowCount_) return -1;
    if (row) *row = r;
    if (col) *col = c;
    return r * colCount_ + c;
}

void TMarkerGrid::InvalidateCell(int cell) {
    if (!hwnd_) return;
    const RECT rect = CellRect(cell);
    InvalidateRect(hwnd_, &rect, FALSE);
}

void TMarkerGrid::ScrollTo(int topRow) {
    topRow = std::clamp(topRow, 0, std::max(0, rowCount_ - VisibleRows()));
    if (topRow == topRow_) return;
    topRow_ = topRow;
    if (!hwnd_) return;
    SCROLLINFO info{};
    info.cbSize = sizeof(info);
    info.fMask = SIF_POS;
    info.nPos = topRow_;
    SetScrollInfo(hwnd_, SB_VERT, &info, TRUE);
    if (tooltip_) SendMessageW(tooltip_, TTM_POP, 0, 0);
    InvalidateRect(hwnd_, nullptr, FALSE);
}

void TMarkerGrid::ScrollIntoView(int cell) {
    const int row = cell / colCount_, visible = VisibleRows();
    if (row < topRow_)
        ScrollTo(row);
    else if (row >= topRow_ + visible)
        ScrollTo(row - visible + 1);
}

// --- selection -------------------------------------------------------------------

void TMarkerGrid::SelectCell(int cell) { MoveSelection(cell); }

void TMarkerGrid::MoveSelection(int cell) {
    cell = std::clamp(cell, 0, CellCount() - 1);
    if (cell != selectedCell_) {
        InvalidateCell(selectedCell_);
        selectedCell_ = cell;
        InvalidateCell(selectedCell_);
        UpdateAccessibleName();
        if (hwnd_) {
            NotifyWinEvent(EVENT_OBJECT_SELECTION, hwnd_, OBJID_CLIENT, CHILDID_SELF);
            // A screen reader speaks the focused object's name: tell it the focus moved.
            if (GetFocus() == hwnd_) NotifyWinEvent(EVENT_OBJECT_FOCUS, hwnd_, OBJID_CLIENT, CHILDID_SELF);
        }
    }
    ScrollIntoView(selectedCell_);
}

// Accessibility clients read the grid's name: it is the selected cell's name.
void TMarkerGrid::UpdateAccessibleName() {
    if (!hwnd_) return;
    std::wstring name = CellName(selectedCell_);
    if (name == windowText_) return;
    windowText_ = std::move(name);
    SetWindowTextW(hwnd_, windowText_.c_str());
    NotifyWinEvent(EVENT_OBJECT_NAMECHANGE, hwnd_, OBJID_CLIENT, CHILDID_SELF);
}

void TMarkerGrid::Choose() {
    if (SelectedIndex() >= ItemCount() || !OnChoose) return;
    const auto handler = OnChoose;  // the handler may replace OnChoose while it runs
    handler(*this);
}

// --- input -----------------------------------------------------------------------

void TMarkerGrid::OnMouseMove(int x, int y) {
    int row = 0, col = 0;
    const int cell = CellAt(x, y, &row, &col);
    if (cell < 0 || (row == hoverRow_ && col == hoverCol_)) return;
    hoverRow_ = row;
    hoverCol_ = col;
    hintText_ = CellName(cell);
    if (!tooltip_) return;
    // The hint now shown belongs to the cell left behind; the new one shows at the next
    // hover pause (an empty text shows none).
    SendMessageW(tooltip_, TTM_POP, 0, 0);
    TTTOOLINFOW tool = TipTool(hwnd_);
    tool.rect = CellRect(cell);
    SendMessageW(tooltip_, TTM_NEWTOOLRECTW, 0, reinterpret_cast<LPARAM>(&tool));
    tool.lpszText = hintText_.data();
    SendMessageW(tooltip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
}

void TMarkerGrid::OnKeyDown(WPARAM key) {
    int row = selectedCell_ / colCount_, col = selectedCell_ % colCount_;
    switch (key) {
        case VK_LEFT:
            col = std::max(0, col - 1);
            break;
        case VK_RIGHT:
            col = std::min(colCount_ - 1, col + 1);
            break;
        case VK_UP:
            row = std::max(0, row - 1);
            break;
        case VK_DOWN:
            row = std::min(rowCount_ - 1, row + 1);
            break;
        case VK_PRIOR:
            row = std::max(0, row - VisibleRows());
            break;
        case VK_NEXT:
            row = std::min(rowCount_ - 1, row + VisibleRows());
            break;
        case VK_HOME:
            MoveSelection(0);
            return;
        case VK_END:
            MoveSelection(ItemCount());  // the last item
            return;
        default:
            return;
    }
    MoveSelection(row * colCount_ + col);
}

void TMarkerGrid::OnVScroll(int request) {
    const int visible = VisibleRows();
    switch (request) {
        case SB_LINEUP:
            ScrollTo(topRow_ - 1);
            break;
        case SB_LINEDOWN:
            ScrollTo(topRow_ + 1);
            break;
        case SB_PAGEUP:
            ScrollTo(topRow_ - visible);
            break;
        case SB_PAGEDOWN:
            ScrollTo(topRow_ + visible);
            break;
        case SB_TOP:
            ScrollTo(0);
            break;
        case SB_BOTTOM:
            ScrollTo(rowCount_);
            break;
        case SB_THUMBTRACK:
        case SB_THUMBPOSITION: {
            SCROLLINFO info{};
            info.cbSize = sizeof(info);
            info.fMask = SIF_TRACKPOS;
            if (GetScrollInfo(hwnd_, SB_VERT, &info)) ScrollTo(info.nTrackPos);
            // Redrawn while the thumb is dragged.
            if (request == SB_THUMBTRACK) UpdateWindow(hwnd_);
            break;
        }
        default:
            break;
    }
}

// One row per wheel notch: a row is a whole icon high, more would skip past the items.
void TMarkerGrid::OnMouseWheel(int delta) {
    wheelDelta_ += delta;
    const int rows = wheelDelta_ / WHEEL_DELTA;
    wheelDelta_ -= rows * WHEEL_DELTA;
    if (rows != 0) ScrollTo(topRow_ - rows);
}

// --- painting ----------------------------------------------------------------------

void TMarkerGrid::DrawCell(HDC dc, int cell, const RECT& rect, bool focused) {
    const bool selected = cell == selectedCell_;
    if (cell <= ItemCount()) {
        FillRect(dc, &rect,
                 selected && focused ? GetSysColorBrush(COLOR_MENUHILIGHT)
                                     : static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        CellImageFor(cell).Drawable.Draw(dc, rect);
    }
    if (selected && focused) DrawFocusRect(dc, &rect);
}

// Painted into a memory bitmap and copied in one go, so nothing flickers. Only the cells
// in the area to paint are drawn, and only those build their pictures.
void TMarkerGrid::Paint(HDC dc, const RECT& area) {
    RECT client{};
    GetClientRect(hwnd_, &client);
    const int width = client.right, height = client.bottom;
    if (width <= 0 || height <= 0) return;
    HDC memory = CreateCompatibleDC(dc);
    HBITMAP buffer = memory ? CreateCompatibleBitmap(dc, width, height) : nullptr;
    HDC target = buffer ? memory : dc;
    HGDIOBJ old = buffer ? SelectObject(memory, buffer) : nullptr;

    FillRect(target, &area, GetSysColorBrush(COLOR_WINDOW));
    const bool focused = GetFocus() == hwnd_;
    const int lastRow = std::min(rowCount_, topRow_ + (height + cellSize_ - 1) / cellSize_);
    for (int row = topRow_; row < lastRow; ++row) {
        for (int col = 0; col < colCount_ && col * cellSize_ < width; ++col) {
            const int cell = row * colCount_ + col;
            const RECT rect = CellRect(cell);
            RECT overlap{};
            if (IntersectRect(&overlap, &rect, &area)) DrawCell(target, cell, rect, focused);
        }
    }

    if (buffer) {
        BitBlt(dc, area.left, area.top, area.right - area.left, area.bottom - area.top, memory, area.left, area.top,
               SRCCOPY);
        SelectObject(memory, old);
        DeleteObject(buffer);
    }
    if (memory) DeleteDC(memory);
}

// --- window procedure ----------------------------------------------------------------

LRESULT CALLBACK TMarkerGrid::WindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        auto* grid = static_cast<TMarkerGrid*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(grid));
        if (grid) grid->hwnd_ = window;
    }
    auto* grid = reinterpret_cast<TMarkerGrid*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!grid) return DefWindowProcW(window, msg, wParam, lParam);
    if (msg == WM_NCDESTROY) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        grid->hwnd_ = nullptr;
        return DefWindowProcW(window, msg, wParam, lParam);
    }
    // A C++ failure must not unwind through the system's frames: it ends here, shown.
    try {
        return grid->Handle(msg, wParam, lParam);
    } catch (const std::exception& e) {
        const std::wstring text = Utf8ToWide(e.what());
        LogMessage(text, L"Grid", LogError);
        MessageBoxW(GetAncestor(window, GA_ROOT), text.c_str(), L"Vantrel", MB_OK | MB_ICONERROR);
    } catch (...) {
        MessageBoxW(GetAncestor(window, GA_ROOT), L"Unknown failure", L"Vantrel", MB_OK | MB_ICONERROR);
    }
    return 0;
}

LRESULT TMarkerGrid::Handle(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_PAINT: {
            PAINTSTRUCT ps{};
            if (HDC dc = BeginPaint(hwnd_, &ps)) {
                Paint(dc, ps.rcPaint);
                EndPaint(hwnd_, &ps);
            }
            return 0;
        }
        case WM_PRINTCLIENT: {  // PrintWindow, animations
            RECT client{};
            GetClientRect(hwnd_, &client);
            Paint(reinterpret_cast<HDC>(wParam), client);
            return 0;
        }
        case WM_ERASEBKGND:
            return 1;  // the paint covers every pixel
        case WM_SIZE:
            // Cells stay where they are unless the columns change or the last rows come
            // into view; the system repaints what a larger window uncovers.
            UpdateScrollBar();
            Layout(false);
            return 0;
        case WM_DPICHANGED_AFTERPARENT:
            UpdateDpi();
            return 0;
        case WM_GETDLGCODE:
            // Arrows and characters stay with the grid; Enter goes on to the default button.
            return DLGC_WANTARROWS | DLGC_WANTCHARS;
        case WM_SETFOCUS:
        case WM_KILLFOCUS:
            InvalidateCell(selectedCell_);
            return 0;
        case WM_LBUTTONDOWN: {
            SetFocus(hwnd_);
            const int cell = CellAt(PointX(lParam), PointY(lParam));
            if (cell >= 0) MoveSelection(cell);
            return 0;
        }
        case WM_LBUTTONDBLCLK: {
            const int cell = CellAt(PointX(lParam), PointY(lParam));
            if (cell >= 0) {
                MoveSelection(cell);
                Choose();
            }
            return 0;
        }
        case WM_MOUSEMOVE:
            OnMouseMove(PointX(lParam), PointY(lParam));
            return 0;
        case WM_KEYDOWN:
            if (wParam == VK_SPACE) {
                if (!(lParam & (1 << 30))) Choose();  // not again while the key is held
                return 0;
            }
            OnKeyDown(wParam);
            return 0;
        case WM_VSCROLL:
            OnVScroll(LOWORD(wParam));
            return 0;
        case WM_MOUSEWHEEL:
            OnMouseWheel(GET_WHEEL_DELTA_WPARAM(wParam));
            return 0;
        case WM_DESTROY:
            if (tooltip_) {
                DestroyWindow(tooltip_);
                tooltip_ = nullptr;
            }
            break;
        default:
            break;
    }
    return DefWindowProcW(hwnd_, msg, wParam, lParam);
}

}  // namespace vantrel
