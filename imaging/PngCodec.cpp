#include "imaging/PngCodec.h"

#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <memory>
#include <string>

#include "imaging/ByteIo.h"
#include "imaging/Error.h"

namespace vantrel {

namespace {

std::uint32_t ReadBe32(std::span<const std::uint8_t> b, std::size_t at) {
    return (std::uint32_t(b[at]) << 24) | (std::uint32_t(b[at + 1]) << 16) | (std::uint32_t(b[at + 2]) << 8) |
           std::uint32_t(b[at + 3]);
}

// libpng reports failures through this callback; it stores the text and jumps back to the
// setjmp of the call in progress. Only plain data lives in the frames it jumps over.
struct TPngIo {
    std::span<const std::uint8_t> Input;
    std::size_t Position = 0;
    std::vector<std::uint8_t>* Output = nullptr;
    std::string Message;
};

void OnPngError(png_structp png, png_const_charp message) {
    auto* io = static_cast<TPngIo*>(png_get_error_ptr(png));
    io->Message = message ? message : "unknown error";
    png_longjmp(png, 1);
}

void OnPngWarning(png_structp, png_const_charp) {}

void OnPngRead(png_structp png, png_bytep data, png_size_t length) {
    auto* io = static_cast<TPngIo*>(png_get_io_ptr(png));
    if (!Fits(io->Input.size(), io->Position, length)) png_error(png, "PNG data ends early");
    std::memcpy(data, io->Input.data() + io->Position, length);
    io->Position += length;
}

void OnPngWrite(png_structp png, png_bytep data, png_size_t length) {
    auto* io = static_cast<TPngIo*>(png_get_io_ptr(png));
    io->Output->insert(io->Output->end(), data, data + length);
}

void OnPngFlush(png_structp) {}

// What the decoder learns from the stream, and the decoded rows (top-down).
struct TDecoded {
    png_uint_32 Width = 0, Height = 0;
    int ColorType = 0;
    int BitDepth = 0;
    TPngKind Kind = TPngKind::Rgba;
    std::size_t RowBytes = 0;
    std::vector<std::uint8_t> Rows;
    png_color Palette[256];
    int PaletteCount = 0;
    std::uint8_t PaletteAlpha[256];
    // The tRNS table holds an alpha other than 0 and 255.
    bool SoftPaletteAlpha = false;
    bool HasGreyKey = false;
    unsigned GreyKey = 0;
};

// Deflate cannot compress better than about 1032 to 1: a stream that claims more raw bytes
// than its size allows cannot be complete, and is refused before anything is allocated.
constexpr std::size_t kMaxInflateRatio = 1100;

bool DecodeRows(png_structp png, png_infop info, TPngIo& io, TDecoded& d) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_read_fn(png, &io, OnPngRead);
    png_set_user_limits(png, MaxPngSide, MaxPngSide);
    png_set_chunk_malloc_max(png, 8u << 20);
    png_read_info(png, info);
    int interlace = 0;
    png_get_IHDR(png, info, &d.Width, &d.Height, &d.BitDepth, &d.ColorType, &interlace, nullptr, nullptr);
    const std::size_t channels = png_get_channels(png, info);
    const std::size_t rawRow = 1 + (std::size_t(d.Width) * channels * std::size_t(d.BitDepth) + 7) / 8;
    if (std::uint64_t(rawRow) * d.Height > std::uint64_t(io.Input.size()) * kMaxInflateRatio)
        png_error(png, "PNG data is too short for its size");

    if (d.BitDepth == 16) png_set_strip_16(png);
    std::size_t outChannels = 4;
    switch (d.ColorType) {
        case PNG_COLOR_TYPE_PALETTE: {
            d.Kind = TPngKind::Palette;
            outChannels = 1;
            png_set_packing(png);
            png_colorp palette = nullptr;
            int count = 0;
            if (png_get_PLTE(png, info, &palette, &count) && palette) {
                d.PaletteCount = std::min(count, 256);
                std::memcpy(d.Palette, palette, sizeof(png_color) * std::size_t(d.PaletteCount));
            }
            std::memset(d.PaletteAlpha, 255, sizeof d.PaletteAlpha);
            png_bytep alpha = nullptr;
            int alphaCount = 0;
            if (png_get_tRNS(png, info, &alpha, &alphaCount, nullptr) && alpha) {
                const std::size_t kept = std::size_t(std::clamp(alphaCount, 0, 256));
                std::memcpy(d.PaletteAlpha, alpha, kept);
                d.SoftPaletteAlpha = std::any_of(alpha, alpha + kept, [](std::uint8_t a) { return a != 0 && a != 255; });
            }
            break;
        }
        case PNG_COLOR_TYPE_GRAY: {
            d.Kind = TPngKind::Grey;
            outChannels = 1;
            if (d.BitDepth < 8) png_set_expand_gray_1_2_4_to_8(png);
            png_color_16p key = nullptr;
            if (png_get_tRNS(png, info, nullptr, nullptr, &key) && key) {
                d.HasGreyKey = true;
                unsigned g = key->gray;
                if (d.BitDepth == 16) g >>= 8;
                else if (d.BitDepth < 8) g = g * 255 / ((1u << d.BitDepth) - 1);
                d.GreyKey = g & 0xFF;
            }
            break;
        }
        case PNG_COLOR_TYPE_GRAY_ALPHA:
            d.Kind = TPngKind::GreyAlpha;
            png_set_gray_to_rgb(png);
            png_set_bgr(png);
            break;
        case PNG_COLOR_TYPE_RGB:
            png_set_bgr(png);
            if (png_get_valid(png, info, PNG_INFO_tRNS)) {
                d.Kind = TPngKind::Rgba;
                png_set_tRNS_to_alpha(png);
            } else {
                d.Kind = TPngKind::Rgb;
                outChannels = 3;
            }
            break;
        default:
            d.Kind = TPngKind::Rgba;
            png_set_bgr(png);
            break;
    }
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    d.RowBytes = png_get_rowbytes(png, info);
    if (d.RowBytes != std::size_t(d.Width) * outChannels) png_error(png, "unexpected PNG row layout");
    if (passes > 1) {
        d.Rows.assign(d.RowBytes * d.Height, 0);
        for (int pass = 0; pass < passes; ++pass)
            for (png_uint_32 y = 0; y < d.Height; ++y) png_read_row(png, d.Rows.data() + y * d.RowBytes, nullptr);
    } else {
        // Rows are kept only as they arrive, so a stream that ends early costs no more
        // memory than the data it really holds.
        for (png_uint_32 y = 0; y < d.Height; ++y) {
            d.Rows.resize(d.RowBytes * (y + 1));
            png_read_row(png, d.Rows.data() + y * d.RowBytes, nullptr);
        }
    }
    return true;
}

}  // namespace

bool IsPngStream(std::span<const std::uint8_t> bytes) {
    return bytes.size() > 8 && std::equal(std::begin(PngSignature), std::end(PngSignature), bytes.begin());
}

bool PngDimensions(std::span<const std::uint8_t> bytes, std::uint32_t& width, std::uint32_t& height) {
    if (!IsPngStream(bytes)) return false;
    std::size_t at = 8;
    while (Fits(bytes.size(), at, 8)) {
        const std::uint32_t length = ReadBe32(bytes, at);
        const bool ihdr = std::memcmp(bytes.data() + at + 4, "IHDR", 4) == 0;
        const bool iend = std::memcmp(bytes.data() + at + 4, "IEND", 4) == 0;
        if (ihdr) {
            if (length < 8 || !Fits(bytes.size(), at + 8, 8)) return false;
            width = ReadBe32(bytes, at + 8);
            height = ReadBe32(bytes, at + 12);
            return true;
        }
        if (iend || !Fits(bytes.size(), at + 8, std::size_t(length) + 4)) return false;
        at += 12 + std::size_t(length);
    }
    return false;
}

TPngPicture DecodePngPicture(std::span<const std::uint8_t> bytes) {
    if (!IsPngStream(bytes)) throw Error("PNG image is not valid: no PNG signature");
    TPngIo io;
    io.Input = bytes;
    auto decoded = std::make_unique<TDecoded>();
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &io, OnPngError, OnPngWarning);
    if (!png) throw Error("PNG image is not valid: out of memory");
    png_infop info = png_create_info_struct(png);
    bool ok = info != nullptr && DecodeRows(png, info, io, *decoded);
    png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    if (!ok) throw Error("PNG image is not valid: " + io.Message);

    const TDecoded& d = *decoded;
    const int w = int(d.Width), h = int(d.Height);
    TPngPicture picture;
    picture.Kind = d.Kind;
    picture.Mask = NewMaskBitmap(w, h);
    if (d.Kind == TPngKind::Palette && d.SoftPaletteAlpha) {
        // An 8-bit DIB with a mask would make the soft edges hard: the picture becomes 32-bit
        // colour with each entry's alpha, straight (not premultiplied) as in 32-bit icon DIBs
        // and the RGBA pictures below, with the mask of an RGBA picture. An index past the
        // palette is black, one past the tRNS table opaque.
        picture.Colour = TBitmap(w, h, 32);
        for (int y = 0; y < h; ++y) {
            const std::uint8_t* row = d.Rows.data() + std::size_t(y) * d.RowBytes;
            for (int x = 0; x < w; ++x) {
                const std::uint8_t i = row[x];
                const png_color c = i < d.PaletteCount ? d.Palette[i] : png_color{0, 0, 0};
                picture.Colour.SetBgra(x, y, {c.blue, c.green, c.red, d.PaletteAlpha[i]});
                if (d.PaletteAlpha[i] == 0) picture.Mask.SetIndex(x, y, 1);
            }
        }
        return picture;
    }
    switch (d.Kind) {
        case TPngKind::Palette:
        case TPngKind::Grey: {
            picture.Colour = TBitmap(w, h, 8);
            std::vector<TRgbQuad> palette;
            if (d.Kind == TPngKind::Palette) {
                for (int i = 0; i < d.PaletteCount; ++i)
                    palette.push_back({d.Palette[i].blue, d.Palette[i].green, d.Palette[i].red, 0});
            } else {
                for (unsigned i = 0; i < 256; ++i)
                    palette.push_back({std::uint8_t(i), std::uint8_t(i), std::uint8_t(i), 0});
            }
            picture.Colour.SetPalette(std::move(palette));
            for (int y = 0; y < h; ++y) {
                const std::uint8_t* row = d.Rows.data() + std::size_t(y) * d.RowBytes;
                std::memcpy(picture.Colour.ScanLine(y), row, std::size_t(w));
                for (int x = 0; x < w; ++x) {
                    const bool transparent = d.Kind == TPngKind::Palette ? d.PaletteAlpha[row[x]] < 80
                                                                         : d.HasGreyKey && row[x] == d.GreyKey;
                    if (transparent) picture.Mask.SetIndex(x, y, 1);
                }
            }
            break;
        }
        case TPngKind::Rgb:
            picture.Colour = TBitmap(w, h, 24);
            for (int y = 0; y < h; ++y)
                std::memcpy(picture.Colour.ScanLine(y), d.Rows.data() + std::size_t(y) * d.RowBytes, d.RowBytes);
            break;
        case TPngKind::Rgba:
        case TPngKind::GreyAlpha:
            picture.Colour = TBitmap(w, h, 32);
            for (int y = 0; y < h; ++y) {
                const std::uint8_t* row = d.Rows.data() + std::size_t(y) * d.RowBytes;
                std::memcpy(picture.Colour.ScanLine(y), row, d.RowBytes);
                for (int x = 0; x < w; ++x) {
                    const std::uint8_t a = row[4 * x + 3];
                    if (d.Kind == TPngKind::Rgba ? a == 0 : a < 80) picture.Mask.SetIndex(x, y, 1);
                }
            }
            break;
    }
    return picture;
}

namespace {

struct TEncodeJob {
    int Width = 0, Height = 0;
    int ColorType = PNG_COLOR_TYPE_RGBA;
    int BitDepth = 8;
    bool Bgr = false;
    bool Pack = false;
    const TBitmap* Bitmap = nullptr;           // rows from a bitmap's scan lines
    const std::uint8_t* Indices = nullptr;     // or from one byte per pixel, top-down
    png_color Palette[256];
    int PaletteCount = 0;
    std::uint8_t Alpha[256];
    int AlphaCount = 0;
};

bool EncodeRows(png_structp png, png_infop info, TPngIo& io, const TEncodeJob& job) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_write_fn(png, &io, OnPngWrite, OnPngFlush);
    png_set_IHDR(png, info, png_uint_32(job.Width), png_uint_32(job.Height), job.BitDepth, job.ColorType,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (job.ColorType == PNG_COLOR_TYPE_PALETTE) {
        png_set_PLTE(png, info, job.Palette, job.PaletteCount);
        if (job.AlphaCount > 0) png_set_tRNS(png, info, job.Alpha, job.AlphaCount, nullptr);
    }
    png_write_info(png, info);
    if (job.Bgr) png_set_bgr(png);
    if (job.Pack) png_set_packing(png);
    for (int y = 0; y < job.Height; ++y) {
        png_const_bytep row = job.Bitmap ? job.Bitmap->ScanLine(y) : job.Indices + std::size_t(y) * std::size_t(job.Width);
        png_write_row(png, row);
    }
    png_write_end(png, nullptr);
    return true;
}

std::vector<std::uint8_t> Encode(const TEncodeJob& job) {
    if (job.Width <= 0 || job.Height <= 0) throw Error("PNG image cannot be empty");
    std::vector<std::uint8_t> out;
    TPngIo io;
    io.Output = &out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &io, OnPngError, OnPngWarning);
    if (!png) throw Error("PNG encoding failed: out of memory");
    png_infop info = png_create_info_struct(png);
    bool ok = info != nullptr && EncodeRows(png, info, io, job);
    png_destroy_write_struct(&png, info ? &info : nullptr);
    if (!ok) throw Error("PNG encoding failed: " + io.Message);
    return out;
}

}  // namespace

std::vector<std::uint8_t> EncodePngRgba(const TBitmap& bitmap) {
    if (bitmap.BitCount() != 32) throw Error("PNG encoding failed: RGBA needs a 32-bit bitmap");
    auto job = std::make_unique<TEncodeJob>();
    job->Width = bitmap.Width();
    job->Height = bitmap.Height();
    job->ColorType = PNG_COLOR_TYPE_RGBA;
    job->Bgr = true;
    job->Bitmap = &bitmap;
    return Encode(*job);
}

std::vector<std::uint8_t> EncodePngRgb(const TBitmap& bitmap) {
    const TBitmap converted = bitmap.BitCount() == 24 ? TBitmap() : bitmap.ConvertTo(24);
    const TBitmap& source = bitmap.BitCount() == 24 ? bitmap : converted;
    auto job = std::make_unique<TEncodeJob>();
    job->Width = source.Width();
    job->Height = source.Height();
    job->ColorType = PNG_COLOR_TYPE_RGB;
    job->Bgr = true;
    job->Bitmap = &source;
    return Encode(*job);
}

std::vector<std::uint8_t> EncodePngPalette(int width, int height, std::span<const std::uint8_t> indices,
                                           std::span<const TRgbQuad> palette, std::span<const std::uint8_t> alpha) {
    if (palette.empty() || palette.size() > 256 || alpha.size() > palette.size() ||
        indices.size() != std::size_t(width) * std::size_t(height))
        throw Error("PNG encoding failed: bad palette picture");
    for (std::uint8_t i : indices)
        if (i >= palette.size()) throw Error("PNG encoding failed: index outside the palette");
    auto job = std::make_unique<TEncodeJob>();
    job->Width = width;
    job->Height = height;
    job->ColorType = PNG_COLOR_TYPE_PALETTE;
    job->BitDepth = palette.size() <= 2 ? 1 : palette.size() <= 4 ? 2 : palette.size() <= 16 ? 4 : 8;
    job->Pack = job->BitDepth < 8;
    job->Indices = indices.data();
    job->PaletteCount = int(palette.size());
    for (std::size_t i = 0; i < palette.size(); ++i)
        job->Palette[i] = {palette[i].Red, palette[i].Green, palette[i].Blue};
    job->AlphaCount = int(alpha.size());
    std::copy(alpha.begin(), alpha.end(), job->Alpha);
    return Encode(*job);
}

}  // namespace vantrel
