// Windows 11's "Mark File" command with shell item arrays of real files and folders,
// compared command by command with the classic menu on the same selection.
#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <string>
#include <vector>

#include "ContextMenuFixture.h"
#include "DropData.h"

using namespace shlexttest;

namespace {

std::wstring Text(HRESULT (STDMETHODCALLTYPE IExplorerCommand::*get)(IShellItemArray*, LPWSTR*), IExplorerCommand* cmd) {
    LPWSTR text = nullptr;
    if (FAILED((cmd->*get)(nullptr, &text)) || !text) return L"";
    std::wstring out = text;
    CoTaskMemFree(text);
    return out;
}

EXPCMDFLAGS Flags(IExplorerCommand* cmd) {
    EXPCMDFLAGS flags = ~0u;
    EXPECT_EQ(cmd->GetFlags(&flags), S_OK);
    return flags;
}

EXPCMDSTATE State(IExplorerCommand* cmd, IShellItemArray* items) {
    EXPCMDSTATE state = ~0u;
    EXPECT_EQ(cmd->GetState(items, FALSE, &state), S_OK);
    return state;
}

IExplorerCommand* Root() {
    IExplorerCommand* root = nullptr;
    EXPECT_EQ(CoCreateInstance(shlext::CLSID_MarkFileCommand, nullptr, CLSCTX_INPROC_SERVER, IID_IExplorerCommand,
                               reinterpret_cast<void**>(&root)),
              S_OK);
    return root;
}

// The root's sub-commands, asked for three at a time as the shell may.
std::vector<IExplorerCommand*> SubCommands(IExplorerCommand* root) {
    std::vector<IExplorerCommand*> out;
    IEnumExplorerCommand* e = nullptr;
    EXPECT_EQ(root->EnumSubCommands(&e), S_OK);
    if (!e) return out;
    IExplorerCommand* batch[3];
    ULONG got = 0;
    while (e->Next(3, batch, &got) == S_OK || got > 0) {
        out.insert(out.end(), batch, batch + got);
        if (got < 3) break;
    }
    e->Release();
    return out;
}

void ReleaseAll(std::vector<IExplorerCommand*>& commands) {
    for (auto c : commands) c->Release();
    commands.clear();
}

std::wstring LoadedDll() {
    wchar_t buf[MAX_PATH] = {};
    GetModuleFileNameW(GetModuleHandleW(sizeof(void*) == 8 ? L"VantrelShlExt64.dll" : L"VantrelShlExt32.dll"), buf,
                       MAX_PATH);
    return buf;
}

// True when the shell can draw the icon at a "<file>,<index>" location.
bool IconLoads(const std::wstring& location) {
    size_t comma = location.rfind(L',');
    if (comma == std::wstring::npos) return false;
    HICON icon = nullptr;
    UINT n = ExtractIconExW(location.substr(0, comma).c_str(), _wtoi(location.c_str() + comma + 1), nullptr, &icon, 1);
    if (icon) DestroyIcon(icon);
    return n == 1 && icon;
}

using ExplorerCommand = ContextMenu;

TEST_F(ExplorerCommand, TitlesIconsAndFlagsMatchTheClassicMenu) {
    RunOnStaThread([&] {
        TempDir files;
        ASSERT_TRUE(WriteBytes(files / L"a.txt", "a"));
        IExplorerCommand* root = Root();
        ASSERT_TRUE(root);
        const std::wstring dll = LoadedDll();
        EXPECT_EQ(Text(&IExplorerCommand::GetTitle, root), L"Mark File");
        EXPECT_EQ(Text(&IExplorerCommand::GetIcon, root), dll + L",-333");
        EXPECT_EQ(Flags(root), static_cast<EXPCMDFLAGS>(ECF_HASSUBCOMMANDS));
        EXPECT_EQ(root->Invoke(nullptr, nullptr), E_NOTIMPL);
        LPWSTR tip = nullptr;
        EXPECT_EQ(root->GetToolTip(nullptr, &tip), E_NOTIMPL);

        // The classic Shift menu's items, its "Restore default" submenu opened in place
        // behind a separator.
        IShellExtInit* init = Create<IShellExtInit>(IID_IShellExtInit);
        ASSERT_TRUE(init);
        DropData data({files / L"a.txt"});
        ASSERT_EQ(init->Initialize(nullptr, &data, nullptr), S_OK);
        IContextMenu* cm = nullptr;
        ASSERT_EQ(init->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(&cm)), S_OK);
        HMENU menu = CreatePopupMenu();
        ASSERT_TRUE(SUCCEEDED(cm->QueryContextMenu(menu, 0, 1, 0x7FFF, CMF_EXTENDEDVERBS)));
        EXPECT_EQ(Items(menu)[0].caption, Text(&IExplorerCommand::GetTitle, root));
        std::vector<Item> classic;
        for (const Item& it : Items(Items(menu)[0].sub)) {
            if (!it.sub) {
                classic.push_back(it);
                continue;
            }
            classic.push_back(Item{L"", 0, true});
            for (const Item& inner : Items(it.sub)) classic.push_back(inner);
        }
        DestroyMenu(menu);
        cm->Release();
        init->Release();

        const std::wstring icl = MainIcl();
        const std::vector<std::wstring> icons = {
            icl + L",0", icl + L",2", icl + L",3", icl + L",5", icl + L",6", icl + L",8", L"", dll + L",-326",
            dll + L",-311", dll + L",-302", dll + L",-308", L"", L"", L"", L"", L"", L""};
        auto subs = SubCommands(root);
        ASSERT_EQ(subs.size(), classic.size());
        ASSERT_EQ(subs.size(), icons.size());
        for (size_t i = 0; i < subs.size(); ++i) {
            EXPECT_EQ(Flags(subs[i]), classic[i].separator ? ECF_ISSEPARATOR : ECF_DEFAULT) << i;
            EXPECT_EQ(State(subs[i], nullptr), static_cast<EXPCMDSTATE>(ECS_ENABLED)) << i;
            if (classic[i].separator) continue;
            // The title is plain text: the menu's "&&" is one "&".
            std::wstring expected = classic[i].caption;
            if (expected == L"Remove Marker && Color") expected = L"Remove Marker & Color";
            EXPECT_EQ(Text(&IExplorerCommand::GetTitle, subs[i]), expected) << i;
            EXPECT_EQ(Text(&IExplorerCommand::GetIcon, subs[i]), icons[i]) << i;
            // Where the classic menu draws a picture there is an icon the shell can load.
            EXPECT_EQ(classic[i].picture != nullptr, !icons[i].empty()) << i;
            if (!icons[i].empty()) {
                EXPECT_TRUE(IconLoads(icons[i])) << Utf8(icons[i]);
            }
        }
        ReleaseAll(subs);
        root->Release();

        // No program folder known: the markers have no icon, the swatches keep theirs.
        ClearLocation(HKEY_CURRENT_USER);
        root = Root();
        ASSERT_TRUE(root);
        subs = SubCommands(root);
        ASSERT_EQ(subs.size(), icons.size());
        LPWSTR icon = reinterpret_cast<LPWSTR>(1);
        EXPECT_TRUE(FAILED(subs[0]->GetIcon(nullptr, &icon)));
        EXPECT_EQ(icon, nullptr);
        EXPECT_EQ(Text(&IExplorerCommand::GetIcon, subs[7]), dll + L",-326");
        ReleaseAll(subs);
        root->Release();
    });
}

TEST_F(ExplorerCommand, ShownForFilesOnlyAndStartsAdOncePerMenu) {
    TempDir files;
    for (const wchar_t* n : {L"a.txt", L"b.zip", L"c.exe", L"noext"}) ASSERT_TRUE(WriteBytes(files / n, "x"));
    ASSERT_TRUE(CreateDirectoryW((files / L"folder").c_str(), nullptr));
    RunOnStaThread([&] {
        struct Case {
            std::vector<std::wstring> items;
            EXPCMDSTATE state;
        };
        const Case cases[] = {
            {{files / L"a.txt"}, ECS_ENABLED},
            {{files / L"a.txt", files / L"b.zip", files / L"c.exe", files / L"noext"}, ECS_ENABLED},
            {{files / L"folder"}, ECS_HIDDEN},
            {{files / L"a.txt", files / L"folder"}, ECS_HIDDEN},
            {{files / L"folder", files / L"a.txt"}, ECS_HIDDEN},
        };
        IExplorerCommand* shown = Root();
        IExplorerCommand* hidden = Root();
        ASSERT_TRUE(shown && hidden);
        for (const Case& c : cases) {
            IShellItemArray* items = ItemArray(c.items);
            ASSERT_TRUE(items) << Utf8(c.items[0]);
            EXPECT_EQ(State(shown, items), c.state) << c.items.size() << " " << Utf8(c.items.back());
            items->Release();
        }
        EXPECT_EQ(State(hidden, nullptr), static_cast<EXPCMDSTATE>(ECS_HIDDEN));
        IShellItemArray* folder = ItemArray({files / L"folder"});
        EXPECT_EQ(State(hidden, folder), static_cast<EXPCMDSTATE>(ECS_HIDDEN));
        folder->Release();
        EXPECT_EQ(shown->GetState(nullptr, TRUE, nullptr), E_POINTER);
        shown->Release();
        hidden->Release();
        PumpMessages(8000);
        EXPECT_FALSE(Exists(record_)) << "started before ten seconds";
        PumpMessages(3000);
    });
    // One start for the menu that showed (several times), none for the hidden one.
    auto lines = Records(2, 3000);
    EXPECT_EQ(lines, (std::vector<std::wstring>{L"-ad"}));
}

TEST_F(ExplorerCommand, EverySubCommandStartsWhatTheClassicCommandStarts) {
    TempDir files;
    const std::vector<std::wstring> names = {L"one.txt", L"two café.doc", L"three.bin"};
    std::vector<std::wstring> paths;
    std::string expected;
    for (const auto& n : names) {
        ASSERT_TRUE(WriteBytes(files / n, "x"));
        paths.push_back(files / n);
        expected += Ansi(files / n) + "\r\n";
    }
    size_t starts = 0;
    RunOnStaThread([&] {
        IExplorerCommand* root = Root();
        ASSERT_TRUE(root);
        auto subs = SubCommands(root);
        IShellItemArray* items = ItemArray(paths);
        ASSERT_TRUE(items);
        IDataObject* data = ShellDataObject(files.path(), names);
        ASSERT_TRUE(data);
        UINT offset = 0;  // the command's place in the classic Shift menu
        for (size_t i = 0; i < subs.size(); ++i) {
            if (Flags(subs[i]) == ECF_ISSEPARATOR) {
                EXPECT_EQ(subs[i]->Invoke(items, nullptr), E_NOTIMPL);
                continue;
            }
            ASSERT_EQ(subs[i]->Invoke(items, nullptr), S_OK) << i;
            ASSERT_EQ(Invoke(data, CMF_EXTENDEDVERBS, offset++), S_OK) << i;
            starts += 2;
            auto lines = Records(starts);
            ASSERT_EQ(lines.size(), starts) << "no start for command " << i;
            const std::wstring& mine = lines[starts - 2];
            const std::wstring& classic = lines[starts - 1];
            const std::wstring sw = classic.substr(0, 3);
            std::wstring list, rest, classicList, classicRest;
            ASSERT_TRUE(SplitCommand(mine, sw, list, rest)) << Utf8(mine) << " / " << Utf8(classic);
            ASSERT_TRUE(SplitCommand(classic, sw, classicList, classicRest));
            EXPECT_EQ(rest, classicRest) << Utf8(mine);
            EXPECT_NE(list, classicList);
            EXPECT_EQ(_wcsnicmp(list.c_str(), (temp_ + L"\\vantrel").c_str(), temp_.size() + 8), 0) << Utf8(list);
            EXPECT_EQ(ReadBytes(list), expected);
        }
        EXPECT_EQ(offset, 14u) << "every classic command once";
        // The data folder's copy is the last list written.
        EXPECT_EQ(ReadBytes(SelectedFiles()), expected);
        // Nothing to start for: no list written.
        EXPECT_EQ(subs[0]->Invoke(nullptr, nullptr), E_INVALIDARG);
        data->Release();
        items->Release();
        ReleaseAll(subs);
        root->Release();
    });
    EXPECT_EQ(ListFiles(temp_).size(), starts);
}

}  // namespace
