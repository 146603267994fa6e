// vantrel_drive: starts a Windows program, reports every message box and error report it
// shows (title and text) and presses OK on it, then prints the program's exit status and returns it.
// The demo uses it to show what Vantrel.exe did without anyone at the keyboard.
#include <windows.h>

#include <cstdio>
#include <string>

#include "TestSupport.h"
#include "app/common/TextConv.h"
#include "app/window/ErrorReportDialog.h"

using namespace testsupport;

namespace {

void Print(const std::wstring& text) {
    std::string utf8 = vantrel::WideToUtf8(text);
    fwrite(utf8.data(), 1, utf8.size(), stdout);
    fflush(stdout);
}

std::wstring OneLine(std::wstring text) {
    std::wstring out;
    for (wchar_t c : text) {
        if (c == L'\r') continue;
        out += c == L'\n' ? std::wstring(L" | ") : std::wstring(1, c);
    }
    return out;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        Print(L"usage: vantrel_drive <program.exe> [arguments...]\n");
        return 2;
    }
    PROCESS_INFORMATION pi{};
    if (!StartProcess(argv[1], std::vector<std::wstring>(argv + 2, argv + argc), pi)) {
        Print(L"cannot start " + std::wstring(argv[1]) + L": " + vantrel::SystemErrorMessage(GetLastError()) + L"\n");
        return 2;
    }
    const DWORD start = GetTickCount();
    while (WaitForSingleObject(pi.hProcess, 50) == WAIT_TIMEOUT) {
        for (HWND w : ProcessWindows(pi.dwProcessId)) {
            if (ClassName(w) == vantrel::kErrorReportClass) {
                Print(L"  error report \"" + WindowText(w) + L"\":\n");
                std::wstring details = WindowText(GetDlgItem(w, vantrel::kReportDetails));
                std::wstring line;
                for (wchar_t c : details) {
                    if (c == L'\r') continue;
                    if (c == L'\n') {
                        if (!line.empty()) Print(L"    | " + line + L"\n");
                        line.clear();
                    } else {
                        line += c;
                    }
                }
                PressButton(w, vantrel::kReportOk);
                Sleep(200);
                continue;
            }
            if (ClassName(w) != L"#32770") continue;
            Print(L"  message box \"" + WindowText(w) + L"\": " + OneLine(WindowText(GetDlgItem(w, 0xFFFF))) + L"\n");
            PressButton(w, IDOK);
            Sleep(200);
        }
        if (GetTickCount() - start > 120000) {
            Print(L"  no end after 120 s: stopped\n");
            TerminateProcess(pi.hProcess, 99);
        }
    }
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    Print(L"  exit status " + std::to_wstring(code) + L"\n");
    return static_cast<int>(code);
}
