// vantrel_window: starts Vantrel.exe, waits for its main window and works it the way a
// user at the keyboard and mouse would, taking pictures of what it shows. The main job
// and the screenshots use it.
//
//   vantrel_window <Vantrel.exe> [arguments...] -- <action>...
//   actions: page <n>      go to page n with Ctrl+Tab
//            select <n>    click the grid, then Home and Right n times: cell n selected
//            choose        space on the grid: the selected cell is applied
//            hover <n>     rest the mouse over cell n until its hint shows
//            hoverfile <n> rest the mouse over entry n of the file list until its hint shows
//            clickfile <n> click entry n of the file list: it alone is selected
//            shot <file>   the main window (and a hint or box over it) as a BMP file
//            about <file>  opens the About box, takes its picture, closes it with Esc
//            mode <m>      "single" or "multiple" from the Mode menu
//            marked <file> opens "Marked Files..." of the Action menu, waits until every
//                          file was looked at, takes its picture, closes it with Esc
//            addmarker <file> <name> <shot>
//                          "Add Marker..." from the Action menu: the file typed into the
//                          open dialog, the Add Marker dialog's picture taken (unless the
//                          shot is "-"), the name typed, Enter
//            remove <n> <shot>
//                          cell n selected, Delete: the question's picture taken, Yes
//            menu <n>      right click on cell n: the context menu stays open for a shot;
//                          the next action closes it with Esc
//            close         closes the window and waits for the program's end
#include "app/window/MainForm.h"  // imaging headers before windows.h and its RGB macros

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <functional>
#include <cstdio>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "app/common/TextConv.h"
#include "app/window/Dialogs.h"
#include "app/window/MarkedFilesForm.h"
#include "app/window/MarkerDialogs.h"

using namespace testsupport;

namespace {

void Print(const std::wstring& text) {
    const std::string utf8 = vantrel::WideToUtf8(text);
    fwrite(utf8.data(), 1, utf8.size(), stdout);
    fflush(stdout);
}

void Key(WORD key, bool up) {
    INPUT in{};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = key;
    in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    SendInput(1, &in, sizeof(in));
}
void Press(WORD key) {
    Key(key, false);
    Key(key, true);
    Sleep(60);
}

void MouseAt(int x, int y) {
    SetCursorPos(x, y);
    Sleep(60);
}
void Click(int x, int y, bool twice = false) {
    MouseAt(x, y);
    for (int i = 0; i < (twice ? 2 : 1); ++i) {
        INPUT in[2] = {};
        in[0].type = in[1].type = INPUT_MOUSE;
        in[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
        in[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
        SendInput(2, in, sizeof(INPUT));
        Sleep(30);
    }
    Sleep(200);
}

// Lets the program's window thread catch up with the input.
void Settle(HWND window, DWORD ms = 400) {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &result);
    Sleep(ms);
}

// Writes the screen's pixels inside a rectangle as a 24-bit BMP file.
bool SaveScreenRect(const RECT& rc, const std::wstring& file) {
    const int w = rc.right - rc.left, h = rc.bottom - rc.top;
    if (w <= 0 || h <= 0) return false;
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP bmp = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(mem, bmp);
    BitBlt(mem, 0, 0, w, h, screen, rc.left, rc.top, SRCCOPY);
    SelectObject(mem, old);
    const DWORD stride = DWORD((w * 3 + 3) & ~3);
    BITMAPFILEHEADER fh{};
    fh.bfType = 0x4D42;
    fh.bfOffBits = sizeof(fh) + sizeof(bi.bmiHeader);
    fh.bfSize = fh.bfOffBits + stride * DWORD(h);
    HANDLE out = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    bool ok = out != INVALID_HANDLE_VALUE;
    DWORD written = 0;
    if (ok) {
        ok = WriteFile(out, &fh, sizeof(fh), &written, nullptr) &&
             WriteFile(out, &bi.bmiHeader, sizeof(bi.bmiHeader), &written, nullptr) &&
             WriteFile(out, bits, stride * DWORD(h), &written, nullptr);
        CloseHandle(out);
    }
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return ok;
}

BOOL CALLBACK FindVisibleGrid(HWND child, LPARAM out) {
    if (ClassName(child) == vantrel::kMarkerGridClass && IsWindowVisible(child)) {
        *reinterpret_cast<HWND*>(out) = child;
        return FALSE;
    }
    return TRUE;
}

// The visible grid of the active page.
HWND ActiveGrid(HWND form) {
    HWND found = nullptr;
    EnumChildWindows(form, FindVisibleGrid, reinterpret_cast<LPARAM>(&found));
    return found;
}

// The screen point at the middle of a grid cell, from the grid's own layout rules.
POINT CellCentre(HWND grid, int cell) {
    RECT rc{};
    GetClientRect(grid, &rc);
    const int size = GetSystemMetrics(SM_CXICON);
    const int cols = std::max(1, int(rc.right) / size);
    POINT pt{(cell % cols) * size + size / 2, (cell / cols) * size + size / 2};
    ClientToScreen(grid, &pt);
    return pt;
}

void RightClick(int x, int y) {
    MouseAt(x, y);
    INPUT in[2] = {};
    in[0].type = in[1].type = INPUT_MOUSE;
    in[0].mi.dwFlags = MOUSEEVENTF_RIGHTDOWN;
    in[1].mi.dwFlags = MOUSEEVENTF_RIGHTUP;
    SendInput(2, in, sizeof(INPUT));
    Sleep(400);
}

// "Add Marker..." worked through: the open dialog, then the Add Marker dialog.
void AddMarker(HWND form, DWORD pid, const std::wstring& file, const std::wstring& name, const std::wstring& shot) {
    PostMessageW(form, WM_COMMAND, vantrel::kMiAddMarker, 0);
    HWND open = WaitForWindowOf(pid, [](HWND w) { return ClassName(w) == L"#32770"; });
    if (!open) {
        Print(L"  no open dialog\n");
        return;
    }
    Settle(open);
    // The file name box of the open dialog (a combo box with an edit, or a plain edit).
    HWND box = GetDlgItem(open, 0x47C);
    HWND edit = box ? FindWindowExW(box, nullptr, L"Edit", nullptr) : GetDlgItem(open, 0x480);
    SendMessageW(edit ? edit : box, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(file.c_str()));
    PostMessageW(open, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    HWND dialog = WaitForWindowOf(pid, [](HWND w) { return ClassName(w) == vantrel::kAddMarkerClass; });
    if (!dialog) {
        Print(L"  no Add Marker dialog\n");
        return;
    }
    Settle(dialog, 800);
    HWND nameBox = GetDlgItem(dialog, vantrel::kMdName);
    SendMessageW(nameBox, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(name.c_str()));
    Settle(dialog);
    if (shot != L"-") {
        RECT rc{};
        GetWindowRect(dialog, &rc);
        Print(SaveScreenRect(rc, shot) ? L"  picture " + shot + L"\n" : L"  no picture\n");
    }
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    for (int i = 0; i < 100 && IsWindow(dialog); ++i) Sleep(50);
    Print(IsWindow(dialog) ? L"  the Add Marker dialog stayed open\n" : L"  marker \"" + name + L"\" added\n");
    Settle(form);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    int split = 1;
    while (split < argc && std::wstring(argv[split]) != L"--") ++split;
    if (argc < 2 || split >= argc) {
        Print(L"usage: vantrel_window <Vantrel.exe> [arguments...] -- <action>...\n");
        return 2;
    }
    PROCESS_INFORMATION pi{};
    if (!StartProcess(argv[1], std::vector<std::wstring>(argv + 2, argv + split), pi)) {
        Print(L"cannot start " + std::wstring(argv[1]) + L"\n");
        return 2;
    }
    const DWORD pid = pi.dwProcessId;
    HWND form = WaitForWindowOf(pid, [](HWND w) { return ClassName(w) == vantrel::kMainFormClass; });
    if (!form) {
        Print(L"  no main window\n");
        TerminateProcess(pi.hProcess, 99);
        return 1;
    }
    SetForegroundWindow(form);
    Settle(form, 800);
    bool menuOpen = false;
    for (int i = split + 1; i < argc; ++i) {
        const std::wstring action = argv[i];
        if (menuOpen && action != L"shot") {
            Press(VK_ESCAPE);
            menuOpen = false;
        }
        const std::wstring arg = i + 1 < argc ? argv[i + 1] : L"";
        if (action == L"page") {
            for (int n = _wtoi(arg.c_str()); n > 0; --n) {
                Key(VK_CONTROL, false);
                Press(VK_TAB);
                Key(VK_CONTROL, true);
            }
            ++i;
        } else if (action == L"select") {
            HWND grid = ActiveGrid(form);
            RECT rc{};
            GetWindowRect(grid, &rc);
            Click(rc.left + 4, rc.top + 4);
            Press(VK_HOME);
            for (int n = _wtoi(arg.c_str()); n > 0; --n) Press(VK_RIGHT);
            ++i;
        } else if (action == L"choose") {
            Press(VK_SPACE);
        } else if (action == L"hover") {
            const POINT pt = CellCentre(ActiveGrid(form), _wtoi(arg.c_str()));
            MouseAt(pt.x + 6, pt.y + 6);  // leave the cell first, so entering it is a change
            MouseAt(pt.x, pt.y);
            MouseAt(pt.x + 1, pt.y);
            Sleep(1500);
            ++i;
        } else if (action == L"hoverfile" || action == L"clickfile") {
            HWND list = GetDlgItem(form, vantrel::kLbFiles);
            RECT item{};
            SendMessageW(list, LB_GETITEMRECT, WPARAM(_wtoi(arg.c_str())), reinterpret_cast<LPARAM>(&item));
            POINT pt{item.left + 40, (item.top + item.bottom) / 2};
            ClientToScreen(list, &pt);
            if (action == L"clickfile") {
                Click(pt.x, pt.y);
            } else {
                MouseAt(pt.x, pt.y + 40);  // from outside the entry, so entering it is a change
                MouseAt(pt.x, pt.y);
                MouseAt(pt.x + 1, pt.y);
                Sleep(1500);
            }
            ++i;
        } else if (action == L"shot") {
            Settle(form);
            RECT rc{};
            GetWindowRect(form, &rc);
            rc.bottom += 40;  // room for a hint below the last row
            rc.right += 120;
            for (HWND shown : ProcessWindows(pid)) {  // and all of a hint that reaches further
                RECT hint{};
                if (ClassName(shown) == TOOLTIPS_CLASSW && GetWindowRect(shown, &hint)) UnionRect(&rc, &rc, &hint);
            }
            Print(SaveScreenRect(rc, arg) ? L"  picture " + arg + L"\n" : L"  no picture\n");
            ++i;
        } else if (action == L"about") {
            PostMessageW(form, WM_COMMAND, vantrel::kMiAbout, 0);
            HWND box = WaitForWindowOf(pid, [](HWND w) { return ClassName(w) == vantrel::kAboutBoxClass; });
            if (box) {
                Settle(box);
                RECT rc{};
                GetWindowRect(box, &rc);
                Print(SaveScreenRect(rc, arg) ? L"  picture " + arg + L"\n" : L"  no picture\n");
                SetForegroundWindow(box);
                Press(VK_ESCAPE);
                Settle(form);
            } else {
                Print(L"  no About box\n");
            }
            ++i;
        } else if (action == L"marked") {
            PostMessageW(form, WM_COMMAND, vantrel::kMiMarkedFiles, 0);
            HWND view = WaitForWindowOf(pid, [](HWND w) { return ClassName(w) == vantrel::kMarkedFilesClass; });
            if (view) {
                // The status line counts no file "being looked at" once the look is done.
                WaitFor([view] {
                    return WindowText(GetDlgItem(view, vantrel::kMfStatus)).find(L"being looked at") ==
                           std::wstring::npos;
                });
                HWND list = GetDlgItem(view, vantrel::kMfList);
                SetForegroundWindow(view);
                SetFocus(list);
                Press(VK_DOWN);
                Settle(view, 800);
                RECT rc{};
                GetWindowRect(view, &rc);
                Print(SaveScreenRect(rc, arg) ? L"  picture " + arg + L"\n" : L"  no picture\n");
                Print(L"  " + WindowText(GetDlgItem(view, vantrel::kMfStatus)) + L"\n");
                Press(VK_ESCAPE);
                Settle(form);
            } else {
                Print(L"  no Marked Files window\n");
            }
            ++i;
        } else if (action == L"mode") {
            PostMessageW(form, WM_COMMAND, arg == L"multiple" ? vantrel::kMiMultipleFiles : vantrel::kMiSingleFile, 0);
            Settle(form);
            ++i;
        } else if (action == L"addmarker") {
            if (i + 3 < argc) AddMarker(form, pid, argv[i + 1], argv[i + 2], argv[i + 3]);
            i += 3;
        } else if (action == L"remove" && i + 2 < argc) {
            HWND grid = ActiveGrid(form);
            RECT rc{};
            GetWindowRect(grid, &rc);
            Click(rc.left + 4, rc.top + 4);
            Press(VK_HOME);
            for (int n = _wtoi(arg.c_str()); n > 0; --n) Press(VK_RIGHT);
            Press(VK_DELETE);
            HWND box = WaitForWindowOf(pid, [](HWND w) { return ClassName(w) == L"#32770" && WindowText(w) == L"My Markers"; });
            if (box) {
                Settle(box);
                GetWindowRect(box, &rc);
                const std::wstring shot = argv[i + 2];
                Print(SaveScreenRect(rc, shot) ? L"  picture " + shot + L"\n" : L"  no picture\n");
                PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDYES, BN_CLICKED), 0);
                Settle(form);
                Print(L"  marker " + arg + L" removed\n");
            } else {
                Print(L"  no question before the removal\n");
            }
            i += 2;
        } else if (action == L"menu") {
            const POINT pt = CellCentre(ActiveGrid(form), _wtoi(arg.c_str()));
            RightClick(pt.x, pt.y);
            Settle(form, 0);
            Sleep(500);
            menuOpen = true;
            ++i;
            continue;
        } else if (action == L"close") {
            PostMessageW(form, WM_CLOSE, 0, 0);
        }
        Settle(form, 200);
    }
    if (WaitForSingleObject(pi.hProcess, 30000) != WAIT_OBJECT_0) {
        PostMessageW(form, WM_CLOSE, 0, 0);
        if (WaitForSingleObject(pi.hProcess, 10000) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 99);
    }
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    Print(L"  exit status " + std::to_wstring(code) + L"\n");
    return int(code);
}
