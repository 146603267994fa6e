// The text of a marked file's info stream ":vantreliconinfo": INI text, section [vantrel],
// keys OverlayIconFile, OverlayIconIndex and Color. The stream travels with the file (a
// copy between NTFS volumes, a share, a backup), so its text may have been written by
// anyone: it is read here the same way everywhere, and what it names is judged by the
// caller (StreamLibraries.h). Portable, and fuzzed natively.
#pragma once

#include <cstddef>
#include <string>

#include "app/common/IniText.h"

namespace vantrel {

inline constexpr wchar_t kInfoSection[] = L"vantrel";
inline constexpr wchar_t kOverlayIconFileKey[] = L"OverlayIconFile";
inline constexpr wchar_t kOverlayIconIndexKey[] = L"OverlayIconIndex";
inline constexpr wchar_t kColorKey[] = L"Color";
// The "Color" value that means no tint.
inline constexpr int kNoColor = 0x1FFFFFFF;

// The largest info stream the program reads. It writes a few hundred bytes; the most it
// can write is the section line, the index and colour lines and a library path of the
// longest length the platform takes (32,767 characters, at most 98,301 bytes as UTF-8).
// Anything larger was not written by it and is taken as damaged.
inline constexpr std::size_t kMaxInfoStreamBytes = 128u << 10;

// What an info stream records, read as the platform's profile functions read it: the
// first [vantrel] section and the first line of each key count, names match without
// regard to letter case. The library is the value trimmed of blanks and control
// characters at both ends (empty: no marker); a value that is no integer gives the
// default (index 0, no colour). The colour's three low bytes are the tint; only the
// exact no-colour value means none.
struct TInfoMarking {
    std::wstring MarkerFile;
    int MarkerIndex = 0;
    int Color = kNoColor;
    bool HasMarker() const { return !MarkerFile.empty(); }
};
TInfoMarking ReadInfoMarking(const IniText& info);

// Integer reading as the profile functions' integer read does it: the key's value, or the
// default when it is absent or no integer.
int InfoInteger(const IniText& info, const wchar_t* key, int def);

}  // namespace vantrel
