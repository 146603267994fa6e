#include "imaging/OverlayCompose.h"

#include <string>

#include "imaging/ImagingLog.h"
#include "imaging/PixelHelpers.h"

namespace vantrel {

namespace {

const wchar_t kCategory[] = L"Overlay";

// The depth a composed image is made at: the marker's, where a bitmap can have it.
int ComposeDepth(int bits) {
    switch (bits) {
        case 1: case 4: case 8: case 16: case 24: case 32: return bits;
        default: return 32;
    }
}

bool HasAnyAlpha(const TBitmap& bitmap) {
    if (bitmap.BitCount() != 32) return false;
    for (int y = 0; y < bitmap.Height(); ++y)
        for (int x = 0; x < bitmap.Width(); ++x)
            if (bitmap.GetBgra(x, y).A != 0) return true;
    return false;
}

// A colour bitmap as 32-bit pixels to blend with: its own alpha when it has any, else
// opaque where the mask is clear (an image without alpha relies on its mask).
TBitmap BlendSource(const TBitmap& colour, const TBitmap& mask) {
    if (HasAnyAlpha(colour)) return colour;
    TBitmap opaque = colour.BitCount() == 32 ? colour.ConvertTo(24) : colour;
    TBitmap result;
    JoinColourAndMask(opaque, &mask, result);
    return result;
}

std::wstring PathText(const std::filesystem::path& path) { return path.wstring(); }

void LogInfo(const std::wstring& text) { ImagingLog(text, kCategory, ImagingLogInfo, true); }

}  // namespace

const TSubIcon* FindMatchingImage(const TSubIcon& marker, const TAdvancedIcon& base, bool& lowerDepthMatch) {
    if (marker.GetWidth() < 16) return nullptr;
    const TSubIconList& images = base.Images();
    if (images.Count() == 0) return nullptr;
    const TSubIcon* kept = nullptr;
    for (int i = 0; i < images.Count(); ++i) {
        const TSubIcon* b = images.Get(i);
        if (b->GetWidth() != marker.GetWidth() || b->GetHeight() != marker.GetHeight()) continue;
        if (b->GetBitDepth() == marker.GetBitDepth()) return b;
        if (b->GetBitDepth() < marker.GetBitDepth() && (!kept || b->GetBitDepth() > kept->GetBitDepth())) kept = b;
    }
    lowerDepthMatch = true;
    return kept;
}

void BlendOverlay(TBitmap& destination, const TBitmap& source, const TBitmap* mask, bool useMask) {
    if (destination.BitCount() != 32 || source.BitCount() != 32)
        throw Error("Overlay blending needs 32-bit bitmaps");
    const bool withMask = useMask && mask && !mask->Empty();
    TBitmap premultiplied = source;
    const int width = destination.Width(), height = destination.Height();
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            if (x < premultiplied.Width() && y < premultiplied.Height()) {
                TBgra s = premultiplied.GetBgra(x, y);
                s.B = static_cast<std::uint8_t>(s.B * s.A / 255);
                s.G = static_cast<std::uint8_t>(s.G * s.A / 255);
                s.R = static_cast<std::uint8_t>(s.R * s.A / 255);
                premultiplied.SetBgra(x, y, s);
            }
            if (withMask && x < mask->Width() && y < mask->Height()) {
                TBgra d = destination.GetBgra(x, y);
                if (d.A == 0 && !MaskPixelSet(*mask, x, y)) {
                    d.A = 255;
                    destination.SetBgra(x, y, d);
                }
            }
        }
    }
    AlphaBlend(destination, 0, 0, premultiplied);
}

void PngToBitmaps(const TSubIcon& image, TBitmap& colour, TBitmap& mask) {
    colour = IconImageToBgra(image);
    mask = NewMaskBitmap(colour.Width(), colour.Height());
    MaskFromAlpha(colour, mask, 96);
}

void ComposeOverlay(const TAdvancedIcon& base, const TAdvancedIcon& marker, TAdvancedIcon& result) {
    const TSubIconList& markers = marker.Images();
    for (int i = 0; i < markers.Count(); ++i) {
        const TSubIcon& m = *markers.Get(i);
        bool lowerDepthMatch = false;
        const TSubIcon* b = FindMatchingImage(m, base, lowerDepthMatch);
        if (!b) {
            LogInfo(L"There is no appropriate overlay icon for " + std::to_wstring(m.GetWidth()) + L"x" +
                    std::to_wstring(m.GetHeight()) + L", " + std::to_wstring(m.GetBitDepth()) + L" bit");
            continue;
        }
        const int depth = ComposeDepth(m.GetBitDepth());

        // The base image's pixels: PNG images as 32-bit pixels with alpha, others at the
        // marker's depth with their own mask.
        TBitmap baseColour, baseMask;
        bool basePng = b->StoreAsPng();
        if (!basePng) {
            try {
                TIconInfo info = GetIconInfo(b->GetHandle());
                if (info.Colour.Empty() || info.Mask.Empty()) throw Error("The image has no pixels");
                baseColour = info.Colour.ConvertTo(depth);
                baseMask = std::move(info.Mask);
            } catch (const Error& e) {
                ImagingLog(std::wstring(e.what(), e.what() + std::char_traits<char>::length(e.what())), kCategory,
                           ImagingLogError, false);
                ImagingLog(L"not GetIconInfo from Icon", kCategory, ImagingLogError, false);
                basePng = true;
            }
        }
        if (basePng) PngToBitmaps(*b, baseColour, baseMask);

        TBitmap markerColour, markerMask;
        bool markerPng = m.StoreAsPng();
        HICON markerHandle;
        if (!markerPng) {
            try {
                markerHandle = m.GetHandle();
                TIconInfo info = GetIconInfo(markerHandle);
                if (info.Colour.Empty() || info.Mask.Empty()) throw Error("The image has no pixels");
                markerColour = info.Colour.ConvertTo(depth);
                markerMask = std::move(info.Mask);
            } catch (const Error& e) {
                ImagingLog(std::wstring(e.what(), e.what() + std::char_traits<char>::length(e.what())), kCategory,
                           ImagingLogError, false);
                ImagingLog(L"not GetIconInfo from Overlay", kCategory, ImagingLogError, false);
                markerPng = true;
            }
        }

        bool pngInvolved = false;
        if (markerPng) {
            PngToBitmaps(m, markerColour, markerMask);
            if (baseColour.BitCount() != 32) baseColour = baseColour.ConvertTo(32);
            // A base converted up from a lower depth has no alpha: its mask says which
            // pixels are opaque, so they are not lost when the result is written as PNG.
            BlendOverlay(baseColour, markerColour, &baseMask, lowerDepthMatch);
            pngInvolved = true;
        } else if (lowerDepthMatch) {
            // The base was converted up to the marker's depth. The blend works on 32-bit
            // pixels: a marker without alpha takes it from its mask, and the result goes
            // back to the marker's depth.
            TBitmap base32 = baseColour.BitCount() == 32 ? baseColour : baseColour.ConvertTo(32);
            BlendOverlay(base32, BlendSource(markerColour, markerMask), &baseMask, true);
            baseColour = depth == 32 ? std::move(base32) : base32.ConvertTo(depth);
        } else {
            DrawIconEx(baseColour, 0, 0, markerHandle);
        }

        // A pixel stays transparent only where both icons are transparent.
        BlitAnd(baseMask, markerMask);
        result.Images().AddFromBitmaps(baseColour, &baseMask, 1);
        if (pngInvolved) {
            TSubIcon* added = result.Images().Get(result.Images().Count() - 1);
            added->EncodePng(*added);
        }
    }
}

void ComposeOverlay(const std::filesystem::path& base, const std::filesystem::path& marker,
                    const std::filesystem::path& destination) {
    LogInfo(L"Overlay file \"" + PathText(marker) + L"\" on file \"" + PathText(base) + L"\"");
    TAdvancedIcon baseIcon, markerIcon, result;
    baseIcon.LoadFromFile(base);
    markerIcon.LoadFromFile(marker);
    LogInfo(L"Icon \"" + PathText(base) + L"\" has " + std::to_wstring(baseIcon.Images().Count()) + L" formats");
    ComposeOverlay(baseIcon, markerIcon, result);
    result.SaveToFile(destination);
}

void OverlayIconPicture(THiResIcon& icon, const THiResIcon& marker) {
    TIconInfo base = GetIconInfo(icon.Handle());
    TIconInfo over = GetIconInfo(marker.Handle());
    if (base.Colour.Empty() || over.Colour.Empty()) return;
    TBitmap colour = base.Colour.BitCount() == 32 ? base.Colour : base.Colour.ConvertTo(32);
    BlendOverlay(colour, BlendSource(over.Colour, over.Mask), &base.Mask, true);
    BlitAnd(base.Mask, over.Mask);
    icon.SetHandle(CreateIconIndirect(colour, base.Mask));
}

}  // namespace vantrel
