// Writes the seed corpus for the icon library fuzz target: small PE (32- and 64-bit) and NE
// files built with the tests' own executable builder, with named and numbered groups, a PNG
// image, an "ICL" names entry, and a few damaged copies.
#include <cstdio>
#include <filesystem>
#include <string>

#include "TestExecutables.h"
#include "imaging/ByteIo.h"
#include "imaging/IconModel.h"
#include "imaging/PeResources.h"
#include "imaging/PngCodec.h"

using namespace vantrel;
using namespace vantrel::test;
namespace fs = std::filesystem;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: make_library_seeds <folder>\n", stderr);
        return 2;
    }
    const fs::path folder = argv[1];
    fs::create_directories(folder);
    auto write = [&](const std::string& name, const Bytes& bytes) { WriteWholeFile(folder / name, bytes); };

    const Bytes a = PatternDib(16, 32, 1), b = PatternDib(16, 4, 2), c = PatternDib(24, 8, 3);
    TBitmap picture(20, 20, 32);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x) picture.SetBgra(x, y, {std::uint8_t(x * 12), std::uint8_t(y * 12), 200, std::uint8_t(x * 13)});
    const Bytes png = EncodePngRgba(picture);
    const std::vector<PeResource> resources = {
        {kRtIcon, 1, {}, a},
        {kRtIcon, 2, {}, b},
        {kRtIcon, 3, {}, c},
        {kRtIcon, 4, {}, png},
        {kRtGroupIcon, 0, u"MAIN", MakeGroup({{&a, 1}, {&b, 2}})},
        {kRtGroupIcon, 5, {}, MakeGroup({{&c, 3}})},
        {kRtGroupIcon, 101, {}, MakeGroup({{&a, 1}, {&c, 4}})},
    };
    const Bytes pe32 = MakePe(resources);
    write("pe32.dll", pe32);
    write("pe64.dll", MakePe(resources, {true}));
    std::vector<NeType> types = {
        {0x8006, {{1, Bytes(12, 's')}}},
        {0x8003, {{1, a}, {2, b}, {3, c}}},
        {0x800E, {{1, MakeGroup({{&a, 1}, {&b, 2}})}, {2, MakeGroup({{&c, 3}})}}},
    };
    const Bytes ne = MakeNe(types, {"ICL", "Hi-Priority", "Done Work"});
    write("library.icl", ne);
    write("library-shift0.icl", MakeNe(types, {"ICL", "One"}, 0));
    // Damaged copies: a missing icon, a cut file, a huge count.
    types[2].resources[1].data = MakeGroup({{&c, 9}});
    write("missing-icon.icl", MakeNe(types, {}));
    write("cut.dll", Bytes(pe32.begin(), pe32.begin() + std::ptrdiff_t(pe32.size() * 2 / 3)));
    Bytes huge = ne;
    WriteLe16(huge.data() + kNeResourceTableAt + 2 + 2, 0xFFFF);
    write("huge-count.icl", huge);
    std::printf("library seeds written to %s\n", folder.string().c_str());
    return 0;
}
