#include "MenuTable.h"

#include "Guids.h"

namespace shlext {

const std::vector<MenuEntry>& MenuTable() {
    static const std::vector<MenuEntry> table = {
        {L"Hi-Priority", CMD_APPLY_MARKER, L"Main.icl", 0, 0, 0, PLACE_ALWAYS},
        {L"Low Priority", CMD_APPLY_MARKER, L"Main.icl", 2, 0, 0, PLACE_ALWAYS},
        {L"Planned Work", CMD_APPLY_MARKER, L"Main.icl", 3, 0, 0, PLACE_ALWAYS},
        {L"Done Work", CMD_APPLY_MARKER, L"Main.icl", 5, 0, 0, PLACE_ALWAYS},
        {L"Approved", CMD_APPLY_MARKER, L"Main.icl", 6, 0, 0, PLACE_ALWAYS},
        {L"Rejected", CMD_APPLY_MARKER, L"Main.icl", 8, 0, 0, PLACE_ALWAYS},
        {nullptr, CMD_SEPARATOR, nullptr, 0, 0, 0, PLACE_ALWAYS},
        {L"Red", CMD_APPLY_COLOR, nullptr, 0, 3556862, IDI_SWATCH_RED, PLACE_ALWAYS},
        {L"Green", CMD_APPLY_COLOR, nullptr, 0, 2947604, IDI_SWATCH_GREEN, PLACE_ALWAYS},
        {L"Blue", CMD_APPLY_COLOR, nullptr, 0, 16748891, IDI_SWATCH_BLUE, PLACE_ALWAYS},
        {L"Gray", CMD_APPLY_COLOR, nullptr, 0, 11711154, IDI_SWATCH_GRAY, PLACE_ALWAYS},
        {nullptr, CMD_SEPARATOR, nullptr, 0, 0, 0, PLACE_ALWAYS},
        {L"More icons", CMD_MORE_ICONS, nullptr, 0, 0, 0, PLACE_ALWAYS},
        {L"Restore default", CMD_RESTORE_DEFAULT, nullptr, 0, 0, 0, PLACE_NORMAL_ONLY},
        {L"Restore default", CMD_SUBMENU, nullptr, 0, 0, 0, PLACE_EXTENDED_ONLY},
        {L"Remove Marker", CMD_REMOVE_MARKER, nullptr, 0, 0, 0, PLACE_IN_RESTORE},
        {L"Remove Color", CMD_REMOVE_COLOR, nullptr, 0, 0, 0, PLACE_IN_RESTORE},
        {L"Remove Marker && Color", CMD_RESTORE_DEFAULT, nullptr, 0, 0, 0, PLACE_IN_RESTORE},
    };
    return table;
}

std::vector<const MenuEntry*> FlatMenuEntries() {
    static const MenuEntry separator{nullptr, CMD_SEPARATOR, nullptr, 0, 0, 0, PLACE_ALWAYS};
    std::vector<const MenuEntry*> out;
    for (const MenuEntry& e : MenuTable()) {
        if (e.Placement == PLACE_NORMAL_ONLY) continue;
        out.push_back(e.Kind == CMD_SUBMENU ? &separator : &e);
    }
    return out;
}

std::wstring LibraryPath(const std::wstring& programDir, const wchar_t* library) {
    return programDir + L"\\icl\\" + library;
}

MenuCommand CommandOf(const MenuEntry& entry, const std::wstring& programDir) {
    MenuCommand cmd;
    cmd.Kind = entry.Kind;
    cmd.Color = entry.Color;
    if (entry.Library) cmd.IconFile = LibraryPath(programDir, entry.Library);
    cmd.IconIndex = entry.IconIndex;
    return cmd;
}

bool CommandParameters(const MenuCommand& cmd, const std::wstring& listFile, std::wstring& params) {
    const std::wstring quoted = L"\"" + listFile + L"\"";
    switch (cmd.Kind) {
    case CMD_APPLY_MARKER:
        params = L"-oi " + quoted + L" \"" + cmd.IconFile + L"\" " + std::to_wstring(cmd.IconIndex);
        return true;
    case CMD_REMOVE_MARKER: params = L"-uo " + quoted; return true;
    case CMD_APPLY_COLOR: params = L"-ci " + quoted + L" " + std::to_wstring(cmd.Color); return true;
    case CMD_REMOVE_COLOR: params = L"-uc " + quoted; return true;
    case CMD_MORE_ICONS: params = L"-mi " + quoted; return true;
    case CMD_RESTORE_DEFAULT: params = L"-rd " + quoted; return true;
    default: return false;
    }
}

std::wstring PlainText(const wchar_t* menuText) {
    std::wstring out;
    if (!menuText) return out;
    for (const wchar_t* p = menuText; *p; ++p) {
        if (*p == L'&') {
            if (p[1] != L'&') continue;
            ++p;
        }
        out += *p;
    }
    return out;
}

}  // namespace shlext
