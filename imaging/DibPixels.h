// Reading the pixel rows of a device-independent bitmap into a TBitmap. Shared by BMP files
// and icon images; the rows come from untrusted bytes, so bytes beyond the end read as zero.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "imaging/Bitmap.h"

namespace vantrel {

constexpr std::uint32_t BI_RGB = 0;
constexpr std::uint32_t BI_BITFIELDS = 3;

struct TDibFormat {
    int Width = 0;
    int Height = 0;  // rows
    int BitCount = 0;
    bool TopDown = false;
    std::uint32_t Compression = BI_RGB;
    std::uint32_t Masks[3] = {0, 0, 0};  // red, green, blue for BI_BITFIELDS
    std::vector<TRgbQuad> Palette;
};

// True when ReadDibPixels can read pixels of this format.
bool CanReadDibPixels(const TDibFormat& format);

// The depth of the bitmap ReadDibPixels makes for a readable format: the format's own depth,
// or 24 for 16-bit bit fields other than 5-5-5.
int DibPixelsDepth(const TDibFormat& format);

// Reads Height rows of Width pixels (rows padded to 32 bits) from `rows`; the result is
// bottom-up like every TBitmap. Requires CanReadDibPixels.
TBitmap ReadDibPixels(const TDibFormat& format, std::span<const std::uint8_t> rows);

}  // namespace vantrel
