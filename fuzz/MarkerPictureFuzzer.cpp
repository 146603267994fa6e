// Fuzz target: the path of a user's picture to a stored marker. The bytes are read as the
// Add Marker dialog reads a .png file (DecodeMarkerPng) or an .ico file, then made into a
// marker in both placements. A refusal is a vantrel::Error; anything else is a fault. A
// made marker has one 32-bit image of each marker size, a badge is transparent outside
// its lower-left box, and the icon saves and loads again with the same images.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "imaging/Error.h"
#include "imaging/MarkerGeometry.h"
#include "imaging/MarkerPicture.h"
#include "imaging/PngCodec.h"

using namespace vantrel;

namespace {

[[noreturn]] void Broken(const char* what, int size) {
    std::fprintf(stderr, "marker broken: %s (size %d)\n", what, size);
    std::abort();
}

const TSubIcon* ImageOfSize(const TAdvancedIcon& icon, int size) {
    for (int i = 0; i < icon.Images().Count(); ++i)
        if (icon.Images()[i]->GetWidth() == size && icon.Images()[i]->GetHeight() == size) return icon.Images()[i];
    return nullptr;
}

void CheckMarker(const TAdvancedIcon& marker, TMarkerPlacement placement, bool fromPicture) {
    for (int size : kMarkerPictureSizes) {
        const TSubIcon* image = ImageOfSize(marker, size);
        if (!image) Broken("no image of a marker size", size);
        if (fromPicture || placement == TMarkerPlacement::Badge) {
            if (image->GetBitDepth() != 32) Broken("not 32 bits", size);
            const TBitmap pixels = IconImageToBgra(*image);
            if (placement != TMarkerPlacement::Badge) continue;
            const int top = MarkerBadgeTop(size), right = MarkerBadgeLeft(size) + MarkerBadgeSize(size);
            for (int y = 0; y < size; ++y)
                for (int x = 0; x < size; ++x)
                    if ((y < top || x >= right) && pixels.GetBgra(x, y).A != 0) Broken("badge outside its box", size);
        }
    }
    if (placement == TMarkerPlacement::Badge && marker.Images().Count() != 5) Broken("badge image count", 0);
    const std::vector<std::uint8_t> saved = marker.SaveToBytes();
    TAdvancedIcon again;
    if (!again.LoadFromBytes(saved) || again.Images().Count() != marker.Images().Count()) Broken("reload", 0);
    for (int i = 0; i < marker.Images().Count(); ++i)
        if (IconImageToBgra(*again.Images()[i]) != IconImageToBgra(*marker.Images()[i])) Broken("reloaded pixels", i);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    for (TMarkerPlacement placement : {TMarkerPlacement::Badge, TMarkerPlacement::FullSquare}) {
        TAdvancedIcon marker;
        try {
            if (IsPngStream(bytes)) {
                MakeIconFromPicture(DecodeMarkerPng(bytes), marker, placement);
            } else {
                if (!marker.LoadFromBytes(bytes)) return 0;
                MakeMarkerFromIcon(marker, placement);
            }
        } catch (const Error&) {
            continue;  // refused with a message
        }
        CheckMarker(marker, placement, IsPngStream(bytes));
    }
    return 0;
}
