#include "app/window/DialogSupport.h"

#include <algorithm>
#include <vector>

#include "app/common/TextConv.h"
#include "imaging/Error.h"

namespace vantrel {

void RegisterWindowClass(const TWindowClass& windowClass) {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW existing{};
    existing.cbSize = sizeof(existing);
    if (GetClassInfoExW(instance, windowClass.Name, &existing)) return;
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.style = windowClass.Style;
    wc.lpfnWndProc = windowClass.Proc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, windowClass.Cursor);
    wc.hbrBackground = windowClass.Background >= 0 ? GetSysColorBrush(windowClass.Background) : nullptr;
    wc.lpszClassName = windowClass.Name;
    wc.cbWndExtra = windowClass.WindowExtra;
    if (windowClass.ProgramIcon) {
        wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
        wc.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON,
                                                   GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
    }
    if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        throw Error("The window class could not be registered: " + WideToUtf8(SystemErrorMessage(GetLastError())));
}

int ScaleForDpi(int value96, int dpi) { return MulDiv(value96, dpi, 96); }

HFONT CreateMessageFont(int dpi, int percent, bool bold) {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof(metrics);
    LOGFONTW font{};
    bool named = SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0) != FALSE;
    if (!named) {
        // Systems before Vista know the structure without its last field.
        metrics.cbSize = offsetof(NONCLIENTMETRICSW, iPaddedBorderWidth);
        named = SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0) != FALSE;
    }
    if (named) {
        font = metrics.lfMessageFont;
        // The system states the font at the system DPI.
        font.lfHeight = MulDiv(font.lfHeight, dpi, int(SystemDpi()));
    } else {
        font.lfHeight = -MulDiv(9, dpi, 72);
        font.lfCharSet = DEFAULT_CHARSET;
        wcscpy_s(font.lfFaceName, L"Segoe UI");
    }
    if (font.lfHeight == 0) font.lfHeight = -MulDiv(9, dpi, 72);
    font.lfHeight = MulDiv(font.lfHeight, percent, 100);
    font.lfWidth = 0;
    if (bold) font.lfWeight = FW_BOLD;
    HFONT handle = CreateFontIndirectW(&font);
    return handle ? handle : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
}

SIZE TextExtent(HFONT font, const std::wstring& text, int wrapWidth) {
    SIZE size{0, 0};
    HDC dc = GetDC(nullptr);
    if (!dc) return size;
    HGDIOBJ old = font ? SelectObject(dc, font) : nullptr;
    RECT rc{0, 0, wrapWidth > 0 ? wrapWidth : 0, 0};
    UINT format = DT_CALCRECT | DT_NOPREFIX;
    format |= wrapWidth > 0 ? DT_WORDBREAK | DT_EDITCONTROL : DT_SINGLELINE;
    // An empty text still takes one line.
    const std::wstring measured = text.empty() ? std::wstring(L" ") : text;
    DrawTextW(dc, measured.c_str(), static_cast<int>(measured.size()), &rc, format);
    size.cx = rc.right - rc.left;
    size.cy = rc.bottom - rc.top;
    if (old) SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    return size;
}

std::wstring DrawPathText(HDC dc, const std::wstring& path, RECT rect) {
    // The platform writes the elided text back: up to four characters more than the path.
    std::vector<wchar_t> text(path.size() + 5, L'\0');
    std::copy(path.begin(), path.end(), text.begin());
    DrawTextW(dc, text.data(), -1, &rect,
              DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_PATH_ELLIPSIS | DT_MODIFYSTRING);
    text.back() = L'\0';
    return text.data();
}

HWND AddControl(HWND parent, const wchar_t* cls, const wchar_t* text, DWORD style, int x, int y, int w, int h, int id,
                HFONT font, DWORD exStyle) {
    HWND hwnd = CreateWindowExW(exStyle, cls, text, WS_CHILD | WS_VISIBLE | style, x, y, w, h, parent,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
    if (hwnd && font) SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    return hwnd;
}

SIZE WindowSizeForClient(int clientWidth, int clientHeight, DWORD style, DWORD exStyle, int dpi) {
    RECT rc{0, 0, clientWidth, clientHeight};
    AdjustWindowRectForDpi(rc, style, false, exStyle, UINT(dpi));
    return {rc.right - rc.left, rc.bottom - rc.top};
}

RECT MonitorWorkArea(HWND window) {
    HMONITOR monitor = window ? MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST)
                              : MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
    MONITORINFO info{};
    info.cbSize = sizeof(info);
    if (monitor && GetMonitorInfoW(monitor, &info)) return info.rcWork;
    RECT work{};
    if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0))
        work = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    return work;
}

RECT KeepInside(RECT rect, const RECT& area) {
    const LONG w = rect.right - rect.left, h = rect.bottom - rect.top;
    LONG x = std::min(rect.left, area.right - w);
    LONG y = std::min(rect.top, area.bottom - h);
    // A window larger than the area keeps its caption and left edge in view.
    x = std::max(x, area.left);
    y = std::max(y, area.top);
    return {x, y, x + w, y + h};
}

POINT PlaceWindow(HWND owner, SIZE size, bool overOwner) {
    const RECT work = MonitorWorkArea(owner);
    RECT around = work;
    RECT ownerRect{};
    if (overOwner && owner && IsWindowVisible(owner) && !IsIconic(owner) && GetWindowRect(owner, &ownerRect))
        around = ownerRect;
    const LONG x = around.left + ((around.right - around.left) - size.cx) / 2;
    const LONG y = around.top + ((around.bottom - around.top) - size.cy) / 2;
    const RECT placed = KeepInside({x, y, x + size.cx, y + size.cy}, work);
    return {placed.left, placed.top};
}

bool KeepFocusOverActivation(HWND window, WPARAM activation, HWND& focused) {
    if (LOWORD(activation) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus && IsChild(window, focus)) focused = focus;
        return false;
    }
    if (!focused || !IsWindow(focused) || !IsChild(window, focused) || !IsWindowVisible(focused) ||
        !IsWindowEnabled(focused))
        return false;
    SetFocus(focused);
    return true;
}

namespace {

bool IsPushButton(HWND control) {
    return control && (SendMessageW(control, WM_GETDLGCODE, 0, 0) & (DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON)) != 0;
}

// As in any dialog, the focused push button is the default one, and while the focus is
// elsewhere the window's default button (DM_GETDEFID) is.
void ShowDefaultButton(HWND window) {
    HWND target = GetFocus();
    if (!target || !IsChild(window, target) || !IsPushButton(target)) {
        const LRESULT defId = SendMessageW(window, DM_GETDEFID, 0, 0);
        target = HIWORD(defId) == DC_HASDEFID ? GetDlgItem(window, LOWORD(defId)) : nullptr;
    }
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (!IsPushButton(child)) continue;
        const bool isDefault = (SendMessageW(child, WM_GETDLGCODE, 0, 0) & DLGC_DEFPUSHBUTTON) != 0;
        if (isDefault != (child == target))
            SendMessageW(child, BM_SETSTYLE, child == target ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON, TRUE);
    }
}

}  // namespace

void RunModalWindow(HWND window, HWND owner, HWND focus, const bool& done,
                    const std::function<bool(const MSG&)>& keyFilter) {
    // An owner that was already disabled (a modal window of its own) stays so.
    const bool enableOwner = owner && IsWindowEnabled(owner);
    if (enableOwner) EnableWindow(owner, FALSE);
    ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
    if (focus) SetFocus(focus);

    HWND lastFocus = GetFocus();
    ShowDefaultButton(window);
    MSG msg;
    while (!done && IsWindow(window)) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        if (got < 0) break;
        const bool ours = msg.hwnd == window || IsChild(window, msg.hwnd);
        if (ours && keyFilter && (msg.message == WM_KEYDOWN || msg.message == WM_SYSKEYDOWN) && keyFilter(msg))
            continue;
        if (!ours || !IsDialogMessageW(window, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (!done && GetFocus() != lastFocus && IsWindow(window)) {
            lastFocus = GetFocus();
            ShowDefaultButton(window);
        }
    }
    if (enableOwner) EnableWindow(owner, TRUE);
    if (IsWindow(window)) DestroyWindow(window);
    if (owner && IsWindow(owner)) SetActiveWindow(owner);
}

}  // namespace vantrel
