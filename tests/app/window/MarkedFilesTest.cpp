// The Marked Files window in this process on real marked files of the marking fixture's
// type: marked, lost (the icon stream's sibling file deleted, as a service that drops
// streams leaves it) and missing, driven with the messages keys and clicks send.
#include "imaging/IconHandle.h"  // the imaging headers before windows.h and its RGB macros

#include "app/window/MarkedFilesForm.h"

#include <commctrl.h>

#include <thread>

#include "app/common/FileHelpers.h"
#include "app/engine/ChangeJournal.h"
#include "app/engine/MarkerStreams.h"
#include "app/engine/VantrelClass.h"
#include "engine/FakeShare.h"
#include "engine/MarkingFixture.h"

using namespace vantrel;
using namespace testsupport;

namespace {

class MarkedFilesTest : public MarkingTest {
protected:
    void SetUp() override {
        MarkingTest::SetUp();
        TVantrel& core = TVantrel::Core();
        both_ = NewFile(L"both.vtdoc");
        marker_ = NewFile(L"marker.vtdoc");
        gone_ = NewFile(L"gone.vtdoc");
        core.FileList = {both_, gone_};
        core.ApplyColor(16748891);  // Blue
        core.FileList = {both_, marker_, gone_};
        core.ApplyOverlay(MarkerLibrary(), 6);
        bothIcon_ = IconStream(both_);
        ASSERT_FALSE(bothIcon_.empty());
        // Lost: both streams gone as a synchronising service leaves the file.
        ASSERT_TRUE(DeleteFileW(IconStreamPath(both_).c_str()));
        ASSERT_TRUE(DeleteFileW(InfoStreamPath(both_).c_str()));
        ASSERT_TRUE(DeleteFileW(IconStreamPath(gone_).c_str()));
        ASSERT_TRUE(DeleteFileW(InfoStreamPath(gone_).c_str()));
        ASSERT_TRUE(DeleteFileW(gone_.c_str()));
    }
    void TearDown() override {
        form_.reset();
        MarkingTest::TearDown();
    }
    void Open() {
        form_ = std::make_unique<TfrmMarkedFiles>();
        form_->Create(nullptr);
        form_->WaitForLooks();
        Pump();
    }
    int RowOf(const std::wstring& path) {
        for (int r = 0; r < form_->RowCount(); ++r)
            if (form_->CellText(r, kColFolder) + L"\\" + form_->CellText(r, kColName) == path) return r;
        return -1;
    }
    HWND Item(int id) const { return GetDlgItem(form_->Handle(), id); }
    std::wstring both_, marker_, gone_;
    std::string bothIcon_;
    std::unique_ptr<TfrmMarkedFiles> form_;
};

}  // namespace

TEST_F(MarkedFilesTest, StatesMarkersAndColoursOfEachJournalledFile) {
    Open();
    ASSERT_EQ(form_->RowCount(), 3);
    const int both = RowOf(both_), marker = RowOf(marker_), gone = RowOf(gone_);
    ASSERT_GE(both, 0);
    ASSERT_GE(marker, 0);
    ASSERT_GE(gone, 0);
    EXPECT_EQ(form_->CellText(marker, kColState), L"marked");
    EXPECT_EQ(form_->CellText(both, kColState), L"marking lost");
    EXPECT_EQ(form_->CellText(gone, kColState), L"file missing");
    // What the lost file had comes from its record: its streams are gone.
    EXPECT_EQ(form_->CellText(both, kColMarker), L"Approved");
    EXPECT_EQ(form_->CellText(both, kColLibrary), L"Main.icl");
    EXPECT_EQ(form_->CellText(both, kColColor), L"Blue");
    EXPECT_EQ(form_->CellText(marker, kColColor), L"");
    EXPECT_NE(form_->StatusText().find(L"3 files: 1 marked, 1 marking lost, 1 file missing"), std::wstring::npos)
        << form_->StatusText();

    // Filters: text, colour.
    SetWindowTextW(Item(kMfFilter), L"LOST");
    EXPECT_EQ(form_->RowCount(), 1);
    SetWindowTextW(Item(kMfFilter), L"");
    HWND colors = Item(kMfColor);
    SendMessageW(colors, CB_SELECTSTRING, WPARAM(-1), reinterpret_cast<LPARAM>(L"Blue"));
    SendMessageW(form_->Handle(), WM_COMMAND, MAKEWPARAM(kMfColor, CBN_SELCHANGE), reinterpret_cast<LPARAM>(colors));
    EXPECT_EQ(form_->RowCount(), 2);
    SendMessageW(colors, CB_SETCURSEL, 0, 0);
    SendMessageW(form_->Handle(), WM_COMMAND, MAKEWPARAM(kMfColor, CBN_SELCHANGE), reinterpret_cast<LPARAM>(colors));
    EXPECT_EQ(form_->RowCount(), 3);

    // A click on the State header sorts by it, a second one the other way.
    NMLISTVIEW click{};
    click.hdr = {Item(kMfList), UINT_PTR(kMfList), UINT(LVN_COLUMNCLICK)};
    click.iSubItem = kColState;
    SendMessageW(form_->Handle(), WM_NOTIFY, kMfList, reinterpret_cast<LPARAM>(&click));
    EXPECT_EQ(form_->CellText(0, kColState), L"file missing");
    SendMessageW(form_->Handle(), WM_NOTIFY, kMfList, reinterpret_cast<LPARAM>(&click));
    EXPECT_EQ(form_->CellText(0, kColState), L"marking lost");
}

TEST_F(MarkedFilesTest, ReapplyGivesTheLostIconBackByteForByte) {
    Open();
    form_->SelectRows({RowOf(both_), RowOf(marker_)});
    EXPECT_TRUE(IsWindowEnabled(Item(kMfReapply)));
    EXPECT_FALSE(IsWindowEnabled(Item(kMfRemoveMissing)));
    form_->ReapplySelected();
    EXPECT_EQ(IconStream(both_), bothIcon_);
    EXPECT_NE(InfoStream(both_).find("Color=16748891"), std::string::npos);
    EXPECT_EQ(form_->CellText(RowOf(both_), kColState), L"marked");
    EXPECT_EQ(WorkFoldersLeft(), 0);
}

TEST_F(MarkedFilesTest, RemovingMissingAndMarkingsThroughTheEngine) {
    Open();
    form_->SelectRows({RowOf(gone_)});
    EXPECT_TRUE(IsWindowEnabled(Item(kMfRemoveMissing)));
    EXPECT_FALSE(IsWindowEnabled(Item(kMfReapply)));
    SendMessageW(form_->Handle(), WM_COMMAND, MAKEWPARAM(kMfRemoveMissing, BN_CLICKED), 0);
    EXPECT_EQ(form_->FileCount(), 2);
    EXPECT_EQ(Journal().find("gone"), std::string::npos);

    // Delete asks; No keeps the marking, Yes removes it and the record.
    form_->SelectRows({RowOf(marker_)});
    std::wstring question;
    std::thread no = AnswerBox(IDNO, &question);
    form_->RemoveSelectedMarkings();
    no.join();
    EXPECT_NE(question.find(L"marker.vtdoc"), std::wstring::npos) << question;
    EXPECT_FALSE(IconStream(marker_).empty());
    std::thread yes = AnswerBox(IDYES, nullptr);
    form_->RemoveSelectedMarkings();
    yes.join();
    EXPECT_TRUE(IconStream(marker_).empty());
    EXPECT_EQ(form_->FileCount(), 1);
    for (const TMarkingRecord& r : ReadMarkingRecords().Records) EXPECT_NE(r.Path, marker_);
}

TEST_F(MarkedFilesTest, TheRealWindowWithKeysTabOrderNamesAndDpi) {
    // The window as a user meets it: its class, the list in report mode, the controls in
    // tab order, tooltips, F5, Esc.
    Open();
    HWND window = form_->Handle();
    EXPECT_EQ(ClassName(window), L"TfrmMarkedFiles");
    EXPECT_EQ(WindowText(window), L"Marked Files");
    HWND list = Item(kMfList);
    EXPECT_TRUE(GetWindowLongW(list, GWL_STYLE) & LVS_OWNERDATA);
    EXPECT_EQ(ListView_GetItemCount(list), 3);
    std::vector<int> order;
    for (HWND c = GetNextDlgTabItem(window, nullptr, FALSE); c && order.size() < 20;
         c = GetNextDlgTabItem(window, c, FALSE)) {
        if (!order.empty() && GetDlgCtrlID(c) == order.front()) break;
        order.push_back(GetDlgCtrlID(c));
    }
    const std::vector<int> expected = {kMfFilter,    kMfMarker,        kMfColor,   kMfList, kMfShowInFolder,
                                       kMfReapply,   kMfRemoveMarking, kMfRemoveMissing, kMfRefresh, kMfClose};
    std::vector<int> enabledExpected;
    for (int id : expected)
        if (IsWindowEnabled(Item(id))) enabledExpected.push_back(id);
    EXPECT_EQ(order, enabledExpected);
    // Every input control is labelled by the static before it (its accessible name).
    for (auto [label, control] : {std::pair{kMfFilterLabel, kMfFilter}, std::pair{kMfMarkerLabel, kMfMarker},
                                  std::pair{kMfColorLabel, kMfColor}, std::pair{kMfListLabel, kMfList}})
        EXPECT_EQ(GetWindow(Item(control), GW_HWNDPREV), Item(label));

    // A new file marked meanwhile shows after F5.
    const std::wstring late = NewFile(L"late.vtdoc");
    TVantrel::Core().FileList = {late};
    TVantrel::Core().ApplyColor(255);
    // Keys through the system's input into the window's own modal loop: F5, then Esc
    // closes (should a key not arrive, the window is closed after a while, and the test fails).
    bool closedByKey = true;
    std::thread keys([&] {
        Sleep(500);
        PressKey(VK_F5);
        Sleep(1500);
        PressKey(VK_ESCAPE);
        if (!WaitFor([&] { return !IsWindow(window); }, 10000)) {
            closedByKey = false;
            PostMessageW(window, WM_CLOSE, 0, 0);
        }
    });
    form_->RunModal();
    keys.join();
    EXPECT_TRUE(closedByKey);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(form_->FileCount(), 4) << "F5 read the journal again";
}

TEST_F(MarkedFilesTest, AFileWhoseOwnStreamNamesANetworkLibraryOpensNothing) {
    // Journalled before records existed: what it had comes from its info stream only.
    FakeShare share(MarkerLibrary());
    ASSERT_TRUE(share.Ready());
    const std::wstring old = NewFile(L"old.vtdoc");
    std::string info = "[vantrel]\r\nOverlayIconFile=";
    for (wchar_t c : share.Library()) info += char(c);
    WriteFile(InfoStreamPath(old), info + "\r\nOverlayIconIndex=6\r\n");
    JournalAdd(old);
    share.Watch();
    Open();
    const int row = RowOf(old);
    ASSERT_GE(row, 0);
    EXPECT_EQ(form_->CellText(row, kColState), L"marking lost");
    EXPECT_EQ(form_->CellText(row, kColMarker), L"#6");  // named by its number, the library unopened
    EXPECT_EQ(form_->CellText(row, kColLibrary), L"Main.icl");
    EXPECT_FALSE(share.Looked());
}
