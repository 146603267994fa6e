// TMarkerGrid: the picker grid of the main window's pages, one window class of our own
// ("TMarkerGrid") for both kinds. Square cells of the system's large icon size for the
// window's DPI; cell 0 is "Default", the cells after it the items (markers of one icon
// library, or colour swatches). Each cell previews the file the window shows, composed
// once per cell and cached until ClearCellImages; cells are built only when painted.
#pragma once

#include "imaging/IconHandle.h"  // before windows.h and its RGB macros

#include <windows.h>

#include "app/window/IconBridge.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vantrel {

extern const wchar_t kMarkerGridClass[];

class TMarkerGrid {
public:
    virtual ~TMarkerGrid();
    TMarkerGrid(const TMarkerGrid&) = delete;
    TMarkerGrid& operator=(const TMarkerGrid&) = delete;

    // Creates the grid window as a child of `parent` (tab stop, vertical scroll bar).
    HWND CreateWindowIn(HWND parent, int controlId);
    HWND Handle() const { return hwnd_; }
    // The grid object behind a TMarkerGrid window, or null for any other window.
    static TMarkerGrid* FromHandle(HWND window);

    virtual int ItemCount() const = 0;
    // Selected cell number - 1; -1 is "Default". May be ItemCount() or more on an empty
    // cell after the last item.
    int SelectedIndex() const { return selectedCell_ - 1; }
    int SelectedCell() const { return selectedCell_; }
    // Selects a cell (clamped to the cells that exist) and scrolls it into view.
    void SelectCell(int cell);

    // The previewed file's default icon; the generic icon when none was set.
    const THiResIcon& BaseIcon();
    // Loads the platform's icon number `iconIndex` of `iconFile` (negative: minus a
    // resource id) at the cell size. Cached cell pictures stay (the window clears them).
    void SetBaseIcon(const std::wstring& iconFile, int iconIndex);
    // Frees every cached picture; the number of slots stays.
    void ClearCellImages();
    // Fits the columns to the width (see the .cpp for the rules); keeps the selected item.
    void AdjustLayout();
    // Takes the cell size anew from the window's DPI (done on WM_DPICHANGED_AFTERPARENT);
    // a new size reloads the base icon, clears the cached pictures and lays the cells out.
    void UpdateDpi();

    // Fired by a double click or the space bar on a cell holding an item or "Default".
    // Enter is left to the window's default button. The handler runs inside the grid's
    // window procedure and must not let a failure escape.
    std::function<void(TMarkerGrid&)> OnChoose;

    int ColCount() const { return colCount_; }
    int RowCount() const { return rowCount_; }
    int TopRow() const { return topRow_; }
    int CellSize() const { return cellSize_; }
    // The accessible and hover name of a cell: "Default", the item's name, or empty.
    std::wstring CellName(int cell) const;
    // For tests and tools: whether a cell's preview is built, and the hover state.
    bool CellImageBuilt(int cell) const;
    // The cached preview of a cell; null while it is not built.
    const THiResIcon* CellImage(int cell) const;
    // The cell under a client point, or -1.
    int CellAtPoint(int x, int y) const { return CellAt(x, y); }
    // Rows that fit the window's height whole (at least 1).
    int VisibleRows() const;
    int CellImageSlots() const { return int(cellImages_.size()); }
    int HoverRow() const { return hoverRow_; }
    int HoverCol() const { return hoverCol_; }
    const std::wstring& HintText() const { return hintText_; }
    // The tooltip control that shows the hints (null when it could not be made).
    HWND TooltipHandle() const { return tooltip_; }

protected:
    TMarkerGrid();
    // Builds the preview picture of item cell c (c >= 1); cell 0 is built by the grid.
    virtual THiResIcon BuildItemImage(int cell) = 0;
    // Gives the cell cache at least `slots` slots.
    void EnsureSlots(int slots);
    // Sets the cell cache to exactly `slots` slots, freeing the pictures.
    void ResetSlots(int slots);
    // After the item count or the names changed: rows, scroll range, layout and the
    // window's text follow.
    void ItemsChanged();
    // The base icon to compose previews on: BaseIcon(), or a transparent picture of the
    // cell size when the base icon could not be loaded.
    THiResIcon CompositionBase();

    std::vector<std::wstring> Names;  // hover name of item i (cell i + 1)

private:
    // A built preview with the bitmap it is drawn from.
    struct TCellImage {
        THiResIcon Picture;
        TPictureBitmap Drawable;
    };

    static LRESULT CALLBACK WindowProc(HWND, UINT, WPARAM, LPARAM);
    LRESULT Handle(UINT msg, WPARAM wParam, LPARAM lParam);

    void Paint(HDC dc, const RECT& area);
    void DrawCell(HDC dc, int cell, const RECT& rect, bool focused);
    const TCellImage& CellImageFor(int cell);
    void Layout(bool force);
    int CellCount() const { return rowCount_ * colCount_; }
    RECT CellRect(int cell) const;
    // The cell under a client point, or -1; `row` and `col` receive its place.
    int CellAt(int x, int y, int* row = nullptr, int* col = nullptr) const;
    void InvalidateCell(int cell);
    void MoveSelection(int cell);
    void ScrollTo(int topRow);
    void ScrollIntoView(int cell);
    void UpdateScrollBar();
    void UpdateAccessibleName();
    void OnMouseMove(int x, int y);
    void OnKeyDown(WPARAM key);
    void OnVScroll(int request);
    void OnMouseWheel(int delta);
    void Choose();
    void CreateTooltip();

    HWND hwnd_ = nullptr;
    HWND tooltip_ = nullptr;
    std::unique_ptr<THiResIcon> baseIcon_;
    bool baseLoaded_ = false;  // baseIcon_ holds the icon of the location below at cellSize_
    std::wstring baseFile_;
    int baseIndex_ = 0;
    std::vector<std::unique_ptr<TCellImage>> cellImages_;
    int selectedCell_ = 0;
    int colCount_ = 1, rowCount_ = 1, topRow_ = 0;
    int cellSize_ = 32;
    // -1: no cell yet, so the first cell the mouse enters, "Default" included, sets a hint.
    int hoverRow_ = -1, hoverCol_ = -1;
    int wheelDelta_ = 0;  // wheel turn not yet scrolled; WHEEL_DELTA scrolls one row
    std::wstring hintText_;
    std::wstring windowText_;  // the window's text as last set
};

// The previews of a marker library's icons over the file's icon, tinted with the file's
// current colour.
class TOverlayGrid : public TMarkerGrid {
public:
    explicit TOverlayGrid(const std::wstring& libraryFile);
    // An empty grid (no library) whose items a derived grid provides.
    TOverlayGrid();

    int ItemCount() const override { return IconCount; }
    // Does nothing when no file exists at `path`; otherwise takes its icon count (as the
    // platform's extraction reports it) and icon names.
    void SetLibraryFile(const std::wstring& path);
    // The icon location of marker `item` (0 .. ItemCount() - 1): LibraryFile and the item
    // here; grids whose markers live in several files say where each one is.
    virtual void MarkerLocation(int item, std::wstring& file, int& index) const;
    // A different colour clears the cached pictures.
    void SetPreviewColor(std::int32_t color);

    std::wstring LibraryFile;
    int IconCount = 0;
    std::int32_t PreviewColor = 0x1FFFFFFF;

protected:
    THiResIcon BuildItemImage(int cell) override;
};

// The colour swatches: the file's icon tinted with each colour, with the file's current
// marker drawn over it.
class TColorGrid : public TMarkerGrid {
public:
    TColorGrid();

    int ItemCount() const override { return int(Colors.size()); }
    void AddColor(int r, int g, int b, const std::wstring& name);
    int AddColorValue(std::int32_t color, const std::wstring& name);
    // The colour of the selected cell; only valid on an item cell.
    std::int32_t SelectedColor() const;
    // A different marker file (letter case counts) or index clears the cached pictures.
    void SetMarkerFile(const std::wstring& path);
    void SetMarkerIndex(int index);

    std::vector<std::int32_t> Colors;
    std::wstring MarkerFile;
    int MarkerIndex = 0;

protected:
    THiResIcon BuildItemImage(int cell) override;
};

}  // namespace vantrel
