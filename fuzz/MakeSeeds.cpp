// Writes the seed corpus for the ICO fuzz target: small icons made with the icon model
// itself, covering DIB entries at every depth, PNG entries of every colour kind, a cursor,
// a 256-pixel entry and a few damaged files. With a second folder it also writes PNG
// files of every colour kind and shape there, for the marker picture target.
#include <cstdio>
#include <filesystem>
#include <string>

#include "imaging/IconModel.h"
#include "imaging/PixelHelpers.h"
#include "imaging/PngCodec.h"

using namespace vantrel;
namespace fs = std::filesystem;

namespace {

TBitmap Picture(int w, int h, int bits) {
    TBitmap b(w, h, bits);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            b.SetPixel(x, y, RGB(std::uint8_t(x * 30), std::uint8_t(y * 30), std::uint8_t((x + y) * 15)));
            if (bits == 32) b.SetBgra(x, y, {std::uint8_t(x * 30), std::uint8_t(y * 30), 90, std::uint8_t(x < 2 ? 0 : 40 * y)});
        }
    return b;
}

TBitmap Mask(int w, int h) {
    TBitmap m = NewMaskBitmap(w, h);
    for (int y = 0; y < h; ++y) m.SetIndex(0, y, 1);
    return m;
}

void Write(const fs::path& folder, const std::string& name, const std::vector<std::uint8_t>& bytes) {
    WriteWholeFile(folder / name, bytes);
}

std::vector<std::uint8_t> IconWithEntry(const std::vector<std::uint8_t>& data, std::uint16_t bits) {
    std::vector<std::uint8_t> b = {0, 0, 1, 0, 1, 0, 8, 8, 0, 0, 1, 0, std::uint8_t(bits), 0};
    const std::uint32_t n = std::uint32_t(data.size());
    for (int i = 0; i < 4; ++i) b.push_back(std::uint8_t(n >> (8 * i)));
    b.insert(b.end(), {22, 0, 0, 0});
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: make_ico_seeds <folder> [<png folder>]\n");
        return 2;
    }
    const fs::path folder = argv[1];
    fs::create_directories(folder);

    TAdvancedIcon all;
    for (int bits : {1, 4, 8, 16, 24, 32}) {
        TAdvancedIcon one;
        const TBitmap mask = Mask(8, 8);
        one.Images().AddFromBitmaps(Picture(8, 8, bits), bits == 32 ? nullptr : &mask, 0);
        Write(folder, "dib-" + std::to_string(bits) + ".ico", one.SaveToBytes());
        all.Images().AddFromBitmaps(Picture(6, 5, bits), nullptr, 1);
    }
    Write(folder, "dib-all-depths.ico", all.SaveToBytes());

    // PNG entries: RGBA, RGB, palette with soft alpha (also under the 8 bits of its palette
    // in the directory) and with transparent and opaque entries only, and a directory asking
    // for 8 bits.
    const TBitmap rgba = Picture(8, 8, 32);
    Write(folder, "png-rgba.ico", IconWithEntry(EncodePngRgba(rgba), 32));
    Write(folder, "png-rgb.ico", IconWithEntry(EncodePngRgb(Picture(8, 8, 24)), 32));
    const std::uint8_t indices[16] = {0, 1, 2, 3, 3, 2, 1, 0, 0, 0, 1, 1, 2, 2, 3, 3};
    const TRgbQuad palette[4] = {{0, 0, 0, 0}, {255, 0, 0, 0}, {0, 255, 0, 0}, {0, 0, 255, 0}};
    const std::uint8_t alpha[2] = {0, 100};
    Write(folder, "png-palette.ico", IconWithEntry(EncodePngPalette(4, 4, indices, palette, alpha), 32));
    Write(folder, "png-palette-8.ico", IconWithEntry(EncodePngPalette(4, 4, indices, palette, alpha), 8));
    const std::uint8_t hardAlpha[3] = {0, 255, 0};
    Write(folder, "png-palette-hard.ico", IconWithEntry(EncodePngPalette(4, 4, indices, palette, hardAlpha), 8));
    Write(folder, "png-asks-8.ico", IconWithEntry(EncodePngRgba(rgba), 8));
    Write(folder, "png-asks-1.ico", IconWithEntry(EncodePngRgba(rgba), 1));

    // A 256-pixel PNG entry next to a DIB one, saved through StoreAsPng.
    TAdvancedIcon big;
    big.Images().AddFromBitmaps(Picture(16, 16, 32), nullptr, 0);
    TBitmap large(256, 256, 32);
    big.Images().AddFromBitmaps(large, nullptr, 0);
    big.Images()[1]->SetStoreAsPng(true);
    Write(folder, "png-256.ico", big.SaveToBytes());

    // A cursor, and damaged files: cut short, directory pointing into itself.
    std::vector<std::uint8_t> cursor = all.SaveToBytes();
    cursor[2] = 2;
    Write(folder, "cursor.cur", cursor);
    std::vector<std::uint8_t> cut = all.SaveToBytes();
    cut.resize(cut.size() - 30);
    Write(folder, "cut-short.ico", cut);
    std::vector<std::uint8_t> looped = all.SaveToBytes();
    looped[6 + 16 + 12] = 6;
    Write(folder, "offset-into-directory.ico", looped);
    if (argc == 3) {
        // Pictures as the Add Marker dialog takes them: wide, tall, one pixel, RGB, palette.
        const fs::path pngs = argv[2];
        fs::create_directories(pngs);
        Write(pngs, "rgba-wide.png", EncodePngRgba(Picture(9, 4, 32)));
        Write(pngs, "rgba-tall.png", EncodePngRgba(Picture(3, 12, 32)));
        Write(pngs, "rgba-pixel.png", EncodePngRgba(Picture(1, 1, 32)));
        Write(pngs, "rgb.png", EncodePngRgb(Picture(8, 8, 24)));
        Write(pngs, "palette.png", EncodePngPalette(4, 4, indices, palette, alpha));
    }
    std::printf("seeds written to %s\n", folder.string().c_str());
    return 0;
}
