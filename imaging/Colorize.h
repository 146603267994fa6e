// Tinting icons with a colour: every pixel keeps its lightness and takes the hue and
// saturation of the colour.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>

#include "imaging/Bitmap.h"
#include "imaging/IconHandle.h"
#include "imaging/IconModel.h"

namespace vantrel {

// A colour value: red + green * 256 + blue * 65536. NoColor means "no tint".
constexpr std::int32_t NoColor = 0x1FFFFFFF;

struct TNamedColor {
    const wchar_t* Name;
    std::int32_t Value;
};

// The colours offered to users, in the order the colour grid lists them.
const std::array<TNamedColor, 7>& ColorTable();

struct THsl {
    int H = 0;       // degrees, 0 to 360
    double S = 0.0;  // 0 to 1
    double L = 0.0;  // 0 to 1
};

THsl RgbToHsl(int red, int green, int blue);
void HslToRgb(const THsl& hsl, int& red, int& green, int& blue);

// The tint of one pixel: hue and saturation of the colour, lightness the product of the
// pixel's and the colour's. Only the three low bytes of the colour value are read.
TColorRef TintPixel(TColorRef pixel, std::int32_t color);

// Tints a bitmap in place: 32-bit pixels keep their alpha; 16- and 24-bit pixels are
// tinted one by one (16 bits keep five bits a channel); 1-, 4- and 8-bit bitmaps keep
// their indices and have their palette tinted.
void TintBitmap(TBitmap& bitmap, std::int32_t color);

// Tints every image of an ICO file and writes the result, with the same images in the same
// order, sizes, depths and masks (PNG images stay PNG), to `destination`.
void ColorizeIcon(const std::filesystem::path& source, const std::filesystem::path& destination, std::int32_t color);
void ColorizeIcon(const TAdvancedIcon& source, TAdvancedIcon& result, std::int32_t color);

// A tinted copy of an icon picture, as 32-bit pixels with the icon's own mask.
void ColorizeIconPicture(const THiResIcon& icon, THiResIcon& result, std::int32_t color);

}  // namespace vantrel
