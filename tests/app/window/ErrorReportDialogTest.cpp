#include "app/window/ErrorReportDialog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "TestSupport.h"

using namespace vantrel;
using namespace testsupport;

namespace {

std::wstring ClipboardText() {
    std::wstring text;
    for (int i = 0; i < 20 && !OpenClipboard(nullptr); ++i) Sleep(50);
    if (HANDLE h = GetClipboardData(CF_UNICODETEXT)) {
        if (auto* p = static_cast<const wchar_t*>(GlobalLock(h))) {
            text = p;
            GlobalUnlock(h);
        }
    }
    CloseClipboard();
    return text;
}

void PressCtrlC() {
    INPUT in[4] = {};
    for (auto& i : in) i.type = INPUT_KEYBOARD;
    in[0].ki.wVk = VK_CONTROL;
    in[1].ki.wVk = 'C';
    in[2].ki.wVk = 'C';
    in[2].ki.dwFlags = KEYEVENTF_KEYUP;
    in[3].ki.wVk = VK_CONTROL;
    in[3].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(4, in, sizeof(INPUT));
}

}  // namespace

TEST(ErrorReport, TextLayout) {
    EXPECT_EQ(BuildErrorReportText(L"Error(s) occured", {L"C:\\a.txt", L"Bad.\r\nWorse.", L"", L""}),
              L"Error(s) occured\r\n\r\nC:\\a.txt\r\nBad.\r\nWorse.\r\n\r\n\r\n");
    EXPECT_EQ(BuildErrorReportText(L"Summary\r\n", {}), L"Summary\r\n\r\n");
}

TEST(ErrorReport, SavedTextKeepsEveryCharacter) {
    TempDir t;
    SaveReportText(t / L"plain.log", L"Error(s) occured\r\n\r\nC:\\a.txt\r\n");
    EXPECT_EQ(ReadFile(t / L"plain.log"), "Error(s) occured\r\n\r\nC:\\a.txt\r\n");
    // A path the code page cannot hold is written as UTF-8 with a byte-order mark.
    SaveReportText(t / L"wide.log", L"C:\\\u65E5.txt\r\n");
    EXPECT_EQ(ReadFile(t / L"wide.log"), "\xEF\xBB\xBF" "C:\\\xE6\x97\xA5.txt\r\n");
}

TEST(ErrorReport, DialogShowsCopiesSavesAndCloses) {
    TempDir t;
    const std::wstring saved = t / L"report.log";
    const std::vector<std::wstring> lines = {L"C:\\docs\\a.txt", L"Sorry, this file type is not supported.\r\nTry another.",
                                             L"", L""};
    const std::wstring expected = BuildErrorReportText(L"Error(s) occured", lines);

    std::atomic<bool> watcherDone{false};
    std::wstring caption, summary, details, copied;
    bool sawSaveDialog = false;
    std::thread watcher([&] {
        // Found once it answers messages: while it is still being made, a busy machine lets
        // the cross-thread reads of its texts time out.
        HWND dialog = WaitForOwnWindow(
            [](HWND h) { return ClassName(h) == kErrorReportClass && IsWindowVisible(h) && !WindowText(h).empty(); });
        if (!dialog) {
            watcherDone = true;
            return;
        }
        caption = WindowText(dialog);
        summary = WindowText(GetDlgItem(dialog, kReportSummaryText));
        details = WindowText(GetDlgItem(dialog, kReportDetails));

        // Ctrl+C copies the whole report.
        OpenClipboard(nullptr);
        EmptyClipboard();
        CloseClipboard();
        SetForegroundWindow(dialog);
        for (int i = 0; i < 100 && GetForegroundWindow() != dialog; ++i) Sleep(50);
        Sleep(200);
        PressCtrlC();
        for (int i = 0; i < 40 && copied.empty(); ++i) {
            Sleep(50);
            copied = ClipboardText();
        }

        // Save through the file dialog.
        PressButton(dialog, kReportSave);
        HWND save = WaitForOwnWindow([](HWND h) { return WindowText(h) == L"Save log as..."; });
        if (save) {
            sawSaveDialog = true;
            HWND name = GetDlgItem(save, 0x47C);  // the file name box
            if (!name) name = GetDlgItem(save, 0x480);
            SendMessageW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(saved.c_str()));
            PressButton(save, IDOK);
            for (int i = 0; i < 100 && IsWindow(save); ++i) Sleep(50);
        }
        PressButton(dialog, kReportOk);
        watcherDone = true;
    });

    ShowErrorReportDialog(L"Vantrel", L"Error(s) occured", lines);
    watcher.join();
    ASSERT_TRUE(watcherDone);
    EXPECT_EQ(caption, L"Vantrel - Error");
    EXPECT_EQ(summary, L"Error(s) occured");
    EXPECT_EQ(details, L"C:\\docs\\a.txt\r\nSorry, this file type is not supported.\r\nTry another.\r\n\r\n\r\n");
    EXPECT_EQ(copied, expected);
    EXPECT_TRUE(sawSaveDialog);
    std::string ansi;
    for (wchar_t c : expected) ansi += static_cast<char>(c);
    EXPECT_EQ(ReadFile(saved), ansi);
}
