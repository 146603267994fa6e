// The main window's small dialogs: the About box, the update check's answer and the
// dialog for a failure that escapes a window operation.
#pragma once

#include <windows.h>

#include <string>

namespace vantrel {

// The program's version as its version resource states it ("1.0.1.0"); empty when the
// resource cannot be read.
std::wstring ProgramVersionText();

// The modal About box: product name "Vantrel", the version, links to the maker's web site
// and contact page that open in the default browser.
void ShowAboutBox(HWND owner);

// "Check for Updates Now": says which version is installed and that no update service
// is configured for this copy (no request is made).
void ShowUpdateCheckResult(HWND owner);

// A failure that escaped a window operation: a modal dialog "<appTitle> - Error" with the
// message, "&OK" and "&Details"; Details unfolds a report with the failure and the
// system's details (Windows version, processor, memory, display) that can be copied and
// saved as a .log file.
void ShowFailureDialog(HWND owner, const std::wstring& appTitle, const std::wstring& message);

// The report behind Details: the failure, then the system's details.
std::wstring BuildFailureReport(const std::wstring& appTitle, const std::wstring& message);

// The file version a program file's version resource states; empty when the file has no
// readable one.
std::wstring FileVersionText(const std::wstring& path);

// Opens an address in the default browser. The program uses ShellExecuteW; a test can put
// another opener in its place to see what a link asks for.
using UrlOpener = void (*)(HWND owner, const std::wstring& url);
// Sets the opener (nullptr: the browser) and returns the one before.
UrlOpener SetUrlOpener(UrlOpener opener);

// Window class names, for anyone driving the dialogs.
extern const wchar_t kAboutBoxClass[];

// Control identifiers of the About box.
enum AboutBoxControl : int {
    kAboutOk = IDOK,
    kAboutWebSiteLink = 201,
    kAboutContactLink = 202,
};

}  // namespace vantrel
