// Pillow (Debian's python3-pil) as a decoder no one here wrote, for comparing pixels.
// Native only: under Wine it is never found.
#pragma once

#include <filesystem>

#include "TestIcons.h"
#include "imaging/Bitmap.h"

namespace vantrel::test {

bool HavePillow();

// Pillow's RGBA reading of a picture file: R, G, B, A per pixel, rows from the top; empty
// when Pillow cannot read it.
struct PillowPicture {
    int width = 0, height = 0;
    Bytes rgba;
};
PillowPicture PillowRgba(const std::filesystem::path& file);

// Pixels of a 32-bit bitmap that differ from Pillow's in any channel (all of them when the
// sizes differ).
int PixelsDifferingFromPillow(const TBitmap& ours, const PillowPicture& theirs);

}  // namespace vantrel::test
