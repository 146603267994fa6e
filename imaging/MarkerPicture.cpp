#include "imaging/MarkerPicture.h"

#include <algorithm>
#include <string>

#include "imaging/Error.h"
#include "imaging/PngCodec.h"
#include "imaging/Resample.h"

namespace vantrel {

namespace {

std::string SizeText(std::uint32_t w, std::uint32_t h) { return std::to_string(w) + " x " + std::to_string(h); }

// The picture scaled into a transparent square of `size` pixels, proportions kept.
TBitmap FitIntoSquare(const TBitmap& picture, int size) {
    const int w = picture.Width(), h = picture.Height();
    const int fw = w >= h ? size : std::max(1, int((std::int64_t(w) * size + h / 2) / h));
    const int fh = h >= w ? size : std::max(1, int((std::int64_t(h) * size + w / 2) / w));
    const TBitmap scaled = ResampleBitmap(picture, fw, fh);
    if (fw == size && fh == size) return scaled;
    TBitmap square(size, size, 32);
    const int left = (size - fw) / 2, top = (size - fh) / 2;
    for (int y = 0; y < fh; ++y)
        for (int x = 0; x < fw; ++x) square.SetBgra(left + x, top + y, scaled.GetBgra(x, y));
    return square;
}

void AddPicture(TAdvancedIcon& icon, const TBitmap& picture) {
    icon.Images().AddFromBitmaps(picture, nullptr, 0);
    if (picture.Width() >= 256) {
        TSubIcon* image = icon.Images().Get(icon.Images().Count() - 1);
        image->EncodePng(*image);
    }
}

}  // namespace

TBitmap DecodeMarkerPng(std::span<const std::uint8_t> bytes) {
    if (!IsPngStream(bytes)) throw Error("The file is no PNG picture");
    std::uint32_t width = 0, height = 0;
    if (!PngDimensions(bytes, width, height)) throw Error("The PNG picture is damaged: it has no valid header");
    if (width == 0 || height == 0) throw Error("The PNG picture has no pixels (" + SizeText(width, height) + ")");
    if (width > MaxMarkerPictureSide || height > MaxMarkerPictureSide)
        throw Error("The PNG picture is too large for a marker (" + SizeText(width, height) + " pixels; at most " +
                    std::to_string(MaxMarkerPictureSide) + " on each side)");
    TPngPicture decoded;
    try {
        decoded = DecodePngPicture(bytes);
    } catch (const Error& e) {
        throw Error(std::string("The PNG picture cannot be read: ") + e.what());
    }
    if (decoded.Colour.Empty()) throw Error("The PNG picture has no pixels");
    // One image of the picture, read back as it looks over a transparent background.
    TAdvancedIcon scratch;
    scratch.Images().AddFromBitmaps(decoded.Colour, decoded.Colour.BitCount() == 32 ? nullptr : &decoded.Mask, 0);
    return IconImageToBgra(*scratch.Images().Get(0));
}

void MakeIconFromPicture(const TBitmap& picture, TAdvancedIcon& icon) {
    if (picture.BitCount() != 32 || picture.Empty()) throw Error("A marker picture needs 32-bit pixels");
    icon.Images().Clear();
    for (int size : kMarkerPictureSizes) AddPicture(icon, FitIntoSquare(picture, size));
}

void AddMissingMarkerSizes(TAdvancedIcon& icon) {
    const TSubIcon* largest = nullptr;
    for (int i = 0; i < icon.Images().Count(); ++i) {
        const TSubIcon* image = icon.Images()[i];
        if (!largest || image->GetWidth() > largest->GetWidth() ||
            (image->GetWidth() == largest->GetWidth() && image->GetBitDepth() > largest->GetBitDepth()))
            largest = image;
    }
    if (!largest || largest->GetWidth() <= 0) throw Error("The icon has no images");
    const TBitmap source = IconImageToBgra(*largest);
    for (int size : kMarkerPictureSizes) {
        bool present = false;
        for (int i = 0; i < icon.Images().Count() && !present; ++i)
            present = icon.Images()[i]->GetWidth() == size && icon.Images()[i]->GetHeight() == size;
        if (!present) AddPicture(icon, FitIntoSquare(source.BitCount() == 32 ? source : source.ConvertTo(32), size));
    }
}

}  // namespace vantrel
