#include "app/window/ErrorReportDialog.h"

#include <windows.h>
#include <commdlg.h>

#include <algorithm>

#include "app/common/FileHelpers.h"
#include "app/common/TextConv.h"
#include "app/window/DialogSupport.h"
#include "imaging/Error.h"

namespace vantrel {

const wchar_t kErrorReportClass[] = L"TVantrelErrorReport";

void SaveReportText(const std::wstring& path, const std::wstring& text) {
    bool lossless = true;
    std::string bytes = WideToAnsi(text, &lossless);
    if (!lossless) bytes = "\xEF\xBB\xBF" + WideToUtf8(text);
    WriteFileBytes(path, bytes.data(), bytes.size());
}

bool CopyTextToClipboard(void* ownerWindow, const std::wstring& text) {
    if (!OpenClipboard(static_cast<HWND>(ownerWindow))) return false;
    EmptyClipboard();
    const std::size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
    bool ok = false;
    if (memory) {
        if (void* p = GlobalLock(memory)) {
            memcpy(p, text.c_str(), bytes);
            GlobalUnlock(memory);
            ok = SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
        }
        if (!ok) GlobalFree(memory);
    }
    CloseClipboard();
    return ok;
}

namespace {

// The dialog comes in two forms: the engine's report, always unfolded and resizable,
// and a failure's, which starts folded to the message and unfolds on "&Details".
struct ReportSetup {
    HWND owner = nullptr;
    std::wstring caption;
    std::wstring summary;
    std::wstring details;  // the report area's text
    std::wstring text;     // what Ctrl+C copies and Save writes
    bool foldable = false;
};

struct ReportState {
    std::wstring text;
    HFONT uiFont = nullptr;
    HFONT fixedFont = nullptr;
    int dpi = 96;
    bool foldable = false;
    bool unfolded = true;
    int summaryHeight = 0;  // pixels at the dialog's DPI, like every size below
    SIZE foldedClient{};
    SIZE unfoldedWindow{};  // the size an unfolded dialog has, kept while it is folded
    HWND focused = nullptr;
    bool done = false;
};

// Sizes at 96 DPI.
const int kWidth = 620;  // the engine's report: window size
const int kHeight = 420;
const int kFoldedClientWidth = 440;
const int kUnfoldedClientWidth = 600;
const int kReportAreaHeight = 320;
const int kSummaryMinHeight = 32;
const int kSummaryMaxHeight = 200;

const DWORD kStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU;  // WS_THICKFRAME while unfolded
const DWORD kExStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;

int Px(const ReportState& s, int value96) { return ScaleForDpi(value96, s.dpi); }

void Layout(HWND hwnd, const ReportState& s) {
    RECT rc;
    GetClientRect(hwnd, &rc);
    const int w = rc.right, h = rc.bottom;
    const int top = Px(s, 16);
    MoveWindow(GetDlgItem(hwnd, kReportSummaryText), Px(s, 56), top, w - Px(s, 68), s.summaryHeight, TRUE);
    const int detailsTop = top + s.summaryHeight + Px(s, 10);
    MoveWindow(GetDlgItem(hwnd, kReportDetails), Px(s, 12), detailsTop, w - Px(s, 24),
               (std::max)(0, h - detailsTop - Px(s, 48)), TRUE);
    // The buttons from the right: OK, Details (folded form only), Save.
    const int y = h - Px(s, 38), height = Px(s, 26), wide = Px(s, 96), gap = Px(s, 8);
    int x = w - Px(s, 12) - Px(s, 88);
    MoveWindow(GetDlgItem(hwnd, kReportOk), x, y, Px(s, 88), height, TRUE);
    if (s.foldable) {
        x -= gap + wide;
        MoveWindow(GetDlgItem(hwnd, kReportDetailsButton), x, y, wide, height, TRUE);
    }
    x -= gap + wide;
    MoveWindow(GetDlgItem(hwnd, kReportSave), x, y, wide, height, TRUE);
}

void SetUnfolded(HWND hwnd, ReportState& s, bool unfolded) {
    if (s.unfolded == unfolded) return;
    RECT now;
    GetWindowRect(hwnd, &now);
    if (s.unfolded) s.unfoldedWindow = {now.right - now.left, now.bottom - now.top};
    s.unfolded = unfolded;

    HWND report = GetDlgItem(hwnd, kReportDetails), save = GetDlgItem(hwnd, kReportSave);
    HWND focus = GetFocus();
    if (!unfolded && (focus == report || focus == save)) SetFocus(GetDlgItem(hwnd, kReportDetailsButton));
    ShowWindow(report, unfolded ? SW_SHOW : SW_HIDE);
    ShowWindow(save, unfolded ? SW_SHOW : SW_HIDE);

    // Only the unfolded dialog can be resized.
    const DWORD style = kStyle | (unfolded ? WS_THICKFRAME : 0);
    SetWindowLongPtrW(hwnd, GWL_STYLE,
                      (GetWindowLongPtrW(hwnd, GWL_STYLE) & ~static_cast<LONG_PTR>(WS_THICKFRAME)) |
                          (unfolded ? WS_THICKFRAME : 0));
    const SIZE size =
        unfolded ? s.unfoldedWindow : WindowSizeForClient(s.foldedClient.cx, s.foldedClient.cy, style, kExStyle, s.dpi);
    const RECT placed = KeepInside({now.left, now.top, now.left + size.cx, now.top + size.cy}, MonitorWorkArea(hwnd));
    SetWindowPos(hwnd, nullptr, placed.left, placed.top, size.cx, size.cy,
                 SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
    Layout(hwnd, s);
}

void SaveAs(HWND hwnd, ReportState* state) {
    wchar_t file[32768] = L"filename.log";
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = hwnd;
    ofn.lpstrFilter = L"Log Files (*.log)\0*.log\0All files (*.*)\0*.*\0\0";
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file;
    ofn.nMaxFile = static_cast<DWORD>(sizeof(file) / sizeof(file[0]));
    ofn.lpstrTitle = L"Save log as...";
    ofn.lpstrDefExt = L"log";
    ofn.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_EXPLORER;
    if (!GetSaveFileNameW(&ofn)) return;
    try {
        SaveReportText(file, state->text);
    } catch (const std::exception& e) {
        MessageBoxW(hwnd, Utf8ToWide(e.what()).c_str(), L"Save log as...", MB_OK | MB_ICONERROR);
    }
}

LRESULT CALLBACK ReportProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* state = reinterpret_cast<ReportState*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    switch (msg) {
        case WM_NCCREATE: {
            auto* cs = reinterpret_cast<CREATESTRUCTW*>(lParam);
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
            break;
        }
        case WM_SIZE:
            if (state) Layout(hwnd, *state);
            return 0;
        case WM_GETMINMAXINFO: {
            auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
            if (!state) {
                info->ptMinTrackSize = {360, 240};
            } else if (!state->foldable) {
                info->ptMinTrackSize = {Px(*state, 360), Px(*state, 240)};
            } else if (state->unfolded) {
                // Room for the report area below the message and the buttons.
                const SIZE least = WindowSizeForClient(Px(*state, 360), state->foldedClient.cy + Px(*state, 100),
                                                       kStyle | WS_THICKFRAME, kExStyle, state->dpi);
                info->ptMinTrackSize = {least.cx, least.cy};
            }
            return 0;
        }
        case WM_ACTIVATE:
            if (state && KeepFocusOverActivation(hwnd, wParam, state->focused)) return 0;
            break;
        case DM_GETDEFID:
            return MAKELRESULT(kReportOk, DC_HASDEFID);
        case WM_CTLCOLORSTATIC: {
            // Read-only edits: the report area stays white to be read; the summary
            // blends with the dialog.
            const bool details = reinterpret_cast<HWND>(lParam) == GetDlgItem(hwnd, kReportDetails);
            const int colour = details ? COLOR_WINDOW : COLOR_BTNFACE;
            HDC dc = reinterpret_cast<HDC>(wParam);
            SetBkColor(dc, GetSysColor(colour));
            SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
            return reinterpret_cast<LRESULT>(GetSysColorBrush(colour));
        }
        case WM_COMMAND: {
            if (HIWORD(wParam) != BN_CLICKED) break;
            switch (LOWORD(wParam)) {
                case IDOK:
                case IDCANCEL:
                    if (state) state->done = true;
                    return 0;
                case kReportSave:
                    if (state) SaveAs(hwnd, state);
                    return 0;
                case kReportDetailsButton:
                    if (state && state->foldable) SetUnfolded(hwnd, *state, !state->unfolded);
                    return 0;
            }
            break;
        }
        case WM_CLOSE:
            if (state) state->done = true;
            return 0;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}


void ShowReport(const ReportSetup& setup) {
    RegisterWindowClass({kErrorReportClass, ReportProc, COLOR_BTNFACE, DLGWINDOWEXTRA});
    ReportState state;
    state.text = setup.text;
    state.dpi = WindowDpi(setup.owner);
    state.foldable = setup.foldable;
    state.unfolded = !setup.foldable;
    state.uiFont = CreateMessageFont(state.dpi);
    state.fixedFont = CreateFontW(-Px(state, 13), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                  OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FIXED_PITCH | FF_MODERN,
                                  L"Courier New");

    // The folded dialog is as tall as its message needs, up to a limit past which the
    // message scrolls.
    bool summaryScrolls = false;
    SIZE size{Px(state, kWidth), Px(state, kHeight)};
    state.summaryHeight = Px(state, kSummaryMinHeight);
    if (setup.foldable) {
        state.foldedClient.cx = Px(state, kFoldedClientWidth);
        const int wrap = state.foldedClient.cx - Px(state, 68) - Px(state, 8);  // less the edit's margins
        const int needed = TextExtent(state.uiFont, setup.summary, wrap).cy + Px(state, 4);
        summaryScrolls = needed > Px(state, kSummaryMaxHeight);
        state.summaryHeight = std::clamp(needed, Px(state, kSummaryMinHeight), Px(state, kSummaryMaxHeight));
        state.foldedClient.cy = Px(state, 16) + state.summaryHeight + Px(state, 54);
        size = WindowSizeForClient(state.foldedClient.cx, state.foldedClient.cy, kStyle, kExStyle, state.dpi);
        state.unfoldedWindow =
            WindowSizeForClient(Px(state, kUnfoldedClientWidth), state.foldedClient.cy + Px(state, kReportAreaHeight),
                                kStyle | WS_THICKFRAME, kExStyle, state.dpi);
    }

    const POINT at = PlaceWindow(setup.owner, size, setup.foldable);
    HWND hwnd = CreateWindowExW(kExStyle, kErrorReportClass, setup.caption.c_str(),
                                kStyle | (state.unfolded ? WS_THICKFRAME : 0), at.x, at.y, size.cx, size.cy,
                                setup.owner, nullptr, GetModuleHandleW(nullptr), &state);
    if (!hwnd) {
        // Without a window the report still reaches the user.
        MessageBoxW(setup.owner, state.text.c_str(), setup.caption.c_str(), MB_OK | MB_ICONERROR);
        DeleteObject(state.uiFont);
        if (state.fixedFont) DeleteObject(state.fixedFont);
        return;
    }

    HWND icon = AddControl(hwnd, L"STATIC", nullptr, SS_ICON, Px(state, 12), Px(state, 12), Px(state, 32),
                           Px(state, 32), kReportIcon, nullptr);
    SendMessageW(icon, STM_SETICON, reinterpret_cast<WPARAM>(LoadIconW(nullptr, IDI_ERROR)), 0);
    AddControl(hwnd, L"EDIT", setup.summary.c_str(),
               ES_MULTILINE | ES_READONLY | WS_TABSTOP | (summaryScrolls ? WS_VSCROLL : 0), 0, 0, 10, 10,
               kReportSummaryText, state.uiFont);
    HWND report = AddControl(
        hwnd, L"EDIT", setup.details.c_str(),
        ES_MULTILINE | ES_READONLY | ES_AUTOHSCROLL | ES_AUTOVSCROLL | WS_HSCROLL | WS_VSCROLL | WS_TABSTOP, 0, 0, 10,
        10, kReportDetails, state.fixedFont, WS_EX_CLIENTEDGE);
    HWND save =
        AddControl(hwnd, L"BUTTON", L"&Save...", BS_PUSHBUTTON | WS_TABSTOP, 0, 0, 10, 10, kReportSave, state.uiFont);
    if (setup.foldable)
        AddControl(hwnd, L"BUTTON", L"&Details", BS_PUSHBUTTON | WS_TABSTOP, 0, 0, 10, 10, kReportDetailsButton,
                   state.uiFont);
    HWND ok = AddControl(hwnd, L"BUTTON", L"&OK", BS_DEFPUSHBUTTON | WS_TABSTOP, 0, 0, 10, 10, kReportOk, state.uiFont);
    if (!state.unfolded) {
        ShowWindow(report, SW_HIDE);
        ShowWindow(save, SW_HIDE);
    }
    Layout(hwnd, state);

    MessageBeep(MB_ICONHAND);
    RunModalWindow(hwnd, setup.owner, ok, state.done, [&](const MSG& msg) {
        if (msg.message != WM_KEYDOWN || msg.wParam != 'C' || !(GetKeyState(VK_CONTROL) & 0x8000)) return false;
        CopyTextToClipboard(hwnd, state.text);
        MessageBeep(MB_OK);
        return true;
    });
    DeleteObject(state.uiFont);
    if (state.fixedFont) DeleteObject(state.fixedFont);
}

}  // namespace

void ShowErrorReportDialog(const std::wstring& appTitle, const std::wstring& summary,
                           const std::vector<std::wstring>& lines) {
    ReportSetup setup;
    setup.owner = GetActiveWindow();
    setup.caption = appTitle + L" - Error";
    setup.summary = summary;
    for (const std::wstring& line : lines) setup.details += line + L"\r\n";
    setup.text = BuildErrorReportText(summary, lines);
    ShowReport(setup);
}

void TReportDialogView::ShowReport(const std::wstring& appTitle, const std::wstring& summary,
                                   const std::vector<std::wstring>& lines) {
    ShowErrorReportDialog(appTitle, summary, lines);
}

IErrorReportView& ReportDialogView() {
    static TReportDialogView view;
    return view;
}

void ShowFoldedErrorReportDialog(void* ownerWindow, const std::wstring& appTitle, const std::wstring& message,
                                 const std::wstring& report) {
    ReportSetup setup;
    setup.owner = static_cast<HWND>(ownerWindow);
    setup.caption = appTitle + L" - Error";
    setup.summary = message;
    setup.details = report;
    setup.text = report;
    setup.foldable = true;
    ShowReport(setup);
}

}  // namespace vantrel
