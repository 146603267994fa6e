// Pixel rules shared by the icon model, compositing and colourising: the standard palettes,
// the exact 8-bit palette builder, masks derived from alpha and the joining of a colour
// bitmap with its mask into 32-bit pixels.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "imaging/Bitmap.h"

namespace vantrel {

// The standard palettes as COLORREF values, in palette order.
const std::array<TColorRef, 2>& StandardPalette2();
const std::array<TColorRef, 16>& StandardPalette16();
const std::array<TColorRef, 256>& StandardPalette256();

// The standard palette for 1, 4 or 8 bits as DIB colour table entries; empty for other depths.
std::vector<TRgbQuad> StandardPaletteQuads(int bitCount);

// Swaps red and blue of every entry (COLORREF <-> B,G,R,0 colour table order).
void SwapRedBlue(std::vector<std::uint32_t>& colours);

// Gives a 1-, 4- or 8-bit bitmap the two-, sixteen- or 256-colour standard palette (the
// pixels keep their indices); other depths are left alone.
void SetStandardPalette(TBitmap& bitmap);

// Makes `target` an 8-bit copy of `source` whose palette holds exactly the colours used, in
// order of first appearance (rows from the top, left to right), after black and white when
// `withBlackAndWhite`. The palette is completed to 256 entries from the 256-colour standard
// palette (skipping colours present) when `fillFromStandard`, else with black. False when
// the picture needs more than 256 entries.
bool BuildExactPalette(const TBitmap& source, TBitmap& target, bool withBlackAndWhite, bool fillFromStandard);

// For a 32-bit bitmap: each mask pixel becomes white (transparent) where alpha < threshold,
// black elsewhere. The mask must have at least the bitmap's size. Other depths: nothing.
void MaskFromAlpha(const TBitmap& bitmap, TBitmap& mask, int threshold);

// The mask becomes a 1-bit mask of the bitmap's size, all black (opaque); then, for a 32-bit
// bitmap, every pixel whose alpha is at most threshold is set white.
void MaskFromAlphaAtMost(const TBitmap& bitmap, TBitmap& mask, int threshold);

// `result` becomes a 32-bit bitmap of the colour's size. A 32-bit colour is copied
// unchanged. With a mask (not null, not empty): where the mask is set the pixel becomes
// transparent white (0x00FFFFFF) when the colour is white, else transparent black; elsewhere
// the colour with alpha 255. Without a mask every pixel is the colour with alpha 255.
void JoinColourAndMask(const TBitmap& colour, const TBitmap* mask, TBitmap& result);

}  // namespace vantrel
