// The colour page's grid: the previewed file's icon tinted with each colour, with the
// file's current marker drawn over it.
#include "app/window/MarkerGrid.h"

#include "app/common/FileHelpers.h"
#include "imaging/Colorize.h"
#include "imaging/Error.h"
#include "imaging/OverlayCompose.h"

namespace vantrel {

TColorGrid::TColorGrid() = default;

void TColorGrid::AddColor(int r, int g, int b, const std::wstring& name) {
    if (r < 0 || r > 255 || g < 0 || g > 255 || b < 0 || b > 255)
        throw Error("A colour channel lies outside 0 to 255");
    AddColorValue(r + g * 256 + b * 65536, name);
}

int TColorGrid::AddColorValue(std::int32_t color, const std::wstring& name) {
    Colors.push_back(color);
    Names.push_back(name);
    EnsureSlots(int(Colors.size()) + 1);
    ItemsChanged();
    return int(Colors.size()) - 1;
}

std::int32_t TColorGrid::SelectedColor() const {
    const int index = SelectedIndex();
    if (index < 0 || index >= int(Colors.size())) throw Error("No colour cell is selected");
    return Colors[std::size_t(index)];
}

void TColorGrid::SetMarkerFile(const std::wstring& path) {
    if (path != MarkerFile) ClearCellImages();  // letter case counts
    MarkerFile = path;
}

void TColorGrid::SetMarkerIndex(int index) {
    if (index != MarkerIndex) ClearCellImages();
    MarkerIndex = index;
}

THiResIcon TColorGrid::BuildItemImage(int cell) {
    const THiResIcon base = CompositionBase();
    THiResIcon picture;
    ColorizeIconPicture(base, picture, Colors.at(std::size_t(cell - 1)));
    if (!picture.Handle()) picture = base;
    if (!MarkerFile.empty() && FileExists(MarkerFile)) {
        const THiResIcon marker = LoadIconPicture(MarkerFile, MarkerIndex, CellSize());
        if (marker.Handle()) OverlayIconPicture(picture, marker);
    }
    return picture;
}

}  // namespace vantrel
