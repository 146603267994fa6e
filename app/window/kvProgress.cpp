#include "app/window/kvProgress.h"

#include <windows.h>
#include <commctrl.h>

#include "app/window/DialogSupport.h"

namespace vantrel {

const wchar_t kProgressClass[] = L"TfProgress";

namespace {

struct TfProgress {
    HWND window = nullptr;
    HWND label = nullptr;
    HWND pbProcess = nullptr;
    HWND pbInfinit = nullptr;
    HFONT font = nullptr;
    HFONT boldFont = nullptr;
    HCURSOR savedCursor = nullptr;
    bool marqueePending = true;
};

TfProgress g_progress;

LRESULT CALLBACK ProgressProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_SETCURSOR:
            SetCursor(LoadCursorW(nullptr, IDC_WAIT));
            return TRUE;
        case WM_SHOWWINDOW:
        case WM_ACTIVATE:
            // Paint the label at once, even before the first message loop turn.
            if (g_progress.label) UpdateWindow(g_progress.label);
            break;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

HFONT MakeFont(bool bold) {
    HDC dc = GetDC(nullptr);
    int height = -MulDiv(8, GetDeviceCaps(dc, LOGPIXELSY), 72);
    ReleaseDC(nullptr, dc);
    return CreateFontW(height, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS,
                       L"MS Sans Serif");
}

void CreateProgressWindow() {
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&icc);
    HINSTANCE instance = GetModuleHandleW(nullptr);
    RegisterWindowClass({kProgressClass, ProgressProc, COLOR_BTNFACE, 0, 0, IDC_WAIT, true});

    const int clientW = 234, clientH = 53;
    RECT rc{0, 0, clientW, clientH};
    AdjustWindowRectEx(&rc, WS_POPUP, FALSE, WS_EX_TOOLWINDOW);
    const int w = rc.right - rc.left, h = rc.bottom - rc.top;
    const int x = (GetSystemMetrics(SM_CXSCREEN) - w) / 2;
    const int y = (GetSystemMetrics(SM_CYSCREEN) - h) / 2;
    HWND hwnd = CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_TOPMOST, kProgressClass, L"Time to finish", WS_POPUP, x, y, w,
                                h, nullptr, nullptr, instance, nullptr);
    if (!hwnd) return;
    g_progress.window = hwnd;
    g_progress.font = MakeFont(false);
    g_progress.boldFont = MakeFont(true);

    CreateWindowExW(0, L"STATIC", nullptr, WS_CHILD | WS_VISIBLE | SS_ETCHEDFRAME, 3, 3, 228, 47, hwnd, nullptr,
                    instance, nullptr);
    g_progress.label = CreateWindowExW(0, L"STATIC", L"Processing. Please wait...", WS_CHILD | WS_VISIBLE, 8, 8, 200,
                                       16, hwnd, reinterpret_cast<HMENU>(kProgressLabel), instance, nullptr);
    SendMessageW(g_progress.label, WM_SETFONT, reinterpret_cast<WPARAM>(g_progress.boldFont), FALSE);
    g_progress.pbProcess = CreateWindowExW(0, PROGRESS_CLASSW, nullptr, WS_CHILD | WS_VISIBLE, 8, 26, 217, 16, hwnd,
                                           reinterpret_cast<HMENU>(kProgressBar), instance, nullptr);
    g_progress.pbInfinit = CreateWindowExW(0, PROGRESS_CLASSW, nullptr, WS_CHILD, 8, 26, 217, 16, hwnd,
                                           reinterpret_cast<HMENU>(kProgressMarquee), instance, nullptr);
    SendMessageW(g_progress.pbProcess, PBM_SETSTEP, 1, 0);
    SendMessageW(g_progress.pbInfinit, PBM_SETSTEP, 1, 0);
    SetWindowPos(g_progress.pbInfinit, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

}  // namespace

void ShowProgress(int count) {
    if (!g_progress.window) CreateProgressWindow();
    if (!g_progress.window) return;
    if (count == -1) {
        ShowWindow(g_progress.pbProcess, SW_HIDE);
        ShowWindow(g_progress.pbInfinit, SW_SHOW);
        if (g_progress.marqueePending) {
            LONG_PTR style = GetWindowLongPtrW(g_progress.pbInfinit, GWL_STYLE);
            SetWindowLongPtrW(g_progress.pbInfinit, GWL_STYLE, style | PBS_MARQUEE);
            SendMessageW(g_progress.pbInfinit, PBM_SETMARQUEE, TRUE, 70);
            g_progress.marqueePending = false;
        }
    } else {
        ShowWindow(g_progress.pbProcess, SW_SHOW);
        ShowWindow(g_progress.pbInfinit, SW_HIDE);
        SendMessageW(g_progress.pbProcess, PBM_SETRANGE32, 0, count);
        SendMessageW(g_progress.pbProcess, PBM_SETPOS, 0, 0);
    }
    g_progress.savedCursor = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
    ShowWindow(g_progress.window, SW_SHOWNOACTIVATE);
    UpdateWindow(g_progress.window);
}

void HideProgress() {
    if (!g_progress.window) return;
    SetCursor(g_progress.savedCursor ? g_progress.savedCursor : LoadCursorW(nullptr, IDC_ARROW));
    ShowWindow(g_progress.window, SW_HIDE);
}

void ProcessPendingMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));  // leave it for the main loop
            break;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

IOperationProgress& ProgressWindow() {
    static TProgressWindow progress;
    return progress;
}

void FreeProgress() {
    if (g_progress.window) DestroyWindow(g_progress.window);
    if (g_progress.font) DeleteObject(g_progress.font);
    if (g_progress.boldFont) DeleteObject(g_progress.boldFont);
    g_progress = TfProgress{};
}

}  // namespace vantrel
