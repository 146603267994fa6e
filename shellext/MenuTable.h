// The "Mark File" commands, one table for both menus: the classic submenu of
// IContextMenu and the Windows 11 command of IExplorerCommand take their captions,
// kinds, colours, pictures and command lines from here.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace shlext {

enum CommandKind : int {
    CMD_APPLY_MARKER = 1,
    CMD_REMOVE_MARKER = 2,
    CMD_APPLY_COLOR = 3,
    CMD_REMOVE_COLOR = 4,
    CMD_MORE_ICONS = 5,
    CMD_RESTORE_DEFAULT = 6,
    CMD_SUBMENU = 7,    // opens a submenu; never stored as a command
    CMD_SEPARATOR = 8,  // a line between groups; never stored as a command
};

// Where an entry of the table stands in the classic menu.
enum MenuPlacement : int {
    PLACE_ALWAYS,         // in the submenu, with and without Shift
    PLACE_NORMAL_ONLY,    // only without Shift
    PLACE_EXTENDED_ONLY,  // only with Shift
    PLACE_IN_RESTORE,     // only with Shift, inside the "Restore default" submenu
};

struct MenuEntry {
    const wchar_t* Caption;  // menu text: "&&" stands for one "&"
    int Kind;
    const wchar_t* Library;  // marker library in "<VantrelDir>\icl", or null
    int IconIndex;           // the marker's index in the library
    int Color;               // colour passed by CMD_APPLY_COLOR
    int ResourceId;          // the picture among the DLL's icons, or 0
    MenuPlacement Placement;
};

// What one command passes to the program.
struct MenuCommand {
    int Kind = 0;
    int Color = 0;
    std::wstring IconFile;
    int IconIndex = 0;
};

inline constexpr wchar_t kMenuCaption[] = L"Mark File";

// The submenu's entries in their order.
const std::vector<MenuEntry>& MenuTable();

// The entries Windows 11's first level shows: every command once, the "Restore
// default" submenu opened into a separator and its commands (the plain "Restore
// default" command is the same command as its "Remove Marker && Color").
std::vector<const MenuEntry*> FlatMenuEntries();

// "<programDir>\icl\<library>".
std::wstring LibraryPath(const std::wstring& programDir, const wchar_t* library);

MenuCommand CommandOf(const MenuEntry& entry, const std::wstring& programDir);

// The program's switch and arguments for the command and the list file; false for a
// kind that starts nothing.
bool CommandParameters(const MenuCommand& command, const std::wstring& listFile, std::wstring& parameters);

// A menu text as plain text: "&&" becomes "&", a lone "&" (an access key) goes.
std::wstring PlainText(const wchar_t* menuText);

}  // namespace shlext
