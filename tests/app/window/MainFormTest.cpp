// The main window in this process, on real files of the marking fixture's type, driven
// with the messages a user's clicks, keys and drops send.
#include "imaging/IconHandle.h"  // the imaging headers before windows.h and its RGB macros

#include <winsock2.h>  // before windows.h, for the registrator stand-in

#include "app/window/MainForm.h"

#include <commctrl.h>
#include <shlobj.h>

#include <set>
#include <thread>

#include "app/common/FileHelpers.h"
#include "app/common/IniFile.h"
#include "app/common/TextConv.h"
#include "app/engine/StreamLibraries.h"
#include "app/engine/VantrelClass.h"
#include "app/window/kvProgress.h"
#include "engine/FakeShare.h"
#include "engine/MarkingFixture.h"
#include "registration/LoopbackServer.h"
#include "imaging/Error.h"

using namespace vantrel;
using namespace testsupport;

namespace {

// A drop of files as the shell makes it: DROPFILES with wide names.
HDROP MakeDrop(const std::vector<std::wstring>& files) {
    std::size_t chars = 1;
    for (const auto& f : files) chars += f.size() + 1;
    HGLOBAL memory = GlobalAlloc(GHND, sizeof(DROPFILES) + chars * sizeof(wchar_t));
    auto* drop = static_cast<DROPFILES*>(GlobalLock(memory));
    drop->pFiles = sizeof(DROPFILES);
    drop->fWide = TRUE;
    auto* p = reinterpret_cast<wchar_t*>(drop + 1);
    for (const auto& f : files) p = std::copy(f.begin(), f.end(), p) + 1;
    GlobalUnlock(memory);
    return static_cast<HDROP>(memory);
}

class MainFormTest : public MarkingTest {
protected:
    void Open(const std::vector<std::wstring>& files) {
        TVantrel::Core().FileList = files;
        form_ = std::make_unique<Tfrm_Main>();
        form_->Create();
        form_->Show();
        Pump();
    }
    void TearDown() override {
        form_.reset();
        MarkingTest::TearDown();
    }
    HWND Item(int id) const { return GetDlgItem(form_->Handle(), id); }
    void Close() {
        SendMessageW(form_->Handle(), WM_CLOSE, 0, 0);
        Pump();
    }
    // Files of one deep folder: their paths are alike up to their names.
    std::vector<std::wstring> DeepFiles(const std::vector<std::wstring>& names) {
        const std::wstring folder = L"Users\\someone\\Documents\\Projects\\2026\\Quarterly reports\\Drafts";
        EXPECT_TRUE(ForceFolder(files_ / folder));
        std::vector<std::wstring> paths;
        for (const std::wstring& name : names) paths.push_back(NewFile(folder + L"\\" + name));
        return paths;
    }
    std::wstring Ini(const wchar_t* key) const {
        return TIniFile(form_->SettingsFile()).ReadString(L"Position", key, L"<none>");
    }
    std::unique_ptr<Tfrm_Main> form_;
};

}  // namespace

TEST_F(MainFormTest, ModeFollowsTheStartingListAndTheModeMenu) {
    const std::wstring a = NewFile(L"a.vtdoc"), b = NewFile(L"b.vtdoc");
    Open({a});
    EXPECT_FALSE(form_->MultipleMode());
    EXPECT_EQ(form_->FileNameText(), a);
    EXPECT_EQ(WindowText(Item(kLblFile)), L"File:");
    EXPECT_TRUE(IsWindowVisible(Item(kEdFileName)));
    EXPECT_FALSE(IsWindowVisible(Item(kLbFiles)));
    form_.reset();

    Open({a, b});
    EXPECT_TRUE(form_->MultipleMode());
    EXPECT_EQ(form_->ListEntries(), (std::vector<std::wstring>{a, b}));
    EXPECT_EQ(WindowText(Item(kLblFile)), L"Files:");
    EXPECT_TRUE(IsWindowVisible(Item(kLbFiles)));
    // Single mode keeps the first file; the list is then that one entry.
    SendMessageW(form_->Handle(), WM_COMMAND, kMiSingleFile, 0);
    EXPECT_FALSE(form_->MultipleMode());
    EXPECT_EQ(form_->FileNameText(), a);
    EXPECT_EQ(form_->ListEntries(), (std::vector<std::wstring>{a}));
    // The file area shrinks to the name box and grows back to the list's height.
    EXPECT_LT(form_->FileAreaHeight(), 60);
    SendMessageW(form_->Handle(), WM_COMMAND, kMiMultipleFiles, 0);
    EXPECT_EQ(form_->FileAreaHeight(), form_->ListPanelHeight() + 22 + 34);
    form_.reset();

    // An empty list: single mode, empty name box, one empty entry that the next added
    // file replaces.
    Open({});
    EXPECT_FALSE(form_->MultipleMode());
    EXPECT_EQ(form_->FileNameText(), L"");
    EXPECT_EQ(form_->ListEntries(), (std::vector<std::wstring>{L""}));
    form_->SetMultipleMode(true);
    form_->AddFile(a);
    EXPECT_EQ(form_->ListEntries(), (std::vector<std::wstring>{a}));
}

TEST_F(MainFormTest, AddingAndDroppingFilesKeepsTheListClean) {
    const std::wstring a = NewFile(L"a.vtdoc"), b = NewFile(L"b.vtdoc"), target = NewFile(L"target.vtdoc");
    const std::wstring link = files_ / L"shortcut.lnk";
    ASSERT_TRUE(CreateShortcut(link, target));
    Open({a});

    // One file dropped while single mode shows another: two entries, multiple mode.
    SendMessageW(form_->Handle(), WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop({b})), 0);
    EXPECT_TRUE(form_->MultipleMode());
    EXPECT_EQ(form_->ListEntries(), (std::vector<std::wstring>{a, b}));

    // Folders, missing files and the same file in other letter case are not added; a
    // shortcut adds its target, again each time (the duplicate test sees the link's path).
    std::wstring upper = a;
    CharUpperBuffW(upper.data(), DWORD(upper.size()));
    SendMessageW(form_->Handle(), WM_DROPFILES,
                 reinterpret_cast<WPARAM>(MakeDrop({files_.path(), files_ / L"missing.vtdoc", upper, link, link})), 0);
    EXPECT_EQ(form_->ListEntries(), (std::vector<std::wstring>{a, b, target, target}));

    // Files dropped on the name box: the first becomes its text, all are added.
    form_->SetMultipleMode(false);
    SendMessageW(Item(kEdFileName), WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop({b})), 0);
    EXPECT_TRUE(form_->MultipleMode());
    EXPECT_EQ(form_->FileNameText(), b);
    EXPECT_EQ(form_->ListEntries(), (std::vector<std::wstring>{a, b}));

    // The dialog's choice: one file only changes the name box, several replace the list.
    form_->SetMultipleMode(false);
    form_->AfterFileDialog({target}, true);
    EXPECT_FALSE(form_->MultipleMode());
    EXPECT_EQ(form_->FileNameText(), target);
    form_->AfterFileDialog({b, target}, true);
    EXPECT_TRUE(form_->MultipleMode());
    EXPECT_EQ(form_->ListEntries(), (std::vector<std::wstring>{b, target}));
}

TEST_F(MainFormTest, RemovingEntriesMovesTheSelectionAndTheButtonsFollow) {
    const std::wstring a = NewFile(L"a.vtdoc"), b = NewFile(L"b.vtdoc"), c = NewFile(L"c.vtdoc");
    Open({a, b, c});
    HWND list = Item(kLbFiles);
    EXPECT_FALSE(IsWindowEnabled(Item(kBtRemoveFile)));
    EXPECT_TRUE(IsWindowEnabled(Item(kBtClearlist)));
    SendMessageW(list, LB_SETSEL, TRUE, 2);
    SendMessageW(form_->Handle(), WM_COMMAND, MAKEWPARAM(kLbFiles, LBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
    EXPECT_TRUE(IsWindowEnabled(Item(kBtRemoveFile)));
    // The Delete key in the list removes the selection; the last entry is selected next.
    SetFocus(list);
    SendMessageW(list, WM_KEYDOWN, VK_DELETE, 0);
    EXPECT_EQ(form_->ListEntries(), (std::vector<std::wstring>{a, b}));
    EXPECT_EQ(SendMessageW(list, LB_GETSEL, 1, 0), 1);
    PressButton(form_->Handle(), kBtClearlist);
    Pump();
    EXPECT_TRUE(form_->ListEntries().empty());
    EXPECT_FALSE(IsWindowEnabled(Item(kBtClearlist)));
    EXPECT_FALSE(IsWindowEnabled(Item(kBtRemoveFile)));
    EXPECT_TRUE(form_->MultipleMode());  // removing never changes the mode
}

TEST_F(MainFormTest, TheListOfOneDeepFolderShowsEveryFileNameWholeAtEachWidthAndDpi) {
    const std::vector<std::wstring> names = {L"report-q1.vtdoc", L"report-q2.vtdoc", L"summary.vtdoc"};
    const std::vector<std::wstring> paths = DeepFiles(names);
    Open(paths);
    HWND list = Item(kLbFiles);
    EXPECT_EQ(form_->ListEntries(), paths) << "the entries stay the full paths";
    // Each entry draws its name whole, within the list, and the path cut in its middle.
    auto expectNamesShown = [&](const char* when) {
        HDC dc = GetDC(list);
        HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(list, WM_GETFONT, 0, 0)));
        RECT client{};
        GetClientRect(list, &client);
        std::set<std::wstring> shownTexts;
        for (std::size_t i = 0; i < 3; ++i) {
            const std::wstring shown = form_->ListItemShownText(int(i));
            shownTexts.insert(shown);
            EXPECT_TRUE(shown.find(L"...\\") != std::wstring::npos && shown.ends_with(L"\\" + names[i]))
                << when << ": " << WideToUtf8(shown);
            SIZE size{};
            GetTextExtentPoint32W(dc, shown.c_str(), int(shown.size()), &size);
            EXPECT_LE(size.cx, client.right) << when;
        }
        EXPECT_EQ(shownTexts.size(), 3u) << when;
        SelectObject(dc, old);
        ReleaseDC(list, dc);
    };
    expectNamesShown("96 DPI");
    // Wide, the whole path shows; narrow again, every entry is drawn anew.
    RECT rc{}, last{}, dirty{};
    GetWindowRect(form_->Handle(), &rc);
    MoveWindow(form_->Handle(), rc.left, rc.top, 1200, rc.bottom - rc.top, TRUE);
    Pump();
    EXPECT_EQ(form_->ListItemShownText(2), paths[2]);
    MoveWindow(form_->Handle(), rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top, TRUE);
    GetUpdateRect(list, &dirty, FALSE);
    SendMessageW(list, LB_GETITEMRECT, 2, reinterpret_cast<LPARAM>(&last));
    EXPECT_TRUE(dirty.top <= 0 && dirty.bottom >= last.bottom && dirty.right >= last.right) << "all entries drawn again";
    Pump();
    expectNamesShown("narrow again");

    // The hint over an entry is its full path; below the entries there is none.
    auto hintAt = [&](int y) {
        SendMessageW(list, WM_MOUSEMOVE, 0, MAKELPARAM(10, y));
        wchar_t text[512] = L"<no tooltip>";
        TTTOOLINFOW tool{};
        tool.cbSize = TTTOOLINFOW_V2_SIZE;
        tool.hwnd = list;
        tool.uId = kLbFilesTip;
        tool.lpszText = text;
        SendMessageW(form_->TooltipHandle(), TTM_GETTEXTW, 512, reinterpret_cast<LPARAM>(&tool));
        return std::wstring(text);
    };
    EXPECT_EQ(hintAt(last.top - 2), paths[1]);
    EXPECT_EQ(hintAt(last.bottom + 3), L"");
    EXPECT_EQ(hintAt(last.top + 2), paths[2]);
    // A screen reader names an entry by its string, the full path: the platform's proxy
    // reads the strings of a list the window draws when it has LBS_HASSTRINGS.
    EXPECT_TRUE(GetWindowLongW(list, GWL_STYLE) & LBS_HASSTRINGS);

    // At 144 DPI the entries grow with the font and still show their names.
    RECT at144{rc.left, rc.top, rc.left + (rc.right - rc.left) * 3 / 2, rc.top + (rc.bottom - rc.top) * 3 / 2};
    SendMessageW(form_->Handle(), WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&at144));
    Pump();
    EXPECT_EQ(SendMessageW(list, LB_GETITEMHEIGHT, 0, 0), MulDiv(13, 144, 96));
    expectNamesShown("144 DPI");
}

TEST_F(MainFormTest, TheNameBoxShowsTheEndOfItsPathAndAllOfItAsItsHint) {
    const std::wstring path = DeepFiles({L"report-q1.vtdoc"}).front();
    Open({path});
    HWND edit = Item(kEdFileName);
    // The last character is in the box, the start of the path gives way.
    const LRESULT end = SendMessageW(edit, EM_POSFROMCHAR, WPARAM(path.size() - 1), 0);
    RECT client{};
    GetClientRect(edit, &client);
    EXPECT_GT(SendMessageW(edit, EM_GETFIRSTVISIBLELINE, 0, 0), 0);
    EXPECT_TRUE(end != -1 && short(LOWORD(end)) >= 0 && short(LOWORD(end)) < client.right) << short(LOWORD(end));
    NMTTDISPINFOW info{};
    info.hdr = {form_->TooltipHandle(), reinterpret_cast<UINT_PTR>(edit), UINT(TTN_GETDISPINFOW)};
    info.uFlags = TTF_IDISHWND;
    SendMessageW(form_->Handle(), WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&info));
    EXPECT_EQ(std::wstring(info.lpszText ? info.lpszText : L"<none>"), path);
}

TEST_F(MainFormTest, PagesAndApplyingFromEachPicker) {
    const std::wstring file = NewFile(L"a.vtdoc");
    Open({file});
    ASSERT_GE(form_->PageCount(), 2) << "Main.icl is staged beside the tests";
    EXPECT_EQ(form_->PageCaption(0), L"Colors");
    EXPECT_EQ(form_->PageCaption(1), L"Main");
    EXPECT_EQ(form_->ActivePage(), 0);
    auto* colors = dynamic_cast<TColorGrid*>(form_->GridOnPage(0));
    auto* markers = dynamic_cast<TOverlayGrid*>(form_->GridOnPage(1));
    ASSERT_TRUE(colors && markers);
    EXPECT_EQ(colors->ItemCount(), 7);
    EXPECT_EQ(colors->CellName(2), L"Orange");

    // Apply on a colour cell tints the file; the marker page's previews take the colour.
    colors->SelectCell(5);
    PressButton(form_->Handle(), kBtApply);
    Pump();
    EXPECT_NE(InfoStream(file).find("Color=16748891"), std::string::npos) << InfoStream(file);
    EXPECT_EQ(markers->PreviewColor, 16748891);

    // A double click on a marker cell marks it; the colour page then draws that marker.
    form_->SetActivePage(1);
    markers->SelectCell(7);
    ASSERT_TRUE(markers->OnChoose);
    markers->OnChoose(*markers);
    EXPECT_NE(InfoStream(file).find("OverlayIconIndex=6"), std::string::npos) << InfoStream(file);
    EXPECT_EQ(colors->MarkerFile, markers->LibraryFile);
    EXPECT_EQ(colors->MarkerIndex, 6);

    // An empty cell past the last item does nothing; "Default" restores the file.
    markers->SelectCell(markers->ItemCount() + 1);
    if (markers->SelectedIndex() >= markers->ItemCount()) {
        form_->ApplyActivePage();
        EXPECT_NE(InfoStream(file).find("OverlayIconIndex=6"), std::string::npos);
    }
    markers->SelectCell(0);
    SendMessageW(form_->Handle(), WM_COMMAND, kApplyIconChange1, 0);
    EXPECT_EQ(InfoStream(file), "<none>");
    EXPECT_EQ(colors->MarkerFile, L"");
    EXPECT_EQ(WorkFoldersLeft(), 0);
}

TEST_F(MainFormTest, BusyWindowRunsOneOperationAndClosesOnlyAfterIt) {
    const std::wstring file = NewFile(L"a.vtdoc");
    Open({file});
    HWND window = form_->Handle();
    int runs = 0;
    bool progressShown = false;
    form_->RunOperation([&] {
        ++runs;
        progressShown = IsWindowVisible(FindOwnWindow(kProgressClass)) != 0;
        form_->RunOperation([&] { ++runs; });  // a second command meanwhile does nothing
        SendMessageW(window, WM_CLOSE, 0, 0);
        EXPECT_TRUE(IsWindow(window));  // never closed under the operation
    });
    EXPECT_EQ(runs, 1);
    EXPECT_TRUE(progressShown);
    EXPECT_FALSE(IsWindowVisible(FindOwnWindow(kProgressClass)));
    EXPECT_FALSE(form_->Busy());
    Pump();
    EXPECT_FALSE(IsWindow(window));  // the close came once the operation had ended
    EXPECT_EQ(ReadFile(TVantrel::Core().SelectedFilesPath()).value_or(""), WideToAnsi(file + L"\r\n"));
}

TEST_F(MainFormTest, AFailingOperationClearsBusyAndShowsTheFailure) {
    Open({NewFile(L"a.vtdoc")});
    std::thread closer([] {
        HWND dialog = WaitForOwnWindow([](HWND w) { return WindowText(w) == L"Vantrel - Error"; });
        if (dialog) PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    });
    form_->RunOperation([] { throw Error("Disk on fire"); });
    closer.join();
    EXPECT_FALSE(form_->Busy());
    EXPECT_FALSE(IsWindowVisible(FindOwnWindow(kProgressClass)));
}

TEST_F(MainFormTest, RollbackIsOfferedOnlyWithJournalEntriesAndAsksFirst) {
    const std::wstring file = NewFile(L"a.vtdoc");
    Open({file});
    HMENU action = GetSubMenu(GetMenu(form_->Handle()), 0);
    auto rollbackEnabled = [&] {
        SendMessageW(form_->Handle(), WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(action), 0);
        return (GetMenuState(action, kMiRollbackAllChanges, MF_BYCOMMAND) & MF_GRAYED) == 0;
    };
    EXPECT_FALSE(rollbackEnabled());
    TVantrel::Core().FileList = {file};
    TVantrel::Core().ApplyColor(255);
    EXPECT_TRUE(rollbackEnabled());

    std::wstring text;
    std::thread no = AnswerBox(IDNO, &text);
    form_->RollbackAllChanges();
    no.join();
    EXPECT_NE(text.find(L"You are going to rollback all changes."), std::wstring::npos) << text;
    EXPECT_NE(InfoStream(file), "<none>");
    // Yes: the registrator drops its registrations first, then every file is restored.
    LoopbackServer service(LoopbackServer::Response(200, "OK", "OK"));
    ScopedServicePort port(static_cast<DWORD>(service.port()));
    std::thread yes = AnswerBox(IDYES, nullptr);
    form_->RollbackAllChanges();
    yes.join();
    EXPECT_EQ(InfoStream(file), "<none>");
    EXPECT_EQ(service.requests().size(), 1u);
    EXPECT_FALSE(rollbackEnabled());
}

TEST_F(MainFormTest, PositionSettingsRoundTripNormalAndMaximized) {
    const std::wstring file = NewFile(L"a.vtdoc");
    Open({file});
    // No settings: centred in the work area at the design size.
    RECT work{}, rc{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    GetWindowRect(form_->Handle(), &rc);
    EXPECT_EQ(rc.right - rc.left, MulDiv(267, form_->Dpi(), 96));
    EXPECT_NEAR(rc.top, work.top + ((work.bottom - work.top) - (rc.bottom - rc.top)) / 2, 1);
    EXPECT_NEAR(rc.left, work.left + ((work.right - work.left) - (rc.right - rc.left)) / 2, 1);
    MoveWindow(form_->Handle(), 40, 30, 420, 520, TRUE);
    Close();
    EXPECT_EQ(Ini(L"Maximized"), L"0");
    EXPECT_EQ(Ini(L"Width"), L"420");
    EXPECT_EQ(Ini(L"Left"), L"40");
    EXPECT_EQ(Ini(L"Top"), L"30");
    EXPECT_EQ(ReadFile(TVantrel::Core().SelectedFilesPath()).value_or(""), WideToAnsi(file + L"\r\n"));

    // Closed maximized: the normal size stays, and the next start opens maximized and
    // restores to it.
    Open({file});
    ShowWindow(form_->Handle(), SW_MAXIMIZE);
    Close();
    EXPECT_EQ(Ini(L"Maximized"), L"1");
    EXPECT_EQ(Ini(L"Width"), L"420");
    Open({file});
    EXPECT_TRUE(IsZoomed(form_->Handle()));
    ShowWindow(form_->Handle(), SW_RESTORE);
    GetWindowRect(form_->Handle(), &rc);
    EXPECT_EQ(rc.right - rc.left, 420);
    EXPECT_EQ(rc.left, 40);
}

TEST_F(MainFormTest, ClosingWritesTheListInUtf8WhenAPathNeedsIt) {
    const std::wstring wide = NewFile(L"\u65E5\u672C.vtdoc"), plain = NewFile(L"a.vtdoc");
    Open({plain, wide});
    Close();
    const std::string saved = ReadFile(TVantrel::Core().SelectedFilesPath()).value_or("");
    EXPECT_EQ(saved.rfind("\xEF\xBB\xBF", 0), 0u);
    TVantrel::Core().LoadFileList(TVantrel::Core().SelectedFilesPath());
    EXPECT_EQ(TVantrel::Core().FileList, (std::vector<std::wstring>{plain, wide}));
}

TEST_F(MainFormTest, PreviewsOfAFileFromElsewhereOpenNothingOnTheNetwork) {
    FakeShare share(MarkerLibrary());
    ASSERT_TRUE(share.Ready());
    const std::wstring file = NewFile(L"brought.vtdoc");
    std::string info = "[vantrel]\r\nOverlayIconFile=";
    for (wchar_t c : share.Library()) info += char(c);
    WriteFile(file + L":vantreliconinfo", info + "\r\nOverlayIconIndex=6\r\nColor=255\r\n");
    auto paintColors = [&] {
        auto* colors = dynamic_cast<TColorGrid*>(form_->GridOnPage(0));
        RedrawWindow(colors->Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        Pump();
        return colors;
    };
    share.Watch();
    Open({file});
    ASSERT_EQ(form_->ActivePage(), 0);
    TColorGrid* colors = paintColors();
    EXPECT_EQ(colors->MarkerFile, L"");  // the previews go without that marker
    EXPECT_FALSE(share.Looked());
    auto* markers = dynamic_cast<TOverlayGrid*>(form_->GridOnPage(1));
    EXPECT_EQ(markers->PreviewColor, 255);  // what the stream says that opens nothing still counts

    // Once the user chose the library in this process, the previews draw it: the watch sees it.
    NoteChosenLibrary(share.Library());
    form_->RefreshPreview();
    colors = paintColors();
    ForgetChosenLibraries();
    EXPECT_EQ(colors->MarkerFile, share.Library());
    EXPECT_TRUE(share.Looked());
}
