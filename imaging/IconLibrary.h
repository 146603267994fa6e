// Icons of executables, DLLs and icon libraries: every icon group of a file, in the order the
// platform's icon extraction counts them (ExtractIcon index 0, 1, 2 ...), read from the
// file's bytes into TAdvancedIcon objects; and the extraction of one icon location (a file
// and an index, or minus a resource id) to an ICO file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "imaging/IconModel.h"
#include "imaging/PeResources.h"

namespace vantrel {

// Reading a large library takes a while; after each icon group the readers call this hook so
// that the program's window can process pending messages. imaging/ has no window system, so
// the program sets it (an empty hook does nothing).
using TProcessMessagesHook = std::function<void()>;
void SetProcessMessagesHook(TProcessMessagesHook hook);
void ProcessMessages();

// Names of icon groups with the icons they own. An entry's icon may be absent while only the
// names of a file were read.
class TIconList {
public:
    int Count() const { return int(items_.size()); }
    const std::string& Name(int index) const { return items_.at(std::size_t(index)).Name; }
    TAdvancedIcon* Icon(int index) const { return items_.at(std::size_t(index)).Icon.get(); }
    void SetIcon(int index, std::unique_ptr<TAdvancedIcon> icon) { items_.at(std::size_t(index)).Icon = std::move(icon); }
    // Appends the name and icon as they are.
    void Add(std::string name, std::unique_ptr<TAdvancedIcon> icon);
    // Appends an icon (nothing without one); an empty name becomes "Icon <count + 1>".
    void AddIcon(std::string name, std::unique_ptr<TAdvancedIcon> icon);
    void Delete(int index);
    void Clear() { items_.clear(); }
    // The first entry whose name equals `name` exactly, or -1.
    int IndexOf(std::string_view name) const;
    // Moves every entry of `other` to the end of this list.
    void TakeAll(TIconList& other);

private:
    struct Item {
        std::string Name;
        std::unique_ptr<TAdvancedIcon> Icon;
    };
    std::vector<Item> items_;
};

// The reader of one library file.
class TICLReader {
public:
    explicit TICLReader(std::filesystem::path fileName) : fileName_(std::move(fileName)) {}
    virtual ~TICLReader() = default;
    TICLReader(const TICLReader&) = delete;
    TICLReader& operator=(const TICLReader&) = delete;

    const std::filesystem::path& FileName() const { return fileName_; }
    TIconList& Names() { return names_; }

    // Every group's name and icon into Names, processing messages after each group; true when
    // the file could be read as a library of this kind.
    virtual bool Load() = 0;
    // The names only (the icons stay absent).
    virtual bool LoadNames() = 0;
    // After LoadNames: the group at `position` read on its own, so that a damaged group
    // elsewhere in the file does not keep this one from being read. Failures of this group
    // escape as they would from Load.
    virtual std::unique_ptr<TAdvancedIcon> LoadIcon(int position) = 0;

protected:
    TIconList names_;

private:
    std::filesystem::path fileName_;
};

// The reader of 32- and 64-bit executables (PE).
class T32BitReader : public TICLReader {
public:
    explicit T32BitReader(const std::filesystem::path& fileName);
    T32BitReader(std::filesystem::path fileName, std::shared_ptr<const std::vector<std::uint8_t>> bytes);

    bool Load() override;
    bool LoadNames() override;
    std::unique_ptr<TAdvancedIcon> LoadIcon(int position) override;

private:
    // Maps the file's resources once (LoadLibraryEx as a data file); false when they cannot be.
    bool Map();
    bool Enumerate(bool withIcons);

    std::shared_ptr<const std::vector<std::uint8_t>> bytes_;
    std::unique_ptr<TPeResources> module_;
    bool loaded_ = false;
    std::vector<TResName> groups_;
};

// The number of icon groups the platform reports for a file's bytes (ExtractIcon with index
// -1): the RT_GROUP_ICON entries of a PE or NE file, 1 for an ICO file, else 0. A resource
// table that does not fit the file counts no groups.
int CountIconGroups(std::span<const std::uint8_t> bytes);

// Appends to `icons` one single-image icon, named "Icon <n>", for every icon image found by
// walking the bytes for plausible BITMAPINFOHEADERs of square icon sizes.
void ScanForIconImages(std::span<const std::uint8_t> bytes, TIconList& icons);

class TIconLibrary {
public:
    const std::filesystem::path& FileName() const { return fileName_; }
    bool IsExecutable() const { return isExecutable_; }
    bool Is32Bit() const { return is32Bit_; }
    int IconCount() const { return iconCount_; }
    TIconList& Icons() { return icons_; }

    // Reads every icon group of the file; true when the file's reader loaded. Groups that
    // the reader missed are looked for by the image scan. Failures of a group (a missing
    // image resource, an invalid image) escape. A file that cannot be opened fails with the
    // platform's open failure.
    bool Open(const std::filesystem::path& path);
    bool OpenFromBytes(std::vector<std::uint8_t> bytes, const std::filesystem::path& name);
    // The same, but a group's images are read only when GetIcon asks for that group.
    bool OpenNames(const std::filesystem::path& path);
    bool OpenNamesFromBytes(std::vector<std::uint8_t> bytes, const std::filesystem::path& name);

    int GetCount() const { return icons_.Count(); }
    // The group at `position` of Icons (read now when only its name was), or null outside
    // 0 .. GetCount() - 1.
    TAdvancedIcon* GetIcon(int position);

private:
    bool OpenBytes(std::vector<std::uint8_t> bytes, const std::filesystem::path& name, bool lazy);

    std::filesystem::path fileName_;
    bool isExecutable_ = false;
    bool is32Bit_ = false;
    int iconCount_ = 0;
    TIconList icons_;
    std::unique_ptr<TICLReader> reader_;  // kept while groups are read on demand
};

// Writes the icon group that a location names as an ICO file at `destination`: index 0 or
// more is a position among the file's groups, a negative index is minus a group's resource
// id. An ".ico" file is copied as it is. A position beyond the groups writes nothing.
// Fails with "File "<path>" is not found" and "Can not get icon index from resource id
// "<index>" in file <path>".
void ExtractIconResource(const std::filesystem::path& path, int index, const std::filesystem::path& destination);

}  // namespace vantrel
