// TMarkerGrid: the picker grid of the main window's pages, one window class of our own
// ("TMarkerGrid") for both kinds. Square cells of the system's large icon size for the
// window's DPI; cell 0 is "Default", the cells after it the items (markers of one icon
// library, or colour swatches). Each cell previews the file the window shows, composed
// once per cell and cached until ClearCellImages; cells are built only when painted.
#pragma once

#include "imaging/IconHandle.h"  // before windows.h and its RGB macros

#include <windows.h>

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

    // Fired by a double click (or Enter / space) on a cell holding an item or "Default".
    std::function<void(TMarkerGrid&)> OnChoose;

    int ColCount() const { return colCount_; }
    int RowCount() const { return rowCount_; }
    int TopRow() const { return topRow_; }
    int CellSize() const { return cellSize_; }
    // The accessible and hover name of a cell: "Default", the item's name, or empty.
    std::wstring CellName(int cell) const;
    // For tests and tools: whether a cell's preview is built, and the hover state.
    bool CellImageBuilt(int cell) const;
    int CellImageSlots() const { return int(cellImages_.size()); }
    int HoverRow() const { return hoverRow_; }
    int HoverCol() const { return hoverCol_; }
    const std::wstring& HintText() const { return hintText_; }

protected:
    TMarkerGrid();
    // Builds the preview picture of item cell c (c >= 1); cell 0 is built by the grid.
    virtual THiResIcon BuildItemImage(int cell) = 0;
    // Gives the cell cache at least `slots` slots.
    void EnsureSlots(int slots);

    std::vector<std::wstring> Names;  // hover name of item i (cell i + 1)

private:
    static LRESULT CALLBACK WindowProc(HWND, UINT, WPARAM, LPARAM);
    LRESULT Handle(UINT msg, WPARAM wParam, LPARAM lParam);
    // ... private state and helpers of the implementation
    HWND hwnd_ = nullptr;
    std::unique_ptr<THiResIcon> baseIcon_;
    std::vector<std::unique_ptr<THiResIcon>> cellImages_;
    int selectedCell_ = 0;
    int colCount_ = 1, rowCount_ = 1, topRow_ = 0;
    int cellSize_ = 32;
    int hoverRow_ = 0, hoverCol_ = 0;
    std::wstring hintText_;
};

// The previews of a marker library's icons over the file's icon, tinted with the file's
// current colour.
class TOverlayGrid : public TMarkerGrid {
public:
    explicit TOverlayGrid(const std::wstring& libraryFile);

    int ItemCount() const override { return IconCount; }
    // Does nothing when no file exists at `path`; otherwise takes its icon count (as the
    // platform's extraction reports it) and icon names.
    void SetLibraryFile(const std::wstring& path);
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
