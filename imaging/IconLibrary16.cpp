#include "imaging/IconLibrary16.h"

#include <algorithm>
#include <cstdio>

#include "imaging/ByteIo.h"
#include "imaging/ResourceText.h"

namespace vantrel {

namespace {

constexpr std::uint16_t kNeIcon = 0x8000 | kRtIcon;
constexpr std::uint16_t kNeGroupIcon = 0x8000 | kRtGroupIcon;
// A larger shift would put resources beyond 4 GiB; no loader accepts that.
constexpr std::uint16_t kMaxAlignShift = 15;

std::string DefaultName(const std::string& baseName, int position) {
    char number[16];
    std::snprintf(number, sizeof number, "%03d", position);
    return baseName + " " + number;
}

TNeNameInfo ReadNameInfo(std::span<const std::uint8_t> b, std::size_t at) {
    return {ReadLe16(b, at), ReadLe16(b, at + 2), ReadLe16(b, at + 4),
            ReadLe16(b, at + 6), ReadLe16(b, at + 8), ReadLe16(b, at + 10)};
}

}  // namespace

T16BitReader::T16BitReader(const std::filesystem::path& path) : T16BitReader(path, ReadWholeFile(path)) {}

T16BitReader::T16BitReader(std::filesystem::path path, std::vector<std::uint8_t> bytes)
    : TICLReader(std::move(path)), bytes_(std::move(bytes)) {
    const std::u8string stem = FileName().stem().u8string();
    baseName_.assign(stem.begin(), stem.end());
}

void T16BitReader::ReadTables() {
    names_.Clear();
    iconTable_.clear();
    groupTable_.clear();
    tablesRead_ = false;
    const std::span<const std::uint8_t> b(bytes_);

    if (b.size() < 2 || b[0] != 'M' || b[1] != 'Z') throw EICLReadError("Not a valid ICL File");
    neOffset_ = ReadLe16(b, 60);
    if (neOffset_ < 60) throw EICLReadError("Invalid Windows 16 Offset");
    if (!Fits(b.size(), neOffset_, 2) || b[neOffset_] != 'N' || b[neOffset_ + 1] != 'E')
        throw EICLReadError("Invalid Windows 16 Header");
    const std::uint16_t resourceTable = ReadLe16(b, std::size_t(neOffset_) + 0x24);
    if (resourceTable == 0) throw EICLReadError("No Resources in file");
    resourceTableOffset_ = std::uint32_t(resourceTable) + neOffset_;
    const std::uint16_t namesTable = ReadLe16(b, std::size_t(neOffset_) + 0x26);
    if (namesTable == 0) throw EICLReadError("Names Table not found");
    namesTableOffset_ = std::uint32_t(namesTable) + neOffset_;

    const char* const tableError = "ResourceTable has an Error";
    std::size_t p = resourceTableOffset_;
    if (!Fits(b.size(), p, 2)) throw EICLReadError(tableError);
    alignShift_ = ReadLe16(b, p);
    if (alignShift_ > kMaxAlignShift) throw EICLReadError(tableError);
    p += 2;
    // Each type block takes at least 8 bytes of the file, so the walk ends at its end.
    bool haveIcons = false, haveGroups = false;
    while (Fits(b.size(), p, 2) && ReadLe16(b, p) != 0) {
        if (!Fits(b.size(), p, 8)) throw EICLReadError(tableError);
        const std::uint16_t type = ReadLe16(b, p);
        const std::size_t count = ReadLe16(b, p + 2);
        p += 8;
        if (!Fits(b.size(), p, count * 12)) throw EICLReadError(tableError);
        // The first block of a type is the one the platform finds.
        std::vector<TNeNameInfo>* table = nullptr;
        if (type == kNeIcon && !haveIcons) table = &iconTable_, haveIcons = true;
        else if (type == kNeGroupIcon && !haveGroups) table = &groupTable_, haveGroups = true;
        if (table) {
            table->reserve(count);
            for (std::size_t i = 0; i < count; ++i) table->push_back(ReadNameInfo(b, p + 12 * i));
        }
        p += count * 12;
    }
    if (!haveIcons || !haveGroups) throw EICLReadError(tableError);

    // The resource names follow the type list's terminating zero word: length-prefixed
    // ANSI strings up to a zero length. A library's first one is "ICL", then the icons'.
    p += 2;
    std::vector<std::string> found;
    while (Fits(b.size(), p, 1) && b[p] != 0) {
        const std::size_t length = b[p];
        if (!Fits(b.size(), p + 1, length)) break;
        std::string name(reinterpret_cast<const char*>(b.data() + p + 1), length);
        p += 1 + length;
        if (found.empty() && name == "ICL") continue;
        found.push_back(Ansi1252ToUtf8(name));
    }
    const bool named = found.size() == groupTable_.size();
    for (std::size_t i = 0; i < groupTable_.size(); ++i)
        names_.Add(named ? found[i] : DefaultName(baseName_, int(i) + 1), nullptr);
    tablesRead_ = true;
}

std::span<const std::uint8_t> T16BitReader::ResourceBytes(const TNeNameInfo& info) const {
    const std::uint64_t offset = std::uint64_t(info.Offset) << alignShift_;
    const std::uint64_t length = std::uint64_t(info.Length) << alignShift_;
    if (length == 0 || offset >= bytes_.size()) throw EICLReadError("Resource lies outside the file");
    // The last resource's length may be rounded up to the alignment beyond the file's end.
    return std::span<const std::uint8_t>(bytes_).subspan(std::size_t(offset),
                                                         std::size_t(std::min<std::uint64_t>(length, bytes_.size() - offset)));
}

std::unique_ptr<TICL16Icon> T16BitReader::ReadGroup(int index) const {
    auto icon = std::make_unique<TICL16Icon>();
    icon->Name = DefaultName(baseName_, index + 1);
    std::span<const std::uint8_t> group;
    try {
        group = ResourceBytes(groupTable_.at(std::size_t(index)));
    } catch (const EICLReadError&) {
        return icon;
    }
    TMemoryStream stream(group);
    std::uint16_t count = 0;
    if (!icon->ReadIconHeader(stream, count)) return icon;
    try {
        for (std::uint16_t i = 0; i < count; ++i) {
            std::uint8_t entry[14];
            // A directory claiming more entries than the group holds ends with its data.
            if (!stream.ReadExact(entry, sizeof entry)) break;
            const std::uint16_t id = ReadLe16(entry, 12) | 0x8000;
            const auto found = std::find_if(iconTable_.begin(), iconTable_.end(),
                                            [id](const TNeNameInfo& info) { return info.Id == id; });
            if (found == iconTable_.end()) throw EICLReadError("Icon Resource Not Found");
            const std::span<const std::uint8_t> data = ResourceBytes(*found);
            icon->Images().Add(std::make_unique<TICL16IconImage>(TIconHeader::FromBytes(entry),
                                                                 std::vector<std::uint8_t>(data.begin(), data.end())));
        }
    } catch (const EICLReadError&) {
        // The group keeps the images read before the one that is missing.
    }
    return icon;
}

bool T16BitReader::LoadNames() {
    try {
        ReadTables();
        return true;
    } catch (const std::exception&) {
        names_.Clear();
        return false;
    }
}

bool T16BitReader::Load() {
    try {
        ReadTables();
        for (int i = 0; i < names_.Count(); ++i) {
            names_.SetIcon(i, ReadGroup(i));
            ProcessMessages();
        }
        return true;
    } catch (const std::exception&) {
        names_.Clear();
        return false;
    }
}

std::unique_ptr<TAdvancedIcon> T16BitReader::LoadIcon(int position) {
    if (!tablesRead_) ReadTables();
    if (position < 0 || std::size_t(position) >= groupTable_.size()) return nullptr;
    return ReadGroup(position);
}

int NeIconGroupCount(std::span<const std::uint8_t> b) {
    if (b.size() < 64 || b[0] != 'M' || b[1] != 'Z') return 0;
    const std::uint32_t ne = ReadLe32(b, 0x3C);
    if (!Fits(b.size(), ne, 0x28) || b[ne] != 'N' || b[ne + 1] != 'E') return 0;
    std::size_t p = std::size_t(ne) + ReadLe16(b, std::size_t(ne) + 0x24) + 2;
    while (Fits(b.size(), p, 8) && ReadLe16(b, p) != 0) {
        const std::size_t count = ReadLe16(b, p + 2);
        if (!Fits(b.size(), p + 8, count * 12)) return 0;
        if (ReadLe16(b, p) == kNeGroupIcon) return int(count);
        p += 8 + count * 12;
    }
    return 0;
}

std::int64_t FindIconNamesOffset(std::span<const std::uint8_t> b) {
    static constexpr std::uint8_t kMarker[4] = {3, 'I', 'C', 'L'};
    const auto at = std::search(b.begin(), b.end(), std::begin(kMarker), std::end(kMarker));
    return at == b.end() ? -1 : std::int64_t(at - b.begin()) + 4;
}

std::int64_t FindIconNamesOffset(const std::filesystem::path& path) {
    try {
        return FindIconNamesOffset(ReadWholeFile(path));
    } catch (const Error&) {
        return -1;
    }
}

void ReadLibraryIconNames(std::span<const std::uint8_t> b, std::vector<std::string>& names, int count) {
    names.clear();
    const std::int64_t start = FindIconNamesOffset(b);
    if (start < 0) return;
    std::size_t p = std::size_t(start);
    for (int i = 0; i < count && p < b.size(); ++i) {
        const std::size_t length = b[p++];
        if (!Fits(b.size(), p, length)) break;
        names.push_back(Ansi1252ToUtf8(std::string_view(reinterpret_cast<const char*>(b.data() + p), length)));
        p += length;
    }
}

void ReadLibraryIconNames(const std::filesystem::path& path, std::vector<std::string>& names, int count) {
    names.clear();
    std::vector<std::uint8_t> bytes;
    try {
        bytes = ReadWholeFile(path);
    } catch (const Error&) {
        return;
    }
    ReadLibraryIconNames(bytes, names, count);
}

}  // namespace vantrel
