// Marker icons made from the user's own pictures: a PNG of any size scaled to the marker
// sizes, or an icon completed with the marker sizes it lacks.
#pragma once

#include <cstdint>
#include <span>

#include "imaging/Bitmap.h"
#include "imaging/IconModel.h"

namespace vantrel {

// The image sizes of a marker made from a picture, in icon order.
constexpr int kMarkerPictureSizes[5] = {16, 24, 32, 48, 256};

// Largest width or height of a picture taken as a marker.
constexpr std::uint32_t MaxMarkerPictureSide = 4096;

// A PNG file's bytes as a 32-bit picture with straight alpha. The size is read from the
// header and checked before anything is decoded. Fails with a vantrel::Error that says what
// is wrong: no PNG, no pixels, larger than MaxMarkerPictureSide, or damaged.
TBitmap DecodeMarkerPng(std::span<const std::uint8_t> bytes);

// Replaces the icon's images with the picture (32 bits, straight alpha) scaled to each of
// kMarkerPictureSizes: fitted into the square with its proportions kept, centred, and
// transparent around it; 32-bit images with alpha, the 256-pixel one stored as PNG.
void MakeIconFromPicture(const TBitmap& picture, TAdvancedIcon& icon);

// Appends, for each of kMarkerPictureSizes the icon has no image of, that size scaled from
// the icon's largest image (the deepest of equals). The icon's own images stay as they are.
// Fails with a vantrel::Error for an icon without images.
void AddMissingMarkerSizes(TAdvancedIcon& icon);

}  // namespace vantrel
