// What the program's modal windows (the error report, the About box) share: sizes at
// the owner's DPI, the system message font, child controls, placement and the modal
// message loop.
#pragma once

#include <windows.h>

#include "app/window/WindowDpi.h"

#include <functional>
#include <string>

namespace vantrel {

// A function of a system DLL that older Windows versions may lack; nullptr when the
// DLL is not loaded or does not export it.
template <typename Function>
Function SystemFunction(const wchar_t* module, const char* name) {
    HMODULE handle = GetModuleHandleW(module);
    if (!handle) return nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(handle, name)));
}

// A window class of the program, registered on first use: later calls find it there.
struct TWindowClass {
    const wchar_t* Name;
    WNDPROC Proc;
    int Background = COLOR_BTNFACE;  // a system colour index, or -1 for no background
    int WindowExtra = 0;
    UINT Style = 0;
    const wchar_t* Cursor = IDC_ARROW;
    bool ProgramIcon = false;  // the program's own icon (resource 1) for the window
};
// Throws vantrel::Error when the class can be neither registered nor found.
void RegisterWindowClass(const TWindowClass& windowClass);

// A size given at 96 DPI, at the given DPI.
int ScaleForDpi(int value96, int dpi);

// The system message font at the given DPI; percent scales its height, bold its weight.
// Never null: when the system does not name the font, a plain one of the same use.
HFONT CreateMessageFont(int dpi, int percent = 100, bool bold = false);

// Extent of a text in a font: one line, or wrapped at wrapWidth when that is positive.
SIZE TextExtent(HFONT font, const std::wstring& text, int wrapWidth = 0);

// Draws a path on one line, vertically centred in the rectangle, in the DC's font and
// colours. When it is wider than the rectangle, the platform's path ellipsis takes out
// the middle, so the start and the last part (the file name) show; a list of files of
// one folder then reads by their names. Returns the text drawn.
std::wstring DrawPathText(HDC dc, const std::wstring& path, RECT rect);

// A visible child control with the given font (none: the system font).
HWND AddControl(HWND parent, const wchar_t* cls, const wchar_t* text, DWORD style, int x, int y, int w, int h, int id,
                HFONT font, DWORD exStyle = 0);

// Window size that gives the client size with these styles at the DPI.
SIZE WindowSizeForClient(int clientWidth, int clientHeight, DWORD style, DWORD exStyle, int dpi);

// Work area of the monitor that shows the window (the primary monitor for none).
RECT MonitorWorkArea(HWND window);
// A rectangle of the size moved, as little as needed, into the area.
RECT KeepInside(RECT rect, const RECT& area);
// Where a window of the size goes: centred on the owner's monitor's work area, or, with
// overOwner, centred over the owner when it is shown; always inside the work area.
POINT PlaceWindow(HWND owner, SIZE size, bool overOwner);

// Gives a window's focused control the focus back when the window is active again
// (after a file dialog, or another program): call it on WM_ACTIVATE with a place for
// the control; true when it set the focus, and the message is then handled.
bool KeepFocusOverActivation(HWND window, WPARAM activation, HWND& focused);

// Runs a modal window until done turns true: the owner is disabled meanwhile, keys go
// through the dialog manager (Tab, Enter, Esc, mnemonics) after keyFilter has seen
// them (true: handled), and the focused push button is the default one, which Enter
// presses; elsewhere the window's DM_GETDEFID button is. At the end the owner is enabled before the window goes, so
// Windows gives the activation back to it, and is made active. A quit message met on
// the way is left for the outer loop.
void RunModalWindow(HWND window, HWND owner, HWND focus, const bool& done,
                    const std::function<bool(const MSG&)>& keyFilter = {});

}  // namespace vantrel
