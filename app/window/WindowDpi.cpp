#include "app/window/WindowDpi.h"

namespace vantrel {

namespace {

// Windows 10 queries, not declared for the program's minimum Windows version.
using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
using GetSystemMetricsForDpiFn = int(WINAPI*)(int, UINT);
using AdjustWindowRectExForDpiFn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
using SetProcessDpiAwarenessContextFn = BOOL(WINAPI*)(HANDLE);
using SetProcessDPIAwareFn = BOOL(WINAPI*)();

FARPROC User32Function(const char* name) {
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    return user32 ? GetProcAddress(user32, name) : nullptr;
}

// The logical DPI of the screen, which system-DPI-aware metrics are scaled to.
UINT ScreenDpi() {
    UINT dpi = 96;
    if (HDC screen = GetDC(nullptr)) {
        const int value = GetDeviceCaps(screen, LOGPIXELSX);
        if (value > 0) dpi = UINT(value);
        ReleaseDC(nullptr, screen);
    }
    return dpi;
}

WindowDpiSource g_dpiSource = nullptr;

}  // namespace

UINT SystemDpi() { return ScreenDpi(); }

void EnablePerMonitorDpiAwareness() {
    const auto setContext = reinterpret_cast<SetProcessDpiAwarenessContextFn>(
        reinterpret_cast<void*>(User32Function("SetProcessDpiAwarenessContext")));
    // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2, then the first per-monitor version.
    if (setContext && (setContext(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4))) ||
                       setContext(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-3)))))
        return;
    if (const auto aware =
            reinterpret_cast<SetProcessDPIAwareFn>(reinterpret_cast<void*>(User32Function("SetProcessDPIAware"))))
        aware();
}

void AdjustWindowRectForDpi(RECT& rect, DWORD style, bool menu, DWORD exStyle, UINT dpi) {
    static const auto forDpi = reinterpret_cast<AdjustWindowRectExForDpiFn>(
        reinterpret_cast<void*>(User32Function("AdjustWindowRectExForDpi")));
    if (forDpi && forDpi(&rect, style, menu, exStyle, dpi)) return;
    AdjustWindowRectEx(&rect, style, menu, exStyle);
}

UINT QueryWindowDpi(HWND window) {
    static const auto getDpiForWindow =
        reinterpret_cast<GetDpiForWindowFn>(reinterpret_cast<void*>(User32Function("GetDpiForWindow")));
    if (getDpiForWindow && window) {
        const UINT dpi = getDpiForWindow(window);
        if (dpi > 0) return dpi;
    }
    return ScreenDpi();
}

void SetWindowDpiSource(WindowDpiSource source) { g_dpiSource = source; }

UINT WindowDpi(HWND window) { return g_dpiSource ? g_dpiSource(window) : QueryWindowDpi(window); }

int SystemMetricForDpi(int index, UINT dpi) {
    static const auto forDpi = reinterpret_cast<GetSystemMetricsForDpiFn>(
        reinterpret_cast<void*>(User32Function("GetSystemMetricsForDpi")));
    if (dpi == 0) dpi = 96;
    if (forDpi) return forDpi(index, dpi);
    return MulDiv(GetSystemMetrics(index), int(dpi), int(ScreenDpi()));
}

}  // namespace vantrel
