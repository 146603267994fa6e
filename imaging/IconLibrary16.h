// 16-bit icon libraries (NE files, the classic ".icl" layout): the reader of their icon
// groups and of the icon names that follow the "ICL" entry of the resource name table.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "imaging/Error.h"
#include "imaging/IconLibrary.h"

namespace vantrel {

class EICLReadError : public Error {
public:
    using Error::Error;
};

// An icon of a 16-bit library, with its name.
class TICL16Icon : public TAdvancedIcon {
public:
    std::string Name;
};

// One NAMEINFO record of an NE resource table.
struct TNeNameInfo {
    std::uint16_t Offset = 0;  // in alignment units
    std::uint16_t Length = 0;  // in alignment units
    std::uint16_t Flags = 0;
    std::uint16_t Id = 0;      // high bit set for an integer id
    std::uint16_t Handle = 0;
    std::uint16_t Usage = 0;
};

class T16BitReader : public TICLReader {
public:
    // Opens the library (its whole content is read; failures are the platform's open failure).
    explicit T16BitReader(const std::filesystem::path& path);
    T16BitReader(std::filesystem::path path, std::vector<std::uint8_t> bytes);

    // Every failure of the header or the resource table ends in false with no groups.
    bool Load() override;
    bool LoadNames() override;
    std::unique_ptr<TAdvancedIcon> LoadIcon(int position) override;

    // Reads the header and the resource table and fills Names with the icon names (steps
    // shared by Load and LoadNames). Fails with EICLReadError.
    void ReadTables();

    std::uint16_t AlignShift() const { return alignShift_; }
    std::uint16_t NeOffset() const { return neOffset_; }
    std::uint32_t ResourceTableOffset() const { return resourceTableOffset_; }
    std::uint32_t NamesTableOffset() const { return namesTableOffset_; }
    std::uint16_t IconResourceCount() const { return std::uint16_t(iconTable_.size()); }
    std::uint16_t GroupCount() const { return std::uint16_t(groupTable_.size()); }
    const std::string& BaseName() const { return baseName_; }

private:
    // Group i; a group whose data cannot be read or whose header is invalid has no images,
    // and one referring to a missing icon keeps the images read before it.
    std::unique_ptr<TICL16Icon> ReadGroup(int index) const;
    // The bytes of a resource (offset and length shifted by the alignment), cut at the end
    // of the file; empty when it starts beyond it.
    std::span<const std::uint8_t> ResourceBytes(const TNeNameInfo& info) const;

    std::vector<std::uint8_t> bytes_;
    std::uint16_t alignShift_ = 0;
    std::uint16_t neOffset_ = 0;
    std::uint32_t resourceTableOffset_ = 0;
    std::uint32_t namesTableOffset_ = 0;
    std::string baseName_;
    std::vector<TNeNameInfo> iconTable_;
    std::vector<TNeNameInfo> groupTable_;
    bool tablesRead_ = false;
};

// The number of RT_GROUP_ICON resources of an NE file's bytes, as the platform counts them;
// 0 when the resource table does not fit the file.
int NeIconGroupCount(std::span<const std::uint8_t> bytes);

// The offset just after the first 03 "ICL" in the bytes (where the icon names start), or -1.
std::int64_t FindIconNamesOffset(std::span<const std::uint8_t> bytes);
std::int64_t FindIconNamesOffset(const std::filesystem::path& path);

// Replaces `names` with `count` length-prefixed names read from the first icon name on (an
// empty name for each zero length); empty without an "ICL" entry. Reading stops at the end
// of the file, so fewer names may come back.
void ReadLibraryIconNames(std::span<const std::uint8_t> bytes, std::vector<std::string>& names, int count);
void ReadLibraryIconNames(const std::filesystem::path& path, std::vector<std::string>& names, int count);

}  // namespace vantrel
