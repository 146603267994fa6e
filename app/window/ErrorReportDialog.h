// The error report dialog: a summary, the report in a fixed-pitch area, OK, Save (as
// .log) and Ctrl+C to copy the whole report. The engine shows its per-file report in it;
// a failure shows it folded, the report area behind "&Details".
#pragma once

#include <string>
#include <vector>

#include "app/engine/OperationFeedback.h"

namespace vantrel {

// Shows the dialog modally; its caption is "<appTitle> - Error". The report text is
// BuildErrorReportText's.
void ShowErrorReportDialog(const std::wstring& appTitle, const std::wstring& summary,
                           const std::vector<std::wstring>& lines);

// The engine's report shown in that dialog.
class TReportDialogView final : public IErrorReportView {
public:
    void ShowReport(const std::wstring& appTitle, const std::wstring& summary,
                    const std::vector<std::wstring>& lines) override;
};
// The program's one report view, which its entry and the main window hand the engine.
IErrorReportView& ReportDialogView();

// Shows the dialog for a failure, modally over the owner (may be null), which is
// disabled meanwhile: the caption "<appTitle> - Error", the error icon, the message,
// "&OK" and "&Details". It starts folded; Details unfolds the report area with the
// whole report and "&Save...", growing the window, and folds it again. Ctrl+C copies
// and Save writes the whole report.
void ShowFoldedErrorReportDialog(void* ownerWindow, const std::wstring& appTitle, const std::wstring& message,
                                 const std::wstring& report);

// Control identifiers, for anyone driving the dialog.
enum ErrorReportControl : int {
    kReportOk = 1,  // IDOK
    kReportSave = 101,
    kReportDetails = 102,  // the report area
    kReportSummaryText = 103,
    kReportIcon = 104,
    kReportDetailsButton = 105,  // "&Details", in the folded dialog only
};

// Window class name of the dialog.
extern const wchar_t kErrorReportClass[];

// Writes the report to a file: ANSI when every character fits the code page,
// otherwise UTF-8 with a byte-order mark, so no character is lost.
void SaveReportText(const std::wstring& path, const std::wstring& text);

// Puts the text on the clipboard as Unicode text; false when the clipboard is busy.
bool CopyTextToClipboard(void* ownerWindow, const std::wstring& text);

}  // namespace vantrel
