#include "app/window/MainForm.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>

#include <algorithm>

#include "app/common/FileHelpers.h"
#include "app/common/IniFile.h"
#include "app/common/TextConv.h"
#include "app/common/TextFormat.h"
#include "app/engine/ChangeJournal.h"
#include "app/engine/MarkerStreams.h"
#include "app/engine/StreamLibraries.h"
#include "app/engine/VantrelClass.h"
#include "app/registration/RegisterIconHandlerUnit.h"
#include "app/window/DialogSupport.h"
#include "app/window/UserMarkerPage.h"
#include "app/window/Dialogs.h"
#include "app/window/MarkedFilesForm.h"
#include "app/window/WindowDpi.h"
#include "app/window/ErrorReportDialog.h"
#include "app/window/kvProgress.h"
#include "imaging/Colorize.h"
#include "imaging/Error.h"

namespace vantrel {

const wchar_t kMainFormClass[] = L"Tfrm_Main";
const wchar_t kTabSheetClass[] = L"TTabSheet";

const TSwatch kSwatches[7] = {
    {L"Red", 254, 69, 54},     {L"Orange", 255, 153, 51}, {L"Yellow", 254, 211, 44}, {L"Green", 20, 250, 44},
    {L"Blue", 91, 145, 255},   {L"Purple", 181, 106, 255}, {L"Gray", 178, 178, 178},
};

namespace {

const wchar_t kTitle[] = L"Vantrel";
const wchar_t kPositionSection[] = L"Position";

// Sizes at 96 DPI.
constexpr int kDesignWidth = 267;
constexpr int kDesignHeight = 451;
constexpr int kHeaderHeight = 22;
constexpr int kOneFileHeight = 27;
constexpr int kListDesignHeight = 86;
constexpr int kListMinHeight = 67;
constexpr int kListButtonsHeight = 34;
constexpr int kSplitterHeight = 3;
constexpr int kIconsMinHeight = 180;
constexpr int kBottomHeight = 41;
constexpr int kMargin = 8;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 25;
constexpr int kBrowseWidth = 23;
constexpr int kEditHeight = 21;
constexpr int kListItemHeight = 13;
constexpr int kListTextPadding = 2;  // left and right of an entry's text

HWND AddChild(HWND parent, const wchar_t* cls, const wchar_t* text, DWORD style, int id, DWORD exStyle = 0) {
    return CreateWindowExW(exStyle, cls, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
}

std::wstring WindowText(HWND window) {
    const int length = GetWindowTextLengthW(window);
    std::wstring text(std::size_t(std::max(length, 0)) + 1, L'\0');
    const int got = GetWindowTextW(window, text.data(), int(text.size()));
    text.resize(std::size_t(std::max(got, 0)));
    return text;
}

std::wstring ListItemText(HWND list, int index) {
    const LRESULT length = SendMessageW(list, LB_GETTEXTLEN, WPARAM(index), 0);
    if (length == LB_ERR) return {};
    std::wstring text(std::size_t(length) + 1, L'\0');
    const LRESULT got = SendMessageW(list, LB_GETTEXT, WPARAM(index), reinterpret_cast<LPARAM>(text.data()));
    text.resize(got == LB_ERR ? 0 : std::size_t(got));
    return text;
}

int ListCount(HWND list) { return int(SendMessageW(list, LB_GETCOUNT, 0, 0)); }

std::vector<int> ListSelection(HWND list) {
    const LRESULT count = SendMessageW(list, LB_GETSELCOUNT, 0, 0);
    if (count == LB_ERR || count <= 0) return {};
    std::vector<int> items(static_cast<std::size_t>(count));
    const LRESULT got = SendMessageW(list, LB_GETSELITEMS, WPARAM(count), reinterpret_cast<LPARAM>(items.data()));
    items.resize(got == LB_ERR ? 0 : std::size_t(got));
    std::sort(items.begin(), items.end());
    return items;
}

// The files an open-file dialog returned in its multi-select form: the folder, then the
// names, each ended by a NUL; a single choice is the full path alone.
std::vector<std::wstring> SplitDialogFiles(const wchar_t* buffer) {
    std::vector<std::wstring> parts;
    for (const wchar_t* p = buffer; *p; p += wcslen(p) + 1) parts.emplace_back(p);
    if (parts.size() <= 1) return parts;
    const std::wstring folder = IncludeTrailingBackslash(parts[0]);
    std::vector<std::wstring> files;
    for (std::size_t i = 1; i < parts.size(); ++i) files.push_back(folder + parts[i]);
    return files;
}

// The names of a drop, each read whole (no fixed buffer).
std::vector<std::wstring> DroppedFiles(HDROP drop) {
    std::vector<std::wstring> files;
    const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
        const UINT length = DragQueryFileW(drop, i, nullptr, 0);
        std::wstring name(std::size_t(length) + 1, L'\0');
        const UINT got = DragQueryFileW(drop, i, name.data(), length + 1);
        name.resize(got);
        files.push_back(name);
    }
    return files;
}

HFONT MakeFont(int points, bool bold, int dpi) {
    // The system's dialog face at the window's size: it stays sharp at every DPI, where a
    // bitmap face would be scaled.
    return CreateFontW(-MulDiv(points, dpi, 72), 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                       DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                       DEFAULT_PITCH | FF_SWISS, L"MS Shell Dlg 2");
}

int TextWidth(HWND window, HFONT font, const std::wstring& text) {
    HDC dc = GetDC(window);
    HGDIOBJ old = SelectObject(dc, font);
    SIZE size{};
    GetTextExtentPoint32W(dc, text.c_str(), int(text.size()), &size);
    SelectObject(dc, old);
    ReleaseDC(window, dc);
    return size.cx;
}

RECT WorkAreaOf(HWND window) {
    RECT work{};
    HMONITOR monitor = MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY);
    MONITORINFO info{};
    info.cbSize = sizeof(info);
    if (monitor && GetMonitorInfoW(monitor, &info))
        work = info.rcWork;
    else
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    return work;
}

}  // namespace

Tfrm_Main::Tfrm_Main() = default;

Tfrm_Main::~Tfrm_Main() {
    if (hwnd_ && IsWindow(hwnd_)) DestroyWindow(hwnd_);
    if (font_) DeleteObject(font_);
    if (boldFont_) DeleteObject(boldFont_);
    if (smallIcon_) DestroyIcon(smallIcon_);
}

Tfrm_Main* Tfrm_Main::FromHandle(HWND window) {
    wchar_t cls[32] = {};
    if (!window || !GetClassNameW(window, cls, 32) || wcscmp(cls, kMainFormClass) != 0) return nullptr;
    return reinterpret_cast<Tfrm_Main*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

HWND Tfrm_Main::Create() {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    RegisterWindowClass({kMainFormClass, WindowProc, COLOR_BTNFACE, 0, 0, IDC_ARROW, true});
    RegisterWindowClass({kTabSheetClass, SheetProc, COLOR_WINDOW});
    dpi_ = SystemDpi();
    CreateWindowExW(WS_EX_CONTROLPARENT | WS_EX_ACCEPTFILES, kMainFormClass, kTitle,
                    WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, CW_USEDEFAULT, CW_USEDEFAULT, Scale(kDesignWidth),
                    Scale(kDesignHeight), nullptr, nullptr, instance, this);
    if (!hwnd_) {
        if (!createFailure_.empty()) throw Error(createFailure_);
        throw Error("The main window could not be created: " + WideToUtf8(SystemErrorMessage(GetLastError())));
    }
    return hwnd_;
}

void Tfrm_Main::Show() {
    ShowWindow(hwnd_, startMaximized_ ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL);
    UpdateWindow(hwnd_);
    // The focus starts in the file area, the top of the tab order.
    SetFocus(GetDlgItem(hwnd_, FMultipleMode ? kLbFiles : kEdFileName));
}

// --- creation ------------------------------------------------------------------------

void Tfrm_Main::FormCreate() {
    SetWindowTextW(hwnd_, kTitle);
    FIconsStorage = std::make_unique<TIconsStorage>();
    FEngine = &TVantrel::Core();
    feedback_ = std::make_unique<TFeedbackScope>(*FEngine, &ProgressWindow(), &ReportDialogView());
    const int windowDpi = WindowDpi(hwnd_);
    if (windowDpi != dpi_) {
        dpi_ = windowDpi;
        SetWindowPos(hwnd_, nullptr, 0, 0, Scale(kDesignWidth), Scale(kDesignHeight), SWP_NOMOVE | SWP_NOZORDER);
    }
    listHeight_ = Scale(kListDesignHeight);
    listMinHeight_ = Scale(kListMinHeight);
    fileAreaHeight_ = Scale(kHeaderHeight) + listHeight_ + Scale(kListButtonsHeight);
    UpdateFonts();
    CreateMenus();
    CreateControls();
    LoadViewSettings();

    HWND list = GetDlgItem(hwnd_, kLbFiles);
    for (const std::wstring& file : FEngine->FileList)
        SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(file.c_str()));
    DragAcceptFiles(hwnd_, TRUE);

    // The marker libraries: the "icl" folder beside the program file.
    const std::wstring program = ProgramFilePath();
    const std::size_t cut = program.find_last_of(L"\\:");
    const std::wstring programFolder = cut == std::wstring::npos ? std::wstring() : program.substr(0, cut + 1);
    FIconsStorage->SetProgramIconFolder(std::filesystem::path(programFolder + L"icl\\"));
    CreateColorsTab();
    CreateMarkerTabs();
    CreateUserMarkersTab();
    TabCtrl_SetCurSel(GetDlgItem(hwnd_, kPcMarks), 0);
    SetMultipleMode(ListCount(list) > 1);
    FBusy = false;
    // The update and offers checks have no web service to ask in this version: nothing
    // is scheduled.
    Layout();
}

void Tfrm_Main::UpdateFonts() {
    if (font_) DeleteObject(font_);
    if (boldFont_) DeleteObject(boldFont_);
    font_ = MakeFont(8, false, dpi_);
    boldFont_ = MakeFont(9, true, dpi_);
    if (!hwnd_) return;
    for (HWND child = GetWindow(hwnd_, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        const int id = GetDlgCtrlID(child);
        const bool bold = id == kLblFile || id == kLblIcon;
        SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(bold ? boldFont_ : font_), TRUE);
    }
}

void Tfrm_Main::CreateMenus() {
    menu_ = CreateMenu();
    actionMenu_ = CreatePopupMenu();
    AppendMenuW(actionMenu_, MF_STRING, kApplyIconChange1, L"Apply Icon Change");
    AppendMenuW(actionMenu_, MF_STRING, kMiResetDefaultIcon, L"Restore Default icon for Chosen File(s)");
    AppendMenuW(actionMenu_, MF_STRING, kMiAddMarker, L"Add Marker...");
    AppendMenuW(actionMenu_, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(actionMenu_, MF_STRING, kMiRefreshExplorer, L"Refresh System Icons");
    AppendMenuW(actionMenu_, MF_STRING, kMiMarkedFiles, L"Marked Files...");
    AppendMenuW(actionMenu_, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(actionMenu_, MF_STRING, kMiRollbackAllChanges, L"Rollback All Changes");
    AppendMenuW(actionMenu_, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(actionMenu_, MF_STRING, kMiExit, L"Exit");
    HMENU mode = CreatePopupMenu();
    AppendMenuW(mode, MF_STRING, kMiSingleFile, L"Single File Customization");
    AppendMenuW(mode, MF_STRING, kMiMultipleFiles, L"Multiple Files Customization");
    CheckMenuRadioItem(mode, kMiSingleFile, kMiMultipleFiles, kMiSingleFile, MF_BYCOMMAND);
    HMENU help = CreatePopupMenu();
    AppendMenuW(help, MF_STRING, kMiCheckForUpdates, L"Check for Updates Now");
    AppendMenuW(help, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(help, MF_STRING, kMiAbout, L"About...");
    AppendMenuW(menu_, MF_POPUP, reinterpret_cast<UINT_PTR>(actionMenu_), L"Action");
    AppendMenuW(menu_, MF_POPUP, reinterpret_cast<UINT_PTR>(mode), L"Mode");
    AppendMenuW(menu_, MF_POPUP, reinterpret_cast<UINT_PTR>(help), L"Help");
    SetMenu(hwnd_, menu_);
}

void Tfrm_Main::CreateControls() {
    // Creation order is the tab order: the file area, the page control, the buttons.
    HINSTANCE instance = GetModuleHandleW(nullptr);
    smallIcon_ = static_cast<::HICON>(LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON, Scale(16), Scale(16), 0));
    ::HICON decoration = smallIcon_ ? smallIcon_ : LoadIconW(nullptr, IDI_APPLICATION);
    HWND img1 = AddChild(hwnd_, L"STATIC", nullptr, SS_ICON | SS_REALSIZECONTROL, kImg1);
    SendMessageW(img1, STM_SETICON, reinterpret_cast<WPARAM>(decoration), 0);
    AddChild(hwnd_, L"STATIC", L"File:", SS_LEFT | SS_NOPREFIX, kLblFile);
    AddChild(hwnd_, L"STATIC", nullptr, SS_ETCHEDHORZ, kBvlFiles);
    HWND edit = AddChild(hwnd_, L"EDIT", L"", ES_AUTOHSCROLL | WS_TABSTOP, kEdFileName, WS_EX_CLIENTEDGE | WS_EX_ACCEPTFILES);
    SetWindowSubclass(edit, ChildSubclassProc, kEdFileName, reinterpret_cast<DWORD_PTR>(this));
    AddChild(hwnd_, L"BUTTON", L"...", BS_PUSHBUTTON | WS_TABSTOP, kBtBrowse);
    // Drawn by the window so that a long path gives way in its middle, not at its end; the
    // entries keep their strings, the full paths, which the accessibility proxy names
    // them by.
    HWND list = AddChild(hwnd_, L"LISTBOX", nullptr,
                         LBS_EXTENDEDSEL | LBS_NOTIFY | LBS_HASSTRINGS | LBS_OWNERDRAWFIXED | LBS_NOINTEGRALHEIGHT |
                             WS_VSCROLL | WS_TABSTOP,
                         kLbFiles, WS_EX_CLIENTEDGE);
    SetWindowSubclass(list, ChildSubclassProc, kLbFiles, reinterpret_cast<DWORD_PTR>(this));
    AddChild(hwnd_, L"BUTTON", L"&Add", BS_PUSHBUTTON | WS_TABSTOP, kBtAddFile);
    AddChild(hwnd_, L"BUTTON", L"&Remove", BS_PUSHBUTTON | WS_TABSTOP, kBtRemoveFile);
    AddChild(hwnd_, L"BUTTON", L"Clear", BS_PUSHBUTTON | WS_TABSTOP, kBtClearlist);
    HWND img2 = AddChild(hwnd_, L"STATIC", nullptr, SS_ICON | SS_REALSIZECONTROL, kImg2);
    SendMessageW(img2, STM_SETICON, reinterpret_cast<WPARAM>(decoration), 0);
    AddChild(hwnd_, L"STATIC", L"File Icon:", SS_LEFT | SS_NOPREFIX, kLblIcon);
    AddChild(hwnd_, L"STATIC", nullptr, SS_ETCHEDHORZ, kBvlIcons);
    AddChild(hwnd_, WC_TABCONTROLW, nullptr, WS_TABSTOP | WS_CLIPCHILDREN | WS_CLIPSIBLINGS, kPcMarks,
             WS_EX_CONTROLPARENT);
    AddChild(hwnd_, L"STATIC", nullptr, SS_ETCHEDHORZ, kBvlBottom);
    AddChild(hwnd_, L"BUTTON", L"Apply", BS_DEFPUSHBUTTON | WS_TABSTOP, kBtApply);
    AddChild(hwnd_, L"BUTTON", L"Cancel", BS_PUSHBUTTON | WS_TABSTOP, kBtCancel);
    UpdateFonts();
    SendMessageW(list, LB_SETITEMHEIGHT, 0, Scale(kListItemHeight));

    // Hover hints for the buttons whose captions do not say it all.
    tooltip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_, nullptr, instance,
                               nullptr);
    const std::pair<int, const wchar_t*> hints[] = {
        {kBtBrowse, L"Choose files"},
        {kBtAddFile, L"Add files to the list"},
        {kBtRemoveFile, L"Remove the selected files from the list (Delete)"},
        {kBtClearlist, L"Remove every file from the list"},
        {kBtApply, L"Apply the selected icon change (Enter)"},
    };
    for (const auto& [id, text] : hints) {
        TTTOOLINFOW tool{};
        tool.cbSize = sizeof(tool);
        tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        tool.hwnd = hwnd_;
        tool.uId = reinterpret_cast<UINT_PTR>(GetDlgItem(hwnd_, id));
        tool.lpszText = const_cast<wchar_t*>(text);
        SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    }
    // The full path of the hovered entry, and of the name box (asked for when it shows).
    TTTOOLINFOW entryTool{};
    entryTool.cbSize = TTTOOLINFOW_V2_SIZE;
    entryTool.uFlags = TTF_SUBCLASS;
    entryTool.hwnd = list;
    entryTool.uId = kLbFilesTip;
    entryTool.lpszText = const_cast<wchar_t*>(L"");
    SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&entryTool));
    TTTOOLINFOW nameTool{};
    nameTool.cbSize = TTTOOLINFOW_V2_SIZE;
    nameTool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    nameTool.hwnd = hwnd_;
    nameTool.uId = reinterpret_cast<UINT_PTR>(edit);
    nameTool.lpszText = LPSTR_TEXTCALLBACKW;
    SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&nameTool));
}

Tfrm_Main::TPage& Tfrm_Main::AddPage(const std::wstring& caption) {
    HWND tabs = GetDlgItem(hwnd_, kPcMarks);
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = const_cast<wchar_t*>(caption.c_str());
    TabCtrl_InsertItem(tabs, int(pages_.size()), &item);
    TPage page;
    page.Caption = caption;
    page.Sheet = CreateWindowExW(WS_EX_CONTROLPARENT, kTabSheetClass, caption.c_str(), WS_CHILD | WS_CLIPCHILDREN, 0, 0,
                                 0, 0, tabs, nullptr, GetModuleHandleW(nullptr), this);
    pages_.push_back(std::move(page));
    return pages_.back();
}

void Tfrm_Main::CreateColorsTab() {
    TPage& page = AddPage(L"Colors");
    auto grid = std::make_unique<TColorGrid>();
    for (const TSwatch& swatch : kSwatches) grid->AddColor(swatch.R, swatch.G, swatch.B, swatch.Name);
    grid->CreateWindowIn(page.Sheet, kFirstGrid + int(pages_.size()) - 1);
    grid->OnChoose = [this](TMarkerGrid& chosen) { ApplyColorGrid(static_cast<TColorGrid&>(chosen)); };
    page.Grid = std::move(grid);
}

void Tfrm_Main::CreateMarkerTabs() {
    FIconsStorage->Refresh();
    const auto& paths = FIconsStorage->Paths();
    const auto& titles = FIconsStorage->Titles();
    for (std::size_t i = 0; i < paths.size() && i < titles.size(); ++i)
        AddMarkerTab(paths[i].wstring(), Utf8ToWide(titles[i]));
}

void Tfrm_Main::AddMarkerTab(const std::wstring& libraryFile, const std::wstring& caption) {
    TPage& page = AddPage(caption);
    auto grid = std::make_unique<TOverlayGrid>(libraryFile);
    grid->CreateWindowIn(page.Sheet, kFirstGrid + int(pages_.size()) - 1);
    grid->OnChoose = [this](TMarkerGrid& chosen) { ApplyOverlayGrid(static_cast<TOverlayGrid&>(chosen)); };
    page.Grid = std::move(grid);
}

void Tfrm_Main::CreateUserMarkersTab() {
    FIconsStorage->SetUserIconFolder(std::filesystem::path(FEngine->DataFolder + L"icl\\"));
    TPage& page = AddPage(L"My Markers");
    userMarkersPage_ = int(pages_.size()) - 1;
    userMarkers_ = std::make_unique<TUserMarkerPage>(FIconsStorage->UserIconFolder().wstring());
    auto grid = userMarkers_->Create(page.Sheet, kFirstGrid + userMarkersPage_);
    grid->OnChoose = [this](TMarkerGrid& chosen) { ApplyOverlayGrid(static_cast<TOverlayGrid&>(chosen)); };
    userMarkers_->OnChanged = [this] { RefreshPreview(); };
    page.Grid = std::move(grid);
}

// --- settings ------------------------------------------------------------------------

std::wstring Tfrm_Main::SettingsFile() const { return FEngine->DataFolder + L"ViewSettings.ini"; }

void Tfrm_Main::LoadViewSettings() {
    TIniFile ini(SettingsFile());
    RECT rc{};
    GetWindowRect(hwnd_, &rc);
    int width = ini.ReadInteger(kPositionSection, L"Width", rc.right - rc.left);
    int height = ini.ReadInteger(kPositionSection, L"Height", rc.bottom - rc.top);
    width = std::max(width, OuterMinWidth());
    height = std::max(height, OuterMinHeight());
    int top = ini.ReadInteger(kPositionSection, L"Top", 0);
    int left = ini.ReadInteger(kPositionSection, L"Left", 0);
    const RECT work = WorkAreaOf(hwnd_);
    if (top == 0) top = work.top + ((work.bottom - work.top) - height) / 2;
    if (left == 0) left = work.left + ((work.right - work.left) - width) / 2;
    // A place on a monitor that is gone would open the window out of sight: centre it.
    const RECT wanted{left, top, left + width, top + height};
    if (!MonitorFromRect(&wanted, MONITOR_DEFAULTTONULL)) {
        left = work.left + ((work.right - work.left) - width) / 2;
        top = work.top + ((work.bottom - work.top) - height) / 2;
    }
    FSavedListHeight = ini.ReadInteger(kPositionSection, L"FilesListHeight", listHeight_);
    SetWindowPos(hwnd_, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    startMaximized_ = ini.ReadInteger(kPositionSection, L"Maximized", 0) != 0;
}

void Tfrm_Main::SaveViewSettings() {
    TIniFile ini(SettingsFile());
    WINDOWPLACEMENT placement{};
    placement.length = sizeof(placement);
    GetWindowPlacement(hwnd_, &placement);
    const bool maximized =
        IsZoomed(hwnd_) || (IsIconic(hwnd_) && (placement.flags & WPF_RESTORETOMAXIMIZED) != 0);
    if (maximized) {
        ini.WriteInteger(kPositionSection, L"Maximized", 1);
    } else {
        RECT rc{};
        if (IsIconic(hwnd_)) {
            // Minimized: the normal place, from work-area to screen coordinates.
            const RECT work = WorkAreaOf(hwnd_);
            MONITORINFO info{};
    info.cbSize = sizeof(info);
            GetMonitorInfoW(MonitorFromWindow(hwnd_, MONITOR_DEFAULTTOPRIMARY), &info);
            rc = placement.rcNormalPosition;
            OffsetRect(&rc, work.left - info.rcMonitor.left, work.top - info.rcMonitor.top);
        } else {
            GetWindowRect(hwnd_, &rc);
        }
        ini.WriteInteger(kPositionSection, L"Maximized", 0);
        ini.WriteInteger(kPositionSection, L"Width", rc.right - rc.left);
        ini.WriteInteger(kPositionSection, L"Height", rc.bottom - rc.top);
        ini.WriteInteger(kPositionSection, L"Top", rc.top);
        ini.WriteInteger(kPositionSection, L"Left", rc.left);
    }
    ini.WriteInteger(kPositionSection, L"FilesListHeight", listHeight_);
}

// --- modes and the file list -------------------------------------------------------

void Tfrm_Main::SetMultipleMode(bool multiple) {
    FMultipleMode = multiple;
    HWND list = GetDlgItem(hwnd_, kLbFiles);
    HWND edit = GetDlgItem(hwnd_, kEdFileName);
    CheckMenuRadioItem(GetSubMenu(menu_, 1), kMiSingleFile, kMiMultipleFiles, multiple ? kMiMultipleFiles : kMiSingleFile,
                       MF_BYCOMMAND);
    if (multiple) {
        listMinHeight_ = Scale(kListMinHeight);
        const int height = FSavedListHeight > 0 ? FSavedListHeight : listHeight_;
        listHeight_ = std::max(height, listMinHeight_);
        fileAreaHeight_ = listHeight_ + Scale(kHeaderHeight) + Scale(kListButtonsHeight);
        FSavedListHeight = 0;
        if (ListCount(list) > 0) ShowFileState(ListItemText(list, 0));
        SetDlgItemTextW(hwnd_, kLblFile, L"Files:");
    } else {
        const std::wstring name = ListCount(list) > 0 ? ListItemText(list, 0) : std::wstring();
        SetWindowTextW(edit, name.c_str());
        ShowNameBoxEnd();
        SendMessageW(list, LB_RESETCONTENT, 0, 0);
        SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
        ShowFileState(name);
        SetDlgItemTextW(hwnd_, kLblFile, L"File:");
        listMinHeight_ = 0;
        fileAreaHeight_ = Scale(kHeaderHeight) + Scale(kOneFileHeight);
    }
    const int showOne = multiple ? SW_HIDE : SW_SHOW;
    const int showList = multiple ? SW_SHOW : SW_HIDE;
    ShowWindow(edit, showOne);
    ShowWindow(GetDlgItem(hwnd_, kBtBrowse), showOne);
    for (int id : {int(kLbFiles), int(kBtAddFile), int(kBtRemoveFile), int(kBtClearlist)})
        ShowWindow(GetDlgItem(hwnd_, id), showList);
    UpdateListButtons();
    // The window must stay tall enough for the icon area under the new file area.
    RECT rc{};
    GetWindowRect(hwnd_, &rc);
    if (!IsZoomed(hwnd_) && rc.bottom - rc.top < OuterMinHeight())
        SetWindowPos(hwnd_, nullptr, 0, 0, rc.right - rc.left, OuterMinHeight(), SWP_NOMOVE | SWP_NOZORDER);
    Layout();
}

void Tfrm_Main::AddFile(const std::wstring& path) {
    HWND list = GetDlgItem(hwnd_, kLbFiles);
    if (ListCount(list) > 0 && TrimBlanks(ListItemText(list, 0)).empty()) SendMessageW(list, LB_DELETESTRING, 0, 0);
    if (!FileExists(path)) {
        UpdateListButtons();
        return;
    }
    const int count = ListCount(list);
    for (int i = 0; i < count; ++i)
        if (SameFileName(ListItemText(list, i), path)) return;
    std::wstring entry = path;
    if (SameTextAscii(ExtractFileExt(path), L".lnk")) {
        entry = ResolveShortcut(path);
        if (!FileExists(entry)) entry.clear();
    }
    if (!entry.empty()) SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
    UpdateListButtons();
}

void Tfrm_Main::RemoveSelectedFiles() {
    HWND list = GetDlgItem(hwnd_, kLbFiles);
    const std::vector<int> selected = ListSelection(list);
    for (auto it = selected.rbegin(); it != selected.rend(); ++it) SendMessageW(list, LB_DELETESTRING, WPARAM(*it), 0);
    const int count = ListCount(list);
    if (!selected.empty() && count > 0) {
        const int index = std::min(selected.front(), count - 1);
        SendMessageW(list, LB_SETSEL, TRUE, index);
        SendMessageW(list, LB_SETCARETINDEX, WPARAM(index), FALSE);
    }
    RefreshPreview();
    UpdateListButtons();
}

void Tfrm_Main::UpdateListButtons() {
    HWND list = GetDlgItem(hwnd_, kLbFiles);
    EnableWindow(GetDlgItem(hwnd_, kBtRemoveFile), !ListSelection(list).empty());
    EnableWindow(GetDlgItem(hwnd_, kBtClearlist), ListCount(list) > 0);
}

std::vector<std::wstring> Tfrm_Main::ListEntries() const {
    HWND list = GetDlgItem(hwnd_, kLbFiles);
    std::vector<std::wstring> entries;
    const int count = ListCount(list);
    for (int i = 0; i < count; ++i) entries.push_back(ListItemText(list, i));
    return entries;
}

std::wstring Tfrm_Main::FileNameText() const { return WindowText(GetDlgItem(hwnd_, kEdFileName)); }

std::wstring Tfrm_Main::ListItemShownText(int index) const {
    HWND list = GetDlgItem(hwnd_, kLbFiles);
    DRAWITEMSTRUCT item{};
    if (index < 0 || SendMessageW(list, LB_GETITEMRECT, WPARAM(index), reinterpret_cast<LPARAM>(&item.rcItem)) == LB_ERR)
        return {};
    // The entry drawn as the list draws it, into a bitmap of its own.
    HDC screen = GetDC(list);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, std::max(1, int(item.rcItem.right - item.rcItem.left)),
                                            std::max(1, int(item.rcItem.bottom - item.rcItem.top)));
    ReleaseDC(list, screen);
    HGDIOBJ old = SelectObject(dc, bitmap);
    OffsetRect(&item.rcItem, -item.rcItem.left, -item.rcItem.top);
    item.CtlType = ODT_LISTBOX;
    item.CtlID = kLbFiles;
    item.itemID = UINT(index);
    item.itemAction = ODA_DRAWENTIRE;
    item.hwndItem = list;
    item.hDC = dc;
    const std::wstring shown = DrawListItem(item);
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    return shown;
}

std::wstring Tfrm_Main::DrawListItem(const DRAWITEMSTRUCT& item) const {
    if (item.itemID == UINT(-1)) {
        // An empty list shows the focus by its rectangle alone, which the list toggles.
        if (item.itemAction & ODA_FOCUS) DrawFocusRect(item.hDC, &item.rcItem);
        return {};
    }
    const RECT& rc = item.rcItem;
    const int w = rc.right - rc.left, h = rc.bottom - rc.top;
    if (w <= 0 || h <= 0) return {};
    const std::wstring path = ListItemText(item.hwndItem, int(item.itemID));
    // Drawn off screen and put there in one step, so an entry never flickers; straight on
    // the screen when there is no memory for that.
    HDC memory = CreateCompatibleDC(item.hDC);
    HBITMAP bitmap = memory ? CreateCompatibleBitmap(item.hDC, w, h) : nullptr;
    HDC dc = bitmap ? memory : item.hDC;
    HGDIOBJ oldBitmap = bitmap ? SelectObject(memory, bitmap) : nullptr;
    const RECT area = bitmap ? RECT{0, 0, w, h} : rc;
    // The system's colours, so a high-contrast scheme shows as the user set it.
    const bool selected = (item.itemState & ODS_SELECTED) != 0;
    FillRect(dc, &area, GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor((item.itemState & ODS_DISABLED) ? COLOR_GRAYTEXT
                                 : selected                       ? COLOR_HIGHLIGHTTEXT
                                                                  : COLOR_WINDOWTEXT));
    HGDIOBJ oldFont = SelectObject(dc, font_);
    RECT text = area;
    InflateRect(&text, -Scale(kListTextPadding), 0);
    const std::wstring shown = DrawPathText(dc, path, text);
    SelectObject(dc, oldFont);
    if ((item.itemState & ODS_FOCUS) && !(item.itemState & ODS_NOFOCUSRECT)) DrawFocusRect(dc, &area);
    if (bitmap) {
        BitBlt(item.hDC, rc.left, rc.top, w, h, memory, 0, 0, SRCCOPY);
        SelectObject(memory, oldBitmap);
        DeleteObject(bitmap);
    }
    if (memory) DeleteDC(memory);
    return shown;
}

void Tfrm_Main::TrackListTip(int x, int y) {
    if (!tooltip_) return;
    HWND list = GetDlgItem(hwnd_, kLbFiles);
    // The nearest entry, and only when the point is on it (below the last one is none).
    const LRESULT hit = SendMessageW(list, LB_ITEMFROMPOINT, 0, MAKELPARAM(x, y));
    int index = hit == LB_ERR || HIWORD(hit) ? -1 : int(LOWORD(hit));
    RECT rect{};
    const POINT at{x, y};
    if (index >= 0 && (SendMessageW(list, LB_GETITEMRECT, WPARAM(index), reinterpret_cast<LPARAM>(&rect)) == LB_ERR ||
                       !PtInRect(&rect, at)))
        index = -1;
    if (index < 0) rect = RECT{};
    const std::wstring text = index >= 0 ? ListItemText(list, index) : std::wstring();
    if (index == tipItem_ && text == listTip_) return;
    tipItem_ = index;
    listTip_ = text;
    // The hint now shown belongs to the entry left behind; the new one shows at the next
    // hover pause (an empty text shows none).
    SendMessageW(tooltip_, TTM_POP, 0, 0);
    PlaceListTip(rect);
}

void Tfrm_Main::PlaceListTip(const RECT& rect) {
    TTTOOLINFOW tool{};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.hwnd = GetDlgItem(hwnd_, kLbFiles);
    tool.uId = kLbFilesTip;
    tool.rect = rect;
    SendMessageW(tooltip_, TTM_NEWTOOLRECTW, 0, reinterpret_cast<LPARAM>(&tool));
    tool.lpszText = listTip_.data();
    SendMessageW(tooltip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
}

void Tfrm_Main::ResetListTip() {
    // The entries moved under the mouse (scrolled, added, removed, resized): no hint until
    // the next move finds its entry.
    tipItem_ = -1;
    listTip_.clear();
    if (!tooltip_) return;
    SendMessageW(tooltip_, TTM_POP, 0, 0);
    PlaceListTip(RECT{});
}

void Tfrm_Main::ShowNameBoxEnd(bool leaving) {
    HWND edit = GetDlgItem(hwnd_, kEdFileName);
    if (!edit || (!leaving && GetFocus() == edit)) return;
    const int length = GetWindowTextLengthW(edit);
    // To the start, then to the end: a path that fits shows whole, a longer one its file name.
    SendMessageW(edit, EM_SETSEL, 0, 0);
    SendMessageW(edit, EM_SCROLLCARET, 0, 0);
    SendMessageW(edit, EM_SETSEL, WPARAM(length), LPARAM(length));
    SendMessageW(edit, EM_SCROLLCARET, 0, 0);
}

void Tfrm_Main::DropFiles(HDROP drop, bool onNameBox) {
    const std::vector<std::wstring> files = DroppedFiles(drop);
    DragFinish(drop);
    if (onNameBox && !files.empty()) {
        SetWindowTextW(GetDlgItem(hwnd_, kEdFileName), files.front().c_str());
        ShowNameBoxEnd();
        nameBoxFiles_ = files;
    }
    for (const std::wstring& file : files) AddFile(file);
    SetMultipleMode(ListCount(GetDlgItem(hwnd_, kLbFiles)) > 1);
    if (onNameBox) RefreshPreview();
}

void Tfrm_Main::AfterFileDialog(const std::vector<std::wstring>& files, bool accepted) {
    if (accepted && files.size() == 1) {
        SetWindowTextW(GetDlgItem(hwnd_, kEdFileName), files.front().c_str());
        ShowNameBoxEnd();
    } else if (accepted && !files.empty()) {
        SendMessageW(GetDlgItem(hwnd_, kLbFiles), LB_RESETCONTENT, 0, 0);
        for (const std::wstring& file : files) AddFile(file);
        SetMultipleMode(true);
    }
    RefreshPreview();
}

void Tfrm_Main::BrowseForFiles(bool forAddButton) {
    // Large enough for a long multi-selection; the dialog says when it is not.
    std::vector<wchar_t> buffer(65536, L'\0');
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = hwnd_;
    ofn.lpstrFilter = L"All files (*.*)\0*.*\0\0";
    ofn.lpstrFile = buffer.data();
    ofn.nMaxFile = DWORD(buffer.size());
    ofn.Flags = OFN_HIDEREADONLY | OFN_ALLOWMULTISELECT | OFN_PATHMUSTEXIST | OFN_ENABLESIZING | OFN_EXPLORER;
    const bool accepted = GetOpenFileNameW(&ofn) != 0;
    if (!accepted && CommDlgExtendedError() == FNERR_BUFFERTOOSMALL)
        MessageBoxW(hwnd_, L"Too many files were chosen at once; choose fewer files.", kTitle, MB_OK | MB_ICONWARNING);
    const std::vector<std::wstring> files = accepted ? SplitDialogFiles(buffer.data()) : std::vector<std::wstring>();
    if (forAddButton) {
        for (const std::wstring& file : files) AddFile(file);
        return;
    }
    if (accepted) nameBoxFiles_ = files;
    AfterFileDialog(files, accepted);
}

// --- previews ------------------------------------------------------------------------

void Tfrm_Main::RefreshPreview() {
    if (!FMultipleMode) {
        ShowFileState(FileNameText());
        return;
    }
    HWND list = GetDlgItem(hwnd_, kLbFiles);
    const std::vector<int> selected = ListSelection(list);
    if (!selected.empty())
        ShowFileState(ListItemText(list, selected.front()));
    else if (ListCount(list) > 0)
        ShowFileState(ListItemText(list, 0));
    else
        ShowFileState(DefaultIconLocation());
}

void Tfrm_Main::ShowFileState(const std::wstring& path) {
    TIconPathRec location = GetIconLocation(path);
    location.Path = ExpandPath(location.Path);
    // The file's info stream; a missing file or stream, or a damaged one, reads as no
    // colour and no marker. Its marker library is drawn only where the rule for libraries
    // named by a file's own data lets it be opened: elsewhere the previews go without it.
    TInfoMarking marking;
    if (!path.empty() && FileExists(path)) {
        try {
            marking = ReadInfoMarking(OpenInfoStream(path).ReadText());
        } catch (const std::exception&) {
        }
    }
    const std::wstring markerFile =
        FindStreamLibrary(marking.MarkerFile, TLibraryLookup::AsWritten, [&] {
            return RecordsVouchFor(path, marking.MarkerFile);
        }).Path;
    const int active = ActivePage();
    for (int i = 0; i < PageCount(); ++i) {
        TMarkerGrid* grid = pages_[std::size_t(i)].Grid.get();
        if (!grid) continue;
        grid->SetBaseIcon(location.Path, location.Index);
        if (auto* overlay = dynamic_cast<TOverlayGrid*>(grid)) {
            overlay->SetPreviewColor(marking.Color);
        } else if (auto* colors = dynamic_cast<TColorGrid*>(grid)) {
            colors->SetMarkerFile(markerFile);
            colors->SetMarkerIndex(markerFile.empty() ? 0 : marking.MarkerIndex);
        }
        grid->ClearCellImages();
        if (i == active) InvalidateRect(grid->Handle(), nullptr, FALSE);
    }
}

// --- pages ---------------------------------------------------------------------------

int Tfrm_Main::ActivePage() const { return int(TabCtrl_GetCurSel(GetDlgItem(hwnd_, kPcMarks))); }

void Tfrm_Main::SetActivePage(int page) {
    if (page < 0 || page >= PageCount()) return;
    TabCtrl_SetCurSel(GetDlgItem(hwnd_, kPcMarks), page);
    LayoutPages();
}

std::wstring Tfrm_Main::PageCaption(int page) const {
    return page >= 0 && page < PageCount() ? pages_[std::size_t(page)].Caption : std::wstring();
}

TMarkerGrid* Tfrm_Main::GridOnPage(int page) const {
    if (page < 0) page = ActivePage();
    if (page < 0 || page >= PageCount()) return nullptr;
    return pages_[std::size_t(page)].Grid.get();
}

// --- operations ----------------------------------------------------------------------

void Tfrm_Main::FillEngineList() {
    if (FMultipleMode)
        FEngine->FileList = ListEntries();
    else
        FEngine->FileList = {FileNameText()};
}

void Tfrm_Main::RunOperation(const std::function<void()>& operation) {
    if (FBusy) return;
    FBusy = true;
    FEngine->Progress().Begin(-1);
    std::wstring failure;
    try {
        operation();
    } catch (const std::exception& e) {
        failure = Utf8ToWide(e.what());
        if (failure.empty()) failure = L"Unknown failure";
    } catch (...) {
        failure = L"Unknown failure";
    }
    FBusy = false;
    FlushMarkingRecords();  // what an operation that failed had recorded
    FEngine->Progress().Finish();
    if (!failure.empty()) ShowFailureDialog(hwnd_, kTitle, failure);
    // A close asked for while the operation ran happens now, never under it.
    if (closePending_) PostMessageW(hwnd_, WM_CLOSE, 0, 0);
}

void Tfrm_Main::ApplyActivePage() {
    TMarkerGrid* grid = GridOnPage();
    if (!grid || grid->SelectedIndex() >= grid->ItemCount()) return;
    if (auto* overlay = dynamic_cast<TOverlayGrid*>(grid))
        ApplyOverlayGrid(*overlay);
    else if (auto* colors = dynamic_cast<TColorGrid*>(grid))
        ApplyColorGrid(*colors);
}

void Tfrm_Main::ApplyGrid(TMarkerGrid& grid, const std::function<void()>& applyItem) {
    if (grid.SelectedIndex() >= grid.ItemCount()) return;
    RunOperation([&] {
        FillEngineList();
        if (grid.SelectedIndex() < 0)
            FEngine->RestoreDefault();
        else
            applyItem();
        RefreshPreview();
    });
}

void Tfrm_Main::ApplyColorGrid(TColorGrid& grid) {
    ApplyGrid(grid, [&] { FEngine->ApplyColor(grid.SelectedColor()); });
}

void Tfrm_Main::ApplyOverlayGrid(TOverlayGrid& grid) {
    ApplyGrid(grid, [&] {
        std::wstring file;
        int index = 0;
        grid.MarkerLocation(grid.SelectedIndex(), file, index);
        FEngine->ApplyOverlay(file, index);
    });
}

void Tfrm_Main::RestoreDefaultIcons() {
    RunOperation([&] {
        FillEngineList();
        FEngine->RestoreDefault();
    });
}

void Tfrm_Main::RollbackAllChanges() {
    const wchar_t* text =
        L"You are going to rollback all changes. This will return all file icons, marked by Vantrel to the default "
        L"state. This operation can't be undone.\r\n\r\nAre you sure you want to rollback all changes?";
    if (MessageBoxW(hwnd_, text, kTitle, MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2 | MB_TASKMODAL) != IDYES) return;
    RunOperation([&] { FEngine->RollbackAll(); });
}

// --- closing -------------------------------------------------------------------------

void Tfrm_Main::FormClose() {
    try {
        SaveViewSettings();
    } catch (...) {
    }
    try {
        FillEngineList();
        FEngine->SaveFileList(FEngine->SelectedFilesPath());
    } catch (...) {
    }
}

void Tfrm_Main::FormDestroy() {
    for (TPage& page : pages_) page.Grid.reset();
    userMarkers_.reset();
    FIconsStorage.reset();
}

// --- layout --------------------------------------------------------------------------

int Tfrm_Main::OuterMinWidth() const {
    RECT rc{0, 0, 0, 0};
    AdjustWindowRectForDpi(rc, WS_OVERLAPPEDWINDOW, true, 0, dpi_);
    return std::max(Scale(kDesignWidth), int(rc.right - rc.left) + 2 * Scale(kMargin) + 2 * Scale(kButtonWidth));
}

int Tfrm_Main::OuterMinHeight() const {
    RECT rc{0, 0, 0, 0};
    AdjustWindowRectForDpi(rc, WS_OVERLAPPEDWINDOW, true, 0, dpi_);
    const int splitter = FMultipleMode ? Scale(kSplitterHeight) : 0;
    return int(rc.bottom - rc.top) + fileAreaHeight_ + splitter + Scale(kIconsMinHeight) + Scale(kBottomHeight);
}

void Tfrm_Main::EnforceMinimumSize(MINMAXINFO& info) const {
    info.ptMinTrackSize.x = OuterMinWidth();
    info.ptMinTrackSize.y = OuterMinHeight();
}

bool Tfrm_Main::OnSplitter(int y) const {
    return FMultipleMode && y >= fileAreaHeight_ && y < fileAreaHeight_ + Scale(kSplitterHeight);
}

void Tfrm_Main::PlaceFileLine() {
    HWND label = GetDlgItem(hwnd_, kLblFile);
    RECT client{};
    GetClientRect(hwnd_, &client);
    const int labelLeft = Scale(kMargin) + Scale(20);
    const int labelWidth = TextWidth(hwnd_, boldFont_, WindowText(label));
    const int lineLeft = labelLeft + labelWidth + Scale(6);
    MoveWindow(label, labelLeft, Scale(4), labelWidth + Scale(2), Scale(16), TRUE);
    MoveWindow(GetDlgItem(hwnd_, kBvlFiles), lineLeft, Scale(11), std::max(0, int(client.right) - Scale(8) - lineLeft),
               2, TRUE);
}

void Tfrm_Main::Layout() {
    if (!hwnd_) return;
    RECT client{};
    GetClientRect(hwnd_, &client);
    const int w = client.right, h = client.bottom;
    const int m = Scale(kMargin);
    const int header = Scale(kHeaderHeight);
    HDWP dwp = BeginDeferWindowPos(24);
    auto place = [&](int id, int x, int y, int cx, int cy) {
        HWND child = GetDlgItem(hwnd_, id);
        if (child && dwp)
            dwp = DeferWindowPos(dwp, child, nullptr, x, y, std::max(cx, 0), std::max(cy, 0), SWP_NOZORDER | SWP_NOACTIVATE);
    };
    // File area.
    place(kImg1, m, Scale(3), Scale(16), Scale(16));
    place(kEdFileName, m, header + Scale(3), w - 2 * m - Scale(kBrowseWidth) - Scale(2), Scale(kEditHeight));
    place(kBtBrowse, w - m - Scale(kBrowseWidth), header + Scale(3), Scale(kBrowseWidth), Scale(kEditHeight));
    if (FMultipleMode) {
        listHeight_ = std::max(fileAreaHeight_ - header - Scale(kListButtonsHeight), 0);
        place(kLbFiles, m, header, w - 2 * m, listHeight_);
        const int by = header + listHeight_ + (Scale(kListButtonsHeight) - Scale(kButtonHeight)) / 2;
        place(kBtAddFile, m, by, Scale(kButtonWidth), Scale(kButtonHeight));
        place(kBtRemoveFile, m + Scale(kButtonWidth) + Scale(6), by, Scale(kButtonWidth), Scale(kButtonHeight));
        place(kBtClearlist, m + 2 * (Scale(kButtonWidth) + Scale(6)), by, Scale(kButtonWidth), Scale(kButtonHeight));
    }
    // Icon area, below the splitter in multiple mode.
    const int iconsTop = fileAreaHeight_ + (FMultipleMode ? Scale(kSplitterHeight) : 0);
    const int bottomTop = std::max(h - Scale(kBottomHeight), iconsTop);
    place(kImg2, m, iconsTop + Scale(3), Scale(16), Scale(16));
    const int iconLabelLeft = m + Scale(20);
    const int iconLabelWidth = TextWidth(hwnd_, boldFont_, L"File Icon:");
    place(kLblIcon, iconLabelLeft, iconsTop + Scale(4), iconLabelWidth + Scale(2), Scale(16));
    const int iconLineLeft = iconLabelLeft + iconLabelWidth + Scale(6);
    place(kBvlIcons, iconLineLeft, iconsTop + Scale(11), w - Scale(8) - iconLineLeft, 2);
    place(kPcMarks, m, iconsTop + header, w - 2 * m, bottomTop - (iconsTop + header) - Scale(4));
    // Button bar.
    place(kBvlBottom, m, bottomTop, w - 2 * m, 2);
    const int buttonTop = bottomTop + (Scale(kBottomHeight) - Scale(kButtonHeight)) / 2;
    place(kBtCancel, w - m - Scale(kButtonWidth), buttonTop, Scale(kButtonWidth), Scale(kButtonHeight));
    place(kBtApply, w - m - 2 * Scale(kButtonWidth) - Scale(6), buttonTop, Scale(kButtonWidth), Scale(kButtonHeight));
    if (dwp) EndDeferWindowPos(dwp);
    ShowNameBoxEnd();
    PlaceFileLine();
    LayoutPages();
    InvalidateRect(hwnd_, nullptr, TRUE);
}

void Tfrm_Main::LayoutPages() {
    HWND tabs = GetDlgItem(hwnd_, kPcMarks);
    if (!tabs) return;
    RECT display{};
    GetClientRect(tabs, &display);
    TabCtrl_AdjustRect(tabs, FALSE, &display);
    const int active = ActivePage();
    for (int i = 0; i < PageCount(); ++i) {
        HWND sheet = pages_[std::size_t(i)].Sheet;
        if (i == active) {
            SetWindowPos(sheet, HWND_TOP, display.left, display.top, display.right - display.left,
                         display.bottom - display.top, SWP_SHOWWINDOW | SWP_NOACTIVATE);
        } else {
            ShowWindow(sheet, SW_HIDE);
        }
    }
}

void Tfrm_Main::OnDpiChanged(int dpi, const RECT* suggested) {
    const int old = dpi_;
    dpi_ = dpi;
    fileAreaHeight_ = MulDiv(fileAreaHeight_, dpi, old);
    listHeight_ = MulDiv(listHeight_, dpi, old);
    listMinHeight_ = MulDiv(listMinHeight_, dpi, old);
    UpdateFonts();
    SendMessageW(GetDlgItem(hwnd_, kLbFiles), LB_SETITEMHEIGHT, 0, Scale(kListItemHeight));
    ResetListTip();
    for (TPage& page : pages_)
        if (page.Grid) page.Grid->UpdateDpi();
    if (userMarkers_) userMarkers_->UpdateDpi();
    if (suggested)
        SetWindowPos(hwnd_, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                     suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
    Layout();
}

// --- messages ------------------------------------------------------------------------

void Tfrm_Main::Command(int id, int code, HWND) {
    switch (id) {
        case kBtApply:
        case kApplyIconChange1:
            ApplyActivePage();
            break;
        case kBtCancel:
        case kMiExit:
            PostMessageW(hwnd_, WM_CLOSE, 0, 0);
            break;
        case kLbFiles:
            if (code == LBN_SELCHANGE) {
                UpdateListButtons();
                RefreshPreview();
            }
            break;
        case kBtAddFile:
            BrowseForFiles(true);
            break;
        case kBtRemoveFile:
            RemoveSelectedFiles();
            break;
        case kBtClearlist:
            SendMessageW(GetDlgItem(hwnd_, kLbFiles), LB_RESETCONTENT, 0, 0);
            UpdateListButtons();
            break;
        case kBtBrowse:
            BrowseForFiles(false);
            break;
        case kEdFileName:
            if (code == EN_CHANGE) RefreshPreview();
            break;
        case kMiSingleFile:
        case kMiMultipleFiles:
            SetMultipleMode(id == kMiMultipleFiles);
            break;
        case kMiResetDefaultIcon:
            RestoreDefaultIcons();
            break;
        case kMiRefreshExplorer:
            FEngine->RefreshShellIcons();
            break;
        case kMiRollbackAllChanges:
            RollbackAllChanges();
            break;
        case kMiMarkedFiles:
            ShowMarkedFiles(hwnd_, [this](const std::function<void()>& operation) { RunOperation(operation); });
            break;
        case kMiCheckForUpdates:
            ShowUpdateCheckResult(hwnd_);
            break;
        case kMiAbout:
            ShowAboutBox(hwnd_);
            break;
        case kMiAddMarker:
            if (userMarkers_) {
                SetActivePage(userMarkersPage_);
                userMarkers_->AddMarker();
            }
            break;
    }
}

void Tfrm_Main::OnInitMenuPopup(HMENU menu) {
    if (menu != actionMenu_) return;
    bool entries = false;
    try {
        entries = HasJournalEntries();
    } catch (...) {
    }
    EnableMenuItem(actionMenu_, kMiRollbackAllChanges, MF_BYCOMMAND | (entries ? MF_ENABLED : MF_GRAYED));
}

bool Tfrm_Main::PreTranslateMessage(MSG& msg) {
    if (!hwnd_ || (msg.hwnd != hwnd_ && !IsChild(hwnd_, msg.hwnd))) return false;
    if (msg.message == WM_KEYDOWN && (msg.wParam == VK_TAB || msg.wParam == VK_PRIOR || msg.wParam == VK_NEXT) &&
        (GetKeyState(VK_CONTROL) & 0x8000) && PageCount() > 0) {
        // Ctrl+Tab and Ctrl+PageDown go to the next page, with Shift or PageUp to the one before.
        const bool back = msg.wParam == VK_PRIOR || (msg.wParam == VK_TAB && (GetKeyState(VK_SHIFT) & 0x8000));
        SetActivePage((ActivePage() + (back ? PageCount() - 1 : 1)) % PageCount());
        return true;
    }
    return IsDialogMessageW(hwnd_, &msg) != 0;
}

void Tfrm_Main::ReportFailure(const std::exception& e) { ShowFailureDialog(hwnd_, kTitle, Utf8ToWide(e.what())); }

LRESULT CALLBACK Tfrm_Main::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<Tfrm_Main*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (msg == WM_NCCREATE) {
        self = static_cast<Tfrm_Main*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->hwnd_ = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    if (!self) return DefWindowProcW(hwnd, msg, wParam, lParam);
    // Failures never cross the window system's frames: they end in the failure dialog,
    // or, during creation, fail the creation with their message.
    try {
        return self->HandleMessage(msg, wParam, lParam);
    } catch (const std::exception& e) {
        if (msg == WM_CREATE) {
            self->createFailure_ = e.what();
            return -1;
        }
        self->ReportFailure(e);
    } catch (...) {
        if (msg == WM_CREATE) return -1;
        ShowFailureDialog(hwnd, kTitle, L"Unknown failure");
    }
    return 0;
}

LRESULT Tfrm_Main::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_CREATE:
            FormCreate();
            return 0;
        case WM_SIZE:
            Layout();
            return 0;
        case WM_GETMINMAXINFO:
            if (FEngine) EnforceMinimumSize(*reinterpret_cast<MINMAXINFO*>(lParam));
            return 0;
        case WM_COMMAND:
            Command(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
            return 0;
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lParam);
            if (header->idFrom == UINT_PTR(kPcMarks) && header->code == TCN_SELCHANGE) LayoutPages();
            if (header->hwndFrom == tooltip_ && header->code == TTN_GETDISPINFOW &&
                header->idFrom == reinterpret_cast<UINT_PTR>(GetDlgItem(hwnd_, kEdFileName))) {
                // The name box's whole path, which its width may cut.
                nameBoxTip_ = FileNameText();
                reinterpret_cast<NMTTDISPINFOW*>(lParam)->lpszText = nameBoxTip_.data();
                return 0;
            }
            break;
        }
        case WM_MEASUREITEM: {
            auto* item = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
            if (item->CtlType != ODT_LISTBOX || item->CtlID != UINT(kLbFiles)) break;
            item->itemHeight = UINT(Scale(kListItemHeight));
            return TRUE;
        }
        case WM_DRAWITEM: {
            const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
            if (item->CtlType != ODT_LISTBOX || item->CtlID != UINT(kLbFiles)) break;
            DrawListItem(*item);
            return TRUE;
        }
        case WM_INITMENUPOPUP:
            OnInitMenuPopup(reinterpret_cast<HMENU>(wParam));
            return 0;
        case DM_GETDEFID:
            return MAKELRESULT(kBtApply, DC_HASDEFID);
        case WM_DROPFILES:
            DropFiles(reinterpret_cast<HDROP>(wParam), false);
            return 0;
        case WM_SETCURSOR:
            if (LOWORD(lParam) == HTCLIENT && reinterpret_cast<HWND>(wParam) == hwnd_) {
                POINT pt{};
                GetCursorPos(&pt);
                ScreenToClient(hwnd_, &pt);
                if (OnSplitter(pt.y)) {
                    SetCursor(LoadCursorW(nullptr, IDC_SIZENS));
                    return TRUE;
                }
            }
            break;
        case WM_LBUTTONDOWN: {
            const int y = short(HIWORD(lParam));
            if (OnSplitter(y)) {
                dragging_ = true;
                dragOffset_ = y - fileAreaHeight_;
                SetCapture(hwnd_);
            }
            return 0;
        }
        case WM_MOUSEMOVE:
            if (dragging_) {
                RECT client{};
                GetClientRect(hwnd_, &client);
                const int fixed = Scale(kHeaderHeight) + Scale(kListButtonsHeight);
                const int maximum = int(client.bottom) - Scale(kBottomHeight) - Scale(kIconsMinHeight) -
                                    Scale(kSplitterHeight);
                int wanted = short(HIWORD(lParam)) - dragOffset_;
                wanted = std::min(wanted, maximum);
                wanted = std::max(wanted, fixed + listMinHeight_);
                if (wanted != fileAreaHeight_) {
                    fileAreaHeight_ = wanted;
                    Layout();
                }
            }
            return 0;
        case WM_LBUTTONUP:
        case WM_CAPTURECHANGED:
            if (dragging_) {
                dragging_ = false;
                if (msg == WM_LBUTTONUP) ReleaseCapture();
            }
            return 0;
        case WM_DPICHANGED:
            OnDpiChanged(HIWORD(wParam), reinterpret_cast<const RECT*>(lParam));
            return 0;
        case WM_CLOSE:
            if (FBusy) {
                // The engine's file list must not change under a running operation.
                closePending_ = true;
                return 0;
            }
            FormClose();
            DestroyWindow(hwnd_);
            return 0;
        case WM_DESTROY:
            FormDestroy();
            if (quitOnDestroy_) PostQuitMessage(0);
            return 0;
        case WM_NCDESTROY:
            SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
            hwnd_ = nullptr;
            return 0;
    }
    return DefWindowProcW(hwnd_, msg, wParam, lParam);
}

LRESULT CALLBACK Tfrm_Main::SheetProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        SetWindowLongPtrW(hwnd, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
    } else if (msg == WM_SIZE) {
        // PageResize: the page's grid fills it and lays itself out to the new width.
        if (HWND grid = GetWindow(hwnd, GW_CHILD)) {
            MoveWindow(grid, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
            if (TMarkerGrid* picker = TMarkerGrid::FromHandle(grid)) picker->AdjustLayout();
        }
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

LRESULT CALLBACK Tfrm_Main::ChildSubclassProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                              DWORD_PTR data) {
    auto* self = reinterpret_cast<Tfrm_Main*>(data);
    try {
        if (id == kLbFiles && msg == WM_KEYDOWN && wParam == VK_DELETE) {
            self->RemoveSelectedFiles();
            return 0;
        }
        if (id == kLbFiles && msg == WM_MOUSEMOVE) self->TrackListTip(short(LOWORD(lParam)), short(HIWORD(lParam)));
        if (id == kLbFiles && msg == WM_SIZE) {
            // Every entry is elided to the width: all of them are drawn again at a new one.
            // The entries cover their rows, so nothing is erased first.
            InvalidateRect(hwnd, nullptr, FALSE);
            self->ResetListTip();
        }
        if (id == kLbFiles && (msg == WM_VSCROLL || msg == WM_MOUSEWHEEL || msg == LB_ADDSTRING ||
                               msg == LB_INSERTSTRING || msg == LB_DELETESTRING || msg == LB_RESETCONTENT)) {
            const LRESULT result = DefSubclassProc(hwnd, msg, wParam, lParam);
            self->ResetListTip();
            return result;
        }
        if (id == kEdFileName && msg == WM_KILLFOCUS) {
            const LRESULT result = DefSubclassProc(hwnd, msg, wParam, lParam);
            self->ShowNameBoxEnd(true);
            return result;
        }
        if (id == kEdFileName && msg == WM_DROPFILES) {
            self->DropFiles(reinterpret_cast<HDROP>(wParam), true);
            return 0;
        }
    } catch (const std::exception& e) {
        self->ReportFailure(e);
        return 0;
    }
    if (msg == WM_NCDESTROY) RemoveWindowSubclass(hwnd, ChildSubclassProc, id);
    return DefSubclassProc(hwnd, msg, wParam, lParam);
}

// --- program entry -------------------------------------------------------------------

void RunMainWindow(const wchar_t*) {
    Tfrm_Main form;
    form.SetQuitOnDestroy(true);
    form.Create();
    form.Show();
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (form.PreTranslateMessage(msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

}  // namespace vantrel
