// The picture scaler: against Pillow's Lanczos resize (which also filters RGBA in
// premultiplied form), the fringes a straight-alpha filter would leave, and the sizes it
// refuses.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "PillowReader.h"
#include "imaging/Error.h"
#include "imaging/PngCodec.h"
#include "imaging/Resample.h"

namespace vantrel {
namespace {

namespace fs = std::filesystem;

// A picture with smooth and sharp colour changes, opaque, half and fully transparent parts;
// the transparent pixels hold bright colours that must not show anywhere.
TBitmap TestPicture(int w, int h) {
    TBitmap picture(w, h, 32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            TBgra p;
            p.R = std::uint8_t(x * 255 / std::max(w - 1, 1));
            p.G = std::uint8_t(y * 255 / std::max(h - 1, 1));
            p.B = std::uint8_t((x / 3 + y / 3) % 2 ? 230 : 20);
            const int band = x * 4 / w;
            p.A = band == 0 ? 0 : band == 1 ? 128 : 255;
            if (p.A == 0) p = {255, 255, 255, 0};
            if ((x - w / 2) * (x - w / 2) + (y - h / 2) * (y - h / 2) < w * h / 16) p = {10, 200, 40, 255};
            picture.SetBgra(x, y, p);
        }
    return picture;
}

void WriteFile(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// Largest difference of premultiplied colours (and of alpha) between our result and
// Pillow's; straight colours of nearly transparent pixels carry no weight this way.
int LargestDifference(const TBitmap& ours, const test::PillowPicture& theirs) {
    if (ours.Width() != theirs.width || ours.Height() != theirs.height || theirs.rgba.empty()) return 9999;
    int largest = 0;
    for (int y = 0; y < ours.Height(); ++y)
        for (int x = 0; x < ours.Width(); ++x) {
            const TBgra p = ours.GetBgra(x, y);
            const std::uint8_t* q = &theirs.rgba[(std::size_t(y) * std::size_t(theirs.width) + std::size_t(x)) * 4];
            const int ours4[4] = {p.R, p.G, p.B, p.A};
            for (int c = 0; c < 3; ++c)
                largest = std::max(largest, std::abs(ours4[c] * ours4[3] / 255 - q[c] * q[3] / 255));
            largest = std::max(largest, std::abs(ours4[3] - q[3]));
        }
    return largest;
}

TEST(Resample, MatchesPillowLanczosShrinkingAndGrowing) {
    if (!test::HavePillow()) GTEST_SKIP() << "Pillow is not available";
    const fs::path dir = fs::temp_directory_path() / "vantrel-resample-test";
    fs::create_directories(dir);
    const TBitmap source = TestPicture(97, 61);
    WriteFile(dir / "source.png", EncodePngRgba(source));
    for (const auto& [w, h] : {std::pair{16, 16}, {24, 24}, {48, 48}, {32, 20}, {256, 256}, {97, 61}}) {
        const fs::path out = dir / ("pillow-" + std::to_string(w) + "x" + std::to_string(h) + ".png");
        const std::string command = "/usr/bin/python3 -c 'import sys; from PIL import Image; "
                                    "Image.open(sys.argv[1]).resize((" + std::to_string(w) + "," + std::to_string(h) +
                                    "), Image.LANCZOS).save(sys.argv[2])' '" + (dir / "source.png").string() + "' '" +
                                    out.string() + "'";
        ASSERT_EQ(std::system(command.c_str()), 0);
        const TBitmap ours = ResampleBitmap(source, w, h);
        EXPECT_LE(LargestDifference(ours, test::PillowRgba(out)), 2) << w << " x " << h;
    }
    fs::remove_all(dir);
}

TEST(Resample, FiltersInPremultipliedFormWithoutFringes) {
    // An opaque red disc on transparent white: every visible pixel of the result is pure
    // red, whatever its alpha. Filtering straight colours would mix white into the edge.
    TBitmap disc(64, 64, 32);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
            disc.SetBgra(x, y, (x - 32) * (x - 32) + (y - 32) * (y - 32) < 400 ? TBgra{0, 0, 255, 255} : TBgra{255, 255, 255, 0});
    for (int size : {16, 24, 48, 256}) {
        const TBitmap result = ResampleBitmap(disc, size, size);
        int partial = 0;
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x) {
                const TBgra p = result.GetBgra(x, y);
                if (p.A == 0) continue;
                partial += p.A < 255;
                EXPECT_EQ(p.R, 255) << size << ": " << x << "," << y;
                EXPECT_LE(p.G + p.B, 2) << size << ": " << x << "," << y;
            }
        EXPECT_GT(partial, 0) << "the disc's edge is smoothed at " << size;
    }
    // The same picture handed over premultiplied gives the premultiplied form of the result.
    TBitmap premultiplied = disc;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            TBgra p = disc.GetBgra(x, y);
            p = {std::uint8_t(p.B * p.A / 255), std::uint8_t(p.G * p.A / 255), std::uint8_t(p.R * p.A / 255), p.A};
            premultiplied.SetBgra(x, y, p);
        }
    const TBitmap straight = ResampleBitmap(disc, 24, 24);
    const TBitmap fromPremultiplied = ResampleBitmap(premultiplied, 24, 24, TAlphaForm::Premultiplied);
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 24; ++x) {
            const TBgra s = straight.GetBgra(x, y), p = fromPremultiplied.GetBgra(x, y);
            EXPECT_EQ(s.A, p.A);
            EXPECT_NEAR(s.R * s.A / 255, p.R, 1);
            EXPECT_LE(p.R, p.A);
        }
}

TEST(Resample, SameSizeKeepsEveryPixel) {
    // Transparent pixels come out black: their colour carries no weight.
    const TBitmap source = TestPicture(40, 40);
    TBitmap expected = source;
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x)
            if (source.GetBgra(x, y).A == 0) expected.SetBgra(x, y, {});
    EXPECT_EQ(ResampleBitmap(source, 40, 40), expected);
}

TEST(Resample, RefusesSizesAndPicturesItCannotScale) {
    const TBitmap source = TestPicture(8, 8);
    for (const auto& [w, h] : {std::pair{0, 16}, {16, 0}, {-5, 16}, {MaxResampleSide + 1, 16}, {16, 1 << 30}})
        EXPECT_THROW(ResampleBitmap(source, w, h), Error) << w << " x " << h;
    EXPECT_THROW(ResampleBitmap(TBitmap(8, 8, 24), 16, 16), Error);
    EXPECT_THROW(ResampleBitmap(TBitmap(), 16, 16), Error);
    // A one-pixel picture grows to a plain square of its colour.
    TBitmap dot(1, 1, 32);
    dot.SetBgra(0, 0, {10, 20, 30, 255});
    const TBitmap grown = ResampleBitmap(dot, 16, 16);
    EXPECT_EQ(grown.GetBgra(15, 0), (TBgra{10, 20, 30, 255}));
}

}  // namespace
}  // namespace vantrel
