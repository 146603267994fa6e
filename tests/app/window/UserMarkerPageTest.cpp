// The "My Markers" page in the main window of this process: its grid applies a user
// marker, Delete asks before it removes, F2 renames, and the Add Marker dialog checks the
// name as it is typed.
#include "imaging/IconHandle.h"  // the imaging headers before windows.h

#include "app/window/MainForm.h"

#include <commctrl.h>

#include <thread>

#include "app/common/FileHelpers.h"
#include "app/common/TextConv.h"
#include "app/engine/VantrelClass.h"
#include "app/window/MarkerDialogs.h"
#include "app/window/UserMarkerPage.h"
#include "engine/MarkingFixture.h"

using namespace vantrel;
using namespace testsupport;

namespace {

void Pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

HWND WaitForClass(const wchar_t* cls, const std::wstring& title = L"") {
    return WaitForTopWindow([&](HWND w) { return ClassName(w) == cls && (title.empty() || WindowText(w) == title); });
}

// Answers the page's next question with a button, from another thread.
std::thread Answer(int button) {
    return std::thread([button] {
        if (HWND box = WaitForClass(L"#32770", L"My Markers")) PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
    });
}

std::wstring Notepad() { return GetEnvVar(L"SystemRoot") + L"\\system32\\notepad.exe"; }

class UserMarkerPageTest : public MarkingTest {
protected:
    void TearDown() override {
        form_.reset();
        MarkingTest::TearDown();
    }
    std::unique_ptr<Tfrm_Main> form_;
};

}  // namespace

TEST_F(UserMarkerPageTest, AppliesRenamesAndRemovesFromTheGridAndAddsThroughTheDialog) {
    TUserMarkers store(TVantrel::Core().DataFolder + L"icl\\");
    const TUserMarker first = store.Add(Notepad(), 0, L"First");
    const TUserMarker second = store.Add(Notepad(), 0, L"Second");
    const std::wstring file = NewFile(L"a.vtdoc");
    TVantrel::Core().FileList = {file};
    form_ = std::make_unique<Tfrm_Main>();
    form_->Create();
    form_->Show();
    Pump();
    const int page = form_->PageCount() - 1;
    EXPECT_EQ(form_->PageCaption(page), L"My Markers");
    auto* grid = dynamic_cast<TUserMarkerGrid*>(form_->GridOnPage(page));
    ASSERT_TRUE(grid && form_->UserMarkers());
    ASSERT_EQ(grid->ItemCount(), 2);
    EXPECT_EQ(grid->CellName(2), L"Second");

    // A double click on a marker marks the file with that marker's own library.
    form_->SetActivePage(page);
    grid->SelectCell(1);
    grid->OnChoose(*grid);
    EXPECT_NE(InfoStream(file).find(WideToUtf8(first.File) + "\r\nOverlayIconIndex=0"), std::string::npos)
        << InfoStream(file);

    // Delete asks first: No keeps the marker, Yes removes it.
    grid->SelectCell(2);
    std::thread no = Answer(IDNO);
    SendMessageW(grid->Handle(), WM_KEYDOWN, VK_DELETE, 0);
    no.join();
    EXPECT_EQ(grid->ItemCount(), 2);
    std::thread yes = Answer(IDYES);
    SendMessageW(grid->Handle(), WM_KEYDOWN, VK_DELETE, 0);
    yes.join();
    ASSERT_EQ(grid->ItemCount(), 1);
    EXPECT_FALSE(FileExists(second.File));

    // F2 renames the selected marker; its file stays.
    grid->SelectCell(1);
    std::thread rename([] {
        HWND dialog = WaitForClass(kRenameMarkerClass);
        if (!dialog) return;
        SetWindowTextW(GetDlgItem(dialog, kMdName), L"Renamed");
        PressButton(dialog, IDOK);
    });
    SendMessageW(grid->Handle(), WM_KEYDOWN, VK_F2, 0);
    rename.join();
    EXPECT_EQ(grid->CellName(1), L"Renamed");
    EXPECT_EQ(grid->Markers.at(0).File, first.File);

    // The Add Marker dialog lists the program's icons, proposes its name, refuses a name
    // that cannot be a file name as it is typed, and adds with a good one.
    const int icons = TUserMarkers::SourceIconCount(Notepad());
    int listed = -1;
    std::wstring proposed, problem;
    bool refusedOk = false;
    std::thread add([&] {
        HWND dialog = WaitForClass(kAddMarkerClass);
        if (!dialog) return;
        listed = int(SendMessageW(GetDlgItem(dialog, kMdIcons), LVM_GETITEMCOUNT, 0, 0));
        proposed = WindowText(GetDlgItem(dialog, kMdName));
        SetWindowTextW(GetDlgItem(dialog, kMdName), L"a/b");
        problem = WindowText(GetDlgItem(dialog, kMdProblem));
        refusedOk = !IsWindowEnabled(GetDlgItem(dialog, IDOK));
        SetWindowTextW(GetDlgItem(dialog, kMdName), L"Pad");
        PressButton(dialog, IDOK);
    });
    TUserMarker added;
    const bool done = ShowAddMarkerDialog(form_->Handle(), form_->UserMarkers()->Store(), Notepad(), &added);
    add.join();
    EXPECT_TRUE(done);
    EXPECT_EQ(listed, icons);
    EXPECT_EQ(proposed, L"notepad");
    EXPECT_NE(problem.find(L"cannot hold"), std::wstring::npos) << WideToUtf8(problem);
    EXPECT_TRUE(refusedOk);
    EXPECT_EQ(added.Number, 3u);
    form_->UserMarkers()->Reload(added.Number);
    EXPECT_EQ(grid->ItemCount(), 2);
    EXPECT_EQ(grid->SelectedMarker()->Name, L"Pad");
}
