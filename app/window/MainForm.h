// Tfrm_Main: the program's main window. It shows the files to work on, one at a time
// (single mode) or as a list (multiple mode), and below them a page control of picker
// grids: "Colors" first, then one page per marker library, each cell previewing the
// shown file as it would look after that choice. Apply runs the marking engine in this
// process, on the window thread, behind the progress window.
#pragma once

#include "app/window/MarkerGrid.h"  // imaging headers before windows.h and its RGB macros

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "imaging/IconsStorage.h"

namespace vantrel {

class TVantrel;
class TFeedbackScope;
class TUserMarkerPage;

extern const wchar_t kMainFormClass[];  // "Tfrm_Main"
extern const wchar_t kTabSheetClass[];  // "TTabSheet": one page of the page control

// Control identifiers, for tests and tools that drive the window.
enum MainFormControl : int {
    kBtApply = IDOK,
    kBtCancel = IDCANCEL,
    kEdFileName = 1001,
    kBtBrowse,
    kLbFiles,
    kBtAddFile,
    kBtRemoveFile,
    kBtClearlist,
    kPcMarks,
    kLblFile,
    kLblIcon,
    kImg1,
    kImg2,
    kBvlFiles,
    kBvlIcons,
    kBvlBottom,
    kFirstGrid = 1100,  // the grid of page i has kFirstGrid + i
};

// The tooltip's tool over the hovered entry of lbFiles (the tool's window is lbFiles);
// its text is that entry's full path.
constexpr UINT_PTR kLbFilesTip = 1;

// Menu command identifiers.
enum MainMenuCommand : int {
    kApplyIconChange1 = 2001,
    kMiResetDefaultIcon,
    kMiRefreshExplorer,
    kMiRollbackAllChanges,
    kMiExit,
    kMiSingleFile,
    kMiMultipleFiles,
    kMiCheckForUpdates,
    kMiAbout,
    kMiMarkedFiles,
    kMiAddMarker,
};

// The colour swatches of the "Colors" page, in cell order.
struct TSwatch {
    const wchar_t* Name;
    int R, G, B;
};
extern const TSwatch kSwatches[7];

class Tfrm_Main {
public:
    Tfrm_Main();
    ~Tfrm_Main();
    Tfrm_Main(const Tfrm_Main&) = delete;
    Tfrm_Main& operator=(const Tfrm_Main&) = delete;

    // Creates the window (FormCreate runs inside) without showing it; Show shows it in
    // the state read from the settings (normal or maximized).
    HWND Create();
    void Show();
    HWND Handle() const { return hwnd_; }
    static Tfrm_Main* FromHandle(HWND window);
    // The program's own window ends the message loop when it is destroyed.
    void SetQuitOnDestroy(bool quit) { quitOnDestroy_ = quit; }

    // Lets the window handle keys that no control does (Ctrl+Tab between pages, the
    // dialog keys Tab, Enter, Esc); true when the message was used.
    bool PreTranslateMessage(MSG& msg);

    // --- the window's operations, as its events call them ---
    void SetMultipleMode(bool multiple);
    bool MultipleMode() const { return FMultipleMode; }
    void AddFile(const std::wstring& path);
    void RemoveSelectedFiles();
    void UpdateListButtons();
    void RefreshPreview();
    void ShowFileState(const std::wstring& path);
    void ApplyActivePage();
    void ApplyColorGrid(TColorGrid& grid);
    void ApplyOverlayGrid(TOverlayGrid& grid);
    void RestoreDefaultIcons();
    // Asks first; runs the rollback only on Yes.
    void RollbackAllChanges();
    void FillEngineList();
    void LoadViewSettings();
    void SaveViewSettings();
    // Files dropped on the window (WM_DROPFILES) or on the name box.
    void DropFiles(HDROP drop, bool onNameBox);
    // The choice of the name box's open dialog (edFileNameAfterDialog).
    void AfterFileDialog(const std::vector<std::wstring>& files, bool accepted);

    // --- state, for tests and tools ---
    std::vector<std::wstring> ListEntries() const;
    // The text lbFiles draws for an entry at its current width, font and DPI: the full
    // path, or the path with its middle elided so that the file name shows.
    std::wstring ListItemShownText(int index) const;
    HWND TooltipHandle() const { return tooltip_; }
    std::wstring FileNameText() const;
    int PageCount() const { return int(pages_.size()); }
    int ActivePage() const;
    void SetActivePage(int page);
    std::wstring PageCaption(int page) const;
    // The "My Markers" page (null when it could not be made).
    TUserMarkerPage* UserMarkers() const { return userMarkers_.get(); }
    // The picker grid of a page (-1: the active page), or null.
    TMarkerGrid* GridOnPage(int page = -1) const;
    bool Busy() const { return FBusy; }
    bool ClosePending() const { return closePending_; }
    int FileAreaHeight() const { return fileAreaHeight_; }
    int ListPanelHeight() const { return listHeight_; }
    int Dpi() const { return dpi_; }
    // The settings file "ViewSettings.ini" in the data folder.
    std::wstring SettingsFile() const;
    // Runs an engine operation the way the window's commands do: nothing while busy;
    // otherwise busy, the progress window, the operation, and in every case not busy
    // and no progress window afterwards. A failure shows the failure dialog. A close
    // asked for meanwhile happens once the operation has ended.
    void RunOperation(const std::function<void()>& operation);

private:
    struct TPage {
        std::wstring Caption;
        HWND Sheet = nullptr;
        std::unique_ptr<TMarkerGrid> Grid;
    };

    static LRESULT CALLBACK WindowProc(HWND, UINT, WPARAM, LPARAM);
    static LRESULT CALLBACK SheetProc(HWND, UINT, WPARAM, LPARAM);
    static LRESULT CALLBACK ChildSubclassProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
    LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam);

    void FormCreate();
    void FormClose();
    void FormDestroy();
    void CreateControls();
    void CreateMenus();
    void CreateColorsTab();
    void CreateMarkerTabs();
    void AddMarkerTab(const std::wstring& libraryFile, const std::wstring& caption);
    // "My Markers", after the libraries' pages: the markers of the data folder's "icl".
    void CreateUserMarkersTab();
    TPage& AddPage(const std::wstring& caption);
    void Command(int id, int code, HWND control);
    void OnInitMenuPopup(HMENU menu);
    void BrowseForFiles(bool forAddButton);
    void Layout();
    void LayoutPages();
    void PlaceFileLine();
    // lbFiles is drawn by the window: each entry is its full path (the entries are what
    // the engine and the saved list read), shown elided to the list's width. Returns the
    // text drawn.
    std::wstring DrawListItem(const DRAWITEMSTRUCT& item) const;
    // The tooltip follows the entry under the mouse.
    void TrackListTip(int x, int y);
    void PlaceListTip(const RECT& rect);
    void ResetListTip();
    // The name box shows the end of its path (the file name) while it has no focus;
    // leaving: it is losing the focus now.
    void ShowNameBoxEnd(bool leaving = false);
    void UpdateFonts();
    void OnDpiChanged(int dpi, const RECT* suggested);
    void EnforceMinimumSize(MINMAXINFO& info) const;
    int Scale(int pixels) const { return MulDiv(pixels, dpi_, 96); }
    int OuterMinWidth() const;
    int OuterMinHeight() const;
    bool OnSplitter(int y) const;
    void ReportFailure(const std::exception& e);
    // Apply of a grid's selected cell: "Default" restores, an item runs applyItem; both
    // over the window's files, then the previews show the result.
    void ApplyGrid(TMarkerGrid& grid, const std::function<void()>& applyItem);

    HWND hwnd_ = nullptr;
    TVantrel* FEngine = nullptr;
    // The progress window and the report dialog, handed to the engine while the window lives.
    std::unique_ptr<TFeedbackScope> feedback_;
    std::unique_ptr<TIconsStorage> FIconsStorage;
    bool FMultipleMode = false;
    bool FBusy = false;
    int FSavedListHeight = 0;
    bool closePending_ = false;
    bool startMaximized_ = false;
    std::string createFailure_;
    bool quitOnDestroy_ = false;

    int dpi_ = 96;
    // Heights at the current DPI: the file area (header plus the name box, or header,
    // list and buttons) and the list panel's own height, kept while single mode hides it.
    int fileAreaHeight_ = 0;
    int listHeight_ = 0;
    int listMinHeight_ = 0;
    bool dragging_ = false;
    int dragOffset_ = 0;

    HFONT font_ = nullptr;
    HFONT boldFont_ = nullptr;
    HMENU menu_ = nullptr;
    HMENU actionMenu_ = nullptr;
    HWND tooltip_ = nullptr;
    ::HICON smallIcon_ = nullptr;
    std::vector<TPage> pages_;
    std::unique_ptr<TUserMarkerPage> userMarkers_;
    int userMarkersPage_ = -1;
    // Names chosen in the name box's dialog or dropped on it.
    std::vector<std::wstring> nameBoxFiles_;
    // The entry of lbFiles under the mouse (-1: none) and its tooltip text; the name
    // box's tooltip text.
    int tipItem_ = -1;
    std::wstring listTip_;
    std::wstring nameBoxTip_;
};

// Creates the main window on the engine's file list and runs the message loop until it
// closes.
void RunMainWindow(const wchar_t* applicationTitle);

}  // namespace vantrel
