// Fuzz target: ICO loading (DIB and PNG entries), every reader of an image's pixels, and the
// load-save round trip. A loaded icon must save, and the saved icon must load again with the
// same images.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "imaging/IconModel.h"

using namespace vantrel;

namespace {

[[noreturn]] void Broken(const char* what, int index) {
    std::fprintf(stderr, "round trip broken: %s (image %d)\n", what, index);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    TAdvancedIcon icon;
    if (!icon.LoadFromBytes({data, size})) return 0;

    TBitmap canvas(24, 24, 32);
    TBitmap canvas8(24, 24, 8);
    for (int i = 0; i < icon.Images().Count(); ++i) {
        const TSubIcon& image = *icon.Images()[i];
        if (image.GetWidth() <= 0 || image.GetHeight() <= 0) Broken("image without a size", i);
        TBitmap colour, mask;
        image.SplitToBitmaps(&colour, &mask);
        if (mask.Width() != image.GetWidth() || mask.Height() != image.GetHeight()) Broken("mask size", i);
        image.Draw(canvas, -3, -3);
        image.Draw(canvas8, 2, 2);
        (void)IconImageToBgra(image);
    }

    // Saving what was loaded must work; errors here are faults, so they are not caught.
    const std::vector<std::uint8_t> saved = icon.SaveToBytes();
    TAdvancedIcon again;
    if (!again.LoadFromBytes(saved)) Broken("saved icon does not load", -1);
    if (again.Images().Count() != icon.Images().Count()) Broken("image count", -1);
    for (int i = 0; i < icon.Images().Count(); ++i) {
        const TSubIcon& a = *icon.Images()[i];
        const TSubIcon& b = *again.Images()[i];
        if (a.GetWidth() != b.GetWidth() || a.GetHeight() != b.GetHeight()) Broken("size", i);
        if (a.StoreAsPng() != b.StoreAsPng()) Broken("PNG or DIB", i);
        if (!a.StoreAsPng() && a.Data() != b.Data()) Broken("DIB bytes", i);
    }
    // A second save is stable: the PNG entries it encodes decode to the same pixels.
    if (again.SaveToBytes() != saved) {
        TAdvancedIcon third;
        if (!third.LoadFromBytes(again.SaveToBytes())) Broken("second save does not load", -1);
        for (int i = 0; i < again.Images().Count(); ++i)
            if (IconImageToBgra(*again.Images()[i]) != IconImageToBgra(*third.Images()[i])) Broken("pixels drift", i);
    }
    return 0;
}
