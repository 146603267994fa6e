#include "app/window/ErrorReportDialog.h"

#include <windows.h>
#include <commdlg.h>

#include "app/common/FileHelpers.h"
#include "app/common/TextConv.h"
#include "imaging/Error.h"

namespace vantrel {

const wchar_t kErrorReportClass[] = L"TVantrelErrorReport";

std::wstring BuildErrorReportText(const std::wstring& summary, const std::vector<std::wstring>& lines) {
    std::wstring text = summary;
    if (text.empty() || (text.back() != L'\n' && text.back() != L'\r')) text += L"\r\n";
    text += L"\r\n";
    for (const std::wstring& line : lines) {
        text += line;
        text += L"\r\n";
    }
    return text;
}

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

struct ReportState {
    std::wstring text;
    HFONT uiFont = nullptr;
    HFONT fixedFont = nullptr;
    bool done = false;
};

const int kWidth = 620;
const int kHeight = 420;

HWND AddControl(HWND parent, const wchar_t* cls, const wchar_t* text, DWORD style, int x, int y, int w, int h, int id,
                HFONT font, DWORD exStyle = 0) {
    HWND hwnd = CreateWindowExW(exStyle, cls, text, WS_CHILD | WS_VISIBLE | style, x, y, w, h, parent,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
    if (hwnd && font) SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    return hwnd;
}

void Layout(HWND hwnd) {
    RECT rc;
    GetClientRect(hwnd, &rc);
    const int w = rc.right, h = rc.bottom;
    MoveWindow(GetDlgItem(hwnd, kReportSummaryText), 56, 16, w - 68, 32, TRUE);
    MoveWindow(GetDlgItem(hwnd, kReportDetails), 12, 58, w - 24, h - 58 - 48, TRUE);
    MoveWindow(GetDlgItem(hwnd, kReportSave), w - 12 - 96 - 8 - 88, h - 38, 96, 26, TRUE);
    MoveWindow(GetDlgItem(hwnd, kReportOk), w - 12 - 88, h - 38, 88, 26, TRUE);
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
            Layout(hwnd);
            return 0;
        case WM_GETMINMAXINFO: {
            auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
            info->ptMinTrackSize = {360, 240};
            return 0;
        }
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
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDOK:
                case IDCANCEL:
                    if (state) state->done = true;
                    DestroyWindow(hwnd);
                    return 0;
                case kReportSave:
                    if (state) SaveAs(hwnd, state);
                    return 0;
            }
            break;
        case WM_CLOSE:
            if (state) state->done = true;
            DestroyWindow(hwnd);
            return 0;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

void RegisterReportClass() {
    static bool registered = false;
    if (registered) return;
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = ReportProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    wc.lpszClassName = kErrorReportClass;
    wc.cbWndExtra = DLGWINDOWEXTRA;
    registered = RegisterClassExW(&wc) != 0;
}

HFONT MessageFont() {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof(metrics);
    if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0))
        return CreateFontIndirectW(&metrics.lfMessageFont);
    return nullptr;
}

}  // namespace

void ShowErrorReportDialog(const std::wstring& appTitle, const std::wstring& summary,
                           const std::vector<std::wstring>& lines) {
    RegisterReportClass();
    ReportState state;
    state.text = BuildErrorReportText(summary, lines);
    state.uiFont = MessageFont();
    state.fixedFont = CreateFontW(-13, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                  CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FIXED_PITCH | FF_MODERN, L"Courier New");

    HWND owner = GetActiveWindow();
    const std::wstring caption = appTitle + L" - Error";
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    const int x = work.left + ((work.right - work.left) - kWidth) / 2;
    const int y = work.top + ((work.bottom - work.top) - kHeight) / 2;
    HWND hwnd = CreateWindowExW(WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT, kErrorReportClass, caption.c_str(),
                                WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME, x, y, kWidth, kHeight, owner,
                                nullptr, GetModuleHandleW(nullptr), &state);
    if (!hwnd) {
        // Without a window the report still reaches the user.
        MessageBoxW(owner, state.text.c_str(), caption.c_str(), MB_OK | MB_ICONERROR);
        if (state.uiFont) DeleteObject(state.uiFont);
        if (state.fixedFont) DeleteObject(state.fixedFont);
        return;
    }

    HWND icon = AddControl(hwnd, L"STATIC", nullptr, SS_ICON, 12, 12, 32, 32, 104, nullptr);
    SendMessageW(icon, STM_SETICON, reinterpret_cast<WPARAM>(LoadIconW(nullptr, IDI_ERROR)), 0);
    AddControl(hwnd, L"EDIT", summary.c_str(), ES_MULTILINE | ES_READONLY | WS_TABSTOP, 0, 0, 10, 10,
               kReportSummaryText, state.uiFont);
    std::wstring details;
    for (const std::wstring& line : lines) details += line + L"\r\n";
    AddControl(hwnd, L"EDIT", details.c_str(),
               ES_MULTILINE | ES_READONLY | ES_AUTOHSCROLL | ES_AUTOVSCROLL | WS_HSCROLL | WS_VSCROLL | WS_TABSTOP, 0,
               0, 10, 10, kReportDetails, state.fixedFont, WS_EX_CLIENTEDGE);
    AddControl(hwnd, L"BUTTON", L"&Save...", BS_PUSHBUTTON | WS_TABSTOP, 0, 0, 10, 10, kReportSave, state.uiFont);
    HWND ok = AddControl(hwnd, L"BUTTON", L"&OK", BS_DEFPUSHBUTTON | WS_TABSTOP, 0, 0, 10, 10, kReportOk, state.uiFont);
    Layout(hwnd);

    if (owner) EnableWindow(owner, FALSE);
    ShowWindow(hwnd, SW_SHOW);
    SetForegroundWindow(hwnd);
    SetFocus(ok);
    MessageBeep(MB_ICONHAND);

    MSG msg;
    while (!state.done && IsWindow(hwnd)) {
        BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
            PostQuitMessage(static_cast<int>(msg.wParam));  // leave the quit for the outer loop
            break;
        }
        if (got < 0) break;
        const bool ours = msg.hwnd == hwnd || IsChild(hwnd, msg.hwnd);
        if (ours && msg.message == WM_KEYDOWN && msg.wParam == 'C' && (GetKeyState(VK_CONTROL) & 0x8000)) {
            CopyTextToClipboard(hwnd, state.text);
            MessageBeep(MB_OK);
            continue;
        }
        if (ours && IsDialogMessageW(hwnd, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    if (IsWindow(hwnd)) DestroyWindow(hwnd);
    if (owner) {
        EnableWindow(owner, TRUE);
        SetActiveWindow(owner);
    }
    if (state.uiFont) DeleteObject(state.uiFont);
    if (state.fixedFont) DeleteObject(state.fixedFont);
}

}  // namespace vantrel
