#include "app/window/IconBridge.h"

#include <cstring>
#include <utility>
#include <vector>

namespace vantrel {

namespace {

// A BITMAPINFO with room for the two colours of a 1-bit bitmap.
struct TMonoInfo {
    BITMAPINFOHEADER Header;
    RGBQUAD Colors[2];
};

BITMAPINFOHEADER DibHeader(int width, int height, int bits) {
    BITMAPINFOHEADER h{};
    h.biSize = sizeof(h);
    h.biWidth = width;
    h.biHeight = height;  // positive: bottom-up rows, as TBitmap keeps them
    h.biPlanes = 1;
    h.biBitCount = WORD(bits);
    h.biCompression = BI_RGB;
    return h;
}

int Brightness(const RGBQUAD& q) { return q.rgbRed + q.rgbGreen + q.rgbBlue; }

// The 1-bit rows of a monochrome bitmap, bottom-up and padded as a DIB pads them, with a
// set bit meaning white whatever colour table the platform reported.
bool ReadMonoRows(HDC dc, HBITMAP bitmap, int width, int height, std::vector<std::uint8_t>& rows) {
    rows.assign(PaddedRowSize(std::uint32_t(width), 1) * std::size_t(height), 0);
    TMonoInfo info{};
    info.Header = DibHeader(width, height, 1);
    if (GetDIBits(dc, bitmap, 0, UINT(height), rows.data(), reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS) !=
        height)
        return false;
    if (Brightness(info.Colors[0]) > Brightness(info.Colors[1]))
        for (auto& b : rows) b = std::uint8_t(~b);
    return true;
}

bool SaneSize(int width, int height) { return width > 0 && height > 0 && width <= 256 * 4 && height <= 256 * 4; }

class TScreenDc {
public:
    TScreenDc() : dc_(GetDC(nullptr)) {}
    ~TScreenDc() {
        if (dc_) ReleaseDC(nullptr, dc_);
    }
    TScreenDc(const TScreenDc&) = delete;
    TScreenDc& operator=(const TScreenDc&) = delete;
    HDC get() const { return dc_; }

private:
    HDC dc_;
};

// The picture's colour as 32-bit pixels with alpha ready for AlphaBlend: premultiplied
// when the picture has alpha, otherwise opaque where the mask is clear and fully
// transparent where it is set (the few pixels that invert the screen are left out).
TBitmap PremultipliedPixels(const TIconHandleData& data) {
    const TBitmap colour = data.Colour.BitCount() == 32 ? data.Colour : data.Colour.ConvertTo(32);
    TBitmap out(colour.Width(), colour.Height(), 32);
    for (int y = 0; y < colour.Height(); ++y) {
        for (int x = 0; x < colour.Width(); ++x) {
            TBgra p = colour.GetBgra(x, y);
            if (data.HasAlpha) {
                p.B = std::uint8_t((p.B * p.A + 127) / 255);
                p.G = std::uint8_t((p.G * p.A + 127) / 255);
                p.R = std::uint8_t((p.R * p.A + 127) / 255);
            } else {
                const bool transparent =
                    x < data.Mask.Width() && y < data.Mask.Height() && MaskPixelSet(data.Mask, x, y);
                p = transparent ? TBgra{} : TBgra{p.B, p.G, p.R, 255};
            }
            out.SetBgra(x, y, p);
        }
    }
    return out;
}

// A 32-bit top-down DIB section holding the rows of `pixels`.
HBITMAP MakeDibSection(const TBitmap& pixels) {
    BITMAPINFOHEADER header = DibHeader(pixels.Width(), -pixels.Height(), 32);
    void* bits = nullptr;
    HBITMAP bitmap =
        CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bitmap || !bits) {
        if (bitmap) DeleteObject(bitmap);
        return nullptr;
    }
    const std::size_t row = std::size_t(pixels.Width()) * 4;
    for (int y = 0; y < pixels.Height(); ++y)
        std::memcpy(static_cast<std::uint8_t*>(bits) + row * std::size_t(y), pixels.ScanLine(y), row);
    GdiFlush();
    return bitmap;
}

}  // namespace

THiResIcon PictureFromHicon(::HICON icon) {
    if (!icon) return {};
    ICONINFO info{};
    if (!::GetIconInfo(icon, &info)) return {};
    TScreenDc dc;
    THiResIcon picture;
    BITMAP mask{};
    if (dc.get() && GetObjectW(info.hbmMask, sizeof(mask), &mask) == sizeof(mask)) {
        std::vector<std::uint8_t> rows;
        if (info.hbmColor) {
            BITMAP bm{};
            const int width = GetObjectW(info.hbmColor, sizeof(bm), &bm) == sizeof(bm) ? bm.bmWidth : 0;
            const int height = bm.bmHeight;
            if (SaneSize(width, height) && mask.bmWidth == width && mask.bmHeight == height) {
                TBitmap colour(width, height, 32);
                BITMAPINFOHEADER header = DibHeader(width, height, 32);
                TBitmap andMask = NewMaskBitmap(width, height);
                if (GetDIBits(dc.get(), info.hbmColor, 0, UINT(height), colour.Bits().data(),
                              reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS) == height &&
                    ReadMonoRows(dc.get(), info.hbmMask, width, height, rows) && rows.size() == andMask.Bits().size()) {
                    std::memcpy(andMask.Bits().data(), rows.data(), rows.size());
                    picture.SetHandle(CreateIconIndirect(colour, andMask));
                }
            }
        } else if (SaneSize(mask.bmWidth, mask.bmHeight / 2) && mask.bmHeight % 2 == 0) {
            // A monochrome icon: the AND mask above the XOR bits in one bitmap twice as high.
            const int width = mask.bmWidth, height = mask.bmHeight / 2;
            if (ReadMonoRows(dc.get(), info.hbmMask, width, 2 * height, rows)) {
                TBitmap xorBits = NewMaskBitmap(width, height);
                TBitmap andMask = NewMaskBitmap(width, height);
                const std::size_t half = xorBits.Bits().size();
                if (rows.size() == 2 * half) {
                    // Bottom-up rows: the XOR half (the bitmap's lower half) comes first.
                    std::memcpy(xorBits.Bits().data(), rows.data(), half);
                    std::memcpy(andMask.Bits().data(), rows.data() + half, half);
                    picture.SetHandle(CreateIconIndirect(xorBits.ConvertTo(32), andMask));
                }
            }
        }
    }
    if (info.hbmColor) DeleteObject(info.hbmColor);
    if (info.hbmMask) DeleteObject(info.hbmMask);
    return picture;
}

THiResIcon LoadIconPicture(const std::wstring& file, int index, int size) {
    if (file.empty() || size <= 0) return {};
    ::HICON icon = nullptr;
    UINT id = 0;
    const UINT count = PrivateExtractIconsW(file.c_str(), index, size, size, &icon, &id, 1, LR_DEFAULTCOLOR);
    // 0xFFFFFFFF: the file was not found or could not be read.
    if (count == 0 || count == 0xFFFFFFFFu || !icon) {
        if (icon) DestroyIcon(icon);
        return {};
    }
    THiResIcon picture = PictureFromHicon(icon);
    DestroyIcon(icon);
    return picture;
}

::HICON HiconFromPicture(const THiResIcon& picture) {
    const auto& data = picture.Handle();
    if (!data || data->Colour.Empty()) return nullptr;
    const TBitmap colour = data->Colour.BitCount() == 32 ? data->Colour : data->Colour.ConvertTo(32);
    const int width = colour.Width(), height = colour.Height();

    // The mask as the platform's monochrome bitmaps take it: top-down rows padded to
    // 16 bits, most significant bit first, set = transparent.
    const std::size_t stride = ((std::size_t(width) + 15) / 16) * 2;
    std::vector<std::uint8_t> maskBits(stride * std::size_t(height), 0);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            if (x < data->Mask.Width() && y < data->Mask.Height() && MaskPixelSet(data->Mask, x, y))
                maskBits[stride * std::size_t(y) + std::size_t(x) / 8] |= std::uint8_t(0x80u >> (x % 8));

    ICONINFO info{};
    info.fIcon = TRUE;
    info.hbmMask = CreateBitmap(width, height, 1, 1, maskBits.data());
    info.hbmColor = MakeDibSection(colour);
    ::HICON icon = info.hbmMask && info.hbmColor ? CreateIconIndirect(&info) : nullptr;
    if (info.hbmMask) DeleteObject(info.hbmMask);
    if (info.hbmColor) DeleteObject(info.hbmColor);
    return icon;
}

void DrawPicture(HDC dc, const RECT& rect, const THiResIcon& picture) { TPictureBitmap(picture).Draw(dc, rect); }

TPictureBitmap::TPictureBitmap(const THiResIcon& picture) {
    const auto& data = picture.Handle();
    if (!data || data->Colour.Empty()) return;
    bitmap_ = MakeDibSection(PremultipliedPixels(*data));
    if (bitmap_) {
        width_ = data->Colour.Width();
        height_ = data->Colour.Height();
    }
}

TPictureBitmap::~TPictureBitmap() {
    if (bitmap_) DeleteObject(bitmap_);
}

TPictureBitmap::TPictureBitmap(TPictureBitmap&& other) noexcept
    : bitmap_(std::exchange(other.bitmap_, nullptr)),
      width_(std::exchange(other.width_, 0)),
      height_(std::exchange(other.height_, 0)) {}

TPictureBitmap& TPictureBitmap::operator=(TPictureBitmap&& other) noexcept {
    if (this != &other) {
        if (bitmap_) DeleteObject(bitmap_);
        bitmap_ = std::exchange(other.bitmap_, nullptr);
        width_ = std::exchange(other.width_, 0);
        height_ = std::exchange(other.height_, 0);
    }
    return *this;
}

void TPictureBitmap::Draw(HDC dc, const RECT& rect) const {
    if (!bitmap_ || rect.right <= rect.left || rect.bottom <= rect.top) return;
    HDC source = CreateCompatibleDC(dc);
    if (!source) return;
    HGDIOBJ old = SelectObject(source, bitmap_);
    const BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    AlphaBlend(dc, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, source, 0, 0, width_, height_,
               blend);
    SelectObject(source, old);
    DeleteDC(source);
}

}  // namespace vantrel
