// The per-file error report: a modal dialog with a summary, the report lines in a
// fixed-pitch area, OK, Save (as .log) and Ctrl+C to copy the whole report.
#pragma once

#include <string>
#include <vector>

namespace vantrel {

// The report text: the summary ended by a line break, an empty line, then each
// report line ended by a line break.
std::wstring BuildErrorReportText(const std::wstring& summary, const std::vector<std::wstring>& lines);

// Shows the dialog modally; its caption is "<appTitle> - Error".
void ShowErrorReportDialog(const std::wstring& appTitle, const std::wstring& summary,
                           const std::vector<std::wstring>& lines);

// Control identifiers, for anyone driving the dialog.
enum ErrorReportControl : int {
    kReportOk = 1,  // IDOK
    kReportSave = 101,
    kReportDetails = 102,
    kReportSummaryText = 103,
};

// Window class name of the dialog.
extern const wchar_t kErrorReportClass[];

// Writes the report to a file: ANSI when every character fits the code page,
// otherwise UTF-8 with a byte-order mark, so no character is lost.
void SaveReportText(const std::wstring& path, const std::wstring& text);

// Puts the text on the clipboard as Unicode text; false when the clipboard is busy.
bool CopyTextToClipboard(void* ownerWindow, const std::wstring& text);

}  // namespace vantrel
