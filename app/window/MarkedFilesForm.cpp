#include "imaging/Colorize.h"  // imaging headers before windows.h and its RGB macros
#include "imaging/IconLibrary16.h"
#include "imaging/IconModel.h"

#include "app/window/MarkedFilesForm.h"

#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <cwctype>

#include "app/common/FileHelpers.h"
#include "app/common/TextConv.h"
#include "app/engine/MarkerStreams.h"
#include "app/engine/StreamLibraries.h"
#include "app/engine/VantrelClass.h"
#include "app/window/DialogSupport.h"
#include "app/window/Dialogs.h"
#include "app/window/ErrorReportDialog.h"
#include "app/window/WindowDpi.h"
#include "app/window/kvProgress.h"
#include "imaging/Error.h"

namespace vantrel {

const wchar_t kMarkedFilesClass[] = L"TfrmMarkedFiles";

namespace {

const wchar_t kTitle[] = L"Marked Files";
const wchar_t kAppTitle[] = L"Vantrel";
const wchar_t kAllMarkers[] = L"(all markers)";
const wchar_t kNoMarker[] = L"(no marker)";
const wchar_t kAllColors[] = L"(all colours)";
const wchar_t kNoColorText[] = L"(no colour)";

constexpr UINT kLooksMessage = WM_APP + 41;  // the background look made progress
constexpr UINT kReportMessage = WM_APP + 42;  // report unreadable records once shown

// Sizes at 96 DPI.
constexpr int kMargin = 8;
constexpr int kRowHeight = 23;
constexpr int kLabelHeight = 16;
constexpr int kButtonHeight = 25;
constexpr int kMinWidth = 640;
constexpr int kMinHeight = 320;

struct TColumnSpec {
    const wchar_t* Title;
    int Width;
};
const TColumnSpec kColumnSpecs[kColumns] = {
    {L"Name", 170}, {L"State", 90}, {L"Marker", 100}, {L"Library", 80},
    {L"Colour", 80}, {L"Folder", 260}, {L"Marked (UTC)", 130},
};

struct TButtonSpec {
    int Id;
    const wchar_t* Caption;
    int Width;
    const wchar_t* Hint;
};
const TButtonSpec kButtons[] = {
    {kMfShowInFolder, L"Show in F&older", 100, L"Open the folder with the selected files selected (Enter)"},
    {kMfReapply, L"Re-&apply", 80, L"Mark the selected lost files again with what they had (Enter)"},
    {kMfRemoveMarking, L"Remo&ve Marking...", 112, L"Remove the markings of the selected files (Delete)"},
    {kMfRemoveMissing, L"Remove Mi&ssing", 104, L"Take the selected missing files out of the list"},
    {kMfRefresh, L"R&efresh", 72, L"Read the list and the files again (F5)"},
};

std::wstring FileNameOf(const std::wstring& path) {
    const std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::wstring Lower(std::wstring s) {
    for (wchar_t& c : s) c = wchar_t(std::towlower(c));
    return s;
}

std::wstring ControlText(HWND control) {
    const int length = GetWindowTextLengthW(control);
    std::wstring text(std::size_t(std::max(length, 0)) + 1, L'\0');
    text.resize(std::size_t(std::max(GetWindowTextW(control, text.data(), int(text.size())), 0)));
    return text;
}

std::wstring ComboSelection(HWND combo) {
    const LRESULT index = SendMessageW(combo, CB_GETCURSEL, 0, 0);
    if (index == CB_ERR) return {};
    const LRESULT length = SendMessageW(combo, CB_GETLBTEXTLEN, WPARAM(index), 0);
    if (length == CB_ERR) return {};
    std::wstring text(std::size_t(length) + 1, L'\0');
    const LRESULT got = SendMessageW(combo, CB_GETLBTEXT, WPARAM(index), reinterpret_cast<LPARAM>(text.data()));
    text.resize(got == CB_ERR ? 0 : std::size_t(got));
    return text;
}

// A small platform icon of an icon stream (an ICO file image): the image nearest the
// size, the deepest of those, scaled by the platform when it differs. A stream that
// cannot be read, or one over its limit, shows no picture.
::HICON StreamIcon(const std::wstring& file, int size) {
    std::vector<unsigned char> bytes;
    try {
        bytes = ReadIconStream(file);
    } catch (const std::exception&) {
        return nullptr;
    }
    TAdvancedIcon icon;
    try {
        if (!icon.LoadFromBytes(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size())))
            return nullptr;
    } catch (const std::exception&) {
        return nullptr;  // a damaged stream shows no picture
    }
    const TSubIconList& images = icon.Images();
    int best = -1;
    for (int i = 0; i < images.Count(); ++i) {
        if (best < 0) {
            best = i;
            continue;
        }
        const auto score = [&](int k) {
            const int w = images[k]->GetWidth();
            return std::make_pair(w >= size ? w - size : 1000 + size - w, -images[k]->GetBitDepth());
        };
        if (score(i) < score(best)) best = i;
    }
    if (best < 0) return nullptr;
    std::vector<std::uint8_t> data = images[best]->Data();
    if (data.empty() || data.size() > 0x7FFFFFFF) return nullptr;
    return CreateIconFromResourceEx(data.data(), DWORD(data.size()), TRUE, 0x00030000, size, size, LR_DEFAULTCOLOR);
}

void AddTooltip(HWND tooltip, HWND owner, HWND control, const wchar_t* text) {
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof(tool);
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = owner;
    tool.uId = reinterpret_cast<UINT_PTR>(control);
    tool.lpszText = const_cast<wchar_t*>(text);
    SendMessageW(tooltip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

// The runner without an owner window: busy cursor and progress window around the work,
// the engine's report in its dialog, a failure in the failure dialog, the records written
// in any case.
void RunWithProgressWindow(HWND window, const std::function<void()>& work) {
    TVantrel& engine = TVantrel::Core();
    TFeedbackScope feedback(engine, &ProgressWindow(), &ReportDialogView());
    engine.Progress().Begin(-1);
    std::wstring failure;
    try {
        work();
    } catch (const std::exception& e) {
        failure = Utf8ToWide(e.what());
        if (failure.empty()) failure = L"Unknown failure";
    }
    engine.Progress().Finish();
    FlushMarkingRecords();
    if (!failure.empty()) ShowFailureDialog(window, kAppTitle, failure);
}

}  // namespace

TfrmMarkedFiles::TfrmMarkedFiles(TOperationRunner runner) : runner_(std::move(runner)) {}

TfrmMarkedFiles::~TfrmMarkedFiles() {
    StopLooks();
    if (hwnd_) DestroyWindow(hwnd_);
    if (images_) ImageList_Destroy(images_);
    if (font_) DeleteObject(font_);
}

TfrmMarkedFiles* TfrmMarkedFiles::FromHandle(HWND window) {
    return reinterpret_cast<TfrmMarkedFiles*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

HWND TfrmMarkedFiles::Create(HWND owner) {
    owner_ = owner;
    RegisterWindowClass({kMarkedFilesClass, WindowProc, COLOR_BTNFACE, 0, 0, IDC_ARROW, true});
    const DWORD style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
    dpi_ = int(owner ? WindowDpi(owner) : SystemDpi());
    SIZE size = WindowSizeForClient(ScaleForDpi(900, dpi_), ScaleForDpi(480, dpi_), style, 0, dpi_);
    // Never larger than most of the monitor it opens on.
    const RECT area = MonitorWorkArea(owner);
    size.cx = std::min<LONG>(size.cx, (area.right - area.left) * 9 / 10);
    size.cy = std::min<LONG>(size.cy, (area.bottom - area.top) * 9 / 10);
    const POINT at = PlaceWindow(owner, size, owner != nullptr);
    CreateWindowExW(WS_EX_CONTROLPARENT, kMarkedFilesClass, kTitle, style, at.x, at.y, size.cx, size.cy, owner,
                    nullptr, GetModuleHandleW(nullptr), this);
    if (!hwnd_) throw Error("Cannot create the Marked Files window.");
    const int actual = int(WindowDpi(hwnd_));
    if (actual != dpi_) OnDpiChanged(actual, nullptr);
    Reload();
    ShowWindow(hwnd_, SW_SHOW);
    SetFocus(list_);
    PostMessageW(hwnd_, kReportMessage, 0, 0);
    return hwnd_;
}

void TfrmMarkedFiles::RunModal() {
    if (!hwnd_) return;
    done_ = false;
    RunModalWindow(hwnd_, owner_, list_, done_, [this](const MSG& msg) { return KeyFilter(msg); });
    StopLooks();
}

void TfrmMarkedFiles::CreateControls() {
    // Creation order is the tab order: the filters, the list, the actions, Close.
    HINSTANCE instance = GetModuleHandleW(nullptr);
    auto add = [&](const wchar_t* cls, const wchar_t* text, DWORD style, int id, DWORD exStyle = 0) {
        return CreateWindowExW(exStyle, cls, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, hwnd_,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
    };
    add(L"STATIC", L"&Filter:", SS_LEFT | SS_CENTERIMAGE, kMfFilterLabel);
    HWND filter = add(L"EDIT", L"", ES_AUTOHSCROLL | WS_TABSTOP, kMfFilter, WS_EX_CLIENTEDGE);
    SendMessageW(filter, EM_SETCUEBANNER, TRUE, reinterpret_cast<LPARAM>(L"name, folder, marker, colour, state"));
    add(L"STATIC", L"&Marker:", SS_LEFT | SS_CENTERIMAGE, kMfMarkerLabel);
    add(WC_COMBOBOXW, L"", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, kMfMarker);
    add(L"STATIC", L"&Colour:", SS_LEFT | SS_CENTERIMAGE, kMfColorLabel);
    add(WC_COMBOBOXW, L"", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, kMfColor);
    add(L"STATIC", L"Marked fi&les:", SS_LEFT | SS_CENTERIMAGE, kMfListLabel);
    list_ = add(WC_LISTVIEWW, L"Marked files",
                LVS_REPORT | LVS_OWNERDATA | LVS_SHOWSELALWAYS | WS_TABSTOP | WS_BORDER, kMfList);
    ListView_SetExtendedListViewStyle(list_, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER | LVS_EX_HEADERDRAGDROP |
                                                 LVS_EX_LABELTIP | LVS_EX_INFOTIP);
    for (int c = 0; c < kColumns; ++c) {
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        column.pszText = const_cast<wchar_t*>(kColumnSpecs[c].Title);
        column.cx = ScaleForDpi(kColumnSpecs[c].Width, dpi_);
        column.iSubItem = c;
        ListView_InsertColumn(list_, c, &column);
    }
    for (const TButtonSpec& b : kButtons) add(L"BUTTON", b.Caption, BS_PUSHBUTTON | WS_TABSTOP, b.Id);
    add(L"BUTTON", L"Close", BS_PUSHBUTTON | WS_TABSTOP, kMfClose);
    add(L"STATIC", L"", SS_LEFT | SS_NOPREFIX | SS_ENDELLIPSIS, kMfStatus);

    tooltip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_, nullptr, instance,
                               nullptr);
    for (const TButtonSpec& b : kButtons) AddTooltip(tooltip_, hwnd_, GetDlgItem(hwnd_, b.Id), b.Hint);
    AddTooltip(tooltip_, hwnd_, filter, L"Show only the files whose name, folder, marker, colour or state holds this text");
    AddTooltip(tooltip_, hwnd_, GetDlgItem(hwnd_, kMfMarker), L"Show only the files with this marker");
    AddTooltip(tooltip_, hwnd_, GetDlgItem(hwnd_, kMfColor), L"Show only the files with this colour");
    AddTooltip(tooltip_, hwnd_, GetDlgItem(hwnd_, kMfClose), L"Close the window (Esc)");
    UpdateFonts();
    CreateImages();
}

void TfrmMarkedFiles::UpdateFonts() {
    if (font_) DeleteObject(font_);
    font_ = CreateMessageFont(dpi_);
    for (HWND child = GetWindow(hwnd_, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font_), TRUE);
}

void TfrmMarkedFiles::CreateImages() {
    const int size = SystemMetricForDpi(SM_CXSMICON, UINT(dpi_));
    HIMAGELIST images = ImageList_Create(size, size, ILC_COLOR32 | ILC_MASK, 16, 64);
    // 0: nothing known yet, 1: marking lost, 2: file missing.
    ::HICON blank = nullptr;
    {
        std::vector<BYTE> andBits(std::size_t((size + 15) / 16 * 2 * size), 0xFF);
        std::vector<BYTE> xorBits(andBits.size(), 0);
        blank = CreateIcon(GetModuleHandleW(nullptr), size, size, 1, 1, andBits.data(), xorBits.data());
    }
    ImageList_AddIcon(images, blank);
    DestroyIcon(blank);
    for (const wchar_t* stock : {IDI_WARNING, IDI_ERROR}) {
        ::HICON icon = static_cast<::HICON>(LoadImageW(nullptr, stock, IMAGE_ICON, size, size, LR_SHARED));
        ImageList_AddIcon(images, icon ? icon : LoadIconW(nullptr, stock));
    }
    ListView_SetImageList(list_, images, LVSIL_SMALL);
    if (images_) ImageList_Destroy(images_);
    images_ = images;
    for (auto& row : rows_) row->Image = -1;
}

void TfrmMarkedFiles::Layout() {
    RECT client{};
    GetClientRect(hwnd_, &client);
    const int w = client.right, h = client.bottom;
    const int m = ScaleForDpi(kMargin, dpi_), rowH = ScaleForDpi(kRowHeight, dpi_);
    const int labelH = ScaleForDpi(kLabelHeight, dpi_), buttonH = ScaleForDpi(kButtonHeight, dpi_);
    auto place = [&](int id, int x, int y, int cx, int cy) {
        SetWindowPos(GetDlgItem(hwnd_, id), nullptr, x, y, std::max(cx, 0), std::max(cy, 0),
                     SWP_NOZORDER | SWP_NOACTIVATE);
    };
    auto textWidth = [&](int id) {
        return int(TextExtent(font_, ControlText(GetDlgItem(hwnd_, id))).cx) + ScaleForDpi(6, dpi_);
    };
    int x = m;
    const int comboW = ScaleForDpi(150, dpi_);
    const int filterW = std::max(ScaleForDpi(120, dpi_), w - 2 * m - 2 * comboW - textWidth(kMfFilterLabel) -
                                                             textWidth(kMfMarkerLabel) - textWidth(kMfColorLabel) -
                                                             ScaleForDpi(24, dpi_));
    for (auto [label, control, width] : {std::tuple{kMfFilterLabel, kMfFilter, filterW},
                                         std::tuple{kMfMarkerLabel, kMfMarker, comboW},
                                         std::tuple{kMfColorLabel, kMfColor, comboW}}) {
        place(label, x, m, textWidth(label), rowH);
        x += textWidth(label);
        place(control, x, m, width, control == kMfFilter ? rowH : rowH * 10);
        x += width + ScaleForDpi(12, dpi_);
    }
    int y = m + rowH + ScaleForDpi(6, dpi_);
    place(kMfListLabel, m, y, w - 2 * m, labelH);
    y += labelH + ScaleForDpi(2, dpi_);
    const int buttonsTop = h - m - buttonH;
    const int statusTop = buttonsTop - ScaleForDpi(6, dpi_) - labelH;
    place(kMfList, m, y, w - 2 * m, statusTop - ScaleForDpi(4, dpi_) - y);
    place(kMfStatus, m, statusTop, w - 2 * m, labelH);
    x = m;
    for (const TButtonSpec& b : kButtons) {
        const int bw = std::max(ScaleForDpi(b.Width, dpi_), textWidth(b.Id) + ScaleForDpi(12, dpi_));
        place(b.Id, x, buttonsTop, bw, buttonH);
        x += bw + ScaleForDpi(6, dpi_);
    }
    const int closeW = ScaleForDpi(75, dpi_);
    place(kMfClose, std::max(x, w - m - closeW), buttonsTop, closeW, buttonH);
}

void TfrmMarkedFiles::OnDpiChanged(int dpi, const RECT* suggested) {
    const int old = dpi_;
    dpi_ = dpi;
    UpdateFonts();
    for (int c = 0; c < kColumns; ++c)
        ListView_SetColumnWidth(list_, c, MulDiv(ListView_GetColumnWidth(list_, c), dpi, old));
    CreateImages();
    if (suggested)
        SetWindowPos(hwnd_, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                     suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
    Layout();
    InvalidateRect(list_, nullptr, TRUE);
}

// --- rows ----------------------------------------------------------------------------

void TfrmMarkedFiles::Reload() {
    StopLooks();
    std::vector<std::wstring> selected;
    if (list_)
        for (int r : SelectedRows()) selected.push_back(Row(r).File.Path);

    TMarkedFileList list = LoadMarkedFiles();
    recordsFile_ = list.RecordsFile;
    recordsFailure_ = list.RecordsFailure;
    pendingReport_.insert(pendingReport_.end(), list.NewUnreadable.begin(), list.NewUnreadable.end());
    // The view's indexes name the old rows: none stays shown until ApplyView below.
    view_.clear();
    rows_.clear();
    rows_.reserve(list.Files.size());
    for (TMarkedFile& file : list.Files) {
        auto row = std::make_unique<TRow>();
        row->Name = FileNameOf(file.Path);
        row->Folder = ExtractFileDir(file.Path);
        row->File = std::move(file);
        rows_.push_back(std::move(row));
    }
    looked_ = 0;
    FillCombos();
    ApplyView();
    if (!selected.empty()) {
        std::vector<int> again;
        for (int r = 0; r < RowCount(); ++r)
            if (std::find(selected.begin(), selected.end(), Row(r).File.Path) != selected.end()) again.push_back(r);
        SelectRows(again);
    }
    StartLooks();
    UpdateStatus();
    UpdateButtons();
    if (hwnd_ && IsWindowVisible(hwnd_) && !pendingReport_.empty()) PostMessageW(hwnd_, kReportMessage, 0, 0);
}

void TfrmMarkedFiles::StartLooks() {
    stop_ = false;
    worker_ = std::thread([this] { LookWorker(); });
}

void TfrmMarkedFiles::StopLooks() {
    stop_ = true;
    if (worker_.joinable()) worker_.join();
}

void TfrmMarkedFiles::LookWorker() {
    std::size_t sincePost = 0;
    for (auto& row : rows_) {
        if (stop_) return;
        int expected = 0;
        if (!row->Status.compare_exchange_strong(expected, 1)) continue;
        row->Look = LookAtFile(row->File.Path, !row->File.Recorded);
        row->Status = 2;
        ++looked_;
        if (++sincePost >= 500) {
            sincePost = 0;
            PostMessageW(hwnd_, kLooksMessage, 0, 0);
        }
    }
    PostMessageW(hwnd_, kLooksMessage, 1, 0);
}

const TFileLook* TfrmMarkedFiles::Look(TRow& row) {
    int expected = 0;
    if (row.Status.compare_exchange_strong(expected, 1)) {
        row.Look = LookAtFile(row.File.Path, !row.File.Recorded);
        row.Status = 2;
        ++looked_;
        return &row.Look;
    }
    return row.Status.load() == 2 ? &row.Look : nullptr;
}

TfrmMarkedFiles::TMarking TfrmMarkedFiles::MarkingOf(TRow& row) {
    TMarking m;
    if (row.File.Recorded) {
        m.Known = true;
        m.MarkerFile = row.File.Record.MarkerFile;
        m.MarkerIndex = row.File.Record.MarkerIndex;
        m.Color = row.File.Record.Color;
    } else if (row.Status.load() == 2 && row.Look.Known) {
        m.Known = true;
        m.MarkerFile = row.Look.MarkerFile;
        m.MarkerIndex = row.Look.MarkerIndex;
        m.Color = row.Look.Color;
        m.FromFileData = true;
    }
    return m;
}

const TfrmMarkedFiles::TLibraryNames& TfrmMarkedFiles::NamesOf(const std::wstring& library, bool fromFileData) {
    auto it = markerNames_.find({library, fromFileData});
    if (it == markerNames_.end()) {
        TLibraryNames names;
        std::wstring path;
        if (fromFileData) {
            const TStreamLibrary found = FindStreamLibrary(library, TLibraryLookup::ExpandedOnPath);
            names.Refused = found.Refused;
            path = found.Path;
        } else {
            path = ExpandPath(library);
            if (!FileExists(path)) path = FindOnPath(path);
        }
        if (FileExists(path)) {
            const UINT count = ExtractIconExW(path.c_str(), -1, nullptr, nullptr, 0);
            std::vector<std::string> raw;
            try {
                ReadLibraryIconNames(std::filesystem::path(path), raw, count == UINT(-1) ? 0 : int(std::min(count, 4096u)));
            } catch (const std::exception&) {
                raw.clear();
            }
            for (const std::string& name : raw) names.Names.push_back(AnsiToWide(name));
        }
        it = markerNames_.emplace(std::make_pair(library, fromFileData), std::move(names)).first;
    }
    return it->second;
}

std::wstring TfrmMarkedFiles::MarkerName(const std::wstring& library, int index, bool fromFileData) {
    const std::vector<std::wstring>& names = NamesOf(library, fromFileData).Names;
    if (index >= 0 && std::size_t(index) < names.size() && !names[std::size_t(index)].empty())
        return names[std::size_t(index)];
    return L"#" + std::to_wstring(index);
}

bool TfrmMarkedFiles::LibraryRefused(const std::wstring& library, bool fromFileData) {
    return NamesOf(library, fromFileData).Refused;
}

std::wstring TfrmMarkedFiles::MarkerLabel(const TMarking& m) {
    if (!m.Known || m.MarkerFile.empty()) return {};
    return MarkerName(m.MarkerFile, m.MarkerIndex, m.FromFileData) + L" (" + FileNameOf(m.MarkerFile) + L")";
}

std::wstring TfrmMarkedFiles::ColorText(int color) {
    if (color == kNoColor) return {};
    for (const TNamedColor& named : ColorTable())
        if (named.Value == color) return named.Name;
    wchar_t text[16];
    swprintf(text, 16, L"#%02X%02X%02X", color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF);
    return text;
}

std::wstring TfrmMarkedFiles::Text(TRow& row, int column) {
    switch (column) {
        case kColName: return row.Name;
        case kColFolder: return row.Folder;
        case kColTime: {
            if (!row.File.Recorded) return {};
            std::wstring t = row.File.Record.Time;  // "YYYY-MM-DDTHH:MM:SSZ" shown as "YYYY-MM-DD HH:MM"
            return t.size() >= 16 ? t.substr(0, 10) + L" " + t.substr(11, 5) : t;
        }
        case kColState: {
            const TFileLook* look = row.Status.load() == 2 ? &row.Look : nullptr;
            return look ? MarkStateName(look->State) : L"";
        }
    }
    const TMarking m = MarkingOf(row);
    if (!m.Known) return {};
    switch (column) {
        case kColMarker:
            return m.MarkerFile.empty() ? L"" : MarkerName(m.MarkerFile, m.MarkerIndex, m.FromFileData);
        case kColLibrary: return FileNameOf(m.MarkerFile);
        case kColColor: return ColorText(m.Color);
    }
    return {};
}

int TfrmMarkedFiles::ImageOf(TRow& row) {
    const TFileLook* look = Look(row);
    if (!look) return 0;
    if (look->State == TMarkState::Lost) return 1;
    if (look->State == TMarkState::Missing) return 2;
    if (row.Image < 0) {
        row.Image = 0;
        const int size = SystemMetricForDpi(SM_CXSMICON, UINT(dpi_));
        if (::HICON icon = StreamIcon(row.File.Path, size)) {
            row.Image = ImageList_AddIcon(images_, icon);
            if (row.Image < 0) row.Image = 0;
            DestroyIcon(icon);
        }
    }
    return row.Image;
}

std::wstring TfrmMarkedFiles::CellText(int row, int column) {
    if (row < 0 || row >= RowCount()) return {};
    TRow& r = Row(row);
    Look(r);
    return Text(r, column);
}

TMarkState TfrmMarkedFiles::RowState(int row) {
    if (row < 0 || row >= RowCount()) return TMarkState::Unknown;
    const TFileLook* look = Look(Row(row));
    return look ? look->State : TMarkState::Unknown;
}

void TfrmMarkedFiles::FillCombos() {
    std::vector<std::wstring> markers, colors;
    for (auto& row : rows_) {
        const TMarking m = MarkingOf(*row);
        if (!m.Known) continue;
        if (!m.MarkerFile.empty()) markers.push_back(MarkerLabel(m));
        if (m.Color != kNoColor) colors.push_back(ColorText(m.Color));
    }
    for (auto* v : {&markers, &colors}) {
        std::sort(v->begin(), v->end());
        v->erase(std::unique(v->begin(), v->end()), v->end());
    }
    auto fill = [&](int id, const wchar_t* all, const wchar_t* none, const std::vector<std::wstring>& items) {
        HWND combo = GetDlgItem(hwnd_, id);
        const std::wstring keep = ComboSelection(combo);
        SendMessageW(combo, WM_SETREDRAW, FALSE, 0);
        SendMessageW(combo, CB_RESETCONTENT, 0, 0);
        SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(all));
        SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(none));
        for (const std::wstring& item : items) SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
        LRESULT at = keep.empty() ? 0 : SendMessageW(combo, CB_FINDSTRINGEXACT, WPARAM(-1), reinterpret_cast<LPARAM>(keep.c_str()));
        SendMessageW(combo, CB_SETCURSEL, WPARAM(at == CB_ERR ? 0 : at), 0);
        SendMessageW(combo, WM_SETREDRAW, TRUE, 0);
    };
    fill(kMfMarker, kAllMarkers, kNoMarker, markers);
    fill(kMfColor, kAllColors, kNoColorText, colors);
}

void TfrmMarkedFiles::ApplyView() {
    std::vector<std::wstring> selected;
    for (int r : SelectedRows()) selected.push_back(Row(r).File.Path);
    int focusedIndex = -1;
    if (list_) {
        const int focused = ListView_GetNextItem(list_, -1, LVNI_FOCUSED);
        if (focused >= 0 && focused < RowCount()) focusedIndex = view_[std::size_t(focused)];
    }

    const std::wstring filter = Lower(ControlText(GetDlgItem(hwnd_, kMfFilter)));
    const std::wstring marker = ComboSelection(GetDlgItem(hwnd_, kMfMarker));
    const std::wstring color = ComboSelection(GetDlgItem(hwnd_, kMfColor));
    const bool anyMarker = marker.empty() || marker == kAllMarkers;
    const bool anyColor = color.empty() || color == kAllColors;
    viewNeedsLooks_ = !filter.empty() || !anyMarker || !anyColor ||
                      (sortColumn_ >= 0 && sortColumn_ != kColName && sortColumn_ != kColFolder &&
                       sortColumn_ != kColTime);

    view_.clear();
    view_.reserve(rows_.size());
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        TRow& row = *rows_[i];
        if (!anyMarker || !anyColor) {
            const TMarking m = MarkingOf(row);
            if (!anyMarker && (marker == kNoMarker ? m.Known && !m.MarkerFile.empty() : MarkerLabel(m) != marker))
                continue;
            if (!anyColor && (color == kNoColorText ? m.Known && m.Color != kNoColor : ColorText(m.Color) != color))
                continue;
        }
        if (!filter.empty()) {
            bool hit = false;
            for (int c : {kColName, kColFolder, kColState, kColMarker, kColColor})
                if (Lower(Text(row, c)).find(filter) != std::wstring::npos) {
                    hit = true;
                    break;
                }
            if (!hit) continue;
        }
        view_.push_back(int(i));
    }
    if (sortColumn_ >= 0) {
        std::vector<std::wstring> keys(rows_.size());
        for (int i : view_) keys[std::size_t(i)] = Text(*rows_[std::size_t(i)], sortColumn_);
        std::stable_sort(view_.begin(), view_.end(), [&](int a, int b) {
            const int c = _wcsicmp(keys[std::size_t(a)].c_str(), keys[std::size_t(b)].c_str());
            return sortDescending_ ? c > 0 : c < 0;
        });
    }
    if (!list_) return;
    SendMessageW(list_, WM_SETREDRAW, FALSE, 0);
    ListView_SetItemState(list_, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
    ListView_SetItemCountEx(list_, int(view_.size()), LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL);
    for (int r = 0; r < RowCount(); ++r) {
        const std::wstring& path = Row(r).File.Path;
        UINT state = 0;
        if (view_[std::size_t(r)] == focusedIndex) state |= LVIS_FOCUSED;
        if (!selected.empty() && std::find(selected.begin(), selected.end(), path) != selected.end())
            state |= LVIS_SELECTED;
        if (state) ListView_SetItemState(list_, r, state, state);
    }
    SendMessageW(list_, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list_, nullptr, TRUE);
    UpdateStatus();
    UpdateButtons();
}

void TfrmMarkedFiles::SortBy(int column) {
    if (column < 0 || column >= kColumns) return;
    sortDescending_ = column == sortColumn_ ? !sortDescending_ : false;
    sortColumn_ = column;
    HWND header = ListView_GetHeader(list_);
    for (int c = 0; c < kColumns; ++c) {
        HDITEMW item{};
        item.mask = HDI_FORMAT;
        Header_GetItem(header, c, &item);
        item.fmt &= ~(HDF_SORTUP | HDF_SORTDOWN);
        if (c == column) item.fmt |= sortDescending_ ? HDF_SORTDOWN : HDF_SORTUP;
        Header_SetItem(header, c, &item);
    }
    ApplyView();
}

std::wstring TfrmMarkedFiles::StatusText() const { return ControlText(GetDlgItem(hwnd_, kMfStatus)); }

void TfrmMarkedFiles::UpdateStatus() {
    if (!hwnd_) return;
    std::size_t marked = 0, lost = 0, missing = 0, unknown = 0;
    for (const auto& row : rows_) {
        if (row->Status.load() != 2) {
            ++unknown;
            continue;
        }
        switch (row->Look.State) {
            case TMarkState::Marked: ++marked; break;
            case TMarkState::Lost: ++lost; break;
            case TMarkState::Missing: ++missing; break;
            default: ++unknown;
        }
    }
    std::wstring text = std::to_wstring(rows_.size()) + L" files: " + std::to_wstring(marked) + L" marked, " +
                        std::to_wstring(lost) + L" marking lost, " + std::to_wstring(missing) + L" file missing";
    if (unknown) text += L", " + std::to_wstring(unknown) + L" being looked at";
    text += L"; " + std::to_wstring(view_.size()) + L" shown, " + std::to_wstring(SelectedRows().size()) +
            L" selected.";
    if (!recordsFailure_.empty()) text += L" Marking records not read: " + recordsFailure_;
    SetWindowTextW(GetDlgItem(hwnd_, kMfStatus), text.c_str());
}

std::vector<int> TfrmMarkedFiles::SelectedRows() const {
    std::vector<int> rows;
    if (!list_) return rows;
    // Only rows the view has: while rows are reloaded the control may count more.
    for (int i = ListView_GetNextItem(list_, -1, LVNI_SELECTED); i >= 0; i = ListView_GetNextItem(list_, i, LVNI_SELECTED))
        if (i < RowCount()) rows.push_back(i);
    return rows;
}

void TfrmMarkedFiles::SelectRows(const std::vector<int>& rows) {
    ListView_SetItemState(list_, -1, 0, LVIS_SELECTED);
    for (int r : rows) ListView_SetItemState(list_, r, LVIS_SELECTED, LVIS_SELECTED);
    if (!rows.empty()) {
        ListView_SetItemState(list_, rows.front(), LVIS_FOCUSED, LVIS_FOCUSED);
        ListView_EnsureVisible(list_, rows.front(), FALSE);
    }
    UpdateButtons();
    UpdateStatus();
}

std::vector<TfrmMarkedFiles::TRow*> TfrmMarkedFiles::Selection() {
    std::vector<TRow*> rows;
    for (int r : SelectedRows()) rows.push_back(&Row(r));
    return rows;
}

void TfrmMarkedFiles::UpdateButtons() {
    if (!hwnd_) return;
    bool any = false, lost = false, marked = false, missing = false;
    for (TRow* row : Selection()) {
        any = true;
        const TFileLook* look = Look(*row);
        if (!look) continue;
        lost |= look->State == TMarkState::Lost && MarkingOf(*row).Known;
        marked |= look->State == TMarkState::Marked || look->State == TMarkState::Lost;
        missing |= look->State == TMarkState::Missing;
    }
    EnableWindow(GetDlgItem(hwnd_, kMfShowInFolder), any);
    EnableWindow(GetDlgItem(hwnd_, kMfReapply), lost);
    EnableWindow(GetDlgItem(hwnd_, kMfRemoveMarking), marked);
    EnableWindow(GetDlgItem(hwnd_, kMfRemoveMissing), missing);
}

// --- actions -------------------------------------------------------------------------

void TfrmMarkedFiles::RunEngine(const std::function<void()>& work) {
    if (running_) return;
    running_ = true;
    StopLooks();  // the rows change under the operation
    try {
        if (runner_)
            runner_(work);
        else
            RunWithProgressWindow(hwnd_, work);
    } catch (...) {
        running_ = false;
        throw;
    }
    running_ = false;
    Reload();
}

void TfrmMarkedFiles::ShowInFolder() {
    // Per folder one Explorer window with that folder's selected files selected; a missing
    // file's folder opens without a selection when it is there.
    std::map<std::wstring, std::vector<std::wstring>> byFolder;
    for (TRow* row : Selection()) byFolder[row->Folder].push_back(row->File.Path);
    if (byFolder.empty()) return;
    const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    for (const auto& [folder, files] : byFolder) {
        PIDLIST_ABSOLUTE folderItem = ILCreateFromPathW(folder.c_str());
        if (!folderItem) continue;
        std::vector<PIDLIST_ABSOLUTE> children;
        for (const std::wstring& file : files)
            if (FileExists(file))
                if (PIDLIST_ABSOLUTE child = ILCreateFromPathW(file.c_str())) children.push_back(child);
        std::vector<PCUITEMID_CHILD> items;
        for (PIDLIST_ABSOLUTE child : children) items.push_back(ILFindLastID(child));
        if (FAILED(SHOpenFolderAndSelectItems(folderItem, UINT(items.size()), items.empty() ? nullptr : items.data(), 0)))
            ShellExecuteW(hwnd_, L"open", folder.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
        for (PIDLIST_ABSOLUTE child : children) ILFree(child);
        ILFree(folderItem);
    }
    if (SUCCEEDED(init)) CoUninitialize();
}

void TfrmMarkedFiles::ReapplySelected() {
    std::vector<TReapplyItem> items;
    for (TRow* row : Selection()) {
        const TFileLook* look = Look(*row);
        const TMarking m = MarkingOf(*row);
        if (!look || look->State != TMarkState::Lost || !m.Known) continue;
        items.push_back({row->File.Path, m.MarkerFile, m.MarkerIndex, m.Color, m.FromFileData});
    }
    if (items.empty()) return;
    RunEngine([&] { ReapplyMarkings(TVantrel::Core(), items); });
}

void TfrmMarkedFiles::RemoveSelectedMarkings(bool confirmed) {
    std::vector<std::wstring> marked, lost;
    for (TRow* row : Selection()) {
        const TFileLook* look = Look(*row);
        if (!look) continue;
        if (look->State == TMarkState::Marked) marked.push_back(row->File.Path);
        if (look->State == TMarkState::Lost) lost.push_back(row->File.Path);
    }
    const std::size_t count = marked.size() + lost.size();
    if (count == 0) return;
    if (!confirmed) {
        const std::wstring text = count == 1 ? L"Remove the marking of \"" + FileNameOf(marked.empty() ? lost[0] : marked[0]) + L"\"?"
                                             : L"Remove the markings of " + std::to_wstring(count) + L" files?";
        if (MessageBoxW(hwnd_, (text + L"\r\n\r\nThe files get their type's icon back. This can't be undone.").c_str(),
                        kAppTitle, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES)
            return;
    }
    RunEngine([&] {
        if (!marked.empty()) {
            TVantrel& engine = TVantrel::Core();
            engine.FileList = marked;
            engine.RestoreDefault();
        }
        // A lost marking has nothing left in the file: the list forgets it.
        if (!lost.empty()) ForgetMarkedFiles(lost);
    });
}

void TfrmMarkedFiles::RemoveSelectedMissing() {
    std::vector<std::wstring> missing;
    for (TRow* row : Selection()) {
        const TFileLook* look = Look(*row);
        if (look && look->State == TMarkState::Missing) missing.push_back(row->File.Path);
    }
    if (missing.empty()) return;
    RunEngine([&] { ForgetMarkedFiles(missing); });
}

void TfrmMarkedFiles::Close() {
    StopLooks();
    done_ = true;
    // Outside a modal loop (a test, the benchmark) the window goes at once.
    PostMessageW(hwnd_, WM_NULL, 0, 0);
}

// --- messages ------------------------------------------------------------------------

bool TfrmMarkedFiles::KeyFilter(const MSG& msg) {
    if (msg.message != WM_KEYDOWN) return false;
    const bool inList = msg.hwnd == list_;
    switch (msg.wParam) {
        case VK_F5:
            Reload();
            return true;
        case VK_RETURN:
            if (!inList) return false;
            if (IsWindowEnabled(GetDlgItem(hwnd_, kMfReapply)))
                ReapplySelected();
            else
                ShowInFolder();
            return true;
        case VK_DELETE:
            if (!inList) return false;
            RemoveSelectedMarkings();
            return true;
        case 'A':
            if (!inList || !(GetKeyState(VK_CONTROL) & 0x8000)) return false;
            ListView_SetItemState(list_, -1, LVIS_SELECTED, LVIS_SELECTED);
            return true;
    }
    return false;
}

void TfrmMarkedFiles::ContextMenu(int x, int y) {
    if (x == -1 && y == -1) {  // from the keyboard: at the focused row
        RECT r{};
        const int focused = ListView_GetNextItem(list_, -1, LVNI_FOCUSED);
        if (focused < 0 || !ListView_GetItemRect(list_, focused, &r, LVIR_LABEL)) GetClientRect(list_, &r);
        POINT pt{r.left, r.bottom};
        ClientToScreen(list_, &pt);
        x = pt.x;
        y = pt.y;
    }
    HMENU menu = CreatePopupMenu();
    auto item = [&](int id, const wchar_t* text) {
        AppendMenuW(menu, MF_STRING | (IsWindowEnabled(GetDlgItem(hwnd_, id)) ? 0 : MF_GRAYED), UINT_PTR(id), text);
    };
    item(kMfShowInFolder, L"Show in F&older");
    item(kMfReapply, L"Re-&apply");
    item(kMfRemoveMarking, L"Remo&ve Marking...\tDel");
    item(kMfRemoveMissing, L"Remove Mi&ssing from the List");
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    item(kMfRefresh, L"R&efresh\tF5");
    const int chosen = TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, x, y, 0, hwnd_, nullptr);
    DestroyMenu(menu);
    if (chosen) Command(chosen, BN_CLICKED);
}

void TfrmMarkedFiles::Command(int id, int code) {
    switch (id) {
        case kMfClose: Close(); break;
        case kMfShowInFolder: ShowInFolder(); break;
        case kMfReapply: ReapplySelected(); break;
        case kMfRemoveMarking: RemoveSelectedMarkings(); break;
        case kMfRemoveMissing: RemoveSelectedMissing(); break;
        case kMfRefresh: Reload(); break;
        case kMfFilter:
            if (code == EN_CHANGE) ApplyView();
            break;
        case kMfMarker:
        case kMfColor:
            if (code == CBN_SELCHANGE) ApplyView();
            break;
    }
}

LRESULT TfrmMarkedFiles::Notify(NMHDR* header) {
    if (header->hwndFrom != list_) return 0;
    switch (header->code) {
        case LVN_GETDISPINFOW: {
            auto* info = reinterpret_cast<NMLVDISPINFOW*>(header);
            const int item = info->item.iItem;
            if (item < 0 || item >= RowCount()) return 0;
            TRow& row = Row(item);
            if (info->item.mask & LVIF_IMAGE) info->item.iImage = ImageOf(row);
            if ((info->item.mask & LVIF_TEXT) && info->item.pszText && info->item.cchTextMax > 0) {
                Look(row);
                const std::wstring text = Text(row, info->item.iSubItem);
                lstrcpynW(info->item.pszText, text.c_str(), info->item.cchTextMax);
            }
            return 0;
        }
        case LVN_GETINFOTIPW: {
            auto* tip = reinterpret_cast<NMLVGETINFOTIPW*>(header);
            if (tip->iItem >= 0 && tip->iItem < RowCount() && tip->cchTextMax > 0) {
                TRow& row = Row(tip->iItem);
                const TMarking m = MarkingOf(row);
                std::wstring text = row.File.Path;
                if (m.Known && !m.MarkerFile.empty()) {
                    text += L"\r\nMarker library: " + m.MarkerFile;
                    if (LibraryRefused(m.MarkerFile, m.FromFileData))
                        text += L"\r\n(on a network location, named only by the file's own data: not opened)";
                }
                if (row.Status.load() == 2 && !row.Look.Damage.empty()) text += L"\r\n" + row.Look.Damage;
                lstrcpynW(tip->pszText, text.c_str(), tip->cchTextMax);
            }
            return 0;
        }
        case LVN_COLUMNCLICK:
            SortBy(reinterpret_cast<NMLISTVIEW*>(header)->iSubItem);
            return 0;
        case LVN_ITEMCHANGED:
        case LVN_ODSTATECHANGED:
            UpdateButtons();
            UpdateStatus();
            return 0;
        case NM_DBLCLK:
        case NM_RETURN:
            return 0;
    }
    return 0;
}

LRESULT CALLBACK TfrmMarkedFiles::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* self = FromHandle(hwnd);
    if (msg == WM_NCCREATE) {
        self = static_cast<TfrmMarkedFiles*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->hwnd_ = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    if (!self) return DefWindowProcW(hwnd, msg, wParam, lParam);
    try {
        return self->HandleMessage(msg, wParam, lParam);
    } catch (const std::exception& e) {
        if (msg == WM_CREATE) return -1;
        ShowFailureDialog(hwnd, kAppTitle, Utf8ToWide(e.what()));
    } catch (...) {
        if (msg == WM_CREATE) return -1;
        ShowFailureDialog(hwnd, kAppTitle, L"Unknown failure");
    }
    return 0;
}

LRESULT TfrmMarkedFiles::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_CREATE:
            CreateControls();
            return 0;
        case WM_SIZE:
            Layout();
            return 0;
        case WM_GETMINMAXINFO: {
            auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
            info->ptMinTrackSize.x = ScaleForDpi(kMinWidth, dpi_);
            info->ptMinTrackSize.y = ScaleForDpi(kMinHeight, dpi_);
            return 0;
        }
        case WM_COMMAND:
            Command(LOWORD(wParam), HIWORD(wParam));
            return 0;
        case WM_NOTIFY:
            return Notify(reinterpret_cast<NMHDR*>(lParam));
        case WM_CONTEXTMENU:
            if (reinterpret_cast<HWND>(wParam) == list_) {
                ContextMenu(short(LOWORD(lParam)), short(HIWORD(lParam)));
                return 0;
            }
            break;
        case kLooksMessage:
            UpdateStatus();
            if (wParam == 1) {
                FillCombos();
                if (viewNeedsLooks_) ApplyView();
                UpdateButtons();
            }
            InvalidateRect(list_, nullptr, FALSE);
            return 0;
        case kReportMessage:
            if (!pendingReport_.empty()) {
                reportedProblem_ = UnreadableLinesMessage(recordsFile_, pendingReport_);
                pendingReport_.clear();
                MessageBoxW(hwnd_, reportedProblem_.c_str(), kAppTitle, MB_OK | MB_ICONWARNING);
            }
            return 0;
        case WM_DPICHANGED:
            OnDpiChanged(HIWORD(wParam), reinterpret_cast<const RECT*>(lParam));
            return 0;
        case WM_CLOSE:
            if (!running_) Close();
            return 0;
        case WM_DESTROY:
            StopLooks();
            return 0;
        case WM_NCDESTROY:
            SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
            hwnd_ = nullptr;
            list_ = nullptr;
            return 0;
    }
    return DefWindowProcW(hwnd_, msg, wParam, lParam);
}

void TfrmMarkedFiles::WaitForLooks() {
    const ULONGLONG deadline = GetTickCount64() + 120000;
    while (!LooksDone() && GetTickCount64() < deadline) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(1);
    }
    // The worker's last message, so the view holds what it found.
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    StopLooks();
    if (hwnd_) {
        FillCombos();
        if (viewNeedsLooks_) ApplyView();
        UpdateStatus();
        UpdateButtons();
    }
}

void ShowMarkedFiles(HWND owner, TOperationRunner runner) {
    TfrmMarkedFiles form(std::move(runner));
    form.Create(owner);
    form.RunModal();
}

}  // namespace vantrel
