// A small software bitmap standing in for the platform's device-independent bitmaps.
//
// Pixels are kept exactly as a DIB keeps them: rows bottom-up, each padded to a multiple of
// four bytes. Depths 1, 4 and 8 are palette indices, 16 is X1R5G5B5, 24 is B,G,R and 32 is
// B,G,R,A. Colours crossing the interface are COLORREF values (red in the low byte).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace vantrel {

using TColorRef = std::uint32_t;  // red + green * 256 + blue * 65536

constexpr TColorRef RGB(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    return TColorRef(r) | (TColorRef(g) << 8) | (TColorRef(b) << 16);
}
constexpr std::uint8_t GetRValue(TColorRef c) { return std::uint8_t(c); }
constexpr std::uint8_t GetGValue(TColorRef c) { return std::uint8_t(c >> 8); }
constexpr std::uint8_t GetBValue(TColorRef c) { return std::uint8_t(c >> 16); }

// One DIB colour table entry: B, G, R, 0.
struct TRgbQuad {
    std::uint8_t Blue = 0;
    std::uint8_t Green = 0;
    std::uint8_t Red = 0;
    std::uint8_t Reserved = 0;

    friend bool operator==(const TRgbQuad&, const TRgbQuad&) = default;
};

constexpr TRgbQuad QuadFromColor(TColorRef c) { return {GetBValue(c), GetGValue(c), GetRValue(c), 0}; }
constexpr TColorRef ColorFromQuad(const TRgbQuad& q) { return RGB(q.Red, q.Green, q.Blue); }

// A 32-bit pixel as held in memory: B, G, R, A.
struct TBgra {
    std::uint8_t B = 0, G = 0, R = 0, A = 0;
    friend bool operator==(const TBgra&, const TBgra&) = default;
};

// Padded size in bytes of one row of `width` pixels at `bits` per pixel.
constexpr std::size_t PaddedRowSize(std::uint32_t width, std::uint32_t bits) {
    return ((std::size_t(width) * bits + 31) / 32) * 4;
}

// Largest width or height a bitmap may have; larger sizes are refused so that no
// allocation is ever sized by an unreasonable value.
constexpr int MaxBitmapSide = 0x8000;

class TBitmap {
public:
    TBitmap() = default;
    // A bitmap of the given size and depth, every pixel zero. Indexed bitmaps receive the
    // standard palette of their depth.
    TBitmap(int width, int height, int bitCount);

    int Width() const { return width_; }
    int Height() const { return height_; }
    int BitCount() const { return bitCount_; }
    bool Empty() const { return width_ == 0 || height_ == 0; }
    std::size_t Stride() const { return PaddedRowSize(std::uint32_t(width_), std::uint32_t(bitCount_)); }
    bool IsIndexed() const { return bitCount_ <= 8; }

    // Resizes to width x height at the current depth; every pixel becomes zero.
    void SetSize(int width, int height);
    // Changes the depth, converting the pixels (see ConvertTo).
    void SetPixelFormat(int bitCount);
    // A copy at another depth. Going to an indexed depth maps each colour to the nearest entry
    // of that depth's standard palette; going to 32 bits gives alpha 0 (as a blit into a
    // 32-bit DIB does); alpha is dropped below 32 bits.
    TBitmap ConvertTo(int bitCount) const;

    // Palette of an indexed bitmap (at most 2^bits entries); empty for 16, 24 and 32 bits.
    const std::vector<TRgbQuad>& Palette() const { return palette_; }
    void SetPalette(std::vector<TRgbQuad> palette);

    // Row y counted from the top (as the platform's scan lines are).
    std::uint8_t* ScanLine(int y);
    const std::uint8_t* ScanLine(int y) const;
    std::span<std::uint8_t> Bits() { return bits_; }
    std::span<const std::uint8_t> Bits() const { return bits_; }

    // Palette index of an indexed bitmap's pixel, and setting it.
    unsigned GetIndex(int x, int y) const;
    void SetIndex(int x, int y, unsigned index);

    // The pixel's colour; an index outside the palette reads as black.
    TColorRef GetPixel(int x, int y) const;
    // Writes a colour: indexed bitmaps take the nearest palette entry, 16 bits drop the low
    // three bits of each channel, 32 bits keep the pixel's alpha.
    void SetPixel(int x, int y, TColorRef color);

    // 32-bit access (only for 32-bit bitmaps).
    TBgra GetBgra(int x, int y) const;
    void SetBgra(int x, int y, TBgra p);

    // Index of the palette entry nearest to `color` (smallest squared RGB distance, the first
    // of equals); 0 for an empty palette.
    unsigned NearestIndex(TColorRef color) const;

    // The bitmap as a BMP file image: BITMAPFILEHEADER, BITMAPINFOHEADER, colour table, bits.
    std::vector<std::uint8_t> SaveToBmp() const;
    // Reads a BMP file image of 1, 4, 8, 16, 24 or 32 bits (BI_RGB or BI_BITFIELDS,
    // bottom-up or top-down). Fails with "Bitmap image is not valid".
    static TBitmap LoadFromBmp(std::span<const std::uint8_t> bytes);

    friend bool operator==(const TBitmap&, const TBitmap&) = default;

private:
    void CheckPoint(int x, int y) const;

    int width_ = 0;
    int height_ = 0;
    int bitCount_ = 24;
    std::vector<TRgbQuad> palette_;
    std::vector<std::uint8_t> bits_;
};

// A 1-bit mask bitmap of the given size: palette black, white; every pixel black (opaque).
TBitmap NewMaskBitmap(int width, int height);
// True when a mask pixel is set (white, transparent). Works on masks of any depth: a pixel
// counts as set when its colour is nearer to white than to black.
bool MaskPixelSet(const TBitmap& mask, int x, int y);

// Drawing operations of the platform that the imaging code relies on.

// BitBlt with SRCAND over the destination's full size: dest = dest AND source. Both 1-bit
// masks are combined bit by bit (set = transparent stays set only where both are set).
// Other depths are combined on their colours; the source is read at the same coordinates and
// pixels outside it count as all bits set.
void BlitAnd(TBitmap& dest, const TBitmap& source);

// AlphaBlend with AC_SRC_OVER, constant alpha 255 and AC_SRC_ALPHA: the premultiplied 32-bit
// source is drawn at (x, y) over a 32-bit destination: every channel, alpha included,
// becomes s + d * (255 - sA) / 255 (rounded to nearest).
void AlphaBlend(TBitmap& dest, int x, int y, const TBitmap& source);

}  // namespace vantrel
