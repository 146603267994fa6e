#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>

#include "imaging/PixelHelpers.h"

using namespace vantrel;

TEST(StandardPalettes, SixteenColoursInTheirOrder) {
    const auto& p = StandardPalette16();
    EXPECT_EQ(p[0], RGB(0, 0, 0));
    EXPECT_EQ(p[1], RGB(128, 0, 0));
    EXPECT_EQ(p[4], RGB(0, 0, 128));
    EXPECT_EQ(p[7], RGB(128, 128, 128));
    EXPECT_EQ(p[8], RGB(192, 192, 192));
    EXPECT_EQ(p[11], RGB(255, 255, 0));
    EXPECT_EQ(p[13], RGB(255, 0, 255));
    EXPECT_EQ(p[15], RGB(255, 255, 255));
    EXPECT_EQ(std::set<TColorRef>(p.begin(), p.end()).size(), 16u);
    EXPECT_EQ(StandardPalette2()[1], RGB(255, 255, 255));
}

TEST(StandardPalettes, TwoHundredFiftySixColours) {
    const auto& p = StandardPalette256();
    const auto& p16 = StandardPalette16();
    for (int i = 0; i < 16; ++i) EXPECT_EQ(p[i], p16[i == 7 ? 8 : i == 8 ? 7 : i]) << i;
    const int greys[20] = {9, 18, 31, 44, 57, 69, 82, 95, 108, 120, 133, 146, 159, 171, 184, 197, 210, 222, 235, 248};
    for (int i = 0; i < 20; ++i) EXPECT_EQ(p[16 + i], RGB(greys[i], greys[i], greys[i])) << i;
    EXPECT_EQ(p[36], RGB(255, 251, 240));
    EXPECT_EQ(p[39], RGB(166, 202, 240));
    EXPECT_EQ(p[40], RGB(0x3E, 0, 0));
    EXPECT_EQ(p[105], RGB(0x46, 0xD9, 0));
    EXPECT_EQ(p[171], RGB(0xB4, 0xE6, 0xFF));
    EXPECT_EQ(p[255], RGB(0xFF, 0xB4, 0xCD));

    // Families of twelve: seven dark shades of rising strength, five tints of full strength
    // rising in lightness, every colour on its family's hue.
    for (int family = 0; family < 18; ++family) {
        SCOPED_TRACE(family);
        int lastMax = 0, lastMin = -1;
        for (int shade = 0; shade < 12; ++shade) {
            const TColorRef c = p[40 + 12 * family + shade];
            const int r = GetRValue(c), g = GetGValue(c), b = GetBValue(c);
            const int mx = std::max({r, g, b}), mn = std::min({r, g, b});
            if (shade < 7) {
                EXPECT_EQ(mn, 0);
                EXPECT_GT(mx, lastMax);
                lastMax = mx;
            } else {
                EXPECT_EQ(mx, 255);
                EXPECT_GT(mn, lastMin);
                lastMin = mn;
            }
            double h;
            const double d = mx - mn;
            if (mx == r) h = std::fmod(60.0 * (g - b) / d + 360.0, 360.0);
            else if (mx == g) h = 60.0 * (b - r) / d + 120.0;
            else h = 60.0 * (r - g) / d + 240.0;
            const double off = std::fabs(std::remainder(h - 20.0 * family, 360.0));
            EXPECT_LT(off, 3.0) << "entry " << 40 + 12 * family + shade;
        }
    }
}

TEST(StandardPalettes, SetStandardPaletteOnlyForIndexedBitmaps) {
    TBitmap b(1, 1, 8);
    b.SetPalette({TRgbQuad{1, 2, 3, 0}});
    SetStandardPalette(b);
    EXPECT_EQ(b.Palette().size(), 256u);
    EXPECT_EQ(ColorFromQuad(b.Palette()[7]), RGB(192, 192, 192));
    TBitmap rgb(1, 1, 24);
    SetStandardPalette(rgb);
    EXPECT_TRUE(rgb.Palette().empty());
    std::vector<std::uint32_t> list{0x00112233};
    SwapRedBlue(list);
    EXPECT_EQ(list[0], 0x00332211u);
}

namespace {
TBitmap Picture(int colours) {
    // `colours` distinct non-black, non-white colours, one per pixel in a row.
    TBitmap b(colours, 1, 24);
    for (int i = 0; i < colours; ++i) b.SetPixel(i, 0, RGB(std::uint8_t(1 + i), 7, 9));
    return b;
}
}  // namespace

TEST(BuildExactPalette, HoldsAtMost256ColoursCountingBlackAndWhite) {
    TBitmap target;
    EXPECT_TRUE(BuildExactPalette(Picture(254), target, true, false));
    EXPECT_EQ(target.GetPixel(253, 0), RGB(254, 7, 9));
    EXPECT_EQ(target.GetIndex(0, 0), 2u);
    EXPECT_FALSE(BuildExactPalette(Picture(255), target, true, false));
    EXPECT_TRUE(BuildExactPalette(Picture(255), target, false, false));
}

TEST(BuildExactPalette, ListsColoursInOrderOfFirstAppearanceFromTheTop) {
    TBitmap source(3, 2, 32);
    source.SetPixel(0, 0, RGB(255, 0, 0));  // top row: red, red, blue
    source.SetPixel(1, 0, RGB(255, 0, 0));
    source.SetPixel(2, 0, RGB(0, 0, 255));
    source.SetPixel(0, 1, RGB(0, 0, 255));  // bottom row: blue, white, black
    source.SetPixel(1, 1, RGB(255, 255, 255));
    TBitmap target;
    ASSERT_TRUE(BuildExactPalette(source, target, true, false));
    ASSERT_EQ(target.BitCount(), 8);
    const auto& pal = target.Palette();
    ASSERT_EQ(pal.size(), 256u);
    EXPECT_EQ(ColorFromQuad(pal[0]), RGB(0, 0, 0));
    EXPECT_EQ(ColorFromQuad(pal[1]), RGB(255, 255, 255));
    EXPECT_EQ(ColorFromQuad(pal[2]), RGB(255, 0, 0));
    EXPECT_EQ(ColorFromQuad(pal[3]), RGB(0, 0, 255));
    for (std::size_t i = 4; i < 256; ++i) EXPECT_EQ(ColorFromQuad(pal[i]), RGB(0, 0, 0));
    EXPECT_EQ(target.GetIndex(0, 0), 2u);
    EXPECT_EQ(target.GetIndex(2, 0), 3u);
    EXPECT_EQ(target.GetIndex(1, 1), 1u);
    EXPECT_EQ(target.GetIndex(2, 1), 0u);

    // Filling from the standard palette skips colours already present.
    ASSERT_TRUE(BuildExactPalette(source, target, true, true));
    std::set<TColorRef> seen;
    for (const TRgbQuad& q : target.Palette()) seen.insert(ColorFromQuad(q));
    EXPECT_EQ(seen.size(), 256u);
    EXPECT_EQ(ColorFromQuad(target.Palette()[4]), StandardPalette256()[1]);
}

TEST(AlphaMasks, ThresholdsAreStrictForMaskFromAlphaAndInclusiveForAtMost) {
    TBitmap b(4, 1, 32);
    const std::uint8_t alphas[4] = {95, 96, 0, 1};
    for (int x = 0; x < 4; ++x) b.SetBgra(x, 0, {9, 9, 9, alphas[x]});
    TBitmap mask = NewMaskBitmap(4, 1);
    MaskFromAlpha(b, mask, 96);
    EXPECT_EQ(mask.GetIndex(0, 0), 1u);
    EXPECT_EQ(mask.GetIndex(1, 0), 0u);
    EXPECT_EQ(mask.GetIndex(2, 0), 1u);

    TBitmap atMost(9, 9, 24);
    MaskFromAlphaAtMost(b, atMost, 0);
    ASSERT_EQ(atMost.BitCount(), 1);
    ASSERT_EQ(atMost.Width(), 4);
    EXPECT_EQ(atMost.GetIndex(0, 0), 0u);
    EXPECT_EQ(atMost.GetIndex(2, 0), 1u);
    EXPECT_EQ(atMost.GetIndex(3, 0), 0u);

    // A bitmap without alpha gives an opaque mask, and MaskFromAlpha leaves the mask alone.
    TBitmap rgb(2, 1, 24);
    MaskFromAlphaAtMost(rgb, atMost, 255);
    EXPECT_EQ(atMost.GetIndex(1, 0), 0u);
    mask.SetIndex(3, 0, 1);
    MaskFromAlpha(rgb, mask, 96);
    EXPECT_EQ(mask.GetIndex(3, 0), 1u);
}

TEST(JoinColourAndMask, MaskedPixelsBecomeTransparentWhiteOrBlack) {
    TBitmap colour(3, 1, 8);
    colour.SetPixel(0, 0, RGB(255, 255, 255));
    colour.SetPixel(1, 0, RGB(255, 0, 0));
    colour.SetPixel(2, 0, RGB(0, 255, 0));
    TBitmap mask = NewMaskBitmap(3, 1);
    mask.SetIndex(0, 0, 1);
    mask.SetIndex(1, 0, 1);
    TBitmap out;
    JoinColourAndMask(colour, &mask, out);
    ASSERT_EQ(out.BitCount(), 32);
    EXPECT_EQ(out.GetBgra(0, 0), (TBgra{255, 255, 255, 0}));
    EXPECT_EQ(out.GetBgra(1, 0), (TBgra{0, 0, 0, 0}));
    EXPECT_EQ(out.GetBgra(2, 0), (TBgra{0, 255, 0, 255}));
    JoinColourAndMask(colour, nullptr, out);
    EXPECT_EQ(out.GetBgra(0, 0), (TBgra{255, 255, 255, 255}));

    TBitmap c32(1, 1, 32);
    c32.SetBgra(0, 0, {1, 2, 3, 4});
    JoinColourAndMask(c32, &mask, out);
    EXPECT_EQ(out.GetBgra(0, 0), (TBgra{1, 2, 3, 4}));
}
