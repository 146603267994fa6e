// The marker pages' grid: the icons of one marker library drawn over the previewed file's
// icon, tinted with the file's current colour.
#include "app/window/MarkerGrid.h"

#include <shellapi.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "app/common/FileHelpers.h"
#include "app/common/TextConv.h"
#include "imaging/Colorize.h"
#include "imaging/IconLibrary16.h"
#include "imaging/OverlayCompose.h"

namespace vantrel {

TOverlayGrid::TOverlayGrid(const std::wstring& libraryFile) {
    SetLibraryFile(libraryFile);
    PreviewColor = NoColor;
}

TOverlayGrid::TOverlayGrid() { PreviewColor = NoColor; }

void TOverlayGrid::MarkerLocation(int item, std::wstring& file, int& index) const {
    file = LibraryFile;
    index = item;
}

void TOverlayGrid::SetLibraryFile(const std::wstring& path) {
    if (!FileExists(path)) return;
    LibraryFile = path;
    // The count the platform's icon extraction reports, the same that loads the markers.
    const UINT count = ExtractIconExW(path.c_str(), -1, nullptr, nullptr, 0);
    IconCount = count == UINT(-1) ? 0 : int(std::min<UINT>(count, 0xFFFF));
    ResetSlots(IconCount + 1);
    std::vector<std::string> names;
    try {
        ReadLibraryIconNames(std::filesystem::path(path), names, IconCount);
    } catch (const std::exception&) {
        names.clear();  // unreadable names: every marker cell has an empty hint
    }
    Names.clear();
    for (const std::string& name : names) Names.push_back(AnsiToWide(name));
    ItemsChanged();
}

void TOverlayGrid::SetPreviewColor(std::int32_t color) {
    if (color != PreviewColor) ClearCellImages();
    PreviewColor = color;
}

THiResIcon TOverlayGrid::BuildItemImage(int cell) {
    THiResIcon picture = CompositionBase();
    if (PreviewColor != NoColor) {
        THiResIcon tinted;
        ColorizeIconPicture(picture, tinted, PreviewColor);
        if (tinted.Handle()) picture = tinted;
    }
    std::wstring file;
    int index = 0;
    MarkerLocation(cell - 1, file, index);
    const THiResIcon marker = LoadIconPicture(file, index, CellSize());
    if (marker.Handle()) OverlayIconPicture(picture, marker);
    return picture;
}

}  // namespace vantrel
