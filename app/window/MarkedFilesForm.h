// TfrmMarkedFiles: the "Marked Files" window. It lists every file of the change journal
// with its marker, its colour, its folder and whether it still carries its marking
// ("marked", "marking lost", "file missing"), in a virtual report list: a row's state
// and icon are looked at only when the row is shown, while a background thread looks at
// the others without holding up the window. Its actions run the engine's operations
// through the runner it is given (the main window's, with the progress window and the
// error report).
#pragma once

#include "imaging/IconHandle.h"  // imaging headers before windows.h and its RGB macros

#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/engine/MarkedFileList.h"

namespace vantrel {

extern const wchar_t kMarkedFilesClass[];  // "TfrmMarkedFiles"

enum MarkedFilesControl : int {
    kMfClose = IDCANCEL,
    kMfFilterLabel = 3001,
    kMfFilter,
    kMfMarkerLabel,
    kMfMarker,
    kMfColorLabel,
    kMfColor,
    kMfListLabel,
    kMfList,
    kMfShowInFolder,
    kMfReapply,
    kMfRemoveMarking,
    kMfRemoveMissing,
    kMfRefresh,
    kMfStatus,
};

enum MarkedFilesColumn : int { kColName, kColState, kColMarker, kColLibrary, kColColor, kColFolder, kColTime, kColumns };

// Runs one engine operation the way the owner's commands do.
using TOperationRunner = std::function<void(const std::function<void()>&)>;

class TfrmMarkedFiles {
public:
    explicit TfrmMarkedFiles(TOperationRunner runner = {});
    ~TfrmMarkedFiles();
    TfrmMarkedFiles(const TfrmMarkedFiles&) = delete;
    TfrmMarkedFiles& operator=(const TfrmMarkedFiles&) = delete;

    // Creates and shows the window over the owner (none: centred on the screen) and
    // loads the journal. Reports unreadable record lines once, after it is shown.
    HWND Create(HWND owner);
    // Runs the window modally until it closes.
    void RunModal();
    HWND Handle() const { return hwnd_; }
    static TfrmMarkedFiles* FromHandle(HWND window);

    // --- commands, as the window's buttons, keys and menu call them ---
    void Reload();
    void ShowInFolder();
    void ReapplySelected();
    // Asks first (unless confirmed), then removes the selected files' markings.
    void RemoveSelectedMarkings(bool confirmed = false);
    void RemoveSelectedMissing();
    void SortBy(int column);  // again on the same column: the other direction

    // --- state, for tests and the benchmark ---
    int RowCount() const { return int(view_.size()); }
    int FileCount() const { return int(rows_.size()); }
    std::wstring CellText(int row, int column);
    TMarkState RowState(int row);
    std::wstring StatusText() const;
    bool LooksDone() const { return looked_.load() >= rows_.size(); }
    // Waits, pumping messages, until the background look is done.
    void WaitForLooks();
    std::vector<int> SelectedRows() const;
    void SelectRows(const std::vector<int>& rows);
    int Dpi() const { return dpi_; }
    // Unreadable record lines were reported since Create (the text shown).
    const std::wstring& ReportedRecordProblem() const { return reportedProblem_; }

private:
    struct TRow {
        TMarkedFile File;
        std::wstring Name, Folder;
        std::atomic<int> Status{0};  // 0 not looked at, 1 being looked at, 2 done
        TFileLook Look;
        int Image = -1;  // small image list index, -1 not loaded
    };
    struct TMarking {
        bool Known = false;
        std::wstring MarkerFile;
        int MarkerIndex = 0;
        int Color = 0x1FFFFFFF;
        bool FromFileData = false;  // read from the file's own info stream, not its record
    };

    static LRESULT CALLBACK WindowProc(HWND, UINT, WPARAM, LPARAM);
    LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    void CreateControls();
    void CreateImages();
    void Layout();
    void UpdateFonts();
    void OnDpiChanged(int dpi, const RECT* suggested);
    void Command(int id, int code);
    LRESULT Notify(NMHDR* header);
    bool KeyFilter(const MSG& msg);
    void ContextMenu(int x, int y);
    void Close();

    void StartLooks();
    void StopLooks();
    void LookWorker();
    TRow& Row(int viewRow) { return *rows_[std::size_t(view_[std::size_t(viewRow)])]; }
    // The row looked at now, on this thread, unless the worker is at it.
    const TFileLook* Look(TRow& row);
    TMarking MarkingOf(TRow& row);
    // The marker's name from its library. A library that only a file's own data names is
    // opened only where the rule for such paths lets it (StreamLibraries.h); elsewhere the
    // marker is named by its number.
    std::wstring MarkerName(const std::wstring& library, int index, bool fromFileData);
    bool LibraryRefused(const std::wstring& library, bool fromFileData);
    std::wstring MarkerLabel(const TMarking& marking);
    static std::wstring ColorText(int color);
    std::wstring Text(TRow& row, int column);
    int ImageOf(TRow& row);
    void ApplyView();  // filter and sort into view_, keeping the selection
    void FillCombos();
    void UpdateStatus();
    void UpdateButtons();
    std::vector<TRow*> Selection();
    void RunEngine(const std::function<void()>& work);

    TOperationRunner runner_;
    HWND hwnd_ = nullptr;
    HWND owner_ = nullptr;
    HWND list_ = nullptr;
    HWND tooltip_ = nullptr;
    HFONT font_ = nullptr;
    HIMAGELIST images_ = nullptr;  // small icons: 0 blank, 1 lost, 2 missing, then the files' own
    int dpi_ = 96;
    bool done_ = false;
    bool running_ = false;

    std::wstring recordsFile_;
    std::wstring reportedProblem_;
    std::vector<TUnreadableLine> pendingReport_;
    std::wstring recordsFailure_;

    std::vector<std::unique_ptr<TRow>> rows_;
    std::vector<int> view_;
    int sortColumn_ = -1;
    bool sortDescending_ = false;
    struct TLibraryNames {
        bool Refused = false;
        std::vector<std::wstring> Names;
    };
    // (library path, named by a file's own data) -> its marker names
    std::map<std::pair<std::wstring, bool>, TLibraryNames> markerNames_;
    const TLibraryNames& NamesOf(const std::wstring& library, bool fromFileData);

    std::thread worker_;
    std::atomic<bool> stop_{false};
    std::atomic<std::size_t> looked_{0};
    bool viewNeedsLooks_ = false;  // the view's filter or order used rows not yet looked at
};

// Opens the window over the owner and runs it until it closes.
void ShowMarkedFiles(HWND owner, TOperationRunner runner);

}  // namespace vantrel
