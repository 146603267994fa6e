#include "imaging/IconDib.h"

#include <algorithm>
#include <cstring>

#include "imaging/ByteIo.h"
#include "imaging/DibPixels.h"
#include "imaging/Error.h"
#include "imaging/PngCodec.h"

namespace vantrel {

namespace {

bool HoldableDepth(unsigned bits) {
    return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

// Copies `count` bytes at `offset` of `data` to `out`; bytes beyond the data become zero.
void CopyAvailable(std::span<const std::uint8_t> data, std::uint64_t offset, std::size_t count, std::uint8_t* out) {
    std::memset(out, 0, count);
    if (offset >= data.size()) return;
    const std::size_t n = std::min<std::uint64_t>(count, data.size() - offset);
    std::memcpy(out, data.data() + offset, n);
}

}  // namespace

bool ReadIconDibInfo(std::span<const std::uint8_t> data, TIconDibInfo& info) {
    if (data.size() < 40) return false;
    info.HeaderSize = ReadLe32(data, 0);
    if (info.HeaderSize < 40 || info.HeaderSize > data.size()) return false;
    info.BiWidth = std::int32_t(ReadLe32(data, 4));
    info.BiHeight = std::int32_t(ReadLe32(data, 8));
    info.Planes = ReadLe16(data, 12);
    info.BitCount = ReadLe16(data, 14);
    info.Compression = ReadLe32(data, 16);
    info.ClrUsed = ReadLe32(data, 32);
    std::uint32_t w = std::uint32_t(info.BiWidth);
    std::uint32_t h = std::uint32_t(info.BiHeight) >> 1;
    if (w == 0) w = h;
    else if (h == 0) h = w;
    info.Width = w;
    info.Height = h;
    return true;
}

bool IconDibPixelsFit(std::span<const std::uint8_t> data, const TIconDibInfo& info) {
    const bool bitFields = info.Compression == BI_BITFIELDS && (info.BitCount == 16 || info.BitCount == 32);
    if (info.Compression != BI_RGB && !bitFields) return false;
    if (info.Width >= 6000 || info.Height >= 6000) return false;
    std::uint64_t colours = info.ClrUsed;
    if (colours == 0 && info.BitCount <= 8) colours = std::uint64_t(1) << info.BitCount;
    // Every pixel takes at least one bit, whatever the header says, so that a depth of 0
    // cannot make an image of any size out of no data.
    const std::uint64_t bits = std::max<std::uint64_t>(std::uint64_t(info.Planes) * info.BitCount, 1);
    const std::uint64_t rows = ((std::uint64_t(info.Width) * bits + 31) / 32) * 4 * info.Height;
    const std::uint64_t needed = info.HeaderSize + (bitFields && info.HeaderSize == 40 ? 12 : 0) + 4 * colours + rows;
    return needed <= data.size();
}

void SplitIconImage(std::span<const std::uint8_t> data, TBitmap* colour, TBitmap* mask) {
    if (IsPngStream(data)) {
        TPngPicture picture = DecodePngPicture(data);
        if (colour) *colour = std::move(picture.Colour);
        if (mask) *mask = std::move(picture.Mask);
        return;
    }
    TIconDibInfo info;
    if (!ReadIconDibInfo(data, info) || info.Width >= 6000 || info.Height >= 6000) throw Error("Invalid image");
    const int w = int(info.Width), h = int(info.Height);
    const unsigned depth = unsigned(info.Planes) * info.BitCount;

    TDibFormat format;
    format.Width = w;
    format.Height = h;
    format.BitCount = info.BitCount;
    format.Compression = info.Compression;
    std::uint64_t at = info.HeaderSize;
    if (info.Compression == BI_BITFIELDS) {
        if (info.HeaderSize == 40) {
            for (int i = 0; i < 3; ++i) format.Masks[i] = ReadLe32(data, std::size_t(at) + 4 * std::size_t(i));
            at += 12;
        } else {
            for (int i = 0; i < 3; ++i) format.Masks[i] = ReadLe32(data, 40 + 4 * std::size_t(i));
        }
    }
    std::uint64_t colours = info.ClrUsed;
    if (colours == 0 && info.BitCount <= 8) colours = std::uint64_t(1) << info.BitCount;
    if (info.BitCount <= 8) {
        const std::uint64_t kept = std::min<std::uint64_t>(colours, std::uint64_t(1) << info.BitCount);
        for (std::uint64_t i = 0; i < kept; ++i) {
            std::uint8_t q[4];
            CopyAvailable(data, at + 4 * i, 4, q);
            format.Palette.push_back({q[0], q[1], q[2], 0});
        }
    }
    const std::uint64_t xorAt = at + 4 * colours;
    const std::size_t xorSize = PaddedRowSize(info.Width, info.BitCount) * info.Height;

    if (colour) {
        if (info.Planes == 1 && CanReadDibPixels(format)) {
            if (xorAt < data.size()) *colour = ReadDibPixels(format, data.subspan(std::size_t(xorAt)));
            else *colour = ReadDibPixels(format, {});
        } else {
            // Pixels this code cannot read: a black bitmap of the image's size.
            *colour = TBitmap(w, h, HoldableDepth(depth) ? int(depth) : 24);
        }
    }
    if (mask) {
        *mask = NewMaskBitmap(w, h);
        const std::size_t stride = mask->Stride();
        const std::uint64_t andAt = xorAt + xorSize;
        for (int row = 0; row < h; ++row)
            CopyAvailable(data, andAt + std::uint64_t(row) * stride, stride, mask->ScanLine(h - 1 - row));
    }
}

}  // namespace vantrel
