#include "imaging/Bitmap.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <unordered_map>

#include "imaging/ByteIo.h"
#include "imaging/DibPixels.h"
#include "imaging/Error.h"
#include "imaging/PixelHelpers.h"

namespace vantrel {

namespace {

bool ValidDepth(int bits) {
    return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

std::uint8_t Expand5(unsigned v) { return std::uint8_t((v << 3) | (v >> 2)); }

const char* const kInvalidBitmap = "Bitmap image is not valid";
constexpr std::uint64_t kMaxBitmapBytes = std::uint64_t(512) << 20;

// Value of a bit field, scaled to 8 bits.
std::uint8_t FieldValue(std::uint32_t pixel, std::uint32_t mask) {
    if (mask == 0) return 0;
    int shift = std::countr_zero(mask);
    std::uint32_t width = std::uint32_t(std::popcount(mask >> shift));
    std::uint32_t v = (pixel & mask) >> shift;
    if (width >= 8) return std::uint8_t(v >> (width - 8));
    // Scale up by repeating the high bits, so that full scale stays full scale.
    std::uint32_t max = (1u << width) - 1;
    return std::uint8_t((v * 255 + max / 2) / max);
}

}  // namespace

TBitmap::TBitmap(int width, int height, int bitCount) {
    if (!ValidDepth(bitCount)) throw Error(kInvalidBitmap);
    bitCount_ = bitCount;
    palette_ = StandardPaletteQuads(bitCount);
    SetSize(width, height);
}

void TBitmap::SetSize(int width, int height) {
    if (width < 0 || height < 0 || width > MaxBitmapSide || height > MaxBitmapSide) throw Error(kInvalidBitmap);
    // Sized in 64 bits so that no product wraps on 32-bit systems.
    const std::uint64_t bytes = std::uint64_t(PaddedRowSize(std::uint32_t(width), std::uint32_t(bitCount_))) * std::uint64_t(height);
    if (bytes > kMaxBitmapBytes) throw Error(kInvalidBitmap);
    width_ = width;
    height_ = height;
    bits_.assign(Stride() * std::size_t(height), 0);
}

void TBitmap::SetPalette(std::vector<TRgbQuad> palette) {
    if (!IsIndexed()) return;
    if (palette.size() > (std::size_t(1) << bitCount_)) palette.resize(std::size_t(1) << bitCount_);
    palette_ = std::move(palette);
}

void TBitmap::SetPixelFormat(int bitCount) {
    if (bitCount == bitCount_) return;
    *this = ConvertTo(bitCount);
}

std::uint8_t* TBitmap::ScanLine(int y) {
    return bits_.data() + Stride() * std::size_t(height_ - 1 - y);
}

const std::uint8_t* TBitmap::ScanLine(int y) const {
    return bits_.data() + Stride() * std::size_t(height_ - 1 - y);
}

void TBitmap::CheckPoint(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) throw Error("Pixel outside the bitmap");
}

unsigned TBitmap::GetIndex(int x, int y) const {
    CheckPoint(x, y);
    const std::uint8_t* row = ScanLine(y);
    switch (bitCount_) {
        case 1: return (row[x >> 3] >> (7 - (x & 7))) & 1;
        case 4: return (row[x >> 1] >> ((x & 1) ? 0 : 4)) & 0x0F;
        case 8: return row[x];
        default: return 0;
    }
}

void TBitmap::SetIndex(int x, int y, unsigned index) {
    CheckPoint(x, y);
    std::uint8_t* row = ScanLine(y);
    switch (bitCount_) {
        case 1: {
            std::uint8_t bit = std::uint8_t(0x80 >> (x & 7));
            row[x >> 3] = std::uint8_t((index & 1) ? (row[x >> 3] | bit) : (row[x >> 3] & ~bit));
            break;
        }
        case 4: {
            int shift = (x & 1) ? 0 : 4;
            row[x >> 1] = std::uint8_t((row[x >> 1] & ~(0x0F << shift)) | ((index & 0x0F) << shift));
            break;
        }
        case 8: row[x] = std::uint8_t(index); break;
        default: break;
    }
}

TColorRef TBitmap::GetPixel(int x, int y) const {
    CheckPoint(x, y);
    const std::uint8_t* row = ScanLine(y);
    switch (bitCount_) {
        case 1:
        case 4:
        case 8: {
            unsigned i = GetIndex(x, y);
            return i < palette_.size() ? ColorFromQuad(palette_[i]) : 0;
        }
        case 16: {
            unsigned v = ReadLe16(std::span<const std::uint8_t>(row + 2 * x, 2), 0);
            return RGB(Expand5((v >> 10) & 31), Expand5((v >> 5) & 31), Expand5(v & 31));
        }
        case 24: return RGB(row[3 * x + 2], row[3 * x + 1], row[3 * x]);
        default: return RGB(row[4 * x + 2], row[4 * x + 1], row[4 * x]);
    }
}

void TBitmap::SetPixel(int x, int y, TColorRef color) {
    CheckPoint(x, y);
    std::uint8_t* row = ScanLine(y);
    switch (bitCount_) {
        case 1:
        case 4:
        case 8: SetIndex(x, y, NearestIndex(color)); break;
        case 16: {
            unsigned v = (unsigned(GetRValue(color) >> 3) << 10) | (unsigned(GetGValue(color) >> 3) << 5) |
                         unsigned(GetBValue(color) >> 3);
            WriteLe16(row + 2 * x, std::uint16_t(v));
            break;
        }
        case 24:
            row[3 * x] = GetBValue(color);
            row[3 * x + 1] = GetGValue(color);
            row[3 * x + 2] = GetRValue(color);
            break;
        default:
            row[4 * x] = GetBValue(color);
            row[4 * x + 1] = GetGValue(color);
            row[4 * x + 2] = GetRValue(color);
            break;
    }
}

TBgra TBitmap::GetBgra(int x, int y) const {
    CheckPoint(x, y);
    if (bitCount_ != 32) {
        TColorRef c = GetPixel(x, y);
        return {GetBValue(c), GetGValue(c), GetRValue(c), 0};
    }
    const std::uint8_t* p = ScanLine(y) + 4 * x;
    return {p[0], p[1], p[2], p[3]};
}

void TBitmap::SetBgra(int x, int y, TBgra v) {
    CheckPoint(x, y);
    if (bitCount_ != 32) {
        SetPixel(x, y, RGB(v.R, v.G, v.B));
        return;
    }
    std::uint8_t* p = ScanLine(y) + 4 * x;
    p[0] = v.B;
    p[1] = v.G;
    p[2] = v.R;
    p[3] = v.A;
}

unsigned TBitmap::NearestIndex(TColorRef color) const {
    unsigned best = 0;
    long bestDistance = -1;
    for (unsigned i = 0; i < palette_.size(); ++i) {
        long dr = long(palette_[i].Red) - GetRValue(color);
        long dg = long(palette_[i].Green) - GetGValue(color);
        long db = long(palette_[i].Blue) - GetBValue(color);
        long d = dr * dr + dg * dg + db * db;
        if (bestDistance < 0 || d < bestDistance) {
            best = i;
            bestDistance = d;
            if (d == 0) break;
        }
    }
    return best;
}

TBitmap TBitmap::ConvertTo(int bitCount) const {
    TBitmap out(width_, height_, bitCount);
    if (bitCount == bitCount_ && IsIndexed()) {
        out.palette_ = palette_;
        out.bits_ = bits_;
        return out;
    }
    if (bitCount == bitCount_) {
        out.bits_ = bits_;
        return out;
    }
    if (out.IsIndexed()) {
        // Many pixels share few colours: remember each colour's nearest entry.
        std::unordered_map<TColorRef, unsigned> nearest;
        for (int y = 0; y < height_; ++y)
            for (int x = 0; x < width_; ++x) {
                TColorRef c = GetPixel(x, y);
                auto it = nearest.find(c);
                if (it == nearest.end()) it = nearest.emplace(c, out.NearestIndex(c)).first;
                out.SetIndex(x, y, it->second);
            }
        return out;
    }
    for (int y = 0; y < height_; ++y)
        for (int x = 0; x < width_; ++x) out.SetPixel(x, y, GetPixel(x, y));
    return out;
}

std::vector<std::uint8_t> TBitmap::SaveToBmp() const {
    const std::uint32_t paletteBytes = std::uint32_t(palette_.size()) * 4;
    const std::uint32_t offBits = 14 + 40 + paletteBytes;
    std::vector<std::uint8_t> out;
    out.reserve(offBits + bits_.size());
    // BITMAPFILEHEADER
    out.push_back('B');
    out.push_back('M');
    AppendLe32(out, std::uint32_t(offBits + bits_.size()));
    AppendLe32(out, 0);
    AppendLe32(out, offBits);
    // BITMAPINFOHEADER
    AppendLe32(out, 40);
    AppendLe32(out, std::uint32_t(width_));
    AppendLe32(out, std::uint32_t(height_));
    AppendLe16(out, 1);
    AppendLe16(out, std::uint16_t(bitCount_));
    AppendLe32(out, BI_RGB);
    AppendLe32(out, std::uint32_t(bits_.size()));
    AppendLe32(out, 0);
    AppendLe32(out, 0);
    AppendLe32(out, std::uint32_t(palette_.size()));
    AppendLe32(out, 0);
    for (const TRgbQuad& q : palette_) {
        out.push_back(q.Blue);
        out.push_back(q.Green);
        out.push_back(q.Red);
        out.push_back(0);
    }
    out.insert(out.end(), bits_.begin(), bits_.end());
    return out;
}

TBitmap TBitmap::LoadFromBmp(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < 14 + 40 || bytes[0] != 'B' || bytes[1] != 'M') throw Error(kInvalidBitmap);
    const std::uint32_t offBits = ReadLe32(bytes, 10);
    auto info = bytes.subspan(14);
    const std::uint32_t headerSize = ReadLe32(info, 0);
    if (headerSize < 40 || !Fits(info.size(), 0, headerSize)) throw Error(kInvalidBitmap);
    const auto width = std::int32_t(ReadLe32(info, 4));
    const auto height = std::int32_t(ReadLe32(info, 8));
    const std::uint16_t planes = ReadLe16(info, 12);
    TDibFormat format;
    format.BitCount = ReadLe16(info, 14);
    format.Compression = ReadLe32(info, 16);
    std::uint32_t clrUsed = ReadLe32(info, 32);
    if (planes != 1 || width <= 0 || height == 0 || height == INT32_MIN || width > MaxBitmapSide ||
        std::abs(height) > MaxBitmapSide)
        throw Error(kInvalidBitmap);
    format.Width = width;
    format.Height = std::abs(height);
    format.TopDown = height < 0;
    std::size_t pos = 14 + headerSize;
    if (format.Compression == BI_BITFIELDS) {
        if (headerSize == 40) {
            if (!Fits(bytes.size(), pos, 12)) throw Error(kInvalidBitmap);
            for (int i = 0; i < 3; ++i) format.Masks[i] = ReadLe32(bytes, pos + 4 * i);
            pos += 12;
        } else {
            for (int i = 0; i < 3; ++i) format.Masks[i] = ReadLe32(info, 40 + 4 * i);
        }
    }
    if (format.BitCount <= 8) {
        if (clrUsed == 0 || clrUsed > (1u << format.BitCount)) clrUsed = 1u << format.BitCount;
        if (!Fits(bytes.size(), pos, std::size_t(clrUsed) * 4)) throw Error(kInvalidBitmap);
        for (std::uint32_t i = 0; i < clrUsed; ++i)
            format.Palette.push_back({bytes[pos + 4 * i], bytes[pos + 4 * i + 1], bytes[pos + 4 * i + 2], 0});
    }
    if (!CanReadDibPixels(format) || offBits > bytes.size()) throw Error(kInvalidBitmap);
    return ReadDibPixels(format, bytes.subspan(offBits));
}

bool CanReadDibPixels(const TDibFormat& f) {
    if (f.Width < 0 || f.Height < 0 || f.Width > MaxBitmapSide || f.Height > MaxBitmapSide) return false;
    if (f.Compression == BI_RGB) return ValidDepth(f.BitCount);
    if (f.Compression == BI_BITFIELDS) return f.BitCount == 16 || f.BitCount == 32;
    return false;
}

int DibPixelsDepth(const TDibFormat& f) {
    if (f.Compression == BI_BITFIELDS && f.BitCount == 16 &&
        !(f.Masks[0] == 0x7C00 && f.Masks[1] == 0x03E0 && f.Masks[2] == 0x001F))
        return 24;
    return f.BitCount;
}

TBitmap ReadDibPixels(const TDibFormat& f, std::span<const std::uint8_t> rows) {
    TBitmap out(f.Width, f.Height, DibPixelsDepth(f));
    if (out.IsIndexed()) out.SetPalette(f.Palette);
    const std::size_t stride = PaddedRowSize(std::uint32_t(f.Width), std::uint32_t(f.BitCount));
    const bool plainCopy = f.Compression == BI_RGB || out.BitCount() == 16 ||
                           (f.Masks[0] == 0xFF0000 && f.Masks[1] == 0xFF00 && f.Masks[2] == 0xFF);
    for (int y = 0; y < f.Height; ++y) {
        // Stored row index counted from the start of the pixel data.
        const std::size_t stored = f.TopDown ? std::size_t(y) : std::size_t(f.Height - 1 - y);
        const std::size_t at = stored * stride;
        std::uint8_t* dest = out.ScanLine(y);
        if (plainCopy) {
            if (at < rows.size()) std::memcpy(dest, rows.data() + at, std::min(stride, rows.size() - at));
            continue;
        }
        // Bit fields other than the plain layouts: decode each pixel.
        const std::size_t bytesPerPixel = std::size_t(f.BitCount) / 8;
        for (int x = 0; x < f.Width; ++x) {
            std::uint32_t v = bytesPerPixel == 2 ? ReadLe16(rows, at + 2 * std::size_t(x))
                                                 : ReadLe32(rows, at + 4 * std::size_t(x));
            TColorRef c = RGB(FieldValue(v, f.Masks[0]), FieldValue(v, f.Masks[1]), FieldValue(v, f.Masks[2]));
            out.SetPixel(x, y, c);
        }
    }
    return out;
}

TBitmap NewMaskBitmap(int width, int height) { return TBitmap(width, height, 1); }

bool MaskPixelSet(const TBitmap& mask, int x, int y) {
    if (mask.BitCount() == 1 && mask.Palette().size() == 2 && mask.Palette()[0] == TRgbQuad{} &&
        mask.Palette()[1] == TRgbQuad{255, 255, 255, 0})
        return mask.GetIndex(x, y) != 0;
    TColorRef c = mask.GetPixel(x, y);
    return unsigned(GetRValue(c)) + GetGValue(c) + GetBValue(c) >= 3 * 128;
}

void BlitAnd(TBitmap& dest, const TBitmap& source) {
    const bool bitwise = dest.BitCount() == 1 && source.BitCount() == 1 && dest.Palette() == source.Palette();
    for (int y = 0; y < dest.Height(); ++y)
        for (int x = 0; x < dest.Width(); ++x) {
            const bool inside = x < source.Width() && y < source.Height();
            if (bitwise) {
                unsigned s = inside ? source.GetIndex(x, y) : 1u;
                dest.SetIndex(x, y, dest.GetIndex(x, y) & s);
            } else {
                TColorRef s = inside ? source.GetPixel(x, y) : 0xFFFFFFu;
                dest.SetPixel(x, y, dest.GetPixel(x, y) & s);
            }
        }
}

void AlphaBlend(TBitmap& dest, int x0, int y0, const TBitmap& source) {
    if (dest.BitCount() != 32 || source.BitCount() != 32) throw Error("AlphaBlend needs 32-bit bitmaps");
    for (int sy = 0; sy < source.Height(); ++sy) {
        const int dy = y0 + sy;
        if (dy < 0 || dy >= dest.Height()) continue;
        for (int sx = 0; sx < source.Width(); ++sx) {
            const int dx = x0 + sx;
            if (dx < 0 || dx >= dest.Width()) continue;
            TBgra s = source.GetBgra(sx, sy);
            TBgra d = dest.GetBgra(dx, dy);
            const unsigned inv = 255u - s.A;
            auto mix = [inv](unsigned sc, unsigned dc) {
                return std::uint8_t(std::min(255u, sc + (dc * inv + 127) / 255));
            };
            dest.SetBgra(dx, dy, {mix(s.B, d.B), mix(s.G, d.G), mix(s.R, d.R), mix(s.A, d.A)});
        }
    }
}

}  // namespace vantrel
