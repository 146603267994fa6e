#include <gtest/gtest.h>

#include <filesystem>

#include "TestIcons.h"
#include "imaging/IconModel.h"
#include "imaging/PngCodec.h"

using namespace vantrel;
using namespace vantrel::test;

namespace {

std::uint32_t Gradient(int x, int y) { return 0xFF000000u | std::uint32_t(x * 7) << 16 | std::uint32_t(y * 3) << 8 | 0x40; }
bool Corner(int x, int y) { return x + y < 4; }

Bytes Dib(int size, int bits) {
    DibSpec s;
    s.width = s.height = size;
    s.bits = bits;
    if (bits <= 8)
        for (int i = 0; i < (1 << bits); ++i) s.palette.push_back(std::uint32_t(i * 0x010203));
    s.pixel = bits <= 8 ? [](int x, int y) { return std::uint32_t(x + y); } : Gradient;
    s.transparent = Corner;
    return MakeDib(s);
}

Entry EntryFor(int size, int bits, Bytes data) {
    return Entry{std::uint8_t(size & 0xFF), std::uint8_t(size & 0xFF), std::uint8_t(bits < 8 ? 1 << bits : 0), 0,
                 1, std::uint16_t(bits), std::move(data)};
}

// A consistent icon: the directory agrees with every image.
Bytes WellFormedIco() {
    return MakeIco({EntryFor(16, 4, Dib(16, 4)), EntryFor(32, 8, Dib(32, 8)), EntryFor(48, 24, Dib(48, 24)),
                    EntryFor(24, 1, Dib(24, 1)), EntryFor(256, 32, Dib(256, 32))});
}

std::filesystem::path TempPath(const std::string& name) {
    return std::filesystem::temp_directory_path() / ("vantrel-imaging-" + name);
}

}  // namespace

TEST(IcoFile, ConsistentDibIconsRoundTripByteForByte) {
    const Bytes ico = WellFormedIco();
    TAdvancedIcon icon;
    ASSERT_TRUE(icon.LoadFromBytes(ico));
    ASSERT_EQ(icon.Images().Count(), 5);
    EXPECT_EQ(icon.Images()[4]->GetWidth(), 256);
    EXPECT_EQ(icon.Images()[4]->Header().Width, 0);
    EXPECT_EQ(icon.SaveToBytes(), ico);
}

TEST(IcoFile, SavedLayoutKeepsOrderAndPacksImagesAfterTheDirectory) {
    TAdvancedIcon icon;
    ASSERT_TRUE(icon.LoadFromBytes(WellFormedIco()));
    const Bytes out = icon.SaveToBytes();
    std::uint32_t expectedOffset = 6 + 16 * 5;
    for (int i = 0; i < 5; ++i) {
        const std::uint8_t* e = out.data() + 6 + 16 * i;
        const std::uint32_t size = e[8] | e[9] << 8 | e[10] << 16 | std::uint32_t(e[11]) << 24;
        const std::uint32_t offset = e[12] | e[13] << 8 | e[14] << 16 | std::uint32_t(e[15]) << 24;
        EXPECT_EQ(offset, expectedOffset) << i;
        EXPECT_TRUE(std::equal(icon.Images()[i]->Data().begin(), icon.Images()[i]->Data().end(), out.begin() + offset));
        expectedOffset += size;
    }
    EXPECT_EQ(out.size(), expectedOffset);
}

TEST(IcoFile, DirectoryClaimsAreReplacedByTheImageData) {
    // The directory says 32 x 32, 4 bits; the DIB is 48 x 48 at 8 bits. A cursor's hotspot
    // sits in the planes and bit count fields.
    Entry e = EntryFor(32, 4, Dib(48, 8));
    e.planes = 5;
    e.bits = 9;
    TAdvancedCursor cursor;
    ASSERT_TRUE(cursor.LoadFromBytes(MakeIco({e}, 2)));
    const TSubIcon& image = *cursor.Images()[0];
    EXPECT_EQ(image.Header().Width, 48);
    EXPECT_EQ(image.Header().Height, 48);
    EXPECT_EQ(image.Header().Planes, 1);
    EXPECT_EQ(image.Header().BitCount, 8);
    const Bytes out = cursor.SaveToBytes();
    EXPECT_EQ(out[2], 1);  // written as an icon
    EXPECT_EQ(out[6], 48);
    EXPECT_EQ(out[10], 1);  // planes
    EXPECT_EQ(out[12], 8);  // bit count
}

TEST(IcoFile, PngEntriesStayPngAndDibEntriesStayDib) {
    TBitmap picture(256, 256, 32);
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x)
            picture.SetBgra(x, y, {std::uint8_t(x), std::uint8_t(y), 90, std::uint8_t(x < 128 ? 255 : 0)});
    const Bytes png = EncodePngRgba(picture);
    TAdvancedIcon icon;
    ASSERT_TRUE(icon.LoadFromBytes(MakeIco({EntryFor(16, 32, Dib(16, 32)), EntryFor(256, 32, png)})));
    ASSERT_EQ(icon.Images().Count(), 2);
    EXPECT_FALSE(icon.Images()[0]->StoreAsPng());
    EXPECT_TRUE(icon.Images()[1]->StoreAsPng());
    const Bytes saved = icon.SaveToBytes();
    // Our own PNG decodes and encodes back to the very same bytes.
    EXPECT_EQ(saved, MakeIco({EntryFor(16, 32, Dib(16, 32)), EntryFor(0, 32, png)}));
    // Saving encodes a copy: the icon itself still holds the decoded image.
    EXPECT_FALSE(icon.Images()[1]->IsPngData());
    TAdvancedIcon again;
    ASSERT_TRUE(again.LoadFromBytes(saved));
    EXPECT_EQ(again.Images()[1]->Data(), icon.Images()[1]->Data());
    EXPECT_EQ(again.SaveToBytes(), saved);
}

TEST(IcoFile, BrokenDirectoriesAndEntries) {
    TAdvancedIcon icon;
    Bytes ico = WellFormedIco();
    Bytes badType = ico;
    badType[2] = 3;
    EXPECT_FALSE(icon.LoadFromBytes(badType));
    Bytes badReserved = ico;
    badReserved[0] = 1;
    EXPECT_FALSE(icon.LoadFromBytes(badReserved));
    EXPECT_FALSE(icon.LoadFromBytes(Bytes{0, 0, 1, 0}));
    EXPECT_EQ(icon.Images().Count(), 0);

    // An entry pointing into the directory ends the reading; earlier images stay.
    std::vector<Entry> entries{EntryFor(16, 4, Dib(16, 4)), EntryFor(32, 8, Dib(32, 8)), EntryFor(48, 24, Dib(48, 24))};
    entries[1].offset = 10;
    EXPECT_TRUE(icon.LoadFromBytes(MakeIco(entries)));
    EXPECT_EQ(icon.Images().Count(), 1);
    // ... and so does one pointing at or beyond the end of the file.
    entries[1].offset = std::int64_t(MakeIco(entries).size());
    EXPECT_TRUE(icon.LoadFromBytes(MakeIco(entries)));
    EXPECT_EQ(icon.Images().Count(), 1);

    // Entries of 40 bytes or less, or larger than the file, are skipped.
    entries[1].offset = -1;
    entries[1].bytesInRes = 40;
    EXPECT_TRUE(icon.LoadFromBytes(MakeIco(entries)));
    EXPECT_EQ(icon.Images().Count(), 2);
    entries[1].bytesInRes = 1 << 30;
    EXPECT_TRUE(icon.LoadFromBytes(MakeIco(entries)));
    EXPECT_EQ(icon.Images().Count(), 2);

    // Images that fail to decode are skipped without a word.
    entries[1].bytesInRes = -1;
    entries[1].data[14] = 48;  // 48 bits per pixel
    entries[2].data = Bytes(100, 0x89);
    EXPECT_TRUE(icon.LoadFromBytes(MakeIco(entries)));
    EXPECT_EQ(icon.Images().Count(), 1);

    // A directory promising more entries than it holds stops at the end of the file.
    Bytes truncated = WellFormedIco();
    truncated[4] = 0xFF, truncated[5] = 0xFF;
    EXPECT_TRUE(icon.LoadFromBytes(truncated));
    EXPECT_EQ(icon.Images().Count(), 5);
}

TEST(IcoFile, ImageRunningPastTheEndOfTheFileReadsMissingBytesAsZero) {
    // The last image claims its full size but the file is cut 100 bytes short: the pixel
    // bytes that are there stay, the rest (mask included) read as zero: black and opaque.
    Bytes ico = MakeIco({EntryFor(32, 32, Dib(32, 32)), EntryFor(16, 24, Dib(16, 24))});
    const std::size_t start = ico.size() - Dib(16, 24).size();
    const std::size_t cut = ico.size() - 100;
    ico.resize(cut);
    TAdvancedIcon icon;
    ASSERT_TRUE(icon.LoadFromBytes(ico));
    ASSERT_EQ(icon.Images().Count(), 2);
    const TSubIcon& image = *icon.Images()[1];
    EXPECT_EQ(image.Data().size(), Dib(16, 24).size());
    EXPECT_TRUE(std::equal(ico.begin() + std::ptrdiff_t(start), ico.end(), image.Data().begin()));
    EXPECT_TRUE(std::all_of(image.Data().begin() + std::ptrdiff_t(cut - start), image.Data().end(),
                            [](auto b) { return b == 0; }));
    TBitmap colour, mask;
    image.SplitToBitmaps(&colour, &mask);
    EXPECT_EQ(mask, NewMaskBitmap(16, 16));
    EXPECT_EQ(colour.GetPixel(15, 0), RGB(0, 0, 0));
    EXPECT_EQ(colour.GetPixel(1, 15), RGB(7, 45, 0x40));
    // Written back, the file is whole and consistent.
    const Bytes saved = icon.SaveToBytes();
    EXPECT_EQ(saved.size(), 38 + Dib(32, 32).size() + Dib(16, 24).size());
}

TEST(IcoFile, FilesAndTheirFailures) {
    TAdvancedIcon empty;
    try {
        empty.SaveToFile(TempPath("never.ico"));
        ADD_FAILURE();
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "No images in icon");
    }
    EXPECT_FALSE(std::filesystem::exists(TempPath("never.ico")));
    try {
        empty.LoadFromFile(TempPath("missing-folder") / "missing.ico");
        ADD_FAILURE();
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Cannot open file \"", 0), 0u) << e.what();
    }

    TAdvancedIcon icon;
    ASSERT_TRUE(icon.LoadFromBytes(WellFormedIco()));
    const auto path = TempPath("\xC3\xA9t\xC3\xA9-\xE6\x97\xA5.ico");
    icon.SaveToFile(path);
    TAdvancedIcon back;
    EXPECT_TRUE(back.LoadFromFile(path));
    EXPECT_EQ(back.SaveToBytes(), WellFormedIco());
    // A file that is not an icon gives no images and no failure.
    WriteWholeFile(path, Bytes{'n', 'o', 't'});
    EXPECT_FALSE(back.LoadFromFile(path));
    EXPECT_EQ(back.Images().Count(), 0);
    std::filesystem::remove(path);
}

TEST(IcoFile, AssignCopiesEveryImageDeeply) {
    TAdvancedIcon icon;
    ASSERT_TRUE(icon.LoadFromBytes(WellFormedIco()));
    icon.Images()[2]->SetStoreAsPng(true);
    TAdvancedCursor copy;
    copy.Assign(icon);
    ASSERT_EQ(copy.Images().Count(), 5);
    EXPECT_TRUE(copy.Images()[2]->StoreAsPng());
    EXPECT_NE(copy.Images()[0], icon.Images()[0]);
    EXPECT_EQ(copy.SaveToBytes(), icon.SaveToBytes());
    EXPECT_EQ(icon.Images().Get(5), nullptr);
    EXPECT_EQ(icon.Images().Get(-1), nullptr);
    copy.Images().Clear();
    EXPECT_EQ(icon.Images().Count(), 5);
}
