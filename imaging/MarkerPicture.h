// Marker icons made from the user's own pictures (a PNG of any size, an icon's images):
// by default the picture is a badge in the lower-left box the built-in markers use, the
// rest of each image transparent; a picture that already is an overlay can be taken as it
// is, filling the whole square.
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

// Where the user's picture goes in each marker image.
enum class TMarkerPlacement {
    Badge,       // fitted into the lower-left box of MarkerBadgeSize (MarkerGeometry.h)
    FullSquare,  // fitted into the whole square: the picture already is an overlay
};

// Replaces the icon's images with the picture (32 bits, straight alpha) scaled to each of
// kMarkerPictureSizes: fitted with its proportions kept and centred in the badge's box or
// the whole square, transparent around it; 32-bit images with alpha, the 256-pixel one
// stored as PNG.
void MakeIconFromPicture(const TBitmap& picture, TAdvancedIcon& icon,
                         TMarkerPlacement placement = TMarkerPlacement::Badge);

// Makes a marker of an icon read from an ICO file or a program. Badge: its images are
// replaced by its largest one (the deepest of equals) fitted into the badge's box at each
// of kMarkerPictureSizes. FullSquare: its own images stay and AddMissingMarkerSizes
// completes them. Fails with a vantrel::Error for an icon without images or with an image
// of no pixels or larger than MaxMarkerPictureSide.
void MakeMarkerFromIcon(TAdvancedIcon& icon, TMarkerPlacement placement);

// Appends, for each of kMarkerPictureSizes the icon has no image of, that size scaled from
// the icon's largest image (the deepest of equals). The icon's own images stay as they are.
// Fails with a vantrel::Error for an icon without images.
void AddMissingMarkerSizes(TAdvancedIcon& icon);

}  // namespace vantrel
