#include "app/window/Dialogs.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <regex>
#include <sstream>
#include <thread>

#include "TestSupport.h"
#include "app/ProductInfo.h"
#include "app/window/ErrorReportDialog.h"
#include "app/window/SystemReport.h"

using namespace vantrel;
using namespace testsupport;

namespace {

// The version as the resource script states it, read from the script itself.
std::wstring ScriptVersion() {
    const std::string wide = VANTREL_RESOURCE_SCRIPT;
    const auto script = ReadFile(std::wstring(wide.begin(), wide.end()));
    const std::regex fileVersion(R"(FILEVERSION\s+(\d+)\s*,\s*(\d+)\s*,\s*(\d+)\s*,\s*(\d+))");
    std::smatch m;
    if (!script || !std::regex_search(*script, m, fileVersion))
        return L"(no FILEVERSION in the resource script)";
    const std::string text = m[1].str() + "." + m[2].str() + "." + m[3].str() + "." + m[4].str();
    return std::wstring(text.begin(), text.end());
}

// A plain top-level window standing in for the main window.
struct OwnerWindow {
    HWND hwnd = CreateWindowExW(0, L"STATIC", L"Owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 80, 80, 500, 400, nullptr,
                                nullptr, GetModuleHandleW(nullptr), nullptr);
    OwnerWindow() { SetForegroundWindow(hwnd); }
    ~OwnerWindow() { DestroyWindow(hwnd); }
};

std::vector<std::wstring> Lines(const std::wstring& text) {
    std::vector<std::wstring> lines;
    std::wstringstream in(text);
    for (std::wstring line; std::getline(in, line);) {
        if (!line.empty() && line.back() == L'\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// The value of the first "label : value" line with this label.
std::wstring Field(const std::wstring& report, const std::wstring& label) {
    for (const std::wstring& line : Lines(report)) {
        const std::size_t start = line.find_first_not_of(L' ');
        if (start == std::wstring::npos || line.compare(start, label.size(), label) != 0) continue;
        const std::size_t colon = line.find(L" : ", start + label.size());
        if (colon == std::wstring::npos || line.find_first_not_of(L' ', start + label.size()) != colon + 1) continue;
        return line.substr(colon + 3);
    }
    return L"(no field " + label + L")";
}

long long Number(const std::wstring& text) {
    try {
        return std::stoll(text);
    } catch (...) {
        return -1;
    }
}

std::wstring LinkUrl(HWND link) {
    LITEM item{};
    item.mask = LIF_ITEMINDEX | LIF_URL;
    item.iLink = 0;
    if (!SendMessageW(link, LM_GETITEM, 0, reinterpret_cast<LPARAM>(&item))) return {};
    return std::wstring(item.szUrl, wcsnlen(item.szUrl, L_MAX_URL_LENGTH));
}

bool Contains(const std::vector<std::wstring>& texts, const std::wstring& text) {
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

HWND FindTop(const wchar_t* cls) {
    return WaitForOwnWindow([cls](HWND h) { return ClassName(h) == cls; });
}

SIZE WindowSize(HWND hwnd) {
    RECT rc{};
    GetWindowRect(hwnd, &rc);
    return {rc.right - rc.left, rc.bottom - rc.top};
}

// What the About box's links asked to open.
std::mutex g_openedLock;
std::vector<std::wstring> g_opened;

void RecordUrl(HWND, const std::wstring& url) {
    std::lock_guard<std::mutex> lock(g_openedLock);
    g_opened.push_back(url);
}

std::vector<std::wstring> Opened() {
    std::lock_guard<std::mutex> lock(g_openedLock);
    return g_opened;
}

struct RecordedUrls {
    UrlOpener previous = SetUrlOpener(RecordUrl);
    RecordedUrls() { g_opened.clear(); }
    ~RecordedUrls() { SetUrlOpener(previous); }
};

}  // namespace

TEST(ProgramVersion, IsTheVersionResourceOfTheProgramFile) {
    const std::wstring expected = ScriptVersion();
    // The test program carries the program's resources.
    EXPECT_EQ(ProgramVersionText(), expected);
    EXPECT_EQ(FileVersionText(DistFolder() + L"\\Vantrel.exe"), expected);
    TempDir t;
    WriteFile(t / L"plain.exe", "MZ not really a program");
    EXPECT_EQ(FileVersionText(t / L"plain.exe"), L"");
    EXPECT_EQ(FileVersionText(t / L"missing.exe"), L"");
}

TEST(AboutBox, ShowsProductAndLinksTabsBetweenThemAndClosesOnEsc) {
    RecordedUrls urls;
    OwnerWindow owner;
    const std::wstring version = ScriptVersion();
    bool ownerDisabled = false;
    std::thread watcher([&] {
        HWND box = FindTop(kAboutBoxClass);
        ASSERT_NE(box, nullptr);
        ownerDisabled = !IsWindowEnabled(owner.hwnd);
        EXPECT_EQ(GetWindow(box, GW_OWNER), owner.hwnd);
        const auto texts = ChildTexts(box);
        EXPECT_TRUE(Contains(texts, L"Vantrel"));
        EXPECT_TRUE(Contains(texts, L"Version " + version));
        EXPECT_TRUE(Contains(texts, L"Kestrane"));

        HWND web = GetDlgItem(box, kAboutWebSiteLink), contact = GetDlgItem(box, kAboutContactLink);
        HWND ok = GetDlgItem(box, kAboutOk);
        EXPECT_EQ(ClassName(web), WC_LINK);
        EXPECT_EQ(ClassName(contact), WC_LINK);
        EXPECT_EQ(LinkUrl(web), kMakerWebSiteUrl);
        EXPECT_EQ(LinkUrl(contact), kMakerContactUrl);
        EXPECT_EQ(WindowText(ok), L"OK");

        // Tab: OK, the two links, and round to OK again.
        SetForegroundWindow(box);
        EXPECT_TRUE(WaitFor([&] { return FocusOfThread(box) == ok; }));
        PressKey(VK_TAB);
        EXPECT_TRUE(WaitFor([&] { return FocusOfThread(box) == web; }));
        PressKey(VK_TAB);
        EXPECT_TRUE(WaitFor([&] { return FocusOfThread(box) == contact; }));
        // Enter on a link opens it and leaves the box open.
        PressKey(VK_RETURN);
        EXPECT_TRUE(WaitFor([&] { return Opened().size() == 1; }));
        EXPECT_TRUE(IsWindowVisible(box));
        PressKey(VK_TAB);
        EXPECT_TRUE(WaitFor([&] { return FocusOfThread(box) == ok; }));

        // A click on the other link.
        RECT rc{};
        GetClientRect(web, &rc);
        const LPARAM at = MAKELPARAM(4, rc.bottom / 2);
        PostMessageW(web, WM_LBUTTONDOWN, MK_LBUTTON, at);
        PostMessageW(web, WM_LBUTTONUP, 0, at);
        EXPECT_TRUE(WaitFor([&] { return Opened().size() == 2; }));

        SetForegroundWindow(box);
        PressKey(VK_ESCAPE);
        if (!WaitFor([&] { return !IsWindow(box); })) {
            ADD_FAILURE() << "Esc left the About box open";
            PostMessageW(box, WM_CLOSE, 0, 0);
        }
    });
    ShowAboutBox(owner.hwnd);
    watcher.join();
    EXPECT_TRUE(ownerDisabled);
    EXPECT_TRUE(IsWindowEnabled(owner.hwnd));
    EXPECT_EQ(GetActiveWindow(), owner.hwnd);
    EXPECT_EQ(Opened(), (std::vector<std::wstring>{kMakerContactUrl, kMakerWebSiteUrl}));
}

TEST(AboutBox, EnterClosesItWithoutAnOwner) {
    RecordedUrls urls;
    std::thread watcher([&] {
        HWND box = FindTop(kAboutBoxClass);
        ASSERT_NE(box, nullptr);
        SetForegroundWindow(box);
        EXPECT_TRUE(WaitFor([&] { return FocusOfThread(box) == GetDlgItem(box, kAboutOk); }));
        PressKey(VK_RETURN);
        if (!WaitFor([&] { return !IsWindow(box); })) {
            ADD_FAILURE() << "Enter left the About box open";
            PostMessageW(box, WM_CLOSE, 0, 0);
        }
    });
    ShowAboutBox(nullptr);
    watcher.join();
    EXPECT_TRUE(Opened().empty());
}

TEST(UpdateCheck, SaysWhichVersionIsInstalledAndThatNoServiceIsAsked) {
    const std::wstring version = ScriptVersion();
    std::wstring text;
    bool informationIcon = false;
    std::thread watcher([&] {
        HWND box = WaitForOwnWindow([](HWND h) {
            DWORD pid = 0;
            GetWindowThreadProcessId(h, &pid);
            return pid == GetCurrentProcessId() && ClassName(h) == L"#32770" && WindowText(h) == L"Vantrel";
        });
        ASSERT_NE(box, nullptr);
        for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
            if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
                informationIcon |= reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0)) ==
                                   LoadIconW(nullptr, IDI_INFORMATION);
            const std::wstring t = WindowText(child);
            if (t.size() > text.size()) text = t;
        }
        PressButton(box, IDOK);
    });
    ShowUpdateCheckResult(nullptr);
    watcher.join();
    EXPECT_NE(text.find(L"Vantrel " + version + L" is installed."), std::wstring::npos) << text;
    EXPECT_NE(text.find(L"No update service is configured"), std::wstring::npos) << text;
    EXPECT_TRUE(informationIcon);
}

TEST(FailureReport, HoldsTheFailureAndPlausibleSystemDetails) {
    SYSTEMTIME before{};
    GetLocalTime(&before);
    const std::wstring report =
        BuildFailureReport(L"Vantrel", L"The marker store could not be read.\r\nIt is damaged.");
    const auto lines = Lines(report);

    EXPECT_EQ(Field(report, L"Application"), L"Vantrel");
    EXPECT_EQ(Field(report, L"Version"), ScriptVersion());
    wchar_t today[32];
    swprintf(today, 32, L"%04u-%02u-%02u ", before.wYear, before.wMonth, before.wDay);
    EXPECT_EQ(Field(report, L"Date and time").rfind(today, 0), 0u) << Field(report, L"Date and time");
    // The message's second line stays in the value column.
    const auto message = std::find_if(lines.begin(), lines.end(), [](auto& l) { return l.rfind(L"Message", 0) == 0; });
    ASSERT_NE(message, lines.end());
    ASSERT_NE(message + 1, lines.end());
    EXPECT_EQ(message->substr(message->find(L" : ") + 3), L"The marker store could not be read.");
    EXPECT_EQ(message[1], std::wstring(message->find(L" : ") + 3, L' ') + L"It is damaged.");

    for (const wchar_t* section : {L"System", L"Processor", L"Memory", L"Display"})
        EXPECT_TRUE(Contains(lines, section)) << section;

    const auto product =
        ReadRegString(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", L"ProductName");
    EXPECT_EQ(Field(report, L"Windows"), product && !product->empty() ? *product : L"unknown");
    EXPECT_TRUE(std::regex_match(Field(report, L"Windows version"), std::wregex(LR"(\d+\.\d+ build [1-9]\d*.*)")))
        << Field(report, L"Windows version");

    const long long processors = Number(Field(report, L"Count"));
    EXPECT_GE(processors, 1);
    EXPECT_LE(processors, static_cast<long long>(GetActiveProcessorCount(ALL_PROCESSOR_GROUPS)));
    const long long total = Number(Field(report, L"Physical total"));
    const long long available = Number(Field(report, L"Physical available"));
    // The figures are the system's own: the same total as this process is told, and an
    // available amount no larger than it wherever the system itself says so (a 32-bit
    // process under an emulator is told more available memory than its capped total).
    MEMORYSTATUSEX own{};
    own.dwLength = sizeof own;
    ASSERT_TRUE(GlobalMemoryStatusEx(&own));
    EXPECT_GT(total, 0);
    EXPECT_EQ(total, static_cast<long long>(own.ullTotalPhys / (1024 * 1024)));
    EXPECT_GE(available, 0);
    if (own.ullAvailPhys <= own.ullTotalPhys) {
        EXPECT_LE(available, total);
    }

    const int monitors = GetSystemMetrics(SM_CMONITORS);
    EXPECT_EQ(Number(Field(report, L"Monitors")), monitors);
    int listed = 0;
    for (const std::wstring& line : lines)
        if (line.find(L"  Monitor ") == 0) ++listed;
    EXPECT_EQ(listed, monitors);
    // The primary monitor sits at 0, 0 with the screen's size.
    const std::wstring primary = std::to_wstring(GetSystemMetrics(SM_CXSCREEN)) + L" x " +
                                 std::to_wstring(GetSystemMetrics(SM_CYSCREEN)) + L" at 0, 0, primary";
    EXPECT_NE(report.find(primary), std::wstring::npos) << report;
    const long long depth = Number(Field(report, L"Colour depth"));
    EXPECT_TRUE(depth == 8 || depth == 15 || depth == 16 || depth == 24 || depth == 32) << depth;
    EXPECT_GE(Number(Field(report, L"DPI")), 72);
}

TEST(FailureDialog, StartsFoldedUnfoldsOnDetailsCopiesTheReportAndCloses) {
    OwnerWindow owner;
    const std::wstring message = L"The marker store could not be read.\r\nIt is damaged.";
    std::thread watcher([&] {
        HWND dialog = FindTop(kErrorReportClass);
        ASSERT_NE(dialog, nullptr);
        HWND report = GetDlgItem(dialog, kReportDetails), save = GetDlgItem(dialog, kReportSave);
        HWND details = GetDlgItem(dialog, kReportDetailsButton), ok = GetDlgItem(dialog, kReportOk);
        EXPECT_EQ(WindowText(dialog), L"Vantrel - Error");
        EXPECT_FALSE(IsWindowEnabled(owner.hwnd));
        EXPECT_EQ(WindowText(GetDlgItem(dialog, kReportSummaryText)), message);
        EXPECT_EQ(reinterpret_cast<HICON>(SendDlgItemMessageW(dialog, kReportIcon, STM_GETICON, 0, 0)),
                  LoadIconW(nullptr, IDI_ERROR));
        EXPECT_EQ(WindowText(details), L"&Details");
        EXPECT_EQ(WindowText(ok), L"&OK");
        EXPECT_TRUE(IsWindowVisible(details) && IsWindowVisible(ok));
        EXPECT_FALSE(IsWindowVisible(report));
        EXPECT_FALSE(IsWindowVisible(save));
        const SIZE folded = WindowSize(dialog);

        PressButton(dialog, kReportDetailsButton);
        EXPECT_TRUE(WaitFor([&] { return IsWindowVisible(report) != FALSE; }));
        EXPECT_TRUE(IsWindowVisible(save));
        EXPECT_EQ(WindowText(save), L"&Save...");
        EXPECT_GT(WindowSize(dialog).cy, folded.cy);
        EXPECT_GE(WindowSize(dialog).cx, folded.cx);
        const std::wstring shown = WindowText(report);
        EXPECT_NE(shown.find(L"The marker store could not be read."), std::wstring::npos);
        EXPECT_NE(shown.find(L"\r\nProcessor\r\n"), std::wstring::npos);
        EXPECT_NE(shown.find(L"\r\nDisplay\r\n"), std::wstring::npos);

        // Ctrl+C copies the whole report.
        OpenClipboard(nullptr);
        EmptyClipboard();
        CloseClipboard();
        // The keys go to the foreground window: wait until the dialog is it (a busy machine
        // takes a while).
        SetForegroundWindow(dialog);
        WaitFor([&] { return GetForegroundWindow() == dialog; });
        Sleep(100);
        PressKey('C', VK_CONTROL);
        std::wstring copied;
        WaitFor([&] { return !(copied = ReadClipboardText()).empty(); });
        EXPECT_EQ(copied, shown);

        // The Details button pressed, it has the focus: Enter presses it again and folds.
        EXPECT_EQ(FocusOfThread(dialog), details);
        PressKey(VK_RETURN);
        // The dialog's thread hides the report, then shrinks the window: wait for both (a
        // slow machine reads in between).
        EXPECT_TRUE(WaitFor([&] { return !IsWindowVisible(report) && WindowSize(dialog).cy == folded.cy; }));
        EXPECT_FALSE(IsWindowVisible(save));
        EXPECT_EQ(WindowSize(dialog).cy, folded.cy);
        EXPECT_TRUE(IsWindow(dialog));

        PressButton(dialog, kReportOk);
        if (!WaitFor([&] { return !IsWindow(dialog); })) {
            ADD_FAILURE() << "OK left the dialog open";
            PostMessageW(dialog, WM_CLOSE, 0, 0);
        }
    });
    ShowFailureDialog(owner.hwnd, L"Vantrel", message);
    watcher.join();
    EXPECT_TRUE(IsWindowEnabled(owner.hwnd));
    EXPECT_EQ(GetActiveWindow(), owner.hwnd);
}

TEST(RegistryText, ReadsTextsOfAnyLengthAndNothingElse) {
    const std::wstring key = L"Software\\Kestrane\\VantrelTest\\RegistryText" + std::to_wstring(GetCurrentProcessId());
    HKEY h = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr),
              ERROR_SUCCESS);
    auto set = [&](const wchar_t* name, DWORD type, const void* data, DWORD bytes) {
        RegSetValueExW(h, name, 0, type, static_cast<const BYTE*>(data), bytes);
    };
    const std::wstring longText(20000, L'x');
    set(L"long", REG_SZ, longText.c_str(), static_cast<DWORD>((longText.size() + 1) * sizeof(wchar_t)));
    set(L"unended", REG_SZ, L"abc", 3 * sizeof(wchar_t));  // no end of text in the data
    set(L"odd", REG_SZ, L"abcd", 7);                          // half a character at the end
    set(L"empty", REG_SZ, L"", sizeof(wchar_t));
    set(L"expand", REG_EXPAND_SZ, L"%TEMP%\\x", 9 * sizeof(wchar_t));
    const DWORD number = 7;
    set(L"number", REG_DWORD, &number, sizeof(number));
    RegCloseKey(h);

    EXPECT_EQ(ReadRegistryText(HKEY_CURRENT_USER, key.c_str(), L"long"), longText);
    EXPECT_EQ(ReadRegistryText(HKEY_CURRENT_USER, key.c_str(), L"unended"), L"abc");
    EXPECT_EQ(ReadRegistryText(HKEY_CURRENT_USER, key.c_str(), L"odd"), L"abc");
    EXPECT_EQ(ReadRegistryText(HKEY_CURRENT_USER, key.c_str(), L"empty"), L"");
    EXPECT_EQ(ReadRegistryText(HKEY_CURRENT_USER, key.c_str(), L"expand"), L"%TEMP%\\x");
    EXPECT_EQ(ReadRegistryText(HKEY_CURRENT_USER, key.c_str(), L"number"), std::nullopt);
    EXPECT_EQ(ReadRegistryText(HKEY_CURRENT_USER, key.c_str(), L"missing"), std::nullopt);
    EXPECT_EQ(ReadRegistryText(HKEY_CURRENT_USER, (key + L"\\none").c_str(), L"long"), std::nullopt);
    DeleteRegTree(HKEY_CURRENT_USER, L"Software\\Kestrane\\VantrelTest");
}
