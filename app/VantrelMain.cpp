// Program entry of Vantrel.exe.
#include "imaging/IconLibrary.h"  // before windows.h and its RGB macros

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include "app/CmdParams.h"
#include "app/common/LogFile.h"
#include "app/common/TextConv.h"
#include "app/engine/VantrelClass.h"
#include "app/window/ErrorReportDialog.h"
#include "app/window/WindowDpi.h"
#include "app/window/MainForm.h"
#include "app/window/kvProgress.h"
#include "imaging/ImagingLog.h"

using namespace vantrel;

namespace {

// The imaging code's log lines go to the program's log.
void ImagingToLog(const std::wstring& text, const std::wstring& category, int level, bool formatted) {
    if (formatted)
        LogFormat(L"%s", {text}, level, category);
    else
        LogMessage(text, category, level);
}

const wchar_t kApplicationTitle[] = L"Vantrel";

void ShowFatalError(const std::wstring& message) {
    MessageBoxW(nullptr, message.c_str(), kApplicationTitle, MB_OK | MB_ICONERROR | MB_TASKMODAL);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    EnablePerMonitorDpiAwareness();
    HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_WIN95_CLASSES | ICC_PROGRESS_CLASS | ICC_TAB_CLASSES | ICC_LINK_CLASS};
    InitCommonControlsEx(&icc);

    SetImagingLogSink(&ImagingToLog);
    // Reading the icon groups of a large library lets the windows repaint in between.
    SetProcessMessagesHook(&ProcessPendingMessages);
    int exitCode = 0;
    try {
        TVantrel::InitCore();
        // The command line's operations show the progress window and the report dialog.
        TVantrel::Core().SetProgress(&ProgressWindow());
        TVantrel::Core().SetReportView(&ReportDialogView());
        if (!RunCommandLine()) RunMainWindow(kApplicationTitle);
    } catch (const std::exception& e) {
        ShowFatalError(Utf8ToWide(e.what()));
        exitCode = 1;
    } catch (...) {
        ShowFatalError(L"Unknown failure");
        exitCode = 1;
    }

    // Shutdown: the engine object goes last (list file deletion, "Program closed").
    FreeProgress();
    try {
        TVantrel::DoneCore();
    } catch (...) {
    }
    CloseLog();
    if (SUCCEEDED(com)) CoUninitialize();
    return exitCode;
}
