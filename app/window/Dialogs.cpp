#include "app/window/Dialogs.h"

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <vector>

#include "app/ProductInfo.h"
#include "app/common/FileHelpers.h"
#include "app/window/DialogSupport.h"
#include "app/window/ErrorReportDialog.h"
#include "app/window/SystemReport.h"

namespace vantrel {

const wchar_t kAboutBoxClass[] = L"TAboutBox";

// --- version -------------------------------------------------------------------

std::wstring FileVersionText(const std::wstring& path) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0) return {};
    std::vector<BYTE> data(size);
    if (!GetFileVersionInfoW(path.c_str(), 0, size, data.data())) return {};
    void* block = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(data.data(), L"\\", &block, &length) || !block || length < sizeof(VS_FIXEDFILEINFO))
        return {};
    const auto* info = static_cast<const VS_FIXEDFILEINFO*>(block);
    if (info->dwSignature != VS_FFI_SIGNATURE) return {};
    const unsigned parts[] = {HIWORD(info->dwFileVersionMS), LOWORD(info->dwFileVersionMS),
                              HIWORD(info->dwFileVersionLS), LOWORD(info->dwFileVersionLS)};
    std::wstring text;
    for (unsigned part : parts) text += (text.empty() ? L"" : L".") + std::to_wstring(part);
    return text;
}

std::wstring ProgramVersionText() {
    const std::wstring program = ProgramFilePath();
    return program.empty() ? std::wstring() : FileVersionText(program);
}

namespace {

std::wstring VersionOrUnknown() {
    const std::wstring version = ProgramVersionText();
    return version.empty() ? std::wstring(L"unknown") : version;
}

// --- links -----------------------------------------------------------------------

void OpenInBrowser(HWND owner, const std::wstring& url) {
    const auto result = reinterpret_cast<INT_PTR>(
        ShellExecuteW(owner, L"open", url.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    if (result > 32) return;
    const std::wstring text = L"The address " + url + L" could not be opened in the browser.";
    MessageBoxW(owner, text.c_str(), kProductName, MB_OK | MB_ICONWARNING);
}

UrlOpener g_urlOpener = OpenInBrowser;

const wchar_t* LinkUrl(UINT_PTR id) {
    switch (id) {
        case kAboutWebSiteLink:
            return kMakerWebSiteUrl;
        case kAboutContactLink:
            return kMakerContactUrl;
    }
    return nullptr;
}

std::wstring LinkMarkup(const wchar_t* url, const wchar_t* text) {
    return std::wstring(L"<a href=\"") + url + L"\">" + text + L"</a>";
}

// --- About box -------------------------------------------------------------------

struct AboutState {
    HFONT font = nullptr;
    HFONT nameFont = nullptr;
    HICON icon = nullptr;
    HWND focused = nullptr;
    bool done = false;
};

LRESULT CALLBACK AboutProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* state = reinterpret_cast<AboutState*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    switch (msg) {
        case WM_NCCREATE: {
            auto* cs = reinterpret_cast<CREATESTRUCTW*>(lParam);
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
            break;
        }
        case WM_ACTIVATE:
            if (state && KeepFocusOverActivation(hwnd, wParam, state->focused)) return 0;
            break;
        case DM_GETDEFID:
            return MAKELRESULT(kAboutOk, DC_HASDEFID);
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lParam);
            if (header->code == NM_CLICK || header->code == NM_RETURN) {
                if (const wchar_t* url = LinkUrl(header->idFrom)) {
                    g_urlOpener(hwnd, url);
                    return 0;
                }
            }
            break;
        }
        case WM_COMMAND:
            if (HIWORD(wParam) == BN_CLICKED && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
                if (state) state->done = true;
                return 0;
            }
            break;
        case WM_CLOSE:
            if (state) state->done = true;
            return 0;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}


}  // namespace

UrlOpener SetUrlOpener(UrlOpener opener) {
    UrlOpener previous = g_urlOpener;
    g_urlOpener = opener ? opener : OpenInBrowser;
    return previous;
}

void ShowAboutBox(HWND owner) {
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_LINK_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&icc);
    RegisterWindowClass({kAboutBoxClass, AboutProc, COLOR_BTNFACE, DLGWINDOWEXTRA});

    const int dpi = WindowDpi(owner);
    auto px = [dpi](int value96) { return ScaleForDpi(value96, dpi); };
    AboutState state;
    state.font = CreateMessageFont(dpi);
    state.nameFont = CreateMessageFont(dpi, 160, true);
    HINSTANCE instance = GetModuleHandleW(nullptr);
    // The program's own icon, when it has one.
    state.icon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON, px(32), px(32), 0));

    const std::wstring name = kProductName;
    const std::wstring version = L"Version " + VersionOrUnknown();
    const std::wstring maker = kMakerName;
    const wchar_t webSiteText[] = L"Web site";
    const wchar_t contactText[] = L"Contact";

    // Rows at 96 DPI, scaled: the name, the version, the maker, the links, then OK.
    const int margin = px(16);
    const int textX = margin + (state.icon ? px(32) + px(16) : 0);
    const SIZE nameSize = TextExtent(state.nameFont, name);
    const SIZE versionSize = TextExtent(state.font, version);
    const SIZE makerSize = TextExtent(state.font, maker);
    const SIZE webSiteSize = TextExtent(state.font, webSiteText);
    const SIZE contactSize = TextExtent(state.font, contactText);
    const int line = versionSize.cy;
    const int linkGap = px(20), linkSlack = px(4);
    const int linksWidth = webSiteSize.cx + linkSlack + linkGap + contactSize.cx + linkSlack;
    const int textWidth = static_cast<int>(
        (std::max)({nameSize.cx, versionSize.cx, makerSize.cx, static_cast<LONG>(linksWidth)}));
    const int clientWidth = (std::max)(px(300), textX + textWidth + margin);
    const int nameY = margin;
    const int versionY = nameY + nameSize.cy + px(4);
    const int makerY = versionY + line + px(2);
    const int linksY = makerY + line + px(14);
    const int linkHeight = line + px(2);
    const int okY = linksY + linkHeight + px(18);
    const int okWidth = px(88), okHeight = px(26);
    const int clientHeight = okY + okHeight + px(12);

    const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
    const DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
    const SIZE size = WindowSizeForClient(clientWidth, clientHeight, style, exStyle, dpi);
    const POINT at = PlaceWindow(owner, size, true);
    const std::wstring caption = L"About " + name;
    HWND hwnd = CreateWindowExW(exStyle, kAboutBoxClass, caption.c_str(), style, at.x, at.y, size.cx, size.cy, owner,
                                nullptr, instance, &state);
    if (hwnd) {
        const int textRight = clientWidth - margin;
        if (state.icon) {
            HWND icon = AddControl(hwnd, L"STATIC", nullptr, SS_ICON, margin, margin, px(32), px(32), -1, nullptr);
            SendMessageW(icon, STM_SETICON, reinterpret_cast<WPARAM>(state.icon), 0);
        }
        AddControl(hwnd, L"STATIC", name.c_str(), SS_LEFT | SS_NOPREFIX, textX, nameY, textRight - textX, nameSize.cy,
                   -1, state.nameFont);
        AddControl(hwnd, L"STATIC", version.c_str(), SS_LEFT | SS_NOPREFIX, textX, versionY, textRight - textX, line,
                   -1, state.font);
        AddControl(hwnd, L"STATIC", maker.c_str(), SS_LEFT | SS_NOPREFIX, textX, makerY, textRight - textX, line, -1,
                   state.font);
        AddControl(hwnd, WC_LINK, LinkMarkup(kMakerWebSiteUrl, webSiteText).c_str(), WS_TABSTOP, textX, linksY,
                   webSiteSize.cx + linkSlack, linkHeight, kAboutWebSiteLink, state.font);
        AddControl(hwnd, WC_LINK, LinkMarkup(kMakerContactUrl, contactText).c_str(), WS_TABSTOP,
                   textX + webSiteSize.cx + linkSlack + linkGap, linksY, contactSize.cx + linkSlack, linkHeight,
                   kAboutContactLink, state.font);
        HWND ok = AddControl(hwnd, L"BUTTON", L"OK", BS_DEFPUSHBUTTON | WS_TABSTOP, clientWidth - margin - okWidth,
                             okY, okWidth, okHeight, kAboutOk, state.font);
        RunModalWindow(hwnd, owner, ok, state.done);
    }
    DeleteObject(state.font);
    DeleteObject(state.nameFont);
    if (state.icon) DestroyIcon(state.icon);
}

// --- update check -----------------------------------------------------------------

void ShowUpdateCheckResult(HWND owner) {
    const std::wstring product = kProductName;
    const std::wstring text = product + L" " + VersionOrUnknown() +
                              L" is installed.\r\n\r\nNo update service is configured for this copy of " + product +
                              L", so no newer version can be looked for.";
    MessageBoxW(owner, text.c_str(), kProductName, MB_OK | MB_ICONINFORMATION);
}

// --- failure ----------------------------------------------------------------------

namespace {

std::wstring TwoDigits(unsigned value) { return (value < 10 ? L"0" : L"") + std::to_wstring(value); }

std::wstring LocalDateTime() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return std::to_wstring(now.wYear) + L"-" + TwoDigits(now.wMonth) + L"-" + TwoDigits(now.wDay) + L" " +
           TwoDigits(now.wHour) + L":" + TwoDigits(now.wMinute) + L":" + TwoDigits(now.wSecond);
}

std::wstring MessageOrUnknown(const std::wstring& message) {
    return message.find_first_not_of(L" \t\r\n") == std::wstring::npos ? std::wstring(L"Unknown failure") : message;
}

}  // namespace

std::wstring BuildFailureReport(const std::wstring& appTitle, const std::wstring& message) {
    std::wstring report;
    AppendReportField(report, 0, L"Application", appTitle);
    AppendReportField(report, 0, L"Version", VersionOrUnknown());
    AppendReportField(report, 0, L"Date and time", LocalDateTime());
    AppendReportField(report, 0, L"Message", MessageOrUnknown(message));
    report += L"\r\n";
    report += SystemReportText();
    return report;
}

void ShowFailureDialog(HWND owner, const std::wstring& appTitle, const std::wstring& message) {
    ShowFoldedErrorReportDialog(owner, appTitle, MessageOrUnknown(message), BuildFailureReport(appTitle, message));
}

}  // namespace vantrel
