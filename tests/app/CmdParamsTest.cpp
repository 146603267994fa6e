#include "engine/MarkingFixture.h"

#include "app/CmdParams.h"

#include <windows.h>
#include <commctrl.h>

#include "app/engine/MarkerStreams.h"
#include "app/engine/VantrelClass.h"
#include "app/kvCommandLineUtils.h"
#include "app/window/kvProgress.h"
#include "imaging/Error.h"

using namespace vantrel;
using namespace testsupport;

namespace {

std::vector<std::wstring> g_args;
std::vector<std::wstring> TestArguments() { return g_args; }

// The dispatcher on a file of a registered type, so every operation runs for real and the
// file's streams tell which one ran.
class DispatchTest : public MarkingTest {
protected:
    void SetUp() override {
        MarkingTest::SetUp();
        // The program's entry hands the engine the progress window.
        progress_ = std::make_unique<TFeedbackScope>(TVantrel::Core(), &ProgressWindow(), nullptr);
        SetArgumentSource(&TestArguments);
        file_ = NewFile(L"a.vtdoc");
        list_ = files_ / L"list.tmp";
        std::string line;
        for (wchar_t c : file_) line += static_cast<char>(c);
        listText_ = line + "\r\n";
        WriteFile(list_, listText_);
        WriteFile(TVantrel::Core().SelectedFilesPath(), listText_);
    }
    void TearDown() override {
        SetArgumentSource(nullptr);
        progress_.reset();
        MarkingTest::TearDown();
    }

    // Runs the dispatcher on "Vantrel.exe <args>"; returns the failure text, or
    // "handled"/"not handled". The list file is written anew first.
    std::string Dispatch(std::vector<std::wstring> args) {
        WriteFile(list_, listText_);
        g_args = {L"C:\\Program Files\\Vantrel\\Vantrel.exe"};
        g_args.insert(g_args.end(), args.begin(), args.end());
        try {
            return RunCommandLine() ? "handled" : "not handled";
        } catch (const vantrel::Error& e) {
            return e.what();
        }
    }
    // The file's state: "marker+colour", "marker", "colour" or "none".
    std::string State() {
        if (!HasIconStream(file_)) return "none";
        TIniFile info = OpenInfoStream(file_);
        const bool marker = info.ValueExists(kInfoSection, kOverlayIconFileKey);
        const bool colour = info.ValueExists(kInfoSection, kColorKey);
        return marker && colour ? "marker+colour" : marker ? "marker" : colour ? "colour" : "icon only";
    }
    void MarkBoth() {
        core().FileList = {file_};
        core().ApplyOverlay(MarkerLibrary(), 6);
        core().ApplyColor(255);
        ASSERT_EQ(State(), "marker+colour");
    }
    TVantrel& core() { return TVantrel::Core(); }

    std::wstring file_, list_;
    std::unique_ptr<TFeedbackScope> progress_;
    std::string listText_;
};

}  // namespace

TEST_F(DispatchTest, EachSwitchReachesItsOperation) {
    EXPECT_EQ(Dispatch({L"-oi", list_, MarkerLibrary(), L"6"}), "handled");
    EXPECT_EQ(core().FileList, (std::vector<std::wstring>{file_}));
    EXPECT_EQ(State(), "marker");
    EXPECT_EQ(Dispatch({L"-ci", list_, L"255"}), "handled");
    EXPECT_EQ(State(), "marker+colour");
    EXPECT_EQ(Dispatch({L"-uo", list_}), "handled");
    EXPECT_EQ(State(), "colour");
    MarkBoth();
    EXPECT_EQ(Dispatch({L"-uc", list_}), "handled");
    EXPECT_EQ(State(), "marker");
    EXPECT_EQ(Dispatch({L"-rd", list_}), "handled");
    EXPECT_EQ(State(), "none");
    EXPECT_EQ(Dispatch({L"-rv"}), "handled");
    EXPECT_EQ(Dispatch({L"-ad"}), "handled");
}

TEST_F(DispatchTest, SwitchesMatchWholeAndIgnoreAsciiCase) {
    EXPECT_EQ(Dispatch({L"-OI", list_, MarkerLibrary(), L"6"}), "handled");
    EXPECT_EQ(State(), "marker");
    // A prefix, a longer word or the slash form is no switch: the main window opens on
    // the data folder's list.
    for (const wchar_t* notSwitch : {L"-oix", L"/oi", L"-o", L"oi"}) {
        core().ListFileName.clear();
        EXPECT_EQ(Dispatch({notSwitch, list_, MarkerLibrary(), L"6"}), "not handled");
        EXPECT_EQ(core().ListFileName, core().SelectedFilesPath());
    }
}

TEST_F(DispatchTest, FixedPrecedenceWhateverTheOrder) {
    MarkBoth();
    EXPECT_EQ(Dispatch({L"-uc", list_, L"-rd"}), "handled");  // -rd before -uc
    EXPECT_EQ(State(), "none");
    MarkBoth();
    EXPECT_EQ(Dispatch({L"-mi", list_, L"-rv"}), "handled");  // -rv before -mi
    EXPECT_EQ(State(), "marker+colour");
    EXPECT_EQ(Dispatch({L"-ci", list_, L"5", L"-oi"}), "'-oi' is not a valid integer value");  // -oi first
    EXPECT_EQ(Dispatch({L"-uo", list_, L"-mi"}), "not handled");  // -mi before -uo
    EXPECT_EQ(State(), "marker+colour");
}

TEST_F(DispatchTest, AdEndsAtOnceAndLooksAtNothingElse) {
    EXPECT_EQ(Dispatch({L"-oi", list_, MarkerLibrary(), L"6", L"-ad", L"-dd"}), "handled");
    EXPECT_TRUE(core().ListFileName.empty());
    EXPECT_TRUE(core().FileList.empty());
    EXPECT_FALSE(core().KeepListFile);
    EXPECT_EQ(State(), "none");
}

TEST_F(DispatchTest, ArgumentsArePositional) {
    // The list path first and "-oi" second: the switch itself is taken as the list, which
    // does not exist, so nothing is marked.
    EXPECT_EQ(Dispatch({list_, L"-oi", MarkerLibrary(), L"6"}), "handled");
    EXPECT_TRUE(core().ListFileName.empty());
    EXPECT_TRUE(core().FileList.empty());
    EXPECT_EQ(State(), "none");

    // "-dd" as argument 5 keeps the list file.
    EXPECT_EQ(Dispatch({L"-oi", list_, MarkerLibrary(), L"6", L"-dd"}), "handled");
    EXPECT_TRUE(core().KeepListFile);
    EXPECT_EQ(Dispatch({L"-oi", list_, MarkerLibrary(), L"6"}), "handled");
    EXPECT_FALSE(core().KeepListFile);
}

TEST_F(DispatchTest, IntegerArgumentsAreCheckedAfterTheListIsLoaded) {
    EXPECT_EQ(Dispatch({L"-ci", list_, L"abc"}), "'abc' is not a valid integer value");
    // The list is loaded first, so a temporary list still goes at exit.
    EXPECT_EQ(core().ListFileName, list_);
    EXPECT_EQ(Dispatch({L"-oi", list_, MarkerLibrary()}), "'' is not a valid integer value");
    EXPECT_EQ(State(), "none");
    EXPECT_EQ(Dispatch({L"-oi", list_, MarkerLibrary(), L"$6"}), "handled");
    EXPECT_EQ(OpenInfoStream(file_).ReadInteger(kInfoSection, kOverlayIconIndexKey, -1), 6);
    EXPECT_EQ(Dispatch({L"-ci", list_, L"$FF"}), "handled");
    EXPECT_EQ(OpenInfoStream(file_).ReadInteger(kInfoSection, kColorKey, -1), 255);
}

TEST_F(DispatchTest, MainWindowSwitchesLoadTheirList) {
    EXPECT_EQ(Dispatch({L"-mi", list_}), "not handled");
    EXPECT_EQ(core().ListFileName, list_);
    EXPECT_EQ(Dispatch({}), "not handled");
    EXPECT_EQ(core().ListFileName, core().SelectedFilesPath());
    EXPECT_EQ(core().FileList, (std::vector<std::wstring>{file_}));
}

TEST_F(DispatchTest, ProgressWindowIsHiddenAfterAFailure) {
    EXPECT_EQ(Dispatch({L"-ci", list_, L"x"}), "'x' is not a valid integer value");
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
    EXPECT_EQ(Dispatch({L"-uc", list_}), "handled");
    EXPECT_EQ(FindWindowW(kProgressClass, nullptr), progress);
}
