#include "imaging/IconLibrary.h"

#include <algorithm>
#include <system_error>

#include "imaging/ByteIo.h"
#include "imaging/IconLibrary16.h"

namespace vantrel {

namespace {

TProcessMessagesHook& Hook() {
    static TProcessMessagesHook hook;
    return hook;
}

std::string PathText(const std::filesystem::path& path) {
    const std::u8string u8 = path.u8string();
    return std::string(u8.begin(), u8.end());
}

bool IcoExtension(const std::filesystem::path& path) {
    std::string ext = PathText(path.extension());
    std::transform(ext.begin(), ext.end(), ext.begin(), [](char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : c; });
    return ext == ".ico";
}

}  // namespace

void SetProcessMessagesHook(TProcessMessagesHook hook) { Hook() = std::move(hook); }

void ProcessMessages() {
    if (Hook()) Hook()();
}

// ---------------------------------------------------------------------------------------
// TIconList

void TIconList::Add(std::string name, std::unique_ptr<TAdvancedIcon> icon) {
    items_.push_back({std::move(name), std::move(icon)});
}

void TIconList::AddIcon(std::string name, std::unique_ptr<TAdvancedIcon> icon) {
    if (!icon) return;
    if (name.empty()) name = "Icon " + std::to_string(Count() + 1);
    Add(std::move(name), std::move(icon));
}

void TIconList::Delete(int index) { items_.erase(items_.begin() + std::ptrdiff_t(index)); }

int TIconList::IndexOf(std::string_view name) const {
    for (std::size_t i = 0; i < items_.size(); ++i)
        if (items_[i].Name == name) return int(i);
    return -1;
}

void TIconList::TakeAll(TIconList& other) {
    for (Item& item : other.items_) items_.push_back(std::move(item));
    other.items_.clear();
}

// ---------------------------------------------------------------------------------------
// TAdvancedIcon::LoadFromResource

bool TAdvancedIcon::LoadFromResource(const TPeResources& module, const TResName& group) {
    Images().Clear();
    const auto groupBytes = module.Find(kRtGroupIcon, group);
    if (!groupBytes) throw EResourceError("Icon group " + group.Text() + " not found");
    TMemoryStream stream(*groupBytes);
    std::uint16_t count = 0;
    if (!ReadIconHeader(stream, count)) return false;
    for (std::uint16_t i = 0; i < count; ++i) {
        std::uint8_t entry[14];
        // Entries beyond the group's data do not exist, whatever its count says.
        if (!stream.ReadExact(entry, sizeof entry)) break;
        const std::uint16_t id = ReadLe16(entry, 12);
        const auto data = module.Find(kRtIcon, TResName::FromId(id));
        if (!data) throw EResourceError("Icon resource " + std::to_string(id) + " of group " + group.Text() + " not found");
        // An image resource without a byte is no image (it would be written as an empty entry).
        if (data->empty()) throw Error("Invalid image");
        Images().Add(std::make_unique<TResourceIconImage>(TIconHeader::FromBytes(entry),
                                                          std::vector<std::uint8_t>(data->begin(), data->end())));
    }
    return true;
}

// ---------------------------------------------------------------------------------------
// T32BitReader

T32BitReader::T32BitReader(const std::filesystem::path& fileName) : TICLReader(fileName) {}

T32BitReader::T32BitReader(std::filesystem::path fileName, std::shared_ptr<const std::vector<std::uint8_t>> bytes)
    : TICLReader(std::move(fileName)), bytes_(std::move(bytes)) {}

bool T32BitReader::Map() {
    if (loaded_) return true;
    try {
        if (!bytes_) bytes_ = std::make_shared<const std::vector<std::uint8_t>>(ReadWholeFile(FileName()));
    } catch (const Error&) {
        return false;
    }
    auto module = std::make_unique<TPeResources>(bytes_);
    if (!module->Valid()) return false;
    module_ = std::move(module);
    loaded_ = true;
    return true;
}

bool T32BitReader::Enumerate(bool withIcons) {
    names_.Clear();
    groups_.clear();
    if (!Map()) return false;
    try {
        groups_ = module_->Names(kRtGroupIcon);
    } catch (const EResourceError&) {
        // The platform's enumeration gives up on a damaged directory: no groups.
        return false;
    }
    for (const TResName& group : groups_) {
        std::unique_ptr<TAdvancedIcon> icon;
        if (withIcons) {
            icon = std::make_unique<TAdvancedIcon>();
            icon->LoadFromResource(*module_, group);
        }
        names_.Add(group.Text(), std::move(icon));
        if (withIcons) ProcessMessages();
    }
    return true;
}

bool T32BitReader::Load() { return Enumerate(true); }

bool T32BitReader::LoadNames() { return Enumerate(false); }

std::unique_ptr<TAdvancedIcon> T32BitReader::LoadIcon(int position) {
    if (!loaded_ || position < 0 || std::size_t(position) >= groups_.size()) return nullptr;
    auto icon = std::make_unique<TAdvancedIcon>();
    icon->LoadFromResource(*module_, groups_[std::size_t(position)]);
    return icon;
}

// ---------------------------------------------------------------------------------------
// Counting and the image scan

namespace {

int CountIconGroups(const std::shared_ptr<const std::vector<std::uint8_t>>& file) {
    const std::span<const std::uint8_t> bytes(*file);
    if (TPeResources::IsPeImage(bytes)) {
        const TPeResources module(file);
        return module.Valid() ? int(module.Count(kRtGroupIcon)) : 0;
    }
    if (const int groups = NeIconGroupCount(bytes)) return groups;
    // An icon file counts as one icon.
    if (bytes.size() >= 6 && ReadLe16(bytes, 0) == 0 && ReadLe16(bytes, 2) == 1 && ReadLe16(bytes, 4) > 0) return 1;
    return 0;
}

}  // namespace

int CountIconGroups(std::span<const std::uint8_t> bytes) {
    return CountIconGroups(std::make_shared<const std::vector<std::uint8_t>>(bytes.begin(), bytes.end()));
}

void ScanForIconImages(std::span<const std::uint8_t> b, TIconList& icons) {
    if (b.size() <= 500) return;
    const std::size_t end = b.size() - 500;
    std::size_t at = 0;
    while (at < end) {
        // Cheapest test first: most offsets fail on biSize.
        if (b[at] != 40 || ReadLe32(b, at) != 40) {
            ++at;
            continue;
        }
        const std::uint32_t width = ReadLe32(b, at + 4);
        const std::uint32_t height = ReadLe32(b, at + 8);
        const std::uint16_t planes = ReadLe16(b, at + 12);
        const std::uint16_t bits = ReadLe16(b, at + 14);
        const std::uint32_t compression = ReadLe32(b, at + 16);
        const std::uint32_t sizeImage = ReadLe32(b, at + 20);
        const std::uint32_t clrUsed = ReadLe32(b, at + 32);
        const std::uint32_t clrImportant = ReadLe32(b, at + 36);
        const bool sizeOk = width == 16 || width == 24 || width == 32 || width == 48 || width == 64 || width == 128;
        const bool bitsOk = bits == 1 || bits == 4 || bits == 8 || bits == 24 || bits == 32;
        if (!sizeOk || height != 2 * width || planes != 1 || !bitsOk || compression != 0 ||
            sizeImage >= b.size() - at || clrImportant > clrUsed) {
            ++at;
            continue;
        }
        const std::size_t size = PaddedRowSize(width, bits) * width + PaddedRowSize(width, 1) * width + 40 +
                                 (bits <= 8 ? std::size_t(4) << bits : 0);
        if (Fits(b.size(), at, size)) {
            try {
                TIconHeader header;
                header.Width = header.Height = std::uint8_t(width);
                header.ColorCount = std::uint8_t(clrUsed);
                header.Planes = 1;
                header.BitCount = bits;
                header.BytesInRes = std::uint32_t(size);
                auto icon = std::make_unique<TAdvancedIcon>();
                icon->Images().Add(
                    TFileIconImage::CreateFromData(header, std::vector<std::uint8_t>(b.begin() + std::ptrdiff_t(at),
                                                                                     b.begin() + std::ptrdiff_t(at + size))));
                icons.AddIcon("", std::move(icon));
            } catch (const Error&) {
                // Not an image after all; the walk goes on past it.
            }
        }
        at += size;
    }
}

// ---------------------------------------------------------------------------------------
// TIconLibrary

bool TIconLibrary::Open(const std::filesystem::path& path) { return OpenBytes(ReadWholeFile(path), path, false); }

bool TIconLibrary::OpenFromBytes(std::vector<std::uint8_t> bytes, const std::filesystem::path& name) {
    return OpenBytes(std::move(bytes), name, false);
}

bool TIconLibrary::OpenNames(const std::filesystem::path& path) { return OpenBytes(ReadWholeFile(path), path, true); }

bool TIconLibrary::OpenNamesFromBytes(std::vector<std::uint8_t> bytes, const std::filesystem::path& name) {
    return OpenBytes(std::move(bytes), name, true);
}

bool TIconLibrary::OpenBytes(std::vector<std::uint8_t> bytesIn, const std::filesystem::path& name, bool lazy) {
    fileName_ = name;
    icons_.Clear();
    reader_.reset();
    isExecutable_ = is32Bit_ = false;
    bool result = false;
    auto bytes = std::make_shared<const std::vector<std::uint8_t>>(std::move(bytesIn));
    const std::span<const std::uint8_t> b(*bytes);

    // Only the low 16 bits of the header offset are looked at.
    if (b.size() >= 2 && b[0] == 'M' && b[1] == 'Z') {
        const std::uint16_t header = ReadLe16(b, 0x3C);
        if (Fits(b.size(), header, 2) && b[header] == 'P' && b[header + 1] == 'E') isExecutable_ = is32Bit_ = true;
        else if (Fits(b.size(), header, 2) && b[header] == 'N' && b[header + 1] == 'E') isExecutable_ = true;
    }
    iconCount_ = CountIconGroups(bytes);

    if (isExecutable_ && iconCount_ > 0) {
        std::unique_ptr<TICLReader> reader;
        if (is32Bit_) reader = std::make_unique<T32BitReader>(name, bytes);
        else reader = std::make_unique<T16BitReader>(name, *bytes);
        if (lazy ? reader->LoadNames() : reader->Load()) {
            icons_.TakeAll(reader->Names());
            result = true;
        }
        if (lazy) reader_ = std::move(reader);
        // Images found by the scan are read at once; the reader is asked only for its groups.
        if (icons_.Count() < iconCount_) ScanForIconImages(b, icons_);
    }
    return result;
}

TAdvancedIcon* TIconLibrary::GetIcon(int position) {
    if (position < 0 || position >= icons_.Count()) return nullptr;
    if (!icons_.Icon(position) && reader_) icons_.SetIcon(position, reader_->LoadIcon(position));
    return icons_.Icon(position);
}

// ---------------------------------------------------------------------------------------
// ExtractIconResource

void ExtractIconResource(const std::filesystem::path& path, int index, const std::filesystem::path& destination) {
    std::error_code error;
    if (!std::filesystem::exists(path, error)) throw Error("File \"" + PathText(path) + "\" is not found");
    if (IcoExtension(path)) {
        WriteWholeFile(destination, ReadWholeFile(path));
        return;
    }
    // Only the group asked for is read, so that a damaged group elsewhere in the file does
    // not keep this one from being extracted.
    TIconLibrary library;
    library.OpenNames(path);
    int position = index;
    if (index < 0) {
        position = library.Icons().IndexOf(std::to_string(-std::int64_t(index)));
        if (position < 0)
            throw Error("Can not get icon index from resource id \"" + std::to_string(index) + "\" in file " +
                        PathText(path));
    }
    if (position < library.GetCount()) {
        TAdvancedIcon* icon = library.GetIcon(position);
        if (!icon) throw Error("No images in icon");
        icon->SaveToFile(destination);
    }
}

}  // namespace vantrel
