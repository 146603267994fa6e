// The real Vantrel.exe from the staged program folder, started as the shell
// extension or a user would start it.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "app/FileHelpers.h"

using namespace testsupport;

namespace {

const wchar_t kKey[] = L"Software\\Kestrane\\Vantrel";

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(DistFolder().empty()) << "VANTREL_DIST is not set";
        ASSERT_TRUE(Exists(DistFolder() + L"\\Vantrel.exe"));
        file_ = files_ / L"a.txt";
        WriteFile(file_, "x");
    }
    std::wstring List(const std::wstring& name) {
        std::wstring list = files_ / name;
        std::string line;
        for (wchar_t c : file_) line += static_cast<char>(c);
        WriteFile(list, line + "\r\n");
        return list;
    }
    std::wstring DataFolder() const { return appData_ / L"Kestrane\\Vantrel"; }

    // Runs the program; when it shows an error box, reads the box's text and presses OK.
    DWORD RunAndCloseBox(const std::vector<std::wstring>& args, std::wstring* boxText = nullptr,
                         std::wstring* boxTitle = nullptr) {
        auto run = StartProgram(args, appData_.path());
        if (!run) return 0xFFFFFFFF;
        const DWORD pid = run->pi.dwProcessId;
        for (;;) {
            if (WaitForSingleObject(run->pi.hProcess, 50) == WAIT_OBJECT_0) break;
            for (HWND w : ProcessWindows(pid)) {
                if (ClassName(w) != L"#32770") continue;
                if (boxTitle) *boxTitle = WindowText(w);
                if (boxText) *boxText = WindowText(GetDlgItem(w, 0xFFFF));
                PressButton(w, IDOK);
            }
        }
        return run->Wait();
    }

    TempDir appData_, files_;
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

TEST_F(ProgramTest, OperationsNotYetAvailableSayWhatIsMissing) {
    const std::wstring list = List(L"mark.tmp");
    std::wstring box;
    EXPECT_EQ(RunAndCloseBox({L"-oi", list, L"C:\\icl\\Main.icl", L"6", L"-dd"}, &box), 1u);
    EXPECT_EQ(box, L"Marking files with a marker is not available in this version of Vantrel.");
    EXPECT_TRUE(Exists(list));  // "-dd" keeps the list

    EXPECT_EQ(RunAndCloseBox({L"-uo", list}, &box), 1u);
    EXPECT_EQ(box, L"Removing markers is not available in this version of Vantrel.");
    EXPECT_FALSE(Exists(list));
}

TEST_F(ProgramTest, MainWindowRequestsEndClearlyAndKeepTheDataFoldersList) {
    ASSERT_TRUE(vantrel::ForceFolder(DataFolder()));
    const std::wstring own = DataFolder() + L"\\selectedfiles.dat";
    WriteFile(own, "");
    std::wstring box;
    EXPECT_EQ(RunAndCloseBox({L"-mi", own}, &box), 1u);
    EXPECT_NE(box.find(L"main window is not available"), std::wstring::npos) << box;
    EXPECT_TRUE(Exists(own));

    box.clear();
    EXPECT_EQ(RunAndCloseBox({}, &box), 1u);
    EXPECT_NE(box.find(L"main window is not available"), std::wstring::npos) << box;
    EXPECT_TRUE(Exists(own));
}

TEST_F(ProgramTest, AdEndsWithoutAnyWindow) {
    const std::wstring list = List(L"ad.tmp");
    std::wstring box;
    EXPECT_EQ(RunAndCloseBox({L"-ad", L"-oi", list, L"x", L"6"}, &box), 0u);
    EXPECT_EQ(box, L"");
    EXPECT_TRUE(Exists(list));  // never loaded, so never deleted
}
