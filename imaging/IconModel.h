// The multi-image icon model: an icon is an ordered list of images, each one ICO directory
// entry's 12 header bytes and the image's resource bytes (a DIB with its AND mask). PNG
// entries are decoded to DIBs when read and encoded again when written.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <vector>

#include "imaging/Bitmap.h"
#include "imaging/Error.h"
#include "imaging/IconHandle.h"
#include "imaging/Stream.h"

namespace vantrel {

class TPeResources;
struct TResName;

// The first 12 bytes of an ICO directory entry, in file order.
struct TIconHeader {
    std::uint8_t Width = 0;       // 0 = 256 or more
    std::uint8_t Height = 0;      // 0 = 256 or more
    std::uint8_t ColorCount = 0;
    std::uint8_t Reserved = 0;
    std::uint16_t Planes = 0;
    std::uint16_t BitCount = 0;
    std::uint32_t BytesInRes = 0;

    static TIconHeader FromBytes(std::span<const std::uint8_t> bytes);  // at least 12 bytes
    void ToBytes(std::uint8_t* out) const;                              // writes 12 bytes
    friend bool operator==(const TIconHeader&, const TIconHeader&) = default;
};

// A 16-byte ICO directory entry.
struct TIconDirEntry {
    TIconHeader Header;
    std::uint32_t ImageOffset = 0;
};

// One image of an icon.
class TSubIcon {
public:
    TSubIcon() = default;
    virtual ~TSubIcon() = default;
    TSubIcon(const TSubIcon&) = delete;
    TSubIcon& operator=(const TSubIcon&) = delete;

    // A new image of the same class holding a copy of this one: header, data and tag are
    // copied and the handle shared, the header is recomputed (PNG bytes are decoded), and
    // the copy takes this image's StoreAsPng.
    virtual std::unique_ptr<TSubIcon> CreateCopy() const;

    const TIconHeader& Header() const { return header_; }
    const std::vector<std::uint8_t>& Data() const { return data_; }
    std::uint32_t Tag() const { return tag_; }
    void SetTag(std::uint32_t tag) { tag_ = tag; }
    bool StoreAsPng() const { return storeAsPng_; }
    void SetStoreAsPng(bool value) { storeAsPng_ = value; }

    // Recomputes the header from the data; PNG data is decoded to a DIB (StoreAsPng set).
    // Fails with "Invalid image" for a DIB deeper than 32 bits, 6000 pixels wide or high or
    // without pixels,
    // and for one whose colour rows the data does not hold or that is compressed.
    void UpdateHeader();

    // Width and height of the image (a 0 side takes the other's value), planes x bits.
    // All 0 for an image without data.
    int GetWidth() const;
    int GetHeight() const;
    int GetBitDepth() const;

    // The image's icon handle, made on first use and kept.
    const HICON& GetHandle() const;
    // A new picture holding the image's handle.
    std::unique_ptr<THiResIcon> CreatePicture() const;
    // Draws the image at (x, y) at its own size (DrawIconEx, DI_NORMAL).
    void Draw(TBitmap& canvas, int x, int y) const;

    // To a bitmap: the bitmap takes the image's depth (1, 4, 8, 16, 24 or 32 bits, with the
    // image's palette; other depths keep the bitmap's), the image's size, and the image drawn
    // over black at (0, 0).
    virtual void AssignTo(TBitmap& target) const;
    // To another image: the target's handle is dropped and it takes this image's header,
    // data (deep copy), tag and StoreAsPng.
    virtual void AssignTo(TSubIcon& target) const;
    void Assign(const TSubIcon& source) { source.AssignTo(*this); }

    bool IsPngData() const;
    // Turns this image's PNG data into a DIB image in `target` (which may be this image).
    void DecodePng(TSubIcon& target);
    // Turns this image's DIB into PNG data in `target` (which may be this image) and sets
    // the target's StoreAsPng.
    void EncodePng(TSubIcon& target);
    // The colour (XOR) pixels at the image's depth and the AND mask (1 bit, set =
    // transparent). Either may be null. An image without data gives empty bitmaps; pixels
    // that cannot be read give a black colour bitmap of the image's size.
    void SplitToBitmaps(TBitmap* colour, TBitmap* mask) const;

protected:
    // Takes a header and resource bytes, sets BytesInRes to their size and runs UpdateHeader.
    void SetImage(const TIconHeader& header, std::vector<std::uint8_t> data);
    void CopyInto(TSubIcon& copy) const;

private:
    void ReplaceData(std::vector<std::uint8_t> data);

    mutable std::int32_t bitDepth_ = 0;
    mutable HICON handle_;
    TIconHeader header_;
    std::vector<std::uint8_t> data_;
    std::uint32_t tag_ = 0;
    bool storeAsPng_ = false;
};

// An image read from an ICO file stream or built from bitmaps.
class TFileIconImage : public TSubIcon {
public:
    TFileIconImage() = default;
    // Reads the entry's BytesInRes bytes at the stream's position (bytes the stream does not
    // have read as zero; an entry claiming more than the whole stream fails with "Invalid
    // image").
    static std::unique_ptr<TFileIconImage> CreateFromStream(TMemoryStream& stream, const TIconDirEntry& entry);
    // The same, restoring the stream's position afterwards.
    static std::unique_ptr<TFileIconImage> CreateFromBitmapStream(TMemoryStream& stream, const TIconDirEntry& entry);
    static std::unique_ptr<TFileIconImage> CreateFromData(const TIconHeader& header, std::vector<std::uint8_t> data);
    std::unique_ptr<TSubIcon> CreateCopy() const override;
};

// An image from an executable's kRtIcon resource.
class TResourceIconImage : public TSubIcon {
public:
    TResourceIconImage() = default;
    // `header` from the group's entry; BytesInRes becomes the resource's real size.
    TResourceIconImage(const TIconHeader& header, std::vector<std::uint8_t> data) { SetImage(header, std::move(data)); }
    std::unique_ptr<TSubIcon> CreateCopy() const override;
};

// An image read from a 16-bit icon library.
class TICL16IconImage : public TSubIcon {
public:
    TICL16IconImage() = default;
    TICL16IconImage(const TIconHeader& header, std::vector<std::uint8_t> data) { SetImage(header, std::move(data)); }
    std::unique_ptr<TSubIcon> CreateCopy() const override;
};

// The owned, ordered images of an icon; at most 65535, as in the ICO count field.
class TSubIconList {
public:
    static constexpr std::size_t MaxCount = 65535;

    std::uint16_t Count() const { return std::uint16_t(items_.size()); }
    std::uint16_t Capacity() const { return capacity_; }
    void SetCapacity(std::uint16_t capacity);
    // Appends; fails when the list already holds 65535 images.
    void Add(std::unique_ptr<TSubIcon> image);
    // The image at `index`, or null outside 0 .. Count - 1.
    TSubIcon* Get(int index) const;
    TSubIcon* operator[](int index) const { return Get(index); }
    void Clear();

    // Appends a new image made from a colour bitmap and its mask (null = no mask: a 32-bit
    // colour then takes a mask transparent where alpha <= threshold). Colours of 16 bits, and
    // empty colour bitmaps (as 1 x 1), are stored at 24 bits.
    void AddFromBitmaps(const TBitmap& colour, const TBitmap* mask, std::uint8_t threshold);
    // Appends an image from a BMP info header, colour table and pixels at the colour stream's
    // position, with AND mask rows from the mask stream's position, or every mask byte equal
    // to `fill` without one. `remaining` bounds what is read from the colour stream.
    // Fails with "Bitmap image is not valid" (planes other than 1, a header that does not
    // fit) or "Invalid image".
    void AddFromBitmapStreams(TMemoryStream& colour, TMemoryStream* mask, std::uint8_t fill, std::size_t remaining);

private:
    std::vector<std::unique_ptr<TSubIcon>> items_;
    std::uint16_t capacity_ = 0;
};

// A multi-image icon.
class TAdvancedIcon {
public:
    TAdvancedIcon() = default;
    virtual ~TAdvancedIcon() = default;
    TAdvancedIcon(const TAdvancedIcon&) = delete;
    TAdvancedIcon& operator=(const TAdvancedIcon&) = delete;

    TSubIconList& Images() { return images_; }
    const TSubIconList& Images() const { return images_; }

    // Reads the 6-byte ICO header: true when reserved is 0 and the type 1 (icon) or
    // 2 (cursor); then reserves slots for the images.
    bool ReadIconHeader(TMemoryStream& stream, std::uint16_t& count);
    // Clears the images and reads an ICO file; true when at least one image was read.
    // A file that cannot be opened fails with "Cannot open file ...".
    bool LoadFromFile(const std::filesystem::path& path);
    // The same from an ICO file image held in memory (the stream from position 0).
    bool LoadFromStream(TMemoryStream& stream);
    bool LoadFromBytes(std::span<const std::uint8_t> bytes);
    // Clears the images and reads the icon group `group` (kRtGroupIcon) of an executable's
    // resources with its kRtIcon images; false when the group's header is invalid. A group
    // or image resource that is missing or lies outside the file fails with EResourceError,
    // an image that cannot be read with "Invalid image".
    bool LoadFromResource(const TPeResources& module, const TResName& group);

    // Writes the icon as an ICO file image at the stream's position (nothing without images).
    void SaveToStream(TMemoryStream& stream) const;
    std::vector<std::uint8_t> SaveToBytes() const;
    // Fails with "No images in icon" when there are none; else creates or replaces `path`.
    void SaveToFile(const std::filesystem::path& path) const;

    // Becomes a deep copy of `source` (a CreateCopy of each image, in order).
    virtual void Assign(const TAdvancedIcon& source);

private:
    TSubIconList images_;
};

// A cursor file's images; read like an icon and written as one.
class TAdvancedCursor : public TAdvancedIcon {};

// The image as 32-bit pixels with alpha, as it looks over a transparent background: a
// 32-bit image with alpha as it is, any other image opaque where its mask is clear and
// transparent where it is set.
TBitmap IconImageToBgra(const TSubIcon& image);

}  // namespace vantrel
