// The portable counterpart of the platform's icon handles: an icon is a colour (XOR) bitmap
// and a 1-bit AND mask, drawn the way DrawIconEx draws with DI_NORMAL.
#pragma once

#include <memory>
#include <span>

#include "imaging/Bitmap.h"

namespace vantrel {

struct TIconHandleData {
    TBitmap Colour;  // XOR pixels at the image's depth (the mask's size)
    TBitmap Mask;    // AND mask, 1 bit, set = transparent
    bool HasAlpha = false;  // a 32-bit colour bitmap with at least one non-zero alpha
};

// Icon handles are shared and never change once made; copying one (CopyIcon) shares it.
using HICON = std::shared_ptr<const TIconHandleData>;

// CreateIconFromResourceEx: an icon from an icon image resource (a DIB with its AND mask,
// or a PNG stream). Fails with a vantrel::Error when the bytes cannot be read at all.
HICON CreateIconFromResource(std::span<const std::uint8_t> data);

// CreateIconIndirect: an icon from a colour bitmap and a mask (both copied). A mask whose
// size differs from the colour's is cut or extended (opaque) to it.
HICON CreateIconIndirect(const TBitmap& colour, const TBitmap& mask);

struct TIconInfo {
    TBitmap Colour;
    TBitmap Mask;
};

// GetIconInfo: copies of the icon's colour bitmap and mask.
TIconInfo GetIconInfo(const HICON& icon);

// DrawIconEx at (x, y), natural size, DI_NORMAL: a 32-bit image with alpha is blended
// source-over by its alpha (the mask is not used); any other image is drawn by ANDing the
// destination with the mask and then XORing the colour pixels. Pixels falling outside the
// canvas are clipped. Indexed canvases receive the nearest palette entry of the result.
void DrawIconEx(TBitmap& canvas, int x, int y, const HICON& icon);

// An icon picture whose reported size is the width of its colour bitmap (or of its mask
// when it has no colour); before a handle is set it reports the system icon size, 32.
class THiResIcon {
public:
    static constexpr int SystemIconSize = 32;

    THiResIcon() = default;
    explicit THiResIcon(HICON handle) : handle_(std::move(handle)) {}

    const HICON& Handle() const { return handle_; }
    void SetHandle(HICON handle) { handle_ = std::move(handle); }
    int Width() const;
    int Height() const { return Width(); }
    // Draws at the rectangle's top-left corner at the icon's own size, without stretching.
    void Draw(TBitmap& canvas, int left, int top, int right, int bottom) const;

private:
    HICON handle_;
};

}  // namespace vantrel
