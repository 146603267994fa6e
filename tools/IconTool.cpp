// icontool: a look at what the icon model reads and writes.
//
//   icontool list <icon.ico>
//       one line per image: index, size, bit depth, PNG or DIB entry, bytes
//   icontool export <icon.ico> <folder>
//       writes every image as <name>-<index>-<w>x<h>-<bits>.png (RGBA, as drawn over a
//       transparent background)
//   icontool picture <icon.ico> <size> <out.png>
//       writes the icon as one size x size PNG picture (RGBA): the smallest image at least
//       that size (the largest where none is), scaled with the Lanczos filter when its size
//       differs; for logos that must come in sizes the icon does not carry
//   icontool build <out.ico> [--depth N] [--png-from W] <picture.png>...
//       makes an icon with one image per picture, in order: at N bits (1, 4, 8, 24 or 32;
//       default 32), stored as a PNG entry when the picture is at least W pixels wide
//       (default 256); below 32 bits, pixels less than half opaque become transparent
//   icontool compose <base.ico> <marker.ico> <out.ico>
//       draws the marker over the base icon, image by image, as a marking does
//   icontool colorize <in.ico> <colour> <out.ico>
//       tints every image; the colour is a name of the colour table (Red, Orange, Yellow,
//       Green, Blue, Purple, Gray) or a colour value (red + green*256 + blue*65536)
//
//   icontool groups <file>
//       the icon groups of an executable, DLL or icon library in the order the platform's
//       icon extraction counts them: position, name, images (size and depth)
//   icontool extract <file> <index> <out.ico>
//       writes the icon that a location names (index 0, 1, ... or minus a resource id) as an
//       ICO file; an .ico file is copied
//   icontool names <library> [count]
//       the icon names that follow a library's "ICL" entry (count: default the number of
//       icon groups)
//
// Exit status: 0 on success, 1 when the icon has no images, 2 on a usage error or failure.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "imaging/Colorize.h"
#include "imaging/IconLibrary.h"
#include "imaging/IconLibrary16.h"
#include "imaging/IconModel.h"
#include "imaging/OverlayCompose.h"
#include "imaging/PixelHelpers.h"
#include "imaging/PngCodec.h"
#include "imaging/Resample.h"

namespace fs = std::filesystem;
using namespace vantrel;

namespace {

std::string Utf8(const fs::path& p) {
    const std::u8string s = p.u8string();
    return std::string(s.begin(), s.end());
}

int Usage() {
    std::fputs(
        "usage: icontool list <icon.ico>\n"
        "       icontool export <icon.ico> <folder>\n"
        "       icontool picture <icon.ico> <size> <out.png>\n"
        "       icontool build <out.ico> [--depth N] [--png-from W] <picture.png>...\n"
        "       icontool compose <base.ico> <marker.ico> <out.ico>\n"
        "       icontool colorize <in.ico> <colour name or value> <out.ico>\n"
        "       icontool groups <file>\n"
        "       icontool extract <file> <index> <out.ico>\n"
        "       icontool names <library> [count]\n",
        stderr);
    return 2;
}

int List(const fs::path& file) {
    TAdvancedIcon icon;
    if (!icon.LoadFromFile(file)) {
        std::printf("%s: no images\n", Utf8(file).c_str());
        return 1;
    }
    std::printf("%s: %d image(s)\n", Utf8(file).c_str(), int(icon.Images().Count()));
    for (int i = 0; i < icon.Images().Count(); ++i) {
        const TSubIcon* image = icon.Images()[i];
        std::printf("%3d  %dx%d  %d bit  %s  %u bytes\n", i, image->GetWidth(), image->GetHeight(),
                    image->GetBitDepth(), image->StoreAsPng() ? "PNG" : "DIB", unsigned(image->Header().BytesInRes));
    }
    return 0;
}

int Export(const fs::path& file, const fs::path& folder) {
    TAdvancedIcon icon;
    if (!icon.LoadFromFile(file)) {
        std::printf("%s: no images\n", Utf8(file).c_str());
        return 1;
    }
    fs::create_directories(folder);
    for (int i = 0; i < icon.Images().Count(); ++i) {
        const TSubIcon* image = icon.Images()[i];
        const TBitmap pixels = IconImageToBgra(*image);
        const std::string name = Utf8(file.stem()) + "-" + std::to_string(i) + "-" + std::to_string(image->GetWidth()) +
                                 "x" + std::to_string(image->GetHeight()) + "-" +
                                 std::to_string(image->GetBitDepth()) + ".png";
        const fs::path out = folder / fs::u8path(name);
        WriteWholeFile(out, EncodePngRgba(pixels));
        std::printf("%s\n", Utf8(out).c_str());
    }
    return 0;
}

int Picture(const fs::path& file, const std::string& sizeText, const fs::path& out) {
    char* end = nullptr;
    const long size = std::strtol(sizeText.c_str(), &end, 10);
    if (sizeText.empty() || *end != '\0' || size < 1 || size > MaxResampleSide) return Usage();
    TAdvancedIcon icon;
    if (!icon.LoadFromFile(file)) {
        std::printf("%s: no images\n", Utf8(file).c_str());
        return 1;
    }
    // The smallest image that is at least as large (so scaling shrinks wherever the icon
    // allows it), else the largest; among images of one size, the deepest.
    auto side = [](const TSubIcon* image) { return std::max(image->GetWidth(), image->GetHeight()); };
    auto better = [&](const TSubIcon* a, const TSubIcon* b) {
        const bool aFits = side(a) >= size, bFits = side(b) >= size;
        if (aFits != bFits) return aFits;
        if (side(a) != side(b)) return aFits ? side(a) < side(b) : side(a) > side(b);
        return a->GetBitDepth() > b->GetBitDepth();
    };
    const TSubIcon* best = icon.Images()[0];
    for (int i = 1; i < icon.Images().Count(); ++i)
        if (better(icon.Images()[i], best)) best = icon.Images()[i];
    TBitmap pixels = IconImageToBgra(*best);
    if (pixels.Width() != size || pixels.Height() != size) pixels = ResampleBitmap(pixels, int(size), int(size));
    WriteWholeFile(out, EncodePngRgba(pixels));
    std::printf("%s: %ldx%ld from the %dx%d image\n", Utf8(out).c_str(), size, size, best->GetWidth(),
                best->GetHeight());
    return 0;
}

int Build(const std::vector<fs::path>& args) {
    if (args.empty()) return Usage();
    const fs::path out = args[0];
    int depth = 32;
    int pngFrom = 256;
    std::vector<fs::path> pictures;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string a = Utf8(args[i]);
        if ((a == "--depth" || a == "--png-from") && i + 1 < args.size()) {
            const int value = std::stoi(Utf8(args[++i]));
            (a == "--depth" ? depth : pngFrom) = value;
        } else {
            pictures.push_back(args[i]);
        }
    }
    if (depth != 1 && depth != 4 && depth != 8 && depth != 24 && depth != 32) return Usage();
    TAdvancedIcon icon;
    for (const fs::path& path : pictures) {
        TPngPicture picture = DecodePngPicture(ReadWholeFile(path));
        // Without alpha, a pixel is either shown or not: half-transparent edge and shadow
        // pixels are left out rather than drawn solid.
        if (depth < 32) MaskFromAlpha(picture.Colour, picture.Mask, 128);
        TBitmap colour;
        if (depth == 32) {
            JoinColourAndMask(picture.Colour, &picture.Mask, colour);
        } else if (depth == 8) {
            if (!BuildExactPalette(picture.Colour, colour, true, false)) colour = picture.Colour.ConvertTo(8);
        } else {
            colour = picture.Colour.ConvertTo(depth);
        }
        icon.Images().AddFromBitmaps(colour, &picture.Mask, 0);
        TSubIcon* image = icon.Images()[icon.Images().Count() - 1];
        image->SetStoreAsPng(image->GetWidth() >= pngFrom);
    }
    icon.SaveToFile(out);
    std::printf("%s: %d image(s)\n", Utf8(out).c_str(), int(icon.Images().Count()));
    return 0;
}

int Compose(const fs::path& base, const fs::path& marker, const fs::path& out) {
    ComposeOverlay(base, marker, out);
    return List(out);
}

int Colorize(const fs::path& in, const std::string& colour, const fs::path& out) {
    std::int32_t value = -1;
    for (const TNamedColor& named : ColorTable()) {
        std::wstring name(named.Name);
        if (std::string(name.begin(), name.end()) == colour) value = named.Value;
    }
    if (value < 0) {
        char* end = nullptr;
        const long parsed = std::strtol(colour.c_str(), &end, 0);
        if (colour.empty() || *end != '\0' || parsed < 0 || parsed > 0xFFFFFF) return Usage();
        value = std::int32_t(parsed);
    }
    ColorizeIcon(in, out, value);
    return List(out);
}

int Groups(const fs::path& file) {
    TIconLibrary library;
    library.Open(file);
    std::printf("%s: %s, %d group(s) counted, %d read\n", Utf8(file).c_str(),
                library.IsExecutable() ? (library.Is32Bit() ? "PE" : "NE") : "not an executable", library.IconCount(),
                library.GetCount());
    for (int i = 0; i < library.GetCount(); ++i) {
        const TAdvancedIcon* icon = library.GetIcon(i);
        std::printf("%4d  %-32s", i, library.Icons().Name(i).c_str());
        for (int k = 0; icon && k < icon->Images().Count(); ++k) {
            const TSubIcon* image = icon->Images()[k];
            std::printf(" %dx%d/%d%s", image->GetWidth(), image->GetHeight(), image->GetBitDepth(),
                        image->StoreAsPng() ? "p" : "");
        }
        std::printf("\n");
    }
    return library.GetCount() > 0 ? 0 : 1;
}

int Extract(const fs::path& file, const std::string& index, const fs::path& out) {
    std::error_code error;
    fs::remove(out, error);
    ExtractIconResource(file, std::stoi(index), out);
    if (!fs::exists(out)) {
        std::printf("%s,%s: no such icon\n", Utf8(file).c_str(), index.c_str());
        return 1;
    }
    return List(out);
}

int Names(const fs::path& file, const std::vector<fs::path>& rest) {
    int count = 0;
    if (!rest.empty()) {
        count = std::stoi(Utf8(rest[0]));
    } else {
        TIconLibrary library;
        library.OpenNames(file);
        count = library.IconCount();
    }
    std::vector<std::string> names;
    ReadLibraryIconNames(file, names, count);
    for (std::size_t i = 0; i < names.size(); ++i) std::printf("%4zu  %s\n", i, names[i].c_str());
    return names.empty() ? 1 : 0;
}

int Run(const std::vector<fs::path>& args) {
    if (args.empty()) return Usage();
    const std::string command = Utf8(args[0]);
    try {
        if (command == "list" && args.size() == 2) return List(args[1]);
        if (command == "export" && args.size() == 3) return Export(args[1], args[2]);
        if (command == "picture" && args.size() == 4) return Picture(args[1], Utf8(args[2]), args[3]);
        if (command == "groups" && args.size() == 2) return Groups(args[1]);
        if (command == "extract" && args.size() == 4) return Extract(args[1], Utf8(args[2]), args[3]);
        if (command == "names" && (args.size() == 2 || args.size() == 3))
            return Names(args[1], std::vector<fs::path>(args.begin() + 2, args.end()));
        if (command == "build") return Build(std::vector<fs::path>(args.begin() + 1, args.end()));
        if (command == "compose" && args.size() == 4) return Compose(args[1], args[2], args[3]);
        if (command == "colorize" && args.size() == 4) return Colorize(args[1], Utf8(args[2]), args[3]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "icontool: %s\n", e.what());
        return 2;
    }
    return Usage();
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
#else
int main(int argc, char** argv) {
#endif
    std::vector<fs::path> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    return Run(args);
}
