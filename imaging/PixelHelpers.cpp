#include "imaging/PixelHelpers.h"

#include <algorithm>
#include <unordered_map>

#include "imaging/Error.h"

namespace vantrel {

namespace {

constexpr TColorRef Hex(std::uint32_t rrggbb) {
    return RGB(std::uint8_t(rrggbb >> 16), std::uint8_t(rrggbb >> 8), std::uint8_t(rrggbb));
}

// Entries 40 to 255 of the 256-colour palette: eighteen hue families of twelve shades,
// seven dark shades then five light tints, written as RRGGBB.
constexpr std::uint32_t kHueFamilies[18 * 12] = {
    // 40-51, hue 0 degrees
    0x3E0000, 0x5D0000, 0x7C0000, 0x9B0000, 0xBA0000, 0xD90000, 0xF00000, 0xFF2424, 0xFF4848, 0xFF6C6C, 0xFF9090, 0xFFB4B4,
    // 52-63, hue 20 degrees
    0x3E1400, 0x5D1E00, 0x7C2800, 0x9B3200, 0xBA3C00, 0xD94600, 0xF05500, 0xFF6D24, 0xFF8548, 0xFF9D6C, 0xFFB590, 0xFFCDB4,
    // 64-75, hue 40 degrees
    0x3E2A00, 0x5D3F00, 0x7C5400, 0x9B6900, 0xBA7E00, 0xD99300, 0xF0AA00, 0xFFB624, 0xFFC248, 0xFFCE6C, 0xFFDA90, 0xFFE6B4,
    // 76-87, hue 60 degrees
    0x3E3E00, 0x5D5D00, 0x7C7C00, 0x9B9B00, 0xBABA00, 0xD9D900, 0xF0F000, 0xFFFF24, 0xFFFF48, 0xFFFF6C, 0xFFFF90, 0xFFFFB4,
    // 88-99, hue 80 degrees
    0x2A3E00, 0x3F5D00, 0x547C00, 0x699B00, 0x7EBA00, 0x93D900, 0xAAF000, 0xB6FF24, 0xC2FF48, 0xCEFF6C, 0xDAFF90, 0xE6FFB4,
    // 100-111, hue 100 degrees
    0x143E00, 0x1E5D00, 0x287C00, 0x329B00, 0x3CBA00, 0x46D900, 0x55F000, 0x6DFF24, 0x85FF48, 0x9DFF6C, 0xB5FF90, 0xCDFFB4,
    // 112-123, hue 120 degrees
    0x003E00, 0x005D00, 0x007C00, 0x009B00, 0x00BA00, 0x00D900, 0x00F000, 0x24FF24, 0x48FF48, 0x6CFF6C, 0x90FF90, 0xB4FFB4,
    // 124-135, hue 140 degrees
    0x003E14, 0x005D1E, 0x007C28, 0x009B32, 0x00BA3C, 0x00D946, 0x00F055, 0x24FF6D, 0x48FF85, 0x6CFF9D, 0x90FFB5, 0xB4FFCD,
    // 136-147, hue 160 degrees
    0x003E2A, 0x005D3F, 0x007C54, 0x009B69, 0x00BA7E, 0x00D993, 0x00F0AA, 0x24FFB6, 0x48FFC2, 0x6CFFCE, 0x90FFDA, 0xB4FFE6,
    // 148-159, hue 180 degrees
    0x003E3E, 0x005D5D, 0x007C7C, 0x009B9B, 0x00BABA, 0x00D9D9, 0x00F0F0, 0x24FFFF, 0x48FFFF, 0x6CFFFF, 0x90FFFF, 0xB4FFFF,
    // 160-171, hue 200 degrees
    0x002A3E, 0x003F5D, 0x00547C, 0x00699B, 0x007EBA, 0x0093D9, 0x00AAF0, 0x24B6FF, 0x48C2FF, 0x6CCEFF, 0x90DAFF, 0xB4E6FF,
    // 172-183, hue 220 degrees
    0x00143E, 0x001E5D, 0x00287C, 0x00329B, 0x003CBA, 0x0046D9, 0x0055F0, 0x246DFF, 0x4885FF, 0x6C9DFF, 0x90B5FF, 0xB4CDFF,
    // 184-195, hue 240 degrees
    0x00003E, 0x00005D, 0x00007C, 0x00009B, 0x0000BA, 0x0000D9, 0x0000F0, 0x2424FF, 0x4848FF, 0x6C6CFF, 0x9090FF, 0xB4B4FF,
    // 196-207, hue 260 degrees
    0x14003E, 0x1E005D, 0x28007C, 0x32009B, 0x3C00BA, 0x4600D9, 0x5500F0, 0x6D24FF, 0x8548FF, 0x9D6CFF, 0xB590FF, 0xCDB4FF,
    // 208-219, hue 280 degrees
    0x2A003E, 0x3F005D, 0x54007C, 0x69009B, 0x7E00BA, 0x9300D9, 0xAA00F0, 0xB624FF, 0xC248FF, 0xCE6CFF, 0xDA90FF, 0xE6B4FF,
    // 220-231, hue 300 degrees
    0x3E003E, 0x5D005D, 0x7C007C, 0x9B009B, 0xBA00BA, 0xD900D9, 0xF000F0, 0xFF24FF, 0xFF48FF, 0xFF6CFF, 0xFF90FF, 0xFFB4FF,
    // 232-243, hue 320 degrees
    0x3E002A, 0x5D003F, 0x7C0054, 0x9B0069, 0xBA007E, 0xD90093, 0xF000AA, 0xFF24B6, 0xFF48C2, 0xFF6CCE, 0xFF90DA, 0xFFB4E6,
    // 244-255, hue 340 degrees
    0x3E0014, 0x5D001E, 0x7C0028, 0x9B0032, 0xBA003C, 0xD90046, 0xF00055, 0xFF246D, 0xFF4885, 0xFF6C9D, 0xFF90B5, 0xFFB4CD,
};

constexpr std::uint8_t kGreyLevels[20] = {9,   18,  31,  44,  57,  69,  82,  95,  108, 120,
                                          133, 146, 159, 171, 184, 197, 210, 222, 235, 248};

std::array<TColorRef, 256> MakePalette256() {
    std::array<TColorRef, 256> p{};
    const auto& p16 = StandardPalette16();
    for (int i = 0; i < 16; ++i) p[i] = p16[i];
    std::swap(p[7], p[8]);
    for (int i = 0; i < 20; ++i) p[16 + i] = RGB(kGreyLevels[i], kGreyLevels[i], kGreyLevels[i]);
    p[36] = RGB(255, 251, 240);
    p[37] = RGB(160, 160, 164);
    p[38] = RGB(192, 220, 192);
    p[39] = RGB(166, 202, 240);
    for (int i = 0; i < 18 * 12; ++i) p[40 + i] = Hex(kHueFamilies[i]);
    return p;
}

}  // namespace

const std::array<TColorRef, 2>& StandardPalette2() {
    static const std::array<TColorRef, 2> p = {RGB(0, 0, 0), RGB(255, 255, 255)};
    return p;
}

const std::array<TColorRef, 16>& StandardPalette16() {
    static const std::array<TColorRef, 16> p = {
        RGB(0, 0, 0),       RGB(128, 0, 0),   RGB(0, 128, 0),   RGB(128, 128, 0),
        RGB(0, 0, 128),     RGB(128, 0, 128), RGB(0, 128, 128), RGB(128, 128, 128),
        RGB(192, 192, 192), RGB(255, 0, 0),   RGB(0, 255, 0),   RGB(255, 255, 0),
        RGB(0, 0, 255),     RGB(255, 0, 255), RGB(0, 255, 255), RGB(255, 255, 255)};
    return p;
}

const std::array<TColorRef, 256>& StandardPalette256() {
    static const std::array<TColorRef, 256> p = MakePalette256();
    return p;
}

std::vector<TRgbQuad> StandardPaletteQuads(int bitCount) {
    std::vector<TRgbQuad> out;
    auto add = [&out](const auto& colours) {
        for (TColorRef c : colours) out.push_back(QuadFromColor(c));
    };
    if (bitCount == 1) add(StandardPalette2());
    else if (bitCount == 4) add(StandardPalette16());
    else if (bitCount == 8) add(StandardPalette256());
    return out;
}

void SwapRedBlue(std::vector<std::uint32_t>& colours) {
    for (std::uint32_t& c : colours) c = (c & 0xFF00FF00u) | ((c & 0xFF) << 16) | ((c >> 16) & 0xFF);
}

void SetStandardPalette(TBitmap& bitmap) {
    if (bitmap.IsIndexed()) bitmap.SetPalette(StandardPaletteQuads(bitmap.BitCount()));
}

bool BuildExactPalette(const TBitmap& source, TBitmap& target, bool withBlackAndWhite, bool fillFromStandard) {
    std::vector<TColorRef> colours;
    std::unordered_map<TColorRef, unsigned> positions;
    auto append = [&](TColorRef c) {
        positions.emplace(c, unsigned(colours.size()));
        colours.push_back(c);
    };
    if (withBlackAndWhite) {
        append(RGB(0, 0, 0));
        append(RGB(255, 255, 255));
    }
    target = TBitmap(source.Width(), source.Height(), 8);
    for (int y = 0; y < source.Height(); ++y) {
        bool haveLast = false;
        TColorRef last = 0;
        unsigned lastIndex = 0;
        for (int x = 0; x < source.Width(); ++x) {
            const TColorRef c = source.GetPixel(x, y);
            if (!haveLast || c != last) {
                auto it = positions.find(c);
                if (it == positions.end()) {
                    if (colours.size() == 256) return false;
                    append(c);
                    lastIndex = unsigned(colours.size() - 1);
                } else {
                    lastIndex = it->second;
                }
                last = c;
                haveLast = true;
            }
            target.SetIndex(x, y, lastIndex);
        }
    }
    if (fillFromStandard) {
        for (TColorRef c : StandardPalette256()) {
            if (colours.size() == 256) break;
            if (!positions.contains(c)) append(c);
        }
    }
    colours.resize(256, RGB(0, 0, 0));
    std::vector<TRgbQuad> palette;
    for (TColorRef c : colours) palette.push_back(QuadFromColor(c));
    target.SetPalette(std::move(palette));
    return true;
}

void MaskFromAlpha(const TBitmap& bitmap, TBitmap& mask, int threshold) {
    if (bitmap.BitCount() != 32) return;
    if (mask.Width() < bitmap.Width() || mask.Height() < bitmap.Height())
        throw Error("Mask is smaller than the bitmap");
    const bool indexed = mask.BitCount() == 1;
    for (int y = 0; y < bitmap.Height(); ++y)
        for (int x = 0; x < bitmap.Width(); ++x) {
            const bool transparent = bitmap.GetBgra(x, y).A < threshold;
            if (indexed)
                mask.SetIndex(x, y, transparent ? mask.NearestIndex(RGB(255, 255, 255)) : mask.NearestIndex(0));
            else
                mask.SetPixel(x, y, transparent ? RGB(255, 255, 255) : RGB(0, 0, 0));
        }
}

void MaskFromAlphaAtMost(const TBitmap& bitmap, TBitmap& mask, int threshold) {
    mask = NewMaskBitmap(bitmap.Width(), bitmap.Height());
    if (bitmap.BitCount() != 32) return;
    for (int y = 0; y < bitmap.Height(); ++y)
        for (int x = 0; x < bitmap.Width(); ++x)
            if (bitmap.GetBgra(x, y).A <= threshold) mask.SetIndex(x, y, 1);
}

void JoinColourAndMask(const TBitmap& colour, const TBitmap* mask, TBitmap& result) {
    if (colour.BitCount() == 32) {
        result = colour;
        return;
    }
    TBitmap out(colour.Width(), colour.Height(), 32);
    const bool useMask = mask != nullptr && !mask->Empty();
    for (int y = 0; y < colour.Height(); ++y)
        for (int x = 0; x < colour.Width(); ++x) {
            const TColorRef c = colour.GetPixel(x, y);
            TBgra p{GetBValue(c), GetGValue(c), GetRValue(c), 255};
            if (useMask && x < mask->Width() && y < mask->Height() && MaskPixelSet(*mask, x, y))
                p = c == RGB(255, 255, 255) ? TBgra{255, 255, 255, 0} : TBgra{0, 0, 0, 0};
            out.SetBgra(x, y, p);
        }
    result = std::move(out);
}

}  // namespace vantrel
