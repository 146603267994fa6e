// The "Mark File" menu with real CF_HDROP data objects and real menus; each command
// writes its list and starts the stand-in program registered as "VantrelPath".
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ContextMenuFixture.h"
#include "DropData.h"

using namespace shlexttest;

namespace {

// Colour of the centre pixel of a menu picture.
COLORREF Centre(HBITMAP bitmap) {
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, bitmap);
    COLORREF c = GetPixel(dc, 8, 10);
    SelectObject(dc, old);
    DeleteDC(dc);
    return c;
}

bool Near(COLORREF a, int r, int g, int b) {
    return std::abs(GetRValue(a) - r) <= 3 && std::abs(GetGValue(a) - g) <= 3 && std::abs(GetBValue(a) - b) <= 3;
}

TEST_F(ContextMenu, MenuLayoutForBothFlagSets) {
    RunOnStaThread([&] {
        TempDir files;
        ASSERT_TRUE(WriteBytes(files / L"a.txt", "a"));
        DropData data({files / L"a.txt"});
        IShellExtInit* init = Create<IShellExtInit>(IID_IShellExtInit);
        ASSERT_TRUE(init);
        ASSERT_EQ(init->Initialize(nullptr, &data, nullptr), S_OK);
        IContextMenu* cm = nullptr;
        ASSERT_EQ(init->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(&cm)), S_OK);

        // Only the default item wanted: nothing is added.
        HMENU menu = CreatePopupMenu();
        AppendMenuW(menu, MF_STRING, 1, L"Open");
        AppendMenuW(menu, MF_STRING, 2, L"Properties");
        EXPECT_EQ(cm->QueryContextMenu(menu, 1, 100, 0x7FFF, CMF_DEFAULTONLY), S_OK);
        EXPECT_EQ(GetMenuItemCount(menu), 2);

        EXPECT_EQ(cm->QueryContextMenu(menu, 1, 100, 0x7FFF, CMF_NORMAL), MAKE_HRESULT(0, 0, 12));
        auto top = Items(menu);
        ASSERT_EQ(top.size(), 3u);
        EXPECT_EQ(top[0].caption, L"Open");
        EXPECT_EQ(top[1].caption, L"Mark File");
        EXPECT_EQ(top[2].caption, L"Properties");
        ASSERT_TRUE(top[1].sub);
        EXPECT_TRUE(top[1].picture);

        const std::vector<std::wstring> captions = {
            L"Hi-Priority", L"Low Priority", L"Planned Work", L"Done Work", L"Approved", L"Rejected", L"",
            L"Red",         L"Green",        L"Blue",         L"Gray",      L"",         L"More icons", L"Restore default"};
        auto sub = Items(top[1].sub);
        ASSERT_EQ(sub.size(), captions.size());
        UINT id = 100;
        for (size_t i = 0; i < sub.size(); ++i) {
            EXPECT_EQ(sub[i].caption, captions[i]) << i;
            EXPECT_EQ(sub[i].separator, i == 6 || i == 11) << i;
            if (sub[i].separator) continue;
            EXPECT_EQ(sub[i].id, id++) << i;
            EXPECT_EQ(sub[i].sub, nullptr);
            // Markers and colours have pictures, the last two none.
            EXPECT_EQ(sub[i].picture != nullptr, i <= 10) << i;
        }
        // The swatches show the colour each command passes.
        EXPECT_TRUE(Near(Centre(sub[7].picture), 254, 69, 54));
        EXPECT_TRUE(Near(Centre(sub[8].picture), 20, 250, 44));
        EXPECT_TRUE(Near(Centre(sub[9].picture), 91, 145, 255));
        EXPECT_TRUE(Near(Centre(sub[10].picture), 178, 178, 178));
        DestroyMenu(menu);

        // Shift held: "Restore default" opens three commands.
        menu = CreatePopupMenu();
        EXPECT_EQ(cm->QueryContextMenu(menu, 0, 500, 0x7FFF, CMF_EXTENDEDVERBS), MAKE_HRESULT(0, 0, 14));
        top = Items(menu);
        ASSERT_EQ(top.size(), 1u);
        sub = Items(top[0].sub);
        ASSERT_EQ(sub.size(), 14u);
        EXPECT_EQ(sub[12].id, 510u);
        EXPECT_EQ(sub[13].caption, L"Restore default");
        ASSERT_TRUE(sub[13].sub);
        EXPECT_EQ(sub[13].picture, nullptr);
        auto restore = Items(sub[13].sub);
        ASSERT_EQ(restore.size(), 3u);
        EXPECT_EQ(restore[0].caption, L"Remove Marker");
        EXPECT_EQ(restore[1].caption, L"Remove Color");
        EXPECT_EQ(restore[2].caption, L"Remove Marker && Color");
        EXPECT_EQ(restore[0].id, 511u);
        EXPECT_EQ(restore[1].id, 512u);
        EXPECT_EQ(restore[2].id, 513u);
        DestroyMenu(menu);

        // Fewer identifiers than needed: nothing is added.
        menu = CreatePopupMenu();
        EXPECT_EQ(cm->QueryContextMenu(menu, 0, 100, 110, CMF_NORMAL), S_OK);
        EXPECT_EQ(GetMenuItemCount(menu), 0);
        DestroyMenu(menu);

        char name[8] = "keep";
        EXPECT_EQ(cm->GetCommandString(0, GCS_VERBA, nullptr, name, 8), S_OK);
        EXPECT_STREQ(name, "keep");
        cm->Release();
        init->Release();
    });
}

TEST_F(ContextMenu, EveryCommandWritesItsListAndStartsTheProgram) {
    TempDir files;
    const std::vector<std::wstring> names = {L"one.txt", L"two café.doc", L"three.bin"};
    for (const auto& n : names) ASSERT_TRUE(WriteBytes(files / n, "x"));
    std::string expected;
    for (const auto& n : names) expected += Ansi(files / n) + "\r\n";

    struct Cmd {
        UINT flags;
        UINT offset;
        std::wstring sw;
        std::wstring rest;
    };
    const std::wstring icl = L" \"" + MainIcl() + L"\" ";
    const std::vector<Cmd> cmds = {
        {CMF_NORMAL, 0, L"-oi", icl + L"0"},       {CMF_NORMAL, 1, L"-oi", icl + L"2"},
        {CMF_NORMAL, 2, L"-oi", icl + L"3"},       {CMF_NORMAL, 3, L"-oi", icl + L"5"},
        {CMF_NORMAL, 4, L"-oi", icl + L"6"},       {CMF_NORMAL, 5, L"-oi", icl + L"8"},
        {CMF_NORMAL, 6, L"-ci", L" 3556862"},      {CMF_NORMAL, 7, L"-ci", L" 2947604"},
        {CMF_NORMAL, 8, L"-ci", L" 16748891"},     {CMF_NORMAL, 9, L"-ci", L" 11711154"},
        {CMF_NORMAL, 10, L"-mi", L""},             {CMF_NORMAL, 11, L"-rd", L""},
        {CMF_EXTENDEDVERBS, 11, L"-uo", L""},      {CMF_EXTENDEDVERBS, 12, L"-uc", L""},
        {CMF_EXTENDEDVERBS, 13, L"-rd", L""},
    };
    std::vector<std::wstring> lists;
    RunOnStaThread([&] {
        IDataObject* data = ShellDataObject(files.path(), names);
        ASSERT_TRUE(data) << "the shell's data object";
        for (size_t i = 0; i < cmds.size(); ++i) {
            ASSERT_EQ(Invoke(data, cmds[i].flags, cmds[i].offset), S_OK) << i;
            auto lines = Records(i + 1);
            ASSERT_EQ(lines.size(), i + 1) << "no start for command " << i;
            std::wstring list, rest;
            ASSERT_TRUE(SplitCommand(lines[i], cmds[i].sw, list, rest)) << Utf8(lines[i]);
            EXPECT_EQ(rest, cmds[i].rest) << Utf8(lines[i]);
            // A new list in TEMP with the three paths in ANSI, CR LF after each; an exact copy
            // in the data folder.
            EXPECT_EQ(_wcsnicmp(list.c_str(), (temp_ + L"\\vantrel").c_str(), temp_.size() + 8), 0) << Utf8(list);
            EXPECT_EQ(ReadBytes(list), expected);
            EXPECT_EQ(ReadBytes(SelectedFiles()), expected);
            lists.push_back(list);
        }
        data->Release();
    });
    std::sort(lists.begin(), lists.end());
    EXPECT_EQ(std::unique(lists.begin(), lists.end()), lists.end()) << "every command has its own list";
    EXPECT_EQ(ListFiles(temp_).size(), cmds.size());
}

TEST_F(ContextMenu, RefusedRequestsStillWriteTheirList) {
    TempDir files;
    ASSERT_TRUE(WriteBytes(files / L"a.txt", "a"));
    DropData data({files / L"a.txt"});
    RunOnStaThread([&] {
        EXPECT_EQ(Invoke(&data, CMF_NORMAL, 12), E_INVALIDARG);  // outside the table
        EXPECT_EQ(Invoke(&data, CMF_EXTENDEDVERBS, 14), E_INVALIDARG);
        EXPECT_EQ(Invoke(&data, CMF_NORMAL, reinterpret_cast<UINT_PTR>("open")), E_INVALIDARG);
    });
    EXPECT_EQ(ListFiles(temp_).size(), 3u);
    Sleep(500);
    EXPECT_FALSE(Exists(record_)) << "nothing was started";

    // No usable selection: the handler is not used.
    RunOnStaThread([&] {
        IShellExtInit* init = Create<IShellExtInit>(IID_IShellExtInit);
        ASSERT_TRUE(init);
        DropData none({}), noHdrop({files / L"a.txt"}, false);
        EXPECT_EQ(init->Initialize(nullptr, nullptr, nullptr), E_INVALIDARG);
        EXPECT_EQ(init->Initialize(nullptr, &none, nullptr), E_INVALIDARG);
        EXPECT_EQ(init->Initialize(nullptr, &noHdrop, nullptr), E_INVALIDARG);
        init->Release();
    });
}

TEST_F(ContextMenu, PathsAreNeitherCutNorReplaced) {
    // A path past 260 characters, one outside the ANSI code page, one inside it.
    const std::wstring longPath = L"C:\\" + std::wstring(150, L'a') + L"\\" + std::wstring(150, L'b') + L".txt";
    const std::wstring foreign = L"C:\\docs\\\u0101\u4e2d\u0416.txt";  // ā, a CJK letter, Ж
    const std::wstring latin = L"C:\\docs\\r\u00e9sum\u00e9.txt";       // é
    RunOnStaThread([&] {
        DropData onlyLatin({latin, longPath});
        ASSERT_EQ(Invoke(&onlyLatin, CMF_NORMAL, 11), S_OK);
        DropData mixed({latin, foreign, longPath});
        ASSERT_EQ(Invoke(&mixed, CMF_NORMAL, 11), S_OK);
    });
    auto lines = Records(2);
    ASSERT_EQ(lines.size(), 2u);
    std::wstring list, rest;
    ASSERT_TRUE(SplitCommand(lines[0], L"-rd", list, rest));
    EXPECT_EQ(ReadBytes(list), Ansi(latin) + "\r\n" + Ansi(longPath) + "\r\n");
    ASSERT_TRUE(SplitCommand(lines[1], L"-rd", list, rest));
    // UTF-8 behind a byte-order mark, every path whole.
    EXPECT_EQ(ReadBytes(list), "\xEF\xBB\xBF" + Utf8(latin) + "\r\n" + Utf8(foreign) + "\r\n" + Utf8(longPath) + "\r\n");
    EXPECT_EQ(ReadBytes(SelectedFiles()), ReadBytes(list));
}

TEST_F(ContextMenu, ProgramLocationFromEitherHiveUserWins) {
    TempDir files;
    ASSERT_TRUE(WriteBytes(files / L"a.txt", "a"));
    DropData data({files / L"a.txt"});
    // Only under HKLM.
    ClearLocation(HKEY_CURRENT_USER);
    SetLocation(HKEY_LOCAL_MACHINE, SiblingExe(L"recorder.exe"), DistFolder());
    RunOnStaThread([&] { ASSERT_EQ(Invoke(&data, CMF_NORMAL, 4), S_OK); });
    auto lines = Records(1);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find(L"\"" + MainIcl() + L"\" 6"), std::wstring::npos) << Utf8(lines[0]);

    // HKCU replaces HKLM: the HKLM program does not exist, the HKCU one does.
    SetLocation(HKEY_LOCAL_MACHINE, files / L"missing.exe", L"C:\\nowhere");
    SetLocation(HKEY_CURRENT_USER, SiblingExe(L"recorder.exe"), L"C:\\elsewhere");
    RunOnStaThread([&] { ASSERT_EQ(Invoke(&data, CMF_NORMAL, 0), S_OK); });
    lines = Records(2);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[1].find(L"\"C:\\elsewhere\\icl\\Main.icl\" 0"), std::wstring::npos) << Utf8(lines[1]);

    // Values gone from both hives: the program found last in this process is kept.
    ClearLocation(HKEY_CURRENT_USER);
    ClearLocation(HKEY_LOCAL_MACHINE);
    RunOnStaThread([&] { EXPECT_EQ(Invoke(&data, CMF_NORMAL, 6), S_OK); });
    lines = Records(3);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[2].substr(0, 3), L"-ci");
    EXPECT_EQ(ListFiles(temp_).size(), 3u);
}

TEST_F(ContextMenu, EveryMenuStartsTheProgramWithAdTenSecondsLater) {
    TempDir files;
    ASSERT_TRUE(WriteBytes(files / L"a.txt", "a"));
    DropData data({files / L"a.txt"});
    RunOnStaThread([&] {
        // Two menus opened and closed without a choice, one second apart.
        for (int i = 0; i < 2; ++i) {
            IShellExtInit* init = Create<IShellExtInit>(IID_IShellExtInit);
            ASSERT_TRUE(init);
            ASSERT_EQ(init->Initialize(nullptr, &data, nullptr), S_OK);
            init->Release();
            if (i == 0) PumpMessages(1000);
        }
        PumpMessages(8500);
        EXPECT_FALSE(Exists(record_)) << "started before ten seconds";
        PumpMessages(3000);
    });
    auto lines = Records(2);
    EXPECT_EQ(lines, (std::vector<std::wstring>{L"-ad", L"-ad"}));
}

}  // namespace
