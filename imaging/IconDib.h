// Reading icon image resources: the DIB header of an icon image and its split into colour
// (XOR) pixels and AND mask. The bytes come from files, so every read is bounds-checked and
// bytes missing at the end read as zero.
#pragma once

#include <cstdint>
#include <span>

#include "imaging/Bitmap.h"

namespace vantrel {

struct TIconDibInfo {
    std::uint32_t HeaderSize = 0;
    std::int32_t BiWidth = 0;
    std::int32_t BiHeight = 0;  // colour rows plus mask rows
    std::uint16_t Planes = 0;
    std::uint16_t BitCount = 0;
    std::uint32_t Compression = 0;
    std::uint32_t ClrUsed = 0;
    // The image's size: biWidth and half of biHeight (unsigned); a 0 side takes the other's.
    std::uint32_t Width = 0;
    std::uint32_t Height = 0;
};

// False when the data does not hold a whole BITMAPINFOHEADER (40 bytes or more).
bool ReadIconDibInfo(std::span<const std::uint8_t> data, TIconDibInfo& info);

// True when the data holds the image's colour table and every colour (XOR) row, in a layout
// this code can read (BI_RGB, or BI_BITFIELDS at 16 or 32 bits). The AND mask may be cut
// short; its missing rows read as opaque.
bool IconDibPixelsFit(std::span<const std::uint8_t> data, const TIconDibInfo& info);

// Colour pixels at the image's depth (24 bits for a depth a bitmap cannot hold; black when
// the pixels cannot be read) and the 1-bit AND mask, from a DIB icon image or a PNG stream.
// Fails with "Invalid image" when the data holds neither.
void SplitIconImage(std::span<const std::uint8_t> data, TBitmap* colour, TBitmap* mask);

}  // namespace vantrel
