#include <gtest/gtest.h>

#include "imaging/Bitmap.h"
#include "imaging/Error.h"
#include "imaging/IconHandle.h"
#include "imaging/PixelHelpers.h"

using namespace vantrel;

TEST(Bitmap, PixelsKeepTheirColourAtEveryDepthInBottomUpPaddedRows) {
    for (int bits : {1, 4, 8, 16, 24, 32}) {
        SCOPED_TRACE(bits);
        TBitmap b(5, 3, bits);
        EXPECT_EQ(b.Stride() % 4, 0u);
        EXPECT_EQ(b.Bits().size(), b.Stride() * 3);
        const TColorRef white = RGB(255, 255, 255);
        b.SetPixel(4, 0, white);
        EXPECT_EQ(b.GetPixel(4, 0), white);
        EXPECT_EQ(b.GetPixel(3, 0), RGB(0, 0, 0));
        // Row 0 (the top) is the last row in memory.
        const auto bits0 = b.Bits();
        bool lastRowChanged = false;
        for (std::size_t i = b.Stride() * 2; i < bits0.size(); ++i) lastRowChanged |= bits0[i] != 0;
        EXPECT_TRUE(lastRowChanged);
    }
    TBitmap b16(1, 1, 16);
    b16.SetPixel(0, 0, RGB(0x87, 0x44, 0x0F));
    EXPECT_EQ(b16.GetPixel(0, 0), RGB(0x84, 0x42, 0x08));  // 5 bits per channel, high bits repeated
}

TEST(Bitmap, IndexedBitmapsTakeTheNearestPaletteEntry) {
    TBitmap b(2, 1, 4);
    b.SetPixel(0, 0, RGB(250, 10, 5));
    EXPECT_EQ(b.GetIndex(0, 0), 9u);  // (255, 0, 0)
    b.SetPixel(1, 0, RGB(130, 130, 120));
    EXPECT_EQ(b.GetIndex(1, 0), 7u);  // (128, 128, 128)
    TBitmap rgb(1, 1, 24);
    rgb.SetPixel(0, 0, RGB(190, 190, 190));
    EXPECT_EQ(rgb.ConvertTo(4).GetIndex(0, 0), 8u);  // (192, 192, 192)
    EXPECT_EQ(rgb.ConvertTo(1).GetPixel(0, 0), RGB(255, 255, 255));
}

TEST(Bitmap, ConvertingUpTo32BitsGivesZeroAlpha) {
    TBitmap b(2, 2, 8);
    b.SetIndex(1, 1, 12);
    const TBitmap c = b.ConvertTo(32);
    EXPECT_EQ(c.GetBgra(1, 1), (TBgra{255, 0, 0, 0}));  // entry 12 is (0, 0, 255)
    EXPECT_EQ(c.GetBgra(0, 0).A, 0);
}

TEST(Bitmap, BmpFileImagesRoundTripAtEveryDepth) {
    for (int bits : {1, 4, 8, 16, 24, 32}) {
        SCOPED_TRACE(bits);
        TBitmap b(7, 3, bits);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 7; ++x) b.SetPixel(x, y, RGB(std::uint8_t(x * 40), std::uint8_t(y * 100), 255));
        const auto bmp = b.SaveToBmp();
        ASSERT_EQ(bmp[0], 'B');
        const TBitmap back = TBitmap::LoadFromBmp(bmp);
        EXPECT_EQ(back, b);
    }
}

TEST(Bitmap, MalformedBmpFilesFailCleanly) {
    TBitmap b(4, 4, 8);
    const auto good = b.SaveToBmp();
    auto expectInvalid = [](std::vector<std::uint8_t> bytes) {
        try {
            TBitmap::LoadFromBmp(bytes);
            ADD_FAILURE() << "accepted";
        } catch (const Error& e) {
            EXPECT_STREQ(e.what(), "Bitmap image is not valid");
        }
    };
    expectInvalid(std::vector<std::uint8_t>(good.begin(), good.begin() + 60));  // colour table cut off
    auto wide = good;
    wide[18] = 0xFF, wide[19] = 0xFF, wide[20] = 0xFF, wide[21] = 0x7F;  // 2^31 - 1 pixels wide
    expectInvalid(wide);
    auto planes = good;
    planes[26] = 2;
    expectInvalid(planes);
    // Sizes whose pixels would not fit in memory (or wrap a 32-bit size) are refused.
    EXPECT_THROW(TBitmap(MaxBitmapSide, MaxBitmapSide, 32), Error);
    EXPECT_THROW(TBitmap(-1, 1, 8), Error);
    // Pixel rows cut short read as zero rather than past the end.
    auto shortRows = good;
    shortRows.resize(shortRows.size() - 10);
    EXPECT_EQ(TBitmap::LoadFromBmp(shortRows).Height(), 4);
}

TEST(Bitmap, AlphaBlendAddsThePremultipliedSourceOverTheDestination) {
    TBitmap d(1, 1, 32), s(1, 1, 32);
    d.SetBgra(0, 0, {200, 100, 0, 255});
    s.SetBgra(0, 0, {64, 0, 128, 128});  // premultiplied
    AlphaBlend(d, 0, 0, s);
    // s + d * 127 / 255
    EXPECT_EQ(d.GetBgra(0, 0), (TBgra{164, 50, 128, 255}));
    s.SetBgra(0, 0, {0, 0, 0, 0});
    AlphaBlend(d, 0, 0, s);
    EXPECT_EQ(d.GetBgra(0, 0), (TBgra{164, 50, 128, 255}));
}

TEST(Bitmap, SrcAndKeepsAMaskPixelTransparentOnlyWhereBothAre) {
    TBitmap a = NewMaskBitmap(9, 1), b = NewMaskBitmap(9, 1);
    a.SetIndex(0, 0, 1);
    a.SetIndex(8, 0, 1);
    b.SetIndex(8, 0, 1);
    b.SetIndex(3, 0, 1);
    BlitAnd(a, b);
    for (int x = 0; x < 9; ++x) EXPECT_EQ(a.GetIndex(x, 0), x == 8 ? 1u : 0u) << x;
}

TEST(Bitmap, DrawIconBlendsAlphaImagesAndAppliesMaskThenXorOtherwise) {
    // 32-bit image with alpha over an opaque 32-bit canvas.
    TBitmap colour(2, 1, 32);
    colour.SetBgra(0, 0, {0, 0, 255, 255});
    colour.SetBgra(1, 0, {0, 0, 255, 0});
    TBitmap canvas(2, 1, 32);
    canvas.SetBgra(0, 0, {255, 0, 0, 255});
    canvas.SetBgra(1, 0, {255, 0, 0, 255});
    DrawIconEx(canvas, 0, 0, CreateIconIndirect(colour, NewMaskBitmap(2, 1)));
    EXPECT_EQ(canvas.GetBgra(0, 0), (TBgra{0, 0, 255, 255}));
    EXPECT_EQ(canvas.GetBgra(1, 0), (TBgra{255, 0, 0, 255}));

    // 24-bit image: opaque pixel replaces, transparent black keeps, transparent colour inverts.
    TBitmap c24(3, 1, 24);
    c24.SetPixel(0, 0, RGB(10, 20, 30));
    c24.SetPixel(2, 0, RGB(255, 255, 255));
    TBitmap mask = NewMaskBitmap(3, 1);
    mask.SetIndex(1, 0, 1);
    mask.SetIndex(2, 0, 1);
    TBitmap canvas24(4, 1, 24);
    for (int x = 0; x < 4; ++x) canvas24.SetPixel(x, 0, RGB(0, 100, 200));
    DrawIconEx(canvas24, 0, 0, CreateIconIndirect(c24, mask));
    EXPECT_EQ(canvas24.GetPixel(0, 0), RGB(10, 20, 30));
    EXPECT_EQ(canvas24.GetPixel(1, 0), RGB(0, 100, 200));
    EXPECT_EQ(canvas24.GetPixel(2, 0), RGB(255, 155, 55));
    EXPECT_EQ(canvas24.GetPixel(3, 0), RGB(0, 100, 200));  // outside the icon

    // An indexed canvas receives the nearest entry of its palette; drawing is clipped.
    TBitmap canvas8(2, 1, 8);
    DrawIconEx(canvas8, 1, 0, CreateIconIndirect(c24, mask));
    EXPECT_EQ(canvas8.GetPixel(1, 0), RGB(18, 18, 18));  // nearest to (10, 20, 30)
    EXPECT_EQ(canvas8.GetPixel(0, 0), RGB(0, 0, 0));
}
