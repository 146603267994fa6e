#include "imaging/MarkerPicture.h"

#include <algorithm>
#include <string>

#include "imaging/Error.h"
#include "imaging/MarkerGeometry.h"
#include "imaging/PngCodec.h"
#include "imaging/Resample.h"

namespace vantrel {

namespace {

std::string SizeText(std::uint32_t w, std::uint32_t h) { return std::to_string(w) + " x " + std::to_string(h); }

// The picture scaled into a transparent square of `size` pixels, proportions kept and
// centred in the box of `box` pixels whose left and top edges are at `left` and `top`.
TBitmap FitIntoBox(const TBitmap& picture, int size, int box, int left, int top) {
    const int w = picture.Width(), h = picture.Height();
    const int fw = w >= h ? box : std::max(1, int((std::int64_t(w) * box + h / 2) / h));
    const int fh = h >= w ? box : std::max(1, int((std::int64_t(h) * box + w / 2) / w));
    const TBitmap scaled = ResampleBitmap(picture, fw, fh);
    if (fw == size && fh == size) return scaled;
    TBitmap square(size, size, 32);
    const int x0 = left + (box - fw) / 2, y0 = top + (box - fh) / 2;
    for (int y = 0; y < fh; ++y)
        for (int x = 0; x < fw; ++x) square.SetBgra(x0 + x, y0 + y, scaled.GetBgra(x, y));
    return square;
}

TBitmap Place(const TBitmap& picture, int size, TMarkerPlacement placement) {
    if (placement == TMarkerPlacement::FullSquare) return FitIntoBox(picture, size, size, 0, 0);
    return FitIntoBox(picture, size, MarkerBadgeSize(size), MarkerBadgeLeft(size), MarkerBadgeTop(size));
}

const TSubIcon* LargestImage(const TAdvancedIcon& icon) {
    const TSubIcon* largest = nullptr;
    for (int i = 0; i < icon.Images().Count(); ++i) {
        const TSubIcon* image = icon.Images()[i];
        if (!largest || image->GetWidth() > largest->GetWidth() ||
            (image->GetWidth() == largest->GetWidth() && image->GetBitDepth() > largest->GetBitDepth()))
            largest = image;
    }
    return largest;
}

TBitmap Bgra32(const TSubIcon& image) {
    const TBitmap pixels = IconImageToBgra(image);
    return pixels.BitCount() == 32 ? pixels : pixels.ConvertTo(32);
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

void MakeIconFromPicture(const TBitmap& picture, TAdvancedIcon& icon, TMarkerPlacement placement) {
    if (picture.BitCount() != 32 || picture.Empty()) throw Error("A marker picture needs 32-bit pixels");
    icon.Images().Clear();
    for (int size : kMarkerPictureSizes) AddPicture(icon, Place(picture, size, placement));
}

void AddMissingMarkerSizes(TAdvancedIcon& icon) {
    const TSubIcon* largest = LargestImage(icon);
    if (!largest || largest->GetWidth() <= 0) throw Error("The icon has no images");
    const TBitmap source = Bgra32(*largest);
    for (int size : kMarkerPictureSizes) {
        bool present = false;
        for (int i = 0; i < icon.Images().Count() && !present; ++i)
            present = icon.Images()[i]->GetWidth() == size && icon.Images()[i]->GetHeight() == size;
        if (!present) AddPicture(icon, Place(source, size, TMarkerPlacement::FullSquare));
    }
}

void MakeMarkerFromIcon(TAdvancedIcon& icon, TMarkerPlacement placement) {
    if (icon.Images().Count() == 0) throw Error("the icon has no images");
    for (int i = 0; i < icon.Images().Count(); ++i) {
        const TSubIcon& image = *icon.Images()[i];
        if (image.GetWidth() <= 0 || image.GetHeight() <= 0) throw Error("an image of the icon has no pixels");
        if (std::uint32_t(image.GetWidth()) > MaxMarkerPictureSide ||
            std::uint32_t(image.GetHeight()) > MaxMarkerPictureSide)
            throw Error("an image of the icon is too large (" + SizeText(std::uint32_t(image.GetWidth()),
                                                                      std::uint32_t(image.GetHeight())) +
                        " pixels; at most " + std::to_string(MaxMarkerPictureSide) + " on each side)");
    }
    if (placement == TMarkerPlacement::FullSquare) {
        AddMissingMarkerSizes(icon);
        return;
    }
    const TBitmap source = Bgra32(*LargestImage(icon));
    MakeIconFromPicture(source, icon, TMarkerPlacement::Badge);
}

}  // namespace vantrel
