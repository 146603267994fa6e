// PNG pictures through libpng: decoding into a colour bitmap with its AND mask, and encoding
// 32-bit, 24-bit and paletted bitmaps. Every failure is a vantrel::Error.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "imaging/Bitmap.h"

namespace vantrel {

constexpr std::uint8_t PngSignature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};

// True when `bytes` is longer than 8 bytes and begins with the PNG signature.
bool IsPngStream(std::span<const std::uint8_t> bytes);

// Width and height from the IHDR chunk, found by walking the chunks from the signature up to
// IEND. False when no well-formed IHDR is found.
bool PngDimensions(std::span<const std::uint8_t> bytes, std::uint32_t& width, std::uint32_t& height);

enum class TPngKind { Rgba, Rgb, GreyAlpha, Palette, Grey };

struct TPngPicture {
    // The stream's colour type (a palette picture stays Palette at 32 bits).
    TPngKind Kind = TPngKind::Rgba;
    // 32 bits with straight alpha for pictures with an alpha channel (or a truecolour
    // transparency key) and for palette ones whose tRNS holds an alpha other than 0 and 255;
    // 24 bits for truecolour without; 8-bit indexed for the other palette and greyscale ones.
    TBitmap Colour;
    // 1-bit AND mask, set = transparent: alpha 0 for RGBA and for palette pictures at 32 bits,
    // alpha below 80 for grey with alpha and for the other palette pictures (tRNS entries
    // 0 and 255 only, so exactly the transparent ones), the transparent grey level for keyed
    // greyscale.
    TBitmap Mask;
};

// Largest width or height accepted in a PNG picture.
constexpr std::uint32_t MaxPngSide = 5999;

TPngPicture DecodePngPicture(std::span<const std::uint8_t> bytes);

// A 32-bit bitmap as an RGBA PNG (colours and alpha as they are).
std::vector<std::uint8_t> EncodePngRgba(const TBitmap& bitmap);
// Any bitmap's colours as an RGB PNG.
std::vector<std::uint8_t> EncodePngRgb(const TBitmap& bitmap);
// A paletted PNG: `indices` holds one byte per pixel, rows from the top; `alpha` gives the
// tRNS value of the first entries (may be empty). The bit depth is the smallest that holds
// the palette.
std::vector<std::uint8_t> EncodePngPalette(int width, int height, std::span<const std::uint8_t> indices,
                                           std::span<const TRgbQuad> palette, std::span<const std::uint8_t> alpha);

}  // namespace vantrel
