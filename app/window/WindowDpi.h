// The DPI a window is shown at, and the system metrics the window code sizes itself by at
// that DPI. The program targets Vista and later: the per-window queries are looked up at
// run time and fall back to the screen's logical DPI where the system lacks them.
#pragma once

#include <windows.h>

namespace vantrel {

// The DPI of the monitor the window is on (96 = 100 %).
UINT WindowDpi(HWND window);

// The query behind WindowDpi. The program uses the platform's; a test can put another
// source in its place to show a window at a DPI its display does not have.
using WindowDpiSource = UINT (*)(HWND);
UINT QueryWindowDpi(HWND window);
void SetWindowDpiSource(WindowDpiSource source);  // nullptr restores the platform's

// Makes the process per-monitor DPI aware (version 2 where the system has it). The
// manifest asks for the same; this covers systems that read only the call.
void EnablePerMonitorDpiAwareness();

// The screen's logical DPI, which windows take before they know their monitor.
UINT SystemDpi();

// AdjustWindowRectExForDpi where the system has it, else AdjustWindowRectEx.
void AdjustWindowRectForDpi(RECT& rect, DWORD style, bool menu, DWORD exStyle, UINT dpi);

// GetSystemMetricsForDpi where the system has it; otherwise the system-DPI metric scaled
// from the screen's logical DPI to `dpi`.
int SystemMetricForDpi(int index, UINT dpi);

}  // namespace vantrel
