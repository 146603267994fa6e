// The "My Markers" page in the main window of this process: its grid applies a user
// marker, Delete asks before it removes, F2 renames, and the Add Marker dialog checks the
// name as it is typed.
#include "imaging/IconHandle.h"  // the imaging headers before windows.h
#include "imaging/IconLibrary.h"

#include "app/window/MainForm.h"

#include <commctrl.h>

#include <cstdio>
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
    LRESULT asItIsAtFirst = -1;
    std::thread add([&] {
        HWND dialog = WaitForClass(kAddMarkerClass);
        if (!dialog) return;
        // "Use the picture as it is" is off at first; checked, the icon keeps its images.
        asItIsAtFirst = SendMessageW(GetDlgItem(dialog, kMdAsItIs), BM_GETCHECK, 0, 0);
        SendMessageW(GetDlgItem(dialog, kMdAsItIs), BM_CLICK, 0, 0);
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
    EXPECT_EQ(asItIsAtFirst, BST_UNCHECKED);
    EXPECT_EQ(added.Number, 3u);
    TIconLibrary source, stored;
    ASSERT_TRUE(source.Open(std::filesystem::path(Notepad())) && stored.Open(std::filesystem::path(added.File)));
    ASSERT_GE(stored.GetIcon(0)->Images().Count(), source.GetIcon(0)->Images().Count());
    EXPECT_EQ(IconImageToBgra(*stored.GetIcon(0)->Images()[0]), IconImageToBgra(*source.GetIcon(0)->Images()[0]));
    form_->UserMarkers()->Reload(added.Number);
    EXPECT_EQ(grid->ItemCount(), 2);
    EXPECT_EQ(grid->SelectedMarker()->Name, L"Pad");
}

// Shell32 holds a few hundred icons: the Add Marker dialog must open and answer at once,
// decoding only the icons it shows, and still list all of them.
TEST_F(UserMarkerPageTest, AddMarkerDialogOnALargeLibraryOpensAtOnce) {
    const std::wstring shell32 = GetEnvVar(L"SystemRoot") + L"\\system32\\shell32.dll";
    TVantrel::Core().FileList = {NewFile(L"a.vtdoc")};
    form_ = std::make_unique<Tfrm_Main>();
    form_->Create();
    form_->Show();
    Pump();
    const DWORD counting = GetTickCount();
    const int icons = TUserMarkers::SourceIconCount(shell32);
    std::printf("counting the icons of shell32.dll: %lu ms\n", static_cast<unsigned long>(GetTickCount() - counting));
    ASSERT_GT(icons, 100);
    const DWORD start = GetTickCount();
    DWORD answered = 0;
    int listed = -1, decoded = -1, decodedAtEnd = -1;
    std::thread watch([&] {
        HWND dialog = WaitForClass(kAddMarkerClass);
        if (!dialog) return;
        DWORD_PTR result = 0;
        if (SendMessageTimeoutW(dialog, WM_NULL, 0, 0, SMTO_NORMAL, 20000, &result)) answered = GetTickCount();
        HWND list = GetDlgItem(dialog, kMdIcons);
        listed = int(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
        UpdateWindow(list);
        const auto images = reinterpret_cast<HIMAGELIST>(SendMessageW(list, LVM_GETIMAGELIST, LVSIL_NORMAL, 0));
        decoded = ImageList_GetImageCount(images);
        // The last icon, brought into view, is decoded then.
        SendMessageW(list, LVM_ENSUREVISIBLE, WPARAM(listed - 1), FALSE);
        UpdateWindow(list);
        decodedAtEnd = ImageList_GetImageCount(images);
        PressButton(dialog, IDCANCEL);
    });
    TUserMarkers store(TVantrel::Core().DataFolder + L"icl\\");
    EXPECT_FALSE(ShowAddMarkerDialog(form_->Handle(), store, shell32, nullptr));
    watch.join();
    ASSERT_NE(answered, 0u);
    const DWORD took = answered - start;
    std::printf("Add Marker dialog on shell32.dll (%d icons): shown and answering after %lu ms\n", icons,
                static_cast<unsigned long>(took));
    EXPECT_EQ(listed, icons);
    EXPECT_GT(decoded, 0) << "the icons in view are shown";
    EXPECT_LT(decoded, icons / 2) << "only the icons in view are decoded";
    EXPECT_GT(decodedAtEnd, decoded);
    EXPECT_LT(took, 400u);
}
