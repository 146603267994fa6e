#include "imaging/PeResources.h"

#include <algorithm>

#include "imaging/ByteIo.h"
#include "imaging/ResourceText.h"

namespace vantrel {

namespace {

constexpr std::size_t kMaxSections = 96;  // the loader's own limit
constexpr std::uint32_t kSubdirectory = 0x80000000u;
const char* const kDamaged = "The resource directory is damaged";

std::string Hex(std::uint32_t v) {
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    do {
        s.insert(s.begin(), digits[v & 15]);
        v >>= 4;
    } while (v);
    return "0x" + s;
}

}  // namespace

std::string TResName::Text() const { return IsId ? std::to_string(Id) : Utf16ToUtf8(Name); }

bool TPeResources::IsPeImage(std::span<const std::uint8_t> b) {
    if (b.size() < 64 || b[0] != 'M' || b[1] != 'Z') return false;
    const std::uint32_t pe = ReadLe32(b, 0x3C);
    return Fits(b.size(), pe, 4) && b[pe] == 'P' && b[pe + 1] == 'E' && b[pe + 2] == 0 && b[pe + 3] == 0;
}

TPeResources::TPeResources(std::shared_ptr<const std::vector<std::uint8_t>> bytes)
    : file_(std::move(bytes)), bytes_(*file_) {
    const std::span<const std::uint8_t> b(bytes_);
    if (!IsPeImage(b)) return;
    const std::size_t fileHeader = std::size_t(ReadLe32(b, 0x3C)) + 4;
    if (!Fits(b.size(), fileHeader, 20)) return;
    const std::size_t sectionCount = ReadLe16(b, fileHeader + 2);
    const std::size_t optionalSize = ReadLe16(b, fileHeader + 16);
    const std::size_t optional = fileHeader + 20;
    if (sectionCount > kMaxSections || !Fits(b.size(), optional, optionalSize)) return;
    const std::uint16_t magic = ReadLe16(b, optional);
    std::size_t dirCountAt = 0;
    if (magic == 0x10B) dirCountAt = 92;
    else if (magic == 0x20B) dirCountAt = 108;
    else return;
    if (optionalSize < dirCountAt + 4) return;
    headerSize_ = ReadLe32(b, optional + 60);
    const std::size_t sectionTable = optional + optionalSize;
    if (!Fits(b.size(), sectionTable, sectionCount * 40)) return;
    for (std::size_t i = 0; i < sectionCount; ++i) {
        const std::size_t s = sectionTable + 40 * i;
        sections_.push_back({ReadLe32(b, s + 12), ReadLe32(b, s + 16), ReadLe32(b, s + 20)});
    }
    valid_ = true;

    // The resource data directory (index 2); a file without one simply has no resources.
    const std::uint32_t dirCount = ReadLe32(b, optional + dirCountAt);
    const std::size_t resourceDir = optional + dirCountAt + 4 + 2 * 8;
    if (dirCount <= 2 || optionalSize < resourceDir - optional + 8) return;
    const std::uint32_t rva = ReadLe32(b, resourceDir);
    if (rva == 0) return;
    // The directory's own size field is not trusted: the tables may reach to the end of the
    // section that holds the root.
    if (auto root = RvaBytes(rva, 16)) {
        const std::size_t at = std::size_t(root->data() - bytes_.data());
        for (const Section& s : sections_) {
            if (rva >= s.VirtualAddress && rva - s.VirtualAddress < s.RawSize) {
                const auto end = std::size_t(std::min<std::uint64_t>(std::uint64_t(s.RawOffset) + s.RawSize, bytes_.size()));
                rsrc_ = bytes_.subspan(at, end - at);
                return;
            }
        }
        rsrc_ = bytes_.subspan(at, std::min<std::size_t>(headerSize_, bytes_.size()) - at);
    }
}

std::optional<std::span<const std::uint8_t>> TPeResources::RvaBytes(std::uint32_t rva, std::uint32_t size) const {
    for (const Section& s : sections_) {
        if (rva < s.VirtualAddress || rva - s.VirtualAddress >= s.RawSize) continue;
        const std::uint32_t inSection = rva - s.VirtualAddress;
        if (size > s.RawSize - inSection) return std::nullopt;
        const std::size_t at = std::size_t(s.RawOffset) + inSection;
        if (!Fits(bytes_.size(), at, size)) return std::nullopt;
        return bytes_.subspan(at, size);
    }
    // Before the first section the image maps the file's headers as they are.
    if (rva < headerSize_ && Fits(headerSize_, rva, size) && Fits(bytes_.size(), rva, size))
        return bytes_.subspan(rva, size);
    return std::nullopt;
}

std::optional<TPeResources::Dir> TPeResources::ReadDir(std::uint32_t offset) const {
    if (!Fits(rsrc_.size(), offset, 16)) return std::nullopt;
    const std::size_t count = std::size_t(ReadLe16(rsrc_, offset + 12)) + ReadLe16(rsrc_, offset + 14);
    // Every entry must lie inside the resource section: a count the file cannot hold is damage.
    if (!Fits(rsrc_.size(), std::size_t(offset) + 16, count * 8)) return std::nullopt;
    return Dir{offset, count};
}

TPeResources::DirEntry TPeResources::Entry(const Dir& dir, std::size_t i) const {
    const std::size_t at = dir.At + 16 + 8 * i;
    return {ReadLe32(rsrc_, at), ReadLe32(rsrc_, at + 4)};
}

TResName TPeResources::EntryName(std::uint32_t nameField) const {
    if (!(nameField & kSubdirectory)) return TResName::FromId(std::uint16_t(nameField));
    const std::size_t at = nameField & ~kSubdirectory;
    if (!Fits(rsrc_.size(), at, 2)) throw EResourceError(kDamaged);
    const std::size_t length = ReadLe16(rsrc_, at);
    if (!Fits(rsrc_.size(), at + 2, 2 * length)) throw EResourceError(kDamaged);
    std::u16string name(length, u'\0');
    for (std::size_t i = 0; i < length; ++i) name[i] = char16_t(ReadLe16(rsrc_, at + 2 + 2 * i));
    return TResName::FromString(std::move(name));
}

bool TPeResources::Matches(std::uint32_t nameField, const TResName& name) const {
    if (name.IsId) return !(nameField & kSubdirectory) && std::uint16_t(nameField) == name.Id;
    if (!(nameField & kSubdirectory)) return false;
    const std::size_t at = nameField & ~kSubdirectory;
    if (!Fits(rsrc_.size(), at, 2)) return false;
    const std::size_t length = ReadLe16(rsrc_, at);
    if (length != name.Name.size() || !Fits(rsrc_.size(), at + 2, 2 * length)) return false;
    // The platform looks names up without regard to the case of ASCII letters.
    auto upper = [](char16_t c) { return c >= u'a' && c <= u'z' ? char16_t(c - 32) : c; };
    for (std::size_t i = 0; i < length; ++i)
        if (upper(char16_t(ReadLe16(rsrc_, at + 2 + 2 * i))) != upper(name.Name[i])) return false;
    return true;
}

std::optional<TPeResources::Dir> TPeResources::TypeDir(std::uint16_t type) const {
    if (rsrc_.empty()) return std::nullopt;
    const auto root = ReadDir(0);
    if (!root) return std::nullopt;
    for (std::size_t i = 0; i < root->Count; ++i) {
        const DirEntry e = Entry(*root, i);
        if (!Matches(e.Name, TResName::FromId(type))) continue;
        if (!(e.Target & kSubdirectory)) return std::nullopt;
        return ReadDir(e.Target & ~kSubdirectory);
    }
    return std::nullopt;
}

std::vector<TResName> TPeResources::Names(std::uint16_t type) const {
    std::vector<TResName> names;
    if (rsrc_.empty()) return names;
    const auto root = ReadDir(0);
    if (!root) throw EResourceError(kDamaged);
    for (std::size_t i = 0; i < root->Count; ++i) {
        const DirEntry e = Entry(*root, i);
        if (!Matches(e.Name, TResName::FromId(type))) continue;
        const auto dir = (e.Target & kSubdirectory) ? ReadDir(e.Target & ~kSubdirectory) : std::nullopt;
        if (!dir) throw EResourceError(kDamaged);
        names.reserve(dir->Count);
        for (std::size_t n = 0; n < dir->Count; ++n) names.push_back(EntryName(Entry(*dir, n).Name));
        break;
    }
    return names;
}

std::size_t TPeResources::Count(std::uint16_t type) const {
    const auto dir = TypeDir(type);
    return dir ? dir->Count : 0;
}

std::optional<std::span<const std::uint8_t>> TPeResources::Find(std::uint16_t type, const TResName& name) const {
    const auto typeDir = TypeDir(type);
    if (!typeDir) return std::nullopt;
    for (std::size_t i = 0; i < typeDir->Count; ++i) {
        const DirEntry e = Entry(*typeDir, i);
        if (!Matches(e.Name, name)) continue;
        const auto langDir = (e.Target & kSubdirectory) ? ReadDir(e.Target & ~kSubdirectory) : std::nullopt;
        if (!langDir || langDir->Count == 0) throw EResourceError(kDamaged);
        const DirEntry lang = Entry(*langDir, 0);
        if (lang.Target & kSubdirectory || !Fits(rsrc_.size(), lang.Target, 16)) throw EResourceError(kDamaged);
        const std::uint32_t dataRva = ReadLe32(rsrc_, lang.Target);
        const std::uint32_t size = ReadLe32(rsrc_, std::size_t(lang.Target) + 4);
        const auto data = RvaBytes(dataRva, size);
        if (!data)
            throw EResourceError("Resource " + name.Text() + " of type " + std::to_string(type) + " lies outside the file (" +
                                 Hex(dataRva) + ", " + std::to_string(size) + " bytes)");
        return data;
    }
    return std::nullopt;
}

}  // namespace vantrel
