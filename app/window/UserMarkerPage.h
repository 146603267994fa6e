// The "My Markers" page of the main window: the user's own markers (TUserMarkers) in a
// picker grid like the built-in pages, with "Add Marker...", "Rename..." and "Remove"
// below it, the same commands in the grid's context menu, and keys: Insert adds, F2
// renames, Delete removes (after asking).
#pragma once

#include "app/window/MarkerGrid.h"  // imaging headers before windows.h

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/engine/UserMarkers.h"

namespace vantrel {

extern const wchar_t kUserMarkerPanelClass[];  // "TUserMarkerPanel"

// Control and command identifiers of the page.
enum UserMarkerPageControl : int {
    kBtAddMarker = 1201,
    kBtRenameMarker,
    kBtRemoveMarker,
    kMiMarkerAdd = 2201,
    kMiMarkerRename,
    kMiMarkerRemove,
};

// The previews of the user's markers: marker i is icon 0 of its own library.
class TUserMarkerGrid : public TOverlayGrid {
public:
    int ItemCount() const override { return int(Markers.size()); }
    void MarkerLocation(int item, std::wstring& file, int& index) const override;
    // Takes a new list of markers; the selection follows the marker numbered `select`
    // when it is listed, else stays at its cell (clamped).
    void SetMarkers(std::vector<TUserMarker> markers, unsigned select = 0);
    // The marker of the selected cell, or null on "Default".
    const TUserMarker* SelectedMarker() const;

    std::vector<TUserMarker> Markers;
};

class TUserMarkerPage {
public:
    explicit TUserMarkerPage(const std::wstring& folder);
    ~TUserMarkerPage();
    TUserMarkerPage(const TUserMarkerPage&) = delete;
    TUserMarkerPage& operator=(const TUserMarkerPage&) = delete;

    // Creates the page's panel filling `sheet` with the grid (id gridId) and the buttons,
    // and lists the markers. The page keeps using the grid; the caller owns it.
    std::unique_ptr<TUserMarkerGrid> Create(HWND sheet, int gridId);
    HWND Handle() const { return panel_; }
    TUserMarkerGrid* Grid() const { return grid_; }
    TUserMarkers& Store() { return store_; }

    // Lists the markers again from the folder.
    void Reload(unsigned select = 0);
    // The commands: the open dialog and Add Marker dialog; the Rename Marker dialog for
    // the selected marker; removal of the selected marker after a question.
    void AddMarker();
    void RenameSelected();
    void RemoveSelected();
    // Fonts and places at the window's DPI.
    void UpdateDpi();
    // Fired after markers were added, renamed or removed.
    std::function<void()> OnChanged;

private:
    static LRESULT CALLBACK PanelProc(HWND, UINT, WPARAM, LPARAM);
    static LRESULT CALLBACK GridSubclassProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
    LRESULT Handle(UINT msg, WPARAM wParam, LPARAM lParam);
    void Layout();
    void UpdateButtons();
    void ShowContextMenu(int x, int y, bool fromKeyboard);
    void Changed();

    TUserMarkers store_;
    HWND panel_ = nullptr;
    HWND tooltip_ = nullptr;
    TUserMarkerGrid* grid_ = nullptr;
    HFONT font_ = nullptr;
    int dpi_ = 96;
};

}  // namespace vantrel
