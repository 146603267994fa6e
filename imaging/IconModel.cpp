#include "imaging/IconModel.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "imaging/ByteIo.h"
#include "imaging/DibPixels.h"
#include "imaging/IconDib.h"
#include "imaging/PixelHelpers.h"
#include "imaging/PngCodec.h"

namespace vantrel {

namespace {

const char* const kInvalidImage = "Invalid image";
const char* const kInvalidBitmap = "Bitmap image is not valid";
constexpr std::uint32_t kMaxSide = 6000;

bool HoldableDepth(int bits) {
    return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

bool AnyMaskSet(const TBitmap& mask) {
    for (int y = 0; y < mask.Height(); ++y)
        for (int x = 0; x < mask.Width(); ++x)
            if (mask.GetIndex(x, y)) return true;
    return false;
}

// A PNG picture of an indexed image: the colours used by opaque pixels keep their order,
// masked pixels use entry 0, which is fully transparent. Empty when that needs more than 256
// entries.
std::vector<std::uint8_t> EncodeIndexedWithMask(const TBitmap& colour, const TBitmap& mask) {
    const int w = colour.Width(), h = colour.Height();
    std::vector<bool> used(256, false);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (!mask.GetIndex(x, y)) used[colour.GetIndex(x, y)] = true;
    std::vector<std::uint8_t> remap(256, 0);
    std::vector<TRgbQuad> palette{TRgbQuad{}};
    for (unsigned i = 0; i < 256; ++i) {
        if (!used[i]) continue;
        if (palette.size() == 256) return {};
        remap[i] = std::uint8_t(palette.size());
        palette.push_back(i < colour.Palette().size() ? colour.Palette()[i] : TRgbQuad{});
    }
    std::vector<std::uint8_t> indices(std::size_t(w) * std::size_t(h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            indices[std::size_t(y) * std::size_t(w) + std::size_t(x)] =
                mask.GetIndex(x, y) ? 0 : remap[colour.GetIndex(x, y)];
    const std::uint8_t alpha[1] = {0};
    return EncodePngPalette(w, h, indices, palette, alpha);
}

// An indexed image without transparency, with its own palette.
std::vector<std::uint8_t> EncodeIndexed(const TBitmap& colour) {
    const int w = colour.Width(), h = colour.Height();
    std::vector<std::uint8_t> indices(std::size_t(w) * std::size_t(h));
    unsigned highest = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const unsigned i = colour.GetIndex(x, y);
            highest = std::max(highest, i);
            indices[std::size_t(y) * std::size_t(w) + std::size_t(x)] = std::uint8_t(i);
        }
    std::vector<TRgbQuad> palette = colour.Palette();
    if (palette.size() <= highest) palette.resize(highest + 1);
    return EncodePngPalette(w, h, indices, palette, {});
}

}  // namespace

// ---------------------------------------------------------------------------------------
// TIconHeader

TIconHeader TIconHeader::FromBytes(std::span<const std::uint8_t> b) {
    TIconHeader h;
    if (b.size() < 12) throw Error(kInvalidImage);
    h.Width = b[0];
    h.Height = b[1];
    h.ColorCount = b[2];
    h.Reserved = b[3];
    h.Planes = ReadLe16(b, 4);
    h.BitCount = ReadLe16(b, 6);
    h.BytesInRes = ReadLe32(b, 8);
    return h;
}

void TIconHeader::ToBytes(std::uint8_t* out) const {
    out[0] = Width;
    out[1] = Height;
    out[2] = ColorCount;
    out[3] = Reserved;
    WriteLe16(out + 4, Planes);
    WriteLe16(out + 6, BitCount);
    WriteLe32(out + 8, BytesInRes);
}

// ---------------------------------------------------------------------------------------
// TSubIcon

void TSubIcon::ReplaceData(std::vector<std::uint8_t> data) {
    handle_.reset();
    bitDepth_ = 0;
    data_ = std::move(data);
    header_.BytesInRes = std::uint32_t(data_.size());
}

void TSubIcon::SetImage(const TIconHeader& header, std::vector<std::uint8_t> data) {
    header_ = header;
    ReplaceData(std::move(data));
    UpdateHeader();
}

void TSubIcon::CopyInto(TSubIcon& copy) const {
    copy.header_ = header_;
    copy.data_ = data_;
    copy.tag_ = tag_;
    copy.handle_ = handle_;
    copy.UpdateHeader();
    copy.storeAsPng_ = storeAsPng_;
}

std::unique_ptr<TSubIcon> TSubIcon::CreateCopy() const {
    auto copy = std::make_unique<TSubIcon>();
    CopyInto(*copy);
    return copy;
}

bool TSubIcon::IsPngData() const { return IsPngStream(data_); }

void TSubIcon::UpdateHeader() {
    if (data_.empty()) return;
    if (IsPngData()) {
        DecodePng(*this);
        storeAsPng_ = true;
        return;
    }
    storeAsPng_ = false;
    TIconDibInfo info;
    if (!ReadIconDibInfo(data_, info)) throw Error(kInvalidImage);
    header_.Planes = info.Planes;
    header_.BitCount = info.BitCount;
    const std::uint32_t depth = std::uint32_t(info.Planes) * info.BitCount;
    bitDepth_ = std::int32_t(depth);
    header_.ColorCount = depth < 8 ? std::uint8_t(1u << depth) : 0;
    header_.Width = info.Width <= 255 ? std::uint8_t(info.Width) : 0;
    header_.Height = info.Height <= 255 ? std::uint8_t(info.Height) : 0;
    if (depth > 32 || info.Width >= kMaxSide || info.Height >= kMaxSide) throw Error(kInvalidImage);
    // An image without a single pixel (width and height both 0) is no image.
    if (info.Width == 0) throw Error(kInvalidImage);
    // Pixels are only ever made for rows the data really holds, so a header cannot make
    // this code allocate more than the data justifies.
    if (!IconDibPixelsFit(data_, info)) throw Error(kInvalidImage);
}

int TSubIcon::GetWidth() const {
    if (data_.empty()) return 0;
    std::uint32_t w = 0, h = 0;
    if (IsPngData()) return PngDimensions(data_, w, h) ? int(std::min(w, kMaxSide)) : 0;
    TIconDibInfo info;
    return ReadIconDibInfo(data_, info) ? int(std::min(info.Width, kMaxSide)) : 0;
}

int TSubIcon::GetHeight() const {
    if (data_.empty()) return 0;
    std::uint32_t w = 0, h = 0;
    if (IsPngData()) return PngDimensions(data_, w, h) ? int(std::min(h, kMaxSide)) : 0;
    TIconDibInfo info;
    return ReadIconDibInfo(data_, info) ? int(std::min(info.Height, kMaxSide)) : 0;
}

int TSubIcon::GetBitDepth() const {
    if (data_.empty()) return 0;
    if (bitDepth_ == 0) {
        TIconDibInfo info;
        if (!IsPngData() && ReadIconDibInfo(data_, info)) bitDepth_ = std::int32_t(info.Planes) * info.BitCount;
        else bitDepth_ = std::int32_t(header_.Planes) * header_.BitCount;
    }
    return bitDepth_;
}

const HICON& TSubIcon::GetHandle() const {
    if (!handle_ && !data_.empty()) handle_ = CreateIconFromResource(data_);
    return handle_;
}

std::unique_ptr<THiResIcon> TSubIcon::CreatePicture() const { return std::make_unique<THiResIcon>(GetHandle()); }

void TSubIcon::Draw(TBitmap& canvas, int x, int y) const { DrawIconEx(canvas, x, y, GetHandle()); }

void TSubIcon::AssignTo(TBitmap& target) const {
    const int depth = GetBitDepth();
    TBitmap colour;
    SplitToBitmaps(&colour, nullptr);
    TBitmap out(GetWidth(), GetHeight(), HoldableDepth(depth) ? depth : target.BitCount());
    if (out.IsIndexed() && colour.BitCount() == out.BitCount()) out.SetPalette(colour.Palette());
    Draw(out, 0, 0);
    target = std::move(out);
}

void TSubIcon::AssignTo(TSubIcon& target) const {
    if (&target == this) return;
    target.handle_.reset();
    target.header_ = header_;
    target.data_ = data_;
    target.tag_ = tag_;
    target.storeAsPng_ = storeAsPng_;
    target.bitDepth_ = 0;
}

void TSubIcon::SplitToBitmaps(TBitmap* colour, TBitmap* mask) const {
    if (data_.empty()) {
        if (colour) *colour = TBitmap(0, 0, 24);
        if (mask) *mask = NewMaskBitmap(0, 0);
        return;
    }
    SplitIconImage(data_, colour, mask);
}

void TSubIcon::DecodePng(TSubIcon& target) {
    TPngPicture picture = DecodePngPicture(data_);
    const int askedBits = header_.BitCount;
    if (&target != this) {
        target.header_ = header_;
        target.tag_ = tag_;
        target.bitDepth_ = 0;
    }
    // A directory entry asking for fewer bits gets its pixels at that depth. A palette
    // picture with soft alpha stays at 32 bits: its entry names the palette's depth, and
    // fewer bits would lose the alpha again.
    TBitmap& colour = picture.Colour;
    const bool softPalette = picture.Kind == TPngKind::Palette && colour.BitCount() == 32;
    if ((askedBits == 4 || askedBits == 1 || askedBits == 8) && colour.BitCount() != askedBits && !softPalette) {
        if (askedBits == 8) {
            TBitmap exact;
            if (BuildExactPalette(colour, exact, true, false)) colour = std::move(exact);
            else colour = colour.ConvertTo(8);
        } else {
            colour = colour.ConvertTo(askedBits);
        }
    }
    TSubIconList scratch;
    scratch.AddFromBitmaps(colour, &picture.Mask, 0);
    const std::uint32_t tag = target.tag_;
    target.Assign(*scratch.Get(0));
    target.tag_ = tag;
    target.storeAsPng_ = false;
}

void TSubIcon::EncodePng(TSubIcon& target) {
    if (IsPngData() && &target == this) {
        storeAsPng_ = true;
        return;
    }
    TBitmap colour, mask;
    SplitToBitmaps(&colour, &mask);
    std::vector<std::uint8_t> png;
    if (colour.BitCount() == 32) {
        bool anyAlpha = false;
        for (int y = 0; y < colour.Height() && !anyAlpha; ++y)
            for (int x = 0; x < colour.Width() && !anyAlpha; ++x) anyAlpha = colour.GetBgra(x, y).A != 0;
        if (anyAlpha) {
            png = EncodePngRgba(colour);
        } else {
            // A 32-bit image without alpha is drawn through its mask; its picture must be too,
            // or it would come out wholly transparent.
            TBitmap opaque(colour.Width(), colour.Height(), 24);
            for (int y = 0; y < colour.Height(); ++y)
                for (int x = 0; x < colour.Width(); ++x) opaque.SetPixel(x, y, colour.GetPixel(x, y));
            TBitmap joined;
            JoinColourAndMask(opaque, &mask, joined);
            png = EncodePngRgba(joined);
        }
    } else if (!AnyMaskSet(mask)) {
        png = colour.IsIndexed() ? EncodeIndexed(colour) : EncodePngRgb(colour);
    } else {
        if (colour.IsIndexed()) png = EncodeIndexedWithMask(colour, mask);
        if (png.empty()) {
            TBitmap joined;
            JoinColourAndMask(colour, &mask, joined);
            png = EncodePngRgba(joined);
        }
    }
    if (&target != this) {
        target.header_ = header_;
        target.tag_ = tag_;
    }
    target.ReplaceData(std::move(png));
    target.storeAsPng_ = true;
}

// ---------------------------------------------------------------------------------------
// Subclasses

std::unique_ptr<TFileIconImage> TFileIconImage::CreateFromStream(TMemoryStream& stream, const TIconDirEntry& entry) {
    if (entry.Header.BytesInRes > stream.Size()) throw Error(kInvalidImage);
    std::vector<std::uint8_t> data(entry.Header.BytesInRes, 0);
    // An entry running past the end of the stream: the missing bytes stay zero.
    stream.Read(data.data(), data.size());
    return CreateFromData(entry.Header, std::move(data));
}

std::unique_ptr<TFileIconImage> TFileIconImage::CreateFromBitmapStream(TMemoryStream& stream,
                                                                        const TIconDirEntry& entry) {
    const std::size_t position = stream.Position();
    try {
        auto image = CreateFromStream(stream, entry);
        stream.Seek(position);
        return image;
    } catch (...) {
        stream.Seek(position);
        throw;
    }
}

std::unique_ptr<TFileIconImage> TFileIconImage::CreateFromData(const TIconHeader& header,
                                                                std::vector<std::uint8_t> data) {
    auto image = std::make_unique<TFileIconImage>();
    image->SetImage(header, std::move(data));
    return image;
}

std::unique_ptr<TSubIcon> TFileIconImage::CreateCopy() const {
    auto copy = std::make_unique<TFileIconImage>();
    CopyInto(*copy);
    return copy;
}

std::unique_ptr<TSubIcon> TResourceIconImage::CreateCopy() const {
    auto copy = std::make_unique<TResourceIconImage>();
    CopyInto(*copy);
    return copy;
}

std::unique_ptr<TSubIcon> TICL16IconImage::CreateCopy() const {
    auto copy = std::make_unique<TICL16IconImage>();
    CopyInto(*copy);
    return copy;
}

// ---------------------------------------------------------------------------------------
// TSubIconList

void TSubIconList::SetCapacity(std::uint16_t capacity) {
    capacity_ = std::max<std::uint16_t>(capacity, Count());
    items_.reserve(capacity_);
}

void TSubIconList::Add(std::unique_ptr<TSubIcon> image) {
    if (!image) return;
    if (items_.size() >= MaxCount) throw Error("Too many images in icon");
    items_.push_back(std::move(image));
    if (capacity_ < Count()) capacity_ = Count();
}

TSubIcon* TSubIconList::Get(int index) const {
    if (index < 0 || index >= int(items_.size())) return nullptr;
    return items_[std::size_t(index)].get();
}

void TSubIconList::Clear() {
    items_.clear();
    capacity_ = 0;
}

void TSubIconList::AddFromBitmaps(const TBitmap& colourIn, const TBitmap* maskIn, std::uint8_t threshold) {
    TBitmap colour = colourIn;
    TBitmap ownMask;
    const TBitmap* mask = maskIn;
    if (colour.BitCount() == 32 && maskIn == nullptr) {
        MaskFromAlphaAtMost(colour, ownMask, threshold);
        if (ownMask.Width() == 0) ownMask = NewMaskBitmap(1, 1);
        mask = &ownMask;
    }
    if (colour.BitCount() == 16 || colour.Empty()) {
        TBitmap redrawn(colour.Empty() ? 1 : colour.Width(), colour.Empty() ? 1 : colour.Height(), 24);
        for (int y = 0; y < colour.Height(); ++y)
            for (int x = 0; x < colour.Width(); ++x) redrawn.SetPixel(x, y, colour.GetPixel(x, y));
        colour = std::move(redrawn);
    }
    const bool useMask = mask != nullptr && mask->Width() > 0;
    TMemoryStream colourStream(colour.SaveToBmp());
    colourStream.Seek(14);
    TMemoryStream maskStream;
    if (useMask) {
        // The mask's rows go into the image as they are, so they must be 1-bit rows of the
        // colour's size; any other mask is redrawn to that first.
        TBitmap fitted = NewMaskBitmap(colour.Width(), colour.Height());
        if (mask->BitCount() == 1 && mask->Palette() == fitted.Palette() && mask->Width() == colour.Width() &&
            mask->Height() == colour.Height()) {
            fitted = *mask;
        } else {
            for (int y = 0; y < std::min(colour.Height(), mask->Height()); ++y)
                for (int x = 0; x < std::min(colour.Width(), mask->Width()); ++x)
                    if (MaskPixelSet(*mask, x, y)) fitted.SetIndex(x, y, 1);
        }
        maskStream = TMemoryStream(fitted.SaveToBmp());
        maskStream.Seek(ReadLe32(maskStream.Bytes(), 10));
    }
    // Without a mask every pixel is opaque.
    AddFromBitmapStreams(colourStream, useMask ? &maskStream : nullptr, 0, colourStream.Size() - 14);
}

void TSubIconList::AddFromBitmapStreams(TMemoryStream& colour, TMemoryStream* mask, std::uint8_t fill,
                                        std::size_t remaining) {
    remaining = std::min(remaining, colour.Remaining());
    std::size_t consumed = 0;
    auto take = [&](void* buffer, std::size_t count) {
        if (count > remaining - consumed || !colour.ReadExact(buffer, count)) throw Error(kInvalidBitmap);
        consumed += count;
    };

    std::uint8_t sizeBytes[4];
    take(sizeBytes, 4);
    const std::uint32_t headerSize = ReadLe32(sizeBytes, 0);
    std::vector<std::uint8_t> header;
    bool coreHeader = false;
    if (headerSize == 12) {
        std::uint8_t core[8];
        take(core, 8);
        header.assign(40, 0);
        WriteLe32(header.data(), 40);
        WriteLe32(header.data() + 4, ReadLe16(core, 0));
        WriteLe32(header.data() + 8, ReadLe16(core, 2));
        WriteLe16(header.data() + 12, ReadLe16(core, 4));
        WriteLe16(header.data() + 14, ReadLe16(core, 6));
        coreHeader = true;
    } else {
        if (headerSize < 40 || headerSize > remaining) throw Error(kInvalidBitmap);
        header.resize(headerSize);
        std::memcpy(header.data(), sizeBytes, 4);
        take(header.data() + 4, headerSize - 4);
    }
    const auto width = std::int32_t(ReadLe32(header, 4));
    const auto height = std::int32_t(ReadLe32(header, 8));
    const std::uint16_t planes = ReadLe16(header, 12);
    const std::uint16_t bitCount = ReadLe16(header, 14);
    const std::uint32_t compression = ReadLe32(header, 16);
    std::uint32_t sizeImage = ReadLe32(header, 20);
    std::uint32_t clrUsed = ReadLe32(header, 32);
    if (planes != 1) throw Error(kInvalidBitmap);
    if (width < 0 || height == INT32_MIN) throw Error(kInvalidBitmap);
    const std::uint32_t rows = std::uint32_t(height < 0 ? -height : height);
    if (std::uint32_t(width) >= kMaxSide || rows >= kMaxSide || bitCount > 32) throw Error(kInvalidImage);

    // A 40-byte header with bit fields is followed by its three colour masks; they stay with
    // the image, which cannot be read without them.
    std::vector<std::uint8_t> masks;
    if (headerSize == 40 && compression == BI_BITFIELDS && (bitCount == 16 || bitCount == 32)) {
        masks.resize(12);
        take(masks.data(), 12);
    }

    if (clrUsed == 0 && (bitCount == 1 || bitCount == 4 || bitCount == 8)) clrUsed = 1u << bitCount;
    const std::size_t entrySize = coreHeader ? 3 : 4;
    if (clrUsed > (remaining - consumed) / entrySize) throw Error(kInvalidBitmap);
    std::vector<std::uint8_t> table(std::size_t(clrUsed) * 4, 0);
    for (std::uint32_t i = 0; i < clrUsed; ++i) take(table.data() + 4 * std::size_t(i), entrySize);

    const std::size_t xorRowsSize = PaddedRowSize(std::uint32_t(width), bitCount) * rows;
    if (sizeImage == 0) sizeImage = std::uint32_t(xorRowsSize);
    const std::size_t available = remaining - consumed;
    // Uncompressed rows always take their full size (rows the stream lacks stay zero), so
    // that the mask rows after them are where readers look for them.
    const bool uncompressed = compression == BI_RGB || compression == BI_BITFIELDS;
    const std::size_t xorSize = uncompressed ? xorRowsSize : std::min<std::size_t>(sizeImage, available);
    std::vector<std::uint8_t> xorBytes(xorSize, 0);
    colour.Read(xorBytes.data(), std::min(xorSize, available));

    const std::size_t andSize = PaddedRowSize(std::uint32_t(width), 1) * rows;
    sizeImage = std::uint32_t(xorSize + andSize);
    WriteLe32(header.data() + 8, std::uint32_t(height) * 2);
    WriteLe32(header.data() + 20, sizeImage);
    WriteLe32(header.data() + 32, clrUsed);

    TIconHeader entry;
    entry.Width = std::uint8_t(width);
    entry.Height = std::uint8_t(height);
    entry.ColorCount = bitCount == 1 ? 2 : bitCount == 4 ? 16 : 0;
    entry.Reserved = 0;
    entry.Planes = planes;
    entry.BitCount = bitCount;

    std::vector<std::uint8_t> data;
    data.reserve(header.size() + masks.size() + table.size() + xorSize + andSize);
    data.insert(data.end(), header.begin(), header.end());
    data.insert(data.end(), masks.begin(), masks.end());
    data.insert(data.end(), table.begin(), table.end());
    data.insert(data.end(), xorBytes.begin(), xorBytes.end());
    const std::size_t andAt = data.size();
    data.resize(andAt + andSize, mask ? 0 : fill);
    if (mask) mask->Read(data.data() + andAt, andSize);
    entry.BytesInRes = std::uint32_t(data.size());
    Add(TFileIconImage::CreateFromData(entry, std::move(data)));
}

// ---------------------------------------------------------------------------------------
// TAdvancedIcon

bool TAdvancedIcon::ReadIconHeader(TMemoryStream& stream, std::uint16_t& count) {
    std::uint8_t b[6];
    count = 0;
    if (!stream.ReadExact(b, 6)) return false;
    const std::uint16_t reserved = ReadLe16(b, 0), type = ReadLe16(b, 2);
    if (reserved != 0 || (type != 1 && type != 2)) return false;
    count = ReadLe16(b, 4);
    // Never reserve more slots than the directory could describe.
    const std::size_t fit = stream.Remaining() / 16;
    images_.SetCapacity(std::uint16_t(std::min<std::size_t>(count, fit)));
    return true;
}

bool TAdvancedIcon::LoadFromFile(const std::filesystem::path& path) {
    images_.Clear();
    TMemoryStream stream(ReadWholeFile(path));
    return LoadFromStream(stream);
}

bool TAdvancedIcon::LoadFromBytes(std::span<const std::uint8_t> bytes) {
    TMemoryStream stream(bytes);
    return LoadFromStream(stream);
}

bool TAdvancedIcon::LoadFromStream(TMemoryStream& stream) {
    images_.Clear();
    stream.Seek(0);
    std::uint16_t count = 0;
    if (!ReadIconHeader(stream, count)) return false;
    const std::size_t fileSize = stream.Size();
    for (unsigned i = 0; i < count; ++i) {
        std::uint8_t raw[16];
        if (!stream.ReadExact(raw, 16)) break;
        TIconDirEntry entry;
        entry.Header = TIconHeader::FromBytes(raw);
        entry.ImageOffset = ReadLe32(raw, 12);
        const std::size_t position = stream.Position();
        if (entry.ImageOffset < position || entry.ImageOffset >= fileSize) break;
        if (entry.Header.BytesInRes <= 40 || entry.Header.BytesInRes > fileSize) continue;
        stream.Seek(entry.ImageOffset);
        try {
            images_.Add(TFileIconImage::CreateFromStream(stream, entry));
        } catch (const Error&) {
            // An image that cannot be read is left out.
        }
        stream.Seek(position);
    }
    return images_.Count() > 0;
}

void TAdvancedIcon::SaveToStream(TMemoryStream& stream) const {
    const std::uint16_t count = images_.Count();
    if (count == 0) return;
    const TSubIconList* list = &images_;
    TSubIconList encoded;
    bool needsEncoding = false;
    for (int i = 0; i < count; ++i) {
        const TSubIcon* image = images_.Get(i);
        needsEncoding = needsEncoding || (image->StoreAsPng() && !image->IsPngData());
    }
    if (needsEncoding) {
        // Images to be stored as PNG are encoded into fresh images; the icon itself keeps
        // its DIBs.
        for (int i = 0; i < count; ++i) {
            TSubIcon* image = images_.Get(i);
            auto fresh = std::make_unique<TFileIconImage>();
            if (image->StoreAsPng() && !image->IsPngData()) image->EncodePng(*fresh);
            else fresh->Assign(*image);
            encoded.Add(std::move(fresh));
        }
        list = &encoded;
    }
    const std::size_t base = stream.Position();
    std::uint8_t head[6];
    WriteLe16(head, 0);
    WriteLe16(head + 2, 1);
    WriteLe16(head + 4, count);
    stream.Write(head, 6);
    for (int i = 0; i < count; ++i) {
        std::uint8_t entry[16] = {};
        list->Get(i)->Header().ToBytes(entry);
        stream.Write(entry, 16);
    }
    for (int i = 0; i < count; ++i) {
        const TSubIcon* image = list->Get(i);
        const std::size_t offset = stream.Position();
        std::uint8_t field[4];
        WriteLe32(field, std::uint32_t(offset - base));
        stream.Seek(base + 18 + 16 * std::size_t(i));
        stream.Write(field, 4);
        stream.Seek(offset);
        stream.Write(image->Data());
    }
}

std::vector<std::uint8_t> TAdvancedIcon::SaveToBytes() const {
    TMemoryStream stream;
    SaveToStream(stream);
    return stream.TakeBytes();
}

void TAdvancedIcon::SaveToFile(const std::filesystem::path& path) const {
    if (images_.Count() == 0) throw Error("No images in icon");
    const std::vector<std::uint8_t> bytes = SaveToBytes();
    if (!bytes.empty()) WriteWholeFile(path, bytes);
}

void TAdvancedIcon::Assign(const TAdvancedIcon& source) {
    if (&source == this) return;
    images_.Clear();
    images_.SetCapacity(source.images_.Count());
    for (int i = 0; i < source.images_.Count(); ++i) images_.Add(source.images_.Get(i)->CreateCopy());
}

TBitmap IconImageToBgra(const TSubIcon& image) {
    TBitmap colour, mask, result;
    image.SplitToBitmaps(&colour, &mask);
    if (colour.BitCount() == 32) {
        for (int y = 0; y < colour.Height(); ++y)
            for (int x = 0; x < colour.Width(); ++x)
                if (colour.GetBgra(x, y).A != 0) return colour;
        colour = colour.ConvertTo(24);
    }
    JoinColourAndMask(colour, &mask, result);
    return result;
}

}  // namespace vantrel
