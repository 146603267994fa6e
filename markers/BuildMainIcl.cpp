// Builds the marker library Main.icl from our marker pictures.
//
//   build_main_icl <Main.icl> [<folder for PNG previews>]
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>

#include "imaging/PngCodec.h"
#include "markers/IclWriter.h"
#include "markers/MarkerArt.h"

using namespace vantrel;
namespace fs = std::filesystem;

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("usage: build_main_icl <Main.icl> [<preview folder>]\n", stderr);
        return 2;
    }
    try {
        std::vector<std::unique_ptr<TAdvancedIcon>> icons;
        std::vector<TLibraryIcon> library;
        for (const TMarkerDesign& design : MarkerDesigns()) {
            icons.push_back(std::make_unique<TAdvancedIcon>());
            MakeMarkerIcon(design.Index, *icons.back());
            library.push_back({design.Name, icons.back().get()});
            if (argc > 2) {
                fs::create_directories(argv[2]);
                for (int size : MarkerSizes()) {
                    const auto png = EncodePngRgba(DrawMarker(design.Index, size));
                    char name[64];
                    std::snprintf(name, sizeof name, "%02d-%d.png", design.Index, size);
                    std::ofstream(fs::path(argv[2]) / name, std::ios::binary)
                        .write(reinterpret_cast<const char*>(png.data()), std::streamsize(png.size()));
                }
            }
        }
        const auto bytes = BuildIconLibrary("MAIN", library);
        std::ofstream out(argv[1], std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        if (!out) throw std::runtime_error(std::string("cannot write ") + argv[1]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "build_main_icl: %s\n", e.what());
        return 1;
    }
    return 0;
}
