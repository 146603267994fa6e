// Draws a marker icon over a file type's icon, image by image, into a new icon.
#pragma once

#include <filesystem>

#include "imaging/Bitmap.h"
#include "imaging/IconHandle.h"
#include "imaging/IconModel.h"

namespace vantrel {

// Composes the marker over the base icon and writes the result as an ICO file to
// `destination` (which may be a file's stream path). The result has one image for every
// marker image of 16 pixels or more that the base has an image of the same size for, in
// the marker's order. Fails with "No images in icon" when no image matched, and with the
// file-open error when an input cannot be read.
void ComposeOverlay(const std::filesystem::path& base, const std::filesystem::path& marker,
                    const std::filesystem::path& destination);
// The same on icons in memory.
void ComposeOverlay(const TAdvancedIcon& base, const TAdvancedIcon& marker, TAdvancedIcon& result);

// The base image a marker image is drawn over: the first one of the same size and depth;
// failing that the deepest one of the same size below the marker's depth (the earliest of
// equals), which sets lowerDepthMatch. Never a deeper one; nothing for markers under 16
// pixels wide.
const TSubIcon* FindMatchingImage(const TSubIcon& marker, const TAdvancedIcon& base, bool& lowerDepthMatch);

// Alpha-blends the 32-bit source over the 32-bit destination (source-over, the source
// premultiplied first). With useMask and a mask, destination pixels without alpha that the
// mask shows opaque become fully opaque first.
void BlendOverlay(TBitmap& destination, const TBitmap& source, const TBitmap* mask, bool useMask);

// The image's picture as a 32-bit colour bitmap with alpha and a mask transparent where
// alpha is below 96 (the way PNG images are composed).
void PngToBitmaps(const TSubIcon& image, TBitmap& colour, TBitmap& mask);

// Replaces the icon picture by the marker drawn over it (previews of the picker grids).
void OverlayIconPicture(THiResIcon& icon, const THiResIcon& marker);

}  // namespace vantrel
