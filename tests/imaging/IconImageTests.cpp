#include <gtest/gtest.h>

#include <filesystem>

#include "PillowReader.h"
#include "TestIcons.h"
#include "imaging/ByteIo.h"
#include "imaging/IconModel.h"
#include "imaging/PixelHelpers.h"
#include "imaging/PngCodec.h"

using namespace vantrel;
using namespace vantrel::test;

namespace {

TIconHeader HeaderFor(int bits) {
    TIconHeader h;
    h.Planes = 1;
    h.BitCount = std::uint16_t(bits);
    return h;
}

std::unique_ptr<TFileIconImage> ImageFrom(const DibSpec& spec) {
    return TFileIconImage::CreateFromData(HeaderFor(spec.bits), MakeDib(spec));
}

std::string FailureOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const Error& e) {
        return e.what();
    }
    return "";
}

// A picture with every kind of pixel: opaque colours, half alpha, transparent.
TBitmap RgbaPicture(int w, int h) {
    TBitmap b(w, h, 32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            b.SetBgra(x, y, {std::uint8_t(x * 9), std::uint8_t(y * 5), std::uint8_t(x ^ y), std::uint8_t(x < 3 ? 0 : x * 8)});
    return b;
}

// `entries` distinct colours, and a picture using each of them, one index byte per pixel.
std::vector<TRgbQuad> SomeColours(std::size_t entries) {
    std::vector<TRgbQuad> colours;
    for (std::size_t i = 0; i < entries; ++i)
        colours.push_back({std::uint8_t(i * 37), std::uint8_t(255 - i * 11), std::uint8_t(i * i), 0});
    return colours;
}
std::vector<std::uint8_t> PaletteIndices(int w, int h, std::size_t entries) {
    std::vector<std::uint8_t> indices;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) indices.push_back(std::uint8_t(std::size_t(x * 7 + y * 3) % entries));
    return indices;
}

// The image bytes of the first entry of an ICO file image.
Bytes FirstEntry(const Bytes& ico) {
    const std::size_t size = ReadLe32(ico, 14), offset = ReadLe32(ico, 18);
    return Bytes(ico.begin() + std::ptrdiff_t(offset), ico.begin() + std::ptrdiff_t(offset + size));
}

}  // namespace

TEST(IconImage, SplitGivesColourAndMaskAtEveryDepth) {
    struct Case {
        int bits;
        std::vector<std::uint32_t> palette;
        std::uint32_t value;  // stored pixel value
        TColorRef expected;
    };
    const std::vector<Case> cases = {
        {1, {0x000000, 0x00FF00}, 1, RGB(0, 255, 0)},
        {4, std::vector<std::uint32_t>(16, 0x102030), 5, RGB(0x10, 0x20, 0x30)},
        {8, std::vector<std::uint32_t>(256, 0xABCDEF), 200, RGB(0xAB, 0xCD, 0xEF)},
        {16, {}, (31u << 10) | (16u << 5), RGB(255, 132, 0)},
        {24, {}, 0x123456, RGB(0x12, 0x34, 0x56)},
        {32, {}, 0x80123456, RGB(0x12, 0x34, 0x56)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bits);
        static std::uint32_t value;
        value = c.value;
        DibSpec spec;
        spec.width = 12;
        spec.height = 5;
        spec.bits = c.bits;
        spec.palette = c.palette;
        spec.pixel = [](int x, int y) { return x == 11 && y == 0 ? value : 0u; };
        spec.transparent = [](int x, int y) { return x == 0 && y == 4; };
        auto image = ImageFrom(spec);
        EXPECT_EQ(image->GetBitDepth(), c.bits);
        TBitmap colour, mask;
        image->SplitToBitmaps(&colour, &mask);
        EXPECT_EQ(colour.BitCount(), c.bits);
        EXPECT_EQ(colour.Width(), 12);
        EXPECT_EQ(colour.Height(), 5);
        EXPECT_EQ(colour.GetPixel(11, 0), c.expected);
        if (c.bits == 32) {
            EXPECT_EQ(colour.GetBgra(11, 0).A, 0x80);
        }
        ASSERT_EQ(mask.BitCount(), 1);
        EXPECT_EQ(mask.GetIndex(0, 4), 1u);
        EXPECT_EQ(mask.GetIndex(1, 4), 0u);
        EXPECT_EQ(mask.GetIndex(0, 0), 0u);
    }
    TFileIconImage empty;
    TBitmap colour, mask;
    empty.SplitToBitmaps(&colour, &mask);
    EXPECT_TRUE(colour.Empty());
    EXPECT_EQ(empty.GetWidth(), 0);
}

TEST(IconImage, UpdateHeaderRecomputesTheDirectoryFieldsFromTheDib) {
    DibSpec spec;
    spec.width = 48;
    spec.height = 48;
    spec.bits = 4;
    spec.palette.assign(16, 0);
    TIconHeader claimed{32, 32, 0, 0, 7, 9, 0};
    auto image = TFileIconImage::CreateFromData(claimed, MakeDib(spec));
    EXPECT_EQ(image->Header().Width, 48);
    EXPECT_EQ(image->Header().Height, 48);
    EXPECT_EQ(image->Header().ColorCount, 16);
    EXPECT_EQ(image->Header().Planes, 1);
    EXPECT_EQ(image->Header().BitCount, 4);
    EXPECT_EQ(image->Header().BytesInRes, image->Data().size());

    spec.width = spec.height = 256;
    spec.bits = 32;
    spec.palette.clear();
    auto big = ImageFrom(spec);
    EXPECT_EQ(big->Header().Width, 0);
    EXPECT_EQ(big->GetWidth(), 256);
    EXPECT_EQ(big->GetHeight(), 256);
    EXPECT_EQ(big->Header().ColorCount, 0);

    spec.width = spec.height = 20;
    spec.biWidth = 0;
    auto noWidth = ImageFrom(spec);
    EXPECT_EQ(noWidth->Header().Width, 20);
    EXPECT_EQ(noWidth->GetWidth(), 20);
}

TEST(IconImage, ImpossibleDibsAreInvalidImages) {
    DibSpec spec;
    spec.width = spec.height = 2;
    spec.bits = 32;
    auto dib = MakeDib(spec);
    auto deep = dib;
    deep[14] = 64;  // 64 bits per pixel
    EXPECT_EQ(FailureOf([&] { TFileIconImage::CreateFromData(HeaderFor(32), deep); }), "Invalid image");
    auto wide = dib;
    wide[4] = 0x70, wide[5] = 0x17;  // 6000 pixels wide
    EXPECT_EQ(FailureOf([&] { TFileIconImage::CreateFromData(HeaderFor(32), wide); }), "Invalid image");
    auto topDown = dib;
    topDown[11] = 0xFF;  // negative height
    EXPECT_EQ(FailureOf([&] { TFileIconImage::CreateFromData(HeaderFor(32), topDown); }), "Invalid image");
    EXPECT_EQ(FailureOf([&] { TFileIconImage::CreateFromData(HeaderFor(32), Bytes(dib.begin(), dib.begin() + 30)); }),
              "Invalid image");
    // A header claiming more rows than the data holds, or compressed rows, cannot be read.
    auto claims = dib;
    claims[4] = 0x88, claims[5] = 0x13;  // 5000 pixels wide
    EXPECT_EQ(FailureOf([&] { TFileIconImage::CreateFromData(HeaderFor(32), claims); }), "Invalid image");
    auto rle = dib;
    rle[16] = 1;
    EXPECT_EQ(FailureOf([&] { TFileIconImage::CreateFromData(HeaderFor(32), rle); }), "Invalid image");
    auto noPixels = dib;
    noPixels[4] = 0;
    noPixels[8] = 1;  // width 0, height 1 / 2 = 0
    EXPECT_EQ(FailureOf([&] { TFileIconImage::CreateFromData(HeaderFor(32), noPixels); }), "Invalid image");
    auto noDepth = claims;
    noDepth[14] = 0;  // 0 bits per pixel: no rows at all for 5000 x 2 pixels
    EXPECT_EQ(FailureOf([&] { TFileIconImage::CreateFromData(HeaderFor(32), noDepth); }), "Invalid image");
    // A missing AND mask is not needed to read the colours: it reads as opaque.
    auto noMask = TFileIconImage::CreateFromData(HeaderFor(32), Bytes(dib.begin(), dib.end() - 8));
    TBitmap mask;
    noMask->SplitToBitmaps(nullptr, &mask);
    EXPECT_EQ(mask, NewMaskBitmap(2, 2));
    // Planes times bits counts as the depth.
    auto planes = dib;
    planes[12] = 2;
    EXPECT_EQ(FailureOf([&] { TFileIconImage::CreateFromData(HeaderFor(32), planes); }), "Invalid image");
}

TEST(IconImage, RgbaPngEntriesDecodeTo32BitsAndEncodeBack) {
    const TBitmap picture = RgbaPicture(20, 10);
    auto image = TFileIconImage::CreateFromData(HeaderFor(32), EncodePngRgba(picture));
    EXPECT_TRUE(image->StoreAsPng());
    EXPECT_FALSE(image->IsPngData());
    EXPECT_EQ(image->GetBitDepth(), 32);
    TBitmap colour, mask;
    image->SplitToBitmaps(&colour, &mask);
    EXPECT_EQ(colour, picture);
    for (int x = 0; x < 20; ++x) EXPECT_EQ(mask.GetIndex(x, 4), x < 3 ? 1u : 0u) << x;

    TFileIconImage encoded;
    encoded.SetTag(0);
    image->SetTag(77);
    image->EncodePng(encoded);
    EXPECT_TRUE(encoded.IsPngData());
    EXPECT_TRUE(encoded.StoreAsPng());
    EXPECT_EQ(encoded.Tag(), 77u);
    EXPECT_EQ(encoded.Header().BytesInRes, encoded.Data().size());
    EXPECT_EQ(encoded.Header().BitCount, 32);
    EXPECT_EQ(encoded.Header().Width, 20);
    EXPECT_EQ(encoded.GetWidth(), 20);
    EXPECT_EQ(DecodePngPicture(encoded.Data()).Colour, picture);
    EXPECT_FALSE(image->IsPngData());  // the source keeps its DIB
}

TEST(IconImage, PngTransparencyRulesPerKind) {
    // Palette with soft tRNS alpha: 32 bits with each entry's alpha (entries past the table
    // are opaque), masked where the alpha is 0.
    const std::uint8_t indices[4] = {0, 1, 2, 3};
    const TRgbQuad palette[4] = {{0, 0, 255, 0}, {0, 255, 0, 0}, {255, 0, 0, 0}, {9, 9, 9, 0}};
    const std::uint8_t alpha[3] = {79, 80, 0};
    auto pal = TFileIconImage::CreateFromData(HeaderFor(32), EncodePngPalette(4, 1, indices, palette, alpha));
    EXPECT_EQ(pal->GetBitDepth(), 32);
    TBitmap colour, mask;
    pal->SplitToBitmaps(&colour, &mask);
    EXPECT_EQ(colour.GetBgra(0, 0), (TBgra{0, 0, 255, 79}));
    EXPECT_EQ(colour.GetBgra(1, 0), (TBgra{0, 255, 0, 80}));
    EXPECT_EQ(colour.GetBgra(2, 0).A, 0);
    EXPECT_EQ(colour.GetBgra(3, 0), (TBgra{9, 9, 9, 255}));
    EXPECT_EQ(mask.GetIndex(0, 0), 0u);
    EXPECT_EQ(mask.GetIndex(1, 0), 0u);
    EXPECT_EQ(mask.GetIndex(2, 0), 1u);
    EXPECT_EQ(mask.GetIndex(3, 0), 0u);

    // RGB without alpha: 24 bits, nothing transparent.
    TBitmap rgb(3, 2, 24);
    rgb.SetPixel(2, 1, RGB(1, 2, 3));
    auto opaque = TFileIconImage::CreateFromData(HeaderFor(32), EncodePngRgb(rgb));
    EXPECT_EQ(opaque->GetBitDepth(), 24);
    opaque->SplitToBitmaps(&colour, &mask);
    EXPECT_EQ(colour.GetPixel(2, 1), RGB(1, 2, 3));
    EXPECT_EQ(mask, NewMaskBitmap(3, 2));
}

TEST(IconImage, DirectoryDepthBelow32RedrawsPngPixels) {
    TBitmap picture(4, 1, 32);
    picture.SetBgra(0, 0, {0, 0, 250, 255});     // near red
    picture.SetBgra(1, 0, {200, 200, 200, 255});  // light grey
    picture.SetBgra(2, 0, {0, 0, 0, 0});          // transparent
    picture.SetBgra(3, 0, {17, 34, 51, 255});
    const auto png = EncodePngRgba(picture);

    auto eight = TFileIconImage::CreateFromData(HeaderFor(8), png);
    EXPECT_EQ(eight->GetBitDepth(), 8);
    TBitmap colour, mask;
    eight->SplitToBitmaps(&colour, &mask);
    // Exact palette: black and white first, then the colours in order of appearance.
    EXPECT_EQ(colour.GetIndex(0, 0), 2u);
    EXPECT_EQ(colour.GetPixel(3, 0), RGB(51, 34, 17));
    EXPECT_EQ(mask.GetIndex(2, 0), 1u);

    auto four = TFileIconImage::CreateFromData(HeaderFor(4), png);
    EXPECT_EQ(four->GetBitDepth(), 4);
    four->SplitToBitmaps(&colour, &mask);
    EXPECT_EQ(colour.GetPixel(0, 0), RGB(255, 0, 0));
    EXPECT_EQ(colour.GetPixel(1, 0), RGB(192, 192, 192));

    auto one = TFileIconImage::CreateFromData(HeaderFor(1), png);
    EXPECT_EQ(one->GetBitDepth(), 1);
    one->SplitToBitmaps(&colour, &mask);
    EXPECT_EQ(colour.GetPixel(1, 0), RGB(255, 255, 255));
    EXPECT_EQ(colour.GetPixel(3, 0), RGB(0, 0, 0));
    EXPECT_TRUE(one->StoreAsPng());
}

TEST(IconImage, EncodingLowerDepthsKeepsColoursAndMakesMaskedPixelsTransparent) {
    for (int bits : {1, 4, 8, 16, 24}) {
        SCOPED_TRACE(bits);
        TBitmap colour(6, 3, bits);
        colour.SetPixel(0, 0, RGB(255, 255, 255));
        colour.SetPixel(1, 0, RGB(255, 255, 255));
        colour.SetPixel(5, 2, RGB(255, 255, 255));
        TBitmap mask = NewMaskBitmap(6, 3);
        mask.SetIndex(0, 0, 1);
        mask.SetIndex(2, 0, 1);
        TSubIconList list;
        list.AddFromBitmaps(colour, &mask, 0);
        TSubIcon& image = *list.Get(0);
        image.EncodePng(image);
        ASSERT_TRUE(image.IsPngData());
        const TBitmap rgba = IconImageToBgra(*TFileIconImage::CreateFromData(HeaderFor(32), image.Data()));
        // Transparent where masked, same colours elsewhere.
        EXPECT_EQ(rgba.GetBgra(0, 0).A, 0);
        EXPECT_EQ(rgba.GetBgra(2, 0).A, 0);
        EXPECT_EQ(rgba.GetBgra(1, 0), (TBgra{255, 255, 255, 255}));
        EXPECT_EQ(rgba.GetBgra(5, 2), (TBgra{255, 255, 255, 255}));
        EXPECT_EQ(rgba.GetBgra(4, 2), (TBgra{0, 0, 0, 255}));
    }
}

TEST(IconImage, Legacy32BitImageWithoutAlphaEncodesThroughItsMask) {
    DibSpec spec;
    spec.width = spec.height = 4;
    spec.bits = 32;
    spec.pixel = [](int, int) { return 0x00336699u; };
    spec.transparent = [](int x, int) { return x == 0; };
    auto image = ImageFrom(spec);
    TFileIconImage png;
    image->EncodePng(png);
    const TBitmap rgba = DecodePngPicture(png.Data()).Colour;
    EXPECT_EQ(rgba.GetBgra(0, 1).A, 0);
    EXPECT_EQ(rgba.GetBgra(1, 1), (TBgra{0x99, 0x66, 0x33, 255}));
}

TEST(AddFromBitmaps, ColourDepthsAndMasks) {
    TSubIconList list;
    // 32 bits without a mask: transparent where alpha is at most the threshold.
    list.AddFromBitmaps(RgbaPicture(16, 16), nullptr, 8);
    TBitmap colour, mask;
    list.Get(0)->SplitToBitmaps(&colour, &mask);
    EXPECT_EQ(list.Get(0)->GetBitDepth(), 32);
    EXPECT_EQ(mask.GetIndex(2, 0), 1u);   // alpha 0
    EXPECT_EQ(mask.GetIndex(1, 0), 1u);   // alpha 0
    EXPECT_EQ(mask.GetIndex(3, 0), 0u);   // alpha 24
    EXPECT_EQ(colour, RgbaPicture(16, 16));

    // 16 bits are stored at 24; the mask is copied.
    TBitmap c16(5, 2, 16);
    c16.SetPixel(4, 1, RGB(248, 0, 8));
    TBitmap m(5, 2, 1);
    m.SetIndex(4, 0, 1);
    list.AddFromBitmaps(c16, &m, 1);
    EXPECT_EQ(list.Get(1)->GetBitDepth(), 24);
    EXPECT_EQ(list.Get(1)->Header().Width, 5);
    list.Get(1)->SplitToBitmaps(&colour, &mask);
    EXPECT_EQ(colour.GetPixel(4, 1), RGB(255, 0, 8));
    EXPECT_EQ(mask.GetIndex(4, 0), 1u);
    EXPECT_EQ(mask.GetIndex(4, 1), 0u);

    // An empty colour bitmap becomes a 1 x 1 image; an 8-bit one without mask is opaque.
    list.AddFromBitmaps(TBitmap(0, 0, 32), nullptr, 0);
    EXPECT_EQ(list.Get(2)->GetWidth(), 1);
    TBitmap c8(9, 9, 8);
    list.AddFromBitmaps(c8, nullptr, 1);
    list.Get(3)->SplitToBitmaps(&colour, &mask);
    EXPECT_EQ(mask, NewMaskBitmap(9, 9));
    EXPECT_EQ(list.Get(3)->Header().ColorCount, 0);

    // A mask of another size is cut to the colour's size, not copied row for row.
    TBitmap wideMask = NewMaskBitmap(40, 3);
    wideMask.SetIndex(1, 1, 1);
    list.AddFromBitmaps(TBitmap(3, 3, 4), &wideMask, 0);
    list.Get(4)->SplitToBitmaps(&colour, &mask);
    EXPECT_EQ(mask.Width(), 3);
    EXPECT_EQ(mask.GetIndex(1, 1), 1u);
    EXPECT_EQ(mask.GetIndex(0, 0), 0u);
    EXPECT_EQ(list.Get(4)->Header().ColorCount, 16);
}

TEST(AddFromBitmapStreams, HeadersOfOtherShapes) {
    TSubIconList list;
    // A 12-byte core header with a 3-byte colour table, 1 bit, 8 x 2.
    Bytes core;
    Put32(core, 12);
    Put16(core, 8);
    Put16(core, 2);
    Put16(core, 1);
    Put16(core, 1);
    core.insert(core.end(), {0, 0, 0, 0x30, 0x20, 0x10});
    core.insert(core.end(), {0x80, 0, 0, 0, 0x01, 0, 0, 0});
    TMemoryStream coreStream(core);
    list.AddFromBitmapStreams(coreStream, nullptr, 0xFF, core.size());
    TBitmap colour, mask;
    list.Get(0)->SplitToBitmaps(&colour, &mask);
    EXPECT_EQ(list.Get(0)->Header().ColorCount, 2);
    EXPECT_EQ(colour.GetPixel(0, 1), RGB(0x10, 0x20, 0x30));  // bottom row first in the stream
    EXPECT_EQ(colour.GetPixel(7, 0), RGB(0x10, 0x20, 0x30));
    EXPECT_EQ(colour.GetPixel(1, 1), RGB(0, 0, 0));
    EXPECT_EQ(mask.GetIndex(3, 1), 1u);  // every mask byte is the fill byte

    // 16-bit bit fields 5-6-5: the masks stay with the image so the pixels read right.
    Bytes fields;
    Put32(fields, 40);
    Put32(fields, 1);
    Put32(fields, 1);
    Put16(fields, 1);
    Put16(fields, 16);
    Put32(fields, 3);
    for (int i = 0; i < 5; ++i) Put32(fields, 0);
    Put32(fields, 0xF800);
    Put32(fields, 0x07E0);
    Put32(fields, 0x001F);
    Put32(fields, 0x07E0);  // pure green, padded row
    TMemoryStream fieldStream(fields);
    list.AddFromBitmapStreams(fieldStream, nullptr, 0, fields.size());
    list.Get(1)->SplitToBitmaps(&colour, nullptr);
    EXPECT_EQ(colour.GetPixel(0, 0), RGB(0, 255, 0));

    // Planes other than 1, and headers that do not fit, are refused.
    auto planes = fields;
    planes[12] = 3;
    TMemoryStream planesStream(planes);
    try {
        list.AddFromBitmapStreams(planesStream, nullptr, 0, planes.size());
        ADD_FAILURE();
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "Bitmap image is not valid");
    }
    Bytes hugeTable = fields;
    hugeTable[14] = 8;
    hugeTable[16] = 0;
    hugeTable[32] = 0xFF, hugeTable[33] = 0xFF, hugeTable[34] = 0xFF;  // 16 M colours claimed
    TMemoryStream tableStream(hugeTable);
    EXPECT_THROW(list.AddFromBitmapStreams(tableStream, nullptr, 0, hugeTable.size()), Error);
    EXPECT_EQ(list.Count(), 2);
}

TEST(IconImage, CopiesAreDeepAndKeepStoreAsPng) {
    auto png = TFileIconImage::CreateFromData(HeaderFor(32), EncodePngRgba(RgbaPicture(8, 8)));
    png->SetTag(5);
    auto copy = png->CreateCopy();
    EXPECT_NE(dynamic_cast<TFileIconImage*>(copy.get()), nullptr);
    EXPECT_TRUE(copy->StoreAsPng());
    EXPECT_EQ(copy->Data(), png->Data());
    EXPECT_EQ(copy->Tag(), 5u);
    EXPECT_NE(copy->Data().data(), png->Data().data());

    // A copy of an image holding PNG bytes is decoded.
    png->EncodePng(*png);
    ASSERT_TRUE(png->IsPngData());
    auto decoded = png->CreateCopy();
    EXPECT_FALSE(decoded->IsPngData());
    EXPECT_TRUE(decoded->StoreAsPng());

    TResourceIconImage target;
    png->AssignTo(target);
    EXPECT_EQ(target.Data(), png->Data());
    EXPECT_TRUE(target.StoreAsPng());

    TBitmap bitmap(1, 1, 24);
    decoded->AssignTo(bitmap);
    EXPECT_EQ(bitmap.BitCount(), 32);
    EXPECT_EQ(bitmap.Width(), 8);
}

// A palette PNG whose tRNS holds soft alpha (as Wine's 256-pixel icons), at 4 and 8 bits per
// index: 32-bit pixels as Pillow reads them, masked where alpha is 0, also in an icon whose
// directory gives the palette's 8 bits, and written back as a PNG that Pillow reads the same.
TEST(PalettePng, SoftAlphaGivesThePixelsPillowReads) {
    if (!HavePillow()) GTEST_SKIP() << "Pillow (python3-pil) is not installed";
    const auto tmp = std::filesystem::temp_directory_path() / "vantrel-palette-alpha.png";
    const std::uint8_t alpha[5] = {0, 64, 128, 200, 255};
    const int w = 24, h = 20;
    for (std::size_t entries : {6u, 40u}) {
        SCOPED_TRACE(entries);
        const Bytes png = EncodePngPalette(w, h, PaletteIndices(w, h, entries), SomeColours(entries), alpha);
        WriteWholeFile(tmp, png);
        const PillowPicture theirs = PillowRgba(tmp);
        const TPngPicture picture = DecodePngPicture(png);
        EXPECT_EQ(picture.Kind, TPngKind::Palette);
        EXPECT_EQ(PixelsDifferingFromPillow(picture.Colour, theirs), 0);
        int maskErrors = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                maskErrors += (picture.Mask.GetIndex(x, y) != 0) != (theirs.rgba[std::size_t(y * w + x) * 4 + 3] == 0);
        EXPECT_EQ(maskErrors, 0);

        TAdvancedIcon icon;
        ASSERT_TRUE(icon.LoadFromBytes(MakeIco({{w, h, 0, 0, 1, 8, png}})));
        EXPECT_EQ(icon.Images()[0]->GetBitDepth(), 32);
        EXPECT_EQ(PixelsDifferingFromPillow(IconImageToBgra(*icon.Images()[0]), theirs), 0);
        const Bytes saved = FirstEntry(icon.SaveToBytes());
        ASSERT_TRUE(IsPngStream(saved));
        WriteWholeFile(tmp, saved);
        EXPECT_EQ(PixelsDifferingFromPillow(picture.Colour, PillowRgba(tmp)), 0);
    }
    std::filesystem::remove(tmp);
}

// A tRNS with only 0 and 255 keeps the indexed image: the PNG's palette and indices at 8
// bits, masked at the 0 entries; an entry in the form such an image is written in comes
// back byte for byte.
TEST(PalettePng, TransparentAndOpaqueEntriesOnlyKeepTheIndexedImage) {
    const int w = 9, h = 7;
    const std::vector<TRgbQuad> colours = SomeColours(6);
    const std::vector<std::uint8_t> indices = PaletteIndices(w, h, 6);
    const std::uint8_t alpha[4] = {255, 0, 255, 0};
    auto image = TFileIconImage::CreateFromData(HeaderFor(8), EncodePngPalette(w, h, indices, colours, alpha));
    EXPECT_EQ(image->GetBitDepth(), 8);
    TBitmap colour, mask;
    image->SplitToBitmaps(&colour, &mask);
    EXPECT_EQ(colour.Palette(), colours);
    int wrong = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const unsigned index = indices[std::size_t(y * w + x)];
            wrong += colour.GetIndex(x, y) != index || (mask.GetIndex(x, y) != 0) != (index == 1 || index == 3);
        }
    EXPECT_EQ(wrong, 0);

    std::vector<TRgbQuad> withClear = colours;
    withClear[0] = TRgbQuad{};
    const std::uint8_t clear[1] = {0};
    const Bytes own = MakeIco({{w, h, 0, 0, 1, 8, EncodePngPalette(w, h, indices, withClear, clear)}});
    TAdvancedIcon icon;
    ASSERT_TRUE(icon.LoadFromBytes(own));
    EXPECT_EQ(icon.SaveToBytes(), own);
}
