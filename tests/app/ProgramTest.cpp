// The real Vantrel.exe from the staged program folder, started as the shell
// extension or a user would start it.
#include "engine/MarkingFixture.h"  // the imaging headers before windows.h and its RGB macros
#include "engine/FakeShare.h"

#include "app/common/FileHelpers.h"
#include "app/common/TextConv.h"
#include "app/window/MainForm.h"
#include "app/window/ErrorReportDialog.h"

using namespace testsupport;

namespace {

const wchar_t kKey[] = L"Software\\Kestrane\\Vantrel";

class ProgramTest : public MarkingTest {
protected:
    void SetUp() override {
        MarkingTest::SetUp();
        ASSERT_FALSE(DistFolder().empty()) << "VANTREL_DIST is not set";
        ASSERT_TRUE(Exists(DistFolder() + L"\\Vantrel.exe"));
        file_ = NewFile(L"a.vtdoc");
    }
    std::wstring List(const std::wstring& name, std::vector<std::wstring> files = {}) {
        if (files.empty()) files = {file_};
        std::wstring list = files_ / name;
        std::string text;
        for (const std::wstring& f : files) {
            for (wchar_t c : f) text += static_cast<char>(c);
            text += "\r\n";
        }
        WriteFile(list, text);
        return list;
    }
    std::wstring DataFolder() const { return appDataDir_ / L"Kestrane\\Vantrel"; }

    // Runs the program; when it shows an error box or the error report, reads its text and
    // presses OK.
    DWORD RunAndCloseBox(const std::vector<std::wstring>& args, std::wstring* boxText = nullptr,
                         std::wstring* boxTitle = nullptr, std::vector<std::wstring>* reports = nullptr) {
        auto run = StartProgram(args, appDataDir_.path());
        if (!run) return 0xFFFFFFFF;
        const DWORD pid = run->pi.dwProcessId;
        for (;;) {
            if (WaitForSingleObject(run->pi.hProcess, 50) == WAIT_OBJECT_0) break;
            for (HWND w : ProcessWindows(pid)) {
                if (ClassName(w) == vantrel::kErrorReportClass) {
                    if (reports) reports->push_back(WindowText(GetDlgItem(w, vantrel::kReportDetails)));
                    PressButton(w, vantrel::kReportOk);
                    Sleep(300);
                    continue;
                }
                if (ClassName(w) != L"#32770") continue;
                if (boxTitle) *boxTitle = WindowText(w);
                if (boxText) *boxText = WindowText(GetDlgItem(w, 0xFFFF));
                PressButton(w, IDOK);
            }
        }
        return run->Wait();
    }

    std::wstring file_;
};

}  // namespace

TEST_F(ProgramTest, RefreshSwitchWritesLocationAndEndsCleanly) {
    DeleteRegTree(HKEY_CURRENT_USER, kKey);
    std::wstring box;
    EXPECT_EQ(RunAndCloseBox({L"-rv"}, &box), 0u);
    EXPECT_EQ(box, L"");
    EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, kKey, L"VantrelPath"), DistFolder() + L"\\Vantrel.exe");
    EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, kKey, L"VantrelDir"), DistFolder());
    EXPECT_TRUE(vantrel::DirectoryExists(DataFolder()));
}

TEST_F(ProgramTest, BadColourIsAFatalErrorWithExitStatusOne) {
    const std::wstring list = List(L"colour.tmp");
    std::wstring box, title;
    EXPECT_EQ(RunAndCloseBox({L"-ci", list, L"abc"}, &box, &title), 1u);
    EXPECT_EQ(box, L"'abc' is not a valid integer value");
    EXPECT_EQ(title, L"Vantrel");
    // The engine object was still destroyed: the temporary list is gone.
    EXPECT_FALSE(Exists(list));
}

TEST_F(ProgramTest, MarksTheListedFilesAndDeletesTheList) {
    const std::wstring list = List(L"mark.tmp");
    std::wstring box;
    EXPECT_EQ(RunAndCloseBox({L"-oi", list, MarkerLibrary(), L"6", L"-dd"}, &box), 0u);
    EXPECT_EQ(box, L"");
    EXPECT_EQ(Sizes(IconStream(file_)), (std::vector<int>{16, 32, 48, 256}));
    EXPECT_NE(InfoStream(file_).find("OverlayIconIndex=6"), std::string::npos);
    EXPECT_TRUE(Exists(list));  // "-dd" keeps the list

    EXPECT_EQ(RunAndCloseBox({L"-ci", list, L"3556862"}, &box), 0u);
    EXPECT_NE(InfoStream(file_).find("Color=3556862"), std::string::npos);
    EXPECT_FALSE(Exists(list));
    EXPECT_EQ(RunAndCloseBox({L"-rd", List(L"restore.tmp")}, &box), 0u);
    EXPECT_FALSE(Exists(file_ + L":vantrelicon"));
    EXPECT_EQ(WorkFoldersLeft(), 0);
}

TEST_F(ProgramTest, OneFailedFileAmongManyGivesOneReport) {
    const std::wstring other = NewFile(L"b.vtdoc"), odd = NewFile(L"odd.vtunknown");
    const std::wstring list = List(L"many.tmp", {file_, odd, other});
    std::wstring box;
    std::vector<std::wstring> reports;
    EXPECT_EQ(RunAndCloseBox({L"-ci", list, L"255"}, &box, nullptr, &reports), 0u);  // per-file errors: status 0
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], odd + L"\r\nFile type \".vtunknown\" is not registered.\r\nVantrel can't change icon of the "
                                L"unregistered file type.\r\nPlease select another file\r\n\r\n\r\n");
    EXPECT_NE(InfoStream(file_).find("Color=255"), std::string::npos);
    EXPECT_NE(InfoStream(other).find("Color=255"), std::string::npos);
}

TEST_F(ProgramTest, MainWindowOpensOnItsListAndSavesItAtClose) {
    // What the running window shows, read from outside as a tool would.
    struct Seen {
        std::wstring name;
        std::vector<std::wstring> list;
        bool listVisible = false;
    };
    auto openAndClose = [&](const std::vector<std::wstring>& args, Seen& seen) -> DWORD {
        auto run = StartProgram(args, appDataDir_.path());
        EXPECT_TRUE(run);
        if (!run) return 0xFFFFFFFFu;
        const DWORD pid = run->pi.dwProcessId;
        HWND form = WaitForWindowOf(pid, [](HWND w) { return ClassName(w) == vantrel::kMainFormClass; });
        EXPECT_NE(form, nullptr);
        if (!form) return run->Wait(1);
        EXPECT_EQ(WindowText(form), L"Vantrel");
        seen.name = WindowText(GetDlgItem(form, vantrel::kEdFileName));
        HWND list = GetDlgItem(form, vantrel::kLbFiles);
        seen.listVisible = IsWindowVisible(list) != 0;
        const int count = int(SendMessageW(list, LB_GETCOUNT, 0, 0));
        for (int i = 0; i < count; ++i) {
            wchar_t item[1024] = {};
            if (SendMessageW(list, LB_GETTEXTLEN, i, 0) < 1024) SendMessageW(list, LB_GETTEXT, i, LPARAM(item));
            seen.list.push_back(item);
        }
        PostMessageW(form, WM_CLOSE, 0, 0);
        return run->Wait();
    };
    const std::wstring other = NewFile(L"b.vtdoc");
    const std::wstring list = List(L"mi.tmp", {file_, other});
    Seen two;
    EXPECT_EQ(openAndClose({L"-mi", list}, two), 0u);
    EXPECT_TRUE(two.listVisible);
    EXPECT_EQ(two.list, (std::vector<std::wstring>{file_, other}));
    EXPECT_FALSE(Exists(list));  // the shell extension's list is the program's to delete
    const std::wstring own = DataFolder() + L"\\selectedfiles.dat";
    EXPECT_EQ(ReadFile(own).value_or(""), vantrel::WideToAnsi(file_ + L"\r\n" + other + L"\r\n"));

    // Without a switch: the list the window saved, here of one file, in single mode.
    WriteFile(own, vantrel::WideToAnsi(other + L"\r\n"));
    Seen one;
    EXPECT_EQ(openAndClose({}, one), 0u);
    EXPECT_FALSE(one.listVisible);
    EXPECT_EQ(one.name, other);
    EXPECT_TRUE(Exists(own));
}

TEST_F(ProgramTest, AdEndsWithoutAnyWindow) {
    const std::wstring list = List(L"ad.tmp");
    std::wstring box;
    EXPECT_EQ(RunAndCloseBox({L"-ad", L"-oi", list, L"x", L"6"}, &box), 0u);
    EXPECT_EQ(box, L"");
    EXPECT_TRUE(Exists(list));  // never loaded, so never deleted
}

TEST_F(ProgramTest, ANetworkLibraryMarkedWithOnTheCommandLineKeepsWorkingAndOneFromAStreamIsNeverOpened) {
    FakeShare share(MarkerLibrary());
    ASSERT_TRUE(share.Ready());
    std::wstring box;
    // The user's own choice: the shell extension's command with a library on a share.
    EXPECT_EQ(RunAndCloseBox({L"-oi", List(L"mark.tmp"), share.Library(), L"6"}, &box), 0u);
    EXPECT_EQ(box, L"");
    const std::string marked = IconStream(file_);
    ASSERT_FALSE(marked.empty());
    // A later colour change, in a new process, draws that marker again.
    share.Watch();
    std::vector<std::wstring> reports;
    EXPECT_EQ(RunAndCloseBox({L"-ci", List(L"colour.tmp"), L"255"}, &box, nullptr, &reports), 0u);
    EXPECT_TRUE(reports.empty()) << (reports.empty() ? std::wstring() : reports[0]);
    EXPECT_TRUE(share.Looked());
    EXPECT_NE(IconStream(file_), marked);

    // A file that came with a stream naming the same share, which this user never marked.
    const std::wstring brought = NewFile(L"brought.vtdoc");
    std::string info = "[vantrel]\r\nOverlayIconFile=";
    for (wchar_t c : share.Library()) info += char(c);
    WriteFile(brought + L":vantreliconinfo", info + "\r\nOverlayIconIndex=6\r\n");
    share.Watch();
    EXPECT_EQ(RunAndCloseBox({L"-ci", List(L"brought.tmp", {brought}), L"255"}, &box, nullptr, &reports), 0u);
    EXPECT_FALSE(share.Looked());
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].rfind(brought + L"\r\nMarker library \"" + share.Library() + L"\" was not opened", 0), 0u)
        << reports[0];
    EXPECT_EQ(IconStream(brought), "");
}
