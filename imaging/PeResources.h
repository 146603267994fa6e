// Resources of a 32- or 64-bit Windows executable (PE), read from the file's bytes the way
// the platform's resource functions see them when the file is mapped as a data file. Every
// offset and count in the file is checked against the file: a damaged directory yields no
// resources or a clear failure, never a read outside the bytes.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "imaging/Error.h"

namespace vantrel {

constexpr std::uint16_t kRtIcon = 3;
constexpr std::uint16_t kRtGroupIcon = 14;

// A resource type or name: an integer id or a string.
struct TResName {
    bool IsId = true;
    std::uint16_t Id = 0;
    std::u16string Name;

    static TResName FromId(std::uint16_t id) { return TResName{true, id, {}}; }
    static TResName FromString(std::u16string name) { return TResName{false, 0, std::move(name)}; }
    // The decimal id, or the name as UTF-8.
    std::string Text() const;
    friend bool operator==(const TResName&, const TResName&) = default;
};

// Failure of a resource read (damaged directory, data outside the file).
class EResourceError : public Error {
public:
    using Error::Error;
};

class TPeResources {
public:
    // Reads the headers and locates the resource directory. A file that is no PE image, or
    // whose headers do not fit, gives an object that is not Valid (as LoadLibraryEx would
    // refuse it); a PE image without resources is valid and empty.
    explicit TPeResources(std::shared_ptr<const std::vector<std::uint8_t>> bytes);
    explicit TPeResources(std::vector<std::uint8_t> bytes)
        : TPeResources(std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes))) {}

    bool Valid() const { return valid_; }

    // The resource names of a type in the order the platform enumerates them: directory order,
    // which a sound file keeps as named entries first, then ids ascending. Empty when the
    // type is absent. Fails with EResourceError when the type's directory or a name string
    // lies outside the file.
    std::vector<TResName> Names(std::uint16_t type) const;
    // The number of entries the type's directory holds, as the platform counts icon groups;
    // 0 when the type is absent or its directory does not fit the file.
    std::size_t Count(std::uint16_t type) const;
    // The data of a resource (its first language). Nothing when the type or name is absent;
    // EResourceError when its directory or data lies outside the file.
    std::optional<std::span<const std::uint8_t>> Find(std::uint16_t type, const TResName& name) const;

    // True when the bytes begin with "MZ" and the 32-bit header offset at 0x3C leads to a
    // "PE\0\0" signature.
    static bool IsPeImage(std::span<const std::uint8_t> bytes);

private:
    struct Dir {
        std::size_t At = 0;  // offset of the directory in `rsrc_`
        std::size_t Count = 0;
    };
    struct DirEntry {
        std::uint32_t Name = 0;
        std::uint32_t Target = 0;
    };

    // The bytes of `size` at `rva`, or nothing when they are not in the file.
    std::optional<std::span<const std::uint8_t>> RvaBytes(std::uint32_t rva, std::uint32_t size) const;
    std::optional<Dir> ReadDir(std::uint32_t offset) const;
    DirEntry Entry(const Dir& dir, std::size_t i) const;
    bool Matches(std::uint32_t nameField, const TResName& name) const;
    std::optional<Dir> TypeDir(std::uint16_t type) const;
    TResName EntryName(std::uint32_t nameField) const;

    struct Section {
        std::uint32_t VirtualAddress = 0, RawSize = 0, RawOffset = 0;
    };

    std::shared_ptr<const std::vector<std::uint8_t>> file_;
    std::span<const std::uint8_t> bytes_;
    std::vector<Section> sections_;
    std::uint32_t headerSize_ = 0;
    std::span<const std::uint8_t> rsrc_;  // from the resource root to the end of its section
    bool valid_ = false;
};

}  // namespace vantrel
