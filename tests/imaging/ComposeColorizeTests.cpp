#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "imaging/Colorize.h"
#include "imaging/ImagingLog.h"
#include "imaging/OverlayCompose.h"
#include "imaging/PixelHelpers.h"
#include "imaging/PngCodec.h"
#include "TestIcons.h"

using namespace vantrel;

namespace {

using PixelFn = std::function<TBgra(int x, int y)>;
using MaskFn = std::function<bool(int x, int y)>;

// Appends an image of the given size and depth; `pixel` gives its colour (alpha used at 32
// bits), `transparent` its mask. `png`: stored as a PNG entry.
void AddImage(TAdvancedIcon& icon, int size, int bits, const PixelFn& pixel, const MaskFn& transparent = nullptr,
              bool png = false) {
    TBitmap colour(size, size, bits);
    TBitmap mask = NewMaskBitmap(size, size);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            TBgra p = pixel(x, y);
            if (bits == 32) colour.SetBgra(x, y, p);
            else colour.SetPixel(x, y, RGB(p.R, p.G, p.B));
            if (transparent && transparent(x, y)) mask.SetIndex(x, y, 1);
        }
    icon.Images().AddFromBitmaps(colour, &mask, 1);
    if (png) {
        TSubIcon* added = icon.Images().Get(icon.Images().Count() - 1);
        added->EncodePng(*added);
    }
}

TBgra Solid(std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a = 255) { return {b, g, r, a}; }

// The image's pixels as 32-bit colour with alpha, and its mask.
struct Pixels {
    TBitmap colour, mask;
    explicit Pixels(const TSubIcon& image) { image.SplitToBitmaps(&colour, &mask); }
    TColorRef At(int x, int y) const { return colour.GetPixel(x, y); }
    bool Clear(int x, int y) const { return !MaskPixelSet(mask, x, y); }
};

// A 48 x 48 icon with one palette PNG entry (8 bits in the directory) whose tRNS holds soft
// alpha: columns of the entries 0 to 4, with alpha 0, 64, 128, 200 and 255.
constexpr std::uint8_t kSoftAlpha[5] = {0, 64, 128, 200, 255};
const TRgbQuad kSoftColours[5] = {{10, 20, 30, 0}, {200, 40, 40, 0}, {40, 200, 40, 0}, {40, 40, 200, 0}, {90, 90, 90, 0}};

void LoadSoftPaletteIcon(TAdvancedIcon& icon) {
    std::vector<std::uint8_t> indices;
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 48; ++x) indices.push_back(std::uint8_t(x % 5));
    const auto png = EncodePngPalette(48, 48, indices, kSoftColours, kSoftAlpha);
    ASSERT_TRUE(icon.LoadFromBytes(test::MakeIco({{48, 48, 0, 0, 1, 8, png}})));
}

std::vector<std::wstring> g_log;
void Collect(const std::wstring& text, const std::wstring& category, int, bool) { g_log.push_back(category + L": " + text); }

}  // namespace

// ---- colour rule ------------------------------------------------------------------

TEST(Colorize, HuesOfTheColourTable) {
    const int hues[] = {4, 30, 48, 126, 220, 270, 240};
    ASSERT_EQ(ColorTable().size(), 7u);
    for (std::size_t i = 0; i < 7; ++i) {
        const auto c = static_cast<std::uint32_t>(ColorTable()[i].Value);
        EXPECT_EQ(RgbToHsl(c & 0xFF, (c >> 8) & 0xFF, c >> 16).H, hues[i]) << ColorTable()[i].Name;
    }
    EXPECT_EQ(ColorTable()[0].Value, 254 + 69 * 256 + 54 * 65536);
}

TEST(Colorize, TintedWhiteGreyAndBlack) {
    auto tint = [](TColorRef px, const wchar_t* name) {
        for (const auto& c : ColorTable())
            if (std::wstring(c.Name) == name) return TintPixel(px, c.Value);
        return TColorRef(0xFFFFFFFF);
    };
    const TColorRef white = RGB(255, 255, 255), grey = RGB(128, 128, 128);
    EXPECT_EQ(tint(white, L"Red"), RGB(254, 67, 54));
    EXPECT_EQ(tint(white, L"Orange"), RGB(255, 153, 51));
    EXPECT_EQ(tint(white, L"Green"), RGB(20, 250, 43));
    EXPECT_EQ(tint(white, L"Blue"), RGB(91, 146, 255));
    EXPECT_EQ(tint(white, L"Gray"), RGB(178, 178, 178));
    EXPECT_EQ(tint(grey, L"Red"), RGB(154, 11, 1));
    EXPECT_EQ(tint(grey, L"Blue"), RGB(0, 58, 174));
    EXPECT_EQ(tint(grey, L"Gray"), RGB(89, 89, 89));
    for (const auto& c : ColorTable()) EXPECT_EQ(TintPixel(RGB(0, 0, 0), c.Value), RGB(0, 0, 0)) << c.Name;
    // Only the three low bytes count: "no colour" reads as white, giving greys.
    EXPECT_EQ(TintPixel(RGB(200, 100, 0), NoColor), RGB(100, 100, 100));
}

TEST(Colorize, HslRoundTripAndTies) {
    // Round trip over a coarse grid of colours stays within one step per channel.
    for (int r = 0; r < 256; r += 17)
        for (int g = 0; g < 256; g += 17)
            for (int b = 0; b < 256; b += 17) {
                int r2, g2, b2;
                HslToRgb(RgbToHsl(r, g, b), r2, g2, b2);
                EXPECT_NEAR(r2, r, 3);
                EXPECT_NEAR(g2, g, 3);
                EXPECT_NEAR(b2, b, 3);
            }
    // Ties go to the even neighbour: (g - b) * 60 / d = 4.5 gives 4, 1.5 gives 2.
    EXPECT_EQ(RgbToHsl(254, 69, 54).H, 4);
    EXPECT_EQ(RgbToHsl(200, 5, 0).H, 2);  // 300 / 200 = 1.5
    // Ties between red and another channel count as red.
    EXPECT_EQ(RgbToHsl(200, 200, 0).H, 60);
    EXPECT_EQ(RgbToHsl(200, 0, 200).H, 300);
}

TEST(Colorize, IconKeepsImagesMasksAndAlpha) {
    TAdvancedIcon source, result;
    auto ramp = [](int x, int y) { return Solid(std::uint8_t(x * 16), std::uint8_t(y * 16), 255, std::uint8_t(x * 8 + y)); };
    auto corner = [](int x, int y) { return x < 4 && y < 4; };
    AddImage(source, 16, 32, ramp, corner);
    AddImage(source, 32, 24, [](int, int) { return Solid(255, 255, 255); }, corner);
    AddImage(source, 16, 16, [](int, int) { return Solid(255, 255, 255); });
    AddImage(source, 48, 8, [](int x, int) { return x < 24 ? Solid(255, 255, 255) : Solid(128, 128, 128); }, corner);
    AddImage(source, 64, 32, ramp, nullptr, true);
    ColorizeIcon(source, result, 3556862);  // Red

    ASSERT_EQ(result.Images().Count(), 5);
    const int depths[] = {32, 24, 24, 8, 32};  // 16 bits are written as 24
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(result.Images()[i]->GetWidth(), source.Images()[i]->GetWidth());
        EXPECT_EQ(result.Images()[i]->GetBitDepth(), depths[i]) << i;
    }
    EXPECT_FALSE(result.Images()[0]->StoreAsPng());
    EXPECT_TRUE(result.Images()[4]->StoreAsPng());

    Pixels in(*source.Images()[0]), out(*result.Images()[0]);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            EXPECT_EQ(out.colour.GetBgra(x, y).A, in.colour.GetBgra(x, y).A);
            EXPECT_EQ(out.Clear(x, y), in.Clear(x, y));
            EXPECT_EQ(out.At(x, y), TintPixel(in.At(x, y), 3556862));
        }
    Pixels white(*result.Images()[1]);
    EXPECT_EQ(white.At(10, 10), RGB(254, 67, 54));
    EXPECT_FALSE(white.Clear(2, 2));  // the mask is the source's
    EXPECT_TRUE(Pixels(*source.Images()[1]).Clear(2, 2) == white.Clear(2, 2));
    // An indexed image keeps its indices and gets a tinted palette: both halves exact.
    Pixels indexed(*result.Images()[3]);
    EXPECT_EQ(indexed.At(5, 20), RGB(254, 67, 54));
    EXPECT_EQ(indexed.At(40, 20), RGB(154, 11, 1));
}

TEST(Colorize, MonochromeImagesTakeTheColour) {
    TAdvancedIcon source, result;
    AddImage(source, 32, 1, [](int x, int) { return x < 16 ? Solid(255, 255, 255) : Solid(0, 0, 0); });
    ColorizeIcon(source, result, 16748891);  // Blue
    ASSERT_EQ(result.Images().Count(), 1);
    EXPECT_EQ(result.Images()[0]->GetBitDepth(), 1);
    Pixels p(*result.Images()[0]);
    EXPECT_EQ(p.At(3, 3), RGB(91, 146, 255));
    EXPECT_EQ(p.At(20, 3), RGB(0, 0, 0));
}

TEST(Colorize, FilesAndFailures) {
    const auto dir = std::filesystem::temp_directory_path() / "vantrel-colorize-test";
    std::filesystem::create_directories(dir);
    TAdvancedIcon source;
    AddImage(source, 32, 32, [](int, int) { return Solid(255, 255, 255); });
    source.SaveToFile(dir / "in.ico");
    ColorizeIcon(dir / "in.ico", dir / "out.ico", 2947604);
    TAdvancedIcon back;
    ASSERT_TRUE(back.LoadFromFile(dir / "out.ico"));
    EXPECT_EQ(Pixels(*back.Images()[0]).At(1, 1), RGB(20, 250, 43));

    std::filesystem::path notIco = dir / "not.ico";
    { std::FILE* f = std::fopen(notIco.string().c_str(), "wb"); std::fputs("not an icon", f); std::fclose(f); }
    try {
        ColorizeIcon(notIco, dir / "x.ico", 2947604);
        FAIL();
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "No images in icon");
    }
    EXPECT_THROW(ColorizeIcon(dir / "missing.ico", dir / "x.ico", 2947604), Error);
    std::filesystem::remove_all(dir);
}

// ---- compositing ------------------------------------------------------------------

TEST(Compose, MatchingRules) {
    TAdvancedIcon base;
    AddImage(base, 32, 32, [](int, int) { return Solid(1, 1, 1); });  // 0
    AddImage(base, 32, 8, [](int, int) { return Solid(1, 1, 1); });   // 1
    AddImage(base, 32, 4, [](int, int) { return Solid(1, 1, 1); });   // 2
    AddImage(base, 32, 8, [](int, int) { return Solid(1, 1, 1); });   // 3: a later equal
    AddImage(base, 48, 4, [](int, int) { return Solid(1, 1, 1); });   // 4
    TAdvancedIcon marker;
    AddImage(marker, 32, 8, [](int, int) { return Solid(1, 1, 1); });
    AddImage(marker, 32, 24, [](int, int) { return Solid(1, 1, 1); });
    AddImage(marker, 48, 1, [](int, int) { return Solid(1, 1, 1); });
    AddImage(marker, 8, 32, [](int, int) { return Solid(1, 1, 1); });

    bool lower = false;
    // Same depth wins even when a deeper image comes first.
    EXPECT_EQ(FindMatchingImage(*marker.Images()[0], base, lower), base.Images()[1]);
    EXPECT_FALSE(lower);
    // Otherwise the deepest lower one, the earliest of equals.
    EXPECT_EQ(FindMatchingImage(*marker.Images()[1], base, lower), base.Images()[1]);
    EXPECT_TRUE(lower);
    // Never a deeper one.
    lower = false;
    EXPECT_EQ(FindMatchingImage(*marker.Images()[2], base, lower), nullptr);
    // Under 16 pixels: nothing, flag untouched.
    lower = false;
    EXPECT_EQ(FindMatchingImage(*marker.Images()[3], base, lower), nullptr);
    EXPECT_FALSE(lower);
}

TEST(Compose, ResultFollowsTheMarkersImages) {
    TAdvancedIcon base, marker, result;
    for (int size : {16, 32, 48}) AddImage(base, size, 32, [](int, int) { return Solid(0, 0, 200); });
    for (int size : {32, 16}) AddImage(marker, size, 32, [](int x, int) { return x < 8 ? Solid(255, 0, 0) : Solid(0, 0, 0, 0); });
    AddImage(marker, 24, 32, [](int, int) { return Solid(255, 0, 0); });  // no 24 in the base
    g_log.clear();
    SetImagingLogSink(&Collect);
    ComposeOverlay(base, marker, result);
    SetImagingLogSink(nullptr);
    ASSERT_EQ(result.Images().Count(), 2);
    EXPECT_EQ(result.Images()[0]->GetWidth(), 32);
    EXPECT_EQ(result.Images()[1]->GetWidth(), 16);
    ASSERT_EQ(g_log.size(), 1u);
    EXPECT_EQ(g_log[0], L"Overlay: There is no appropriate overlay icon for 24x24, 32 bit");
    Pixels p(*result.Images()[0]);
    EXPECT_EQ(p.At(2, 2), RGB(255, 0, 0));   // marker pixel
    EXPECT_EQ(p.At(20, 2), RGB(0, 0, 200));  // alpha 0 in the marker: base unchanged
    EXPECT_EQ(p.colour.GetBgra(20, 2).A, 255);
}

TEST(Compose, LowerDepthBaseUnderAlphaMarker) {
    TAdvancedIcon base, marker, result;
    AddImage(base, 32, 8, [](int, int) { return Solid(0, 0, 255); }, [](int x, int) { return x >= 24; });
    AddImage(base, 32, 4, [](int, int) { return Solid(255, 255, 0); });
    AddImage(marker, 32, 32, [](int, int y) { return y < 8 ? Solid(255, 0, 0, 255) : y < 16 ? Solid(255, 255, 255, 128) : Solid(0, 0, 0, 0); },
             [](int, int y) { return y >= 16; });
    ComposeOverlay(base, marker, result);
    ASSERT_EQ(result.Images().Count(), 1);
    EXPECT_EQ(result.Images()[0]->GetBitDepth(), 32);
    Pixels p(*result.Images()[0]);
    EXPECT_EQ(p.At(4, 2), RGB(255, 0, 0));                 // opaque marker
    EXPECT_EQ(p.colour.GetBgra(4, 20).A, 255);              // base made opaque where its mask is
    EXPECT_EQ(p.At(4, 20), RGB(0, 0, 255));                 // the 8-bit base (blue), not the 4-bit
    const TBgra half = p.colour.GetBgra(4, 10);             // 50% white over blue
    EXPECT_NEAR(half.R, 128, 1);
    EXPECT_NEAR(half.B, 255, 1);
    // Transparent only where both masks are: base right edge and marker bottom half.
    EXPECT_FALSE(p.Clear(28, 20));
    EXPECT_TRUE(p.Clear(4, 20));
    EXPECT_TRUE(p.Clear(28, 2));
}

TEST(Compose, IndexedMarkerStaysAtItsDepth) {
    TAdvancedIcon base, marker, result;
    AddImage(base, 32, 32, [](int, int) { return Solid(0, 255, 0); });
    AddImage(base, 32, 8, [](int, int) { return Solid(0, 0, 255); });
    // Transparent pixels are black, as in any icon drawn by mask then XOR.
    AddImage(marker, 32, 8, [](int x, int) { return x < 16 ? Solid(255, 0, 0) : Solid(0, 0, 0); },
             [](int x, int) { return x >= 16; });
    ComposeOverlay(base, marker, result);
    ASSERT_EQ(result.Images().Count(), 1);
    EXPECT_EQ(result.Images()[0]->GetBitDepth(), 8);
    Pixels p(*result.Images()[0]);
    EXPECT_EQ(p.At(2, 2), RGB(255, 0, 0));
    EXPECT_EQ(p.At(20, 2), RGB(0, 0, 255));
}

TEST(Compose, NonAlphaMarkerOverALowerDepthBase) {
    TAdvancedIcon base, marker, result;
    AddImage(base, 32, 4, [](int, int) { return Solid(0, 0, 255); });
    AddImage(marker, 32, 8, [](int, int) { return Solid(255, 0, 0); }, [](int x, int) { return x >= 16; });
    ComposeOverlay(base, marker, result);
    ASSERT_EQ(result.Images().Count(), 1);
    EXPECT_EQ(result.Images()[0]->GetBitDepth(), 8);
    Pixels p(*result.Images()[0]);
    EXPECT_EQ(p.At(2, 2), RGB(255, 0, 0));   // the marker is drawn, not lost
    EXPECT_EQ(p.At(20, 2), RGB(0, 0, 255));  // the base shows where the marker is clear
    EXPECT_TRUE(p.Clear(20, 2));              // and stays opaque
}

TEST(Compose, PngEntries) {
    auto disc = [](int x, int y) { return (x - 128) * (x - 128) + (y - 128) * (y - 128) < 100 * 100; };
    TAdvancedIcon base, pngMarker, dibMarker, result;
    AddImage(base, 256, 32, [&](int x, int y) { return disc(x, y) ? Solid(0, 0, 255) : Solid(0, 0, 0, 0); },
             [&](int x, int y) { return !disc(x, y); }, true);
    AddImage(pngMarker, 256, 32, [](int x, int y) { return x < 64 && y < 64 ? Solid(255, 0, 0) : Solid(0, 0, 0, 0); },
             [](int x, int y) { return !(x < 64 && y < 64); }, true);
    AddImage(dibMarker, 256, 32, [](int x, int y) { return x < 64 && y < 64 ? Solid(255, 0, 0) : Solid(0, 0, 0, 0); },
             [](int x, int y) { return !(x < 64 && y < 64); });
    ComposeOverlay(base, pngMarker, result);
    ASSERT_EQ(result.Images().Count(), 1);
    EXPECT_TRUE(result.Images()[0]->StoreAsPng());
    // Written and read back: still a PNG entry with both pictures.
    TAdvancedIcon back;
    ASSERT_TRUE(back.LoadFromBytes(result.SaveToBytes()));
    EXPECT_TRUE(back.Images()[0]->IsPngData() || back.Images()[0]->StoreAsPng());
    Pixels p(*back.Images()[0]);
    EXPECT_EQ(p.At(10, 10), RGB(255, 0, 0));
    EXPECT_EQ(p.At(128, 128), RGB(0, 0, 255));
    EXPECT_EQ(p.colour.GetBgra(250, 250).A, 0);

    TAdvancedIcon dibResult;
    ComposeOverlay(base, dibMarker, dibResult);
    ASSERT_EQ(dibResult.Images().Count(), 1);
    EXPECT_FALSE(dibResult.Images()[0]->StoreAsPng());
    EXPECT_EQ(dibResult.Images()[0]->GetBitDepth(), 32);
}

TEST(Compose, NothingMatchedIsAFailure) {
    const auto dir = std::filesystem::temp_directory_path() / "vantrel-compose-test";
    std::filesystem::create_directories(dir);
    TAdvancedIcon base, marker;
    AddImage(base, 48, 32, [](int, int) { return Solid(0, 0, 255); });
    AddImage(marker, 32, 32, [](int, int) { return Solid(255, 0, 0); });
    base.SaveToFile(dir / "base.ico");
    marker.SaveToFile(dir / "marker.ico");
    try {
        ComposeOverlay(dir / "base.ico", dir / "marker.ico", dir / "out.ico");
        FAIL();
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "No images in icon");
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "out.ico"));
    EXPECT_THROW(ComposeOverlay(dir / "missing.ico", dir / "marker.ico", dir / "out.ico"), Error);
    std::filesystem::remove_all(dir);
}

TEST(Compose, BlendArithmetic) {
    TBitmap d(2, 1, 32), s(2, 1, 32);
    d.SetBgra(0, 0, {200, 100, 50, 255});
    s.SetBgra(0, 0, {0, 0, 255, 128});  // red at half alpha
    d.SetBgra(1, 0, {10, 20, 30, 0});   // no alpha: opaque by the mask below
    s.SetBgra(1, 0, {0, 0, 0, 0});
    TBitmap mask = NewMaskBitmap(2, 1);
    BlendOverlay(d, s, &mask, true);
    const TBgra a = d.GetBgra(0, 0);
    // premultiplied source 255 * 128 / 255 = 128; result = s + d * (255 - 128) / 255
    EXPECT_NEAR(a.R, 128 + 50 * 127 / 255, 1);
    EXPECT_NEAR(a.B, 200 * 127 / 255, 1);
    EXPECT_EQ(a.A, 255);
    EXPECT_EQ(d.GetBgra(1, 0), (TBgra{10, 20, 30, 255}));
    // Without the mask the pixel keeps alpha 0.
    TBitmap d2(1, 1, 32), s2(1, 1, 32);
    d2.SetBgra(0, 0, {10, 20, 30, 0});
    BlendOverlay(d2, s2, &mask, false);
    EXPECT_EQ(d2.GetBgra(0, 0).A, 0);
}

TEST(Compose, PicturePreviews) {
    TAdvancedIcon base, marker;
    AddImage(base, 32, 24, [](int, int) { return Solid(0, 0, 255); }, [](int x, int) { return x >= 30; });
    AddImage(marker, 32, 8, [](int, int) { return Solid(255, 0, 0); }, [](int x, int) { return x >= 8; });
    THiResIcon icon(base.Images()[0]->GetHandle());
    THiResIcon over(marker.Images()[0]->GetHandle());
    OverlayIconPicture(icon, over);
    TIconInfo info = GetIconInfo(icon.Handle());
    EXPECT_EQ(info.Colour.GetPixel(2, 2), RGB(255, 0, 0));
    EXPECT_EQ(info.Colour.GetPixel(20, 2), RGB(0, 0, 255));
    EXPECT_TRUE(MaskPixelSet(info.Mask, 31, 0));
    EXPECT_FALSE(MaskPixelSet(info.Mask, 20, 0));

    THiResIcon tinted;
    ColorizeIconPicture(THiResIcon(base.Images()[0]->GetHandle()), tinted, 11711154);  // Gray
    TIconInfo t = GetIconInfo(tinted.Handle());
    EXPECT_EQ(t.Colour.GetPixel(2, 2), TintPixel(RGB(0, 0, 255), 11711154));
    EXPECT_TRUE(MaskPixelSet(t.Mask, 31, 0));
}

// ---- soft alpha of palette PNG entries ---------------------------------------------

// Tinted, and beside a marker given as a PNG entry (as at 256 pixels) or a DIB, the base's
// soft alpha stays, and so do its colours.
TEST(Compose, SoftAlphaOfAPalettePngEntryStaysWhenTintedOrMarked) {
    for (int run = 0; run < 3; ++run) {
        SCOPED_TRACE(run);
        TAdvancedIcon base, marker, result;
        LoadSoftPaletteIcon(base);
        const std::int32_t blue = ColorTable()[4].Value;
        if (run == 0) {
            ColorizeIcon(base, result, blue);
        } else {
            // Opaque red in the rows above 16, transparent below.
            AddImage(marker, 48, 32, [](int, int y) { return y < 16 ? Solid(255, 0, 0) : Solid(0, 0, 0, 0); },
                     [](int, int y) { return y >= 16; }, run == 1);
            ComposeOverlay(base, marker, result);
        }
        ASSERT_EQ(result.Images().Count(), 1);
        EXPECT_EQ(result.Images()[0]->StoreAsPng(), run < 2);
        TAdvancedIcon back;
        ASSERT_TRUE(back.LoadFromBytes(result.SaveToBytes()));
        const TBitmap pixels = IconImageToBgra(*back.Images()[0]);
        for (int x = 0; x < 5; ++x) {
            SCOPED_TRACE(x);
            EXPECT_EQ(pixels.GetBgra(x, 30).A, kSoftAlpha[x]);
            const TColorRef c = ColorFromQuad(kSoftColours[x]);
            if (kSoftAlpha[x] != 0) {
                EXPECT_EQ(pixels.GetPixel(x, 30), run == 0 ? TintPixel(c, blue) : c);
            }
            if (run != 0) {
                EXPECT_EQ(pixels.GetBgra(x, 5), Solid(255, 0, 0));
            }
        }
    }
}
