#include "PillowReader.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace vantrel::test {

bool HavePillow() {
#ifdef _WIN32
    return false;
#else
    static const bool have = std::system("/usr/bin/python3 -c 'import PIL.Image' >/dev/null 2>&1") == 0;
    return have;
#endif
}

PillowPicture PillowRgba(const std::filesystem::path& file) {
    PillowPicture picture;
#ifndef _WIN32
    // The script prints "width height" on a line of its own, then the pixels.
    const std::string command =
        "/usr/bin/python3 -c 'import sys; from PIL import Image; im = Image.open(sys.argv[1]).convert(\"RGBA\"); "
        "print(*im.size, flush=True); sys.stdout.buffer.write(im.tobytes())' '" + file.string() + "'";
    FILE* p = popen(command.c_str(), "r");
    if (!p) return picture;
    Bytes out;
    std::uint8_t buffer[65536];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, p)) > 0;) out.insert(out.end(), buffer, buffer + n);
    const auto newline = std::find(out.begin(), out.end(), std::uint8_t('\n'));
    if (pclose(p) != 0 || newline == out.end() ||
        std::sscanf(std::string(out.begin(), newline).c_str(), "%d %d", &picture.width, &picture.height) != 2)
        return picture;
    if (std::size_t(out.end() - newline - 1) == std::size_t(picture.width) * std::size_t(picture.height) * 4)
        picture.rgba.assign(newline + 1, out.end());
#else
    (void)file;
#endif
    return picture;
}

int PixelsDifferingFromPillow(const TBitmap& ours, const PillowPicture& theirs) {
    if (ours.BitCount() != 32 || ours.Width() != theirs.width || ours.Height() != theirs.height || theirs.rgba.empty())
        return std::max(ours.Width() * ours.Height(), 1);
    int differing = 0;
    for (int y = 0; y < ours.Height(); ++y)
        for (int x = 0; x < ours.Width(); ++x) {
            const TBgra p = ours.GetBgra(x, y);
            const std::uint8_t* q = &theirs.rgba[(std::size_t(y) * std::size_t(ours.Width()) + std::size_t(x)) * 4];
            differing += p.R != q[0] || p.G != q[1] || p.B != q[2] || p.A != q[3];
        }
    return differing;
}

}  // namespace vantrel::test
