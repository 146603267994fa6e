#include "app/CmdParams.h"

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "app/VantrelClass.h"
#include "app/kvCommandLineUtils.h"
#include "app/window/kvProgress.h"
#include "imaging/Error.h"

using namespace vantrel;
using namespace testsupport;

namespace {

std::vector<std::wstring> g_args;
std::vector<std::wstring> TestArguments() { return g_args; }

class DispatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        TVantrel::DoneCore();
        appData_ = std::make_unique<ScopedEnv>(L"AppData", appDataDir_.path());
        TVantrel::InitCore();
        SetArgumentSource(&TestArguments);
        file_ = files_ / L"a.txt";
        WriteFile(file_, "x");
        list_ = files_ / L"list.tmp";
        std::string line;
        for (wchar_t c : file_) line += static_cast<char>(c);
        WriteFile(list_, line + "\r\n");
        WriteFile(TVantrel::Core().SelectedFilesPath(), line + "\r\n");
    }
    void TearDown() override {
        SetArgumentSource(nullptr);
        TVantrel::DoneCore();
        appData_.reset();
    }

    // Runs the dispatcher on "Vantrel.exe <args>"; returns the failure text, or
    // "handled"/"not handled".
    std::string Dispatch(std::vector<std::wstring> args) {
        g_args = {L"C:\\Program Files\\Vantrel\\Vantrel.exe"};
        g_args.insert(g_args.end(), args.begin(), args.end());
        try {
            return RunCommandLine() ? "handled" : "not handled";
        } catch (const vantrel::Error& e) {
            return e.what();
        }
    }
    TVantrel& core() { return TVantrel::Core(); }

    TempDir appDataDir_, files_;
    std::unique_ptr<ScopedEnv> appData_;
    std::wstring file_, list_;
};

const char kOverlay[] = "Marking files with a marker is not available in this version of Vantrel.";
const char kColor[] = "Colouring file icons is not available in this version of Vantrel.";
const char kRestore[] = "Restoring default icons is not available in this version of Vantrel.";

}  // namespace

TEST_F(DispatchTest, EachSwitchReachesItsOperation) {
    EXPECT_EQ(Dispatch({L"-oi", list_, L"C:\\icl\\Main.icl", L"6"}), kOverlay);
    EXPECT_EQ(core().FileList, (std::vector<std::wstring>{file_}));
    EXPECT_EQ(Dispatch({L"-ci", list_, L"255"}), kColor);
    EXPECT_EQ(Dispatch({L"-uo", list_}), "Removing markers is not available in this version of Vantrel.");
    EXPECT_EQ(Dispatch({L"-uc", list_}), "Removing colours is not available in this version of Vantrel.");
    EXPECT_EQ(Dispatch({L"-rd", list_}), kRestore);
    EXPECT_EQ(Dispatch({L"-rv"}), "handled");
    EXPECT_EQ(Dispatch({L"-ad"}), "handled");
}

TEST_F(DispatchTest, SwitchesMatchWholeAndIgnoreAsciiCase) {
    EXPECT_EQ(Dispatch({L"-OI", list_, L"Main.icl", L"6"}), kOverlay);
    // A prefix, a longer word or the slash form is no switch: the main window opens on
    // the data folder's list.
    for (const wchar_t* notSwitch : {L"-oix", L"/oi", L"-o", L"oi"}) {
        core().ListFileName.clear();
        EXPECT_EQ(Dispatch({notSwitch, list_, L"Main.icl", L"6"}), "not handled");
        EXPECT_EQ(core().ListFileName, core().SelectedFilesPath());
    }
}

TEST_F(DispatchTest, FixedPrecedenceWhateverTheOrder) {
    EXPECT_EQ(Dispatch({L"-uc", list_, L"-rd"}), kRestore);
    EXPECT_EQ(Dispatch({L"-mi", list_, L"-rv"}), "handled");           // -rv before -mi
    core().ListFileName.clear();
    EXPECT_EQ(Dispatch({L"-ci", list_, L"5", L"-oi"}), "'-oi' is not a valid integer value");  // -oi first
    EXPECT_EQ(Dispatch({L"-uo", list_, L"-mi"}), "not handled");       // -mi before -uo
}

TEST_F(DispatchTest, AdEndsAtOnceAndLooksAtNothingElse) {
    EXPECT_EQ(Dispatch({L"-oi", list_, L"Main.icl", L"6", L"-ad", L"-dd"}), "handled");
    EXPECT_TRUE(core().ListFileName.empty());
    EXPECT_TRUE(core().FileList.empty());
    EXPECT_FALSE(core().KeepListFile);
}

TEST_F(DispatchTest, ArgumentsArePositional) {
    // The list path first and "-oi" second: the switch itself is taken as the list.
    EXPECT_EQ(Dispatch({list_, L"-oi", L"Main.icl", L"6"}), kOverlay);
    EXPECT_TRUE(core().ListFileName.empty());
    EXPECT_TRUE(core().FileList.empty());

    // "-dd" as argument 5 keeps the list file.
    EXPECT_EQ(Dispatch({L"-oi", list_, L"Main.icl", L"6", L"-dd"}), kOverlay);
    EXPECT_TRUE(core().KeepListFile);
    EXPECT_EQ(Dispatch({L"-oi", list_, L"Main.icl", L"6"}), kOverlay);
    EXPECT_FALSE(core().KeepListFile);
}

TEST_F(DispatchTest, IntegerArgumentsAreCheckedAfterTheListIsLoaded) {
    EXPECT_EQ(Dispatch({L"-ci", list_, L"abc"}), "'abc' is not a valid integer value");
    // The list is loaded first, so a temporary list still goes at exit.
    EXPECT_EQ(core().ListFileName, list_);
    EXPECT_EQ(Dispatch({L"-oi", list_, L"Main.icl"}), "'' is not a valid integer value");
    EXPECT_EQ(Dispatch({L"-oi", list_, L"Main.icl", L"$6"}), kOverlay);
    EXPECT_EQ(Dispatch({L"-ci", list_, L"$1FFFFFFF"}), kColor);
}

TEST_F(DispatchTest, MainWindowSwitchesLoadTheirList) {
    EXPECT_EQ(Dispatch({L"-mi", list_}), "not handled");
    EXPECT_EQ(core().ListFileName, list_);
    EXPECT_EQ(Dispatch({}), "not handled");
    EXPECT_EQ(core().ListFileName, core().SelectedFilesPath());
    EXPECT_EQ(core().FileList, (std::vector<std::wstring>{file_}));
}

TEST_F(DispatchTest, ProgressWindowIsHiddenAfterAFailure) {
    EXPECT_EQ(Dispatch({L"-rd", list_}), kRestore);
    HWND progress = FindWindowW(kProgressClass, nullptr);
    ASSERT_NE(progress, nullptr);  // it was shown
    EXPECT_FALSE(IsWindowVisible(progress));
    EXPECT_EQ(WindowText(GetDlgItem(progress, kProgressLabel)), L"Processing. Please wait...");
    auto styleVisible = [&](int id) { return (GetWindowLongW(GetDlgItem(progress, id), GWL_STYLE) & WS_VISIBLE) != 0; };
    EXPECT_TRUE(styleVisible(kProgressMarquee));
    EXPECT_FALSE(styleVisible(kProgressBar));
    EXPECT_TRUE(GetWindowLongW(GetDlgItem(progress, kProgressMarquee), GWL_STYLE) & PBS_MARQUEE);
    RECT rc;
    GetClientRect(progress, &rc);
    EXPECT_EQ(rc.right, 234);
    EXPECT_EQ(rc.bottom, 53);
    // Shown again for the next operation: the same window.
    EXPECT_EQ(Dispatch({L"-uc", list_}), "Removing colours is not available in this version of Vantrel.");
    EXPECT_EQ(FindWindowW(kProgressClass, nullptr), progress);
}
