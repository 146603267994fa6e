#include "imaging/IconHandle.h"

#include <algorithm>

#include "imaging/IconDib.h"

namespace vantrel {

namespace {

bool AnyAlpha(const TBitmap& bitmap) {
    if (bitmap.BitCount() != 32) return false;
    for (int y = 0; y < bitmap.Height(); ++y)
        for (int x = 0; x < bitmap.Width(); ++x)
            if (bitmap.GetBgra(x, y).A != 0) return true;
    return false;
}

// The mask at `width` x `height`: pixels it does not cover are opaque.
TBitmap FitMask(const TBitmap& mask, int width, int height) {
    if (mask.BitCount() == 1 && mask.Width() == width && mask.Height() == height) return mask;
    TBitmap out = NewMaskBitmap(width, height);
    for (int y = 0; y < std::min(height, mask.Height()); ++y)
        for (int x = 0; x < std::min(width, mask.Width()); ++x)
            if (MaskPixelSet(mask, x, y)) out.SetIndex(x, y, 1);
    return out;
}

std::uint32_t Pack(TBgra p) {
    return std::uint32_t(p.B) | (std::uint32_t(p.G) << 8) | (std::uint32_t(p.R) << 16) | (std::uint32_t(p.A) << 24);
}

TBgra Unpack(std::uint32_t v) {
    return {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16), std::uint8_t(v >> 24)};
}

}  // namespace

HICON CreateIconFromResource(std::span<const std::uint8_t> data) {
    auto icon = std::make_shared<TIconHandleData>();
    SplitIconImage(data, &icon->Colour, &icon->Mask);
    icon->HasAlpha = AnyAlpha(icon->Colour);
    return icon;
}

HICON CreateIconIndirect(const TBitmap& colour, const TBitmap& mask) {
    auto icon = std::make_shared<TIconHandleData>();
    icon->Colour = colour;
    icon->Mask = FitMask(mask, colour.Width(), colour.Height());
    icon->HasAlpha = AnyAlpha(colour);
    return icon;
}

TIconInfo GetIconInfo(const HICON& icon) {
    if (!icon) return {};
    return {icon->Colour, icon->Mask};
}

void DrawIconEx(TBitmap& canvas, int x0, int y0, const HICON& icon) {
    if (!icon) return;
    const TBitmap& colour = icon->Colour;
    const TBitmap& mask = icon->Mask;
    const bool canvas32 = canvas.BitCount() == 32;
    for (int sy = 0; sy < colour.Height(); ++sy) {
        const int y = y0 + sy;
        if (y < 0 || y >= canvas.Height()) continue;
        for (int sx = 0; sx < colour.Width(); ++sx) {
            const int x = x0 + sx;
            if (x < 0 || x >= canvas.Width()) continue;
            const TBgra s = colour.GetBgra(sx, sy);
            const TBgra d = canvas.GetBgra(x, y);
            TBgra out;
            if (icon->HasAlpha) {
                const unsigned a = s.A, inv = 255u - a;
                auto mix = [a, inv](unsigned sc, unsigned dc) { return std::uint8_t((sc * a + dc * inv + 127) / 255); };
                out = {mix(s.B, d.B), mix(s.G, d.G), mix(s.R, d.R), std::uint8_t(a + (d.A * inv + 127) / 255)};
            } else {
                // AND with the mask (set = keep the destination), then XOR the colour pixel.
                const bool keep = sy < mask.Height() && sx < mask.Width() && mask.GetIndex(sx, sy) != 0;
                std::uint32_t v = keep ? Pack(d) : 0u;
                std::uint32_t c = Pack(s);
                if (!canvas32) {
                    v &= 0x00FFFFFFu;
                    c &= 0x00FFFFFFu;
                }
                out = Unpack(v ^ c);
            }
            if (canvas32) canvas.SetBgra(x, y, out);
            else canvas.SetPixel(x, y, RGB(out.R, out.G, out.B));
        }
    }
}

int THiResIcon::Width() const {
    if (!handle_) return SystemIconSize;
    return handle_->Colour.Width() > 0 ? handle_->Colour.Width() : handle_->Mask.Width();
}

void THiResIcon::Draw(TBitmap& canvas, int left, int top, int, int) const { DrawIconEx(canvas, left, top, handle_); }

}  // namespace vantrel
